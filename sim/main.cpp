// vecta-sim: a simulated transmitter unit on TCP and serial lines, for tests,
// demonstrations and operator training. Runs until SIGINT or SIGTERM.
#include <signal.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/stop_signals.h"
#include "sim_cli.h"
#include "sim_server.h"

int main(int argc, char** argv) {
  using namespace vecta::sim;
  CommandLine cl = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  if (cl.action == CommandLine::Action::Help) {
    std::fputs(UsageText().c_str(), stdout);
    return 0;
  }
  if (cl.action == CommandLine::Action::Version) {
    std::puts("vecta-sim " VECTA_VERSION);
    return 0;
  }
  if (cl.action == CommandLine::Action::Error) {
    std::fprintf(stderr, "vecta-sim: %s\n%s", cl.error.c_str(), UsageText().c_str());
    return 2;
  }

  // Before any thread starts, so the signals reach only the sigwait below.
  const sigset_t stopSignals = vecta::platform::BlockStopSignals();

  if (cl.transcript)
    cl.options.transcript = [](const std::string& line) {
      std::fprintf(stdout, "%s\n", line.c_str());
      std::fflush(stdout);
    };

  SimServer server;
  std::string error;
  if (!server.Start(cl.options, error)) {
    std::fprintf(stderr, "vecta-sim: %s\n", error.c_str());
    return 1;
  }
  if (cl.options.tcp)
    std::printf("vecta-sim: tcp %s:%u\n", server.TcpAddress().c_str(), static_cast<unsigned>(server.TcpPort()));
  if (cl.options.pty) std::printf("vecta-sim: pty %s\n", server.PtyPath().c_str());
  if (!cl.options.serialDevice.empty())
    std::printf("vecta-sim: serial %s %u\n", cl.options.serialDevice.c_str(), cl.options.serialBaud);
  std::printf("vecta-sim: ready\n");
  std::fflush(stdout);

  int sig = 0;
  while (sigwait(&stopSignals, &sig) != 0) {
  }
  server.Stop();
  return 0;
}
