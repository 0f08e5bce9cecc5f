// The quota cache: the frame's cached quota values refreshed from the server's result
// folder. The account's quota is read from exactly three files, "<account>-.ans",
// "<account>-<machine>.ans" and "<account>.ans" (the newest wins, no file is deleted), and
// the period from "Aperiod.prd".
#pragma once

#include <string>
#include <vector>

#include "client/answer.h"
#include "client/config.h"

namespace zv::client {

// Gives the candidate quota files of an account on a machine, in the order in which equal
// times are decided (the earlier wins): "<account>-.ans", "<account>-<machine>.ans",
// "<account>.ans". Empty when the account or machine is not a plain name.
std::vector<std::string> QuotaFileCandidates(const std::string& account, const std::string& machine);

// Gives the newest existing candidate in `folder` (its path), or "" when none exists.
std::string NewestQuotaFile(const std::string& folder, const std::string& account, const std::string& machine);

// Stores one "[PrintLimit]" key into the state: 0 "CheckRange" (0 none, 1 day, 2 week,
// 3 month, 4 days; other numbers leave the kind), 1 "LimitDate", 2 "MaxPages" (empty: 0),
// 3 "PageCount" (only when not empty), 4 "MaxPages_Color" (empty: 0), 5 "PageCount_Color"
// (only when not empty).
void StoreQuotaKey(int index, const std::string& text, QuotaState& state);

// Refreshes the state from the result folder of `config`'s server: nothing without a
// server; the six keys of the newest quota file (exactly three empty: the four page values
// become -1), then "CheckRange", "LimitDate" and, for a given number of days, "LimitDays"
// of "Aperiod.prd". Failures leave the values as they were.
void RefreshQuotaCache(const ClientConfig& config, QuotaState& state);

}  // namespace zv::client
