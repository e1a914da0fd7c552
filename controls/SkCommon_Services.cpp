// Timers, the frame controller, the blinking list and the custom colours.
#include "SkCommon.h"

#include <QKeySequence>
#include <QShortcutEvent>
#include <QTimer>
#include <QVariant>

#include <algorithm>

// ---- Timers -------------------------------------------------------------------------------------

namespace {

TSkManualClock* InstalledClock = nullptr;

class TSkQtTimer : public TSkTimer {
 public:
  TSkQtTimer() {
    QObject::connect(&FTimer, &QTimer::timeout, [this] {
      if (OnTimer) OnTimer();
    });
  }
  void Start(int IntervalMs) override { FTimer.start(IntervalMs); }
  void Stop() override { FTimer.stop(); }
  bool Active() const override { return FTimer.isActive(); }
  int Interval() const override { return FTimer.interval(); }
  void SetInterval(int IntervalMs) override { FTimer.setInterval(IntervalMs); }

 private:
  QTimer FTimer;
};

}  // namespace

// A timer of a manual clock; it stops for good when its clock goes first.
class TSkManualTimer : public TSkTimer {
 public:
  explicit TSkManualTimer(TSkManualClock& Clock) : FClock(&Clock) {
    FClock->FTimers.push_back(this);
  }
  ~TSkManualTimer() override {
    if (FClock) FClock->Detach(this);
  }
  void Start(int IntervalMs) override {
    FInterval = IntervalMs;
    FActive = FClock != nullptr;
    FDue = Now() + FInterval;
  }
  void Stop() override { FActive = false; }
  bool Active() const override { return FActive; }
  int Interval() const override { return FInterval; }
  void SetInterval(int IntervalMs) override {
    FInterval = IntervalMs;
    FDue = Now() + FInterval;
  }
  int64_t Now() const { return FClock ? FClock->FNow : 0; }
  TSkManualClock* FClock;
  int FInterval = 0;
  bool FActive = false;
  int64_t FDue = 0;
};

TSkManualClock::TSkManualClock() { InstalledClock = this; }

TSkManualClock::~TSkManualClock() {
  if (InstalledClock == this) InstalledClock = nullptr;
  for (TSkManualTimer* timer : FTimers) {
    timer->FClock = nullptr;
    timer->FActive = false;
  }
}

void TSkManualClock::Detach(TSkManualTimer* Timer) { std::erase(FTimers, Timer); }

void TSkManualClock::Advance(int Ms) {
  const int64_t until = FNow + Ms;
  for (;;) {
    // The earliest due timer; a handler may start, stop or delete timers, so look again each time.
    TSkManualTimer* next = nullptr;
    for (TSkManualTimer* timer : FTimers)
      if (timer->FActive && timer->FDue <= until && (!next || timer->FDue < next->FDue))
        next = timer;
    if (!next) break;
    FNow = next->FDue;
    next->FDue = FNow + std::max(next->FInterval, 1);
    if (next->OnTimer) next->OnTimer();
  }
  FNow = until;
}

std::unique_ptr<TSkTimer> CreateSkTimer() {
  if (InstalledClock) return std::make_unique<TSkManualTimer>(*InstalledClock);
  return std::make_unique<TSkQtTimer>();
}

