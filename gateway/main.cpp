// vecta-gateway: owns one unit and serves it to many programs over TCP in
// the unit's own Ethernet protocol. Runs until SIGINT or SIGTERM; losses and
// returns of the unit, refused connections and clients cut off go to stderr.
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "gateway/gateway_command_line.h"
#include "gateway/gateway_server.h"
#include "gateway/gateway_unit.h"
#include "gateway/service_notify.h"

using namespace vecta;

namespace {

void Journal(const std::string& line) {
  std::fprintf(stderr, "vecta-gateway: %s\n", line.c_str());
  std::fflush(stderr);
}

// The command line into options; an exit code when the program ends here.
int ParseArguments(int argc, char** argv, gateway::GatewayOptions& o) {
  const gateway::CommandLineResult r = gateway::ParseCommandLine({argv + 1, argv + argc}, o);
  std::fputs(r.output.c_str(), stdout);
  if (!r.error.empty() && r.error.back() == '\n') {
    std::fputs(r.error.c_str(), stderr);  // CLI11's own text, with the usage
  } else if (!r.error.empty()) {
    Journal(r.error);
  }
  return r.exitCode;
}

int Run(int argc, char** argv) {
  gateway::GatewayOptions options;
  if (const int code = ParseArguments(argc, argv, options); code >= 0) return code;

  // Blocked before any thread starts, so the signals reach only sigwait.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  app::UnitConnectionOptions linkOptions;
  linkOptions.baudRate = options.baudRate;
  linkOptions.timeouts = options.timeouts;
  gateway::GatewayUnit unit(options, std::move(linkOptions), Journal);
  std::string error;
  if (!unit.Open(error)) Journal(error + "; trying again every 2 s");

  link::Clock& clock = link::SystemClock();
  gateway::Scheduler scheduler(clock, options.replyDeadlineMs);
  gateway::GatewayServer server(scheduler, options, Journal);
  if (!server.Listen(error)) {
    Journal(error);
    return 1;
  }
  Journal("listening on " + options.listenHost + ":" + std::to_string(server.Port()));
  server.Start(unit.Port());

  // Ready once listening; then alive at each watchdog interval until a
  // stop signal comes.
  // NOLINTNEXTLINE(concurrency-mt-unsafe): nothing in the program changes its environment.
  const gateway::ServiceNotifier manager(std::getenv("NOTIFY_SOCKET"), std::getenv("WATCHDOG_USEC"));
  manager.Notify("READY=1");
  const std::int64_t ping = manager.WatchdogPingMs();
  bool stuckTold = false;
  for (;;) {
    if (ping <= 0) {
      int sig = 0;
      if (sigwait(&stopSignals, &sig) == 0) break;
      continue;
    }
    const timespec wait{static_cast<time_t>(ping / 1000), static_cast<long>(ping % 1000) * 1000000};
    if (sigtimedwait(&stopSignals, nullptr, &wait) >= 0) break;
    if (errno != EAGAIN) continue;
    // Alive only while both threads come round: a thread stuck for good
    // stops the pings and the service manager restarts the gateway.
    if (server.BothMovedSinceLastAsked()) {
      manager.Notify("WATCHDOG=1");
      stuckTold = false;
    } else if (!stuckTold) {
      Journal("a thread has not come round for " + std::to_string(ping) + " ms; no watchdog ping");
      stuckTold = true;
    }
  }
  manager.Notify("STOPPING=1");
  unit.Interrupt();
  server.Stop();
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "vecta-gateway: %s\n", e.what());
  } catch (...) {
    std::fputs("vecta-gateway: stopped by an unknown error\n", stderr);
  }
  return 1;
}
