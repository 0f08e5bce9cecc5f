#include "engine/core/answer.h"

#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <limits>
#include <utility>

#include "engine/core/account_owner.h"
#include "engine/core/event_writer.h"
#include "engine/core/own_folder.h"
#include "engine/core/pending_log.h"
#include "engine/core/request_check.h"
#include "engine/rules/quota_file.h"
#include "engine/rules/quota_period.h"
#include "platform/base/ascii.h"
#include "platform/base/root.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {
namespace fsys = std::filesystem;
namespace {

Status Report(const Status& s, const std::string& what) {
  std::string text = what + ": " + s.ToString();
  int no_code = 0;
  (void)WriteEventLog(kEngineEventSource, kEvWorkerError, &text, &no_code);
  return s;
}

}  // namespace

bool NameCouldBeUsersAnswer(const std::string& name, const std::string& user) {
  if (user.empty()) return false;
  const std::string n = ToLowerAscii(name), u = ToLowerAscii(user) + "-";
  if (n.compare(0, u.size(), u) == 0) return true;  // "<user>-<machine>.ans", "<user>-.ans"
  // "orderNN-<user>-<machine>.an2"
  const size_t dash = n.find('-');
  return n.size() > 4 && n.compare(n.size() - 4, 4, ".an2") == 0 && dash != std::string::npos &&
         n.compare(dash + 1, u.size(), u) == 0;
}

Status CheckAnswerNameOwner(const std::string& path, uid_t owner) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || st.st_uid == 0 || st.st_uid == owner) return Status::Ok();
  auto holder = accounts::FindAccountByUid(st.st_uid);
  const std::string name = fsys::path(path).filename().string();
  if (!holder.ok() || !NameCouldBeUsersAnswer(name, holder->name)) return Status::Ok();
  return Status::InvalidArgument("[" + name + "] a file of " + holder->name +
                                 ", whose own answer the name may be, stands in the name of an answer to " +
                                 (owner == 0 ? std::string("root") : OwnerName(owner)) +
                                 ": it is not removed, and that answer is not written over it");
}

Status ClearAnswerName(const std::string& path, uid_t owner) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT) return Status::Ok();
    return Status::IOError(fs::ErrnoText("lstat " + path, errno));
  }
  if (S_ISREG(st.st_mode) && st.st_nlink == 1 && (st.st_uid == 0 || st.st_uid == owner)) return Status::Ok();
  int no_code = 0;
  // Names are "<account>-<machine>" joined by "-": another user's file may be that user's
  // own answer, and is never deleted for someone else's.
  if (Status theirs = CheckAnswerNameOwner(path, owner); !theirs.ok()) {
    std::string text = theirs.message();
    (void)WriteEventLog(kEngineEventSource, kEvWorkerError, &text, &no_code);
    return theirs;
  }
  const char* what = S_ISDIR(st.st_mode)   ? "a folder"
                     : S_ISLNK(st.st_mode) ? "a link"
                     : S_ISREG(st.st_mode) ? "a file"
                                           : "a special file";
  Status gone = fs::RemoveNoFollow(path);
  std::string text = "[" + fsys::path(path).filename().string() + "] " + what + " of " + OwnerName(st.st_uid) +
                     " stood in an answer's name: " + (gone.ok() ? "removed" : "not removed: " + gone.ToString());
  (void)WriteEventLog(kEngineEventSource, kEvWorkerError, &text, &no_code);
  return gone;
}

namespace {

void CompleteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                    const UserRecord& user) {
  // The answer and its copy carry the request's key: its client shows no other answer.
  result.RequestID = request.RequestID;
  if (result.CheckRange == -1) result.CheckRange = settings.PeriodIndex;
  if (result.LimitDays == -1) result.LimitDays = settings.LimitDays;
  if (result.LimitDate == -1) result.LimitDate = settings.LimitDate;
  if (user.Used == 1) {
    if (result.MaxPages == -1) result.MaxPages = user.MaxPages;
    if (result.MaxPages_Color == -1) result.MaxPages_Color = user.MaxPages_Color;
    CZvmDatbase db(settings.DSN, settings.UID, settings.PWD);
    int64_t mono = 0, color = 0;
    if (PeriodPagesUsedByKind(db, result.CheckRange, result.LimitDays, result.LimitDate, request.AccountName, user.UID,
                              &mono, &color)) {
      auto clamp = [](int64_t pages) {
        return static_cast<int32_t>(std::min<int64_t>(pages, std::numeric_limits<int32_t>::max()));
      };
      result.PageCount = clamp(mono);
      result.PageCount_Color = clamp(color);
    } else {
      std::string text = RequestEventText(db.ErrorLines, request);
      int no_code = 0;
      (void)WriteEventLog(kEngineEventSource, kEvDatabaseError, &text, &no_code);
    }
  }
  if (result.ResultCode == kResultPrinted) result.SetResultMessage(kResultPrinted);
}

