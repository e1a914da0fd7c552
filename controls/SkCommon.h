// What every control of the library shares: colour arithmetic on a 0..240 HSL scale, the
// visual-style switch and colour sets, the platform version tests, the one-pixel border, frame,
// bar and glyph painters, text helpers, the frame controller, the blinking list and a timer that
// tests can drive.
//
// Visual styles are off on Linux: `UseVisualStyles()` is false unless a test turns it on, and
// every themed branch then takes its classic path. Border routines return the rectangle left
// inside what they drew.
#pragma once

#include "SkGrafx.h"

#include <QFont>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// Stores a changed Value in Field and repaints Control, as every setter of the library does.
template <typename T>
void StoreAndUpdate(QWidget& Control, T& Field, T Value) {
  if (Field == Value) return;
  Field = Value;
  Control.update();
}
// Repaints every child of Parent whose "Transparent" property is true.
void InvalidateTransparentControls(QWidget& Parent);

// ---- Colours --------------------------------------------------------------------------------

// Hue, saturation and lightness of a colour, each 0..240.
void ColorToHSL(TColor Color, uint8_t& H, uint8_t& S, uint8_t& L);
// The RGB colour of an HSL triple (hue scaled by 239, saturation and lightness by 240).
TColor HSLToColor(uint8_t H, uint8_t S, uint8_t L);
// Hue of a colour, 0..240.
uint8_t GetHue(TColor Color);
// The colour with its lightness lowered by Amount (not below 0).
TColor DarkerColor(TColor Color, uint8_t Amount);
// The colour with its lightness raised by Amount (up to 255).
TColor LighterColor(TColor Color, uint8_t Amount);
// Darker for a negative Amount, lighter for a positive one, Color itself for 0.
TColor AdjustColor(TColor Color, int Amount);
// Per channel round(Fore * W + Back * (1 - W)), W = Weight / 255.
TColor BlendColors(TColor ForeColor, TColor BackColor, uint8_t Weight);
// Per channel exclusive or.
TColor XorColors(TColor Color1, TColor Color2);
// True when hues differ by less than 20 and lightnesses by less than 60.
bool ColorsTooClose(TColor Color1, TColor Color2);
// Fully saturated colour of the opposite hue at the given lightness.
TColor ComplementaryColor(TColor Color, uint8_t Lightness);

// ---- Visual styles and display ----------------------------------------------------------------

// Whether visual styles are in use (false on Linux; tests may switch it).
bool UseVisualStyles();
void SetUseVisualStyles(bool Active);
// A colour of the visual style by index 0..6 ($FFFFFF for others); clBtnFace when styles are off.
TColor GetXPThemeColor(uint8_t Index);
// The colour scheme of a scheme name: 1 "HOMESTEAD", 2 "METALLIC" (any case), else 0.
uint8_t XPColorSchemeFromName(const QString& Name);
// The running colour scheme (0 blue, 1 olive, 2 silver); there is no scheme setting on Linux.
uint8_t GetXPColorScheme();
// True when the display shows more than 256 colours (always, here).
bool IsHighColorDisplay();

enum TTextStyle { tsNormal, tsRaised, tsRecessed, tsShadow };
enum TSkGradientColorStyle { gcsSystem, gcsMSOffice, gcsCustom };
enum TSkVisualStyle { vsClassic, vsWinXP, vsGradient };

// Gradient colours of panels.
void GetGradientPanelColors(TSkGradientColorStyle ColorStyle, TColor& StartColor,
                            TColor& StopColor);
// Frame colour of gradient panels.
TColor GetGradientPanelFrameColor(TSkGradientColorStyle ColorStyle);
// Colours of group-box banners and status panes.
void GetGradientBarColors(TSkGradientColorStyle ColorStyle, TColor& StartColor, TColor& StopColor,
                          TColor& FrameColor);

// ---- Platform version ---------------------------------------------------------------------------

