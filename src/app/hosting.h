// Hosted mode on X11: Tavoleno hands the converter the id of one of its
// windows, and the main window sits inside it as a borderless child.
//
// Re-parenting into another program's window needs the X11 platform of Qt
// (xcb). Under a Wayland session run the program through XWayland
// (QT_QPA_PLATFORM=xcb); on any other platform the window cannot be placed
// inside a foreign window, and it stays a borderless top-level window.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QString>
#include <cstdint>

namespace tvs {

// An X11 window id (xcb_window_t): 32 bits.
using HostHandle = std::uint32_t;

// Reads the host handle of the command line: hexadecimal digits only, either
// letter case, no prefix ("0x"), no sign and no blanks, at most 32 bits
// ("1A2B" is the window 6699). Throws Error naming the text otherwise.
HostHandle ParseHostHandle(const QString& text);

// True when the program runs on X11 and the X server knows a window with this
// id. Never raises an X error: an unknown id just answers false.
bool ForeignWindowExists(HostHandle id);

// Watches a foreign X11 window and emits foreignWindowDestroyed() once when its program
// (or the X server) destroys it. Does nothing off X11 or for an id that names
// no window.
class ForeignWindowWatcher : public QObject, public QAbstractNativeEventFilter {
  Q_OBJECT

 public:
  explicit ForeignWindowWatcher(HostHandle id, QObject* parent = nullptr);
  ~ForeignWindowWatcher() override;
  ForeignWindowWatcher(const ForeignWindowWatcher&) = delete;
  ForeignWindowWatcher& operator=(const ForeignWindowWatcher&) = delete;

  bool nativeEventFilter(const QByteArray& event_type, void* message, qintptr* result) override;

 signals:
  void foreignWindowDestroyed();

 private:
  HostHandle id_;
  bool watching_ = false;
  bool reported_ = false;
};

}  // namespace tvs
