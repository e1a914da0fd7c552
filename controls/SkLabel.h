// Labels: text with the library's composite border, raised, recessed or shadowed looks, rotated
// (flat or along an arc), a hover colour and blinking in step with every other blinking control;
// and the URL label, which opens a web or mail address when clicked.
#pragma once

#include "SkCommon.h"

#include <QUrl>
#include <QWidget>

#include <functional>

enum TRotation { roNone, roFlat, roCurve };
enum TCenterPoint {
  cpUpperLeft,
  cpUpperCenter,
  cpUpperRight,
  cpLeftCenter,
  cpCenter,
  cpRightCenter,
  cpLowerLeft,
  cpLowerCenter,
  cpLowerRight
};
enum TSkCondenseCaption { ccNone, ccAtEnd, ccWithinPath };

// Everything a label's picture depends on.
struct TSkLabelPaint {
  TInnerOuterBorders Borders;  // with the label's Color, its parent's and Transparent
  QString Caption;
  QFont Font;
  TColor TextColor = clWindowText;
  bool Enabled = true;
  TAlignment Alignment = taLeftJustify;
  TTextLayout Layout = tlTop;
  bool WordWrap = false;
  TSkCondenseCaption CondenseCaption = ccNone;
  TRotation Rotation = roNone;
  int Angle = 0;
  TCenterPoint CenterPoint = cpCenter;
  TSkTextStyleColors TextStyle;
  int TextMargin = 0;
};
// Border, background and text into Bounds.
void PaintLabel(QPainter& Canvas, const TRect& Bounds, const TSkLabelPaint& Label);
// The size the label needs: its text (within Width when it wraps) grown by the borders, the
// margins and the shadow; a turned label takes the box of its turned text.
QSize LabelExtent(const TSkLabelPaint& Label, int Width);
// An angle in degrees as stored: 0 .. 359 for any value.
int NormalizeAngle(int Angle);

class TSkLabel : public QWidget, public TSkFrameControlled, public ISkFrameControllerClient {
  Q_OBJECT
  Q_PROPERTY(uint Color READ Color WRITE SetColor)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
 public:
  explicit TSkLabel(QWidget* Parent = nullptr);