// Platform id (1 the 9x family, 2 the NT family), major and minor version.
struct TSkWinVersion {
  int Platform = 2, Major = 6, Minor = 1;
};
// The version the tests below are evaluated against (NT 6.1 unless set).
TSkWinVersion RunningWinVersion();
void SetRunningWinVersion(const TSkWinVersion& Version);
// Index 0..7: 95, NT 4, 98, ME, 2000, XP, Server 2003, Vista; others give false.
bool IsWinVersion(int Index, const TSkWinVersion& Version = RunningWinVersion());
bool IsWinVersionOrLater(int Index, const TSkWinVersion& Version = RunningWinVersion());

// ---- Borders and frames
// --------------------------------------------------------------------------

enum TFrameStyleEx {
  fsNone,
  fsFlat,
  fsGroove,
  fsBump,
  fsLowered,
  fsButtonDown,
  fsRaised,
  fsButtonUp,
  fsStatus,
  fsPopup,
  fsFlatBold,
  fsFlatRounded
};
using TFrameStyle = TFrameStyleEx;  // fsNone .. fsFlatBold

enum TSide : unsigned { sdLeft = 1, sdTop = 2, sdRight = 4, sdBottom = 8 };
using TSides = unsigned;  // a set of TSide bits
inline constexpr TSides AllSides = sdLeft | sdTop | sdRight | sdBottom;

// One-pixel sides: left and top in ULColor, right and bottom in LRColor (clNone skips its sides).
TRect DrawSides(QPainter& Canvas, const TRect& Bounds, TColor ULColor, TColor LRColor,
                TSides Sides = AllSides);
// Width rings of DrawSides, each inside the previous one.
TRect DrawBevel(QPainter& Canvas, const TRect& Bounds, TColor ULColor, TColor LRColor, int Width,
                TSides Sides = AllSides);
// A frame style in system colours on the given sides.
TRect DrawBorderSides(QPainter& Canvas, const TRect& Bounds, TFrameStyleEx Style, TSides Sides);
// A frame style in system colours on all sides.
TRect DrawBorder(QPainter& Canvas, const TRect& Bounds, TFrameStyleEx Style);
// A frame style in colours derived from Color on the given sides.
TRect DrawColorBorderSides(QPainter& Canvas, const TRect& Bounds, TColor Color, TFrameStyleEx Style,
                           TSides Sides);
// A frame style in colours derived from Color on all sides.
TRect DrawColorBorder(QPainter& Canvas, const TRect& Bounds, TColor Color, TFrameStyleEx Style);
// A one-pixel outline.
TRect DrawBox(QPainter& Canvas, const TRect& Bounds, TColor Color);
// A dotted black outline (every second pixel).
TRect DrawFocusBorder(QPainter& Canvas, const TRect& Bounds);
// A one-pixel outline whose corners are cut by one pixel.
TRect DrawRoundedFlatBorder(QPainter& Canvas, const TRect& Bounds, TColor Color,
                            TSides Sides = AllSides);

// Settings of the composite border of panels, labels and progress bars.
struct TInnerOuterBorders {
  TFrameStyleEx BorderOuter = fsNone;
  TFrameStyleEx BorderInner = fsNone;
  int BorderWidth = 0;
  TSides BorderSides = AllSides;
  int BevelWidth = 1;
  TColor BorderColor = clBtnFace;
  TColor BorderHighlight = clBtnHighlight;
  TColor BorderShadow = clBtnShadow;
  TColor FlatColor = clBtnShadow;
  int FlatColorAdjustment = 0;
  TColor Color = clBtnFace;
  TColor ParentColor = clBtnFace;
  bool Transparent = false;
  bool CutInnerFlatCorners = false;
};
// Outer border, then BorderWidth rings of BorderColor, then the inner border.
TRect DrawInnerOuterBorders(QPainter& Canvas, const TRect& Bounds, const TInnerOuterBorders& B);
// The frame of an edit-like control of Width by Height, its 2-pixel ring first painted in Color
// unless KeepBackground.
void DrawFrame(QPainter& Canvas, int Width, int Height, TFrameStyle FrameStyle, TColor Color,
               TColor FrameColor, TSides FrameSides, bool KeepBackground);

// ---- Progress bars
// -------------------------------------------------------------------------------

enum TOrientation { orHorizontal, orVertical };

