#include "link/clock.h"

#include <chrono>
#include <ctime>
#include <thread>

namespace vecta::link {
namespace {
class RealClock final : public Clock {
 public:
  std::int64_t NowMs() override {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
  }
  std::int64_t NowUs() override {
    using namespace std::chrono;
    return duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count();
  }
  TimeOfDay UtcTimeOfDay() override {
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&t, &tm);
    return {tm.tm_hour, tm.tm_min, tm.tm_sec};
  }
  void SleepMs(std::int64_t ms) override {
    if (ms > 0) std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};
}  // namespace

Clock& SystemClock() {
  static RealClock clock;
  return clock;
}

void InterruptibleClock::SleepMs(std::int64_t ms) {
  if (ms <= 0) return;
  if (&base_ != &SystemClock()) {  // an injected clock times its own pauses
    if (!Interrupted()) base_.SleepMs(ms);
    return;
  }
  std::unique_lock lock(m_);
  cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return interrupted_; });
}

void InterruptibleClock::Interrupt() {
  {
    std::lock_guard lock(m_);
    interrupted_ = true;
  }
  cv_.notify_all();
}

bool InterruptibleClock::Interrupted() const {
  std::lock_guard lock(m_);
  return interrupted_;
}

}  // namespace vecta::link
