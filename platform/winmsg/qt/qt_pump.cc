#include "platform/winmsg/qt/qt_pump.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>

#include "platform/winmsg/winmsg.h"

namespace zv::winmsg {

QtMessagePump::QtMessagePump(QObject* parent)
    : notifier_(new QSocketNotifier(WakeDescriptor(), QSocketNotifier::Read, parent)),
      timer_(new QTimer(parent)),
      on_quit_([](int code) { QCoreApplication::exit(code); }) {
  timer_->setSingleShot(true);
  QObject::connect(notifier_.data(), &QSocketNotifier::activated, [this] { Pump(); });
  QObject::connect(timer_.data(), &QTimer::timeout, [this] { Pump(); });
  // Whatever arrived before the pump existed is run on the first turn of the loop.
  QTimer::singleShot(0, timer_.data(), [this] { Pump(); });
}

QtMessagePump::~QtMessagePump() {
  delete notifier_.data();
  delete timer_.data();
}

void QtMessagePump::set_quit_handler(std::function<void(int)> on_quit) { on_quit_ = std::move(on_quit); }

void QtMessagePump::Pump() {
  int code = 0;
  if (!PumpMessages(&code) && on_quit_) on_quit_(code);
  ArmTimer();
}

void QtMessagePump::ArmTimer() {
  if (!timer_) return;
  auto due = NextTimerDue();
  if (!due) {
    timer_->stop();
    return;
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now()).count();
  timer_->start(static_cast<int>(std::clamp<long long>(ms + 1, 0, 1 << 30)));
}

}  // namespace zv::winmsg
