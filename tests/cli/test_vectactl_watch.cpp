// `vectactl watch`: the table and the JSON lines against the simulator, the
// sample count and the pauses between samples, giving up after three silent
// samples in a row (and only then), and Ctrl-C. The clocks are injected:
// nothing waits for an interval.
#include <gtest/gtest.h>

#include <csignal>
#include <nlohmann/json.hpp>
#include <numeric>
#include <sstream>

#include "app/status_monitor.h"
#include "sim_server.h"
#include "sim_unit.h"
#include "support/ctl_run.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"
#include "vectactl.h"
#include "watch.h"

using namespace vecta;
using namespace vecta::test;

namespace {

// 2026-12-08T22:20:05.000Z
constexpr std::int64_t kT0 = 1796768405000;

// Wall-clock time that moves with the fake clock.
class UtcOf final : public app::UtcClock {
 public:
  explicit UtcOf(FakeClock& clock) : clock_(clock), start_(clock.now) {}
  std::int64_t NowUtcMs() override { return kT0 + (clock_.now - start_); }

 private:
  FakeClock& clock_;
  std::int64_t start_;
};

std::int64_t Slept(const FakeClock& c) { return std::accumulate(c.slept.begin(), c.slept.end(), std::int64_t{0}); }

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

const std::string kHeader =
    "time                      vloc  oout  csta        gtmp \u00b0C   gvnt V   gvax V   gvba V\n";

class WatchCli : public ::testing::Test {
 protected:
  void Serve(const sim::SimOptions& o) { ASSERT_TRUE(StartSim(server, o)); }
  void ServeTcp(const std::string& board = "K610") {
    sim::SimOptions o = SimOverTcp();
    o.unit.board = board;
    Serve(o);
  }
  CtlRun Ctl(std::vector<std::string> args) {
    std::vector<std::string> full = {"--log", dir.File("ctl.log")};
    if (server.TcpPort()) {
      full.push_back("--tcp");
      full.push_back(SimTcpTarget(server));
    }
    full.insert(full.end(), args.begin(), args.end());
    return RunCtl(full, &clock, &utc);
  }

  sim::SimServer server;
  FakeClock clock;
  UtcOf utc{clock};
  TempDir dir;
};

TEST_F(WatchCli, ATableWithAHeaderOneLinePerSample) {
  ServeTcp();
  const CtlRun r = Ctl({"watch", "--count", "3", "--interval", "2000"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, kHeader +
                       "2026-12-08T22:20:05.000Z  Yes   On    Not active       38     12.1      5.0    14.20\n"
                       "2026-12-08T22:20:07.000Z  Yes   On    Not active       38     12.1      5.0    14.20\n"
                       "2026-12-08T22:20:09.000Z  Yes   On    Not active       38     12.1      5.0    14.20\n");
  // Two pauses of one interval each, looked at in short slices.
  EXPECT_EQ(Slept(clock), 4000);
  for (auto ms : clock.slept) EXPECT_LE(ms, 100);
}

TEST_F(WatchCli, JsonLinesCarryTheShownValueAndTheNumber) {
  ServeTcp("K240");
  const CtlRun r = Ctl({"watch", "--count", "2", "--json"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u) << r.out;
  EXPECT_EQ(lines[0],
            "{\"time\":\"2026-12-08T22:20:05.000Z\",\"answered\":true,\"values\":{"
            "\"vloc\":{\"shown\":\"Yes\",\"value\":1},\"oout\":{\"shown\":\"On\",\"value\":1},"
            "\"csta\":{\"shown\":\"Not active\",\"value\":0},\"gtmp\":{\"shown\":\"38\",\"value\":38.0},"
            "\"gvnt\":{\"shown\":\"12.1\",\"value\":12.1},\"gvax\":{\"shown\":\"5.0\",\"value\":5.0}}}");
  // The default interval is 5 s.
  EXPECT_EQ(nlohmann::json::parse(lines[1])["time"], "2026-12-08T22:20:10.000Z");
  EXPECT_EQ(Slept(clock), 5000);
}

TEST_F(WatchCli, AModulatorThatAnswersAddsItsTemperature) {
  sim::SimOptions o = SimOverTcp();
  o.unit.board = "K240";
  o.unit.satmod = true;
  Serve(o);
  const CtlRun r = Ctl({"watch", "--count", "1"});
  ASSERT_EQ(r.status, 0) << r.err;
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0],
            "time                      vloc  oout  csta        gtmp \u00b0C   gvnt V   gvax V  stmp \u00b0C");
  EXPECT_EQ(lines[1], "2026-12-08T22:20:05.000Z  Yes   On    Not active       38     12.1      5.0     41.2");
}

TEST_F(WatchCli, ThreeSilentSamplesInARowEndTheWatchWithStatus1) {
  sim::SimOptions o = SimOverPty();
  // The board type, then two whole samples of seven rows.
  o.faults.silentAfter = 1 + 2 * 7;
  Serve(o);
  std::vector<std::string> args = {"--serial", server.PtyPath(), "--address",  "1",   "--read-timeout",
                                   "20",       "watch",          "--interval", "1000"};
  const CtlRun r = Ctl(args);
  EXPECT_EQ(r.status, 1);
  const auto lines = Lines(r.out);
  ASSERT_EQ(lines.size(), 6u) << r.out;
  EXPECT_EQ(lines[2], "2026-12-08T22:20:06.000Z  Yes   On    Not active       38     12.1      5.0    14.20");
  for (std::size_t i = 3; i < 6; ++i)
    EXPECT_EQ(lines[i].substr(24), "  -     -     -                 -        -        -        -") << i;
  EXPECT_EQ(r.err, "The unit stopped answering: no reply to 3 samples in a row\n");
}

TEST_F(WatchCli, BadIntervalsAndCountsAreUsageErrors) {
  ServeTcp();
  EXPECT_EQ(Ctl({"watch", "--interval", "50"}).status, 2);
  EXPECT_EQ(Ctl({"watch", "--count", "0"}).status, 2);
  EXPECT_NE(ctl::Usage().find("watch"), std::string::npos);
}

// RunWatch itself over the fake serial line, with a unit that can be
// silenced per sample.
class WatchLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    // Silence costs the unit's clock 10 ms a try.
    link::SerialTimeouts t;
    t.readTotalConstant = 10;
    f.link->SetInitialTimeouts(t);
    ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
    f.line().responder = [this](const Bytes& request) -> std::optional<Bytes> {
      if (silent) return std::nullopt;
      const auto r = unit.Handle(request);
      if (!r.answer) return std::nullopt;
      return r.bytes;
    };
  }
  int Watch(const ctl::WatchOptions& o) { return ctl::RunWatch(*f.link, 1, rows, o, out, err, f.clock, utc); }

  FakeLink f;
  UtcOf utc{f.clock};
  sim::SimUnit unit;
  bool silent = false;
  std::vector<app::StatusRow> rows = app::StatusRowsFor(params::Variant::K610, false);
  std::ostringstream out, err;
};

