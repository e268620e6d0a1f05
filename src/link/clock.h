// Time as the link sees it: a millisecond clock for reply timing, the time of
// day for log lines, and pauses. Tests inject a fake that never sleeps.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace vecta::link {

struct TimeOfDay {
  int hour = 0, minute = 0, second = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  // Monotonic milliseconds.
  virtual std::int64_t NowMs() = 0;
  // Monotonic microseconds, for timing what may take under a millisecond;
  // a clock that keeps milliseconds only gives those.
  virtual std::int64_t NowUs() { return NowMs() * 1000; }
  // Current time of day in UTC.
  virtual TimeOfDay UtcTimeOfDay() = 0;
  // Pauses the calling thread.
  virtual void SleepMs(std::int64_t ms) = 0;
};

// The real clock.
Clock& SystemClock();

// A clock whose pauses can be cut short: after Interrupt() every pause in
// progress ends at once and later ones return immediately, so a program that
// is closing does not sit out a unit's 5 s mode-change wait. Time and the
// time of day come from `base`.
class InterruptibleClock final : public Clock {
 public:
  explicit InterruptibleClock(Clock& base = SystemClock()) : base_(base) {}
  std::int64_t NowMs() override { return base_.NowMs(); }
  TimeOfDay UtcTimeOfDay() override { return base_.UtcTimeOfDay(); }
  void SleepMs(std::int64_t ms) override;
  void Interrupt();
  bool Interrupted() const;

 private:
  Clock& base_;
  mutable std::mutex m_;
  std::condition_variable cv_;
  bool interrupted_ = false;
};

}  // namespace vecta::link
