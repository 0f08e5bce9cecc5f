// The check of a print request before it is printed: complete request, registered user
// (and the limits that apply to the user), managed printer, page quota of the period, and
// no duplicate of a job still queued. Each refusal sets the result code and message of the
// request's CRequestResult and writes the event that goes with it.
#pragma once

#include <chrono>
#include <optional>

#include "engine/core/job_queue.h"
#include "engine/db/zvm_database.h"
#include "engine/rules/check_rules.h"
#include "engine/rules/request_info.h"
#include "engine/rules/request_result.h"
#include "engine/rules/settings.h"

namespace zv::engine {

// The steps of the check, in the order they run.
enum class CheckStage : int {
  kCompleteness = 1,        // the request names everything a print needs
  kUser = 2,                // a registered user, and the limits that apply to the user
  kPrinter = 3,             // a managed printer
  kQuotaAndDuplicates = 4,  // the period's page quota; no duplicate of a job still queued
};

// What a step gives.
enum class CheckStep {
  kNextStep,  // go on with the next step
  kPassed,    // every step passed: the request may be printed
  kRefused,   // the result holds the refusal: answer it
};

class RequestCheck {
 public:
  // Takes the settings (read, not kept beyond the object) and the queue probe of the
  // duplicate check (may be null: no job then counts as queued).
  RequestCheck(const EngineSettings& settings, JobQueueProbe* probe);

  // Runs one step on the request and its result; `now` is the time of the duplicate
  // window. Each step makes its own database object. The last step gives kPassed when
  // nothing refuses; an unknown step refuses with an internal error.
  CheckStep RunStep(CheckStage step, CRequestInfo& request, CRequestResult& result,
                    std::chrono::system_clock::time_point now);

  // Runs the steps in turn until one refuses; gives kPassed or kRefused.
  CheckStep Run(CRequestInfo& request, CRequestResult& result,
                std::chrono::system_clock::time_point now = std::chrono::system_clock::now());

  // Takes the rows of the request's account, the account's group and the request's printer
  // already read for this request (as GetRequestRows gives them); steps 2 and 3 take them
  // instead of asking the database again.
  void UseRequestRows(const RequestRows& rows) { known_rows_ = rows; }

  // The user row found in step 2 (Used is 1 then; an empty record before), with MaxPages
  // and MaxPages_Color holding the limits that apply to the user.
  const UserRecord& user() const { return user_; }
  const GroupRecord& group() const { return group_; }
  const PrinterRecord& printer() const { return printer_; }

 private:
  CheckStep Completeness(CRequestInfo& request, CRequestResult& result);
  CheckStep User(CRequestInfo& request, CRequestResult& result);
  CheckStep Printer(CRequestInfo& request, CRequestResult& result);
  CheckStep QuotaAndDuplicates(CRequestInfo& request, CRequestResult& result,
                               std::chrono::system_clock::time_point now);
  CheckStep DatabaseError(CZvmDatbase& db, const CRequestInfo& request, CRequestResult& result);
  CheckStep Refuse(int code, int event, const std::vector<std::string>& lines, const CRequestInfo& request,
                   CRequestResult& result, const std::vector<std::string>& extra);
  CheckStep LookUpPrinter(CZvmDatbase& db, CRequestInfo& request, CRequestResult& result);

  const EngineSettings& settings_;
  JobQueueProbe* probe_;
  UserRecord user_;
  GroupRecord group_;
  PrinterRecord printer_;
  std::optional<RequestRows> known_rows_;
  bool printer_found_ = false;  // step 3 found the printer: step 4 does not look again
};

// Gives the extra text of a refusal event: `lines`, then the request report, joined by
// CR LF.
std::string RequestEventText(const std::vector<std::string>& lines, const CRequestInfo& request);

}  // namespace zv::engine