void InvalidateTransparentControls(QWidget& Parent) {
  for (QWidget* child : Parent.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (child->property("Transparent").toBool()) child->update();
}

// ---- Frame controller ---------------------------------------------------------------------------

namespace {

// The order in which a full update sets the settings.
constexpr TSkFrameControllerProperty FullUpdateOrder[] = {
    fcpParentColor,          fcpColor,         fcpDisabledColor,   fcpReadOnlyColor,
    fcpReadOnlyColorOnFocus, fcpFocusColor,    fcpFlatButtonColor, fcpFlatButtons,
    fcpFrameColor,           fcpFrameHotColor, fcpFrameHotTrack,   fcpFrameHotStyle,
    fcpFrameSides,           fcpFrameStyle,    fcpFrameVisible,    fcpFramingPreference};

TSkFrameControllerNotifications AcceptedNotifications(const QObject* Control) {
  const QVariant accepted = Control->property("FrameControllerNotifications");
  return accepted.isValid() ? accepted.toUInt() : AllFrameNotifications;
}

void SetPublished(QObject* Control, const char* Name, const QVariant& Value) {
  if (Control->metaObject()->indexOfProperty(Name) >= 0) Control->setProperty(Name, Value);
}

}  // namespace

TSkFrameController::TSkFrameController(QObject* Owner) : QObject(Owner) {}

TSkFrameController::~TSkFrameController() = default;

void TSkFrameController::AddControl(QObject* Control) {
  if (!Control || std::find(FControls.begin(), FControls.end(), Control) != FControls.end()) return;
  FControls.emplace_back(Control);
  UpdateControlFrame(Control, fcpAll);
}

void TSkFrameController::RemoveControl(QObject* Control) {
  std::erase_if(FControls, [Control](const QPointer<QObject>& p) { return p == Control || !p; });
}

const char* TSkFrameController::PropertyName(TSkFrameControllerProperty Property) {
  static const char* const names[] = {"Color",
                                      "FocusColor",
                                      "DisabledColor",
                                      "ReadOnlyColor",
                                      "ReadOnlyColorOnFocus",
                                      "ParentColor",
                                      "FlatButtonColor",
                                      "FlatButtons",
                                      "FrameColor",
                                      "FrameHotColor",
                                      "FrameHotTrack",
                                      "FrameHotStyle",
                                      "FrameSides",
                                      "FrameStyle",
                                      "FrameVisible",
                                      "FramingPreference"};
  return Property < fcpAll ? names[Property] : "";
}

QVariant TSkFrameController::Value(TSkFrameControllerProperty Property) const {
  switch (Property) {
    case fcpColor:
      return FColor;
    case fcpFocusColor:
      return FFocusColor;
    case fcpDisabledColor:
      return FDisabledColor;
    case fcpReadOnlyColor:
      return FReadOnlyColor;
    case fcpReadOnlyColorOnFocus:
      return FReadOnlyColorOnFocus;
    case fcpParentColor:
      return FParentColor;
    case fcpFlatButtonColor:
      return FFlatButtonColor;
    case fcpFlatButtons:
      return FFlatButtons;
    case fcpFrameColor:
      return FFrameColor;
    case fcpFrameHotColor:
      return FFrameHotColor;
    case fcpFrameHotTrack:
      return FFrameHotTrack;
    case fcpFrameHotStyle:
      return int(FFrameHotStyle);
    case fcpFrameSides:
      return FFrameSides;
    case fcpFrameStyle:
      return int(FFrameStyle);
    case fcpFrameVisible:
      return FFrameVisible;
    case fcpFramingPreference:
      return int(FFramingPreference);
    default:
      return {};
  }
}

void TSkFrameController::UpdateControlFrame(QObject* Control, TSkFrameControllerProperty Property) {
  if (!Control || !Control->isWidgetType()) return;
  if (auto* client = dynamic_cast<ISkFrameControllerClient*>(Control))
    return client->UpdateFrame(*this, Property);
  const TSkFrameControllerNotifications accepted = AcceptedNotifications(Control);
  for (TSkFrameControllerProperty p : FullUpdateOrder)
    if ((Property == fcpAll || Property == p) && (accepted & (1u << p)))
      SetPublished(Control, PropertyName(p), Value(p));
}

void TSkFrameController::NotifyControls(TSkFrameControllerProperty Property) {
  if (FUpdateCount >= 1) return;
  const std::vector<QPointer<QObject>> controls = FControls;
  for (const QPointer<QObject>& control : controls)
    if (control) UpdateControlFrame(control, Property);
}

void TSkFrameController::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0) NotifyControls(fcpAll);
}

void TSkFrameController::Assign(const TSkFrameController& Source) {
  BeginUpdate();
  SetColor(Source.FColor);
  SetFocusColor(Source.FFocusColor);
  SetDisabledColor(Source.FDisabledColor);
  SetReadOnlyColor(Source.FReadOnlyColor);
  SetReadOnlyColorOnFocus(Source.FReadOnlyColorOnFocus);
  SetParentColor(Source.FParentColor);
  SetFlatButtonColor(Source.FFlatButtonColor);
  SetFlatButtons(Source.FFlatButtons);
  SetFrameColor(Source.FFrameColor);
  SetFrameHotColor(Source.FFrameHotColor);
  SetFrameHotTrack(Source.FFrameHotTrack);
  SetFrameHotStyle(Source.FFrameHotStyle);
  SetFrameSides(Source.FFrameSides);
  SetFrameStyle(Source.FFrameStyle);
  SetFrameVisible(Source.FFrameVisible);
  SetFramingPreference(Source.FFramingPreference);
  EndUpdate();
}

void TSkFrameController::SetColor(TColor Value) {
  if (FColor == Value) return;
  if (FFocusColor == FColor) FFocusColor = Value, NotifyControls(fcpFocusColor);
  FColor = Value;
  FParentColor = false;
  NotifyControls(fcpColor);
}

