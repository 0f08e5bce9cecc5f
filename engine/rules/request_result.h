// The outcome of one print request (CRequestResult) and the answer file written from it:
// "[PrintResult]", an optional "[NormalMessage]"/"[ErrorMessage]" section and "[PrintLimit]",
// CRLF line ends. Read by the client and the job monitor.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/base/status.h"

namespace zv::fs {
struct Ownership;
}

namespace zv::engine {

// Result codes of a request, as the answer carries them.
enum ResultCode : int32_t {
  kResultInternalError = -1,  // the engine itself went wrong (any code not below says so)
  kResultPrinted = 0,
  kResultIncomplete = 1,
  kResultUnknownUser = 2,
  kResultUnmanagedPrinter = 3,
  kResultMonoLimit = 4,
  kResultJobNotOpened = 5,
  kResultPrintFailed = 6,
  kResultDatabaseError = 7,
  kResultDuplicate = 8,
  kResultColorLimit = 9,
};

// The two lines that go with a database error (result 7).
std::vector<std::string> DatabaseErrorLines();

class CRequestResult {
 public:
  int32_t ResultCode = 0;
  std::string Title;
  std::vector<std::string> Messages;
  // Quota period and use; -1 where never set. A limit of 0 means no limit.
  int32_t CheckRange = -1;  // period index 0..4
  int32_t LimitDays = -1;
  int32_t LimitDate = -1;
  int32_t MaxPages = -1;
  int32_t PageCount = -1;
  int32_t MaxPages_Color = -1;
  int32_t PageCount_Color = -1;
  // The key of the request answered, written as "RequestID" in "[PrintResult]" after
  // "Result" (nothing when empty); readers that know it not skip it.
  std::string RequestID;

  // Code 0, no title, no lines, the seven numbers -1.
  void Init();

  // Stores `code`, sets the title and appends the code's message lines and `extra` to
  // Messages (which are not emptied first).
  void SetResultMessage(int32_t code, const std::vector<std::string>& extra = {});

  // Gives whether the result carries the account's quota: both limits and both counts
  // known (none -1).
  bool CarriesQuota() const;

  // Gives the "[PrintLimit]" section as the answer carries it (CRLF line ends).
  std::string ComposeLimitText() const;

  // Gives the answer file text (CRLF line ends). The message section is written only when
  // `show_normal` is set for code 0 or `show_error` for any other code.
  std::string ComposeResultText(bool show_normal, bool show_error) const;

  // Writes the answer file to `path` through a temporary name and a rename, so that a
  // reader never sees a partial file; handed to `owner` where one is given and the engine
  // may (fs::WriteFileAtomic). Gives the failure (nothing is left behind then).
  Status CreateResultFile(const std::string& path, bool show_normal, bool show_error,
                          const fs::Ownership* owner = nullptr) const;
};

// Gives the answer file name "<account>-<machine>.ans", or InvalidArgument when either
// name is not a plain name.
Result<std::string> AnswerFileName(const std::string& account, const std::string& machine);

// Gives the job monitor's copy name "<slot>-<account>-<machine>.an2" (slot as "order07"),
// or InvalidArgument when a part is not a plain name.
Result<std::string> MonitorCopyName(const std::string& slot, const std::string& account, const std::string& machine);

}  // namespace zv::engine
