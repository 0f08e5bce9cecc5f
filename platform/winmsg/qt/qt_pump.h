// Window messages on the Qt event loop, for window programs: while a QtMessagePump lives,
// the window messages of the thread that made it (sent and posted messages, WM_TIMER) are
// run by that thread's Qt event loop instead of GetMessage. Make it on the thread that owns
// the windows (normally the main thread), after the QCoreApplication exists.
#pragma once

#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>

namespace zv::winmsg {

class QtMessagePump {
 public:
  // Takes an optional Qt parent for the pump's helper objects. Starts delivering at once.
  explicit QtMessagePump(QObject* parent = nullptr);
  ~QtMessagePump();
  QtMessagePump(const QtMessagePump&) = delete;
  QtMessagePump& operator=(const QtMessagePump&) = delete;

  // Takes what to do when PostQuitMessage(code) was called on this thread; by default the
  // Qt event loop is ended with QCoreApplication::exit(code).
  void set_quit_handler(std::function<void(int)> on_quit);

  // Runs everything that waits now (the pump does this by itself when woken).
  void Pump();

 private:
  void ArmTimer();
  // Owned by the pump, or by the parent when one was given and goes first (then null).
  QPointer<QSocketNotifier> notifier_;
  QPointer<QTimer> timer_;
  std::function<void(int)> on_quit_;
};

}  // namespace zv::winmsg
