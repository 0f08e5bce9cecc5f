// Print-log rows that could not be stored after their job printed: kept in files under
// $ZELVORA_ROOT/engine/pending-printlog/ (one file per print, one tab-separated line per
// row) and stored later, so that no printed page goes uncounted.
#pragma once

#include <string>
#include <vector>

#include "engine/db/zvm_database.h"
#include "engine/rules/quota_period.h"
#include "platform/base/status.h"

namespace zv::engine {

// Gives the text of rows (one line each) and back. Corruption for a damaged line.
std::string FormatPendingRows(const std::vector<PrintLogRecord>& rows);
Result<std::vector<PrintLogRecord>> ParsePendingRows(const std::string& text);

// The rows of one kept file and its identity: taken when the rows are first written, it
// goes into the database with them (PrintLogKept), so a file whose rows were stored is
// never stored again, whatever moment the engine stopped at. Files written before files
// had one have none (empty id); they are stored under an identity made from their name.
struct KeptFile {
  std::string id;
  std::vector<PrintLogRecord> rows;
};
// Gives the text of a kept file: the line "#kept\t<id>" before the rows; and back.
std::string FormatKeptFile(const KeptFile& file);
Result<KeptFile> ParseKeptFile(const std::string& text);
// Gives a fresh identity: 32 random hexadecimal digits.
std::string NewKeptId();

// Takes a function called with the name of each step of storing a kept file ("log-inserting"
// before the insert, "log-committed" after its commit, "log-unlinking" before the file is
// removed, "log-unlinked" after): the engine stops there in tests.
void SetKeptRowsStepHook(void (*hook)(const char* step));

// Keeps rows for a later insert. IOError when they cannot be written.
Status SavePendingRows(const std::vector<PrintLogRecord>& rows);

// Inserts the kept rows, file by file (each file in one transaction), removing each file
// once stored. Gives the number of files stored; stops at the first failure (its database
// lines in *errors when given). Damaged files are renamed "*.bad" and skipped. A row kept
// with an account whose UID now belongs to another account (or to none) is dropped, not
// charged to the UID's new owner, and described in *dropped when given.
// `known`, when given, is a user row read a moment ago: rows of its UID and account are
// taken as its own without asking the database again.
int StorePendingRows(CZvmDatbase& db, std::vector<std::string>* errors, std::vector<std::string>* dropped = nullptr,
                     const UserRecord* known = nullptr);

// Gives whether rows are waiting.
bool HasPendingRows();

// Takes a user's UID, a kind of pages (Ptype) and the days of a period; gives the pages of
// the kept rows (charged, not yet stored) that fall in it. They count in the engine's quota
// sums until they are stored.
int64_t KeptPageTotal(int32_t uid, int kind, const PeriodDays& days);

// Gives the pages of `kind` that `account` (UID `uid`) used in the period: the stored rows
// (GetPeriodPageTotal) plus this engine's kept rows. False when the database failed.
bool PeriodPagesUsed(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                     const std::string& account, int32_t uid, int kind, int64_t* pages);
// As above, with the duplicate search of `search` in the same statement (its newest row in
// *row, changed only when *found).
bool PeriodPagesUsedAndDupCheck(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                                const std::string& account, int32_t uid, int kind, int64_t* pages,
                                const DuplicateSearch& search, PrintLogRecord* row, bool* found);
// As above for the monochrome and colour pages at once (one statement).
bool PeriodPagesUsedByKind(CZvmDatbase& db, int32_t period_index, int32_t days, int32_t limit_date,
                           const std::string& account, int32_t uid, int64_t* mono, int64_t* color);

// Rows of a job about to be submitted are held beside the kept rows (not stored, not
// counted) until the job is known to have reached the printer; charging them is one
// rename, so a job is charged once whatever moment the engine stops at.
// Writes held rows under a fresh plain name; gives the name.
Result<std::string> HoldRows(const std::vector<PrintLogRecord>& rows);
// Replaces the content of held rows where it differs (they stay held). NotFound when they
// are gone.
Status RewriteHeldRows(const std::string& name, const std::vector<PrintLogRecord>& rows);
// Charges held rows: they become kept rows, stored by the next StorePendingRows. NotFound
// when they are gone (charged or dropped before); InvalidArgument for a name that is not
// one HoldRows gives.
Status ChargeHeldRows(const std::string& name);
// Removes held rows (the job never reached the printer).
void DropHeldRows(const std::string& name);

}  // namespace zv::engine
