// The per-account quota files of the result folder: "<account>.ans" written at the renewal
// ("[PrintLimit]" with the period and the account's limits, counts reset to 0, CRLF line
// ends) and "<account>-.ans", the file the clients and the console read, written beside it
// and beside every answer that carries the account's quota.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/base/status.h"

namespace zv::engine {

// Gives the eight lines of a quota file, each ended by CR LF.
std::string ComposeQuotaFile(int32_t period_index, int32_t limit_date, int32_t limit_days, int32_t max_pages_color,
                             int32_t max_pages);

// Gives the account's quota file name "<account>-.ans", or InvalidArgument when the account
// is not a plain name.
Result<std::string> AccountQuotaFileName(const std::string& account);

// Takes the result folder, the account and the "[PrintLimit]" text; writes "<account>-.ans"
// there through a temporary name and a rename. Gives the failure.
Status WriteAccountQuotaFile(const std::string& result_folder, const std::string& account, std::string_view text);

}  // namespace zv::engine
