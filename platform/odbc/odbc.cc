#include "platform/odbc/odbc.h"
#include "platform/base/ascii.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include "platform/odbc/odbc_config.h"

namespace zv::odbc {
namespace {

SQLHENV Environment() {
  static SQLHENV env = [] {
    SQLHENV e = SQL_NULL_HENV;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &e))) return SQLHENV{};
    SQLSetEnvAttr(e, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
    return e;
  }();
  return env;
}

// Gives the diagnostic texts of a handle, one per record; their SQLSTATEs go to *states in
// the same order when given.
std::vector<std::string> CollectDiagnostics(SQLSMALLINT type, SQLHANDLE handle,
                                            std::vector<std::string>* states = nullptr) {
  std::vector<std::string> out;
  if (states) states->clear();
  if (handle == nullptr) return out;
  for (SQLSMALLINT i = 1; i < 50; ++i) {
    SQLCHAR state[8] = {0};
    SQLCHAR msg[1024] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN r = SQLGetDiagRec(type, handle, i, state, &native, msg, sizeof msg, &len);
    if (!SQL_SUCCEEDED(r)) break;
    std::string text = reinterpret_cast<char*>(msg);
    if (states) states->emplace_back(reinterpret_cast<char*>(state));
    out.push_back(text.empty() ? std::string("SQLSTATE ") + reinterpret_cast<char*>(state) : text);
  }
  return out;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string s;
  for (const auto& l : lines) {
    if (!s.empty()) s += "; ";
    s += l;
  }
  return s;
}

// Quotes a connection-string attribute value when it holds characters that would end it.
std::string AttrValue(const std::string& v) {
  if (v.find_first_of(";{}=") == std::string::npos && (v.empty() || (v.front() != ' ' && v.back() != ' '))) return v;
  std::string q = "{";
  for (char c : v) {
    q += c;
    if (c == '}') q += '}';
  }
  return q + "}";
}

const std::optional<std::string> kNoValue;

std::atomic<uint64_t> round_trips{0};
void CountRoundTrip() { round_trips.fetch_add(1, std::memory_order_relaxed); }

}  // namespace

// ---------------------------------------------------------------------------------------
Rows::Rows(Connection* conn, void* stmt, bool owned) : conn_(conn), stmt_(stmt), owned_(owned) {}

Rows::~Rows() {
  if (stmt_) {
    SQLFreeStmt(static_cast<SQLHSTMT>(stmt_), SQL_CLOSE);
    // A prepared statement the connection keeps is only closed, for its next execution.
    if (owned_) SQLFreeHandle(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(stmt_));
  }
  if (conn_) conn_->rows_open_ = false;
}

int Rows::FindColumn(const std::string& name) const {
  for (size_t i = 0; i < names_.size(); ++i)
    if (EqualsNoCase(names_[i], name)) return static_cast<int>(i);
  return -1;
}

const std::optional<std::string>& Rows::Get(int i) const {
  if (i < 0 || static_cast<size_t>(i) >= values_.size()) return kNoValue;
  return values_[i];
}

const std::optional<std::string>& Rows::Get(const std::string& name) const { return Get(FindColumn(name)); }

Result<bool> Rows::Next() {
  auto* st = static_cast<SQLHSTMT>(stmt_);
  values_.assign(names_.size(), std::nullopt);
  SQLRETURN r = SQLFetch(st);
  if (r == SQL_NO_DATA) return false;
  if (!SQL_SUCCEEDED(r)) return conn_->Fail(SQL_HANDLE_STMT, st, "fetch");
  for (size_t c = 0; c < names_.size(); ++c) {
    std::string value;
    bool is_null = false;
    char buf[512];
    for (;;) {
      SQLLEN ind = 0;
      r = SQLGetData(st, static_cast<SQLUSMALLINT>(c + 1), SQL_C_CHAR, buf, sizeof buf, &ind);
      if (r == SQL_NO_DATA) break;
      if (!SQL_SUCCEEDED(r)) return conn_->Fail(SQL_HANDLE_STMT, st, "read column " + names_[c]);
      if (ind == SQL_NULL_DATA) {
        is_null = true;
        break;
      }
      if (r == SQL_SUCCESS_WITH_INFO && (ind == SQL_NO_TOTAL || ind >= static_cast<SQLLEN>(sizeof buf))) {
        value.append(buf, sizeof buf - 1);  // the buffer holds a part and its terminator
        continue;
      }
      size_t n = ind < 0 ? std::strlen(buf) : static_cast<size_t>(ind);
      if (n > sizeof buf - 1) n = sizeof buf - 1;
      value.append(buf, n);
      break;
    }
    if (!is_null) values_[c] = std::move(value);
  }
  conn_->diagnostics_.clear();
  conn_->states_.clear();
  return true;
}