std::string SameName(const std::string& name, const std::string&) { return name; }

// Takes a result that carries the account's quota; gives the account's quota file text in
// the one layout every writer of "<account>-.ans" uses (the answer file itself keeps its own
// "[PrintLimit]" section).
std::string ComposeAccountQuotaText(const CRequestResult& r) {
  QuotaFileValues v;
  v.period_index = r.CheckRange;
  v.limit_date = r.LimitDate;
  v.limit_days = r.CheckRange == kPeriodDays ? r.LimitDays : 0;
  v.max_pages = r.MaxPages;
  v.page_count = r.PageCount;
  v.max_pages_color = r.MaxPages_Color;
  v.page_count_color = r.PageCount_Color;
  return ComposeQuotaText(v);
}

}  // namespace

Result<StagedAnswer> StageResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                                 const UserRecord& user, const std::string& slot_base,
                                 std::string (*staged_name)(const std::string&, const std::string&),
                                 bool with_quota_file) {
  CompleteResult(settings, request, result, user);
  auto name = AnswerFileName(request.AccountName, request.MachineName);
  if (!name.ok()) return Report(name.status(), "answer not written");
  auto copy = MonitorCopyName(slot_base, request.AccountName, request.MachineName);
  if (!copy.ok()) return Report(copy.status(), "answer not written");
  StagedAnswer st;
  st.answer_name = *name;
  st.copy_name = *copy;
  auto path = paths::JoinInside(settings.ResultPath, *name);
  auto copy_path = paths::JoinInside(settings.ResultPath, *copy);
  if (!path.ok()) return Report(path.status(), "answer not written");
  if (!copy_path.ok()) return Report(copy_path.status(), "answer not written");
  auto tmp = paths::JoinInside(settings.ResultPath, staged_name(*name, slot_base));
  auto copy_tmp = paths::JoinInside(settings.ResultPath, staged_name(*copy, slot_base));
  if (!tmp.ok()) return Report(tmp.status(), "answer not written");
  if (!copy_tmp.ok()) return Report(copy_tmp.status(), "answer not written");
  st.answer_path = *path;
  st.copy_path = *copy_path;
  st.answer_tmp = *tmp;
  st.copy_tmp = *copy_tmp;
  // The answers and the quota file are the account's: handed to it where the machine knows
  // it. The answers keep the request's spelling of the name; the quota file takes the
  // stored one, so that an account has one quota file however its users type the name.
  const std::string& account = user.Used == 1 && !user.Account.empty() ? user.Account : request.AccountName;
  const std::optional<fs::Ownership> owner = AccountFilesOwner(settings, account);
  const fs::Ownership* own = owner ? &*owner : nullptr;
  // Whatever another member put in the names written here (a folder, a link, a file of
  // theirs) is removed first, so that no one hides or forges an account's answer.
  const uid_t to = owner ? owner->uid : 0;
  Status s = Status::Ok();
  for (const std::string& p : {st.answer_tmp, st.copy_tmp})
    if (s.ok()) s = ClearAnswerName(p, to);
  if (s.ok() && with_quota_file && result.CarriesQuota()) {
    auto quota_name = AccountQuotaFileName(account);
    auto quota_path = quota_name.ok() ? paths::JoinInside(settings.ResultPath, *quota_name) : quota_name;
    if (quota_path.ok()) s = ClearAnswerName(*quota_path, to);
  }
  if (!s.ok()) return Report(s, "answer file " + st.answer_path + " not written");
  // With the owner check on, an answer to an account the machine does not know (only root
  // may ask for one) is root's alone: nobody else's client may take it for its own.
  const fs::Ownership root_alone{0, 0, 0600};
  const fs::Ownership* answer_own = own;
  if (!own && settings.CheckRequestOwner) {
    auto known = FindMachineAccount(account);
    if (!known.ok() && known.status().code() == Status::Code::kNotFound) answer_own = &root_alone;
  }
  s = result.CreateResultFile(st.answer_tmp, settings.ShowCompletion, settings.ShowErrors, answer_own);
  if (!s.ok()) return Report(s, "answer file " + st.answer_path + " not written");
  s = result.CreateResultFile(st.copy_tmp, settings.ShowCompletion, settings.ShowErrors, answer_own);
  if (!s.ok()) {
    if (st.answer_tmp != st.answer_path) ::unlink(st.answer_tmp.c_str());
    return Report(s, "answer copy " + st.copy_path + " not written");
  }
  // The account's quota file is state, not an answer: written in place beside it.
  if (with_quota_file && result.CarriesQuota()) {
    s = WriteAccountQuotaFile(settings.ResultPath, account, ComposeAccountQuotaText(result), own);
    if (!s.ok()) {
      if (st.answer_tmp != st.answer_path) ::unlink(st.answer_tmp.c_str());
      if (st.copy_tmp != st.copy_path) ::unlink(st.copy_tmp.c_str());
      return Report(s, "quota file of " + account + " not written");
    }
  }
  return st;
}

