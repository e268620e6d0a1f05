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

#include <CLI/CLI.hpp>

#include "app/settings.h"
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
  CLI::App app{"Shares one transmitter unit among programs over TCP", "vecta-gateway"};
  std::string unit, listen = "127.0.0.1:9999";
  std::vector<std::string> allow;
  app.add_option("--unit", unit, "the unit: serial:PATH or tcp:HOST[:PORT]")->required();
  app.add_option("--listen", listen, "where clients connect: ADDRESS[:PORT]")->capture_default_str();
  app.add_option("--max-clients", o.maxClients, "clients served at once")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000));
  app.add_option("--allow", allow, "an address range that may connect (A.B.C.D/N), repeatable");
  app.add_option("--reply-timeout", o.replyDeadlineMs, "ms a client waits for a reply")
      ->capture_default_str()
      ->check(CLI::Range(100, 60000));
  app.add_option("--log", o.logFile, "the communication log of the unit link");
  app.set_version_flag("--version", "vecta-gateway " VECTA_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }
  std::string error;
  if (!gateway::ParseUnitTarget(unit, o.unit, error) ||
      !gateway::ParseListen(listen, o.listenHost, o.listenPort, error)) {
    Journal(error);
    return 2;
  }
  for (const std::string& range : allow) {
    gateway::Cidr cidr;
    if (!gateway::ParseCidr(range, cidr, error)) {
      Journal(error);
      return 2;
    }
    o.allow.push_back(cidr);
  }
  return -1;
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
  app::TakeSerialSettings(linkOptions, app::AppSettings{});
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
