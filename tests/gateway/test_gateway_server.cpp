// The gateway's server on loopback, with a unit that answers late on a clock
// the test moves: a reply past the client's deadline never reaches it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "gateway/gateway_server.h"
#include "support/envelope_client.h"
#include "support/fake_link.h"

namespace vecta::gateway {
namespace {

// Moved on by the unit thread while the IO thread stamps requests.
struct SharedClock final : link::Clock {
  std::int64_t NowMs() override { return now; }
  link::TimeOfDay UtcTimeOfDay() override { return {}; }
  void SleepMs(std::int64_t ms) override { now += ms; }
  std::atomic<std::int64_t> now{1'000'000};
};

// Answers each request with its mnemonic; "gbty" takes 1600 ms.
struct SlowUnit final : UnitPort {
  explicit SlowUnit(SharedClock& c) : clock(c) {}
  link::Bytes Transact(const link::Bytes& frame, int, const std::string&) override {
    const std::string mnemonic(frame.begin() + 6, frame.begin() + 10);
    if (mnemonic == "gbty") clock.now += 1600;
    ++answered;
    return test::ReplyFrame(1, '1', mnemonic);
  }
  SharedClock& clock;
  std::atomic<int> answered{0};
};

TEST(GatewayServerDeadline, AReplyPastTheDeadlineIsNotSentAndTheNextRequestGetsItsOwn) {
  SharedClock clock;
  SlowUnit unit(clock);
  Scheduler scheduler(clock, 1500);
  GatewayOptions options;
  options.listenPort = 0;
  GatewayServer server(scheduler, options);
  std::string error;
  ASSERT_TRUE(server.Listen(error)) << error;
  server.Start(unit);

  test::EnvelopeClient client(server.Port());
  ASSERT_TRUE(client.SendRequest("0001rgbty;;"));
  // The unit has answered, past the deadline (a bound for a broken server only).
  for (int i = 0; i < 500 && unit.answered == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(client.Ask("0001rvloc;;"), "1vloc");
  const SchedulerCounts counts = scheduler.Counts();
  EXPECT_EQ(counts.late, 1u);
  EXPECT_EQ(counts.delivered, 1u);
  server.Stop();
}

}  // namespace
}  // namespace vecta::gateway
