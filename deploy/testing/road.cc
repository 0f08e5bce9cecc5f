#include "deploy/testing/road.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <thread>

#include "engine/rules/settings.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/registry/registry.h"
#include "platform/spool/folder_spooler.h"

namespace zv::deploy::testing {

bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::string Sql(const std::string& dsn, const std::string& sql) {
  auto c = odbc::Connection::Open(dsn, "", "");
  if (!c.ok()) return c.status().ToString();
  auto r = (*c)->Execute(sql, {});
  return r.ok() ? "" : sql + ": " + r.status().ToString();
}

std::string AddUsers(const std::string& dsn, const std::vector<std::string>& accounts) {
  std::string users;
  int uid = 11;
  for (const auto& name : accounts)
    users += std::string(users.empty() ? "" : ",") + "(" + std::to_string(uid++) + ",'" + name + "','" + name +
             "',1,3,100,0,'',1)";
  for (const std::string& sql :
       {std::string("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) SELECT 1,'staff',100,30,1 "
                    "WHERE NOT EXISTS (SELECT 1 FROM Groups WHERE GID=1)"),
        "INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) VALUES " + users})
    if (std::string e = Sql(dsn, sql); !e.empty()) return e;
  return "";
}

std::string ServerDsn(const DeployedMachine& machine, std::string* dsn) {
  ::setenv("ZELVORA_ROOT", machine.server_root().c_str(), 1);
  auto key = registry::Key::Open(registry::RootKey::kLocalMachine, engine::kZelvoraKey);
  if (!key.ok()) return "the server's registry key: " + key.status().ToString();
  auto source = key->GetString("DSN");
  if (!source.ok()) return "the server's data source: " + source.status().ToString();
  *dsn = *source;
  return "";
}

std::string SetUpUsers(const DeployedMachine& machine, std::string* dsn) {
  if (std::string e = ServerDsn(machine, dsn); !e.empty()) return e;
  std::vector<std::string> names;
  for (const auto& a : machine.users()) names.push_back(a.name);
  if (std::string e = AddUsers(*dsn, names); !e.empty()) return e;
  for (const auto& a : machine.users()) {
    std::string out;
    if (machine.Run(&a, {machine.prefix() + "/bin/ostrane-send", "autoprint", "on"}, &out) != 0)
      return "ostrane-send autoprint on as " + a.name + ": " + out;
  }
  return "";
}

std::string AddOfficePrinter(const DeployedMachine& machine, const std::string& dsn) {
  if (std::string e = Sql(dsn,
                          "INSERT INTO Printers (PID,PrinterName,Ptype,Used) SELECT 1,'Office',0,1 "
                          "WHERE NOT EXISTS (SELECT 1 FROM Printers WHERE PID=1)");
      !e.empty())
    return e;
  spool::FolderSpooler spooler(machine.printers());
  auto office = spool::StandardFolderPrinter("Office");
  office.caps.resolutions = {{150, 150}};
  office.caps.default_resolution = {150, 150};
  if (Status st = spooler.AddPrinter(office); !st.ok()) return "the folder printer: " + st.ToString();
  if (Status st = fs::WriteFileAtomic(machine.share() + "/PrintInfo/printers.lst", "[PRINTERS]\r\nOffice=\r\n");
      !st.ok())
    return "printers.lst: " + st.ToString();
  return "";
}

std::string SetUpOffice(const DeployedMachine& machine, std::string* dsn) {
  if (std::string e = SetUpUsers(machine, dsn); !e.empty()) return e;
  return AddOfficePrinter(machine, *dsn);
}

std::map<std::string, long long> SavedDocuments(const Account& who) {
  std::map<std::string, long long> out;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(who.home + "/.local/state/zelvora/app", ec)) {
    struct stat st {};
    if (e.path().extension() == ".prc" && ::stat(e.path().c_str(), &st) == 0)
      out[e.path().string()] = st.st_mtim.tv_sec * 1000000000LL + st.st_mtim.tv_nsec;
  }
  return out;
}

std::string ChangedDocument(const std::map<std::string, long long>& before,
                            const std::map<std::string, long long>& after) {
  std::string found;
  for (const auto& [path, stamp] : after) {
    auto it = before.find(path);
    if (it != before.end() && it->second == stamp) continue;
    found = found.empty() ? path : "several";
  }
  return found;
}

std::vector<Sent> SendAtOnce(const std::vector<Sender>& senders, double* seconds, std::chrono::seconds limit) {
  std::vector<Sent> out(senders.size());
  std::vector<process::Process> running(senders.size());
  const auto start = std::chrono::steady_clock::now();
  for (std::size_t i = 0; i < senders.size(); ++i) {
    const Sender& s = senders[i];
    auto p = s.machine->StartAs(s.who,
                                {s.machine->prefix() + "/bin/ostrane-send", "send", "--printer", "Office", "--count",
                                 std::to_string(s.count), "--tag", s.tag, "--wait", "300", s.document},
                                {}, "send-" + s.tag);
    if (!p.ok()) {
      out[i].output = p.status().ToString();
      continue;
    }
    running[i] = std::move(*p);
  }
  const auto end = start + limit;
  for (std::size_t i = 0; i < senders.size(); ++i) {
    if (running[i].pid() <= 0) continue;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    auto code = running[i].Wait(static_cast<int>(std::max<long long>(left.count(), 1)));
    if (!code.ok()) {
      (void)running[i].Kill();
      (void)running[i].Wait(10000);
    }
    out[i].exit_code = code.ok() ? *code : -1;
  }
  if (seconds) *seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  for (std::size_t i = 0; i < senders.size(); ++i)
    if (auto text = fs::ReadFile(senders[i].machine->dir() + "/log/send-" + senders[i].tag + ".out"); text.ok())
      out[i].output += *text;
  return out;
}

void WritePdf(const std::string& path, const std::vector<Page>& pages) {
  cairo_surface_t* s = cairo_pdf_surface_create(path.c_str(), pages[0].width, pages[0].height);
  cairo_t* cr = cairo_create(s);
  for (const auto& p : pages) {
    cairo_pdf_surface_set_size(s, p.width, p.height);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_select_font_face(cr, "DejaVu Sans", CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    cairo_set_font_size(cr, 40);
    cairo_move_to(cr, 72, 100);
    cairo_show_text(cr, p.text.c_str());
    cairo_show_page(cr);
  }
  cairo_destroy(cr);
  cairo_surface_destroy(s);
  ::chmod(path.c_str(), 0644);
}

}  // namespace zv::deploy::testing
