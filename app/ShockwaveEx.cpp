#include "ShockwaveEx.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QQuickWindow>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <sys/resource.h>
#include <unistd.h>

QString FlashRuntimeFolder() { return ProgramFolder() + QStringLiteral("ruffle/"); }

namespace {

constexpr char MovieLoadedTitle[] = "loaded";
// Around a stage smaller than the control: the colour of a page that shows the movie.
constexpr QColor PageColour(255, 255, 255);
constexpr char GlIntegrationVariable[] = "QT_XCB_GL_INTEGRATION";
bool GlIntegrationChosenHere = false;
// The user's setting, put back for the programs started from here; none when it was unset.
std::optional<QByteArray> UserGlIntegration;
QString GlIntegrationSetAside;
// Measured with Qt WebEngine 6.4: its page process dies within 32 GiB and runs within 48 GiB.
constexpr quint64 WebEngineAddressSpace = quint64(48) << 30;
// How often the playing movie's picture is compared with the last, and after how many equal
// looks the runtime rests.
constexpr int RestLookMs = 250;
constexpr int RestLooks = 4;

std::optional<quint64> AddressSpaceLimit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  return quint64(limit.rlim_cur);
}

// Before the application object exists.
void PrepareFlashRuntime() {
  QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
  const QByteArray chosen = qgetenv(GlIntegrationVariable);
  const QString problem = AddressSpaceProblem(AddressSpaceLimit());
  const QByteArray used = GlIntegrationFor(chosen, problem);
  if (used != chosen) {
    if (qEnvironmentVariableIsSet(GlIntegrationVariable)) UserGlIntegration = chosen;
    qputenv(GlIntegrationVariable, used);
    GlIntegrationChosenHere = true;
  }
  if (!chosen.isEmpty() && used != chosen)
    GlIntegrationSetAside = QStringLiteral("%1=%2 is set aside, as the skin preview is: %3")
                                .arg(QLatin1String(GlIntegrationVariable),
                                     QString::fromLocal8Bit(chosen), problem);
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

// Once the application object exists: programs started from here get the environment the
// program was started with.
void RestoreStartEnvironment() {
  if (!std::exchange(GlIntegrationChosenHere, false)) return;
  if (UserGlIntegration)
    qputenv(GlIntegrationVariable, *UserGlIntegration);
  else
    qunsetenv(GlIntegrationVariable);
}

// Prepares the runtime while the arguments of the base class are evaluated, before it exists.
int& PreparedFirst(int& Argc) {
  PrepareFlashRuntime();
  return Argc;
}

}  // namespace

TFlashReadyApplication::TFlashReadyApplication(int& Argc, char** Argv)
    : QApplication(PreparedFirst(Argc), Argv) {
  RestoreStartEnvironment();
}

QString TFlashReadyApplication::GlChoiceSetAside() { return GlIntegrationSetAside; }

QByteArray GlIntegrationFor(const QByteArray& UserChoice, const QString& AddressSpaceProblem) {
  return UserChoice.isEmpty() || !AddressSpaceProblem.isEmpty() ? QByteArrayLiteral("none")
                                                                : UserChoice;
}

QString FlashPage(const QString& Movie, QSize Stage, const QColor& Background,
                  const QString& RuntimeFolder) {
  const QString runtime = QString::fromUtf8(QUrl::fromLocalFile(RuntimeFolder).toEncoded());
  const QString movie = QString::fromUtf8(QUrl::fromLocalFile(Movie).toEncoded());
  const QString colour = Background.name();
  const QString page = Stage.isEmpty() ? colour : PageColour.name();
  const auto side = [](int Pixels, const char* Page) {
    return Pixels > 0 ? QStringLiteral("min(%1px, %2)").arg(Pixels).arg(QLatin1String(Page))
                      : QLatin1String(Page);
  };
  return QStringLiteral(
             "<!doctype html><html><head><script>window.RufflePlayer = {config: {"
             "publicPath: \"%1\", preferredRenderer: \"canvas\", autoplay: \"on\", "
             "unmuteOverlay: \"hidden\", splashScreen: false, contextMenu: \"off\", "
             "letterbox: \"on\", warnOnUnsupportedContent: false}};</script>"
             "<script src=\"%1ruffle.js\"></script></head>"
             "<body style=\"margin:0;overflow:hidden;background:%7;display:flex;"
             "align-items:center;justify-content:center;height:100vh\"><script>"
             "const player = window.RufflePlayer.newest().createPlayer();"
             "player.style.width = \"%5\"; player.style.height = \"%6\";"
             "player.style.flex = \"none\";"
             "document.body.appendChild(player);"
             "player.addEventListener(\"loadeddata\", () => { document.title = \"%4\"; });"
             "player.ruffle().load({url: \"%2\", backgroundColor: \"%3\"})"
             ".catch((e) => console.error(\"load failed: \" + e));"
             "</script></body></html>")
      .arg(runtime, movie, colour, QLatin1String(MovieLoadedTitle),
           side(Stage.width(), "100vw"), side(Stage.height(), "100vh"), page);
}

