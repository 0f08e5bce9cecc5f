// tavolent-db: a small command-line look at the console's data, for a person to try the
// console's table access without windows.
//
//   tavolent-db [--dsn SOURCE] users            live users with their resolved limits
//   tavolent-db [--dsn SOURCE] groups           live groups
//   tavolent-db [--dsn SOURCE] printers         every printer row
//   tavolent-db [--dsn SOURCE] pages [FIRST LAST]   pages per user (days yyyymmdd; default all)
//
// The data source, account and password come from the registry ("DSN", "UID", "PWD" of the
// machine key under $ZELVORA_ROOT) unless --dsn names a source.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "console/core/registry_config.h"
#include "console/db/console_database.h"
#include "console/rules/user_list.h"
#include "platform/process/usage.h"

namespace {

int Fail(zv::console::CConsoleDatabase& db) {
  for (const auto& line : db.ErrorLines) std::fprintf(stderr, "%s\n", line.c_str());
  return 1;
}

constexpr zv::process::Usage kUsage{
    "tavolent-db",
    "Usage: tavolent-db [--dsn SOURCE] users|groups|printers|pages [FIRST LAST]\n"
    "       tavolent-db mark-set-up\n"
    "Lists the console's data on the command line: the console's table access without windows.\n"
    "\n"
    "Commands:\n"
    "  users              live users with their resolved limits\n"
    "  groups             live groups\n"
    "  printers           every printer row\n"
    "  pages [FIRST LAST] pages per user, between the days FIRST and LAST (yyyymmdd; default all)\n"
    "  mark-set-up        mark a server set up by other means as set up (the console then skips\n"
    "                     its first-run wizard)\n"
    "Options:\n"
    "  --dsn SOURCE       the ODBC data source (default \"DSN\", \"UID\" and \"PWD\" of the\n"
    "                     machine key)\n"
    "  --help             show this text\n"
    "\n"
    "Environment:\n" ZV_USAGE_ROOT_ENVIRONMENT};

constexpr zv::process::Option kOptions[] = {{"--dsn", zv::process::Option::Kind::kValue}};

int Usage() { return kUsage.Error("wrong command line"); }

}  // namespace

int main(int argc, char** argv) {
  using namespace zv::console;
  std::vector<std::string> args(argv + 1, argv + argc);
  if (auto done = zv::process::CheckOptions(args, kOptions, kUsage)) return *done;
  CConsoleSettings settings;
  std::string dsn, uid, pwd;
  if (args.size() >= 2 && args[0] == "--dsn") {
    dsn = args[1];
    args.erase(args.begin(), args.begin() + 2);
  } else {
    settings.GetDSN(&dsn);
    settings.GetUID(&uid);
    settings.GetPWD(&pwd);
  }
  if (args.empty()) return Usage();
  // A system set up by other means (the demo's set-up tool) is marked set up by an unlocked
  // settings lock, as the first-run wizard's last step leaves it.
  if (args[0] == "mark-set-up") {
    int32_t locked = 0;
    std::string scrambled;
    if (settings.GetLogEnv1(&locked) || settings.GetLogEnv2(&scrambled)) return 0;
    if (!settings.SetLogEnv1(0)) {
      std::fprintf(stderr, "tavolent-db: cannot store LogEnv1\n");
      return 1;
    }
    return 0;
  }
  CConsoleDatabase db(dsn, uid, pwd);
  const std::string& what = args[0];

  LimitContext ctx;
  int32_t v = 0;
  if (settings.GetMaxPages(&v)) ctx.system.mono = v;
  if (settings.GetMaxPages_Color(&v)) ctx.system.color = v;
  std::vector<GroupRecord> groups;
  std::map<int32_t, GroupRecord> group_of;
  if (what == "users" || what == "groups" || what == "pages") {
    if (!db.GetGroupInfo(&groups, 0, 1)) return Fail(db);
    for (const auto& g : groups) group_of[g.GID] = g;
  }

  if (what == "groups") {
    std::printf("GID\tGroupName\tMaxPages\tMaxPages_Color\n");
    for (const auto& g : groups)
      std::printf("%d\t%s\t%d\t%d\n", g.GID, g.GroupName.c_str(), g.MaxPages, g.MaxPages_Color);
    return 0;
  }
  if (what == "printers") {
    std::vector<PrinterRecord> printers;
    if (!db.GetPrinterInfo(&printers, 0, -1)) return Fail(db);
    std::printf("PID\tPrinterName\tPtype\tUsed\n");
    for (const auto& p : printers) std::printf("%d\t%s\t%d\t%d\n", p.PID, p.PrinterName.c_str(), p.Ptype, p.Used);
    return 0;
  }
  if (what != "users" && what != "pages") return Usage();
  int32_t first = 0, last = 0;
  if (what == "pages" && args.size() == 3) {
    first = std::atoi(args[1].c_str());
    last = std::atoi(args[2].c_str());
  } else if (args.size() != 1) {
    return Usage();
  }
  std::vector<UserRecord> users;
  if (!db.GetUserInfo(&users, 0, 1)) return Fail(db);
  std::vector<UserPageRow> rows;
  for (const auto& u : users) {
    UserPageRow r;
    static_cast<UserRecord&>(r) = u;
    rows.push_back(std::move(r));
  }
  if (what == "pages" && !db.SumUserPages(&rows, first, last)) return Fail(db);
  std::printf(what == "users" ? "UID\tAccount\tUserName\tGID\tColor\tMono\n" : "UID\tAccount\tColor/Mono(Jobs)\n");
  for (const auto& r : rows) {
    LimitContext c = ctx;
    auto g = group_of.find(r.GID);
    if (g != group_of.end()) c.group = {g->second.MaxPages, g->second.MaxPages_Color};
    if (what == "users") {
      std::printf("%d\t%s\t%s\t%d\t%s\t%s\n", r.UID, r.Account.c_str(), r.UserName.c_str(), r.GID,
                  UserCellText(r, 2, c, {}).c_str(), UserCellText(r, 3, c, {}).c_str());
    } else {
      std::printf("%d\t%s\t%s\n", r.UID, r.Account.c_str(), UserCellText(r, 4, c, {}).c_str());
    }
  }
  return 0;
}
