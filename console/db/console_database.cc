#include "console/db/console_database.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "engine/rules/text_util.h"

namespace zv::console {
namespace {

constexpr size_t kChunk = 200;  // users per IN list

odbc::Date ToDate(int32_t ymd) { return odbc::Date{ymd / 10000, ymd / 100 % 100, ymd % 100}; }

// Takes a chunk [at, at + n) of UIDs, `uid(i)` giving the i-th; gives the parameters of its
// "UID IN (...)" list. The values are built in place: GCC 12 reports moving a temporary
// variant holding a string as a read of uninitialised memory.
template <typename UidAt>
std::vector<odbc::Value> UidParams(size_t at, size_t n, UidAt uid) {
  std::vector<odbc::Value> p;
  p.reserve(n + 2);  // room for the day conditions (at most two) appended after the list
  for (size_t i = at; i < at + n; ++i) p.emplace_back(std::in_place_type<int64_t>, uid(i));
  return p;
}

std::string Placeholders(size_t n) {
  std::string s;
  for (size_t i = 0; i < n; ++i) s += i ? ",?" : "?";
  return s;
}

// Appends the day condition of two days (yyyymmdd, 0 for none) to `sql` and their values to
// `params`: two equal days select that day; two different days the days between them,
// whichever comes first; a single day, given as either, is an upper bound; none selects
// every day.
void DayConditions(int32_t first, int32_t last, std::string* sql, std::vector<odbc::Value>* params) {
  if (first > 0 && last > 0) {
    if (first == last) {
      *sql += " AND PDate=?";
      params->push_back(ToDate(first));
      return;
    }
    *sql += " AND PDate>=? AND PDate<=?";
    params->push_back(ToDate(std::min(first, last)));
    params->push_back(ToDate(std::max(first, last)));
    return;
  }
  if (first > 0 || last > 0) {
    *sql += " AND PDate<=?";
    params->push_back(ToDate(first > 0 ? first : last));
  }
}

// Takes a date as a database gives it ("2026-04-01", "2026/04/01", with or without a time);
// gives it as yyyymmdd, or 0 when it is no date.
int32_t DayFromText(const std::string& text) {
  int32_t day = 0;
  int digits = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9') {
      day = day * 10 + (c - '0');
      if (++digits == 8) break;
    } else if (c != '-' && c != '/') {
      break;
    }
  }
  return digits == 8 ? day : 0;
}

int32_t ToInt(const std::optional<std::string>& v) { return v ? engine::LeadingInt(*v) : 0; }

}  // namespace

bool CConsoleDatabase::Run(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* changed) {
  int64_t n = 0;
  if (!ExecuteStatement(sql, params, &n)) return false;
  if (changed) *changed = n;
  return true;
}

bool CConsoleDatabase::Count(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* n) {
  *n = 0;
  std::unique_ptr<odbc::Rows> rows;
  bool empty = true;
  if (!ExecuteQuery(sql, params, &rows, &empty)) return false;
  if (!empty) *n = ToInt(rows->Get(0));
  return true;
}

bool CConsoleDatabase::GetRecordMaxID(const std::string& column, const std::string& table, int32_t* max) {
  static const std::set<std::pair<std::string, std::string>> kIds = {
      {"UID", "Main"}, {"GID", "Groups"}, {"PID", "Printers"}, {"ID", "PrintLog"}};
  *max = 0;
  if (!kIds.count({column, table})) {
    const std::string msg = "no id column " + column + " of " + table;
    ReportDbError("GetRecordMaxID", &msg, nullptr, 0);
    return false;
  }
  int64_t n = 0;
  if (!Count("SELECT MAX(" + column + ") FROM " + table, {}, &n)) return false;
  *max = static_cast<int32_t>(n);
  return true;
}

bool CConsoleDatabase::GetGroupUser(std::vector<UserPageRow>* out, int32_t gid) {
  out->clear();
  const char* sql = "SELECT * FROM Main WHERE GID=? AND Used=1 ORDER BY UID";
  if (!ForEachRow("GetGroupUser", sql, {int64_t{gid}}, [&](const odbc::Rows& rows) {
        UserPageRow row;
        static_cast<UserRecord&>(row) = engine::UserFromRow(rows);
        out->push_back(std::move(row));
      })) {
    return false;
  }
  return true;
}