QString AddressSpaceProblem(std::optional<quint64> LimitBytes) {
  if (!LimitBytes || *LimitBytes >= WebEngineAddressSpace) return {};
  return QStringLiteral("the address space is limited to %1 MiB; the web engine needs %2 MiB")
      .arg(*LimitBytes >> 20)
      .arg(WebEngineAddressSpace >> 20);
}

namespace {

// Reports the runtime's failures: Ruffle loads any file and only says so on the console.
class TFlashPage : public QWebEnginePage {
 public:
  TFlashPage(QObject* Parent, std::function<void(const QString&)> OnError)
      : QWebEnginePage(Parent), FOnError(std::move(OnError)) {
    settings()->setAttribute(QWebEngineSettings::PlaybackRequiresUserGesture, false);
  }

 protected:
  void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel Level, const QString& Message, int,
                                const QString&) override {
    if (Level == ErrorMessageLevel || Message.contains(QStringLiteral("Asynchronous error")))
      FOnError(Message);
  }

 private:
  std::function<void(const QString&)> FOnError;
};

}  // namespace

TShockwaveFlashEx::TShockwaveFlashEx(QWidget* Parent)
    : QWidget(Parent), FRestWatch(new QTimer(this)) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  FRestWatch->setInterval(RestLookMs);
  connect(FRestWatch, &QTimer::timeout, this, &TShockwaveFlashEx::LookForRest);
}

bool TShockwaveFlashEx::Playing() const { return FView && (!FView->isHidden() || Resting()); }

void TShockwaveFlashEx::SetMovie(const QString& Value, QSize Stage) {
  FMovie = Value;
  FStage = Stage;
  update();
  if (FMovie.isEmpty())
    ShowStill(QString());
  else if (!QFileInfo::exists(FlashRuntimeFolder() + QStringLiteral("ruffle.js")))
    ShowStill(QStringLiteral("no Flash runtime in ") + FlashRuntimeFolder());
  else if (const QString problem = AddressSpaceProblem(AddressSpaceLimit()); !problem.isEmpty())
    ShowStill(problem);
  else
    Play();
}

void TShockwaveFlashEx::MakeView() {
  FView = new QWebEngineView(this);
  auto* page = new TFlashPage(FView, [this](const QString& Error) { ShowStill(Error); });
  FView->setPage(page);
  FView->setContextMenuPolicy(Qt::NoContextMenu);
  FView->setGeometry(rect());
  connect(FView, &QWebEngineView::loadFinished, this, [this] {
    if (QWidget* input = FView->focusProxy()) input->installEventFilter(this);
  });
  connect(page, &QWebEnginePage::titleChanged, this, [this](const QString& Title) {
    FMovieLoaded = Title == QLatin1String(MovieLoadedTitle);
  });
  connect(page, &QWebEnginePage::renderProcessTerminated, this,
          [this](QWebEnginePage::RenderProcessTerminationStatus Status, int ExitCode) {
            if (Status != QWebEnginePage::NormalTerminationStatus)
              ShowStill(QStringLiteral("the web engine's page process ended (status %1, code %2)")
                            .arg(Status)
                            .arg(ExitCode));
          });
}

void TShockwaveFlashEx::Play() {
  if (!FView) MakeView();
  Wake();
  FMovieLoaded = false;
  FView->setHtml(FlashPage(FMovie, FStage, FBackground, FlashRuntimeFolder()),
                 QUrl::fromLocalFile(QFileInfo(FMovie).absolutePath() + QLatin1Char('/')));
  FView->show();
  FRestWatch->start();
}

// The still replaces the movie; the page is emptied so that the runtime stops drawing.
void TShockwaveFlashEx::ShowStill(const QString& Reason) {
  if (!Reason.isEmpty()) VelLog.WriteError(QStringLiteral("Flash preview: ") + Reason);
  if (Playing()) {
    Wake();
    FView->hide();
    FView->setHtml(QString());
  }
  FRestWatch->stop();
  update();
}

// A movie that stays the same costs nothing once it rests; a blank page before the movie is
// loaded, a picture the user may be changing with the pointer, or one not on screen, never
// rests.
void TShockwaveFlashEx::LookForRest() {
  if (!FMovieLoaded || FPointerOver || !isVisible()) {
    FUnchangedLooks = 0;
    FLastLook = QImage();
    return;
  }
  QImage look = FView->grab().toImage();
  if (look == FLastLook) {
    if (++FUnchangedLooks >= RestLooks) Rest();
    return;
  }
  FLastLook = std::move(look);
  FUnchangedLooks = 0;
}

