// Answer copies in the result folder that no reader will take any more: the monitor's
// copies "orderNN-<account>-<machine>.an2" and answers staged by an engine that stopped
// (".<answer>.staged-<slot>"), removed once they are a day old. The answers themselves
// ("<account>-<machine>.ans", one per account and machine, replaced by the next) and the
// quota files "<account>.ans" and "<account>-.ans" are never removed.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "engine/hevrasto/request_slots.h"

namespace zv::engine {

// How old an answer copy must be before it is removed.
inline constexpr std::chrono::hours kAnswerCopyAge{24};

// Takes the result folder's regular files (name and when written), the time now and the
// age; gives the names to remove: answer copies and staged answers older than `max_age`.
std::vector<std::string> StaleAnswerCopies(const std::vector<JobFileAge>& files,
                                           std::chrono::system_clock::time_point now, std::chrono::seconds max_age);

// Removes the stale answer copies of the folder `result` (regular files only, never
// through a link); gives how many were removed.
int SweepAnswerCopies(const std::string& result, std::chrono::system_clock::time_point now,
                      std::chrono::seconds max_age = kAnswerCopyAge);

}  // namespace zv::engine