bool CConsoleDatabase::GetPrinterInfo(std::vector<PrinterRecord>* out, int32_t pid_filter, int32_t used_filter) {
  out->clear();
  std::string sql = "SELECT * FROM Printers WHERE 1=1";
  std::vector<odbc::Value> params;
  if (pid_filter > 0) {
    sql += " AND PID=?";
    params.push_back(int64_t{pid_filter});
  }
  if (used_filter >= 0) {
    sql += " AND Used=?";
    params.push_back(int64_t{used_filter});
  }
  sql += " ORDER BY PrinterName,PID,Used";
  if (!ForEachRow("GetPrinterInfo", sql, params,
                  [&](const odbc::Rows& rows) { out->push_back(engine::PrinterFromRow(rows)); })) {
    return false;
  }
  return true;
}

// ---- groups ----

bool CConsoleDatabase::NameIsFree(const char* operation, const std::string& sql, const std::vector<odbc::Value>& params,
                                  const std::string& taken, bool* duplicate) {
  int64_t n = 0;
  if (!Count(sql, params, &n)) return false;
  if (n == 0) return true;
  if (duplicate) *duplicate = true;
  ReportDbError(operation, &taken, nullptr, 0);
  return false;
}

bool CConsoleDatabase::AddGroup(GroupRecord* group, bool* duplicate) {
  if (duplicate) *duplicate = false;
  GroupRecord copy = *group;
  copy.Used = 1;
  bool ok = RunInTransaction("AddGroup", "Groups", [&] {
    if (!NameIsFree("AddGroup", "SELECT COUNT(*) FROM Groups WHERE Used=1 AND LOWER(GroupName)=LOWER(?)",
                    {copy.GroupName}, "a group of this name exists", duplicate))
      return false;
    int64_t free_gid = 0;
    if (!Count("SELECT MIN(GID) FROM Groups WHERE Used=0 AND NOT EXISTS"
               " (SELECT 1 FROM Main WHERE Main.GID=Groups.GID AND Main.Used=1)",
               {}, &free_gid)) {
      return false;
    }
    const std::vector<odbc::Value> values = {copy.GroupName, int64_t{copy.MaxPages}, int64_t{copy.MaxPages_Color}};
    if (free_gid > 0) {
      int64_t changed = 0;
      std::vector<odbc::Value> p = values;
      p.push_back(free_gid);
      if (!Run("UPDATE Groups SET GroupName=?,MaxPages=?,MaxPages_Color=?,Used=1 WHERE GID=? AND Used=0", p,
               &changed)) {
        return false;
      }
      if (changed != 1) {
        const std::string msg = "the free group row was taken meanwhile";
        ReportDbError("AddGroup", &msg, nullptr, 0);
        return false;
      }
      copy.GID = static_cast<int32_t>(free_gid);
      return true;
    }
    int32_t max = 0;
    if (!GetRecordMaxID("GID", "Groups", &max)) return false;
    copy.GID = max + 1;
    std::vector<odbc::Value> p = {int64_t{copy.GID}};
    p.insert(p.end(), values.begin(), values.end());
    return Run("INSERT INTO Groups (GID,GroupName,MaxPages,MaxPages_Color,Used) VALUES (?,?,?,?,1)", p);
  });
  if (ok) {
    group->GID = copy.GID;
    group->Used = 1;
  }
  return ok;
}

bool CConsoleDatabase::UpdateGroup(const GroupRecord& group, bool* duplicate) {
  if (duplicate) *duplicate = false;
  return RunInTransaction("UpdateGroup", "Groups", [&] {
    if (group.Used == 1) {
      if (!NameIsFree("UpdateGroup",
                      "SELECT COUNT(*) FROM Groups WHERE Used=1 AND GID<>? AND LOWER(GroupName)=LOWER(?)",
                      {int64_t{group.GID}, group.GroupName}, "a group of this name exists", duplicate))
        return false;
    }
    return Run("UPDATE Groups SET GroupName=?,MaxPages=?,MaxPages_Color=?,Used=? WHERE GID=?",
               {group.GroupName, int64_t{group.MaxPages}, int64_t{group.MaxPages_Color}, int64_t{group.Used},
                int64_t{group.GID}});
  });
}

