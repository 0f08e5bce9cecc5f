// tavolent: the administration console. One instance per user and runtime root: a second
// start raises the first console's window and ends.
#include <QApplication>
#include <cstdio>

#include "console/tavolent/console_frame.h"
#include "console/tavolent/dialogs.h"
#include "engine/core/clock.h"
#include "platform/sync/guard.h"
#include "platform/winmsg/qt/qt_pump.h"

int main(int argc, char** argv) {
  using namespace zv;
  Result<sync::NamedGuard> guard = sync::NamedGuard::TryAcquire(console::kConsoleGuard);
  if (!guard.ok()) {
    if (guard.status().code() == Status::Code::kBusy) {
      winmsg::HWND first = winmsg::FindWindow(console::kConsoleTitle, console::kConsoleTitle);
      if (first != 0) winmsg::SetForegroundWindow(first);
      return 0;
    }
    fprintf(stderr, "tavolent: %s\n", guard.status().ToString().c_str());
    return 1;
  }
  console::CConsoleSettings settings;
  // The first-run wizard is not part of this program yet: the console runs only on a
  // system whose set-up wrote the lock flag or the lock password.
  int32_t flag = 0;
  std::string scrambled;
  if (!settings.GetLogEnv1(&flag) && !settings.GetLogEnv2(&scrambled)) {
    fprintf(stderr, "tavolent: the system is not set up (no \"LogEnv1\" or \"LogEnv2\")\n");
    return 2;
  }
  QApplication app(argc, argv);
  winmsg::QtMessagePump pump;
  console::QtMessageSink sink;
  console::ConsoleContext ctx{&settings, &sink, [] { return engine::TodayDate(); }};
  console::CMainFrame frame(ctx);
  sink.set_owner(&frame);
  frame.RegisterWindow();
  frame.show();
  const int rc = app.exec();
  settings.Save();
  return rc;
}