// ---------------------------------------------------------------------------------------
Connection::~Connection() {
  for (auto& p : prepared_) SQLFreeHandle(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(p.second));
  if (dbc_) {
    auto* dbc = static_cast<SQLHDBC>(dbc_);
    // Roll back first: with a transaction open some drivers refuse to disconnect and others commit it.
    SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  }
}

Status Connection::Fail(short handle_type, void* handle, const std::string& what) {
  diagnostics_ = CollectDiagnostics(handle_type, handle, &states_);
  std::string msg = what;
  if (!diagnostics_.empty()) msg += ": " + Join(diagnostics_);
  return Status::IOError(msg);
}

std::string Connection::ConnectionString(const std::string& source, const std::string& user,
                                         const std::string& password) {
  std::string conn_str;
  if (source.find('=') != std::string::npos) {
    conn_str = ResolveConnectionString(source);
  } else if (auto resolved = DataSourceConnectionString(source)) {
    conn_str = *resolved;
  } else {
    conn_str = "DSN=" + AttrValue(source);
  }
  if (!user.empty()) conn_str += ";UID=" + AttrValue(user);
  if (!password.empty()) conn_str += ";PWD=" + AttrValue(password);
  return conn_str;
}

Result<std::unique_ptr<Connection>> Connection::Open(const std::string& source, const std::string& user,
                                                     const std::string& password,
                                                     std::vector<std::string>* diagnostics) {
  if (diagnostics) diagnostics->clear();
  SQLHENV env = Environment();
  if (env == nullptr) {
    if (diagnostics) diagnostics->push_back("the ODBC environment could not be made");
    return Status::IOError("the ODBC environment could not be made");
  }
  if (source.empty()) {
    if (diagnostics) diagnostics->push_back("no data source given");
    return Status::InvalidArgument("no data source given");
  }
  std::string conn_str = ConnectionString(source, user, password);

  std::unique_ptr<Connection> c(new Connection());
  SQLHDBC dbc = SQL_NULL_HDBC;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc))) {
    if (diagnostics) diagnostics->push_back("the ODBC connection handle could not be made");
    return Status::IOError("the ODBC connection handle could not be made");
  }
  c->dbc_ = dbc;
  c->pool_key_ = conn_str;
  // An unreachable server would otherwise hold the caller for the driver's own, often long, timeout.
  SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, reinterpret_cast<SQLPOINTER>(10), 0);
  CountRoundTrip();
  SQLRETURN r = SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(conn_str.data()),
                                 static_cast<SQLSMALLINT>(conn_str.size()), nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT);
  if (!SQL_SUCCEEDED(r)) {
    Status s = c->Fail(SQL_HANDLE_DBC, dbc, "connect to " + source);
    if (diagnostics) *diagnostics = c->diagnostics_;
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    c->dbc_ = nullptr;
    return s;
  }
  char name[128] = {0};
  SQLSMALLINT len = 0;
  if (SQL_SUCCEEDED(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, &len))) c->dbms_ = name;
  return c;
}

Result<void*> Connection::Prepare(const std::vector<Value>& params, std::vector<std::vector<char>>* buffers) {
  diagnostics_.clear();
  states_.clear();
  if (rows_open_) return Status::Busy("a result of this connection is still open");
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(dbc_), &st)))
    return Fail(SQL_HANDLE_DBC, dbc_, "statement handle");
  Status bound = Bind(st, params, buffers);
  if (!bound.ok()) {
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return bound;
  }
  return static_cast<void*>(st);
}