bool CConsoleDatabase::DeleteGroup(GroupRecord* group) {
  if (!Run("UPDATE Groups SET Used=0 WHERE GID=?", {int64_t{group->GID}})) return false;
  group->Used = 0;
  return true;
}

// ---- users ----

namespace {

std::vector<odbc::Value> UserValues(const UserRecord& u) {
  const bool own = u.CountShubetsu == 3;  // a row holds limits only while they are the user's own
  return {u.Account,
          u.UserName,
          int64_t{u.GID},
          int64_t{u.CountShubetsu},
          int64_t{own ? u.MaxPages : 0},
          int64_t{own ? u.MaxPages_Color : 0},
          u.Mail};
}

}  // namespace

bool CConsoleDatabase::AddUser(UserRecord* user, bool* duplicate) {
  if (duplicate) *duplicate = false;
  UserRecord copy = *user;
  copy.Used = 1;
  bool ok = RunInTransaction("AddUser", "Main", [&] {
    if (!NameIsFree("AddUser", "SELECT COUNT(*) FROM Main WHERE Used=1 AND LOWER(Account)=LOWER(?)", {copy.Account},
                    "a user of this account exists", duplicate))
      return false;
    // A deleted UID is taken over only when no print-log row names it: the rows of the
    // deleted user must never count for the new one.
    int64_t free_uid = 0;
    if (!Count("SELECT MIN(UID) FROM Main WHERE Used=0 AND NOT EXISTS"
               " (SELECT 1 FROM PrintLog WHERE PrintLog.UID=Main.UID)",
               {}, &free_uid)) {
      return false;
    }
    std::vector<odbc::Value> values = UserValues(copy);
    if (free_uid > 0) {
      values.push_back(free_uid);
      int64_t changed = 0;
      if (!Run("UPDATE Main SET Account=?,UserName=?,GID=?,CountShubetsu=?,MaxPages=?,MaxPages_Color=?,Mail=?,"
               "Used=1 WHERE UID=? AND Used=0",
               values, &changed)) {
        return false;
      }
      if (changed != 1) {
        const std::string msg = "the free user row was taken meanwhile";
        ReportDbError("AddUser", &msg, nullptr, 0);
        return false;
      }
      copy.UID = static_cast<int32_t>(free_uid);
      return true;
    }
    int32_t max = 0;
    if (!GetRecordMaxID("UID", "Main", &max)) return false;
    copy.UID = max + 1;
    values.insert(values.begin(), int64_t{copy.UID});
    return Run(
        "INSERT INTO Main (UID,Account,UserName,GID,CountShubetsu,MaxPages,MaxPages_Color,Mail,Used)"
        " VALUES (?,?,?,?,?,?,?,?,1)",
        values);
  });
  if (ok) {
    user->UID = copy.UID;
    user->Used = 1;
  }
  return ok;
}

bool CConsoleDatabase::UpdateUser(const UserRecord& user, bool* duplicate) {
  if (duplicate) *duplicate = false;
  return RunInTransaction("UpdateUser", "Main", [&] {
    if (user.Used == 1) {
      if (!NameIsFree("UpdateUser", "SELECT COUNT(*) FROM Main WHERE Used=1 AND UID<>? AND LOWER(Account)=LOWER(?)",
                      {int64_t{user.UID}, user.Account}, "a user of this account exists", duplicate))
        return false;
    }
    std::vector<odbc::Value> values = UserValues(user);
    values.push_back(int64_t{user.Used});
    values.push_back(int64_t{user.UID});
    return Run(
        "UPDATE Main SET Account=?,UserName=?,GID=?,CountShubetsu=?,MaxPages=?,MaxPages_Color=?,Mail=?,"
        "Used=? WHERE UID=?",
        values);
  });
}

bool CConsoleDatabase::DeleteUser(UserRecord* user) {
  if (!Run("UPDATE Main SET Used=0 WHERE UID=?", {int64_t{user->UID}})) return false;
  user->Used = 0;
  return true;
}

