#include "ShockwaveEx.h"

#include "U_Config.h"
#include "VelLog.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPainter>
#include <QWebEnginePage>
#include <QWebEngineSettings>
#include <QWebEngineView>

#include <unistd.h>

QString FlashRuntimeFolder() { return ProgramFolder() + QStringLiteral("ruffle/"); }

void PrepareFlashRuntime() {
  QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
  if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
    qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
}

QString FlashPage(const QString& Movie, const QColor& Background, const QString& RuntimeFolder) {
  const QString runtime = QString::fromUtf8(QUrl::fromLocalFile(RuntimeFolder).toEncoded());
  const QString movie = QString::fromUtf8(QUrl::fromLocalFile(Movie).toEncoded());
  const QString colour = Background.name();
  return QStringLiteral(
             "<!doctype html><html><head><script>window.RufflePlayer = {config: {"
             "publicPath: \"%1\", preferredRenderer: \"canvas\", autoplay: \"on\", "
             "unmuteOverlay: \"hidden\", splashScreen: false, contextMenu: \"off\", "
             "letterbox: \"on\", warnOnUnsupportedContent: false}};</script>"
             "<script src=\"%1ruffle.js\"></script></head>"
             "<body style=\"margin:0;overflow:hidden;background:%3\"><script>"
             "const player = window.RufflePlayer.newest().createPlayer();"
             "player.style.width = \"100vw\"; player.style.height = \"100vh\";"
             "document.body.appendChild(player);"
             "player.ruffle().load({url: \"%2\", backgroundColor: \"%3\"})"
             ".catch((e) => console.error(\"load failed: \" + e));"
             "</script></body></html>")
      .arg(runtime, movie, colour);
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

TShockwaveFlashEx::TShockwaveFlashEx(QWidget* Parent) : QWidget(Parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
}

bool TShockwaveFlashEx::Playing() const { return FView && !FView->isHidden(); }

void TShockwaveFlashEx::SetMovie(const QString& Value) {
  FMovie = Value;
  if (FMovie.isEmpty())
    ShowStill(QString());
  else if (!QFileInfo::exists(FlashRuntimeFolder() + QStringLiteral("ruffle.js")))
    ShowStill(QStringLiteral("no Flash runtime in ") + FlashRuntimeFolder());
  else
    Play();
}

void TShockwaveFlashEx::Play() {
  if (!FView) {
    FView = new QWebEngineView(this);
    FView->setPage(new TFlashPage(FView, [this](const QString& Error) { ShowStill(Error); }));
    FView->setContextMenuPolicy(Qt::NoContextMenu);
    FView->setGeometry(rect());
    connect(FView, &QWebEngineView::loadFinished, this, [this] {
      if (QWidget* input = FView->focusProxy()) input->installEventFilter(this);
    });
  }
  FView->setHtml(FlashPage(FMovie, FBackground, FlashRuntimeFolder()),
                 QUrl::fromLocalFile(QFileInfo(FMovie).absolutePath() + QLatin1Char('/')));
  FView->show();
}

// The still replaces the movie; the page is emptied so that the runtime stops drawing.
void TShockwaveFlashEx::ShowStill(const QString& Reason) {
  if (!Reason.isEmpty()) VelLog.WriteError(QStringLiteral("Flash preview: ") + Reason);
  if (FView && !FView->isHidden()) {
    FView->hide();
    FView->setHtml(QString());
  }
  update();
}

void TShockwaveFlashEx::resizeEvent(QResizeEvent* Event) {
  if (FView) FView->setGeometry(rect());
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
  painter.fillRect(rect(), FBackground);
  if (FStill.isNull()) return;
  // A still is a thumbnail: at its own size, never stretched, so the stage colour shows.
  QRect target(QPoint(), FStill.size().boundedTo(size()));
  target.moveCenter(rect().center());
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
  if (OnMouseEnter) OnMouseEnter();
}

void TShockwaveFlashEx::leaveEvent(QEvent*) {
  if (OnMouseLeave) OnMouseLeave();
}

void TShockwaveFlashEx::keyPressEvent(QKeyEvent* Event) {
  if (OnKeyDown) OnKeyDown(Event->key(), Event->modifiers());
  QWidget::keyPressEvent(Event);
}

// The control has no menu of its own: only the popup menu it is given opens, on the right
// button's release.
void TShockwaveFlashEx::contextMenuEvent(QContextMenuEvent* Event) { Event->accept(); }
