// Runs vectactl's command line in this process and keeps what it printed;
// a fixture runs it against a simulated unit.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/status_monitor.h"
#include "link/clock.h"
#include "sim_server.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"

namespace vecta::test {

struct CtlRun {
  int status = -1;  // the exit status
  std::string out, err;
};

// One vectactl command line (without the program name); `clock` times the
// unit's protocol waits and `utc` the time stamps, as vecta::ctl::Run takes
// them.
CtlRun RunCtl(const std::vector<std::string>& args, link::Clock* clock = nullptr, app::UtcClock* utc = nullptr);

// vectactl against a unit simulated in this process on loopback TCP, with a
// folder for its files and log; the unit's protocol waits pass at once.
class CtlOverSimTest : public ::testing::Test {
 protected:
  // Serves a unit of `board` (with the satellite modulator when `satmod`)
  // whose settings start from `seeds`.
  void Serve(const std::string& board = "K610", bool satmod = false, std::vector<sim::ParamSeed> seeds = {});
  // One command line against the unit: --tcp and --log come first.
  CtlRun Ctl(std::vector<std::string> args);
  // One command line without a unit.
  static CtlRun Offline(const std::vector<std::string>& args) { return RunCtl(args); }
  // The writes the unit received since the last call.
  std::vector<std::string> Writes() { return transcript.NewWrites(); }
  void ForgetWrites() { transcript.NewWrites(); }

  // Before the server, so it outlives the server's threads that write it.
  SimTranscript transcript;
  sim::SimServer server;
  FakeClock clock;
  TempDir dir;
};

}  // namespace vecta::test
