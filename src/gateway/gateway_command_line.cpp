#include "gateway/gateway_command_line.h"

#include <CLI/CLI.hpp>
#include <sstream>

#ifndef VECTA_VERSION
#error "VECTA_VERSION names the project's version"
#endif

namespace vecta::gateway {
namespace {

struct Texts {
  std::string unit, listen = "127.0.0.1:9999", baud, settings, metrics;
  int sampleSeconds = 10;
  bool noTimestamps = false;
  std::vector<std::string> allow;
};

void AddOptions(CLI::App& app, Texts& t, GatewayOptions& o) {
  app.add_option("--unit", t.unit, "the unit: serial:PATH or tcp:HOST[:PORT]")->required();
  app.add_option("--listen", t.listen, "where clients connect: ADDRESS[:PORT]")->capture_default_str();
  app.add_option("--max-clients", o.maxClients, "clients served at once")
      ->capture_default_str()
      ->check(CLI::Range(1, 1000));
  app.add_option("--allow", t.allow, "an address range that may connect (A.B.C.D/N), repeatable");
  app.add_option("--reply-timeout", o.replyDeadlineMs, "ms a client waits for a reply")
      ->capture_default_str()
      ->check(CLI::Range(100, 60000));
  app.add_option("--log", o.logFile, "the communication log of the unit link");
  app.add_option("--baud", t.baud, "serial speed (default 9600, or that of --settings)");
  app.add_option("--settings", t.settings, "the application's settings file: serial speed and time-outs");
  app.add_option("--metrics", t.metrics, "serve Prometheus metrics over HTTP on ADDRESS:PORT (or PORT on 127.0.0.1)");
  app.add_option("--sample-interval", t.sampleSeconds, "seconds between samples of the unit's status for --metrics")
      ->capture_default_str()
      ->check(CLI::Range(1, 3600));
  app.add_flag("--no-sample-timestamps", t.noTimestamps,
               "status rows without the time of their answer, so a scraper marks a row stale when it goes");
  app.set_version_flag("--version", "vecta-gateway " VECTA_VERSION);
}

// The values the option texts stand for; false with `error` at the first
// one that is wrong.
bool TakeTexts(const Texts& t, GatewayOptions& o, std::string& error) {
  if (!ParseUnitTarget(t.unit, o.unit, error) || !ParseListen(t.listen, o.listenHost, o.listenPort, error))
    return false;
  for (const std::string& range : t.allow) {
    Cidr cidr;
    if (!ParseCidr(range, cidr, error)) return false;
    o.allow.push_back(cidr);
  }
  if (!t.metrics.empty() && !ParseMetricsAddress(t.metrics, o.metricsHost, o.metricsPort, error)) return false;
  o.metrics = !t.metrics.empty();
  o.sampleIntervalMs = t.sampleSeconds * 1000;
  o.sampleTimestamps = !t.noTimestamps;
  if (!t.settings.empty() && !ReadSerialSettings(t.settings, o, error)) return false;
  return t.baud.empty() || ParseBaudRate(t.baud, o.baudRate, error);
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& args, GatewayOptions& o) {
  CLI::App app{"Shares one transmitter unit among programs over TCP", "vecta-gateway"};
  Texts texts;
  AddOptions(app, texts, o);
  CommandLineResult result;
  try {
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    app.parse(reversed);
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, err;
    // Help and version end well; every refused command line ends with 2,
    // whatever CLI11 would number it, so a service knows not to retry.
    result.exitCode = app.exit(e, out, err) == 0 ? 0 : 2;
    result.output = out.str();
    result.error = err.str();
    return result;
  }
  GatewayOptions taken = o;
  if (!TakeTexts(texts, taken, result.error)) {
    result.exitCode = 2;
    return result;
  }
  o = std::move(taken);
  return result;
}

}  // namespace vecta::gateway
