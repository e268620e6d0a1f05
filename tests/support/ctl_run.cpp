#include "support/ctl_run.h"

#include <sstream>

#include "vectactl.h"

namespace vecta::test {

CtlRun RunCtl(const std::vector<std::string>& args, link::Clock* clock, app::UtcClock* utc) {
  std::ostringstream out, err;
  const int status = ctl::Run(args, out, err, clock, utc);
  return {status, out.str(), err.str()};
}

}  // namespace vecta::test
