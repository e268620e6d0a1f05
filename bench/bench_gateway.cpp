// One transaction through the gateway beside the same transaction made
// directly, both against the simulator over TCP on loopback in the same run:
// what the gateway adds to an exchange.
//
//   build/default/bench/bench_gateway
#include <benchmark/benchmark.h>

#include <memory>
#include <string>

#include "gateway/gateway_server.h"
#include "gateway/gateway_unit.h"
#include "link/remote_control.h"
#include "sim_server.h"

using namespace vecta;

namespace {

const std::string kRequest = "0001rgbty;;";

struct Setup {
  Setup() {
    sim::SimOptions o;
    o.tcp = true;
    o.tcpPort = 0;
    std::string error;
    if (!sim.Start(o, error)) std::abort();
    options.unit.kind = gateway::UnitTarget::Kind::Tcp;
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

Setup& Shared() {
  static Setup setup;
  return setup;
}

void Exchanges(benchmark::State& state, std::uint16_t port) {
  link::CRavlenRemoteControl client;
  client.SetEthernetAddress("127.0.0.1");
  client.SetTcpPort(port);
  if (link::ConnectAndWait(client, 5000) != link::kConnectOk) std::abort();
  link::LinkReply reply;
  for (auto _ : state)
    if (client.SendCommand(kRequest, reply) != 0) state.SkipWithError("exchange failed");
}

void BM_DirectTcp(benchmark::State& state) { Exchanges(state, Shared().sim.TcpPort()); }
void BM_GatewayTcp(benchmark::State& state) { Exchanges(state, Shared().server->Port()); }

BENCHMARK(BM_DirectTcp)->UseRealTime();
BENCHMARK(BM_GatewayTcp)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
