// ostrane: the client main program. One instance per runtime root (guard "Ostrane"): a
// second start hands its document to the first instance as copy-data and raises it, then
// ends. Reads "AutoPrint" from the machine key and "LogOutput" (the trace switch), parses
// the command line, opens the job and shows the frame (hidden in an unattended run).
// "--help" prints the usage.
#include <QApplication>
#include <QStatusBar>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "client/app/main_frame.h"
#include "client/app/qt_prompt.h"
#include "client/app/start_args.h"
#include "client/config.h"
#include "client/qt/status_popup.h"
#include "platform/paths/paths.h"
#include "platform/paths/root_session.h"
#include "platform/process/process.h"
#include "platform/process/usage.h"
#include "platform/registry/registry.h"
#include "platform/sync/guard.h"
#include "platform/winmsg/qt/qt_pump.h"
#include "platform/winmsg/qt/qt_translations.h"
#include "platform/winmsg/winmsg.h"

namespace {

using namespace zv;

constexpr process::Usage kUsage{
    "ostrane",
    "Usage: ostrane [DOCUMENT] [/n TITLE]\n"
    "The client: shows a job document and sends it to the print server.\n"
    "\n"
    "Arguments (a switch is \"-x\" or \"/x\", either case; no other argument is one):\n"
    "  DOCUMENT   the job document to open (the last one given wins)\n"
    "  -N, /n     every argument after it is the job's title, never a switch\n"
    "  -D, -P     the arguments after it are the document (the default)\n"
    "  --help     show this text\n"
    "A second start hands its document to the running client and ends.\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT
    "  ZELVORA_SYSTEM_CONFIG  the machine-wide settings folder (default PREFIX/etc)\n"
    "  QT_QPA_PLATFORM        Qt's window system (\"offscreen\" runs without a display)\n" ZV_USAGE_XDG_ENVIRONMENT};

// Gives the running frame's platform window, or 0.
winmsg::HWND RunningFrame() {
  for (winmsg::HWND h : winmsg::EnumWindows())
    if (winmsg::GetClassName(h) == client::app::kFrameClass && winmsg::GetProp(h, client::app::kFrameProperty) != 0)
      return h;
  return 0;
}

// A second start: the job goes to the first instance before this one ends, so none is
// dropped. Gives the exit code.
int HandToFirstInstance(const client::app::StartArgs& args) {
  winmsg::HWND frame = RunningFrame();
  if (frame == 0) {
    std::fprintf(stderr, "ostrane: another instance holds the guard but shows no window\n");
    return 1;
  }
  if (!args.doc_path.empty()) {
    const std::string text = client::app::FormatCopyData(args.doc_path, args.job_name);
    winmsg::COPYDATASTRUCT cds{};
    cds.cbData = static_cast<std::uint32_t>(text.size() + 1);
    cds.lpData = text.c_str();
    auto r = winmsg::SendMessageTimeout(frame, winmsg::WM_COPYDATA, 0, reinterpret_cast<winmsg::LPARAM>(&cds),
                                        std::chrono::milliseconds(10000));
    if (!r.ok() || *r == 0) {
      std::fprintf(stderr, "ostrane: the running instance did not take %s\n", args.doc_path.c_str());
      winmsg::SetForegroundWindow(frame);
      return 1;
    }
  }
  winmsg::SetForegroundWindow(frame);
  // The job is with the running client: for whoever started this one, it was taken.
  process::SignalReady();
  return 0;
}

bool ReadAutoPrint() {
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, client::kMachineKey);
  if (!key.ok()) return false;
  auto v = key->GetDword("AutoPrint");
  return v.ok() && *v == 1;
}

// The application object: holds the one-instance guard for the program's life, loads Qt's
// translations, runs the window-message pump and reads the two machine-wide switches
// ("AutoPrint" and "LogOutput") once at start.
class COstraneApp : public QApplication {
 public:
  // Takes the command line and the guard the start acquired.
  COstraneApp(int& argc, char** argv, sync::NamedGuard guard) : QApplication(argc, argv), guard_(std::move(guard)) {}

  // Loads the translations (a missing catalogue is reported and Qt's texts stay as they
  // are), starts the message pump and reads the switches.
  void InitInstance() {
    if (Status s = winmsg::LoadQtTranslations(); !s.ok()) std::fprintf(stderr, "ostrane: %s\n", s.ToString().c_str());
    pump_ = std::make_unique<winmsg::QtMessagePump>();
    auto_print_ = ReadAutoPrint();
    trace_ = client::app::ReadLogOutput(jobdoc::RegistryMachineSettings());
  }

  bool auto_print() const { return auto_print_; }
  bool trace() const { return trace_; }

 private:
  sync::NamedGuard guard_;
  std::unique_ptr<winmsg::QtMessagePump> pump_;
  bool auto_print_ = false;
  bool trace_ = false;
};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> raw(argv + 1, argv + argc);
  const client::app::StartArgs args = client::app::ParseStartArguments(raw);
  // Answered before the guard and the application object: no display, no running client.
  if (args.option == "--help") return kUsage.Help();
  if (!args.option.empty()) return kUsage.Error("unknown option " + args.option);
  if (Status s = paths::KeepRootOutOfHome(); !s.ok()) std::fprintf(stderr, "ostrane: %s\n", s.ToString().c_str());

  auto guard = sync::NamedGuard::TryAcquire("Ostrane");
  if (!guard.ok()) {
    if (guard.status().code() == Status::Code::kBusy) return HandToFirstInstance(args);
    std::fprintf(stderr, "ostrane: %s\n", guard.status().ToString().c_str());
    return 1;
  }

  COstraneApp app(argc, argv, std::move(*guard));
  // The frame ends the program itself (on_close): a message box or the progress window
  // closing while the frame is hidden must not start the application's own quit, which
  // closes the frame behind the user's back.
  app.setQuitOnLastWindowClosed(false);
  app.InitInstance();
  client::app::QtPrompt prompt;
  client::app::FrameOptions options;
  options.prompt = &prompt;
  options.auto_print = app.auto_print();
  options.trace = app.trace();
  if (auto tmp = paths::TempFolder(); tmp.ok()) options.capture_folder = *tmp;
  options.on_close = [] { QCoreApplication::exit(0); };
  // The printer-status service posts its outcomes to the interface thread; the popup sits
  // under the frame's status line. The frame is made after the service (it holds the
  // hooks), so the anchor reaches it through a pointer set once it exists.
  client::app::CMainFrame* frame_ptr = nullptr;
  client::StatusPopup popup;
  client::QtStatusDisplay display(&popup, [&frame_ptr] {
    if (frame_ptr == nullptr) return QPoint();
    QWidget* bar = frame_ptr->statusBar();
    return bar->mapToGlobal(QPoint(0, bar->height() + 2));
  });
  client::PrinterStatusService status(client::QtPoster(&app), &display);
  client::app::ServiceStatusSource status_source(&status);
  options.status = &status_source;
  client::app::CMainFrame frame(options);
  frame_ptr = &frame;
  if (!frame.StartUp(args)) return 1;
  prompt.set_owner(&frame);
  // The resident program that started this client waits for its window: it exists now.
  process::SignalReady();
  if (!options.auto_print) {
    frame.show();
    frame.raise();
  } else {
    // Unattended: print the job at once; the frame shows itself when the run fails.
    QTimer::singleShot(200, &frame, &client::app::CMainFrame::Print);
  }
  return app.exec();
}
