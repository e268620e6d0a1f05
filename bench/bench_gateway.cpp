// One transaction through the gateway beside the same transaction made
// directly, in the same run: what the gateway adds to an exchange.
//
// - TCP: both against one simulator on loopback, a direct exchange and one
//   through the gateway in turn, and the medians of each series compared
//   (direct_us, gateway_us, added_us, ratio). The simulator answers in
//   microseconds, a unit in milliseconds, so the pair runs twice: with no
//   reply delay (the gateway's own cost laid bare) and with the simulator
//   waiting 2 ms before each reply, standing for the unit's turnaround.
// - Serial: the simulator on a pseudo-terminal paced at 9600 baud, once
//   opened directly and once behind the gateway (each its own simulator, as
//   a serial line has one owner), against the wire time of the exchanges.
//
//   build/default/bench/bench_gateway            all, then the ratios
//   build/default/bench/bench_gateway --benchmark_filter=Tcp
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "gateway/gateway_server.h"
#include "gateway/gateway_unit.h"
#include "link/frame.h"
#include "link/remote_control.h"
#include "link/serial_port.h"
#include "bench_support.h"
#include "sim_server.h"
#include "support/fake_link.h"

using namespace vecta;

namespace {

const std::string kRequest = "0001rgbty;;";  // frame 14 bytes, reply 13
constexpr int kUnitTurnaroundMs = 2;
constexpr int kSerialExchanges = 30;

struct Setup {
  Setup(bool serial, int delayMs) {
    sim::SimOptions o = bench::SimOn(!serial, serial ? 9600 : 0);
    o.faults.delayMs = delayMs;
    std::string error;
    if (!sim.Start(o, error)) std::abort();
    options.unit.kind = serial ? gateway::UnitTarget::Kind::Serial : gateway::UnitTarget::Kind::Tcp;
    options.unit.path = sim.PtyPath();
    options.unit.host = "127.0.0.1";
    options.unit.port = sim.TcpPort();
    options.listenPort = 0;
    unit = std::make_unique<gateway::GatewayUnit>(options, app::UnitConnectionOptions{}, nullptr);
    server = std::make_unique<gateway::GatewayServer>(scheduler, options);
    if (!unit->Open(error) || !server->Listen(error)) std::abort();
    server->Start(unit->Port());
  }
  ~Setup() { server->Stop(); }
  sim::SimServer sim;
  gateway::GatewayOptions options;
  std::unique_ptr<gateway::GatewayUnit> unit;
  gateway::Scheduler scheduler{link::SystemClock()};
  std::unique_ptr<gateway::GatewayServer> server;
};

// A gateway in front of a simulator, one per kind and delay, kept for the run.
Setup& Shared(bool serial, int delayMs) {
  static std::map<std::pair<bool, int>, std::unique_ptr<Setup>> setups;
  auto& s = setups[{serial, delayMs}];
  if (!s) s = std::make_unique<Setup>(serial, delayMs);
  return *s;
}

std::unique_ptr<link::CRavlenRemoteControl> TcpClient(std::uint16_t port) {
  auto client = std::make_unique<link::CRavlenRemoteControl>();
  client->SetEthernetAddress("127.0.0.1");
  client->SetTcpPort(port);
  if (link::ConnectAndWait(*client, 5000) != link::kConnectOk) std::abort();
  return client;
}

double TimedExchange(link::CRavlenRemoteControl& client, link::LinkReply& reply) {
  const auto start = std::chrono::steady_clock::now();
  if (client.SendCommand(kRequest, reply) != 0) return NAN;
  return std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count();
}

// One exchange directly, then one through the gateway, in turn: the machine's
// load drifts over both alike, and the medians of the two series compare.
void BM_TcpPair(benchmark::State& state) {
  Setup& setup = Shared(false, static_cast<int>(state.range(0)));
  auto direct = TcpClient(setup.sim.TcpPort());
  auto through = TcpClient(setup.server->Port());
  std::vector<double> directUs, gatewayUs;
  link::LinkReply reply;
  for (auto _ : state) {
    directUs.push_back(TimedExchange(*direct, reply));
    gatewayUs.push_back(TimedExchange(*through, reply));
    if (std::isnan(directUs.back()) || std::isnan(gatewayUs.back())) return state.SkipWithError("exchange failed");
  }
  const double d = bench::Median(directUs), g = bench::Median(gatewayUs);
  state.counters["direct_us"] = d;
  state.counters["gateway_us"] = g;
  state.counters["added_us"] = g - d;
  state.counters["ratio"] = g / d;
}

// kSerialExchanges exchanges against their wire time: every byte on the
// line (request and reply) takes 10 bits at 9600 baud.
void Timed9600(benchmark::State& state, link::CRavlenRemoteControl& client) {
  link::Bytes request;
  link::BuildRequestFrame(kRequest, link::kMaxSerialRequestFrame, request);
  const std::size_t bytes = request.size() + test::ReplyFrame(1, '1', "K610").size();
  const double wireSeconds = kSerialExchanges * static_cast<double>(bytes) * 10.0 / 9600.0;
  link::LinkReply reply;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kSerialExchanges; ++i)
      if (client.SendCommand(kRequest, reply) != 0) return state.SkipWithError("exchange failed");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(took);
    state.counters["over_wire"] = took / wireSeconds;
  }
}

void BM_Direct9600(benchmark::State& state) {
  sim::SimServer sim;
  std::string error;
  if (!sim.Start(bench::SimOn(false, 9600), error)) return state.SkipWithError(error.c_str());
  const std::string path = sim.PtyPath();
  link::LinkEnvironment env;
  env.serial = link::MakePosixSerialProvider({{path, path}});
  link::CRavlenRemoteControl client(link::CRavlenRemoteControl::LinkLostNotify{}, env);
  if (client.OpenSerialPort(0) != 0) return state.SkipWithError("open failed");
  Timed9600(state, client);
}
void BM_Gateway9600(benchmark::State& state) {
  auto client = TcpClient(Shared(true, 0).server->Port());
  Timed9600(state, *client);
}

BENCHMARK(BM_TcpPair)->Arg(0)->Arg(kUnitTurnaroundMs)->MinTime(2.0)->UseRealTime();
BENCHMARK(BM_Direct9600)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gateway9600)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  const double g = reporter.MedianOf("BM_Gateway9600"), d = reporter.MedianOf("BM_Direct9600");
  if (!std::isnan(g) && !std::isnan(d))
    std::printf("BM_Gateway9600 / BM_Direct9600 = %.3f (medians %.1f vs %.1f ms)\n", g / d, g, d);
  return 0;
}