// ---- printers ----

bool CConsoleDatabase::AddPrinter(PrinterRecord* printer, bool* duplicate) {
  if (duplicate) *duplicate = false;
  PrinterRecord copy = *printer;
  bool ok = RunInTransaction("AddPrinter", "Printers", [&] {
    if (!NameIsFree("AddPrinter", "SELECT COUNT(*) FROM Printers WHERE Used=1 AND LOWER(PrinterName)=LOWER(?)",
                    {copy.PrinterName}, "a managed printer of this name exists", duplicate))
      return false;
    // A removed printer of this name comes back with its PID and history; then a free row
    // of the name; then any free row that no print-log row names.
    const char* kFinds[] = {
        "SELECT MIN(PID) FROM Printers WHERE Used=2 AND LOWER(PrinterName)=LOWER(?)",
        "SELECT MIN(PID) FROM Printers WHERE Used=0 AND LOWER(PrinterName)=LOWER(?)",
        ("SELECT MIN(PID) FROM Printers WHERE Used=0 AND NOT EXISTS"
         " (SELECT 1 FROM PrintLog WHERE PrintLog.PID=Printers.PID)"),
    };
    for (const char* find : kFinds) {
      int64_t pid = 0;
      std::vector<odbc::Value> p;
      if (std::string(find).find('?') != std::string::npos) p.push_back(copy.PrinterName);
      if (!Count(find, p, &pid)) return false;
      if (pid <= 0) continue;
      int64_t changed = 0;
      if (!Run("UPDATE Printers SET PrinterName=?,Ptype=?,Used=1 WHERE PID=? AND Used<>1",
               {copy.PrinterName, int64_t{copy.Ptype}, pid}, &changed)) {
        return false;
      }
      if (changed != 1) {
        const std::string msg = "the printer row was taken meanwhile";
        ReportDbError("AddPrinter", &msg, nullptr, 0);
        return false;
      }
      copy.PID = static_cast<int32_t>(pid);
      return true;
    }
    int32_t max = 0;
    if (!GetRecordMaxID("PID", "Printers", &max)) return false;
    copy.PID = max + 1;
    return Run("INSERT INTO Printers (PID,PrinterName,Ptype,Used) VALUES (?,?,?,1)",
               {int64_t{copy.PID}, copy.PrinterName, int64_t{copy.Ptype}});
  });
  if (ok) {
    printer->PID = copy.PID;
    printer->Used = 1;
  }
  return ok;
}

bool CConsoleDatabase::UpdatePrinter(const PrinterRecord& printer) {
  return Run("UPDATE Printers SET PrinterName=?,Ptype=?,Used=? WHERE PID=?",
             {printer.PrinterName, int64_t{printer.Ptype}, int64_t{printer.Used}, int64_t{printer.PID}});
}

bool CConsoleDatabase::RemovePrinter(PrinterRecord* printer) {
  if (!Run("UPDATE Printers SET Used=2 WHERE PID=?", {int64_t{printer->PID}})) return false;
  printer->Used = 2;
  return true;
}

bool CConsoleDatabase::PurgeRemovedPrinters() {
  // NOT EXISTS, not NOT IN: a print-log row without a PID must not hide every row.
  return Run(
      "UPDATE Printers SET Used=0 WHERE Used=2 AND NOT EXISTS"
      " (SELECT 1 FROM PrintLog WHERE PrintLog.PID=Printers.PID)",
      {});
}

// ---- print log ----

bool CConsoleDatabase::DeletePrintLog(const std::vector<int32_t>& uids) {
  if (uids.empty()) return true;
  return RunInTransaction("DeletePrintLog", "PrintLog", [&] {
    for (size_t at = 0; at < uids.size(); at += kChunk) {
      const size_t n = std::min(kChunk, uids.size() - at);
      std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return uids[i]; });
      if (!Run("DELETE FROM PrintLog WHERE UID IN (" + Placeholders(n) + ")", p)) return false;
    }
    return true;
  });
}

