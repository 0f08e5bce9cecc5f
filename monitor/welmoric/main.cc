// welmoric: the job monitor. One instance per user and runtime root: a second start opens
// the first one's window and ends.
#include <QApplication>
#include <QMessageBox>

#include "monitor/welmoric/monitor_window.h"
#include "platform/process/process.h"
#include "platform/sync/guard.h"
#include "platform/winmsg/qt/qt_pump.h"

int main(int argc, char** argv) {
  using namespace zv;
  Result<sync::NamedGuard> guard = sync::NamedGuard::TryAcquire(monitor::kAppTitle);
  if (!guard.ok()) {
    if (guard.status().code() == Status::Code::kBusy) {
      winmsg::HWND first = winmsg::FindWindow(monitor::kAppTitle, nullptr);
      if (first != 0)
        (void)winmsg::SendMessageTimeout(first, monitor::kWmCommand, monitor::kCmdShowMonitor, 0,
                                         std::chrono::milliseconds(5000));
      return 0;
    }
    return 1;
  }
  QApplication app(argc, argv);
  app.setQuitOnLastWindowClosed(false);
  winmsg::QtMessagePump pump;
  // Without a tray the notice is written to the error output as well as shown, so a monitor
  // started where no one looks still says why its window is open.
  monitor::MonitorWindow window([](const QString& text) {
    fprintf(stderr, "welmoric: %s\n", text.toUtf8().constData());
    if (QGuiApplication::platformName() != "offscreen") {
      auto* box = new QMessageBox(QMessageBox::Information, monitor::kAppTitle, text, QMessageBox::Ok);
      box->setAttribute(Qt::WA_DeleteOnClose);
      box->show();
    }
  });
  if (!window.ok()) return 1;
  // Each result shown is also written to the error output, one line, for logs and demos.
  window.set_on_shown([](const monitor::ResultPopupText& t) {
    std::string line = "welmoric: [" + t.title + "]";
    for (const std::string& l : t.lines) line += " " + l;
    fprintf(stderr, "%s\n", line.c_str());
  });
  process::SignalReady();
  return app.exec();
}