void TSkFrameController::SetParentColor(bool Value) {
  if (FParentColor == Value) return;
  FParentColor = Value;
  NotifyControls(fcpParentColor);
  if (!Value) NotifyControls(fcpColor);
}

void TSkFrameController::SetFrameHotTrack(bool Value) {
  if (FFrameHotTrack == Value) return;
  FFrameHotTrack = Value;
  if (Value) {
    SetFrameVisible(true);
    SetFrameSides(AllSides);
  }
  NotifyControls(fcpFrameHotTrack);
}

// ---- Blinking -----------------------------------------------------------------------------------

namespace {
std::unique_ptr<TSkBlinkingControlsList> SharedBlinkingList;
}

TSkBlinkingControlsList::TSkBlinkingControlsList() : FTimer(CreateSkTimer()) {
  FTimer->OnTimer = [this] { Blink(); };
  FTimer->Start(FirstInterval);
}

void TSkBlinkingControlsList::Add(ISkBlinkingControl* Control) { FControls.push_back(Control); }

void TSkBlinkingControlsList::Remove(ISkBlinkingControl* Control) {
  const auto found = std::find(FControls.begin(), FControls.end(), Control);
  if (found != FControls.end()) FControls.erase(found);
}

void TSkBlinkingControlsList::Blink() {
  FBlinkState = !FBlinkState;
  FTimer->SetInterval(FBlinkState ? SecondInterval : FirstInterval);
  const std::vector<ISkBlinkingControl*> controls = FControls;
  for (ISkBlinkingControl* control : controls)
    if (control->QueryBlink()) control->Blink(FBlinkState);
}

TSkBlinkingControlsList& BlinkingControlsList() {
  if (!SharedBlinkingList) SharedBlinkingList = std::make_unique<TSkBlinkingControlsList>();
  return *SharedBlinkingList;
}

void ReleaseBlinkingControlsList() {
  if (SharedBlinkingList && SharedBlinkingList->Count() == 0) SharedBlinkingList.reset();
}

bool BlinkingControlsListExists() { return SharedBlinkingList != nullptr; }

// ---- Custom colours -----------------------------------------------------------------------------

TSkCustomColors::TSkCustomColors() {
  QStringList colors;
  for (char letter = 'A'; letter <= 'P'; ++letter)
    colors << QStringLiteral("Color%1=FFFFFF").arg(QLatin1Char(letter));
  FColors = colors;
}

void TSkCustomColors::SetColors(const QStringList& Value) {
  FColors = Value;
  for (QString& line : FColors) {
    const qsizetype equals = line.indexOf(QLatin1Char('='));
    if (equals < 0) continue;
    const uint value = line.mid(equals + 1).trimmed().toUInt(nullptr, 16) & 0xFFFFFF;
    line = line.left(equals + 1) + QStringLiteral("%1").arg(value, 6, 16, QLatin1Char('0'));
  }
}

// ---- Shared by the controls ---------------------------------------------------------------------

unsigned AlignmentFlags(TAlignment Alignment) {
  switch (Alignment) {
    case taRightJustify:
      return DT_RIGHT;
    case taCenter:
      return DT_CENTER;
    case taLeftJustify:
      break;
  }
  return DT_LEFT;
}

namespace {

void DrawTextCopy(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags, int Dx,
                  int Dy, TColor Color) {
  Canvas.setPen(ToQColor(Color));
  DrawString(Canvas, Text, Rect.Offset(Dx, Dy), Flags);
}

}  // namespace

int BorderThickness(TFrameStyleEx Style, int BevelWidth) {
  switch (Style) {
    case fsNone:
      return 0;
    case fsFlat:
      return 1;
    case fsStatus:
    case fsPopup:
      return BevelWidth;
    default:
      return 2;
  }
}

TRect InsetSides(const TRect& Rect, TSides Sides, int By) {
  TRect r = Rect;
  if (Sides & sdLeft) r.Left += By;
  if (Sides & sdTop) r.Top += By;
  if (Sides & sdRight) r.Right -= By;
  if (Sides & sdBottom) r.Bottom -= By;
  return r;
}

TRect AdjustRectForBorders(const TRect& Bounds, const TInnerOuterBorders& B) {
  return InsetSides(Bounds, B.BorderSides,
                    BorderThickness(B.BorderOuter, B.BevelWidth) +
                        BorderThickness(B.BorderInner, B.BevelWidth) + B.BorderWidth);
}