// A bar of segments; NumSegments 0 draws none; Percent is taken within 0..100.
void DrawLEDProgressBar(QPainter& Canvas, const TRect& Rect, TOrientation Orientation,
                        TColor BarColor, TColor BackColor, int NumSegments, int Percent,
                        bool ThemeAware, bool Transparent);

// Text and fill shared by the solid and the gradient percentage bars.
struct TPercentBar {
  TOrientation Orientation = orHorizontal;
  int Percent = 0;  // taken within 0..100
  bool ShowPercent = false;
  bool Transparent = false;
  bool ShowParts = false;
  unsigned PartsComplete = 0, TotalParts = 0;
};
// A solid bar with its text in the back colour over the bar and the bar colour beyond it.
void DrawPercentBar(QPainter& Canvas, const TRect& Rect, const TPercentBar& Bar, TColor BarColor,
                    TColor BackColor);
// The same with gradient fills for the bar and the rest.
void DrawGradientPercentBar(QPainter& Canvas, const TRect& Rect, const TPercentBar& Bar,
                            TColor BarStartColor, TColor BarStopColor, TColor BackStartColor,
                            TColor BackStopColor, TGradientDirection GradientDirection);
// The text of a percentage bar: "n / m" of parts or "n%", empty unless ShowPercent.
QString PercentBarText(const TPercentBar& Bar);
// The part of Rect covered by the bar at its percentage.
TRect PercentBarRect(const TRect& Rect, const TPercentBar& Bar);

// ---- Glyphs
// --------------------------------------------------------------------------------------

enum TSkArrowDirection { adUp, adDown, adLeft, adRight };
enum TSkCheckState { cbUnchecked, cbChecked, cbGrayed };
enum TSkGlyphDrawState { gdsNormal, gdsPressed, gdsHot, gdsDisabled };
enum TSkHotTrackStyle { htsFrame, htsInterior };

// The arrow colour: clBtnShadow disabled, else black (cl3DDkShadow on a near-black Background).
TColor ArrowColor(bool Enabled, TColor Background);
// A 7 by 4 downward triangle centred in Rect.
void DrawDropDownArrow(QPainter& Canvas, const TRect& Rect, TSkVisualStyle VisualStyle,
                       bool Enabled, TColor Background = clBtnFace);
// A 7 by 4 (or 4 by 7) triangle pointing in Direction, centred in Rect.
void DrawArrow(QPainter& Canvas, const TRect& Rect, TSkVisualStyle VisualStyle, bool Enabled,
               TSkArrowDirection Direction, TColor Background = clBtnFace);
// An X-shaped cross centred in Rect.
void DrawCloseCross(QPainter& Canvas, const TRect& Rect, TColor Color);
// The close cross in the glyph colour of the state.
void DrawCloseButtonGlyph(QPainter& Canvas, const TRect& Rect, TSkVisualStyle VisualStyle,
                          bool Enabled);
// A 2-pixel gradient ring along the inside of Rect.
void DrawGradientRing(QPainter& Canvas, const TRect& Rect, TGradientDirection Direction,
                      TColor StartColor, TColor StopColor);

// Colours and state of a check-box or radio-button glyph.
struct TSkGlyphColors {
  TSkCheckState State = cbUnchecked;
  TSkGlyphDrawState DrawState = gdsNormal;
  bool Focused = false;
  TSkHotTrackStyle HotTrackStyle = htsFrame;
  TColor FrameColor = clBtnShadow;
  TColor HighlightColor = clWindowText;
  TColor FillColor = clWindow;
  TColor FocusColor = clWindow;
  TColor DisabledColor = clBtnFace;
  TColor HotLightColor = clWindow;
  TColor HotColor = clHighlight;
  bool ReadOnly = false;
  bool ReadOnlyColorOnFocus = false;
  TColor ReadOnlyColor = clInfoBk;
};
// A square glyph (13 by 13 is the usual size) with a tick or a grey square.
void DrawCheckBoxGlyph(QPainter& Canvas, const TRect& Rect, const TSkGlyphColors& Glyph);
// A round glyph with smoothed edge and a centre dot when checked.
void DrawRadioButtonGlyph(QPainter& Canvas, const TRect& Rect, const TSkGlyphColors& Glyph);

