// Local dates and times of the engine as int32 yyyymmdd / hhmmss, from the machine's clock
// and time zone.
#pragma once

#include <chrono>
#include <cstdint>

#include "engine/db/zvm_database.h"

namespace zv::engine {

// Gives the local date and time of a moment.
DateTimeValue LocalDateTime(std::chrono::system_clock::time_point t);

// Gives today's local date, yyyymmdd.
int32_t TodayDate();

}  // namespace zv::engine