// A hidden page may be frozen: its scripts and timers stop, and so does the runtime. Hidden,
// the view would hand its keyboard focus on to another control: the focus stays here.
void TShockwaveFlashEx::Rest() {
  FRestWatch->stop();
  FRestPicture = FLastLook;
  if (QWidget* focused = QApplication::focusWidget(); focused && FView->isAncestorOf(focused))
    setFocus();
  FView->hide();
  FView->page()->setLifecycleState(QWebEnginePage::LifecycleState::Frozen);
  update();
}

void TShockwaveFlashEx::Wake() {
  FUnchangedLooks = 0;
  FLastLook = QImage();
  if (!Resting()) return;
  FRestPicture = QImage();
  FView->page()->setLifecycleState(QWebEnginePage::LifecycleState::Active);
  FView->show();
  FRestWatch->start();
}

void TShockwaveFlashEx::resizeEvent(QResizeEvent* Event) {
  if (FView) {
    Wake();
    FView->setGeometry(rect());
  }
  QWidget::resizeEvent(Event);
}

// Hidden, the runtime would go on drawing every frame: the page goes and comes back.
void TShockwaveFlashEx::hideEvent(QHideEvent* Event) {
  ShowStill(QString());
  QWidget::hideEvent(Event);
}

void TShockwaveFlashEx::showEvent(QShowEvent* Event) {
  if (!FMovie.isEmpty() && FView && FView->isHidden()) Play();
  QWidget::showEvent(Event);
}

// The view's input widget forwards its mouse and keys here, so that the events and the
// click lock work over the playing movie as over the still.
bool TShockwaveFlashEx::eventFilter(QObject* Watched, QEvent* Event) {
  switch (Event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
      QCoreApplication::sendEvent(this, Event);
      return LockMouseClick;
    case QEvent::MouseMove:
    case QEvent::KeyPress:
      QCoreApplication::sendEvent(this, Event);
      return false;
    default:
      return QWidget::eventFilter(Watched, Event);
  }
}

void TShockwaveFlashEx::SetStill(const QImage& Picture, const QColor& Background) {
  FStill = Picture;
  FBackground = Background;
  update();
}

void TShockwaveFlashEx::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  if (Resting()) {
    painter.drawImage(QPoint(), FRestPicture);
    return;
  }
  QRect stage(QPoint(), FStage.isEmpty() ? size() : FStage.scaled(size(), Qt::KeepAspectRatio)
                                                           .boundedTo(FStage));
  stage.moveCenter(rect().center());
  if (stage != rect()) painter.fillRect(rect(), PageColour);
  painter.fillRect(stage, FBackground);
  if (FStill.isNull()) return;
  // A still is a thumbnail: at its own size, never stretched, so the stage colour shows.
  QRect target(QPoint(), FStill.size().boundedTo(stage.size()));
  target.moveCenter(stage.center());
  painter.drawImage(target, FStill);
}

void TShockwaveFlashEx::mousePressEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::RightButton) {
    FPressed = true;
    return;
  }
  if (LockMouseClick || Event->button() != Qt::LeftButton) return;
  FPressed = true;
  if (OnMouseDown) OnMouseDown(Event->button(), Event->modifiers(), Event->position().toPoint());
}

void TShockwaveFlashEx::mouseReleaseEvent(QMouseEvent* Event) {
  if (Event->button() == Qt::RightButton) {
    if (!LockMouseClick && PopupMenu && std::exchange(FPressed, false))
      PopupMenu->popup(Event->globalPosition().toPoint());
    return;
  }
  if (LockMouseClick || Event->button() != Qt::LeftButton) return;
  const bool pressed = std::exchange(FPressed, false);
  if (OnMouseUp) OnMouseUp(Event->button(), Event->modifiers(), Event->position().toPoint());
  if (pressed && OnClick) OnClick();
}

void TShockwaveFlashEx::mouseDoubleClickEvent(QMouseEvent* Event) {
  if (!LockMouseClick) QWidget::mouseDoubleClickEvent(Event);
}

void TShockwaveFlashEx::mouseMoveEvent(QMouseEvent* Event) {
  if (OnMouseMove) OnMouseMove(Event->modifiers(), Event->position().toPoint());
}

void TShockwaveFlashEx::enterEvent(QEnterEvent*) {
  FPointerOver = true;
  Wake();
  if (OnMouseEnter) OnMouseEnter();
}

void TShockwaveFlashEx::leaveEvent(QEvent*) {
  FPointerOver = false;
  if (OnMouseLeave) OnMouseLeave();
}

void TShockwaveFlashEx::keyPressEvent(QKeyEvent* Event) {
  Wake();
  if (OnKeyDown) OnKeyDown(Event->key(), Event->modifiers());
  QWidget::keyPressEvent(Event);
}

// The control has no menu of its own: only the popup menu it is given opens, on the right
// button's release.
void TShockwaveFlashEx::contextMenuEvent(QContextMenuEvent* Event) { Event->accept(); }
