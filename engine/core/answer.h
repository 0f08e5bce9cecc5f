// Answering a request: the period and the pages used are filled into its CRequestResult,
// the answer file "<account>-<machine>.ans" is written into the result folder and copied
// as "<slot>-<account>-<machine>.an2" for the job monitor.
#pragma once

#include <sys/types.h>

#include <string>

#include "engine/db/zvm_database.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "engine/rules/settings.h"
#include "platform/base/status.h"

namespace zv::engine {

// Completes and writes the answer of a request. Period values still -1 are taken from the
// settings; when `user` is a user row found by the check (Used 1), limits still -1 are
// taken from it and the monochrome and colour pages used in the period are summed (a
// failed sum writes event 16 and keeps the old value). Code 0 gets its completion line.
// Both files are written through a temporary name and a rename. A failed write (or an
// account/machine/slot name that is not plain) is reported in event 17 and returned.
Status WriteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                   const UserRecord& user, const std::string& slot_base);

// An answer written under temporary names in the result folder, not yet in place.
struct StagedAnswer {
  std::string answer_name;  // "<account>-<machine>.ans"
  std::string copy_name;    // "<slot>-<account>-<machine>.an2"
  std::string answer_tmp, answer_path, copy_tmp, copy_path;
};

// As WriteResult, but writes the two files under the temporary names that `staged_name`
// gives for (file name, slot) in the result folder and leaves them there; gives where they
// lie and where they belong. The account's quota file (when the result carries the quota
// and `with_quota_file` is set) is written in place. A failure (the quota file's too) is
// reported as WriteResult reports it, and nothing staged is left.
Result<StagedAnswer> StageResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                                 const UserRecord& user, const std::string& slot_base,
                                 std::string (*staged_name)(const std::string&, const std::string&),
                                 bool with_quota_file = true);

// Answers that could not be written into the result folder are kept under
// $ZELVORA_ROOT/engine/pending-answers/ (one subfolder per answer, holding the answer and
// its monitor copy under their own names) and written when the folder works again.
// Keeps the answer of a request there, completed as WriteResult completes it.
Status KeepResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                  const UserRecord& user, const std::string& slot_base);
// Gives whether answers are kept.
bool HasKeptResults();
// Writes the kept answers into `result_folder` (temporary name + rename), oldest first, and
// forgets each once written. Gives the number written; stops at the first failure.
int DeliverKeptResults(const std::string& result_folder);
// Takes an answer file name; forgets the kept answers of that name (a newer request of the
// same account and machine was taken, whose answer replaces them). Gives how many.
int DropKeptResults(const std::string& answer_name);

// Takes a file name of the result folder and a user name; gives whether the name is one of
// that user's answer names ("<user>-...", "orderNN-<user>-....an2"; ASCII case folded):
// answer names join account and machine by "-", so that one name may be two users' answers.
bool NameCouldBeUsersAnswer(const std::string& name, const std::string& user);
// Takes a path in the result folder and the owner an answer written there gets; gives
// InvalidArgument (naming both users) when a file of another user of the machine lies there
// whose own answer the name may be (NameCouldBeUsersAnswer): it is never deleted for
// someone else's answer. Ok otherwise.
Status CheckAnswerNameOwner(const std::string& path, uid_t owner);

// Takes a path in the result folder about to be written and the owner the file written
// there gets; removes (never following a link) whatever else occupies it: a folder, a
// link, a special file, a file with more names, or a file of anyone but root and that
// owner, and records an event naming its owner; except a file that CheckAnswerNameOwner
// refuses, which stays (its event names both users; InvalidArgument). Ok when the name is
// free or holds a file the write may replace.
Status ClearAnswerName(const std::string& path, uid_t owner);

// Takes a staged answer; renames each temporary file that is still there into its place
// (one already renamed is not looked for again). IOError when a rename fails.
Status PublishStaged(const StagedAnswer& staged);

}  // namespace zv::engine
