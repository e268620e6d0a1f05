// vecta-gateway: owns one unit and serves it to many programs over TCP in
// the unit's own Ethernet protocol. Runs until SIGINT or SIGTERM; losses and
// returns of the unit, refused connections and clients cut off go to stderr.
#include <signal.h>
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gateway/gateway_command_line.h"
#include "gateway/gateway_server.h"
#include "gateway/gateway_unit.h"
#include "gateway/metrics/metrics_http.h"
#include "gateway/metrics/sampler.h"
#include "gateway/service_notify.h"
#include "platform/stop_signals.h"

using namespace vecta;
namespace metrics = vecta::gateway::metrics;

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

// The metrics, when --metrics asks for them: the link's health, the
// sampler in the unit thread's round robin, and the HTTP side.
struct Metrics {
  metrics::LinkHealth health;
  std::unique_ptr<metrics::StatusSampler> sampler;
  std::unique_ptr<metrics::MetricsHttp> http;

  // Before the server starts; false when the address cannot be had.
  bool Start(const gateway::GatewayOptions& o, gateway::Scheduler& scheduler, gateway::GatewayServer& server,
             gateway::GatewayUnit& unit) {
    if (!o.metrics) return true;
    unit.WatchHealth(health);
    sampler = std::make_unique<metrics::StatusSampler>(scheduler, link::SystemClock(), app::SystemUtcClock(),
                                                       o.sampleIntervalMs);
    server.SetInternalClient(sampler.get());
    http = std::make_unique<metrics::MetricsHttp>([this, &server, stamps = o.sampleTimestamps] {
      return metrics::MetricsSnapshot{sampler->Last(), health.Counts(), server.ClientCount(), stamps};
    });
    std::string error;
    if (!http->Listen(o.metricsHost, o.metricsPort, error)) {
      Journal(error);
      return false;
    }
    Journal("metrics on http://" + o.metricsHost + ":" + std::to_string(http->Port()) + "/metrics");
    http->Start();
    return true;
  }
  void Stop() {
    if (http) http->Stop();
  }
};

int Run(int argc, char** argv) {
  gateway::GatewayOptions options;
  if (const int code = ParseArguments(argc, argv, options); code >= 0) return code;

  // Before any thread starts, so the signals reach only sigwait.
  const sigset_t stopSignals = platform::BlockStopSignals();

  app::UnitConnectionOptions linkOptions;
  linkOptions.baudRate = options.baudRate;
  linkOptions.timeouts = options.timeouts;
  gateway::GatewayUnit unit(options, std::move(linkOptions), Journal);
  std::string error;
  if (!unit.Open(error)) Journal(error + "; trying again every 2 s");

  link::Clock& clock = link::SystemClock();
  gateway::Scheduler scheduler(clock, options.replyDeadlineMs);
  Metrics metrics;  // outlives the server's threads, which tick its sampler
  gateway::GatewayServer server(scheduler, options, Journal);
  if (!server.Listen(error)) {
    Journal(error);
    return 1;
  }
  Journal("listening on " + options.listenHost + ":" + std::to_string(server.Port()));
  if (!metrics.Start(options, scheduler, server, unit)) return 1;
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
  metrics.Stop();
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
