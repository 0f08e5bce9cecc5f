// hevrasto-demo: sets up a server on the embedded defaults and plays the client's part for
// the demo script.
//   hevrasto-demo setup [--no-seed] [--dsn DSN]
//                                    registry, database, folder printer, share folders;
//                                    --no-seed: a real server's set-up (the key, the
//                                    database's tables, the share's folders; no sample users,
//                                    printer or folder printer; settings already made kept);
//                                    --dsn: a named ODBC data source instead of the embedded
//                                    database
//   hevrasto-demo submit PAGES       a sample job of PAGES pages as alice on "demo-pc";
//                                    prints the slot's base name
//   hevrasto-demo wait SLOT          waits for the answer; prints it and the printed PDFs
//   hevrasto-demo close              closes the engine's window
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "engine/hevrasto/main_frame.h"
#include "engine/hevrasto/server_setup.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/process/usage.h"
#include "platform/winmsg/winmsg.h"

namespace {
namespace fsys = std::filesystem;
using namespace zv::engine;

constexpr zv::process::Usage kUsage{
    "hevrasto-demo",
    "Usage: hevrasto-demo setup [--no-seed] [--dsn DSN] | submit PAGES | wait SLOT | close\n"
    "Sets up a server on the embedded defaults and plays the client's part for the demo.\n"
    "\n"
    "Commands:\n"
    "  setup          the registry, database, folder printer \"Office\" and share folders\n"
    "    --no-seed    a real server's set-up: the key, the database's tables and the share's\n"
    "                 folders, without the demo's users, printer and mail addresses\n"
    "    --dsn DSN    a named ODBC data source instead of the embedded database\n"
    "  submit PAGES   place a sample job of PAGES pages (1 to 1000) as alice on \"demo-pc\";\n"
    "                 prints the request slot's base name\n"
    "  wait SLOT      wait up to 60 s for the slot's answer; prints it and the printed PDFs\n"
    "  close          close the engine's window\n"
    "  --help         show this text\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT};

constexpr zv::process::Option kOptions[] = {{"--no-seed"}, {"--dsn", zv::process::Option::Kind::kValue}};

int Fail(const std::string& what) {
  fprintf(stderr, "hevrasto-demo: %s\n", what.c_str());
  return 1;
}

ServerFolders Folders() {
  std::string share = zv::RuntimeRoot() + "/app/share";
  return ServerFolders{share, share + "/PrintInfo", share + "/Jobs", share + "/Result",
                       zv::RuntimeRoot() + "/printers"};
}

}  // namespace

int main(int argc, char** argv) {
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, kOptions, kUsage)) return *done;
  std::string cmd = argc > 1 ? argv[1] : "";
  ServerFolders f = Folders();
  if (cmd == "setup") {
    ServerSetupOptions o;
    for (int i = 2; i < argc; ++i) {
      std::string a = argv[i];
      if (a == "--no-seed") {
        o.demo = false;
      } else if (a == "--dsn" && i + 1 < argc && *argv[i + 1]) {
        o.dsn = argv[++i];
      } else {
        return kUsage.Error("unknown setup option " + a);
      }
    }
    auto s = SetUpServer(o);
    if (!s.ok()) return Fail(s.status().ToString());
    printf("share folder: %s\n", s->share.c_str());
    if (o.demo) printf("folder printer: %s/Office\n", s->printers.c_str());
    return 0;
  }
  if (cmd == "submit" && argc > 2) {
    int pages = atoi(argv[2]);
    if (pages < 1 || pages > 1000) return Fail("pages must be 1 to 1000");
    zv::Status w = WriteSampleJob(f.jobs + "/demo.prc", pages);
    if (!w.ok()) return Fail(w.ToString());
    RequestSpec order{"alice", "demo-pc", "demo.prc", {{"Demo report", pages}}};
    auto slot = SubmitRequest(f.print_info, RequestText(order));
    if (!slot.ok()) return Fail(slot.status().ToString());
    printf("%s\n", slot->c_str());
    return 0;
  }
  if (cmd == "wait" && argc > 2) {
    std::string slot = argv[2];
    std::string ans = f.result + "/alice-demo-pc.ans";
    std::string an2 = f.result + "/" + slot + "-alice-demo-pc.an2";
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!(fsys::exists(ans) && fsys::exists(an2))) {
      if (std::chrono::steady_clock::now() > deadline) return Fail("no answer within 60 s");
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    auto text = zv::fs::ReadFile(ans);
    if (!text.ok()) return Fail(text.status().ToString());
    printf("answer %s:\n%s\n", ans.c_str(), text->c_str());
    std::error_code ec;
    for (const auto& e : fsys::recursive_directory_iterator(f.printers, ec))
      if (e.path().extension() == ".pdf")
        printf("printed: %s (%ju bytes)\n", e.path().c_str(), static_cast<uintmax_t>(e.file_size(ec)));
    return 0;
  }
  if (cmd == "close") {
    zv::winmsg::HWND w = zv::winmsg::FindWindow(kEngineWindowClass, nullptr);
    if (w == 0) return Fail("no engine window");
    zv::winmsg::PostMessage(w, zv::winmsg::WM_CLOSE, 0, 0);
    return 0;
  }
  return kUsage.Error(cmd.empty() ? "no command" : "wrong command line");
}
