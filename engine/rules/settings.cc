#include "engine/rules/settings.h"

namespace zv::engine {

void EngineSettings::Init(int32_t today) {
  *this = EngineSettings();
  LimitDate = today;
}

void EngineSettings::ApplyCheckRange(uint32_t value) {
  // The top four bits name the period kind, one bit each (none for the first); the rest
  // hold the days of a period counted in days. Another kind keeps the index as it was.
  switch (value >> 28) {
    case 0:
      PeriodIndex = 0;
      break;
    case 1:
      PeriodIndex = 1;
      break;
    case 2:
      PeriodIndex = 2;
      break;
    case 4:
      PeriodIndex = 3;
      break;
    case 8:
      PeriodIndex = 4;
      break;
    default:
      break;
  }
  LimitDays = static_cast<int32_t>(value & 0x0FFFFFFFu);
}

void EngineSettings::ApplyLimitAction(uint32_t value) {
  MailUser = (value & 1) != 0;
  MailAdmin = (value & 2) != 0;
  RefuseOverLimit = (value & 4) != 0;
}

void EngineSettings::ApplyDispMessage(uint32_t value) {
  ShowCompletion = (value & 1) != 0;
  ShowErrors = (value & 2) != 0;
}

uint32_t EncodeCheckRange(int32_t period_index, int32_t days) {
  static const uint32_t kKinds[] = {0, 1, 2, 4, 8};
  uint32_t kind = (period_index >= 0 && period_index <= 4) ? kKinds[period_index] : 4;
  return (kind << 28) | (static_cast<uint32_t>(days) & 0x0FFFFFFFu);
}

}  // namespace zv::engine
