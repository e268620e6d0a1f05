// Time as the link sees it: a millisecond clock for reply timing, the time of
// day for log lines, and pauses. Tests inject a fake that never sleeps.
#pragma once

#include <cstdint>

namespace vecta::link {

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds.
  virtual std::int64_t NowMs() = 0;
  // Current time of day in UTC.
  virtual TimeOfDay UtcTimeOfDay() = 0;
  // Pauses the calling thread.
  virtual void SleepMs(std::int64_t ms) = 0;
};

// The real clock.
Clock& SystemClock();

}  // namespace vecta::link