void DrawStyledText(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags,
                    const TSkTextStyleColors& S, TColor Color) {
  switch (S.TextStyle) {
    case tsShadow:
      DrawTextCopy(Canvas, Text, Rect, Flags, (Flags & DT_RIGHT) ? 0 : S.ShadowDepth, S.ShadowDepth,
                   S.ShadowColor);
      break;
    case tsRaised:
      if (!S.LightTextStyle) DrawTextCopy(Canvas, Text, Rect, Flags, 1, 1, S.ShadowColor);
      DrawTextCopy(Canvas, Text, Rect, Flags, -1, -1, S.HighlightColor);
      break;
    case tsRecessed:
      DrawTextCopy(Canvas, Text, Rect, Flags, 1, 1, S.HighlightColor);
      if (!S.LightTextStyle) DrawTextCopy(Canvas, Text, Rect, Flags, -1, -1, S.ShadowColor);
      break;
    case tsNormal:
      break;
  }
  DrawTextCopy(Canvas, Text, Rect, Flags, 0, 0, Color);
}

void DrawEmbossedText(QPainter& Canvas, const QString& Text, const TRect& Rect, unsigned Flags) {
  DrawTextCopy(Canvas, Text, Rect, Flags, 1, 1, clBtnHighlight);
  DrawTextCopy(Canvas, Text, Rect, Flags, 0, 0, clBtnShadow);
}

int GrabCaptionMnemonic(QWidget& Widget, int OldId, const QString& Caption) {
  if (OldId != 0) Widget.releaseShortcut(OldId);
  const QKeySequence key = QKeySequence::mnemonic(Caption);
  return key.isEmpty() ? 0 : Widget.grabShortcut(key);
}

bool IsShortcutEvent(const QEvent* Event, int Id) {
  return Id != 0 && Event->type() == QEvent::Shortcut &&
         static_cast<const QShortcutEvent*>(Event)->shortcutId() == Id;
}

TColor ParentControlColor(const QWidget& Control) {
  const QWidget* parent = Control.parentWidget();
  if (!parent) return clBtnFace;
  const QVariant color = parent->property("Color");
  if (color.isValid()) return color.toUInt();
  return FromQColor(parent->palette().color(parent->backgroundRole()));
}

void TSkFrameControlled::SetFrameController(TSkFrameController* Value) {
  if (FController == Value) return;
  if (FController) FController->RemoveControl(&FControl);
  FController = Value;
  if (Value) Value->AddControl(&FControl);
}

void TSkFrameControlled::ApplyBorderFrameSettings(const TSkFrameController& Controller,
                                                  TSkFrameControllerProperty Update,
                                                  TInnerOuterBorders& Borders, TColor& Color,
                                                  bool& ParentColor) const {
  if (FrameSettingApplies(Update, fcpFrameStyle)) Borders.BorderOuter = Controller.FrameStyle();
  if (FrameSettingApplies(Update, fcpFrameSides)) Borders.BorderSides = Controller.FrameSides();
  if (FrameSettingApplies(Update, fcpFrameColor)) {
    Borders.FlatColor = Controller.FrameColor();
    Borders.FlatColorAdjustment = 0;
  }
  if (FrameSettingApplies(Update, fcpColor)) {
    Color = Controller.Color();
    ParentColor = false;
    Borders.BorderHighlight = LighterColor(Color, 100);
    Borders.BorderShadow = DarkerColor(Color, 50);
  }
  if (FrameSettingApplies(Update, fcpParentColor)) ParentColor = Controller.ParentColor();
}

TSkBlinkingText::TSkBlinkingText(QWidget& Control) : FControl(Control) {
  BlinkingControlsList().Add(this);
}

TSkBlinkingText::~TSkBlinkingText() {
  BlinkingControlsList().Remove(this);
  ReleaseBlinkingControlsList();
}

void TSkBlinkingText::SetBlinking(bool Value) {
  if (FBlinking == Value) return;
  FBlinking = Value;
  if (!Value) StoreAndUpdate(FControl, FCurrent, FNormalColor);
}

void TSkBlinkingText::SetNormalColor(TColor Value) {
  FNormalColor = Value;
  if (!FBlinking) StoreAndUpdate(FControl, FCurrent, Value);
}

void TSkBlinkingText::Blink(bool Shown) {
  if (FBlinking) StoreAndUpdate(FControl, FCurrent, Shown ? FBlinkColor : FNormalColor);
}

// ---- Wheel --------------------------------------------------------------------------------------

int TSkWheelNotches::Take(int Delta) {
  if ((Delta > 0 && FRest < 0) || (Delta < 0 && FRest > 0)) FRest = 0;
  FRest += Delta;
  const int notches = FRest / 120;
  FRest -= notches * 120;
  return notches;
}
