#include "engine/db/zvm_database.h"

#include <cctype>
#include <limits>
#include <mutex>
#include <set>

#include "engine/db/schema.h"
#include "engine/rules/quota_period.h"
#include "engine/rules/text_util.h"
#include "platform/base/ascii.h"
#include "platform/base/root.h"

namespace zv::engine {
namespace {

odbc::Date ToDate(int32_t d) { return odbc::Date{d / 10000, (d / 100) % 100, d % 100}; }
odbc::Time ToTime(int32_t t) { return odbc::Time{t / 10000, (t / 100) % 100, t % 100}; }

// The columns of a result whose names carry `prefix` before each one (a statement that
// reads several tables names their columns apart).
struct PrefixedRow {
  const odbc::Rows& rows;
  std::string prefix;
  const std::optional<std::string>& Get(const char* col) const { return rows.Get(prefix + col); }
};

template <typename Row>
const std::string& Text(const Row& r, const char* col) {
  static const std::string kEmpty;
  const auto& v = r.Get(col);
  return v ? *v : kEmpty;
}
template <typename Row>
int32_t Int(const Row& r, const char* col) {
  return LeadingInt(Text(r, col));
}
template <typename Row>
int16_t Small(const Row& r, const char* col) {
  return static_cast<int16_t>(Int(r, col));
}

template <typename Row>
UserRecord ReadUser(const Row& r) {
  UserRecord u;
  u.UID = Int(r, "UID");
  u.Account = Text(r, "Account");
  u.UserName = Text(r, "UserName");
  u.GID = Int(r, "GID");
  u.CountShubetsu = Small(r, "CountShubetsu");
  u.MaxPages = Int(r, "MaxPages");
  u.MaxPages_Color = Int(r, "MaxPages_Color");
  u.Mail = Text(r, "Mail");
  u.Used = Small(r, "Used");
  return u;
}

template <typename Row>
GroupRecord ReadGroup(const Row& r) {
  GroupRecord g;
  g.GID = Int(r, "GID");
  g.GroupName = Text(r, "GroupName");
  g.MaxPages = Int(r, "MaxPages");
  g.MaxPages_Color = Int(r, "MaxPages_Color");
  g.Used = Small(r, "Used");
  return g;
}

template <typename Row>
PrinterRecord ReadPrinter(const Row& r) {
  PrinterRecord p;
  p.PID = Int(r, "PID");
  p.PrinterName = Text(r, "PrinterName");
  p.Ptype = Int(r, "Ptype");
  p.Used = Small(r, "Used");
  return p;
}

PrintLogRecord ReadPrintLog(const odbc::Rows& r) {
  PrintLogRecord l;
  l.ID = Int(r, "ID");
  l.UID = Int(r, "UID");
  l.PID = Int(r, "PID");
  l.PDate = ParseDateText(Text(r, "PDate"));
  l.PTime = ParseTimeText(Text(r, "PTime"));
  l.JobName = Text(r, "JobName");
  l.SpoolName = Text(r, "SpoolName");
  l.Pages = Int(r, "Pages");
  l.Ptype = Int(r, "Ptype");
  l.ThumbnailCount = Int(r, "ThumbnailCount");
  l.PaperSize = Int(r, "PaperSize");
  l.JobPages = Int(r, "JobPages");
  return l;
}

// Reads up to `count` digits from text[*i]; gives -1 when there are none.
int Digits(const std::string& text, size_t* i, int max_count) {
  int v = 0, n = 0;
  while (*i < text.size() && n < max_count && text[*i] >= '0' && text[*i] <= '9') {
    v = v * 10 + (text[*i] - '0');
    ++*i;
    ++n;
  }
  return n == 0 ? -1 : v;
}

std::string KindCondition(int kind) {
  if (kind == kMonoPages) return " AND Ptype=0";
  if (kind == kColorPages) return " AND Ptype=1";
  return "";
}

// Pages are summed by account name, over every UID it has had: a user deleted and entered
// again keeps the pages of the period.
const char kAccountUids[] = " AND UID IN (SELECT UID FROM Main WHERE LOWER(Account)=LOWER(?))";

// A statement's text and the values of its parameters.
struct Statement {
  std::string sql;
  std::vector<odbc::Value> params;
};

// The sum of the pages of `kind` printed by the account's users on the days of a period
// (`form` as PeriodSumDays gives it; `first` used by kRange only).
Statement PeriodSum(int kind, const std::string& account, int form, int32_t first, int32_t last) {
  if (form == PeriodDays::kRange)
    return {
        std::string("SELECT SUM(Pages) FROM PrintLog WHERE PDate>=? AND PDate<=?") + kAccountUids + KindCondition(kind),
        {ToDate(first), ToDate(last), account}};
  return {std::string("SELECT SUM(Pages) FROM PrintLog WHERE PDate") + (form == PeriodDays::kOnDay ? "=" : "<=") + "?" +
              kAccountUids + KindCondition(kind),
          {ToDate(last), account}};
}

// The print-log rows of a user and spool name printed between two moments, newest first.
Statement DuplicateRows(int32_t uid, const std::string& spool_name, const DateTimeValue& start,
                        const DateTimeValue& end) {
  std::string when;
  std::vector<odbc::Value> params = {int64_t{uid}, spool_name};
  if (start.date == end.date) {
    when = "(PDate=? AND (PTime>=? AND PTime<=?))";
    params.insert(params.end(), {ToDate(start.date), ToTime(start.time), ToTime(end.time)});
  } else {
    // The first day from the start time, the whole days between, the last day up to the end.
    when = "((PDate=? AND PTime>=?) OR (PDate>? AND PDate<?) OR (PDate=? AND PTime<=?))";
    params.insert(params.end(), {ToDate(start.date), ToTime(start.time), ToDate(start.date), ToDate(end.date),
                                 ToDate(end.date), ToTime(end.time)});
  }
  return {"SELECT * FROM PrintLog WHERE (UID=? AND LOWER(SpoolName)=LOWER(?) AND " + when + ") ORDER BY ID DESC",
          std::move(params)};
}

// Takes a connection whose transaction failed; rolls it back and drops it. The rollback's own
// error is not reported: the first error was, and the connection is discarded either way (the
// server ends an abandoned transaction when its connection closes).
void AbandonConnection(std::unique_ptr<odbc::Connection>& conn) {
  (void)conn->Rollback();
  conn.reset();
}

}  // namespace

int32_t ParseDateText(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  int y = Digits(text, &i, 4);
  if (y < 0 || i >= text.size() || (text[i] != '-' && text[i] != '/')) return 0;
  ++i;
  int m = Digits(text, &i, 2);
  if (m < 0 || i >= text.size() || (text[i] != '-' && text[i] != '/')) return 0;
  ++i;
  int d = Digits(text, &i, 2);
  if (d < 0) return 0;
  int32_t v = y * 10000 + m * 100 + d;
  return IsValidDate(v) ? v : 0;
}

int32_t ParseTimeText(const std::string& text) {
  size_t i = text.find(':');
  if (i == std::string::npos || i < 1) return 0;
  size_t start = i - 1;
  if (start > 0 && text[start - 1] >= '0' && text[start - 1] <= '9') --start;
  size_t p = start;
  int h = Digits(text, &p, 2);
  if (h < 0 || p >= text.size() || text[p] != ':') return 0;
  ++p;
  int m = Digits(text, &p, 2);
  if (m < 0) return 0;
  int s = 0;
  if (p < text.size() && text[p] == ':') {
    ++p;
    s = Digits(text, &p, 2);
    if (s < 0) return 0;
  }
  if (h > 23 || m > 59 || s > 59) return 0;
  return h * 10000 + m * 100 + s;
}

CZvmDatbase::CZvmDatbase(std::string dsn, std::string account, std::string password)
    : dsn_(std::move(dsn)), account_(std::move(account)), password_(std::move(password)) {}

CZvmDatbase::~CZvmDatbase() {
  ErrorLines.clear();
  odbc::ReleaseConnection(std::move(conn_));
}

void CZvmDatbase::ClearDbErrors() { ErrorLines.clear(); }

void CZvmDatbase::ReportDbError(const std::string& operation, const std::string* message,
                                const std::vector<std::string>* diagnostics, long status) {
  ErrorLines.clear();
  ErrorLines.push_back("CZvmDatbase::" + operation + " error");
  if (message) ErrorLines.push_back(" " + *message);
  bool any = false;
  if (diagnostics) {
    for (const auto& d : *diagnostics) {
      ErrorLines.push_back(" " + d);
      any = true;
    }
  }
  if (!any) ErrorLines.push_back(" Unknown Error Handle:" + std::to_string(status));
}

void CZvmDatbase::EscapeSqlQuotes(std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    out += c;
    if (c == '\'') out += '\'';
  }
  text = std::move(out);
}

