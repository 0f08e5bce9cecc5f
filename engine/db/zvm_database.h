// CZvmDatbase: the engine's and the console's access to the system database (tables Main,
// Groups, Printers, PrintLog) through an ODBC data source, with the record lookups, the
// page sums of a quota period, the print-log insert and the duplicate search. Every value
// travels as a bound parameter (dates and times as ODBC date/time values); account and
// printer names compare without regard to case. Failures return false and leave text
// lines in ErrorLines, whose first line is "CZvmDatbase::<operation> error".
//
// An object is made for one unit of work (one check step, one answer, one reset) and used
// by one thread. It takes its connection at the first statement (from the process's pool of
// idle connections, odbc::AcquireConnection) and gives it back when it is destroyed; a
// statement that fails drops the connection so that the next one reconnects. A SELECT that
// fails on a reused connection is tried once more on a new one (the server may have closed
// the idle connection).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/odbc/odbc.h"

namespace zv::engine {

// A row of Main. An empty record has all numbers 0 and all strings empty.
struct UserRecord {
  int32_t UID = 0;
  std::string Account;
  std::string UserName;
  int32_t GID = 0;
  int16_t CountShubetsu = 0;  // 0 no limit, 1 defaults, 2 the group's, 3 the user's own
  int32_t MaxPages = 0;
  int32_t MaxPages_Color = 0;
  std::string Mail;
  int16_t Used = 0;
};

// A row of Groups.
struct GroupRecord {
  int32_t GID = 0;
  std::string GroupName;
  int32_t MaxPages = 0;
  int32_t MaxPages_Color = 0;
  int16_t Used = 0;
};

// A row of Printers. Ptype 0 monochrome, 1 colour.
struct PrinterRecord {
  int32_t PID = 0;
  std::string PrinterName;
  int32_t Ptype = 0;
  int16_t Used = 0;
};

// A row of PrintLog. PDate yyyymmdd, PTime hhmmss.
struct PrintLogRecord {
  int32_t ID = 0;
  int32_t UID = 0;
  int32_t PID = 0;
  int32_t PDate = 0;
  int32_t PTime = 0;
  std::string JobName;
  std::string SpoolName;
  int32_t Pages = 0;
  int32_t Ptype = 0;
  int32_t ThumbnailCount = 0;
  int32_t PaperSize = 0;
  int32_t JobPages = 0;
  // The account UID belonged to when the row was made: kept with rows waiting to be
  // stored (not a column), so that a row is never charged to a later owner of the UID.
  std::string Account;
};

// A moment as date (yyyymmdd) and time of day (hhmmss).
struct DateTimeValue {
  int32_t date = 0;
  int32_t time = 0;
};

// The rows a request is checked against, read together: the live user of its account, the
// user's live group and the live printer of its name. A record whose *_found is false is
// empty.
struct RequestRows {
  UserRecord user;
  bool user_found = false;
  GroupRecord group;  // the group of user.GID
  bool group_found = false;
  PrinterRecord printer;
  bool printer_found = false;
};

// What the duplicate search looks for: the user's print-log rows of a spool name printed
// between two moments (both included).
struct DuplicateSearch {
  int32_t uid = 0;
  std::string spool_name;
  DateTimeValue start;
  DateTimeValue end;
};

// Page-sum kinds: 0 monochrome pages, 1 colour pages, any other value all pages.
enum PageKind : int { kMonoPages = 0, kColorPages = 1, kAllPages = 2 };

class CZvmDatbase {
 public:
  // Takes the data source (a name of the private or system odbc.ini, or a connection
  // string), the account and the password. Opens nothing.
  CZvmDatbase(std::string dsn, std::string account, std::string password);
  virtual ~CZvmDatbase();
  CZvmDatbase(const CZvmDatbase&) = delete;
  CZvmDatbase& operator=(const CZvmDatbase&) = delete;

  // The lines that describe the last failure; empty after a statement that succeeded.
  std::vector<std::string> ErrorLines;

  // Empties ErrorLines.
  void ClearDbErrors();

  // Opens the object's connection unless it is open. Gives false with ErrorLines set when
  // the data source name is empty or the connection cannot be opened.
  bool ConnectDB();

  // Runs one statement with bound parameters. With `rows` given, the result is handed to
  // the caller positioned on its first row (when *empty is false) or past the end (when
  // *empty is true); `empty` must then be given too. Without `rows` the statement's result
  // is discarded (INSERT, UPDATE, DDL) and `empty` must be null. Giving exactly one of the
  // two is a parameter error ("INVALID PARAM"). Failures leave the SQL text in ErrorLines.
  bool ExecuteQuery(const std::string& sql, const std::vector<odbc::Value>& params, std::unique_ptr<odbc::Rows>* rows,
                    bool* empty);