Status Connection::Bind(void* stmt, const std::vector<Value>& params, std::vector<std::vector<char>>* buffers) {
  auto* st = static_cast<SQLHSTMT>(stmt);
  buffers->reserve(params.size() * 2);
  // Each parameter gets a value buffer and an indicator buffer that live until the statement ends.
  auto alloc = [&](size_t n) -> char* {
    buffers->emplace_back(n + 1, 0);
    return buffers->back().data();
  };
  for (size_t i = 0; i < params.size(); ++i) {
    auto* ind = reinterpret_cast<SQLLEN*>(alloc(sizeof(SQLLEN)));
    SQLRETURN r = SQL_SUCCESS;
    SQLUSMALLINT n = static_cast<SQLUSMALLINT>(i + 1);
    const Value& v = params[i];
    if (std::holds_alternative<Null>(v)) {
      *ind = SQL_NULL_DATA;
      r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 1, 0, nullptr, 0, ind);
    } else if (auto* iv = std::get_if<int64_t>(&v)) {
      auto* p = reinterpret_cast<SQLBIGINT*>(alloc(sizeof(SQLBIGINT)));
      *p = *iv;
      *ind = 0;
      // Values that fit 32 bits go as INTEGER, which every driver compares with integer columns.
      if (*iv >= INT32_MIN && *iv <= INT32_MAX) {
        auto* q = reinterpret_cast<SQLINTEGER*>(p);
        *q = static_cast<SQLINTEGER>(*iv);
        r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, q, 0, ind);
      } else {
        r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, p, 0, ind);
      }
    } else if (auto* sv = std::get_if<std::string>(&v)) {
      char* p = alloc(sv->size());
      std::memcpy(p, sv->data(), sv->size());
      *ind = static_cast<SQLLEN>(sv->size());
      // Drivers refuse a column size of 0, so an empty string is bound as a one-character column.
      SQLULEN col = sv->empty() ? 1 : sv->size();
      r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, col, 0, p,
                           static_cast<SQLLEN>(sv->size() + 1), ind);
    } else if (auto* dv = std::get_if<Date>(&v)) {
      auto* p = reinterpret_cast<SQL_DATE_STRUCT*>(alloc(sizeof(SQL_DATE_STRUCT)));
      p->year = static_cast<SQLSMALLINT>(dv->year);
      p->month = static_cast<SQLUSMALLINT>(dv->month);
      p->day = static_cast<SQLUSMALLINT>(dv->day);
      *ind = 0;
      r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, p, 0, ind);
    } else if (auto* tv = std::get_if<Time>(&v)) {
      auto* p = reinterpret_cast<SQL_TIME_STRUCT*>(alloc(sizeof(SQL_TIME_STRUCT)));
      p->hour = static_cast<SQLUSMALLINT>(tv->hour);
      p->minute = static_cast<SQLUSMALLINT>(tv->minute);
      p->second = static_cast<SQLUSMALLINT>(tv->second);
      *ind = 0;
      r = SQLBindParameter(st, n, SQL_PARAM_INPUT, SQL_C_TYPE_TIME, SQL_TYPE_TIME, 8, 0, p, 0, ind);
    }
    if (!SQL_SUCCEEDED(r)) return Fail(SQL_HANDLE_STMT, st, "bind parameter " + std::to_string(n));
  }
  return Status::Ok();
}

Result<void*> Connection::PreparedStatement(const std::string& sql) {
  diagnostics_.clear();
  states_.clear();
  if (rows_open_) return Status::Busy("a result of this connection is still open");
  for (size_t i = 0; i < prepared_.size(); ++i) {
    if (prepared_[i].first != sql) continue;
    // Most recently used last: the first is the one given up when the cache is full.
    std::rotate(prepared_.begin() + static_cast<std::ptrdiff_t>(i),
                prepared_.begin() + static_cast<std::ptrdiff_t>(i) + 1, prepared_.end());
    return prepared_.back().second;
  }
  SQLHSTMT st = SQL_NULL_HSTMT;
  if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, static_cast<SQLHDBC>(dbc_), &st)))
    return Fail(SQL_HANDLE_DBC, dbc_, "statement handle");
  SQLRETURN r = SQLPrepare(st, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  if (!SQL_SUCCEEDED(r)) {
    Status s = Fail(SQL_HANDLE_STMT, st, "prepare");
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    return s;
  }
  if (prepared_.size() >= kPreparedKept) {
    SQLFreeHandle(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(prepared_.front().second));
    prepared_.erase(prepared_.begin());
  }
  prepared_.emplace_back(sql, static_cast<void*>(st));
  return static_cast<void*>(st);
}