// A clock that silences the unit, or sends SIGINT, at chosen pauses.
class ScriptedClock final : public link::Clock {
 public:
  explicit ScriptedClock(FakeClock& base) : base_(base) {}
  std::int64_t NowMs() override { return base_.NowMs(); }
  link::TimeOfDay UtcTimeOfDay() override { return base_.UtcTimeOfDay(); }
  void SleepMs(std::int64_t ms) override {
    ++sleeps;
    if (onSleep) onSleep(sleeps);
    base_.SleepMs(ms);
  }
  int sleeps = 0;
  std::function<void(int)> onSleep;

 private:
  FakeClock& base_;
};

TEST_F(WatchLoop, OnlyThreeSilentSamplesInARowCount) {
  // Samples 1..9, one a second: answered, silent, silent, answered, silent,
  // silent, silent - the watch ends there.
  const std::vector<bool> silence = {false, true, true, false, true, true, true, false, false};
  const std::int64_t start = f.clock.now;
  f.line().responder = [&](const Bytes& request) -> std::optional<Bytes> {
    if (silence[static_cast<std::size_t>((f.clock.now - start) / 1000)]) return std::nullopt;
    return unit.Handle(request).bytes;
  };
  ctl::WatchOptions o;
  o.intervalMs = 1000;
  EXPECT_EQ(Watch(o), 1);
  const auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 1u + 7u) << out.str();
  // Each stamped when its first request ended: the reply's bytes took the
  // unit's clock 10 ms, the silent tries 11 ms.
  EXPECT_EQ(lines[3].substr(0, 29), "2026-12-08T22:20:07.011Z  -  ");
  EXPECT_EQ(lines[4].substr(0, 29), "2026-12-08T22:20:08.010Z  Yes");
  EXPECT_EQ(lines[7].substr(0, 29), "2026-12-08T22:20:11.011Z  -  ");
  EXPECT_FALSE(err.str().empty());
}

TEST_F(WatchLoop, CtrlCEndsTheWatchWithStatus0) {
  ScriptedClock clock(f.clock);
  clock.onSleep = [](int n) {
    if (n == 25) std::raise(SIGINT);  // in the pause after the second sample
  };
  ctl::WatchOptions o;
  o.intervalMs = 2000;
  o.json = true;
  const auto before = std::signal(SIGINT, SIG_DFL);
  EXPECT_EQ(ctl::RunWatch(*f.link, 1, rows, o, out, err, clock, utc), 0);
  EXPECT_EQ(Lines(out.str()).size(), 2u);
  EXPECT_TRUE(err.str().empty());
  // The handling before the watch is back.
  EXPECT_EQ(std::signal(SIGINT, before), SIG_DFL);
}

TEST_F(WatchLoop, ASlowSampleDoesNotMakeTheNextOnesCatchUp) {
  // Each exchange takes 300 ms of the unit's time: seven rows take more
  // than two intervals.
  std::vector<std::int64_t> starts;
  f.line().responder = [&](const Bytes& request) -> std::optional<Bytes> {
    if (std::string(request.begin() + 6, request.begin() + 10) == "vloc") starts.push_back(f.clock.now);
    f.clock.now += 300;
    return unit.Handle(request).bytes;
  };
  const std::int64_t t0 = f.clock.now;
  ctl::WatchOptions o;
  o.intervalMs = 1000;
  o.count = 3;
  EXPECT_EQ(Watch(o), 0);
  EXPECT_EQ(Slept(f.clock), 0);
  const auto lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 4u);
  ASSERT_EQ(starts.size(), 3u);
  EXPECT_GT(starts[1] - starts[0], 2100);
  // Stamped when the first answer was in: 300 ms after its request, and
  // 10 ms for its bytes.
  for (std::size_t i = 0; i < 3; ++i)
    EXPECT_EQ(lines[i + 1].substr(0, 24), app::FormatUtcTime(kT0 + starts[i] + 310 - t0)) << i;
}

}  // namespace
