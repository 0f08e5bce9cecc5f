#include "engine/core/request_check.h"

#include <algorithm>
#include <limits>

#include "engine/core/clock.h"
#include "engine/core/event_writer.h"
#include "engine/core/pending_log.h"
#include "engine/rules/event_table.h"
#include "engine/rules/text_util.h"

namespace zv::engine {
namespace {

// Refuse's event number for a refusal that writes no event.
constexpr int kNoEvent = -1;

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(
      std::clamp<int64_t>(v, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()));
}

void Event(int number, const std::string& extra) {
  int no_code = 0;
  // A failed event write must not change the answer; the event log reports its own trouble.
  (void)WriteEventLog(kEngineEventSource, number, &extra, &no_code);
}

}  // namespace

std::string RequestEventText(const std::vector<std::string>& lines, const CRequestInfo& request) {
  std::vector<std::string> all = lines;
  request.FormatRequestReport(&all);
  return JoinList(all, "\r\n", true);
}

RequestCheck::RequestCheck(const EngineSettings& settings, JobQueueProbe* probe) : settings_(settings), probe_(probe) {}

CheckStep RequestCheck::Refuse(int code, int event, const std::vector<std::string>& lines, const CRequestInfo& request,
                               CRequestResult& result, const std::vector<std::string>& extra) {
  if (event != kNoEvent) Event(event, RequestEventText(lines, request));
  result.SetResultMessage(code, extra);
  return CheckStep::kRefused;
}

CheckStep RequestCheck::DatabaseError(CZvmDatbase& db, const CRequestInfo& request, CRequestResult& result) {
  return Refuse(kResultDatabaseError, kEvDatabaseError, db.ErrorLines, request, result, DatabaseErrorLines());
}

CheckStep RequestCheck::Run(CRequestInfo& request, CRequestResult& result, std::chrono::system_clock::time_point now) {
  for (CheckStage step :
       {CheckStage::kCompleteness, CheckStage::kUser, CheckStage::kPrinter, CheckStage::kQuotaAndDuplicates}) {
    CheckStep r = RunStep(step, request, result, now);
    if (r != CheckStep::kNextStep) return r;
  }
  // The last step always decides; should it pass the request on, it is refused rather than
  // printed unchecked.
  result.SetResultMessage(kResultInternalError);
  return CheckStep::kRefused;
}

CheckStep RequestCheck::RunStep(CheckStage step, CRequestInfo& request, CRequestResult& result,
                                std::chrono::system_clock::time_point now) {
  switch (step) {
    case CheckStage::kCompleteness:
      return Completeness(request, result);
    case CheckStage::kUser:
      return User(request, result);
    case CheckStage::kPrinter:
      return Printer(request, result);
    case CheckStage::kQuotaAndDuplicates:
      return QuotaAndDuplicates(request, result, now);
    default:
      result.SetResultMessage(kResultInternalError);
      return CheckStep::kRefused;
  }
}

CheckStep RequestCheck::Completeness(CRequestInfo& request, CRequestResult& result) {
  std::vector<std::string> messages;
  if (request.ValidateRequest(&messages)) return CheckStep::kNextStep;
  return Refuse(kResultIncomplete, kEvBadRequest, messages, request, result, messages);
}

CheckStep RequestCheck::User(CRequestInfo& request, CRequestResult& result) {
  CZvmDatbase db(settings_.DSN, settings_.UID, settings_.PWD);
  bool found = false;
  if (!known_rows_) {
    // The group and the printer come in the same statement, for this step and the next.
    RequestRows rows;
    if (!db.GetRequestRows(request.AccountName, request.DeviceName, &rows)) return DatabaseError(db, request, result);
    known_rows_ = rows;
  }
  user_ = known_rows_->user;
  found = known_rows_->user_found;
  if (!found) return Refuse(kResultUnknownUser, kEvUnknownUser, {}, request, result, {request.AccountName});
  UserLimits group{};
  bool have_group = false;
  if (user_.CountShubetsu == kCountGroup) {
    group_ = known_rows_->group;
    found = known_rows_->group_found;
    if (found) {
      group = {group_.MaxPages, group_.MaxPages_Color};
      have_group = true;
    } else {
      // A user whose group is gone counts by the system's defaults.
      user_.CountShubetsu = kCountSystem;
    }
  }
  const UserLimits limits =
      ResolveUserLimits(user_.CountShubetsu, {user_.MaxPages, user_.MaxPages_Color},
                        {settings_.MaxPages, settings_.MaxPages_Color}, have_group ? &group : nullptr);
  user_.MaxPages = limits.mono;
  user_.MaxPages_Color = limits.color;
  return CheckStep::kNextStep;
}