  // Takes an operation name, a query with its values and a function; runs the query and
  // calls the function on each row in order. A failed query or a failed move to the next
  // row gives false with ErrorLines under the operation's name (after a failed move the
  // connection is dropped, so the next statement starts on a fresh one).
  bool ForEachRow(const std::string& operation, const std::string& sql, const std::vector<odbc::Value>& params,
                  const std::function<void(const odbc::Rows&)>& each);

  // Runs a statement that gives no rows, as ExecuteQuery does, and gives the number of rows
  // it changed in *changed (-1 when the driver cannot tell).
  bool ExecuteStatement(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* changed);

  // Replaces ErrorLines with one failure: "CZvmDatbase::<operation> error", " <message>"
  // when given, then " <text>" for each diagnostic (when `diagnostics` is given and holds
  // any) or " Unknown Error Handle:<status>".
  void ReportDbError(const std::string& operation, const std::string* message,
                     const std::vector<std::string>* diagnostics, long status);

  // Doubles every single quote of `text` (for SQL texts that a caller still builds itself;
  // values should be bound instead).
  static void EscapeSqlQuotes(std::string& text);

  // Runs `body` as one transaction on this object's connection: begins it, takes the write
  // lock of `lock_table` first (PostgreSQL: LOCK TABLE in SHARE ROW EXCLUSIVE mode, so a
  // second writer waits; SQLite: a statement that writes nothing takes the database's write
  // lock, so a transaction that reads and then writes is never refused halfway), runs the
  // body and commits when it gives true, else rolls back. A statement that fails inside
  // drops the connection and with it the transaction; later statements of the body then
  // fail instead of reconnecting outside it. Gives false with ErrorLines set (the body's
  // own lines, or lines under `operation`) on any failure.
  bool RunInTransaction(const std::string& operation, const std::string& lock_table, const std::function<bool()>& body);

  // Looks the live user (Used = 1) of an account name up, without regard to case. Gives
  // true with *found false when there is none; *out is emptied first.
  bool GetUserInfo(const std::string& account, UserRecord* out, bool* found);
  // Lists users, ascending UID: uid_filter > 0 selects one UID, used_filter >= 0 one Used
  // value. The records read before a failure stay in *out.
  bool GetUserInfo(std::vector<UserRecord>* out, int32_t uid_filter, int32_t used_filter);
  // Looks the live group of a GID up; *out is emptied first.
  bool GetGroupInfo(int32_t gid, GroupRecord* out, bool* found);
  // Lists groups by the same filters, ascending GID.
  bool GetGroupInfo(std::vector<GroupRecord>* out, int32_t gid_filter, int32_t used_filter);
  // Looks the live printer of a name up, without regard to case; *out is emptied first.
  bool GetPrinterInfo(const std::string& printer_name, PrinterRecord* out, bool* found);
  // Looks the live printer of a PID up; *out is changed only when a row is found.
  bool GetPrinterInfo(int32_t pid, PrinterRecord* out, bool* found);
  // Looks up, in one statement, what GetUserInfo(account), GetGroupInfo(the user's GID) and
  // GetPrinterInfo(printer_name) each give: the same rows and the same found flags (among
  // several matching rows one of them, as those do). *out is emptied first.
  bool GetRequestRows(const std::string& account, const std::string& printer_name, RequestRows* out);

  // Sums the Pages of `kind` printed by every user row of the account name (any Used
  // value) on days first..last (yyyymmdd, both included). *pages is 0 first.
  bool SumPages(int kind, int64_t* pages, const std::string& account, int32_t first_date, int32_t last_date);
  // As above for one day (kSumOnDay: PDate = date) or everything up to a day (kSumUpTo).
  enum SumMode { kSumUpTo = 0, kSumOnDay = 1 };
  bool SumPages(int kind, int64_t* pages, const std::string& account, int32_t date, SumMode mode);
  // Runs a statement whose first column is a sum and gives it (NULL gives 0).
  bool SumPages(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* pages);
  // Sums the monochrome (Ptype 0) and the colour (Ptype 1) Pages of every user row of the
  // account name in one statement, over the days that PeriodSumDays gives (`form` its
  // kOnDay, kUpTo or kRange, `first` used by kRange only). Both are 0 first.
  bool SumPagesByKind(int64_t* mono, int64_t* color, const std::string& account, int form, int32_t first_date,
                      int32_t last_date);

  // Gives in one statement what SumPages of `kind` over the days of a period (`form` and the
  // days as SumPagesByKind takes them) and DupCheckPrintLog of `search` give: the sum in
  // *pages, the newest matching print-log row in *out (changed only when *found).
  bool SumPagesAndDupCheck(int kind, int64_t* pages, const std::string& account, int form, int32_t first_date,
                           int32_t last_date, const DuplicateSearch& search, PrintLogRecord* out, bool* found);

  // Gives the largest ID of PrintLog; 0 when the table is empty or the query failed.
  int32_t GetPringLogMaxID();

