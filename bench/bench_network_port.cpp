// One exchange through ser2net (an RFC 2217 terminal server on loopback, in
// its default configuration) beside the same exchange on the simulator's
// pseudo-terminal directly: with the unit's line paced at 9600 baud, as a
// real unit's is (the goal: at most 1.3 times as long), and unpaced, which
// shows the server's own cost.
//
//   build/default/bench/bench_network_port
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <string>

#include "link/link_errors.h"
#include "link/remote_control.h"
#include "bench_support.h"
#include "sim_server.h"
#include "support/files.h"
#include "support/ser2net_process.h"

using namespace vecta;
using namespace vecta::link;

namespace {

const std::string kRequest = "0001rgbty;;";

// One exchange after another with a unit on its own pseudo-terminal,
// directly or through ser2net.
void Exchanges(benchmark::State& state, bool viaServer, int paceBaud) {
  sim::SimServer sim;
  std::string error;
  if (!sim.Start(bench::SimOn(false, paceBaud), error)) return state.SkipWithError(error.c_str());
  test::TempDir dir;
  test::Ser2netProcess ser2net;
  if (viaServer && !ser2net.Start({sim.PtyPath()}, dir.path(), &error)) return state.SkipWithError(error.c_str());
  const std::string port = viaServer ? ser2net.PortName(0) : sim.PtyPath();
  LinkEnvironment env;
  env.serial = MakePosixSerialProvider({{port, port}});
  CRavlenRemoteControl link({}, env);
  if (link.OpenSerialPort(0) != kLinkOk) return state.SkipWithError(link.LastOpenError().c_str());
  LinkReply reply;
  for (auto _ : state)
    if (link.SendCommand(kRequest, reply) != kLinkOk) return state.SkipWithError("exchange failed");
  state.SetItemsProcessed(state.iterations());
}

void BM_Pty9600Baud(benchmark::State& state) { Exchanges(state, false, 9600); }
void BM_Ser2net9600Baud(benchmark::State& state) { Exchanges(state, true, 9600); }
void BM_PtyUnpaced(benchmark::State& state) { Exchanges(state, false, 0); }
void BM_Ser2netUnpaced(benchmark::State& state) { Exchanges(state, true, 0); }

BENCHMARK(BM_Pty9600Baud)->MinTime(2.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ser2net9600Baud)->MinTime(2.0)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PtyUnpaced)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Ser2netUnpaced)->MinTime(1.0)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* a, const char* b, const char* goal) {
    const double x = reporter.MedianOf(a), y = reporter.MedianOf(b);
    if (std::isnan(x) || std::isnan(y)) return;
    std::printf("%s / %s = %.2f%s\n", a, b, x / y, goal);
  };
  ratio("BM_Ser2net9600Baud", "BM_Pty9600Baud", " (goal: at most 1.30)");
  ratio("BM_Ser2netUnpaced", "BM_PtyUnpaced", "");
  return 0;
}
