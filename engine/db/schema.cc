#include "engine/db/schema.h"

#include <filesystem>

#include "platform/base/root.h"
#include "platform/odbc/odbc_config.h"

namespace zv::engine {

Status CreateSchema(odbc::Connection& conn) {
  // Plain types that SQLite and PostgreSQL both read the same way; names unquoted so that
  // PostgreSQL folds them to lower case and every query finds them in any spelling.
  static const char* const kStatements[] = {
      "CREATE TABLE IF NOT EXISTS Main (UID INTEGER PRIMARY KEY, Account TEXT NOT NULL, UserName TEXT,"
      " GID INTEGER DEFAULT 0, CountShubetsu SMALLINT DEFAULT 0, MaxPages INTEGER DEFAULT 0,"
      " MaxPages_Color INTEGER DEFAULT 0, Mail TEXT, Used SMALLINT DEFAULT 1)",
      "CREATE TABLE IF NOT EXISTS Groups (GID INTEGER PRIMARY KEY, GroupName TEXT, MaxPages INTEGER DEFAULT 0,"
      " MaxPages_Color INTEGER DEFAULT 0, Used SMALLINT DEFAULT 1)",
      "CREATE TABLE IF NOT EXISTS Printers (PID INTEGER PRIMARY KEY, PrinterName TEXT NOT NULL,"
      " Ptype INTEGER DEFAULT 0, Used SMALLINT DEFAULT 1)",
      "CREATE TABLE IF NOT EXISTS PrintLog (ID INTEGER PRIMARY KEY, UID INTEGER NOT NULL, PID INTEGER,"
      " PDate DATE NOT NULL, PTime TIME NOT NULL, JobName TEXT, SpoolName TEXT, Pages INTEGER DEFAULT 0,"
      " Ptype INTEGER DEFAULT 0, ThumbnailCount INTEGER DEFAULT 0, PaperSize INTEGER DEFAULT 0,"
      " JobPages INTEGER DEFAULT 0)",
      kCreateKeptTableSql,
      // Lookups by name compare lower-cased names.
      "CREATE INDEX IF NOT EXISTS IX_Main_Account ON Main (LOWER(Account))",
      "CREATE INDEX IF NOT EXISTS IX_Printers_Name ON Printers (LOWER(PrinterName))",
      // The duplicate search finds a user's rows of one day through this index.
      "CREATE INDEX IF NOT EXISTS IX_PrintLog_User ON PrintLog (UID, PDate, Ptype, Pages)",
      // The quota check's sum of one kind seeks the user's rows of that kind in the period
      // and reads nothing else.
      "CREATE INDEX IF NOT EXISTS IX_PrintLog_Kind ON PrintLog (UID, Ptype, PDate, Pages)",
  };
  for (const char* sql : kStatements) {
    auto r = conn.Execute(sql);
    if (!r.ok()) return r.status();
  }
  return Status::Ok();
}

Status SetupDatabase(const std::string& source, const std::string& account, const std::string& password) {
  auto c = odbc::Connection::Open(source, account, password);
  if (!c.ok()) return c.status();
  return CreateSchema(**c);
}

Result<std::string> SetupEmbeddedDatabase(const std::string& name, const std::string& database_path) {
  std::string path = database_path.empty() ? RuntimeRoot() + "/db/zelvora.db" : database_path;
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  if (ec) return Status::IOError("cannot create the folder of " + path + ": " + ec.message());
  Status s = odbc::AddSqliteDataSource(name, path);
  if (!s.ok()) return s;
  s = SetupDatabase(name, "", "");
  if (!s.ok()) return s;
  return name;
}

}  // namespace zv::engine