void Connection::ForgetPrepared(void* stmt) {
  for (auto it = prepared_.begin(); it != prepared_.end(); ++it) {
    if (it->second != stmt) continue;
    SQLFreeHandle(SQL_HANDLE_STMT, static_cast<SQLHSTMT>(stmt));
    prepared_.erase(it);
    return;
  }
}

Result<int64_t> Connection::Execute(const std::string& sql, const std::vector<Value>& params) {
  std::vector<std::vector<char>> buffers;
  auto st = Prepare(params, &buffers);
  if (!st.ok()) return st.status();
  auto* h = static_cast<SQLHSTMT>(*st);
  CountRoundTrip();
  SQLRETURN r = SQLExecDirect(h, reinterpret_cast<SQLCHAR*>(const_cast<char*>(sql.c_str())), SQL_NTS);
  int64_t count = -1;
  Status s;
  if (r == SQL_NO_DATA) {
    count = 0;
  } else if (!SQL_SUCCEEDED(r)) {
    s = Fail(SQL_HANDLE_STMT, h, "execute");
  } else {
    SQLLEN n = -1;
    if (SQL_SUCCEEDED(SQLRowCount(h, &n))) count = n;
  }
  SQLFreeHandle(SQL_HANDLE_STMT, h);
  if (!s.ok()) return s;
  return count;
}

Result<std::unique_ptr<Rows>> Connection::Query(const std::string& sql, const std::vector<Value>& params) {
  // Queries are prepared once per connection and executed again with new values: the
  // server plans them once, not at every request.
  auto st = PreparedStatement(sql);
  if (!st.ok()) return st.status();
  auto* h = static_cast<SQLHSTMT>(*st);
  std::vector<std::vector<char>> buffers;
  Status bound = Bind(h, params, &buffers);
  if (bound.ok()) CountRoundTrip();
  SQLRETURN r = bound.ok() ? SQLExecute(h) : SQL_ERROR;
  if (!bound.ok() || (!SQL_SUCCEEDED(r) && r != SQL_NO_DATA)) {
    Status s = bound.ok() ? Fail(SQL_HANDLE_STMT, h, "execute") : bound;
    // A statement that failed is not kept: the next try prepares it afresh.
    ForgetPrepared(h);
    return s;
  }
  // The parameters were read by the execution; unbind them before the buffers go.
  SQLFreeStmt(h, SQL_RESET_PARAMS);
  std::unique_ptr<Rows> rows(new Rows(this, h, false));
  SQLSMALLINT cols = 0;
  if (!SQL_SUCCEEDED(SQLNumResultCols(h, &cols))) {
    Status s = Fail(SQL_HANDLE_STMT, h, "result columns");
    return s;
  }
  for (SQLSMALLINT c = 1; c <= cols; ++c) {
    SQLCHAR name[256] = {0};
    SQLSMALLINT len = 0;
    SQLDescribeCol(h, c, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr);
    rows->names_.emplace_back(reinterpret_cast<char*>(name));
  }
  rows->values_.assign(rows->names_.size(), std::nullopt);
  rows_open_ = true;
  return rows;
}

