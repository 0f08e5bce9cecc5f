// CConsoleDatabase: the console's access to the tables Main, Groups, Printers and PrintLog,
// over the engine's CZvmDatbase. Every value is a bound parameter. Rows of Main, Groups and
// Printers are never removed: a deleted row is marked in Used and a later add takes it over
// when nothing still names its id. Adds and revivals run in one transaction with the table's
// write lock, so two consoles never give one row to two owners. Failures give false with
// ErrorLines set.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "console/rules/user_list.h"
#include "engine/db/zvm_database.h"

namespace zv::console {

using engine::GroupRecord;
using engine::PrinterRecord;
using engine::UserRecord;

class CConsoleDatabase : public engine::CZvmDatbase {
 public:
  using CZvmDatbase::CZvmDatbase;

  // Takes an id column and its table (Main/UID, Groups/GID, Printers/PID, PrintLog/ID);
  // gives the largest id in *max (0 for an empty table). A failed query fails.
  bool GetRecordMaxID(const std::string& column, const std::string& table, int32_t* max);

  // The group's live users by UID, as fresh list rows (no sums).
  bool GetGroupUser(std::vector<UserPageRow>* out, int32_t gid);

  // Printers filtered by PID (when above 0) and Used (when 0 or more), ordered by name, PID,
  // Used.
  bool GetPrinterInfo(std::vector<PrinterRecord>* out, int32_t pid_filter, int32_t used_filter);
  using CZvmDatbase::GetPrinterInfo;

  // Adds a group: takes over the first deleted group whose GID no live user names, else
  // the largest GID + 1. A live group of the same name without regard to ASCII case is
  // refused (*duplicate set when given). On success the record gets the GID and Used 1.
  bool AddGroup(GroupRecord* group, bool* duplicate = nullptr);
  // Writes every column of the group's row; refuses a name another live group has.
  bool UpdateGroup(const GroupRecord& group, bool* duplicate = nullptr);
  // Marks the group deleted (Used 0).
  bool DeleteGroup(GroupRecord* group);

  // Adds a user: takes over the lowest deleted UID that no print-log row names, else the
  // largest UID + 1. A live user of the same account without regard to ASCII case is
  // refused. Limits are stored only for CountShubetsu 3 (others store 0 and 0).
  bool AddUser(UserRecord* user, bool* duplicate = nullptr);
  bool UpdateUser(const UserRecord& user, bool* duplicate = nullptr);
  bool DeleteUser(UserRecord* user);
  // Takes live users' ids; in one transaction removes their print-log rows and marks each
  // user deleted. A user that is no longer live (deleted meanwhile, or unknown) fails the
  // whole transaction, so users and print log stay as they were. An empty list does nothing.
  bool DeleteUsers(const std::vector<int32_t>& uids);

  // Adds a managed printer: a removed printer (Used 2) of the same name without regard to
  // case comes back with its PID and the new spelling; else a free row (Used 0) of that
  // name, else the first free row, else the largest PID + 1. A live printer of the name is
  // refused.
  bool AddPrinter(PrinterRecord* printer, bool* duplicate = nullptr);
  bool UpdatePrinter(const PrinterRecord& printer);
  // Marks the printer no longer managed (Used 2): its print-log rows keep naming it.
  bool RemovePrinter(PrinterRecord* printer);
  // Frees the removed printers that no print-log row names (Used 2 -> 0).
  bool PurgeRemovedPrinters();

  // Deletes the print-log rows of the given users (in bounded chunks, one transaction); an
  // empty list deletes nothing.
  bool DeletePrintLog(const std::vector<int32_t>& uids);
  // Deletes every print-log row.
  bool DeleteAllPrintLog();

  // Days are yyyymmdd, 0 for none. Two equal days select that day; two different days the
  // days between them, whichever is given first; a single day, given as either, is an upper
  // bound; none selects every day.

  // Adds each row's page sums and per-printer breakdown in the days to the rows (matched by
  // UID); a row without a breakdown starts from 0. Rows of users without print-log rows in
  // the days keep their values.
  bool SumUserPages(std::vector<UserPageRow>* rows, int32_t first, int32_t last);
  // Sets each row's monochrome and colour pages and its job count in the days, without the
  // breakdown; rows of users without print-log rows in the days keep their values.
  bool SumUserPagesOnly(std::vector<UserPageRow>* rows, int32_t first, int32_t last);
  // The live users (of the group when gid > 0) that have at least one print-log row, by UID.
  bool GetLogHavingUser(std::vector<UserRecord>* out, int32_t gid);
  // The earliest print-log day of the users (of every row when uids is null) into *day (0
  // when the minimum is null); an empty list leaves *day as it was.
  bool GetLogMinDate(int32_t* day, const std::vector<int32_t>* uids);
  // Takes user ids and a day range (as above); gives into *out the monochrome and colour
  // pages together of each user and day that has print-log rows, keyed by (UID, yyyymmdd),
  // from one grouped query per 200 users.
  bool SumPagesByUserDay(const std::vector<int32_t>& uids, int32_t first, int32_t last,
                         std::map<std::pair<int32_t, int32_t>, int64_t>* out);
  // The printers named by the users' print-log rows in the days, by PID.
  bool GetLogPrinters(std::vector<PrinterRecord>* out, const std::vector<UserPageRow>& rows, int32_t first,
                      int32_t last);

 private:
  bool Count(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* n);
  // Takes the operation, a COUNT query for live rows of the name, its parameters, the
  // refusal's text and the caller's duplicate flag; gives true when no such row exists. A row
  // that does sets *duplicate and reports `taken` as the operation's error; a failed count
  // reports as Count does. Either way false.
  bool NameIsFree(const char* operation, const std::string& sql, const std::vector<odbc::Value>& params,
                  const std::string& taken, bool* duplicate);
  bool Run(const std::string& sql, const std::vector<odbc::Value>& params, int64_t* changed = nullptr);
};

}  // namespace zv::console
