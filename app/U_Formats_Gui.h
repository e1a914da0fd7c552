// The formats dialog: what one list entry becomes (profile, codecs, size, sound), which
// outputs are made, the player skin with its preview, its options and background colour.
// Its rules live in U_Formats.h; this window shows them and forwards what the user does.
#pragma once

#include "SkinForm.h"
#include "U_Formats.h"

#include <optional>

class TShockwaveFlashEx;
class TSkinPreviewJob;
class TSkBmpButton;
class TSkCheckBox;
class TSkColorEdit;
class TSkComboBox;
class TSkListView;
class TSkPageControl;
class TSkRadioButton;
class TSkSpinEdit;
class TSkTabSheet;

// Shows the dialog modally for the entry: the entry with the user's choices after OK, nothing
// when the dialog was closed or there were no profiles to choose from.
std::optional<TFileOption> EditFormats(const TFileOption& Entry, const TFormatsWorld& World,
                                       QWidget* Parent = nullptr);

class TFormatsfrm : public TSkinForm {
  Q_OBJECT

 public:
  TFormatsfrm(const TFileOption& Entry, const TFormatsWorld& World, QWidget* Parent = nullptr);

  const TFileOption& Entry() const { return FEntry; }
  bool Written() const { return FWritten; }
  TSkinPreviewJob* PreviewJob() const { return FPreviewJob; }
  // Information boxes; tests answer them without a screen.
  std::function<void(const QString& Text)> ShowInformation;

  void accept() override;

  TSkPageControl* pageFormats;
  TSkTabSheet *tsprofiles, *tsforamt, *tsplayerskin;
  TSkComboBox *cbbFormat, *cbbVideoEncoder, *cbbVideoBitRate, *cbbFrameRate, *cbbAudioEncoder,
      *cbbChannels, *cbbSampleRate, *cbbAudioBitRate, *cbbExt;
  TSkSpinEdit *edtWidth, *edtHeight, *edtVolume;
  TSkCheckBox *chkVideo, *chkAudio, *chkgenerateflv, *chkgenerateswf, *chkGeneratehtml,
      *chkGeneratethumbnail, *chkautohide, *chkshowbigbutton, *chkAutoRewind, *chkAutoPlay,
      *chkFormatDefault;
  TSkRadioButton *rbembed, *rbCreated;
  TShockwaveFlashEx* SWF;
  TSkListView* lvSkin;
  TSkColorEdit* BgColorbox;
  TSkBmpButton *btnBack, *btnNext;

 protected:
  void showEvent(QShowEvent* Event) override;
  bool eventFilter(QObject* Watched, QEvent* Event) override;

 private:
  void BuildProfilesPage();
  void BuildOutputPage();
  void BuildSkinPage();
  TSkComboBox* AddBox(QWidget* Parent, const QString& Caption, int Top, TFormatBox Box);

  void LoadProfiles();
  void LoadEntry();
  void FillSkins();
  void ShowSelection(const TFormatSelection& Selection);
  TFormatSelection Selection() const;
  void ShowOutputs();
  void ReadOutputs();
  void SetAudioEnabled(bool Enabled);
  void ProfileChosen();
  // The output choices follow the video encoder, however it was chosen.
  void ApplyEncoderRule();
  void SizeTyped(bool Width);
  // A volume past its range is said, and the box gets the focus back: false then.
  bool VolumeInRange();
  void BoxChanged();
  void MovePage(int Step);
  QSize PreviewStage() const;
  void UpdatePreview();
  int SelectedSkin() const;
  TOutputContext Context() const;
  TFormatsChoice Choice() const;

  void PreviewBuilt(const QString& Movie, const QString& Error);

  TSkinPreviewJob* FPreviewJob;
  TFileOption FEntry;
  TFormatsWorld FWorld;
  TFormatLists FLists;
  TOutputChoices FOutputs;
  QStringList FSkinPictures;
  QSize FPreviewStage;  // of the preview last built
  std::array<TSkComboBox*, fbCount> FBoxes{};
  QList<QWidget*> FAudioControls;
  bool FUpdating = false;
  bool FWritten = false;
};