  // Inserts the rows numbered from the largest ID + 1 in list order; either all rows are
  // stored or none. One row is one statement that takes its number and commits at once, so
  // engines sharing the database never wait for each other's commit; several rows are one
  // transaction under a lock of the print log, so that their numbers follow each other. A
  // number that another writer took meanwhile is refused by the primary key, and the insert
  // is tried again.
  bool InsertPrintLog(const std::vector<PrintLogRecord>& rows);
  // Inserts the rows of one kept file under its identity `kept_id`, once: in one
  // transaction the identity goes into PrintLogKept (its key) and the rows into the print
  // log; an identity that is there already is refused by the key and nothing is stored, and
  // *already tells so (the rows were stored before). The identities in `forget` (of kept
  // files removed since they were stored) are deleted in the same transaction. Gives false
  // when nothing could be committed.
  bool InsertKeptPrintLog(const std::vector<PrintLogRecord>& rows, const std::string& kept_id,
                          const std::vector<std::string>& forget, bool* already);
  static constexpr size_t kKeptIdMax = 100;  // the width of PrintLogKept's KeptID

  // Finds the newest print-log row (highest ID) of the user `uid` whose SpoolName equals
  // `spool_name` (without regard to case), printed between `start` and `end` (both
  // included; the window may span any number of days). *out is changed only when found.
  bool DupCheckPrintLog(int32_t uid, const std::string& spool_name, const DateTimeValue& start,
                        const DateTimeValue& end, PrintLogRecord* out, bool* found);

 private:
  // One attempt of InsertPrintLog; *clash tells whether it failed on a taken number.
  // With `kept`, the rows go in under the identity of their kept file (InsertKeptPrintLog).
  struct KeptIdentity {
    const std::string& id;
    const std::vector<std::string>& forget;
    bool* already;
  };
  bool InsertPrintLogOnce(const std::vector<PrintLogRecord>& rows, bool* clash, const KeptIdentity* kept = nullptr);
  // Makes the table of kept-file identities where it is missing (once per process).
  bool EnsureKeptTable();
  bool ValidPrintLogTimes(const std::vector<PrintLogRecord>& rows);
  bool InsertWithRetries(const std::vector<PrintLogRecord>& rows, const KeptIdentity* kept);
  // Reads the first row of a query into *out (left as it is when there is none).
  template <typename Record>
  bool FirstRow(const std::string& operation, const std::string& sql, const std::vector<odbc::Value>& params,
                Record (*read)(const odbc::Rows&), Record* out, bool* found);
  // Reads every row of `table` filtered by id and Used, ordered by the id column.
  template <typename Record>
  bool AllRows(const std::string& operation, const std::string& table, const char* id_column, int32_t id_filter,
               int32_t used_filter, Record (*read)(const odbc::Rows&), std::vector<Record>* out);
  bool Lookup(const std::string& operation, const std::string& sql, const std::vector<odbc::Value>& params,
              std::unique_ptr<odbc::Rows>* rows, bool* empty);
  std::string dsn_;
  std::string account_;
  std::string password_;
  std::unique_ptr<odbc::Connection> conn_;
  bool reused_ = false;
  bool in_transaction_ = false;             // RunInTransaction is running its body
  std::vector<std::string> failed_states_;  // the SQLSTATEs of the last statement that failed
};

// Give a record of the row the result stands on, its columns found by name without regard
// to case (numbers read as their leading decimal digits; NULL as 0 or empty).
UserRecord UserFromRow(const odbc::Rows& rows);
GroupRecord GroupFromRow(const odbc::Rows& rows);
PrinterRecord PrinterFromRow(const odbc::Rows& rows);

// Gives the pages of `kind` that `account` used in the period ending `limit_date` (period
// index and N as in the quota files; N below 1 counts as 1): one day sums that day, week,
// month and N days the period's range, no period everything up to the end.
bool GetPeriodPageTotal(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                        const std::string& account, int kind, int64_t* pages);
// As GetPeriodPageTotal, with the duplicate search of `search` in the same statement (see
// SumPagesAndDupCheck).
bool GetPeriodPageTotalAndDupCheck(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                                   const std::string& account, int kind, int64_t* pages, const DuplicateSearch& search,
                                   PrintLogRecord* row, bool* found);
// As above for the monochrome and the colour kind at once, in one statement.
bool GetPeriodPageTotals(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                         const std::string& account, int64_t* mono, int64_t* color);

// Gives yyyymmdd of a date text "YYYY-MM-DD" (also "/" separated, a time part may follow),
// 0 when it is not a valid date.
int32_t ParseDateText(const std::string& text);
// Gives hhmmss of a time text "HH:MM:SS" (a date part "YYYY-MM-DD " may precede it), 0
// when it is not a valid time.
int32_t ParseTimeText(const std::string& text);

}  // namespace zv::engine
