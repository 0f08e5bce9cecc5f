// A small C++ layer over unixODBC: connections, statements with bound parameters, forward
// reading of result rows by column name, transactions and the driver's diagnostic texts.
// Dates and times always travel as ODBC date/time values, never as text in the SQL.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "platform/base/status.h"

namespace zv::odbc {

struct Date {
  int year = 0;
  int month = 0;
  int day = 0;
};

struct Time {
  int hour = 0;
  int minute = 0;
  int second = 0;
};

struct Null {};

// One bound parameter value.
using Value = std::variant<Null, int64_t, std::string, Date, Time>;

class Connection;

// The rows of one executed SELECT, read forward once. Values arrive as text (the driver
// converts numbers, dates "YYYY-MM-DD" and times "HH:MM:SS"); SQL NULL is std::nullopt.
class Rows {
 public:
  ~Rows();
  Rows(const Rows&) = delete;
  Rows& operator=(const Rows&) = delete;

  // Moves to the next row. Gives true when a row is there, false at the end, or an error
  // (its diagnostics also land in the connection's Diagnostics()).
  Result<bool> Next();

  // Number of result columns.
  int ColumnCount() const { return static_cast<int>(names_.size()); }
  // Name of column i (0-based) as the driver reports it (PostgreSQL gives lower case).
  const std::string& ColumnName(int i) const { return names_.at(i); }
  // Index of the column named `name` without regard to ASCII case, or -1.
  int FindColumn(const std::string& name) const;
  // Value of column i of the current row; nullopt for NULL or a bad index.
  const std::optional<std::string>& Get(int i) const;
  // Value of the column named `name` (any case); nullopt for NULL or an unknown column.
  const std::optional<std::string>& Get(const std::string& name) const;

 private:
  friend class Connection;
  Rows(Connection* conn, void* stmt, bool owned);
  Connection* conn_;
  void* stmt_;
  bool owned_;  // false: the connection's prepared statement, only closed at the end
  std::vector<std::string> names_;
  std::vector<std::optional<std::string>> values_;
};

// One open connection to a data source. Not shared between threads.
class Connection {
 public:
  ~Connection();
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  // Opens a connection. `source` is either a data source name, first looked up in the
  // private odbc.ini under $ZELVORA_ROOT/odbc/ (see odbc_config.h) and otherwise passed to
  // the driver manager as "DSN=<name>", or a whole connection string (it holds "="). `user`
  // and `password` are added as UID/PWD when not empty. On failure the Status message holds
  // the driver's diagnostics joined by "; " and `diagnostics` (when given) gets them one
  // per line.
  static Result<std::unique_ptr<Connection>> Open(const std::string& source, const std::string& user,
                                                  const std::string& password,
                                                  std::vector<std::string>* diagnostics = nullptr);

  // Runs a statement that returns no rows with the `?` parameters bound in order. Gives the
  // number of rows affected (-1 when the driver cannot tell).
  Result<int64_t> Execute(const std::string& sql, const std::vector<Value>& params = {});

  // Runs a SELECT with bound parameters and hands back its rows. Only one Rows object per
  // connection may be open at a time; destroy it before the next statement. The connection
  // keeps the statement prepared (its 32 most recent ones) and executes it again when the
  // same text comes back.
  Result<std::unique_ptr<Rows>> Query(const std::string& sql, const std::vector<Value>& params = {});

  // Transactions: Begin switches autocommit off; Commit and Rollback end the transaction
  // and switch it back on.
  Status Begin();
  Status Commit();
  Status Rollback();

  // The driver's name for its database product, e.g. "SQLite" or "PostgreSQL".
  const std::string& DbmsName() const { return dbms_; }

  // The diagnostic texts of the last failed call on this connection (empty after success).
  const std::vector<std::string>& Diagnostics() const { return diagnostics_; }
  // The SQLSTATEs of those diagnostics, in the same order (e.g. "23505" for a unique key
  // that PostgreSQL refused, whatever language its messages are in).
  const std::vector<std::string>& DiagnosticStates() const { return states_; }

  // Whether a transaction begun with Begin is still open.
  bool InTransaction() const { return in_transaction_; }

 private:
  friend class Rows;
  friend Result<std::unique_ptr<Connection>> AcquireConnection(const std::string&, const std::string&,
                                                               const std::string&, std::vector<std::string>*, bool*);
  friend void ReleaseConnection(std::unique_ptr<Connection>);
  Connection() = default;
  static std::string ConnectionString(const std::string& source, const std::string& user, const std::string& password);
  std::string pool_key_;
  bool in_transaction_ = false;
  Status Fail(short handle_type, void* handle, const std::string& what);
  // A new statement handle with `params` bound (statements that return no rows).
  Result<void*> Prepare(const std::vector<Value>& params, std::vector<std::vector<char>>* buffers);
  Status Bind(void* stmt, const std::vector<Value>& params, std::vector<std::vector<char>>* buffers);
  // The connection's prepared statement for `sql` (prepared now when not kept yet).
  Result<void*> PreparedStatement(const std::string& sql);
  void ForgetPrepared(void* stmt);
  static constexpr size_t kPreparedKept = 32;
  std::vector<std::pair<std::string, void*>> prepared_;  // least recently used first
  void* dbc_ = nullptr;
  std::string dbms_;
  std::vector<std::string> diagnostics_;
  std::vector<std::string> states_;
  bool rows_open_ = false;
};

// Gives how often this process has asked a database for something so far: connections
// opened, statements executed and transactions ended, each a round trip to a server.
uint64_t RoundTrips();

// A process-wide pool of idle connections, so that short-lived users of the database (one
// object per unit of work) do not pay for a new connection each time. Connections are
// keyed by their resolved connection string, account and password: a data source that is
// pointed elsewhere never hands out a connection to its old target.

// Takes an idle connection of the same source from the pool (one that has idled less than
// 30 seconds) or opens a new one as Connection::Open does. *reused (when given) tells which.
Result<std::unique_ptr<Connection>> AcquireConnection(const std::string& source, const std::string& user,
                                                      const std::string& password,
                                                      std::vector<std::string>* diagnostics = nullptr,
                                                      bool* reused = nullptr);

// Gives a connection back: kept for reuse (at most 4 per source) unless it holds an open
// transaction or result, else closed.
void ReleaseConnection(std::unique_ptr<Connection> connection);

// Closes every idle connection of the pool (e.g. before the database file is moved).
void ClearConnectionPool();

}  // namespace zv::odbc