Status PublishStaged(const StagedAnswer& st) {
  for (const auto& [from, to] : {std::pair{st.answer_tmp, st.answer_path}, std::pair{st.copy_tmp, st.copy_path}}) {
    if (from == to) continue;
    struct stat staged {};
    if (::lstat(from.c_str(), &staged) != 0) continue;  // put in place already
    Status cleared = ClearAnswerName(to, staged.st_uid);
    if (!cleared.ok()) return Report(cleared, "answer not put in place");
    if (::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
      return Report(Status::IOError(fs::ErrnoText("rename " + from, errno)), "answer not put in place");
  }
  return Status::Ok();
}

namespace {
Result<std::string> KeptFolder() { return paths::RootFolder("engine/pending-answers"); }

// The kept answers' folders as this process made and removed them (listed once).
OwnFolderIndex kept_index;

std::string KeptPath() { return RuntimeRoot() + "/engine/pending-answers"; }

std::vector<fsys::path> KeptAnswers() {
  std::vector<fsys::path> out;
  // Listed, not made: a folder that is not there keeps no answer.
  const std::string dir = KeptPath();
  std::error_code ec;
  for (const std::string& name : kept_index.Names(dir)) {
    const fsys::path one = fsys::path(dir) / name;
    if (fsys::is_directory(fsys::symlink_status(one, ec))) out.push_back(one);
  }
  return out;
}

// Takes a kept answer's folder; removes it and forgets it.
void RemoveKept(const fsys::path& one) {
  std::error_code ec;
  fsys::remove_all(one, ec);
  if (!ec) kept_index.Removed(one.parent_path().string(), one.filename().string());
}
}  // namespace

Status KeepResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                  const UserRecord& user, const std::string& slot_base) {
  auto dir = KeptFolder();
  if (!dir.ok()) return dir.status();
  static std::atomic<unsigned> seq{0};
  auto now = std::chrono::system_clock::now().time_since_epoch();
  std::string one = *dir + "/" + std::to_string(std::chrono::duration_cast<std::chrono::microseconds>(now).count()) +
                    "-" + std::to_string(getpid()) + "-" + std::to_string(seq++);
  Status made = fs::MakeDirs(one, 0700);
  if (!made.ok()) return made;
  EngineSettings here = settings;
  here.ResultPath = one;
  // No quota file: it is written in place in the result folder, which is what fails now;
  // the next answer that gets through writes it afresh.
  auto kept = StageResult(here, request, result, user, slot_base, &SameName, false);
  if (!kept.ok()) {
    std::error_code ec;
    fsys::remove_all(one, ec);
    return kept.status();
  }
  kept_index.Added(fsys::path(one).parent_path().string(), fsys::path(one).filename().string());
  return Status::Ok();
}

bool HasKeptResults() { return !KeptAnswers().empty(); }

int DeliverKeptResults(const std::string& result_folder) {
  // Oldest first, stopping at the first failure: an answer kept later for the same account
  // and machine must land after (over) an older one, never under it.
  int written = 0;
  for (const fsys::path& one : KeptAnswers()) {
    std::error_code ec;
    bool ok = true;
    for (const auto& f : fsys::directory_iterator(one, ec)) {
      // A kept answer keeps the owner and mode it was written with.
      struct stat kept {};
      auto text = fs::ReadFile(f.path().string(), 1u << 20, &kept);
      auto to = paths::JoinInside(result_folder, f.path().filename().string());
      const fs::Ownership owner{kept.st_uid, kept.st_gid, static_cast<mode_t>(kept.st_mode & 0777)};
      ok = text.ok() && to.ok() && ClearAnswerName(*to, kept.st_uid).ok() &&
           fs::WriteFileAtomic(*to, *text, 0644, fs::Durability::kSynced, &owner).ok();
      if (!ok) break;
    }
    if (!ok || ec) break;
    RemoveKept(one);
    ++written;
  }
  return written;
}

int DropKeptResults(const std::string& answer_name) {
  int dropped = 0;
  for (const fsys::path& one : KeptAnswers()) {
    std::error_code ec;
    if (!fsys::exists(one / answer_name, ec)) continue;
    RemoveKept(one);
    ++dropped;
  }
  return dropped;
}

Status WriteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                   const UserRecord& user, const std::string& slot_base) {
  auto staged = StageResult(settings, request, result, user, slot_base, &SameName);
  return staged.ok() ? Status::Ok() : staged.status();
}

}  // namespace zv::engine