bool CConsoleDatabase::DeleteUsers(const std::vector<int32_t>& uids) {
  if (uids.empty()) return true;
  return RunInTransaction("DeleteUsers", "Main", [&] {
    for (size_t at = 0; at < uids.size(); at += kChunk) {
      const size_t n = std::min(kChunk, uids.size() - at);
      std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return uids[i]; });
      if (!Run("DELETE FROM PrintLog WHERE UID IN (" + Placeholders(n) + ")", p)) return false;
    }
    for (int32_t uid : uids) {
      int64_t changed = 0;
      if (!Run("UPDATE Main SET Used=0 WHERE UID=? AND Used=1", {int64_t{uid}}, &changed)) return false;
      if (changed != 1) {
        const std::string msg = "user " + std::to_string(uid) + " is not a live user";
        ReportDbError("DeleteUsers", &msg, nullptr, 0);
        return false;
      }
    }
    return true;
  });
}

bool CConsoleDatabase::DeleteAllPrintLog() { return Run("DELETE FROM PrintLog", {}); }

bool CConsoleDatabase::SumUserPages(std::vector<UserPageRow>* rows, int32_t first, int32_t last) {
  std::map<int32_t, UserPageRow*> by_uid;
  std::vector<int32_t> uids;
  for (auto& r : *rows) {
    if (by_uid.emplace(r.UID, &r).second) uids.push_back(r.UID);
  }
  for (size_t at = 0; at < uids.size(); at += kChunk) {
    const size_t n = std::min(kChunk, uids.size() - at);
    std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return uids[i]; });
    std::string sql = "SELECT UID,PID,Ptype,SUM(Pages),COUNT(*) FROM PrintLog WHERE UID IN (" + Placeholders(n) + ")";
    DayConditions(first, last, &sql, &p);
    sql += " GROUP BY UID,PID,Ptype ORDER BY UID,PID,Ptype";
    if (!ForEachRow("SumUserPages", sql, p, [&](const odbc::Rows& result) {
          UserPageRow* row = by_uid[ToInt(result.Get(0))];
          PrinterPageSum cell{ToInt(result.Get(1)), ToInt(result.Get(3)), ToInt(result.Get(4)), ToInt(result.Get(2))};
          if (row) {
            // A row without a breakdown yet starts its sums afresh; later calls add to them.
            if (row->PrinterSums.empty()) row->MonoPages = row->ColorPages = row->JobCount = 0;
            row->PrinterSums.push_back(cell);
            (cell.Ptype == 1 ? row->ColorPages : row->MonoPages) += cell.Pages;
            row->JobCount += cell.Count;
          }
        })) {
      return false;
    }
  }
  return true;
}

bool CConsoleDatabase::SumUserPagesOnly(std::vector<UserPageRow>* rows, int32_t first, int32_t last) {
  std::map<int32_t, UserPageRow*> by_uid;
  std::vector<int32_t> uids;
  for (auto& r : *rows) {
    if (by_uid.emplace(r.UID, &r).second) uids.push_back(r.UID);
  }
  for (size_t at = 0; at < uids.size(); at += kChunk) {
    const size_t n = std::min(kChunk, uids.size() - at);
    std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return uids[i]; });
    std::string sql = "SELECT UID,Ptype,SUM(Pages),COUNT(*) FROM PrintLog WHERE UID IN (" + Placeholders(n) + ")";
    DayConditions(first, last, &sql, &p);
    sql += " GROUP BY UID,Ptype ORDER BY UID,Ptype";
    // The job count is the user's monochrome and colour jobs together.
    std::map<int32_t, int32_t> jobs;
    if (!ForEachRow("SumUserPagesOnly", sql, p, [&](const odbc::Rows& result) {
          const int32_t uid = ToInt(result.Get(0));
          if (UserPageRow* row = by_uid[uid]) {
            (ToInt(result.Get(1)) == 1 ? row->ColorPages : row->MonoPages) = ToInt(result.Get(2));
            jobs[uid] += ToInt(result.Get(3));
          }
        })) {
      return false;
    }
    for (const auto& [uid, count] : jobs) by_uid[uid]->JobCount = count;
  }
  return true;
}

