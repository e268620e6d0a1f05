#include "support/ctl_run.h"

#include <sstream>

#include "vectactl.h"

namespace vecta::test {

CtlRun RunCtl(const std::vector<std::string>& args, link::Clock* clock, app::UtcClock* utc) {
  std::ostringstream out, err;
  const int status = ctl::Run(args, out, err, clock, utc);
  return {status, out.str(), err.str()};
}

void CtlOverSimTest::Serve(const std::string& board, bool satmod, std::vector<sim::ParamSeed> seeds) {
  sim::SimOptions o = SimOverTcp();
  o.unit.params = std::move(seeds);
  o.unit.board = board;
  o.unit.satmod = satmod;
  transcript.Attach(o);
  ASSERT_TRUE(StartSim(server, o));
}

CtlRun CtlOverSimTest::Ctl(std::vector<std::string> args) {
  std::vector<std::string> full = {"--tcp", SimTcpTarget(server), "--log", dir.File("ctl.log")};
  full.insert(full.end(), args.begin(), args.end());
  return RunCtl(full, &clock);
}

}  // namespace vecta::test
