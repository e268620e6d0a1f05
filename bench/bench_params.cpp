// The full refresh against the simulator: its exchange rate over TCP beside
// plain SendCommand round trips, its time at 9600 baud against its wire
// time, and a 16-configuration set save.
//
//   build/default/bench/bench_params
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>

#include "app/session.h"
#include "link/link_lock.h"
#include "link/remote_control.h"
#include "params/config_set.h"
#include "sim_server.h"
#include "support/fake_link.h"
#include "support/recording_ui.h"

using namespace vecta;

namespace {

struct Unit {
  sim::SimServer sim;
  std::unique_ptr<link::CRavlenRemoteControl> link;
  test::FakeClock clock;  // the unit's protocol waits are not what is measured
  params::ParamTables tables;
  params::UnitContext context;
  test::RecordingPrompter prompter;
  test::RecordingView view;
  std::unique_ptr<app::Session> session;
  std::atomic<long> wireBytes{0};

  bool Start(bool tcp, int paceBaud, std::string& error) {
    sim::SimOptions o;
    o.tcp = tcp;
    o.tcpPort = 0;
    o.pty = !tcp;
    o.unit.board = "K610";
    o.faults.paceBaud = paceBaud;
    // Every frame on the line, request and reply: the transcript shows the
    // text between STX and the checksum.
    o.transcript = [this](const std::string& line) {
      // "rx TEXT" / "tx TEXT": STX, the text, checksum and ETX are on the line.
      if (line.find(" (") == std::string::npos) wireBytes += static_cast<long>(line.size()) - 3 + 3;
    };
    if (!sim.Start(o, error)) return false;
    link::LinkEnvironment env;
    if (!tcp) env.serial = link::MakePosixSerialProvider({{sim.PtyPath(), sim.PtyPath()}});
    link = std::make_unique<link::CRavlenRemoteControl>(link::CRavlenRemoteControl::LinkLostNotify{}, env);
    link->OpenLogFile(tcp ? "/tmp/vecta-bench-refresh-tcp.log" : "/tmp/vecta-bench-refresh-pty.log");
    if (tcp) {
      link->SetEthernetAddress("127.0.0.1");
      link->SetTcpPort(sim.TcpPort());
      link->SetCloseAfterSendFailure(false);
      link->SetCloseAfterReceiveFailure(false);
      if (link::ConnectAndWait(*link, 5000) != link::kConnectOk) return error = "connect failed", false;
    } else if (link->OpenSerialPort(0) != 0) {
      return error = "open failed", false;
    }
    context.link = link.get();
    context.clock = &clock;
    context.prompter = &prompter;
    context.tables = &tables;
    session = std::make_unique<app::Session>(context, view);
    session->SetConnected(true);
    return true;
  }
};

std::map<std::string, double> gRates;

void BM_SendCommandTcp(benchmark::State& state) {
  Unit u;
  std::string error;
  if (!u.Start(true, 0, error)) return state.SkipWithError(error.c_str());
  link::LinkReply reply;
  for (auto _ : state)
    if (link::Exchange(*u.link,
                       "\x02"
                       "0001rgbty;;",
                       reply) != 0)
      return state.SkipWithError("exchange failed");
  state.counters["exchanges_per_s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_FullRefreshTcp(benchmark::State& state) {
  Unit u;
  std::string error;
  if (!u.Start(true, 0, error)) return state.SkipWithError(error.c_str());
  u.session->FullRefresh();  // board type and layout settled
  long exchanges = 0;
  for (auto _ : state) {
    u.session->FullRefresh();
    exchanges += 2;  // board type and current config
    for (const auto& row : u.tables.main.Rows())
      if (!row.Desc().Derived() && params::RowExists(row.Desc(), u.context.variant())) ++exchanges;
  }
  state.counters["exchanges_per_s"] =
      benchmark::Counter(static_cast<double>(exchanges), benchmark::Counter::kIsRate);
}

// At 9600 baud every byte on the line takes 10 / 9600 s, in both directions.
void BM_FullRefresh9600Baud(benchmark::State& state) {
  Unit u;
  std::string error;
  if (!u.Start(false, 9600, error)) return state.SkipWithError(error.c_str());
  u.session->FullRefresh();
  for (auto _ : state) {
    u.wireBytes = 0;
    const auto start = std::chrono::steady_clock::now();
    u.session->FullRefresh();
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const double wire = static_cast<double>(u.wireBytes.load()) * 10.0 / 9600.0;
    state.SetIterationTime(took);
    state.counters["wire_s"] = wire;
    state.counters["over_wire"] = took / wire;
  }
}

// Saving all 16 configurations of a K610 with firmware 3.4.0.0: the unit is
// held with girb, so no protocol wait is due.
void BM_SaveConfigSet16(benchmark::State& state) {
  Unit u;
  std::string error;
  if (!u.Start(true, 0, error)) return state.SkipWithError(error.c_str());
  u.session->FullRefresh();
  const std::string path = "/tmp/vecta-bench-set.cfg";
  for (auto _ : state) {
    if (!params::SaveConfigSetFile(u.context, path, [&] { u.session->FullRefreshWithinOperation(); }))
      return state.SkipWithError("save failed");
  }
}

BENCHMARK(BM_SendCommandTcp)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_FullRefreshTcp)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FullRefresh9600Baud)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveConfigSet16)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMillisecond);

class RateReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& r : runs) {
      auto it = r.counters.find("exchanges_per_s");
      if (!r.error_occurred && it != r.counters.end()) gRates[r.run_name.function_name] = it->second;
    }
  }
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RateReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  if (gRates.count("BM_FullRefreshTcp") && gRates.count("BM_SendCommandTcp"))
    std::printf("full refresh exchange rate / SendCommand rate = %.2f\n",
                gRates["BM_FullRefreshTcp"] / gRates["BM_SendCommandTcp"]);
  return 0;
}
