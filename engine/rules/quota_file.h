// The per-account quota files of the result folder: "<account>.ans" written at the renewal
// ("[PrintLimit]" with the period and the account's limits, counts reset to 0, CRLF line
// ends) and "<account>-.ans", the file the clients and the console read, written beside it
// and beside every answer that carries the account's quota.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::fs {
struct Ownership;
}

namespace zv::engine {

// The values of a "[PrintLimit]" section. A limit or count that is not given is written as
// the bare key ("PageCount="): the client then shows no figure for it.
struct QuotaFileValues {
  int32_t period_index = 0;
  int32_t limit_date = 0;
  int32_t limit_days = 0;
  bool limits = true;  // false: the period lines only (the period file "Aperiod.prd")
  std::optional<int32_t> max_pages_color, max_pages, page_count_color, page_count;
};

// Gives the section's lines, each ended by CR LF: "[PrintLimit]", "CheckRange",
// "LimitDate", "LimitDays" (only for a day count above 0), then with limits "MaxPages",
// "PageCount", "MaxPages_Color", "PageCount_Color". Every writer of an account's quota
// file "<account>-.ans" and of the period file (the engine's renewal and answers, the
// console) writes this one layout.
std::string ComposeQuotaText(const QuotaFileValues& values);

// Gives the renewal's "<account>.ans": exactly eight lines, each ended by CR LF,
// "[PrintLimit]", "CheckRange", "LimitDate", "LimitDays" (also when 0), "MaxPages_Color",
// "MaxPages", "PageCount_Color=0", "PageCount=0".
std::string ComposeQuotaFile(int32_t period_index, int32_t limit_date, int32_t limit_days, int32_t max_pages_color,
                             int32_t max_pages);

// Gives the account's quota file name "<account>-.ans", or InvalidArgument when the account
// is not a plain name.
Result<std::string> AccountQuotaFileName(const std::string& account);

// Takes the result folder, the account, the "[PrintLimit]" text and the owner the file is
// handed to (none: the engine's); writes "<account>-.ans" there through a temporary name
// and a rename. Gives the failure.
Status WriteAccountQuotaFile(const std::string& result_folder, const std::string& account, std::string_view text,
                             const fs::Ownership* owner = nullptr);

}  // namespace zv::engine
