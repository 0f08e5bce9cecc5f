// tavolent: the administration console. One instance per user and runtime root: a second
// start raises the first console's window and ends.
#include <QApplication>
#include <cstdio>
#include <memory>
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
    ZV_USAGE_SPOOLER_ENVIRONMENT
    "  QT_QPA_PLATFORM        Qt's window system (\"offscreen\" runs without a display)\n" ZV_USAGE_XDG_ENVIRONMENT};

// The console's application object: the single-instance guard, the layout settings through
// which every window reaches the registry, the start-up (the first-run wizard on a server
// never set up, then the main frame) and the exit (the settings written, then the guard
// released with the object).
class CTavolentApp : public QApplication {
 public:
  // Takes the command line and the guard the start acquired.
  CTavolentApp(int& argc, char** argv, zv::sync::NamedGuard guard)
      : QApplication(argc, argv), guard_(std::move(guard)) {}

  // Loads Qt's translations, runs the first-run wizard where the server was never set up
  // and opens the main frame; gives 0 to go on, else the exit code (2 for a cancelled
  // wizard).
  int InitInstance() {
    using namespace zv;
    if (Status s = winmsg::LoadQtTranslations(); !s.ok()) fprintf(stderr, "tavolent: %s\n", s.ToString().c_str());
    pump_ = std::make_unique<winmsg::QtMessagePump>();
    auto spooler = spool::OpenSpooler();
    if (!spooler.ok()) {
      fprintf(stderr, "tavolent: %s\n", spooler.status().ToString().c_str());
      return 1;
    }
    spooler_ = std::move(*spooler);
    auto import = [this](QWidget* owner) { return console::RunAccountImportWizard(owner, ctx_, {}); };
    if (console::RunFirstSetupWizard(ctx_, import, *spooler_) != console::kWizardFinish) return 2;
    frame_ = std::make_unique<console::CMainFrame>(ctx_);
    sink_.set_owner(frame_.get());
    frame_->RegisterWindow();
    frame_->show();
    return 0;
  }

  // Takes the event loop's result; closes the main frame, writes the layout settings and
  // gives the result.
  int ExitInstance(int rc) {
    sink_.set_owner(nullptr);
    frame_.reset();
    settings_.Save();
    return rc;
  }

 private:
  zv::sync::NamedGuard guard_;
  zv::console::CConsoleSettings settings_;
  zv::console::QtMessageSink sink_;
  zv::console::ConsoleContext ctx_{&settings_, &sink_, [] { return zv::engine::TodayDate(); }};
  std::unique_ptr<zv::winmsg::QtMessagePump> pump_;
  std::unique_ptr<zv::spool::Spooler> spooler_;
  std::unique_ptr<zv::console::CMainFrame> frame_;
};

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
  CTavolentApp app(argc, argv, std::move(*guard));
  if (const int rc = app.InitInstance(); rc != 0) return rc;
  return app.ExitInstance(app.exec());
}
