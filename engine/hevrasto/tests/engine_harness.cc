#include "engine/hevrasto/tests/engine_harness.h"
#include "platform/testing/bin_dir.h"

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "engine/db/schema.h"
#include "engine/hevrasto/main_frame.h"
#include "engine/rules/settings.h"
#include "platform/fs/files.h"
#include "platform/winmsg/winmsg.h"

namespace zv::engine::testing {
namespace fsys = std::filesystem;

namespace {
template <typename Pred>
bool WaitFor(Pred pred, int timeout_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}
}  // namespace

EngineHarness::EngineHarness(const zv::testing::TempRoot& root, int smtp_port, ServerSetupOptions options)
    : root_(root), source_(options.dsn.empty() ? std::string(kEmbeddedDataSource) : options.dsn) {
  options.smtp_port = smtp_port;
  auto folders = SetUpServer(options);
  EXPECT_TRUE(folders.ok()) << folders.status().ToString();
  if (folders.ok()) folders_ = *folders;
  auto key = registry::Key::Create(registry::RootKey::kLocalMachine, kZelvoraKey);
  EXPECT_TRUE(key.ok());
  key_ = *key;
  auto c = odbc::Connection::Open(source_, "", "");
  EXPECT_TRUE(c.ok());
  if (c.ok()) conn_ = std::move(*c);
}

EngineHarness::~EngineHarness() {
  if (engine_ && engine_->Running()) KillEngine();
}

void EngineHarness::Sql(const std::string& sql) {
  auto r = conn_->Execute(sql, {});
  ASSERT_TRUE(r.ok()) << sql << ": " << r.status().ToString();
}

std::vector<PrintLogRecord> EngineHarness::PrintLog() {
  CZvmDatbase db(source_, "", "");
  std::vector<PrintLogRecord> rows;
  std::unique_ptr<odbc::Rows> r;
  bool empty = true;
  if (!db.ExecuteQuery("SELECT ID,UID,PID,PDate,PTime,JobName,SpoolName,Pages,Ptype,JobPages FROM PrintLog ORDER BY ID",
                       {}, &r, &empty))
    return rows;
  while (!empty) {
    PrintLogRecord p;
    auto num = [&](const char* n) { return atoi(r->Get(std::string(n)).value_or("0").c_str()); };
    p.ID = num("ID");
    p.UID = num("UID");
    p.PID = num("PID");
    p.JobName = r->Get(std::string("JobName")).value_or("");
    p.SpoolName = r->Get(std::string("SpoolName")).value_or("");
    p.Pages = num("Pages");
    p.JobPages = num("JobPages");
    rows.push_back(p);
    auto more = r->Next();
    empty = !more.ok() || !*more;
  }
  return rows;
}

void EngineHarness::StartEngine(std::vector<std::string> env) {
  const std::string bin = zv::testing::BinDir();
  ::unlink((print_info() + "/Wakeup.inf").c_str());
  process::StartOptions o;
  o.argv = {bin + "/hevrasto", "-ZelvoraPrintService"};
  o.env = std::move(env);
  o.env.push_back("ZELVORA_ENGINE_RESCAN_MS=300");
  o.ready_signal = true;
  o.output_file = root_.str() + "/hevrasto.out";
  auto p = process::Start(o);
  ASSERT_TRUE(p.ok()) << p.status().ToString();
  engine_ = std::move(*p);
  ASSERT_TRUE(engine_->WaitReady(20000).ok());
  ASSERT_TRUE(WaitFor([&] { return fsys::exists(print_info() + "/Wakeup.inf"); }, 10000));
}

int EngineHarness::StopEngine() {
  winmsg::HWND w = winmsg::FindWindow(kEngineWindowClass, nullptr);
  EXPECT_NE(w, 0u);
  winmsg::PostMessage(w, winmsg::WM_CLOSE, 0, 0);
  auto code = engine_->Wait(30000);
  EXPECT_TRUE(code.ok());
  return code.ok() ? *code : -1;
}

void EngineHarness::KillEngine() {
  EXPECT_TRUE(engine_->Kill(9).ok());
  EXPECT_TRUE(engine_->Wait(10000).ok());
}

void EngineHarness::WriteJob(const std::string& name, int pages) {
  ASSERT_TRUE(WriteSampleJob(jobs() + "/" + name, pages).ok());
}

void EngineHarness::WriteJobBytes(const std::string& name, const std::string& bytes) {
  ASSERT_TRUE(fs::WriteFileAtomic(jobs() + "/" + name, bytes).ok());
}

std::string EngineHarness::Submit(const std::string& text, const fs::Ownership* owner) {
  auto slot = SubmitRequest(print_info(), text, owner);
  EXPECT_TRUE(slot.ok()) << slot.status().ToString();
  return slot.ok() ? *slot : "";
}

void EngineHarness::PlaceFile(const std::string& name, const std::string& text) {
  std::string tmp = print_info() + "/place.tmp";
  ASSERT_TRUE(fs::WriteFileAtomic(tmp, text).ok());
  fsys::rename(tmp, print_info() + "/" + name);
}

std::string EngineHarness::WaitForAnswer(const std::string& account, const std::string& machine,
                                         const std::string& slot, int timeout_ms) {
  std::string ans = result() + "/" + account + "-" + machine + ".ans";
  std::string an2 = result() + "/" + slot + "-" + account + "-" + machine + ".an2";
  std::string req = print_info() + "/" + slot + ".lst";
  bool ok = WaitFor([&] { return fsys::exists(ans) && fsys::exists(an2) && !fsys::exists(req); }, timeout_ms);
  EXPECT_TRUE(ok) << "no answer for " << slot;
  auto text = fs::ReadFile(ans);
  return text.ok() ? *text : "";
}

bool EngineHarness::WaitGone(const std::string& path, int timeout_ms) {
  return WaitFor([&] { return !fsys::exists(path); }, timeout_ms);
}

int EngineHarness::ResultCode(const std::string& answer) {
  size_t p = answer.find("Result=");
  return p == std::string::npos ? -1 : atoi(answer.c_str() + p + 7);
}

std::vector<std::string> EngineHarness::PrintedPdfs() {
  std::vector<std::string> out;
  std::error_code ec;
  for (const auto& d : fsys::recursive_directory_iterator(printers(), ec)) {
    if (d.path().extension() == ".pdf") out.push_back(d.path().string());
  }
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace zv::engine::testing
