// The private ODBC configuration of a runtime root: odbcinst.ini (driver names to driver
// libraries) and odbc.ini (data source names) in $ZELVORA_ROOT/odbc/. Connections resolve a
// data source name here first, so nothing under /etc is needed and every root (every test)
// has its own data sources. The files use the unixODBC format, so `ODBCSYSINI=<dir>
// ODBCINI=<dir>/odbc.ini isql NAME` works against them too.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/base/status.h"

namespace zv::odbc {

// Gives the folder of the private configuration: $ZELVORA_ROOT/odbc.
std::string ConfigDir();

// Gives the full path of a driver library by its file name ("libsqlite3odbc.so"), searched
// in the usual ODBC driver folders; empty when none holds it.
std::string FindDriverLibrary(const std::string& file_name);

// Writes odbcinst.ini of the private configuration with the drivers "SQLite3",
// "PostgreSQL Unicode" and "PostgreSQL ANSI" (those whose library is installed), without
// communication logs. Creates the folder. Atomic (temporary file and rename).
Status WriteDriverConfig();

// Adds or replaces the data source `name` in the private odbc.ini: `driver` is a driver
// name of odbcinst.ini, `attributes` the further key/value pairs. Writes the driver
// configuration first when it is missing. Atomic.
Status AddDataSource(const std::string& name, const std::string& driver,
                     const std::vector<std::pair<std::string, std::string>>& attributes);

// Adds the data source `name` for the SQLite database file `database_path` through the
// "SQLite3" driver, with a busy timeout so that several processes can share the file. A path
// holding ";", "{" or "}" is refused (the driver cannot take it).
Status AddSqliteDataSource(const std::string& name, const std::string& database_path);

// Gives a connection string for the data source `name` of the private odbc.ini, with the
// driver named by its library path; nullopt when the private odbc.ini does not have it.
std::optional<std::string> DataSourceConnectionString(const std::string& name);

// Gives `connection_string` with a "Driver=<name>" attribute replaced by the library path
// of the private odbcinst.ini, when that names the driver; otherwise unchanged.
std::string ResolveConnectionString(const std::string& connection_string);

}  // namespace zv::odbc
