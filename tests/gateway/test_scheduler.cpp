// The gateway's scheduler against a fake unit on a fake clock: turns, each
// reply to its asker, deadlines, clients that go.
#include <gtest/gtest.h>

#include <functional>

#include "gateway/scheduler.h"
#include "support/fake_link.h"

namespace vecta::gateway {
namespace {

using link::Bytes;

Bytes Frame(const std::string& text) {
  Bytes frame;
  link::BuildRequestFrame(text, 255, frame);
  return frame;
}

// Answers each frame with its mnemonic as the value, after `durationMs` on
// the fake clock; silent for the mnemonics listed.
struct FakeUnit final : UnitPort {
  explicit FakeUnit(test::FakeClock& c) : clock(c) {}
  Bytes Transact(const Bytes& frame, int logLevel, const std::string& client) override {
    const std::string mnemonic(frame.begin() + 6, frame.begin() + 10);
    seen.push_back(client + " " + mnemonic);
    levels.push_back(logLevel);
    clock.now += durationMs;
    if (during) during();
    if (mnemonic == silentMnemonic) return {};
    return test::ReplyFrame(1, '1', mnemonic);
  }
  test::FakeClock& clock;
  std::int64_t durationMs = 100;
  std::string silentMnemonic;
  std::function<void()> during;
  std::vector<std::string> seen;
  std::vector<int> levels;
};

struct Recorder final : ReplySink {
  void Deliver(ClientId client, const Bytes& reply) override {
    got.push_back(std::to_string(client) + " " + std::string(reply.begin() + 6, reply.begin() + 10));
  }
  void NoReply(ClientId client) override { unanswered.push_back(client); }
  std::vector<std::string> got;
  std::vector<ClientId> unanswered;  // each request ends in a reply or here
};

struct SchedulerTest : ::testing::Test {
  void Submit(ClientId client, const std::string& mnemonic) {
    ASSERT_TRUE(scheduler.Submit(client, Frame("0001r" + mnemonic + ";;"), "c" + std::to_string(client)));
  }
  void RunAll() {
    while (scheduler.RunOne(unit, sink)) {
    }
  }
  test::FakeClock clock;
  FakeUnit unit{clock};
  Recorder sink;
  Scheduler scheduler{clock, 1500};
};

TEST_F(SchedulerTest, ClientsAreServedInTurnAndEachReplyGoesToItsAsker) {
  for (const char* m : {"gbty", "glod", "oout", "ofrq"}) Submit(1, m);  // a full refresh
  Submit(2, "vloc");
  Submit(3, "csta");
  ASSERT_TRUE(scheduler.RunOne(unit, sink));
  Submit(2, "gadd");  // its next poll, while the refresh goes on
  RunAll();
  EXPECT_EQ(unit.seen, (std::vector<std::string>{"c1 gbty", "c2 vloc", "c3 csta", "c1 glod", "c2 gadd", "c1 oout",
                                                 "c1 ofrq"}));
  EXPECT_EQ(sink.got,
            (std::vector<std::string>{"1 gbty", "2 vloc", "3 csta", "1 glod", "2 gadd", "1 oout", "1 ofrq"}));
  EXPECT_EQ(scheduler.Counts().delivered, 7u);
}

TEST(SchedulerDeadlines, AReplyPastItsDeadlineIsDroppedAndARequestPastItNeverSent) {
  const struct {
    std::int64_t durationMs;
    std::uint64_t delivered, late, expired;
    std::size_t sent;
  } cases[] = {
      // Two clients ask at once; the unit takes `durationMs` per transaction.
      {700, 2, 0, 0, 2},   // both in time
      {1499, 1, 1, 0, 2},  // the first just in time; the second sent in time, answered at 2998
      {1500, 0, 1, 1, 1},  // the first at its deadline: late; the second's passed in the queue: never sent
  };
  for (const auto& c : cases) {
    test::FakeClock clock;
    FakeUnit unit{clock};
    Recorder sink;
    Scheduler scheduler{clock, 1500};
    unit.durationMs = c.durationMs;
    scheduler.Submit(1, Frame("0001rgbty;;"), "c1");
    scheduler.Submit(2, Frame("0001rvloc;;"), "c2");
    while (scheduler.RunOne(unit, sink)) {
    }
    const SchedulerCounts n = scheduler.Counts();
    EXPECT_EQ(n.delivered, c.delivered) << c.durationMs;
    EXPECT_EQ(n.late, c.late) << c.durationMs;
    EXPECT_EQ(n.expired, c.expired) << c.durationMs;
    EXPECT_EQ(unit.seen.size(), c.sent) << c.durationMs;
    EXPECT_EQ(sink.got.size(), c.delivered) << c.durationMs;
    EXPECT_EQ(sink.unanswered.size(), c.late + c.expired) << c.durationMs;
  }
}

TEST_F(SchedulerTest, AClientThatGoesGetsNothingAndItsQueueIsNeverSent) {
  Submit(1, "gbty");
  Submit(1, "glod");
  Submit(2, "vloc");
  unit.during = [this] { scheduler.RemoveClient(1); };  // gone while the unit answers
  ASSERT_TRUE(scheduler.RunOne(unit, sink));
  unit.during = nullptr;
  RunAll();
  EXPECT_EQ(unit.seen, (std::vector<std::string>{"c1 gbty", "c2 vloc"}));
  EXPECT_EQ(sink.got, (std::vector<std::string>{"2 vloc"}));
  EXPECT_TRUE(sink.unanswered.empty());  // nobody left to tell
  EXPECT_EQ(scheduler.Counts().orphaned, 1u);
}

TEST_F(SchedulerTest, ASilentUnitDeliversNothingAndTheNextReplyStillGoesRight) {
  unit.silentMnemonic = "gbty";
  Submit(1, "gbty");
  Submit(1, "vloc");
  RunAll();
  EXPECT_EQ(sink.got, (std::vector<std::string>{"1 vloc"}));
  EXPECT_EQ(sink.unanswered, (std::vector<ClientId>{1}));
  EXPECT_EQ(scheduler.Counts().silent, 1u);
}

TEST_F(SchedulerTest, AQueueHasABoundAndKeyWritesAreLoggedMasked) {
  for (std::size_t i = 0; i < kMaxQueuedFrames; ++i) Submit(1, "gbty");
  EXPECT_FALSE(scheduler.Submit(1, Frame("0001rgbty;;"), "c1"));
  EXPECT_EQ(scheduler.Waiting(1), kMaxQueuedFrames);
  ASSERT_TRUE(scheduler.Submit(2, Frame("0001wzkey;secret;"), "c2"));
  RunAll();
  EXPECT_EQ(unit.levels.at(1), 2);
  EXPECT_EQ(unit.levels.at(0), 1);
}

}  // namespace
}  // namespace vecta::gateway
