// The per-account quota file "<account>.ans" of the result folder: "[PrintLimit]" with the
// period and the account's limits, counts reset to 0. CRLF line ends.
#pragma once

#include <cstdint>
#include <string>

namespace zv::engine {

// Gives the eight lines of a quota file, each ended by CR LF.
std::string ComposeQuotaFile(int32_t period_index, int32_t limit_date, int32_t limit_days, int32_t max_pages_color,
                             int32_t max_pages);

}  // namespace zv::engine