bool CZvmDatbase::ConnectDB() {
  ErrorLines.clear();
  if (conn_) return true;
  if (in_transaction_) {
    const std::string msg = "the transaction's connection was lost";
    ReportDbError("ConnectDB", &msg, nullptr, 0);
    return false;
  }
  if (dsn_.empty()) {
    const std::string msg = "「データソース名」「アカウント」「パスワード」の取得に失敗ました。";
    ReportDbError("ConnectDB", &msg, nullptr, 0);
    return false;
  }
  std::vector<std::string> diag;
  auto c = odbc::AcquireConnection(dsn_, account_, password_, &diag, &reused_);
  if (!c.ok()) {
    if (diag.empty()) diag.push_back(c.status().message());
    ReportDbError("ConnectDB", nullptr, &diag, 0);
    return false;
  }
  conn_ = std::move(*c);
  return true;
}

bool CZvmDatbase::ExecuteQuery(const std::string& sql, const std::vector<odbc::Value>& params,
                               std::unique_ptr<odbc::Rows>* rows, bool* empty) {
  ErrorLines.clear();
  if ((rows == nullptr) != (empty == nullptr)) {
    const std::string msg = "INVALID PARAM";
    ReportDbError("ExecuteQuery", &msg, nullptr, 0);
    return false;
  }
  if (rows) rows->reset();
  if (!ConnectDB()) return false;
  failed_states_.clear();
  auto fail = [&](const Status& s) {
    failed_states_ = conn_->DiagnosticStates();
    std::vector<std::string> diag = conn_->Diagnostics();
    if (diag.empty()) diag.push_back(s.message());
    ReportDbError("ExecuteQuery", &sql, &diag, 0);
    if (rows) rows->reset();
    conn_.reset();  // a broken connection is not reused; the next statement reconnects
    return false;
  };
  if (!rows) {
    auto r = conn_->Execute(sql, params);
    return r.ok() ? true : fail(r.status());
  }
  auto r = conn_->Query(sql, params);
  if (!r.ok() && reused_ && !conn_->InTransaction()) {
    // The idle connections of the pool may all have been closed by the server: start anew.
    conn_.reset();
    odbc::ClearConnectionPool();
    if (!ConnectDB()) return false;
    r = conn_->Query(sql, params);
  }
  if (!r.ok()) return fail(r.status());
  auto first = (*r)->Next();
  if (!first.ok()) return fail(first.status());
  *empty = !*first;
  *rows = std::move(*r);
  return true;
}

