// The simulated unit's status values with --drift: a battery that runs
// down, temperatures that warm up and wander, voltages that flicker, a
// video lock that drops now and then, all fixed by the seed and the unit's
// clock; and without --drift, values that stay put.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "link/frame.h"
#include "sim_cli.h"
#include "sim_drift.h"
#include "sim_unit.h"

namespace {

using vecta::link::Bytes;
using vecta::sim::SimUnit;
using vecta::sim::UnitOptions;
using namespace std::chrono_literals;

struct Unit {
  explicit Unit(UnitOptions u = {}) {
    auto p = now;
    u.clock = [p] { return *p; };
    unit = std::make_unique<SimUnit>(u);
  }
  std::string Read(const std::string& mnemonic) {
    Bytes frame;
    EXPECT_TRUE(
        vecta::link::BuildRequestFrame("0001r" + mnemonic + ";;", vecta::link::kMaxSerialRequestFrame, frame));
    const auto reply = unit->Handle(frame);
    EXPECT_TRUE(reply.answer);
    const auto d = vecta::link::DecodeReply(reply.bytes.data(), reply.bytes.size());
    EXPECT_EQ(d.status, '1') << mnemonic;
    return d.value;
  }
  double Number(const std::string& mnemonic) { return std::strtod(Read(mnemonic).c_str(), nullptr); }
  void Advance(std::chrono::milliseconds d) { *now += d; }

  std::shared_ptr<SimUnit::Clock::time_point> now =
      std::make_shared<SimUnit::Clock::time_point>(SimUnit::Clock::time_point{} + 1000h);
  std::unique_ptr<SimUnit> unit;
};

UnitOptions Drifting(const std::string& board = "K610", std::uint64_t seed = 1, bool satmod = false) {
  UnitOptions u;
  u.board = board;
  u.satmod = satmod;
  u.drift = true;
  u.driftSeed = seed;
  return u;
}

TEST(SimDrift, WithoutDriftTheValuesStayPut) {
  UnitOptions o;
  o.satmod = true;
  o.board = "K240";
  Unit u(o);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(u.Read("gtmp"), "38");
    EXPECT_EQ(u.Read("gvnt"), "121");
    EXPECT_EQ(u.Read("gvax"), "50");
    EXPECT_EQ(u.Read("stmp"), "412");
    EXPECT_EQ(u.Read("vloc"), "1");
    u.Advance(1h);
  }
  Unit k610;
  k610.Advance(5h);
  EXPECT_EQ(k610.Read("gvba"), "14.20");
}

TEST(SimDrift, TheBatteryRunsDownToFlat) {
  Unit u(Drifting());
  EXPECT_NEAR(u.Number("gvba"), 14.20, 0.016);
  u.Advance(1h);
  EXPECT_NEAR(u.Number("gvba"), 13.00, 0.016);
  u.Advance(1h);
  EXPECT_NEAR(u.Number("gvba"), 11.80, 0.016);
  u.Advance(10h);
  EXPECT_EQ(u.Read("gvba"), "10.80");
  // Two decimals, as the unit sends it.
  u.Advance(-11h);
  const std::string text = u.Read("gvba");
  ASSERT_EQ(text.size(), 5u) << text;
  EXPECT_EQ(text[2], '.');
}

TEST(SimDrift, TemperaturesWarmUpAndWander) {
  Unit u(Drifting("K240", 1, true));
  const double gtmp0 = u.Number("gtmp"), stmp0 = u.Number("stmp");
  EXPECT_NEAR(gtmp0, 38.0, 1.75);
  EXPECT_NEAR(stmp0, 412.0, 12.6);
  u.Advance(3h);  // warm: the step is done, the wander remains
  EXPECT_NEAR(u.Number("gtmp"), 52.0, 1.75);
  EXPECT_NEAR(u.Number("stmp"), 542.0, 12.7);
  // They move from one minute to the next.
  std::set<std::string> seen;
  for (int i = 0; i < 10; ++i) {
    seen.insert(u.Read("gtmp"));
    u.Advance(1min);
  }
  EXPECT_GT(seen.size(), 3u);
}

TEST(SimDrift, SupplyVoltagesFlickerByOneStep) {
  Unit u(Drifting());
  std::set<std::string> gvnt, gvax;
  for (int i = 0; i < 200; ++i) {
    gvnt.insert(u.Read("gvnt"));
    gvax.insert(u.Read("gvax"));
    u.Advance(1s);
  }
  EXPECT_EQ(gvnt, (std::set<std::string>{"120", "121", "122"}));
  EXPECT_EQ(gvax, (std::set<std::string>{"49", "50", "51"}));
}

TEST(SimDrift, TheVideoLockDropsNowAndThenForSeconds) {
  Unit u(Drifting());
  int dropped = 0, drops = 0, longest = 0, run = 0;
  for (int s = 0; s < 4 * 3600; ++s) {
    const bool down = u.Read("vloc") == "0";
    if (down) {
      ++dropped;
      if (run++ == 0) ++drops;
      longest = std::max(longest, run);
    } else {
      run = 0;
    }
    u.Advance(1s);
  }
  EXPECT_GT(drops, 20);
  EXPECT_LT(drops, 120);
  EXPECT_LE(longest, 8);
  EXPECT_LT(dropped, 4 * 3600 / 20);  // locked well over 95 % of the time
  // With the video input off there is nothing to lock to, drift or not.
  UnitOptions off = Drifting();
  off.params.push_back({"vinp", "0"});
  Unit blank(off);
  for (int s = 0; s < 120; ++s, blank.Advance(1s)) EXPECT_EQ(blank.Read("vloc"), "0");
}

TEST(SimDrift, TheSeedAndTheClockDecideEverything) {
  Unit a(Drifting("K610", 7)), b(Drifting("K610", 7)), c(Drifting("K610", 8));
  bool differs = false;
  for (int i = 0; i < 120; ++i) {
    for (const char* m : {"gvba", "gtmp", "gvnt", "gvax", "vloc"}) {
      const std::string va = a.Read(m);
      EXPECT_EQ(va, b.Read(m)) << m << " at " << i;
      differs = differs || va != c.Read(m);
    }
    a.Advance(7s);
    b.Advance(7s);
    c.Advance(7s);
  }
  EXPECT_TRUE(differs);
  // Sixty times faster: a minute of the clock is an hour of drift.
  UnitOptions fast = Drifting("K610", 7);
  fast.driftSpeed = 60;
  Unit f(fast), slow(Drifting("K610", 7));
  f.Advance(1min);
  slow.Advance(1h);
  EXPECT_EQ(f.Read("gvba"), slow.Read("gvba"));
  EXPECT_EQ(f.Read("gtmp"), slow.Read("gtmp"));
}

TEST(SimDrift, TheCommandLineSwitchesItOn) {
  auto cl = vecta::sim::ParseCommandLine({"--drift", "--drift-seed", "5", "--drift-speed=60"});
  ASSERT_EQ(cl.action, vecta::sim::CommandLine::Action::Run) << cl.error;
  EXPECT_TRUE(cl.options.unit.drift);
  EXPECT_EQ(cl.options.unit.driftSeed, 5u);
  EXPECT_EQ(cl.options.unit.driftSpeed, 60);
  EXPECT_FALSE(vecta::sim::ParseCommandLine({}).options.unit.drift);
  EXPECT_EQ(vecta::sim::ParseCommandLine({"--drift-speed", "0"}).action, vecta::sim::CommandLine::Action::Error);
  EXPECT_EQ(vecta::sim::ParseCommandLine({"--drift=1"}).action, vecta::sim::CommandLine::Action::Error);
}

}  // namespace
