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

}  // namespace vecta::link