bool CZvmDatbase::ExecuteStatement(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* changed) {
  ErrorLines.clear();
  *changed = 0;
  if (!ConnectDB()) return false;
  auto r = conn_->Execute(sql, params);
  if (r.ok()) {
    *changed = *r;
    return true;
  }
  std::vector<std::string> diag = conn_->Diagnostics();
  if (diag.empty()) diag.push_back(r.status().message());
  ReportDbError("ExecuteQuery", &sql, &diag, 0);
  conn_.reset();
  return false;
}

bool CZvmDatbase::Lookup(const std::string& operation, const std::string& sql, const std::vector<odbc::Value>& params,
                         std::unique_ptr<odbc::Rows>* rows, bool* empty) {
  if (ExecuteQuery(sql, params, rows, empty)) return true;
  if (ErrorLines.empty()) ReportDbError(operation, nullptr, nullptr, 0);
  return false;
}

template <typename Record>
bool CZvmDatbase::FirstRow(const std::string& operation, const std::string& sql, const std::vector<odbc::Value>& params,
                           Record (*read)(const odbc::Rows&), Record* out, bool* found) {
  *found = false;
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup(operation, sql, params, &rows, &empty)) return false;
  if (!empty) {
    *out = read(*rows);
    *found = true;
  }
  return true;
}

template <typename Record>
bool CZvmDatbase::AllRows(const std::string& operation, const std::string& table, const char* id_column,
                          int32_t id_filter, int32_t used_filter, Record (*read)(const odbc::Rows&),
                          std::vector<Record>* out) {
  out->clear();
  std::string cond;
  std::vector<odbc::Value> params;
  if (id_filter > 0) {
    cond = std::string(id_column) + "=?";
    params.emplace_back(int64_t{id_filter});
  }
  if (used_filter >= 0) {
    cond += cond.empty() ? "Used=?" : " AND Used=?";
    params.emplace_back(int64_t{used_filter});
  }
  std::string sql = "SELECT * FROM " + table + (cond.empty() ? "" : " WHERE " + cond) + " ORDER BY " + id_column;
  return ForEachRow(operation, sql, params, [&](const odbc::Rows& rows) { out->push_back(read(rows)); });
}