Status Connection::Begin() {
  diagnostics_.clear();
  states_.clear();
  SQLRETURN r = SQLSetConnectAttr(static_cast<SQLHDBC>(dbc_), SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
  if (!SQL_SUCCEEDED(r)) return Fail(SQL_HANDLE_DBC, dbc_, "begin transaction");
  in_transaction_ = true;
  return Status::Ok();
}

Status Connection::Commit() {
  diagnostics_.clear();
  states_.clear();
  CountRoundTrip();
  SQLRETURN r = SQLEndTran(SQL_HANDLE_DBC, static_cast<SQLHDBC>(dbc_), SQL_COMMIT);
  Status s = SQL_SUCCEEDED(r) ? Status::Ok() : Fail(SQL_HANDLE_DBC, dbc_, "commit");
  if (!s.ok()) return s;  // the transaction stays open so that the caller can roll it back
  in_transaction_ = false;
  SQLSetConnectAttr(static_cast<SQLHDBC>(dbc_), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                    0);
  return s;
}

Status Connection::Rollback() {
  diagnostics_.clear();
  states_.clear();
  CountRoundTrip();
  SQLRETURN r = SQLEndTran(SQL_HANDLE_DBC, static_cast<SQLHDBC>(dbc_), SQL_ROLLBACK);
  Status s = SQL_SUCCEEDED(r) ? Status::Ok() : Fail(SQL_HANDLE_DBC, dbc_, "rollback");
  in_transaction_ = false;
  SQLSetConnectAttr(static_cast<SQLHDBC>(dbc_), SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON),
                    0);
  return s;
}

uint64_t RoundTrips() { return round_trips.load(std::memory_order_relaxed); }

// ---------------------------------------------------------------------------------------
namespace {

constexpr auto kPoolIdle = std::chrono::seconds(30);
constexpr size_t kPoolPerKey = 4;

struct Idle {
  std::unique_ptr<Connection> connection;
  std::string key;
  std::chrono::steady_clock::time_point since;
};

struct Pool {
  std::mutex mutex;
  std::vector<Idle> idle;
};

Pool& ThePool() {
  static Pool* pool = new Pool();  // never destroyed: connections may be released at exit
  return *pool;
}

}  // namespace

Result<std::unique_ptr<Connection>> AcquireConnection(const std::string& source, const std::string& user,
                                                      const std::string& password,
                                                      std::vector<std::string>* diagnostics, bool* reused) {
  if (reused) *reused = false;
  if (diagnostics) diagnostics->clear();
  if (!source.empty()) {
    // The key holds the user and password too, so a pooled connection is never handed to a caller
    // with other credentials.
    std::string key = Connection::ConnectionString(source, user, password);
    std::vector<std::unique_ptr<Connection>> expired;  // closed outside the lock
    std::unique_ptr<Connection> found;
    {
      Pool& pool = ThePool();
      std::lock_guard<std::mutex> lock(pool.mutex);
      auto now = std::chrono::steady_clock::now();
      for (auto it = pool.idle.begin(); it != pool.idle.end();) {
        if (now - it->since > kPoolIdle) {
          expired.push_back(std::move(it->connection));
          it = pool.idle.erase(it);
        } else if (!found && it->key == key) {
          found = std::move(it->connection);
          it = pool.idle.erase(it);
        } else {
          ++it;
        }
      }
    }
    if (found) {
      if (reused) *reused = true;
      return found;
    }
  }
  return Connection::Open(source, user, password, diagnostics);
}

void ReleaseConnection(std::unique_ptr<Connection> connection) {
  if (!connection || connection->InTransaction() || connection->rows_open_ || connection->pool_key_.empty()) return;
  connection->diagnostics_.clear();
  connection->states_.clear();
  Pool& pool = ThePool();
  // Declared before the lock, so a surplus connection is closed after the lock is released:
  // disconnecting may wait on the network.
  std::unique_ptr<Connection> surplus;
  std::lock_guard<std::mutex> lock(pool.mutex);
  size_t same = 0;
  for (const auto& i : pool.idle) same += i.key == connection->pool_key_;
  if (same >= kPoolPerKey) {
    surplus = std::move(connection);
    return;
  }
  pool.idle.push_back({std::move(connection), {}, std::chrono::steady_clock::now()});
  pool.idle.back().key = pool.idle.back().connection->pool_key_;
}

void ClearConnectionPool() {
  std::vector<Idle> all;
  {
    Pool& pool = ThePool();
    std::lock_guard<std::mutex> lock(pool.mutex);
    all.swap(pool.idle);
  }
}

}  // namespace zv::odbc
