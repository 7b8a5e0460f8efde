#include "app/hosting.h"

#include <QGuiApplication>
#include <cstdlib>
#include <string>
#include <xcb/xcb.h>

#include "platform/error.h"

namespace tvs {
namespace {

// Qt's own connection to the X server; null when Qt runs on another platform.
xcb_connection_t* X11Connection() {
  if (!qGuiApp) return nullptr;
  auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
  return x11 ? x11->connection() : nullptr;
}

int HexDigit(QChar c) {
  const char16_t u = c.unicode();
  if (u >= '0' && u <= '9') return u - '0';
  if (u >= 'a' && u <= 'f') return u - 'a' + 10;
  if (u >= 'A' && u <= 'F') return u - 'A' + 10;
  return -1;
}

// False when `id` names no window; otherwise true, with the event mask this
// client has selected on it in `mask` (when given).
bool QueryEventMask(xcb_connection_t* connection, HostHandle id, uint32_t* mask) {
  xcb_generic_error_t* error = nullptr;
  xcb_get_window_attributes_reply_t* reply = xcb_get_window_attributes_reply(
      connection, xcb_get_window_attributes(connection, id), &error);
  std::free(error);
  if (!reply) return false;
  if (mask) *mask = reply->your_event_mask;
  std::free(reply);
  return true;
}

}  // namespace

HostHandle ParseHostHandle(const QString& text) {
  const std::string shown = text.toStdString();
  if (text.isEmpty()) {
    throw Error("Falta el identificador de la ventana anfitriona (segundo parámetro)");
  }
  std::uint64_t value = 0;
  for (const QChar c : text) {
    const int digit = HexDigit(c);
    if (digit < 0) {
      throw Error("El identificador de la ventana anfitriona \"" + shown +
                  "\" no es un número hexadecimal válido (solo cifras 0-9 y letras A-F, "
                  "sin prefijo ni signo)");
    }
    value = value * 16 + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFu) {
      throw Error("El identificador de la ventana anfitriona \"" + shown +
                  "\" es demasiado grande para una ventana (máximo FFFFFFFF)");
    }
  }
  return static_cast<HostHandle>(value);
}

bool ForeignWindowExists(HostHandle id) {
  xcb_connection_t* connection = X11Connection();
  return connection && id != 0 && QueryEventMask(connection, id, nullptr);
}

ForeignWindowWatcher::ForeignWindowWatcher(HostHandle id, QObject* parent)
    : QObject(parent), id_(id) {
  xcb_connection_t* connection = X11Connection();
  uint32_t mask = 0;
  if (!connection || id == 0 || !QueryEventMask(connection, id, &mask)) return;
  // Each client has its own event mask on a window: adding structure events
  // to ours leaves the host's own selection alone.
  mask |= XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_generic_error_t* error = xcb_request_check(
      connection, xcb_change_window_attributes_checked(connection, id, XCB_CW_EVENT_MASK, &mask));
  if (error) {
    std::free(error);
    return;
  }
  QCoreApplication::instance()->installNativeEventFilter(this);
  watching_ = true;
}

ForeignWindowWatcher::~ForeignWindowWatcher() {
  if (watching_ && QCoreApplication::instance()) {
    QCoreApplication::instance()->removeNativeEventFilter(this);
  }
}

bool ForeignWindowWatcher::nativeEventFilter(const QByteArray& event_type, void* message,
                                             qintptr*) {
  if (reported_ || event_type != "xcb_generic_event_t") return false;
  const auto* event = static_cast<const xcb_generic_event_t*>(message);
  if ((event->response_type & 0x7F) != XCB_DESTROY_NOTIFY) return false;
  const auto* destroy = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
  if (destroy->window != id_) return false;
  reported_ = true;
  emit foreignWindowDestroyed();
  return false;  // Qt may want to see it too
}

}  // namespace tvs