bool CZvmDatbase::ForEachRow(const std::string& operation, const std::string& sql,
                             const std::vector<odbc::Value>& params,
                             const std::function<void(const odbc::Rows&)>& each) {
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup(operation, sql, params, &rows, &empty)) return false;
  for (bool more = !empty; more;) {
    each(*rows);
    auto next = rows->Next();
    if (!next.ok()) {
      ReportDbError(operation, nullptr, &conn_->Diagnostics(), 0);
      conn_.reset();
      return false;
    }
    more = *next;
  }
  return true;
}

bool CZvmDatbase::GetUserInfo(const std::string& account, UserRecord* out, bool* found) {
  *out = UserRecord();
  return FirstRow("GetUserInfo", "SELECT * FROM Main WHERE LOWER(Account)=LOWER(?) AND Used=?", {account, int64_t{1}},
                  &ReadUser<odbc::Rows>, out, found);
}

bool CZvmDatbase::GetUserInfo(std::vector<UserRecord>* out, int32_t uid_filter, int32_t used_filter) {
  return AllRows("GetUserInfo", "Main", "UID", uid_filter, used_filter, &ReadUser<odbc::Rows>, out);
}

bool CZvmDatbase::GetGroupInfo(int32_t gid, GroupRecord* out, bool* found) {
  *out = GroupRecord();
  return FirstRow("GetGroupInfo", "SELECT * FROM Groups WHERE GID=? AND Used=?", {int64_t{gid}, int64_t{1}},
                  &ReadGroup<odbc::Rows>, out, found);
}

bool CZvmDatbase::GetGroupInfo(std::vector<GroupRecord>* out, int32_t gid_filter, int32_t used_filter) {
  return AllRows("GetGroupInfo", "Groups", "GID", gid_filter, used_filter, &ReadGroup<odbc::Rows>, out);
}

bool CZvmDatbase::GetPrinterInfo(const std::string& printer_name, PrinterRecord* out, bool* found) {
  *out = PrinterRecord();
  return FirstRow("GetPrinterInfo", "SELECT * FROM Printers WHERE LOWER(PrinterName)=LOWER(?) AND Used=?",
                  {printer_name, int64_t{1}}, &ReadPrinter<odbc::Rows>, out, found);
}

bool CZvmDatbase::GetPrinterInfo(int32_t pid, PrinterRecord* out, bool* found) {
  return FirstRow("GetPrinterInfo", "SELECT * FROM Printers WHERE PID=? AND Used=?", {int64_t{pid}, int64_t{1}},
                  &ReadPrinter<odbc::Rows>, out, found);
}

namespace {
// The columns of each table under a name of their own ("u_", "g_", "p_" before the column).
const char kRequestRows[] =
    "SELECT m.UID AS u_UID, m.Account AS u_Account, m.UserName AS u_UserName, m.GID AS u_GID,"
    " m.CountShubetsu AS u_CountShubetsu, m.MaxPages AS u_MaxPages, m.MaxPages_Color AS u_MaxPages_Color,"
    " m.Mail AS u_Mail, m.Used AS u_Used,"
    " g.GID AS g_GID, g.GroupName AS g_GroupName, g.MaxPages AS g_MaxPages, g.MaxPages_Color AS g_MaxPages_Color,"
    " g.Used AS g_Used,"
    " p.PID AS p_PID, p.PrinterName AS p_PrinterName, p.Ptype AS p_Ptype, p.Used AS p_Used"
    // One row always, whether the user, the group or the printer is there or not.
    " FROM (SELECT 1 AS one) o"
    " LEFT JOIN Main m ON LOWER(m.Account)=LOWER(?) AND m.Used=1"
    " LEFT JOIN Groups g ON g.GID=m.GID AND g.Used=1"
    " LEFT JOIN Printers p ON LOWER(p.PrinterName)=LOWER(?) AND p.Used=1";
}  // namespace

