// Creating the system database: the tables Main, Groups, Printers and PrintLog and the
// indexes that the lookups, the period sums and the duplicate search use, on SQLite (the
// embedded default, one file under the runtime root) and on PostgreSQL.
#pragma once

#include <string>

#include "platform/base/status.h"
#include "platform/odbc/odbc.h"

namespace zv::engine {

// The data source name of the embedded database.
inline constexpr char kEmbeddedDataSource[] = "Zelvora";

// The engine's own table beside the print log: the identity of each kept file of
// print-log rows whose rows are stored, so that a file stored once is never stored again.
inline constexpr char kCreateKeptTableSql[] =
    "CREATE TABLE IF NOT EXISTS PrintLogKept (KeptID VARCHAR(100) PRIMARY KEY)";

// Creates the four tables (and PrintLogKept) and their indexes where missing (existing ones are kept).
Status CreateSchema(odbc::Connection& conn);

// Connects to `source` with `account` and `password` and runs CreateSchema.
Status SetupDatabase(const std::string& source, const std::string& account, const std::string& password);

// Sets up the embedded database: the file `database_path` (default
// $ZELVORA_ROOT/db/zelvora.db; its folder is created), the data source `name` for it in the
// private odbc.ini, and the tables. Gives the data source name to store as "DSN".
Result<std::string> SetupEmbeddedDatabase(const std::string& name = kEmbeddedDataSource,
                                          const std::string& database_path = "");

}  // namespace zv::engine