// ---- Text
// ----------------------------------------------------------------------------------------

// Text layout flags, as their platform values.
enum : unsigned {
  DT_LEFT = 0x0,
  DT_CENTER = 0x1,
  DT_RIGHT = 0x2,
  DT_VCENTER = 0x4,
  DT_BOTTOM = 0x8,
  DT_WORDBREAK = 0x10,
  DT_SINGLELINE = 0x20,
  DT_EXPANDTABS = 0x40,
  DT_CALCRECT = 0x400,
  DT_NOPREFIX = 0x800,
  DT_END_ELLIPSIS = 0x8000,
  DT_RTLREADING = 0x20000
};
// Draws Text in Rect with the painter's font and pen; '&' marks a mnemonic unless DT_NOPREFIX.
// With DT_CALCRECT nothing is drawn. Returns the rectangle the text takes.
TRect DrawString(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags);
// One centred line.
void DrawCenteredString(QPainter& Canvas, const QString& Text, const TRect& Rect);
// The font turned by Angle degrees counter-clockwise, as a painter rotation and the font.
struct TRotatedFont {
  QFont Font;
  double Angle = 0;
};
TRotatedFont CreateRotatedFont(const QFont& Font, int Angle);
// Whether the font is a scalable outline font.
bool IsTrueTypeFont(const QFont& Font);
// Height of a line of the font plus 2.
int GetFontLineHeight(const QFont& Font);
// Caption without mnemonic marks: "&x" gives "x", "&&" gives "&".
QString RemoveAccelChars(const QString& Caption);
// A Width by Height rectangle centred in Rect (halves truncated toward zero).
TRect CenterRect(const TRect& Rect, int Width, int Height);

// ---- Timers that tests can drive ----------------------------------------------------------------

// A repeating timer. The library makes every timer through CreateSkTimer, so a test can install
// a manual clock and step time instead of sleeping.
class TSkTimer {
 public:
  virtual ~TSkTimer() = default;
  virtual void Start(int IntervalMs) = 0;  // (re)starts with this interval
  virtual void Stop() = 0;
  virtual bool Active() const = 0;
  virtual int Interval() const = 0;
  // Changes the interval; a running timer counts the new interval from now.
  virtual void SetInterval(int IntervalMs) = 0;
  std::function<void()> OnTimer;
};
// A new timer: a Qt timer, or one of the installed manual clock.
std::unique_ptr<TSkTimer> CreateSkTimer();

// While alive, every new timer runs on this clock; Advance fires the due timers in time order.
class TSkManualClock {
 public:
  TSkManualClock();
  ~TSkManualClock();
  TSkManualClock(const TSkManualClock&) = delete;
  TSkManualClock& operator=(const TSkManualClock&) = delete;
  // Moves time forward by Ms milliseconds, firing timers as they fall due.
  void Advance(int Ms);
  int64_t Now() const { return FNow; }

 private:
  friend class TSkManualTimer;
  void Detach(class TSkManualTimer* Timer);
  int64_t FNow = 0;
  std::vector<class TSkManualTimer*> FTimers;
};

// ---- Frame controller
// ----------------------------------------------------------------------------

enum TFramingPreference { fpCustomFraming, fpXPThemes };
enum TSkFrameControllerProperty {
  fcpColor,
  fcpFocusColor,
  fcpDisabledColor,
  fcpReadOnlyColor,
  fcpReadOnlyColorOnFocus,
  fcpParentColor,
  fcpFlatButtonColor,
  fcpFlatButtons,
  fcpFrameColor,
  fcpFrameHotColor,
  fcpFrameHotTrack,
  fcpFrameHotStyle,
  fcpFrameSides,
  fcpFrameStyle,
  fcpFrameVisible,
  fcpFramingPreference,
  fcpAll
};
using TSkFrameControllerNotifications = unsigned;  // bit n for property n
inline constexpr TSkFrameControllerNotifications AllFrameNotifications = 0xFFFF;

