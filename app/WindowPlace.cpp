#include "WindowPlace.h"

#include <QAbstractNativeEventFilter>
#include <QGuiApplication>
#include <QPointer>
#include <QSet>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

template <class TReply>
using TReplyPtr = std::unique_ptr<TReply, decltype(&std::free)>;

bool IsProgramWindow(xcb_window_t Window) {
  const QWindowList windows = QGuiApplication::topLevelWindows();
  return std::any_of(windows.begin(), windows.end(), [Window](const QWindow* Candidate) {
    return Candidate->handle() && Candidate->winId() == Window;
  });
}

class TWindowPlaceWatch : public QObject, public QAbstractNativeEventFilter {
 public:
  TWindowPlaceWatch(xcb_connection_t* Connection, QObject* Parent)
      : QObject(Parent), FConnection(Connection) {
    QCoreApplication::instance()->installNativeEventFilter(this);
  }

  bool nativeEventFilter(const QByteArray& EventType, void* Message, qintptr*) override {
    if (EventType != "xcb_generic_event_t") return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(Message);
    switch (event->response_type & ~0x80) {
      case XCB_REPARENT_NOTIFY: {
        const xcb_window_t window =
            reinterpret_cast<const xcb_reparent_notify_event_t*>(event)->window;
        if (IsProgramWindow(window)) FReframed.insert(window);
        break;
      }
      case XCB_EXPOSE: {
        const xcb_window_t window = reinterpret_cast<const xcb_expose_event_t*>(event)->window;
        if (FReframed.remove(window)) TellPlace(window);
        break;
      }
      case XCB_DESTROY_NOTIFY:
        FReframed.remove(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window);
        break;
      default:
        break;
    }
    return false;
  }

 private:
  // The notice a window manager sends when it moves a window's frame: the place in the root
  // window's coordinates, which the toolkit takes as said instead of asking the server.
  void TellPlace(xcb_window_t Window) {
    // A window destroyed meanwhile answers neither question, and has no place to be told.
    const TReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(FConnection, xcb_get_geometry(FConnection, Window), nullptr),
        &std::free);
    if (!geometry) return;
    const TReplyPtr<xcb_translate_coordinates_reply_t> place(
        xcb_translate_coordinates_reply(
            FConnection, xcb_translate_coordinates(FConnection, Window, geometry->root, 0, 0),
            nullptr),
        &std::free);
    if (!place) return;
    xcb_configure_notify_event_t notice{};
    notice.response_type = XCB_CONFIGURE_NOTIFY;
    notice.event = Window;
    notice.window = Window;
    notice.above_sibling = XCB_NONE;
    notice.x = place->dst_x;
    notice.y = place->dst_y;
    notice.width = geometry->width;
    notice.height = geometry->height;
    notice.border_width = geometry->border_width;
    // The server sends the 32 bytes of an event, more than this event's fields.
    char sent[32] = {};
    std::memcpy(sent, &notice, sizeof notice);
    xcb_send_event(FConnection, false, Window, XCB_EVENT_MASK_STRUCTURE_NOTIFY, sent);
    xcb_flush(FConnection);
  }

  xcb_connection_t* FConnection;
  // Windows taken into a frame and not yet exposed since.
  QSet<xcb_window_t> FReframed;
};

}  // namespace

void WatchWindowPlaces() {
  static QPointer<TWindowPlaceWatch> Watch;
  auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
  if (Watch || !x11) return;
  Watch = new TWindowPlaceWatch(x11->connection(), qGuiApp);
}
