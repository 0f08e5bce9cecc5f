// tavolent: the administration console. One instance per user and runtime root: a second
// start raises the first console's window and ends.
#include <QApplication>
#include <cstdio>

#include "console/tavolent/console_frame.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/first_run_wizard.h"
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
  QApplication app(argc, argv);
  winmsg::QtMessagePump pump;
  console::QtMessageSink sink;
  console::ConsoleContext ctx{&settings, &sink, [] { return engine::TodayDate(); }};
  // A server never set up runs the first-run wizard before the main window opens.
  auto spooler = spool::OpenSpooler();
  if (!spooler.ok()) {
    fprintf(stderr, "tavolent: %s\n", spooler.status().ToString().c_str());
    return 1;
  }
  if (console::RunFirstSetupWizard(ctx, nullptr, **spooler) != console::kWizardFinish) return 2;
  console::CMainFrame frame(ctx);
  sink.set_owner(&frame);
  frame.RegisterWindow();
  frame.show();
  const int rc = app.exec();
  settings.Save();
  return rc;
}
