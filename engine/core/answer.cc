#include "engine/core/answer.h"

#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <utility>
#include <limits>

#include "engine/core/event_writer.h"
#include "engine/core/pending_log.h"
#include "engine/core/request_check.h"
#include "platform/fs/files.h"
#include "platform/paths/paths.h"

namespace zv::engine {
namespace {

Status Report(const Status& s, const std::string& what) {
  std::string text = what + ": " + s.ToString();
  int no_code = 0;
  (void)WriteEventLog(kEngineEventSource, kEvWorkerError, &text, &no_code);
  return s;
}

}  // namespace

namespace {

void CompleteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                    const UserRecord& user) {
  if (result.CheckRange == -1) result.CheckRange = settings.PeriodIndex;
  if (result.LimitDays == -1) result.LimitDays = settings.LimitDays;
  if (result.LimitDate == -1) result.LimitDate = settings.LimitDate;
  if (user.Used == 1) {
    if (result.MaxPages == -1) result.MaxPages = user.MaxPages;
    if (result.MaxPages_Color == -1) result.MaxPages_Color = user.MaxPages_Color;
    CZvmDatbase db(settings.DSN, settings.UID, settings.PWD);
    for (int kind : {kMonoPages, kColorPages}) {
      int64_t pages = 0;
      if (PeriodPagesUsed(db, result.CheckRange, result.LimitDays, result.LimitDate, request.AccountName, user.UID,
                          kind, &pages)) {
        int32_t v = static_cast<int32_t>(std::min<int64_t>(pages, std::numeric_limits<int32_t>::max()));
        (kind == kMonoPages ? result.PageCount : result.PageCount_Color) = v;
      } else {
        std::string text = RequestEventText(db.ErrorLines, request);
        int no_code = 0;
        (void)WriteEventLog(kEngineEventSource, kEvDatabaseError, &text, &no_code);
      }
    }
  }
  if (result.ResultCode == kResultPrinted) result.SetResultMessage(kResultPrinted);
}

std::string SameName(const std::string& name, const std::string&) { return name; }

}  // namespace

Result<StagedAnswer> StageResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                                 const UserRecord& user, const std::string& slot_base,
                                 std::string (*staged_name)(const std::string&, const std::string&)) {
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
  Status s = result.CreateResultFile(st.answer_tmp, settings.ShowCompletion, settings.ShowErrors);
  if (!s.ok()) return Report(s, "answer file " + st.answer_path + " not written");
  s = result.CreateResultFile(st.copy_tmp, settings.ShowCompletion, settings.ShowErrors);
  if (!s.ok()) {
    if (st.answer_tmp != st.answer_path) ::unlink(st.answer_tmp.c_str());
    return Report(s, "answer copy " + st.copy_path + " not written");
  }
  return st;
}

Status PublishStaged(const StagedAnswer& st) {
  for (const auto& [from, to] : {std::pair{st.answer_tmp, st.answer_path}, std::pair{st.copy_tmp, st.copy_path}}) {
    if (from == to) continue;
    if (::rename(from.c_str(), to.c_str()) != 0 && errno != ENOENT)
      return Report(Status::IOError(fs::ErrnoText("rename " + from, errno)), "answer not put in place");
  }
  return Status::Ok();
}

Status WriteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                   const UserRecord& user, const std::string& slot_base) {
  auto staged = StageResult(settings, request, result, user, slot_base, &SameName);
  return staged.ok() ? Status::Ok() : staged.status();
}

}  // namespace zv::engine