CheckStep RequestCheck::LookUpPrinter(CZvmDatbase& db, CRequestInfo& request, CRequestResult& result) {
  bool found = false;
  if (known_rows_) {
    printer_ = known_rows_->printer;
    found = known_rows_->printer_found;
  } else if (!db.GetPrinterInfo(request.DeviceName, &printer_, &found)) {
    return DatabaseError(db, request, result);
  }
  if (!found) return Refuse(kResultUnmanagedPrinter, kEvUnmanagedPrinter, {}, request, result, {request.DeviceName});
  return CheckStep::kNextStep;
}

CheckStep RequestCheck::Printer(CRequestInfo& request, CRequestResult& result) {
  CZvmDatbase db(settings_.DSN, settings_.UID, settings_.PWD);
  CheckStep r = LookUpPrinter(db, request, result);
  printer_found_ = r == CheckStep::kNextStep;
  if (r == CheckStep::kNextStep && settings_.ThumbnailCount != 0) {
    request.ThumbnailCount =
        (settings_.ThumbnailCount >= 0 && settings_.ThumbnailCount <= 3) ? settings_.ThumbnailCount : 0;
  }
  return r;
}

CheckStep RequestCheck::QuotaAndDuplicates(CRequestInfo& request, CRequestResult& result,
                                           std::chrono::system_clock::time_point now) {
  CZvmDatbase db(settings_.DSN, settings_.UID, settings_.PWD);
  result.CheckRange = settings_.PeriodIndex;
  result.LimitDays = settings_.LimitDays;
  result.LimitDate = settings_.LimitDate;
  result.MaxPages = user_.MaxPages;
  result.MaxPages_Color = user_.MaxPages_Color;

  // The row step 3 read a moment ago stands; a step run alone looks the printer up itself.
  if (!printer_found_) {
    CheckStep r = LookUpPrinter(db, request, result);
    if (r != CheckStep::kNextStep) return r;
  }

  // With the duplicate check on, its search rides in the statement of the sum; what it
  // found counts only once the quota let the request through.
  const bool dup_check = settings_.DupCheck == 1 && !request.Jobs.empty();
  PrintLogRecord row;
  bool row_found = false;
  int64_t used = 0;
  bool summed = false;
  if (dup_check) {
    const DuplicateSearch search{user_.UID, request.Jobs.front().name, LocalDateTime(now - std::chrono::hours(1)),
                                 LocalDateTime(now)};
    summed = PeriodPagesUsedAndDupCheck(db, result.CheckRange, result.LimitDays, result.LimitDate, request.AccountName,
                                        user_.UID, printer_.Ptype, &used, search, &row, &row_found);
  } else {
    summed = PeriodPagesUsed(db, result.CheckRange, result.LimitDays, result.LimitDate, request.AccountName, user_.UID,
                             printer_.Ptype, &used);
  }
  if (!summed) return DatabaseError(db, request, result);
  if (printer_.Ptype == kPrinterMono) {
    result.PageCount = Clamp32(used);
  } else {
    result.PageCount_Color = Clamp32(used);
  }

  int64_t sheets = RequestSheetCount(request, request.ThumbnailCount);
  switch (DecideQuota(settings_.RefuseOverLimit, settings_.LimitOverAction, printer_.Ptype, used, sheets,
                      UserLimits{user_.MaxPages, user_.MaxPages_Color})) {
    case QuotaDecision::kRefuseMono:
      return Refuse(kResultMonoLimit, kNoEvent, {}, request, result, {});
    case QuotaDecision::kRefuseColor:
      return Refuse(kResultColorLimit, kNoEvent, {}, request, result, {});
    case QuotaDecision::kAllow:
      break;
  }

  if (dup_check && row_found) {
    PrinterRecord queued;
    bool printer_found = false;
    // Whether this look-up works does not matter: without a name there is no queue to ask.
    if (row.PID == printer_.PID && printer_.Used == 1) {
      queued = printer_;  // the printer of this request, read a moment ago
    } else if (!db.GetPrinterInfo(row.PID, &queued, &printer_found) || !printer_found) {
      queued.PrinterName.clear();
    }
    if (!queued.PrinterName.empty() && probe_ && PrinterQueueHoldsJob(*probe_, queued.PrinterName, row))
      return Refuse(kResultDuplicate, kNoEvent, {}, request, result, {});
  }
  return CheckStep::kPassed;
}

}  // namespace zv::engine
