// tavolent: the administration console. One instance per user and runtime root: a second
// start raises the first console's window and ends.
#include <QApplication>
#include <cstdio>
#include <string>
#include <vector>

#include "console/tavolent/account_import.h"
#include "console/tavolent/console_frame.h"
#include "console/tavolent/dialogs.h"
#include "console/tavolent/first_run_wizard.h"
#include "engine/core/clock.h"
#include "platform/paths/root_session.h"
#include "platform/process/usage.h"
#include "platform/sync/guard.h"
#include "platform/winmsg/qt/qt_pump.h"
#include "platform/winmsg/qt/qt_translations.h"

namespace {

constexpr zv::process::Usage kUsage{
    "tavolent",
    "Usage: tavolent [Qt options]\n"
    "The administration console: users, groups, printers, limits and the print log of the server.\n"
    "\n"
    "It takes no arguments of its own (--help shows this text); Qt's window options such as\n"
    "-platform NAME, -display HOST:SCREEN or -style NAME are passed to Qt. One console runs per\n"
    "user and runtime root: a second start raises the first one's window. A server never set up\n"
    "runs the first-run wizard first (exit code 2 when it is cancelled).\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  ZELVORA_SPOOLER        the printers: \"folder\" (folder printers, the default) or \"cups\"\n"
    "  QT_QPA_PLATFORM        Qt's window system (\"offscreen\" runs without a display)\n" ZV_USAGE_XDG_ENVIRONMENT};

}  // namespace

int main(int argc, char** argv) {
  using namespace zv;
  // Answered before the guard and the application object, so no display is needed.
  const std::vector<std::string> args(argv + 1, argv + argc);
  std::vector<std::string> operands;
  if (auto done = process::CheckOptions(args, process::WithQtOptions(), kUsage, &operands)) return *done;
  if (!operands.empty()) return kUsage.Error("unexpected argument " + operands.front());
  if (Status s = paths::KeepRootOutOfHome(); !s.ok()) fprintf(stderr, "tavolent: %s\n", s.ToString().c_str());
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
  if (Status s = winmsg::LoadQtTranslations(); !s.ok()) fprintf(stderr, "tavolent: %s\n", s.ToString().c_str());
  winmsg::QtMessagePump pump;
  console::QtMessageSink sink;
  console::ConsoleContext ctx{&settings, &sink, [] { return engine::TodayDate(); }};
  // A server never set up runs the first-run wizard before the main window opens.
  auto spooler = spool::OpenSpooler();
  if (!spooler.ok()) {
    fprintf(stderr, "tavolent: %s\n", spooler.status().ToString().c_str());
    return 1;
  }
  auto import = [&ctx](QWidget* owner) { return console::RunAccountImportWizard(owner, ctx, {}); };
  if (console::RunFirstSetupWizard(ctx, import, **spooler) != console::kWizardFinish) return 2;
  console::CMainFrame frame(ctx);
  sink.set_owner(&frame);
  frame.RegisterWindow();
  frame.show();
  const int rc = app.exec();
  settings.Save();
  return rc;
}
