// hevrasto-setup: sets a print server's runtime root up for the engine, as the role set-up
// script (install --server) does: the machine key's engine settings, the database's tables
// and the share's folders. Nothing an administrator changed since is undone, so it may run
// again; users, groups and printers are the console's to add.
//   hevrasto-setup [--dsn DSN]

#include <cstdio>
#include <string>
#include <vector>

#include "engine/hevrasto/server_setup.h"
#include "platform/process/usage.h"

namespace {

constexpr zv::process::Usage kUsage{
    "hevrasto-setup",
    "Usage: hevrasto-setup [--dsn DSN]\n"
    "Sets a print server's runtime root up for the engine: the machine key's engine settings,\n"
    "the database's tables and the share's folders (app/share: PrintInfo, Jobs, Result).\n"
    "Settings an administrator made are kept, so it may run again; users, groups and printers\n"
    "are added in the console.\n"
    "\n"
    "Options:\n"
    "  --dsn DSN    keep the print log in this named ODBC data source instead of the embedded\n"
    "               SQLite database (db/zelvora.db)\n"
    "  --help       show this text\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT};

constexpr zv::process::Option kOptions[] = {{"--dsn", zv::process::Option::Kind::kValue}};

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> operands;
  if (auto done = zv::process::CheckOptions({argv + 1, argv + argc}, kOptions, kUsage, &operands)) return *done;
  if (!operands.empty()) return kUsage.Error("unexpected argument " + operands.front());
  zv::engine::ServerSetupOptions o;
  o.demo = false;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--dsn") {
      o.dsn = argv[++i];
      if (o.dsn.empty()) return kUsage.Error("--dsn takes a data source's name");
    }
  }
  auto s = zv::engine::SetUpServer(o);
  if (!s.ok()) {
    std::fprintf(stderr, "hevrasto-setup: %s\n", s.status().ToString().c_str());
    return 1;
  }
  std::printf("share folder: %s\n", s->share.c_str());
  return 0;
}
