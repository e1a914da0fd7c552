// The edit window: one list entry's crop, watermark, effects, flips and deinterlacing, chosen
// while the entry plays, with the input picture on the left and what the conversion will make
// of it on the right. The window is a view: the geometry, the picture pipeline and what OK
// writes live in the core (U_Edit.h).
#pragma once

#include "PictureShape.h"
#include "SkinForm.h"
#include "U_Edit.h"

#include "FFPlayer.h"

#include <QColor>
#include <QFont>
#include <QImage>

#include <memory>
#include <mutex>
#include <optional>

class QLabel;
class QSlider;
class QToolButton;
class TAreaEditor;
class TPlayerScreen;
class TPreviewSeekBar;
class TSkBmpButton;
class TSkCheckBox;
class TSkCustomEdit;
class TSkPageControl;
class TSkRadioButton;
class TSkSpinEdit;
class TVelTrackbar;

// The output preview's drawing area, which the formats dialog shows its sizes against.
extern TIntRect EditPreviewArea;

// A scaled copy of the picture, Rect's size, in the user's private scratch folder; empty (and
// logged) when it cannot be written.
QString SaveWaterMark(const QString& PictureFile, const TIntRect& Rect);

// Shows the edit window for the entry, playing it in the player, which must outlive the
// call. True when the user pressed OK and the entry was changed.
bool EditFileOption(TFileOption& Entry, TCustomPlayer& Player, QWidget* Parent);
// Asks for a text mark's font and colour; false when the user cancels.
bool ChooseFontAndColor(QFont& Font, QColor& Color, QWidget* Parent);

// A picture drawn stretched into a rectangle on a plain background.
class TEditPicture : public QWidget {
 public:
  TEditPicture(QColor Background, QWidget* Parent);
  void SetPicture(const QImage& Picture, const QRect& Target);
  const QImage& Picture() const { return FPicture; }

 protected:
  void paintEvent(QPaintEvent* Event) override;

 private:
  QColor FBackground;
  QImage FPicture;
  QRect FTarget;
};

class TEditfrm : public TSkinForm {
  Q_OBJECT

 public:
  TEditfrm(TFileOption& Entry, TCustomPlayer& Player, QWidget* Parent = nullptr);
  ~TEditfrm() override;

  // Ticks the page control's page (0 crop, 1 watermark, 2 effect).
  void ShowPage(int Index);
  // What the window would write on OK.
  TEditChoices Choices() const;
  // The last pictures of the two previews, before they are stretched into place.
  QImage InputPreview() const;
  QImage OutputPreview() const;
  // The time of the frame the output preview shows, µs from the input's start.
  int64_t OutputPreviewTime() const { return FOutputTime; }
  TAreaEditor* CropArea() const { return ardtr1; }
  TAreaEditor* WatermarkArea() const { return ardtr2; }
  QSlider* BrightnessBar() const { return trckBrightness; }
  // Places a picture watermark from the file, as choosing it in the open dialog does.
  void ChoosePicture(const QString& File);

  void done(int Result) override;

 signals:
  // From the threads that render the previews.
  void PicturesArrived();

 protected:
  void showEvent(QShowEvent* Event) override;

 private:
  void HandOver(std::optional<TPreviewPicture>& Slot, const TPreviewPicture& Picture);
  void ShowNewPictures();
  void BuildPreviews();
  void BuildControlStrip();
  void BuildPages();
  void BuildCropPage(QWidget* Page);
  void BuildWatermarkPage(QWidget* Page);
  void BuildEffectPage(QWidget* Page);
  void TakePlayerEvents();
  void StartPlaying();
  void Relayout();
  void LoadWatermarkFromEntry();
  void LoadCropFromEntry();
  void LoadEffectsFromEntry();

  void CropAreaMoved();
  void CropBoxChanged(TSkSpinEdit* Box);
  // The crop (picture pixels) and its area over the input preview.
  void SetCropRect(const TIntRect& Crop, const TSkSpinEdit* Typing = nullptr);
  void ResetCrop();
  // Every crop box but the one being typed into.
  void ShowCropInBoxes(const TSkSpinEdit* Typing = nullptr);
  TIntRect CropOfPreview(const TIntRect& Area) const;
  void UpdateLook();

  void WatermarkSwitched();
  // Loads the picture and places it at Place (output pixels, no larger than the output).
  void PlacePicture(const QString& File, const TIntRect& Place);
  void OpenPicture();
  void TextChanged();
  void SetWatermarkColor(const QColor& Color);
  void SetWatermarkFont(const QFont& Font);
  void OpenFont();
  void WatermarkAreaMoved();
  void RecomputeWatermark();
  // Where the area over the output preview stands for a mark in output pixels.
  TIntRect WatermarkAreaOf(const TIntRect& Mark) const;
  // The bars and boxes show the mark; the box being typed into is left as it is.
  void ShowWatermarkRect(const TSkSpinEdit* Typing = nullptr);
  void WatermarkBoxTyped(TSkSpinEdit* Box);
  void UpdateWatermarkArea();
  bool WatermarkEnabled() const;

  void ResetEffects();
  void Play();
  void PauseOrStop(bool Stop);
  bool Playing() const;
  void CloseWindow();
  void ApplyToEntry();

  TFileOption& FEntry;
  TCustomPlayer& FPlayer;
  std::unique_ptr<TPlayerScreen> FScreen;
  std::mutex FPictureLock;
  std::optional<TPreviewPicture> FNewInput, FNewOutput;
  int64_t FOutputTime = 0;
  TEditPreview FPreview;
  bool PlayerAttached = false;
  bool Closed = false;
  bool LaidOut = false;

  bool CropActive = false;
  // The smallest crop that can be dragged, in picture pixels; typing keeps to it too.
  TIntRect SmallestCrop;
  TIntRect CropPreviewRect, CropSourceRect, InputFitRect, WatermarkSourceRect, WatermarkPreviewRect,
      SourceRect, OutputRect, InputBoxRect, OutputBoxRect;
  TPictureShape SourceShape;
  TIntRect ShownSourceRect;  // SourceRect in the shape the picture is shown in
  bool Dragging = false;
  bool Suppress = false;
  bool FlipVertical = false, FlipHorizontal = false;
  bool PictureLoaded = false;
  QImage WatermarkPicture;
  QFont WatermarkFont;
  QColor WatermarkColor = Qt::white;

  TEditPicture *imgVideo1, *imgVideo2;
  TAreaEditor *ardtr1, *ardtr2;
  QLabel *imgWatemark, *lblWatemark;
  QWidget* PanelVideo;
  QSlider* TrckAudio;
  TVelTrackbar* TrckVideo;
  TPreviewSeekBar* FSeekBar;
  QToolButton *btnPlay, *btnPause, *btnStop, *btnHor, *btnVer;
  TSkPageControl* pgEdit;
  TSkSpinEdit *edtleft, *edttop, *edtwidth, *edtheight;
  TSkBmpButton* btnCropReset;
  TSkCheckBox* chkStartup;
  TSkRadioButton *rbimage, *rbText;
  TSkCustomEdit *edtImage, *edtText;
  TSkBmpButton *btnopenPic, *btnopenFont;
  TSkSpinEdit *ImageW, *ImageH, *edtWaterH, *edtWaterV;
  QLabel *lblImageSize, *lblImageX;
  QSlider *TrckWatermarkH, *TrckwatermarkV;
  QSlider *trckBrightness, *trckContrast, *trckSaturation;
  QLabel *lblBrightness, *lblContrast, *lblSaturation;
  TSkBmpButton* btnEffectReset;
  TSkCheckBox* chkdeinterlace;
};
