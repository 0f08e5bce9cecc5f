// Test harness for the engine program: a runtime root with the registry key, the embedded
// database (users, a group, printers), a folder printer "Office", the share's folders and a
// local SMTP server; starts and stops a real hevrasto process and plays the client's part
// (job document into the jobs folder, request through a temporary name into a free slot).
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/db/zvm_database.h"
#include "engine/hevrasto/server_setup.h"
#include "platform/fs/files.h"
#include "platform/mail/testing/smtp_server.h"
#include "platform/odbc/odbc.h"
#include "platform/process/process.h"
#include "platform/registry/registry.h"
#include "platform/testing/temp_root.h"

namespace zv::engine::testing {

using engine::RequestSpec;

class EngineHarness {
 public:
  // Sets up the root (`root` must outlive the harness) and the SMTP server at `smtp_port`;
  // `options` choose the database (the embedded one unless a data source is named).
  EngineHarness(const zv::testing::TempRoot& root, int smtp_port, ServerSetupOptions options = {});
  ~EngineHarness();

  std::string share() const { return root_.str() + "/app/share"; }
  std::string print_info() const { return share() + "/PrintInfo"; }
  std::string jobs() const { return share() + "/Jobs"; }
  std::string result() const { return share() + "/Result"; }
  std::string printers() const { return root_.str() + "/printers"; }

  // Sets a DWORD value of the engine's registry key (the engine reads it before its next batch).
  void SetDword(const std::string& name, uint32_t value) { ASSERT_TRUE(key_->SetDword(name, value).ok()); }
  // Runs one SQL statement on the database.
  void Sql(const std::string& sql);
  // Gives the print-log rows, ascending ID.
  std::vector<PrintLogRecord> PrintLog();

  // Starts hevrasto and waits until it runs ("Wakeup.inf" present). Extra environment
  // entries are added.
  void StartEngine(std::vector<std::string> env = {});
  // Closes the engine's window and waits for the process to end; gives its exit code.
  int StopEngine();
  // Kills the engine (SIGKILL) and waits for it.
  void KillEngine();
  process::Process& engine() { return *engine_; }

  // Writes a job document of `pages` pages into the jobs folder.
  void WriteJob(const std::string& name, int pages);
  // Writes raw bytes as a job file.
  void WriteJobBytes(const std::string& name, const std::string& bytes);
  // Gives the request text of a order.
  static std::string RequestText(const RequestSpec& order) { return engine::RequestText(order); }
  // Places a request text into the first free slot as the client does; gives the slot's
  // base name ("order07").
  // With `owner`, the request file is first handed to that owner.
  std::string Submit(const std::string& text, const fs::Ownership* owner = nullptr);
  // Places a file under any name in the request folder (through a temporary name).
  void PlaceFile(const std::string& name, const std::string& text);

  // Waits until the answer "<account>-<machine>.ans" exists with the monitor copy of
  // `slot` and no request file is left in that slot; gives the answer's text.
  std::string WaitForAnswer(const std::string& account, const std::string& machine, const std::string& slot,
                            int timeout_ms = 30000);
  // Waits up to timeout_ms until `path` is gone; gives whether it is.
  static bool WaitGone(const std::string& path, int timeout_ms = 10000);
  // Gives "Result=N" of an answer text as N (-1 without one).
  static int ResultCode(const std::string& answer);
  // Gives the PDF files printed on "Office" so far.
  std::vector<std::string> PrintedPdfs();

  mail::testing::SmtpServer* smtp = nullptr;

 private:
  const zv::testing::TempRoot& root_;
  std::optional<registry::Key> key_;
  ServerFolders folders_;
  std::unique_ptr<odbc::Connection> conn_;
  std::optional<process::Process> engine_;
  std::string source_;  // the database's data source
};

}  // namespace zv::engine::testing
