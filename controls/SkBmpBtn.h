// The bitmap button: a push button drawn entirely from state bitmaps (up, up and focused,
// disabled, down, stay-down, hot) with a key colour, an optional caption beside or over the
// picture, and grouping so that one button of a group stays down.
#pragma once

#include "SkCommon.h"

#include <QImage>
#include <QWidget>

#include <functional>

enum TButtonBorder { bbNone, bbSingle, bbButton };
enum TBtnSize { bszNeither, bszButtonToBitmap, bszStretchToButton, bszTileToButton };
enum TButtonStyle { bsAutoDetect, bsWin31, bsNew };
enum TButtonLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
// Up, disabled, down, and down for good (a button of a group that stays down).
enum TSkBmpButtonState { bstUp, bstDisabled, bstDown, bstExclusive };

// The six pictures of a bitmap button and their key colour. Each setter copies the picture; any
// change fires OnChange.
class TSkButtonBitmaps {
 public:
  const QImage& Up() const { return FUp; }
  void SetUp(const QImage& Value) { Store(FUp, Value); }
  const QImage& UpAndFocused() const { return FUpAndFocused; }
  void SetUpAndFocused(const QImage& Value) { Store(FUpAndFocused, Value); }
  const QImage& Disabled() const { return FDisabled; }
  void SetDisabled(const QImage& Value) { Store(FDisabled, Value); }
  const QImage& Down() const { return FDown; }
  void SetDown(const QImage& Value) { Store(FDown, Value); }
  const QImage& StayDown() const { return FStayDown; }
  void SetStayDown(const QImage& Value) { Store(FStayDown, Value); }
  const QImage& Hot() const { return FHot; }
  void SetHot(const QImage& Value) { Store(FHot, Value); }
  TColor TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(TColor Value);
  std::function<void()> OnChange;

 private:
  void Store(QImage& Field, const QImage& Value);

  QImage FUp, FUpAndFocused, FDisabled, FDown, FStayDown, FHot;
  TColor FTransparentColor = clOlive;
};

// Everything a bitmap button's picture depends on.
struct TSkBmpButtonPaint {
  const TSkButtonBitmaps* Bitmaps = nullptr;
  TSkBmpButtonState State = bstUp;
  bool Focused = false, MouseInside = false;
  TColor Color = clBtnFace;
  TButtonBorder ButtonBorder = bbNone;
  TButtonStyle ButtonStyle = bsAutoDetect;
  TBtnSize ButtonSize = bszButtonToBitmap;
  TButtonLayout Layout = blGlyphLeft;
  int Margin = -1, Spacing = 4;
  int CaptionDownOffset = 1;
  bool ShowDownPattern = true, ShowFocus = true;
  QString Caption;
  QFont Font;
  TColor FontColor = clBtnText;
};
// The picture the state shows (null when there is none to show).
QImage BmpButtonBitmap(const TSkBmpButtonPaint& Button);
// The disabled look made from a picture: its dark pixels embossed (white one pixel down and
// right, then the button shadow) on the key colour.
QImage EmbossedBitmap(const QImage& Bitmap, TColor TransparentColor);
// Where the glyph's top-left corner and the caption go in Client.
struct TSkButtonLayout {
  QPoint GlyphPos;
  TRect TextBounds;
};
TSkButtonLayout CalcButtonLayout(const TRect& Client, QSize GlyphSize, QSize TextSize,
                                 TButtonLayout Layout, int Margin, int Spacing);
// Border, picture, caption and focus into Bounds.
void PaintBmpButton(QPainter& Canvas, const TRect& Bounds, const TSkBmpButtonPaint& Button);

class TSkBmpButton : public QWidget {
  Q_OBJECT
 public:
  explicit TSkBmpButton(QWidget* Parent = nullptr);

  TSkButtonBitmaps& Bitmaps() { return FBitmaps; }
  const TSkButtonBitmaps& Bitmaps() const { return FBitmaps; }
  bool AllowAllUp() const { return FAllowAllUp; }
  void SetAllowAllUp(bool Value);
  int GroupIndex() const { return FGroupIndex; }
  void SetGroupIndex(int Value);
  bool Down() const { return FDown; }
  // Only a grouped button stays down; a down button of a group without AllowAllUp stays so.
  void SetDown(bool Value);
  QString Caption() const { return FPaint.Caption; }
  void SetCaption(const QString& Value);
  int CaptionDownOffset() const { return FPaint.CaptionDownOffset; }
  void SetCaptionDownOffset(int V) { StoreAndUpdate(*this, FPaint.CaptionDownOffset, V); }
  TColor Color() const { return FPaint.Color; }
  void SetColor(TColor Value) { StoreAndUpdate(*this, FPaint.Color, Value); }
  TColor FontColor() const { return FPaint.FontColor; }
  void SetFontColor(TColor Value) { StoreAndUpdate(*this, FPaint.FontColor, Value); }
  TButtonBorder ButtonBorder() const { return FPaint.ButtonBorder; }
  void SetButtonBorder(TButtonBorder Value);
  TButtonStyle ButtonStyle() const { return FPaint.ButtonStyle; }
  void SetButtonStyle(TButtonStyle Value);
  TBtnSize ButtonSize() const { return FPaint.ButtonSize; }
  void SetButtonSize(TBtnSize Value);
  TButtonLayout Layout() const { return FPaint.Layout; }
  void SetLayout(TButtonLayout Value) { StoreAndUpdate(*this, FPaint.Layout, Value); }
  int Margin() const { return FPaint.Margin; }
  // Values below -1 are refused.
  void SetMargin(int Value);
  int Spacing() const { return FPaint.Spacing; }
  void SetSpacing(int Value) { StoreAndUpdate(*this, FPaint.Spacing, Value); }
  bool ShowDownPattern() const { return FPaint.ShowDownPattern; }
  void SetShowDownPattern(bool V) { StoreAndUpdate(*this, FPaint.ShowDownPattern, V); }
  bool ShowFocus() const { return FPaint.ShowFocus; }
  void SetShowFocus(bool Value) { StoreAndUpdate(*this, FPaint.ShowFocus, Value); }
  // The dialog's result when this button closes it (0 leaves the dialog open).
  int ModalResult = 0;

  TSkBmpButtonState State() const { return FPaint.State; }
  bool MouseInside() const { return FPaint.MouseInside; }
  // Closes a dialog with ModalResult, then fires OnClick.
  virtual void Click();
  std::function<void()> OnClick;
  // A double click on a button that is down.
  std::function<void()> OnDblClick;

  QSize sizeHint() const override;
  TSkBmpButtonPaint PaintSettings() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseMoveEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  void mouseDoubleClickEvent(QMouseEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;
  void keyReleaseEvent(QKeyEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void focusInEvent(QFocusEvent* Event) override;
  void focusOutEvent(QFocusEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  bool event(QEvent* Event) override;

 private:
  // Takes the Up picture's size plus the border when the button follows its bitmap.
  void AdjustBounds();
  void SetState(TSkBmpButtonState Value) { StoreAndUpdate(*this, FPaint.State, Value); }
  // Ends a press: clicks when it ended inside.
  void Release(bool Inside);
  // Releases the other down buttons of the group and hands them AllowAllUp.
  void UpdateExclusive();
  void GroupChanged(const TSkBmpButton& Sender);

  TSkButtonBitmaps FBitmaps;
  TSkBmpButtonPaint FPaint;
  bool FAllowAllUp = false, FDown = false, FPressed = false;
  int FGroupIndex = 0;
  int FMnemonic = 0;
};