bool CZvmDatbase::GetRequestRows(const std::string& account, const std::string& printer_name, RequestRows* out) {
  *out = RequestRows();
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup("GetRequestRows", kRequestRows, {account, printer_name}, &rows, &empty)) return false;
  if (empty) return true;
  // The ids are primary keys: a NULL one is a row that is not there.
  out->user_found = rows->Get("u_UID").has_value();
  out->group_found = rows->Get("g_GID").has_value();
  out->printer_found = rows->Get("p_PID").has_value();
  if (out->user_found) out->user = ReadUser(PrefixedRow{*rows, "u_"});
  if (out->group_found) out->group = ReadGroup(PrefixedRow{*rows, "g_"});
  if (out->printer_found) out->printer = ReadPrinter(PrefixedRow{*rows, "p_"});
  return true;
}

namespace {
// Gives the sum in column `column` of the current row: the leading number of its text (a sum
// is never beyond 64 bits of pages), 0 for NULL.
int64_t SumValue(const odbc::Rows& rows, int column) {
  const auto& v = rows.Get(column);
  if (!v) return 0;
  int64_t n = 0;
  size_t i = 0;
  bool neg = i < v->size() && (*v)[i] == '-';
  if (neg) ++i;
  while (i < v->size() && (*v)[i] >= '0' && (*v)[i] <= '9' && n < std::numeric_limits<int64_t>::max() / 10)
    n = n * 10 + ((*v)[i++] - '0');
  return neg ? -n : n;
}
}  // namespace

bool CZvmDatbase::SumPages(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* pages) {
  *pages = 0;
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup("SumPages", sql, params, &rows, &empty)) return false;
  if (!empty) *pages = SumValue(*rows, 0);
  return true;
}

bool CZvmDatbase::SumPagesByKind(int64_t* mono, int64_t* color, const std::string& account, int form,
                                 int32_t first_date, int32_t last_date) {
  *mono = *color = 0;
  // One statement, one round trip: each kind's sum reads only its own rows of the period
  // through the index on (UID, Ptype, PDate, Pages), which holds every column it needs.
  std::string when;
  std::vector<odbc::Value> period;
  if (form == PeriodDays::kRange) {
    when = "PDate>=? AND PDate<=?";
    period = {ToDate(first_date), ToDate(last_date)};
  } else {
    when = form == PeriodDays::kOnDay ? "PDate=?" : "PDate<=?";
    period = {ToDate(last_date)};
  }
  std::string sql = "SELECT (SELECT SUM(Pages) FROM PrintLog WHERE " + when + kAccountUids + KindCondition(kMonoPages) +
                    "), (SELECT SUM(Pages) FROM PrintLog WHERE " + when + kAccountUids + KindCondition(kColorPages) +
                    ")";
  std::vector<odbc::Value> params = period;
  params.emplace_back(account);
  params.insert(params.end(), period.begin(), period.end());
  params.emplace_back(account);
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup("SumPages", sql, params, &rows, &empty)) return false;
  if (!empty) {
    *mono = SumValue(*rows, 0);
    *color = SumValue(*rows, 1);
  }
  return true;
}

bool CZvmDatbase::SumPages(int kind, int64_t* pages, const std::string& account, int32_t first_date,
                           int32_t last_date) {
  *pages = 0;
  Statement sum = PeriodSum(kind, account, PeriodDays::kRange, first_date, last_date);
  return SumPages(sum.sql, sum.params, pages);
}

bool CZvmDatbase::SumPages(int kind, int64_t* pages, const std::string& account, int32_t date, SumMode mode) {
  *pages = 0;
  Statement sum = PeriodSum(kind, account, mode == kSumOnDay ? PeriodDays::kOnDay : PeriodDays::kUpTo, 0, date);
  return SumPages(sum.sql, sum.params, pages);
}

bool CZvmDatbase::SumPagesAndDupCheck(int kind, int64_t* pages, const std::string& account, int form,
                                      int32_t first_date, int32_t last_date, const DuplicateSearch& search,
                                      PrintLogRecord* out, bool* found) {
  *pages = 0;
  *found = false;
  Statement sum = PeriodSum(kind, account, form, first_date, last_date);
  Statement dup = DuplicateRows(search.uid, search.spool_name, search.start, search.end);
  // One row always: the sum, and the newest matching print-log row's columns (NULL when
  // there is none) beside it.
  std::string sql = "SELECT (" + sum.sql + ") AS PeriodSum, d.* FROM (SELECT 1 AS one) o LEFT JOIN (" + dup.sql +
                    " LIMIT 1) d ON 1=1";
  std::vector<odbc::Value> params = std::move(sum.params);
  params.insert(params.end(), dup.params.begin(), dup.params.end());
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup("SumPages", sql, params, &rows, &empty)) return false;
  if (empty) return true;
  *pages = SumValue(*rows, rows->FindColumn("PeriodSum"));
  if (rows->Get("ID").has_value()) {  // ID is the primary key: NULL is no row
    *out = ReadPrintLog(*rows);
    *found = true;
  }
  return true;
}

