#include "engine/core/answer.h"

#include <algorithm>
#include <limits>

#include "engine/core/event_writer.h"
#include "engine/core/request_check.h"
#include "engine/rules/quota_file.h"
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

Status WriteResult(const EngineSettings& settings, const CRequestInfo& request, CRequestResult& result,
                   const UserRecord& user, const std::string& slot_base) {
  if (result.CheckRange == -1) result.CheckRange = settings.PeriodIndex;
  if (result.LimitDays == -1) result.LimitDays = settings.LimitDays;
  if (result.LimitDate == -1) result.LimitDate = settings.LimitDate;
  if (user.Used == 1) {
    if (result.MaxPages == -1) result.MaxPages = user.MaxPages;
    if (result.MaxPages_Color == -1) result.MaxPages_Color = user.MaxPages_Color;
    CZvmDatbase db(settings.DSN, settings.UID, settings.PWD);
    for (int kind : {kMonoPages, kColorPages}) {
      int64_t pages = 0;
      if (GetPeriodPageTotal(db, result.CheckRange, result.LimitDays, result.LimitDate, request.AccountName, kind,
                             &pages)) {
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

  auto name = AnswerFileName(request.AccountName, request.MachineName);
  if (!name.ok()) return Report(name.status(), "answer not written");
  auto copy = MonitorCopyName(slot_base, request.AccountName, request.MachineName);
  if (!copy.ok()) return Report(copy.status(), "answer not written");
  auto path = paths::JoinInside(settings.ResultPath, *name);
  auto copy_path = paths::JoinInside(settings.ResultPath, *copy);
  if (!path.ok()) return Report(path.status(), "answer not written");
  if (!copy_path.ok()) return Report(copy_path.status(), "answer not written");
  Status s = result.CreateResultFile(*path, settings.ShowCompletion, settings.ShowErrors);
  if (!s.ok()) return Report(s, "answer file " + *path + " not written");
  s = result.CreateResultFile(*copy_path, settings.ShowCompletion, settings.ShowErrors);
  if (!s.ok()) return Report(s, "answer copy " + *copy_path + " not written");
  if (result.CarriesQuota()) {
    s = WriteAccountQuotaFile(settings.ResultPath, request.AccountName, result.ComposeLimitText());
    if (!s.ok()) return Report(s, "quota file of " + request.AccountName + " not written");
  }
  return Status::Ok();
}

}  // namespace zv::engine