class TSkFrameController;
// A control that takes the controller's settings its own way instead of property by property.
class ISkFrameControllerClient {
 public:
  virtual ~ISkFrameControllerClient() = default;
  virtual void UpdateFrame(const TSkFrameController& Controller,
                           TSkFrameControllerProperty Property) = 0;
};

// One set of colour and frame settings pushed into every registered control. A control takes
// a setting through its Qt property of the setting's name (TColor as uint, bool, the enums as
// int, TSides as uint), and only the notifications in its "FrameControllerNotifications"
// property (all when it has none).
class TSkFrameController : public QObject {
  Q_OBJECT
 public:
  explicit TSkFrameController(QObject* Owner = nullptr);
  ~TSkFrameController() override;

  void AddControl(QObject* Control);
  void RemoveControl(QObject* Control);
  int ControlCount() const { return int(FControls.size()); }
  virtual void UpdateControlFrame(QObject* Control, TSkFrameControllerProperty Property);
  virtual void NotifyControls(TSkFrameControllerProperty Property);
  void BeginUpdate() { ++FUpdateCount; }
  void EndUpdate();
  // Copies every setting, then notifies once.
  void Assign(const TSkFrameController& Source);
  // The value of a setting as a control's property takes it.
  QVariant Value(TSkFrameControllerProperty Property) const;
  // The property name of a setting ("Color" ...).
  static const char* PropertyName(TSkFrameControllerProperty Property);

  TColor Color() const { return FColor; }
  void SetColor(TColor Value);
  bool ParentColor() const { return FParentColor; }
  void SetParentColor(bool Value);
  TColor FocusColor() const { return FFocusColor; }
  void SetFocusColor(TColor Value) { Store(FFocusColor, Value, fcpFocusColor); }
  TColor DisabledColor() const { return FDisabledColor; }
  void SetDisabledColor(TColor Value) { Store(FDisabledColor, Value, fcpDisabledColor); }
  TColor ReadOnlyColor() const { return FReadOnlyColor; }
  void SetReadOnlyColor(TColor Value) { Store(FReadOnlyColor, Value, fcpReadOnlyColor); }
  bool ReadOnlyColorOnFocus() const { return FReadOnlyColorOnFocus; }
  void SetReadOnlyColorOnFocus(bool V) { Store(FReadOnlyColorOnFocus, V, fcpReadOnlyColorOnFocus); }
  TColor FlatButtonColor() const { return FFlatButtonColor; }
  void SetFlatButtonColor(TColor Value) { Store(FFlatButtonColor, Value, fcpFlatButtonColor); }
  bool FlatButtons() const { return FFlatButtons; }
  void SetFlatButtons(bool Value) { Store(FFlatButtons, Value, fcpFlatButtons); }
  TColor FrameColor() const { return FFrameColor; }
  void SetFrameColor(TColor Value) { Store(FFrameColor, Value, fcpFrameColor); }
  TColor FrameHotColor() const { return FFrameHotColor; }
  void SetFrameHotColor(TColor Value) { Store(FFrameHotColor, Value, fcpFrameHotColor); }
  bool FrameHotTrack() const { return FFrameHotTrack; }
  void SetFrameHotTrack(bool Value);
  TFrameStyle FrameHotStyle() const { return FFrameHotStyle; }
  void SetFrameHotStyle(TFrameStyle Value) { Store(FFrameHotStyle, Value, fcpFrameHotStyle); }
  TSides FrameSides() const { return FFrameSides; }
  void SetFrameSides(TSides Value) { Store(FFrameSides, Value, fcpFrameSides); }
  TFrameStyle FrameStyle() const { return FFrameStyle; }
  void SetFrameStyle(TFrameStyle Value) { Store(FFrameStyle, Value, fcpFrameStyle); }
  bool FrameVisible() const { return FFrameVisible; }
  void SetFrameVisible(bool Value) { Store(FFrameVisible, Value, fcpFrameVisible); }
  TFramingPreference FramingPreference() const { return FFramingPreference; }
  void SetFramingPreference(TFramingPreference V) {
    Store(FFramingPreference, V, fcpFramingPreference);
  }

 private:
  template <typename T>
  void Store(T& Field, T Value, TSkFrameControllerProperty Property) {
    if (Field == Value) return;
    Field = Value;
    NotifyControls(Property);
  }