int32_t CZvmDatbase::GetPringLogMaxID() {
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!Lookup("GetPringLogMaxID", "SELECT MAX(ID) FROM PrintLog", {}, &rows, &empty)) return 0;
  if (empty) return 0;
  const auto& v = rows->Get(0);
  return v ? LeadingInt(*v) : 0;
}

namespace {
// Whether a statement failed on a unique key: SQLSTATE 23505 on PostgreSQL (in any language
// of its messages), "UNIQUE constraint" in SQLite's text.
bool IsUniqueClash(const std::vector<std::string>& states, const std::vector<std::string>& diagnostics) {
  for (const std::string& s : states)
    if (s == "23505") return true;
  for (const std::string& d : diagnostics) {
    if (d.find("23505") != std::string::npos || d.find("UNIQUE constraint") != std::string::npos ||
        d.find("duplicate key") != std::string::npos)
      return true;
  }
  return false;
}
}  // namespace

bool CZvmDatbase::InsertPrintLog(const std::vector<PrintLogRecord>& list) {
  ErrorLines.clear();
  if (list.empty()) return true;
  if (!ValidPrintLogTimes(list)) return false;
  return InsertWithRetries(list, nullptr);
}

bool CZvmDatbase::InsertKeptPrintLog(const std::vector<PrintLogRecord>& list, const std::string& kept_id,
                                     const std::vector<std::string>& forget, bool* already) {
  ErrorLines.clear();
  *already = false;
  if (kept_id.empty() || kept_id.size() > kKeptIdMax) {
    const std::string msg = "kept print-log rows without a valid identity";
    ReportDbError("InsertKeptPrintLog", &msg, nullptr, 0);
    return false;
  }
  if (!ValidPrintLogTimes(list) || !EnsureKeptTable()) return false;
  const KeptIdentity kept{kept_id, forget, already};
  return InsertWithRetries(list, &kept);
}

bool CZvmDatbase::ValidPrintLogTimes(const std::vector<PrintLogRecord>& list) {
  for (size_t i = 0; i < list.size(); ++i) {
    const PrintLogRecord& r = list[i];
    int h = r.PTime / 10000, m = r.PTime / 100 % 100, sec = r.PTime % 100;
    if (!IsValidDate(r.PDate) || r.PTime < 0 || h > 23 || m > 59 || sec > 59) {
      const std::string msg = "invalid date or time in print-log row " + std::to_string(i);
      ReportDbError("InsertPrintLog", &msg, nullptr, 0);
      return false;
    }
  }
  return true;
}

bool CZvmDatbase::InsertWithRetries(const std::vector<PrintLogRecord>& list, const KeptIdentity* kept) {
  // Rows are numbered MAX(ID)+1. Two engines that read the same largest number at once
  // meet on the primary key: one of them is refused and numbers its row again. Each try
  // loses only to a row that was stored meanwhile, so a run of refusals needs as many
  // other engines storing rows at that very moment; beyond this many something else is
  // wrong, and the insert is given up and reported.
  constexpr int kAttempts = 32;
  for (int attempt = 1;; ++attempt) {
    bool clash = false;
    if (InsertPrintLogOnce(list, &clash, kept)) return true;
    if (!clash || attempt >= kAttempts) return false;
    ErrorLines.clear();
  }
}

bool CZvmDatbase::RunInTransaction(const std::string& operation, const std::string& lock_table,
                                   const std::function<bool()>& body) {
  for (char c : lock_table) {
    if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') {
      const std::string msg = "not a table name: " + lock_table;
      ReportDbError(operation, &msg, nullptr, 0);
      return false;
    }
  }
  if (in_transaction_) {
    const std::string msg = "a transaction is already running";
    ReportDbError(operation, &msg, nullptr, 0);
    return false;
  }
  if (!ConnectDB()) return false;
  if (Status begun = conn_->Begin(); !begun.ok()) {
    std::vector<std::string> diag = conn_->Diagnostics();
    ReportDbError(operation, nullptr, &diag, 0);
    conn_.reset();
    return false;
  }
  in_transaction_ = true;
  const bool postgres = conn_->DbmsName().find("PostgreSQL") != std::string::npos;
  const std::string lock = postgres ? "LOCK TABLE " + lock_table + " IN SHARE ROW EXCLUSIVE MODE"
                                    : "DELETE FROM " + lock_table + " WHERE 1=0";
  bool ok = ExecuteQuery(lock, {}, nullptr, nullptr) && body();
  in_transaction_ = false;
  if (ok && conn_) {
    if (Status done = conn_->Commit(); done.ok()) return true;
    std::vector<std::string> diag = conn_->Diagnostics();
    ReportDbError(operation, nullptr, &diag, 0);
    AbandonConnection(conn_);
    return false;
  }
  std::vector<std::string> lines = ErrorLines;
  if (conn_) AbandonConnection(conn_);
  if (lines.empty()) ReportDbError(operation, nullptr, nullptr, 0);
  else ErrorLines = lines;
  return false;
}

