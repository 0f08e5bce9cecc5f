#include "engine/hevrasto/server_setup.h"

#include <atomic>
#include <filesystem>

#include "engine/core/clock.h"
#include "engine/db/schema.h"
#include "engine/hevrasto/request_slots.h"
#include "engine/rules/quota_period.h"
#include "engine/rules/settings.h"
#include "jobdoc/image.h"
#include "jobdoc/sample/sample_document.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/odbc/odbc.h"
#include "platform/registry/registry.h"
#include "platform/spool/folder_spooler.h"

namespace zv::engine {
namespace fsys = std::filesystem;

Result<ServerFolders> SetUpServer(const ServerSetupOptions& o) {
  std::string app = o.app_path.empty() ? RuntimeRoot() + "/app" : o.app_path;
  ServerFolders f;
  f.share = app + "/share";
  f.print_info = f.share + "/PrintInfo";
  f.jobs = f.share + "/Jobs";
  f.result = f.share + "/Result";
  f.printers = RuntimeRoot() + "/printers";
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kZelvoraKey);
  if (!key.ok()) return key.status();
  Result<std::string> dsn = o.dsn;
  if (o.dsn.empty()) {
    dsn = SetupEmbeddedDatabase();
  } else if (Status made = SetupDatabase(o.dsn, "", ""); !made.ok()) {
    dsn = made;
  }
  if (!dsn.ok()) return dsn.status();
  Status st = Status::Ok();
  auto set = [&](Status s) {
    if (st.ok() && !s.ok()) st = s;
  };
  set(key->SetString("AppPath", app));
  set(key->SetString("ShareDir", "share"));
  set(key->SetString("DSN", *dsn));
  // A policy value an administrator already set stays on a real server's set-up run again.
  auto policy = [&](const char* name, uint32_t value) {
    if (!o.demo && key->GetValue(name).ok()) return;
    set(key->SetDword(name, value));
  };
  if (o.smtp_port > 0) {
    set(key->SetString("SMTPServer", "127.0.0.1"));
    set(key->SetDword("SMTPPort", static_cast<uint32_t>(o.smtp_port)));
  }
  if (o.demo) {
    set(key->SetString("SenderMailAddress", "zelvora@example.org"));
    set(key->SetString("AdminMailAddress", "admin@example.org"));
  }
  // Mail the user and the administrator, refuse over the limit; show completion and errors.
  policy("LimitAction", 1 | 2 | 4);
  policy("DispMessage", 3);
  policy("CheckRange", EncodeCheckRange(3, 0));
  policy("LimitDate", static_cast<uint32_t>(LastDayOfMonth(TodayDate())));  // a month period
  policy("DupCheck", 0);
  for (const auto& d : {f.print_info, f.jobs, f.result}) set(fs::MakeDirs(d));
  if (!st.ok()) return st;
  if (!o.demo) return f;
  auto c = odbc::Connection::Open(*dsn, "", "");
  if (!c.ok()) return c.status();
  if (o.seed) {
    for (const char* sql :
         {"INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) VALUES (1,'staff',100,30,1)",
          "INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used) VALUES "
          "(1,'alice','Alice',1,3,100,0,'alice@example.org',1),(2,'bob','Bob',1,3,3,0,'bob@example.org',1)"}) {
      auto r = (*c)->Execute(sql, {});
      if (!r.ok()) return r.status();
    }
    auto r =
        (*c)->Execute("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (1,?,0,1)", {odbc::Value(o.printer)});
    if (!r.ok()) return r.status();
  }
  spool::FolderSpooler spooler(f.printers);
  auto printer = spool::StandardFolderPrinter(o.printer);
  printer.caps.resolutions = {{o.printer_dpi, o.printer_dpi}};
  printer.caps.default_resolution = {o.printer_dpi, o.printer_dpi};
  Status added = spooler.AddPrinter(printer);
  if (!added.ok()) return added;
  return f;
}

std::string RequestText(const RequestSpec& s) {
  std::string names, pages;
  for (const auto& j : s.jobs) {
    names += (names.empty() ? "" : "\\") + j.first;
    pages += (pages.empty() ? "" : ",") + std::to_string(j.second);
  }
  std::string t = "[RequestInfo]\r\n";
  t += "AccountName=" + s.account + "\r\nMachineName=" + s.machine + "\r\nJobFileName=" + s.job_file + "\r\n";
  t += "JobName=" + names + "\r\nJobPages=" + pages + "\r\nOrientation=1\r\nThumbnailCount=0\r\nSeparator=0\r\n";
  t += "OffSetSize=0,0,1000\r\nDeviceName=" + s.printer + "\r\nPaperSize=" + std::to_string(s.paper) + "\r\n";
  t += "PrintPages=" + (s.print_pages.empty() ? std::string("0,0") : s.print_pages) + "\r\n";
  t += "Copies=" + std::to_string(s.copies) + "\r\nCollate=0\r\n";
  t += "H_Left=\r\nH_Center=\r\nH_Right=\r\nF_Left=\r\nF_Center=\r\nF_Right=\r\nFontPoint=10\r\nLogFont=\r\n";
  t += "PrintPageMode=1\r\nRotate=\r\n";
  return t;
}

Status WriteSampleJob(const std::string& path, int pages) {
  jobdoc::DocumentImage doc = jobdoc::sample::MakeDocument(pages, 3, false);
  return jobdoc::WriteDocumentData(doc, jobdoc::DocumentWriteMode::kPacked, path);
}

Result<std::string> SubmitRequest(const std::string& print_info, const std::string& text, const fs::Ownership* owner) {
  auto seq = SequenceFile::Lock(print_info, nullptr, 30000);
  if (!seq.ok()) return seq.status();
  auto started = seq->ReadStart();
  int start = started.ok() ? *started : 0;
  for (int i = 0; i < kSlotCount; ++i) {
    int slot = (start + i) % kSlotCount;
    std::string path = print_info + "/" + SlotFileName(slot);
    std::error_code ec;
    if (fsys::exists(path, ec)) continue;
    // Written whole under a name the engine never takes ("order*.lst" it is not), then
    // renamed into the slot while "Sequence.seq" is still held.
    static std::atomic<unsigned> n{0};
    std::string tmp = print_info + "/client-" + std::to_string(getpid()) + "-" + std::to_string(n++) + ".tmp";
    Status w = fs::WriteFileAtomic(tmp, text, 0644, fs::Durability::kSynced, owner);
    if (!w.ok()) return w;
    fsys::rename(tmp, path, ec);
    if (ec) return Status::IOError("rename into " + path + ": " + ec.message());
    return SlotBaseName(slot);
  }
  return Status::Busy("all request slots are taken");
}

}  // namespace zv::engine