  std::vector<QPointer<QObject>> FControls;
  int FUpdateCount = 0;
  TColor FColor = clWindow;
  bool FParentColor = false;
  TColor FFocusColor = clWindow;
  TColor FDisabledColor = clBtnFace;
  TColor FReadOnlyColor = clInfoBk;
  bool FReadOnlyColorOnFocus = false;
  TColor FFlatButtonColor = clBtnFace;
  bool FFlatButtons = true;
  TColor FFrameColor = clBtnShadow;
  TColor FFrameHotColor = clBtnShadow;
  bool FFrameHotTrack = false;
  TFrameStyle FFrameHotStyle = fsFlatBold;
  TSides FFrameSides = AllSides;
  TFrameStyle FFrameStyle = fsFlat;
  bool FFrameVisible = false;
  TFramingPreference FFramingPreference = fpXPThemes;
};

// ---- Blinking
// ------------------------------------------------------------------------------------

// A control that blinks in step with the others.
class ISkBlinkingControl {
 public:
  virtual ~ISkBlinkingControl() = default;
  // Whether the control wants the blink now.
  virtual bool QueryBlink() = 0;
  // Shows (true) or hides (false) what blinks.
  virtual void Blink(bool Shown) = 0;
};

// One timer for every blinking control: shown and hidden phases of 500 ms each.
class TSkBlinkingControlsList {
 public:
  TSkBlinkingControlsList();
  void Add(ISkBlinkingControl* Control);
  void Remove(ISkBlinkingControl* Control);
  int Count() const { return int(FControls.size()); }
  // One tick: flips the state, sets the next phase's interval, tells the controls.
  void Blink();
  bool BlinkState() const { return FBlinkState; }
  // The phase after switching to hidden lasts the first interval, after showing the second.
  uint16_t FirstInterval = 500, SecondInterval = 500;

 private:
  bool FBlinkState = true;
  std::unique_ptr<TSkTimer> FTimer;
  std::vector<ISkBlinkingControl*> FControls;
};
// The shared list, created on first use.
TSkBlinkingControlsList& BlinkingControlsList();
// Frees the shared list when no control is in it.
void ReleaseBlinkingControlsList();
// Whether the shared list exists.
bool BlinkingControlsListExists();

// ---- Custom colours
// ------------------------------------------------------------------------------

// Sixteen custom colours "ColorA=ffffff" .. "ColorP=ffffff".
class TSkCustomColors {
 public:
  TSkCustomColors();
  const QStringList& Colors() const { return FColors; }
  // Takes the lines; each value is read as hexadecimal and kept as six lower-case digits.
  void SetColors(const QStringList& Value);

 private:
  QStringList FColors;
};

// ---- Shared by the controls -------------------------------------------------------------------

// The usual key colour of the controls' pictures.
inline constexpr TColor clOlive = 0x008080;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TTextLayout { tlTop, tlCenter, tlBottom };

// The horizontal text flag of an alignment.
unsigned AlignmentFlags(TAlignment Alignment);
// Rect moved in by By pixels on each side in Sides.
TRect InsetSides(const TRect& Rect, TSides Sides, int By);
// The width one border style takes on each side it is drawn on: 1 pixel for fsFlat, BevelWidth
// for fsStatus and fsPopup, 2 for the other styles.
int BorderThickness(TFrameStyleEx Style, int BevelWidth);
// The area left inside a composite border on the sides it takes: both styles plus BorderWidth.
TRect AdjustRectForBorders(const TRect& Bounds, const TInnerOuterBorders& Borders);

// The copies of a text that give it a raised, recessed or shadowed look.
struct TSkTextStyleColors {
  TTextStyle TextStyle = tsNormal;
  bool LightTextStyle = false;  // leaves out the shadow copy of the raised and recessed looks
  TColor HighlightColor = clBtnHighlight;
  TColor ShadowColor = clBtnShadow;
  int ShadowDepth = 2;
};
// Text in Rect with its style copies first, then itself in Color. A right-aligned shadow falls
// straight down.
void DrawStyledText(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags,
                    const TSkTextStyleColors& Style, TColor Color);