namespace {
// Each row takes the largest number plus one in the statement that inserts it.
const char kInsertPrintLog[] =
    "INSERT INTO PrintLog (ID,UID,PID,PDate,PTime,JobName,SpoolName,Pages,Ptype,ThumbnailCount,PaperSize,JobPages)"
    " SELECT COALESCE(MAX(ID),0)+1,?,?,?,?,?,?,?,?,?,?,? FROM PrintLog";

std::vector<odbc::Value> PrintLogValues(const PrintLogRecord& r) {
  return {int64_t{r.UID},     int64_t{r.PID},   ToDate(r.PDate),  ToTime(r.PTime),           r.JobName,
          r.SpoolName,        int64_t{r.Pages}, int64_t{r.Ptype}, int64_t{r.ThumbnailCount}, int64_t{r.PaperSize},
          int64_t{r.JobPages}};
}
}  // namespace

bool CZvmDatbase::EnsureKeptTable() {
  // Databases set up before the table existed get it at the first kept rows; a failure
  // here shows again in the insert that follows.
  static std::mutex made_lock;
  static std::set<std::string> made;
  std::lock_guard<std::mutex> hold(made_lock);
  // A data source's name means one database within one runtime root.
  const std::string which = RuntimeRoot() + '\n' + dsn_;
  if (made.count(which)) return true;
  if (!ExecuteQuery(kCreateKeptTableSql, {}, nullptr, nullptr)) return false;
  made.insert(which);
  return true;
}