  QString Caption() const { return FPaint.Caption; }
  void SetCaption(const QString& Value);
  TAlignment Alignment() const { return FPaint.Alignment; }
  void SetAlignment(TAlignment Value) { StoreAndUpdate(*this, FPaint.Alignment, Value); }
  TTextLayout Layout() const { return FPaint.Layout; }
  void SetLayout(TTextLayout Value) { StoreAndUpdate(*this, FPaint.Layout, Value); }
  bool WordWrap() const { return FPaint.WordWrap; }
  void SetWordWrap(bool Value);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool Value);
  // Stored within 0 .. 359; a turned label that was not rotated becomes flat-rotated.
  int Angle() const { return FPaint.Angle; }
  void SetAngle(int Value);
  TRotation Rotation() const { return FPaint.Rotation; }
  // None and flat start again from angle 0 (flat also from the centre).
  void SetRotation(TRotation Value);
  TCenterPoint CenterPoint() const { return FPaint.CenterPoint; }
  void SetCenterPoint(TCenterPoint Value) { StoreAndUpdate(*this, FPaint.CenterPoint, Value); }
  bool Blinking() const { return FBlink.Blinking(); }
  void SetBlinking(bool Value) { FBlink.SetBlinking(Value); }
  TColor BlinkColor() const { return FBlink.BlinkColor(); }
  void SetBlinkColor(TColor Value) { FBlink.SetBlinkColor(Value); }
  // Shared by every blinking control: the hidden and the shown phase.
  static int BlinkIntervalOff();
  static void SetBlinkIntervalOff(int Value);
  static int BlinkIntervalOn();
  static void SetBlinkIntervalOn(int Value);
  bool FlyByEnabled = false;
  TColor FlyByColor = clHighlight;
  TTextStyle TextStyle() const { return FPaint.TextStyle.TextStyle; }
  void SetTextStyle(TTextStyle Value);
  bool LightTextStyle() const { return FPaint.TextStyle.LightTextStyle; }
  void SetLightTextStyle(bool V) { StoreAndUpdate(*this, FPaint.TextStyle.LightTextStyle, V); }
  TColor HighlightColor() const { return FPaint.TextStyle.HighlightColor; }
  void SetHighlightColor(TColor V) { StoreAndUpdate(*this, FPaint.TextStyle.HighlightColor, V); }
  TColor ShadowColor() const { return FPaint.TextStyle.ShadowColor; }
  void SetShadowColor(TColor V) { StoreAndUpdate(*this, FPaint.TextStyle.ShadowColor, V); }
  int ShadowDepth() const { return FPaint.TextStyle.ShadowDepth; }
  void SetShadowDepth(int Value);
  int TextMargin() const { return FPaint.TextMargin; }
  void SetTextMargin(int Value);
  TSkCondenseCaption CondenseCaption() const { return FPaint.CondenseCaption; }
  void SetCondenseCaption(TSkCondenseCaption V) {
    StoreAndUpdate(*this, FPaint.CondenseCaption, V);
  }
  // The composite border (its colours of the label and the parent and its Transparent are the
  // label's own); any change sizes an auto-sized label again.
  const TInnerOuterBorders& Borders() const { return FPaint.Borders; }
  void SetBorders(const TInnerOuterBorders& Value);
  TColor Color() const;
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value) { StoreAndUpdate(*this, FParentColor, Value); }
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool Value);
  // The text colour at rest; while blinking the blink colour alternates with it.
  TColor FontColor() const { return FFontColor; }
  void SetFontColor(TColor Value);
  TColor TextColor() const { return FBlink.Current(); }

  std::function<void()> OnClick;
  // A press and release inside; fires OnClick.
  virtual void Click();

  QSize sizeHint() const override;
  void UpdateFrame(const TSkFrameController& Controller,
                   TSkFrameControllerProperty Property) override;
  TSkLabelPaint PaintSettings() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void enterEvent(QEnterEvent* Event) override;
  void leaveEvent(QEvent* Event) override;
  void mousePressEvent(QMouseEvent* Event) override;
  void mouseReleaseEvent(QMouseEvent* Event) override;
  // Sizes an auto-sized label to its text and repaints.
  void AdjustBounds();

 private:
  // A turned label needs an outline font.
  void EnsureTurnableFont();

  TSkLabelPaint FPaint;
  TColor FColor = clBtnFace, FFontColor = clWindowText, FFlyByRestore = clWindowText;
  bool FParentColor = true, FTransparent = false, FAutoSize = true, FFlownBy = false,
       FPressed = false;
  TSkBlinkingText FBlink{*this};
};

// A label that opens its URL (or, without one, its caption) when clicked, or from the keyboard
// with Enter or Space once Tab has reached it (it then wears a focus frame). Only web pages
// (http, https) and mail addresses (mailto) are opened: anything else, such as a program's path,
// is refused with a warning, so a label's text can never start a program.
class TSkURLLabel : public TSkLabel {
  Q_OBJECT
 public:
  explicit TSkURLLabel(QWidget* Parent = nullptr);
  QString URL;
  bool Visited() const { return FVisited; }
  void SetVisited(bool Value);
  TColor VisitedColor() const { return FVisitedColor; }
  void SetVisitedColor(TColor Value);
  TColor UnvisitedColor() const { return FUnvisitedColor; }
  void SetUnvisitedColor(TColor Value);
  void Click() override;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void keyPressEvent(QKeyEvent* Event) override;

 private:
  bool FVisited = false;
  TColor FVisitedColor = 0x800080, FUnvisitedColor = clHighlight;
};

// The address a URL label opens for Target, or an empty URL when it must not be opened.
QUrl OpenableUrl(const QString& Target);
