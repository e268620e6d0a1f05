// The gateway's own sampling of the status rows, as one more client of the
// scheduler: which rows each kind of unit has, their values converted as
// the pages show them, a row the unit did not answer left out, the unit's
// identity read again after it returns; against a fake unit on a fake
// clock and against the simulator.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "gateway/gateway_unit.h"
#include "gateway/metrics/sampler.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"

namespace vecta::gateway::metrics {
namespace {

using link::Bytes;

class FakeUtc final : public app::UtcClock {
 public:
  std::int64_t NowUtcMs() override { return now += 7; }
  std::int64_t now = 1'765'000'000'000;
};

// Answers by mnemonic: a value, a refusal (nullopt), or silence (absent).
struct FakeUnit final : UnitPort {
  Bytes Transact(const Bytes& frame, int, const std::string& client) override {
    const std::string mnemonic(frame.begin() + 6, frame.begin() + 10);
    asked.push_back(client + " " + mnemonic);
    if (silent) return {};
    const auto it = values.find(mnemonic);
    if (it == values.end()) return {};
    return it->second ? test::ReplyFrame(1, '1', *it->second) : test::ReplyFrame(1, 'E', "");
  }
  std::map<std::string, std::optional<std::string>> values;
  bool silent = false;
  std::vector<std::string> asked;
};

std::map<std::string, std::optional<std::string>> UnitOf(const std::string& board) {
  return {{"gadd", "0042"}, {"gbty", board}, {"gver", "3.4.1.0"}, {"gnam", "Truck \"2\""}, {"sver", std::nullopt},
          {"vloc", "1"},    {"oout", "0"},   {"csta", "2"},       {"gtmp", "038"},        {"gvnt", "121"},
          {"gvax", "50"},   {"gvba", "14.2"}, {"stmp", "412"}};
}

struct Rig {
  test::FakeClock clock;
  FakeUtc utc;
  Scheduler scheduler{clock};
  StatusSampler sampler{scheduler, clock, utc, 10000};
  FakeUnit unit;
  // Ticks and runs the unit thread's work until a sample more is finished.
  SampleResult Sample() {
    const std::uint64_t before = sampler.Samples();
    for (int i = 0; i < 100 && sampler.Samples() == before; ++i) {
      sampler.Tick();
      while (scheduler.RunOne(unit, sampler)) {
      }
      clock.now += 1000;
    }
    EXPECT_EQ(sampler.Samples(), before + 1);
    return sampler.Last();
  }
};

std::vector<std::string> Mnemonics(const SampleResult& s) {
  std::vector<std::string> out;
  for (const RowReading& r : s.rows) out.emplace_back(r.mnemonic);
  return out;
}

TEST(MetricsSampler, EachBoardHasItsRowsConvertedAsThePagesShowThem) {
  struct Case {
    std::string board;
    std::optional<std::string> sver;  // the modulator's version, or a refusal
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"K610", std::nullopt, {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "gvba"}},
      {"K240", "1.2.0.0", {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "stmp"}},
      {"K240", std::nullopt, {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax"}},
      {"K250", "1.2.0.0", {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax"}},
  };
  const std::map<std::string, double> expected = {{"vloc", 1},    {"oout", 0},  {"csta", 2},    {"gtmp", 38},
                                                  {"gvnt", 12.1}, {"gvax", 5},  {"gvba", 14.2}, {"stmp", 41.2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board);
    Rig rig;
    rig.unit.values = UnitOf(c.board);
    rig.unit.values["sver"] = c.sver;
    const SampleResult s = rig.Sample();
    EXPECT_TRUE(s.up);
    ASSERT_TRUE(s.unit);
    EXPECT_EQ(*s.unit, (UnitInfo{c.board, "3.4.1.0", "0042", "Truck \"2\""}));
    EXPECT_EQ(Mnemonics(s), c.rows);
    for (const RowReading& r : s.rows) EXPECT_EQ(r.value, expected.at(std::string(r.mnemonic))) << r.mnemonic;
    // Each row stamped when its answer came, in order.
    for (std::size_t i = 1; i < s.rows.size(); ++i) EXPECT_GT(s.rows[i].utcMs, s.rows[i - 1].utcMs);
    EXPECT_EQ(rig.unit.asked.front(), "metrics gadd");
  }
}

TEST(MetricsSampler, UnansweredRowsAreLeftOutAndTheUnitIsIdentifiedAgainAfterItReturns) {
  Rig rig;
  rig.unit.values = UnitOf("K610");
  rig.unit.values["gvax"] = std::nullopt;  // refused
  rig.unit.values.erase("gvba");           // silent: the rest of the sample skipped
  SampleResult s = rig.Sample();
  EXPECT_TRUE(s.up);
  EXPECT_EQ(Mnemonics(s), (std::vector<std::string>{"vloc", "oout", "csta", "gtmp", "gvnt"}));

  // Not yet due: nothing is asked.
  rig.unit.asked.clear();
  rig.sampler.Tick();
  EXPECT_FALSE(rig.scheduler.RunOne(rig.unit, rig.sampler));

  rig.unit.silent = true;
  rig.clock.now += 10000;
  s = rig.Sample();
  EXPECT_FALSE(s.up);
  EXPECT_TRUE(s.rows.empty());
  EXPECT_EQ(rig.unit.asked, (std::vector<std::string>{"metrics gadd"}));  // one time-out, not one per row
  ASSERT_TRUE(s.unit);  // the last identity stays known

  rig.unit.silent = false;
  rig.unit.values = UnitOf("K240");
  rig.unit.asked.clear();
  rig.clock.now += 10000;
  s = rig.Sample();
  EXPECT_TRUE(s.up);
  EXPECT_EQ(s.unit->board, "K240");
  EXPECT_EQ(rig.unit.asked.front(), "metrics gadd");
  EXPECT_EQ(s.rows.size(), 6u);
}

TEST(MetricsSampler, ARequestThatExpiresInTheQueueEndsTheSample) {
  Rig rig;
  rig.unit.values = UnitOf("K610");
  rig.sampler.Tick();
  rig.clock.now += kDefaultReplyDeadlineMs;  // the unit was busy elsewhere
  EXPECT_FALSE(rig.scheduler.RunOne(rig.unit, rig.sampler));
  EXPECT_EQ(rig.sampler.Samples(), 1u);
  EXPECT_FALSE(rig.sampler.Last().up);
  EXPECT_TRUE(rig.unit.asked.empty());
}

// The simulator behind the gateway's unit, one kind of unit per case.
TEST(MetricsSampler, TheSimulatedUnitsRowsAsItGivesThem) {
  struct Case {
    std::string board;
    bool satmod;
    std::vector<std::string> rows;
  };
  const std::vector<Case> cases = {
      {"K610", false, {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "gvba"}},
      {"K240", true, {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax", "stmp"}},
      {"K240", false, {"vloc", "oout", "csta", "gtmp", "gvnt", "gvax"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.board + (c.satmod ? " with a modulator" : ""));
    sim::SimServer sim;
    sim::SimOptions simOptions = test::SimOverTcp();
    simOptions.unit.board = c.board;
    simOptions.unit.satmod = c.satmod;
    ASSERT_TRUE(test::StartSim(sim, simOptions));
    GatewayOptions options;
    options.unit = {UnitTarget::Kind::Tcp, "", "127.0.0.1", sim.TcpPort()};
    GatewayUnit unit(options, app::UnitConnectionOptions{}, nullptr);
    std::string error;
    ASSERT_TRUE(unit.Open(error)) << error;
    LinkHealth health;
    unit.WatchHealth(health);
    FakeUtc utc;
    Scheduler scheduler(link::SystemClock());
    StatusSampler sampler(scheduler, link::SystemClock(), utc);
    sampler.Tick();
    while (scheduler.RunOne(unit.Port(), sampler)) {
    }
    const SampleResult s = sampler.Last();
    EXPECT_TRUE(s.up);
    EXPECT_EQ(s.unit->board, c.board);
    EXPECT_EQ(s.unit->address, "0001");
    EXPECT_EQ(Mnemonics(s), c.rows);
    // Every exchange counted, none failed.
    const LinkHealthCounts counts = health.Counts();
    EXPECT_EQ(counts.exchanges, scheduler.Counts().transactions);
    EXPECT_TRUE(counts.errors.empty());
  }
}

}  // namespace
}  // namespace vecta::gateway::metrics