// Disabled text: a highlight copy one pixel down and right, then the text in clBtnShadow.
void DrawEmbossedText(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags);

// Releases Widget's old caption key OldId and grabs the one Caption marks with '&'; returns the
// new key's id, 0 when the caption marks none.
int GrabCaptionMnemonic(QWidget& Widget, int OldId, const QString& Caption);
// Whether Event is the shortcut Id (never for Id 0).
bool IsShortcutEvent(const QEvent* Event, int Id);
// Whether Key presses what has the focus: Enter (either key) or Space.
inline bool IsActivationKey(int Key) {
  return Key == Qt::Key_Return || Key == Qt::Key_Enter || Key == Qt::Key_Space;
}

// Gathers wheel steps into whole notches of 120 units, since touchpads send smaller steps; a
// step the other way drops what was gathered.
class TSkWheelNotches {
 public:
  // The whole notches that Delta completes (positive away from the user).
  int Take(int Delta);

 private:
  int FRest = 0;
};

// The colour a control with ParentColor shows: its parent's "Color" property when it has one,
// else the parent's background; clBtnFace without a parent.
TColor ParentControlColor(const QWidget& Control);

// A control's registration with a frame controller (a base of the controls that follow one):
// moves between controllers, leaves on destruction and forgets a controller freed first.
class TSkFrameControlled {
 public:
  TSkFrameControlled(const TSkFrameControlled&) = delete;
  TSkFrameControlled& operator=(const TSkFrameControlled&) = delete;
  TSkFrameController* FrameController() const { return FController; }
  void SetFrameController(TSkFrameController* Value);
  TSkFrameControllerNotifications FrameControllerNotifications() const { return FNotifications; }
  void SetFrameControllerNotifications(TSkFrameControllerNotifications Value) {
    FNotifications = Value;
  }

 protected:
  explicit TSkFrameControlled(QObject& Control) : FControl(Control) {}
  ~TSkFrameControlled() { SetFrameController(nullptr); }
  // Whether an update of Update (one setting or all) carries Setting to this control.
  bool FrameSettingApplies(TSkFrameControllerProperty Update,
                           TSkFrameControllerProperty Setting) const {
    return (Update == fcpAll || Update == Setting) && (FNotifications & (1u << Setting));
  }
  // What a bordered control (panel, label) takes: the frame style as its outer border, the
  // sides, the frame colour unadjusted, the colour with bevel colours lightened and darkened
  // from it, and whether to follow the parent's colour.
  void ApplyBorderFrameSettings(const TSkFrameController& Controller,
                                TSkFrameControllerProperty Update, TInnerOuterBorders& Borders,
                                TColor& Color, bool& ParentColor) const;

 private:
  QObject& FControl;
  QPointer<TSkFrameController> FController;
  TSkFrameControllerNotifications FNotifications = AllFrameNotifications;
};

// The text colour of a control that blinks in step with the others: its normal colour, or
// BlinkColor in the shown phases while Blinking. It joins the shared list for the control's life.
class TSkBlinkingText : public ISkBlinkingControl {
 public:
  explicit TSkBlinkingText(QWidget& Control);
  ~TSkBlinkingText() override;
  TSkBlinkingText(const TSkBlinkingText&) = delete;
  TSkBlinkingText& operator=(const TSkBlinkingText&) = delete;
  bool Blinking() const { return FBlinking; }
  // Turning it off shows the normal colour again.
  void SetBlinking(bool Value);
  TColor BlinkColor() const { return FBlinkColor; }
  void SetBlinkColor(TColor Value) { StoreAndUpdate(FControl, FBlinkColor, Value); }
  TColor NormalColor() const { return FNormalColor; }
  // The new normal colour shows at once unless the control is blinking.
  void SetNormalColor(TColor Value);
  TColor Current() const { return FCurrent; }
  bool QueryBlink() override { return FBlinking; }
  void Blink(bool Shown) override;

 private:
  QWidget& FControl;
  bool FBlinking = false;
  TColor FBlinkColor = clHighlight, FNormalColor = clWindowText, FCurrent = clWindowText;
};