bool CConsoleDatabase::SumPagesByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                                         std::map<std::pair<int32_t, int32_t>, int64_t>* out) {
  out->clear();
  for (size_t at = 0; at < uids.size(); at += kChunk) {
    const size_t n = std::min(kChunk, uids.size() - at);
    std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return uids[i]; });
    std::string sql = "SELECT UID,PDate,SUM(Pages) FROM PrintLog WHERE UID IN (" + Placeholders(n) + ")";
    DayConditions(first, last, &sql, &p);
    sql += " GROUP BY UID,PDate";
    if (!ForEachRow("SumPagesByUserDay", sql, p, [&](const odbc::Rows& result) {
          const std::optional<std::string> day = result.Get(1);
          const int32_t d = day ? DayFromText(*day) : 0;
          if (d > 0) (*out)[{ToInt(result.Get(0)), d}] += ToInt(result.Get(2));
        })) {
      return false;
    }
  }
  return true;
}

bool CConsoleDatabase::GetLogHavingUser(std::vector<UserRecord>* out, int32_t gid) {
  out->clear();
  std::string sql = "SELECT * FROM Main WHERE ";
  std::vector<odbc::Value> p;
  if (gid > 0) {
    sql += "GID=? AND ";
    p.push_back(int64_t{gid});
  }
  sql += "Used=1 AND UID IN (SELECT UID FROM PrintLog) ORDER BY UID";
  if (!ForEachRow("GetLogHavingUser", sql, p,
                  [&](const odbc::Rows& rows) { out->push_back(engine::UserFromRow(rows)); })) {
    return false;
  }
  return true;
}

bool CConsoleDatabase::GetLogMinDate(int32_t* day, const std::vector<int32_t>* uids) {
  // An empty list names nobody: the day stays as it was (no list at all means every row).
  if (uids && uids->empty()) return true;
  std::optional<int32_t> earliest;
  bool any_row = false;
  auto read = [&](const std::string& sql, const std::vector<odbc::Value>& p) {
    std::unique_ptr<odbc::Rows> rows;
    bool empty = true;
    if (!ExecuteQuery(sql, p, &rows, &empty)) return false;
    if (empty) return true;
    any_row = true;
    const std::optional<std::string> v = rows->Get(0);
    const int32_t d = v ? DayFromText(*v) : 0;
    if (d > 0 && (!earliest || d < *earliest)) earliest = d;
    return true;
  };
  if (!uids) {
    if (!read("SELECT MIN(PDate) FROM PrintLog", {})) return false;
  } else {
    for (size_t at = 0; at < uids->size(); at += kChunk) {
      const size_t n = std::min(kChunk, uids->size() - at);
      std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return (*uids)[i]; });
      if (!read("SELECT MIN(PDate) FROM PrintLog WHERE UID IN (" + Placeholders(n) + ")", p)) return false;
    }
  }
  // A minimum over no matching row is null: no day.
  if (any_row) *day = earliest.value_or(0);
  return true;
}

bool CConsoleDatabase::GetLogPrinters(std::vector<PrinterRecord>* out, const std::vector<UserPageRow>& rows,
                                      int32_t first, int32_t last) {
  out->clear();
  std::map<int32_t, PrinterRecord> found;
  auto read = [&](const std::string& users, std::vector<odbc::Value> p) {
    std::string sql = "SELECT * FROM Printers WHERE PID IN (SELECT PID FROM PrintLog WHERE 1=1" + users;
    DayConditions(first, last, &sql, &p);
    sql += ") ORDER BY PID";
    if (!ForEachRow("GetLogPrinters", sql, p, [&](const odbc::Rows& result) {
          PrinterRecord pr = engine::PrinterFromRow(result);
          found.emplace(pr.PID, pr);
        })) {
      return false;
    }
    return true;
  };
  if (rows.empty()) {
    if (!read("", {})) return false;
  }
  for (size_t at = 0; at < rows.size(); at += kChunk) {
    const size_t n = std::min(kChunk, rows.size() - at);
    std::vector<odbc::Value> p = UidParams(at, n, [&](size_t i) { return rows[i].UID; });
    if (!read(" AND UID IN (" + Placeholders(n) + ")", p)) return false;
  }
  for (auto& [pid, pr] : found) out->push_back(pr);
  return true;
}

}  // namespace zv::console
