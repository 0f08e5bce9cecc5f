// welmoric: the job monitor. One instance per user and runtime root: a second start opens
// the first one's window and ends.
#include <QApplication>
#include <QMessageBox>
#include <string>
#include <vector>

#include "monitor/welmoric/monitor_window.h"
#include "platform/paths/root_session.h"
#include "platform/process/process.h"
#include "platform/process/usage.h"
#include "platform/sync/guard.h"
#include "platform/winmsg/qt/qt_pump.h"
#include "platform/winmsg/qt/qt_translations.h"

namespace {

constexpr zv::process::Usage kUsage{
    "welmoric",
    "Usage: welmoric [Qt options]\n"
    "The job monitor: shows the print server's answer to each of this user's print jobs.\n"
    "\n"
    "It takes no arguments of its own (--help shows this text); Qt's window options such as\n"
    "-platform NAME or -display HOST:SCREEN are passed to Qt. It sits in the system tray; one\n"
    "runs per user and runtime root, and a second start opens the first one's window. Without a\n"
    "tray it keeps running with its window hidden (its notices also go to standard error) and\n"
    "puts its icon into a tray that appears later.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  ZELVORA_SYSTEM_CONFIG  the machine-wide settings folder (default PREFIX/etc)\n"
    "  QT_QPA_PLATFORM        Qt's window system (\"offscreen\" runs without a display)\n" ZV_USAGE_XDG_ENVIRONMENT};

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  // Answered before the guard and the application object, so no display is needed.
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> operands;
  if (auto done = process::CheckOptions(args, process::WithQtOptions(), kUsage, &operands)) return *done;
  if (!operands.empty()) return kUsage.Error("unexpected argument " + operands.front());
  if (Status s = paths::KeepRootOutOfHome(); !s.ok()) fprintf(stderr, "welmoric: %s\n", s.ToString().c_str());
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
  if (Status s = winmsg::LoadQtTranslations(); !s.ok()) fprintf(stderr, "welmoric: %s\n", s.ToString().c_str());
  app.setQuitOnLastWindowClosed(false);
  winmsg::QtMessagePump pump;
  // Without a tray the notice is written to the error output as well as shown, so a monitor
  // started where no one looks still says why it has no icon.
  monitor::CMainFrame window([](const QString& text) {
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
