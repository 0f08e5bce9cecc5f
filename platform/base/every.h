// When work that runs at most once a period is due. The steady clock counts from the
// machine's boot, so a time point left at zero would make such work wait until the machine
// had been up for one period (an hour's sweep would not run in a freshly booted server's
// first hour). An Every that has never run is due at once: the work runs at the program's
// start, then once a period after each run.
#pragma once

#include <chrono>
#include <optional>

namespace zv {

class Every {
 public:
  using Clock = std::chrono::steady_clock;

  // Whether work of the given period is due at `now`: it has never run, or a whole period
  // has passed since it last ran. Asking changes nothing, so a caller may ask and then
  // decide that there is nothing to do.
  bool Due(Clock::time_point now, Clock::duration period) const { return !last_ || now - *last_ >= period; }

  // Records that the work ran at `now`.
  void Ran(Clock::time_point now) { last_ = now; }

  // Due(now, period), and when it is, Ran(now): for work that runs whenever it is due.
  bool Take(Clock::time_point now, Clock::duration period) {
    if (!Due(now, period)) return false;
    Ran(now);
    return true;
  }

 private:
  std::optional<Clock::time_point> last_;
};

}  // namespace zv