bool CZvmDatbase::InsertPrintLogOnce(const std::vector<PrintLogRecord>& list, bool* clash, const KeptIdentity* kept) {
  *clash = false;
  if (!ConnectDB()) return false;
  if (list.size() == 1 && !kept) {
    // One statement reads the largest number and stores the row under the next one, and
    // commits by itself: no lock outlives it. Of two engines that read the same number, the
    // second waits on the key until the first committed and is then refused; a refused
    // statement leaves its connection as it was, for the next try.
    auto done = conn_->Execute(kInsertPrintLog, PrintLogValues(list.front()));
    if (done.ok()) return true;
    std::vector<std::string> diag = conn_->Diagnostics();
    *clash = IsUniqueClash(conn_->DiagnosticStates(), diag);
    if (diag.empty()) diag.push_back(done.status().message());
    const std::string sql = kInsertPrintLog;
    ReportDbError("ExecuteQuery", &sql, &diag, 0);
    if (!*clash) conn_.reset();  // the next statement starts on a fresh connection
    return false;
  }
  Status begun = conn_->Begin();
  if (!begun.ok()) {
    std::vector<std::string> diag = conn_->Diagnostics();
    ReportDbError("InsertPrintLog", nullptr, &diag, 0);
    conn_.reset();
    return false;
  }
  std::vector<std::string> diagnostics, states;
  auto rollback = [&] {
    std::vector<std::string> lines = ErrorLines;
    if (conn_) {
      diagnostics = conn_->Diagnostics();
      states = conn_->DiagnosticStates();
      AbandonConnection(conn_);
    } else {
      states = failed_states_;
    }
    *clash = IsUniqueClash(states, diagnostics) || IsUniqueClash({}, lines);
    ErrorLines = lines;
    return false;
  };
  // Take the table's write lock before reading the highest number, so that the rows' numbers
  // follow each other. On PostgreSQL a lock that conflicts with itself and with every writer
  // (SHARE ROW EXCLUSIVE) makes a second engine wait until the first committed (one-row
  // inserts too); readers go on. On SQLite a statement that writes nothing takes the
  // database's write lock (a transaction that first reads and then writes could otherwise be
  // refused at once by another writer). One kept row needs no lock: its identity is written
  // first, which on SQLite takes the write lock, and on PostgreSQL a number another engine
  // took meanwhile is refused by the key and tried again, as for a single row.
  const bool postgres = conn_->DbmsName().find("PostgreSQL") != std::string::npos;
  const char* lock =
      postgres ? "LOCK TABLE PrintLog IN SHARE ROW EXCLUSIVE MODE" : "UPDATE PrintLog SET ID=ID WHERE 1=0";
  if ((!kept || list.size() > 1) && !ExecuteQuery(lock, {}, nullptr, nullptr)) return rollback();
  // Rows of a kept file go in with its identity, in this transaction: an identity that is
  // there already (the engine stopped after the commit but before it removed the file) is
  // refused by its key, and the rows are not stored again. Each engine's kept files are its
  // own, so two engines never store one identity.
  if (kept && !ExecuteQuery("INSERT INTO PrintLogKept (KeptID) VALUES (?)", {kept->id}, nullptr, nullptr)) {
    bool named = false;
    for (const std::string& line : ErrorLines)
      named = named || ToLowerAscii(line).find("printlogkept") != std::string::npos;
    if (named && IsUniqueClash(failed_states_, ErrorLines)) {
      if (conn_) AbandonConnection(conn_);
      ErrorLines.clear();
      *kept->already = true;
      return true;
    }
    return rollback();
  }
  // The largest number is read under the lock, within the transaction, so the numbers and
  // the rows go together.
  for (const PrintLogRecord& r : list) {
    if (!ExecuteQuery(kInsertPrintLog, PrintLogValues(r), nullptr, nullptr)) return rollback();
  }
  if (kept && !kept->forget.empty()) {
    std::string sql = "DELETE FROM PrintLogKept WHERE KeptID IN (";
    std::vector<odbc::Value> ids;
    for (const std::string& gone : kept->forget) {
      if (gone == kept->id) continue;
      sql += ids.empty() ? "?" : ",?";
      ids.push_back(gone);
    }
    if (!ids.empty() && !ExecuteQuery(sql + ")", ids, nullptr, nullptr)) return rollback();
  }
  Status committed = conn_->Commit();
  if (!committed.ok()) {
    std::vector<std::string> diag = conn_->Diagnostics();
    ReportDbError("InsertPrintLog", nullptr, &diag, 0);
    return rollback();
  }
  return true;
}

bool CZvmDatbase::DupCheckPrintLog(int32_t uid, const std::string& spool_name, const DateTimeValue& start,
                                   const DateTimeValue& end, PrintLogRecord* out, bool* found) {
  Statement dup = DuplicateRows(uid, spool_name, start, end);
  return FirstRow("DupCheckPrintLog", dup.sql, dup.params, &ReadPrintLog, out, found);
}

bool GetPeriodPageTotals(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                         const std::string& account, int64_t* mono, int64_t* color) {
  PeriodDays p = PeriodSumDays(period_index, days, limit_date);
  int64_t m = 0, c = 0;
  if (!db.SumPagesByKind(&m, &c, account, p.form, p.first, p.last)) return false;
  *mono = m;
  *color = c;
  return true;
}

bool GetPeriodPageTotal(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                        const std::string& account, int kind, int64_t* pages) {
  PeriodDays p = PeriodSumDays(period_index, days, limit_date);
  int64_t sum = 0;
  bool ok = p.form == PeriodDays::kRange
                ? db.SumPages(kind, &sum, account, p.first, p.last)
                : db.SumPages(kind, &sum, account, p.last,
                              p.form == PeriodDays::kOnDay ? CZvmDatbase::kSumOnDay : CZvmDatbase::kSumUpTo);
  if (ok) *pages = sum;
  return ok;
}

bool GetPeriodPageTotalAndDupCheck(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                                   const std::string& account, int kind, int64_t* pages, const DuplicateSearch& search,
                                   PrintLogRecord* row, bool* found) {
  PeriodDays p = PeriodSumDays(period_index, days, limit_date);
  int64_t sum = 0;
  if (!db.SumPagesAndDupCheck(kind, &sum, account, p.form, p.first, p.last, search, row, found)) return false;
  *pages = sum;
  return true;
}

UserRecord UserFromRow(const odbc::Rows& rows) { return ReadUser(rows); }
GroupRecord GroupFromRow(const odbc::Rows& rows) { return ReadGroup(rows); }
PrinterRecord PrinterFromRow(const odbc::Rows& rows) { return ReadPrinter(rows); }

}  // namespace zv::engine
