// The unit as the gateway reaches it: the reply frame cut from what the link
// kept, and a lost unit link tried again every 2 s with a line for the journal.
#include <gtest/gtest.h>

#include "gateway/link_unit_port.h"
#include "support/fake_link.h"

namespace vecta::gateway {
namespace {

TEST(LinkUnitPort, TheReplyFrameIsCutFromWhatTheLinkKept) {
  const std::string stx = "\x02", etx = "\x03", reply = stx + "00011x;\xb3" + etx;
  const struct {
    std::string kept, frame;
  } cases[] = {
      {"\x0c" + reply + "\xff\xff", reply},  // over TCP: length byte and padding around it
      {"\xfe" + reply + stx, reply},         // serial: noise before, the next frame's start after
      {"abc" + etx, ""},                     // no STX before ETX
      {stx + "abc", ""},                     // no ETX
  };
  for (const auto& c : cases)
    EXPECT_EQ(ReplyFrameOf(c.kept), link::Bytes(c.frame.begin(), c.frame.end())) << c.frame.size();
}

TEST(LinkUnitPort, ALostLinkIsTriedAgainEvery2sAndEachLossAndReturnIsTold) {
  test::FakeClock clock;
  link::CRavlenRemoteControl link;  // nothing open
  bool up = false, canOpen = false;
  int tries = 0;
  std::vector<std::string> notices;
  LinkUnitPort port(link, clock,
                    {[&] {
                       ++tries;
                       return up = canOpen;
                     },
                     [&] { return up; }, [&](const std::string& n) { notices.push_back(n); }});
  const struct {
    std::int64_t afterMs;
    bool comesBack;
    int tries;
  } steps[] = {{0, false, 1}, {1999, false, 1}, {1, false, 2}, {500, false, 2}, {1500, true, 3}, {5000, false, 3}};
  for (const auto& s : steps) {
    clock.now += s.afterMs;
    if (s.comesBack) canOpen = true;
    port.Maintain();
    EXPECT_EQ(tries, s.tries) << clock.now;
  }
  EXPECT_EQ(notices, (std::vector<std::string>{"The unit stopped answering", "The unit link is open again"}));
  // A transaction without a reply is silence for its client; the loss was told already.
  EXPECT_TRUE(port.Transact(test::IndependentFrame("0001rgbty;;"), 1, "c").empty());
  EXPECT_EQ(notices.size(), 2u);
}

// The exchange is timed in microseconds: a unit that answers in a quarter
// of a millisecond adds a quarter of a millisecond, not nothing.
TEST(LinkUnitPort, EachExchangeIsCountedWithItsDurationInMicroseconds) {
  struct MicroClock final : link::Clock {
    std::int64_t NowMs() override { return 0; }
    std::int64_t NowUs() override { return 250 * calls++; }
    link::TimeOfDay UtcTimeOfDay() override { return {}; }
    void SleepMs(std::int64_t) override {}
    std::int64_t calls = 0;
  } clock;
  link::CRavlenRemoteControl link;  // nothing open: the exchange fails at once
  LinkUnitPort port(link, clock, {});
  metrics::LinkHealth health;
  port.SetHealth(&health);
  EXPECT_TRUE(port.Transact(test::IndependentFrame("0001rgbty;;"), 1, "c").empty());
  const metrics::LinkHealthCounts counts = health.Counts();
  EXPECT_EQ(counts.exchanges, 1u);
  EXPECT_EQ(counts.durationSumUs, 250);
  EXPECT_EQ(counts.buckets[0], 1u);
  EXPECT_EQ(counts.errors.size(), 1u);  // the link's own error code
  EXPECT_EQ(counts.unitLost, 1u);
}

}  // namespace
}  // namespace vecta::gateway
