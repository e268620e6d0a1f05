// What the status monitor costs: the CPU time one sample of the status
// values takes on the sampling thread (every row read from the simulator
// under the poll and link locks, converted, logged), over TCP and over a
// pseudo-terminal, as a share of one core at the shortest interval the
// window offers (1 s). The simulator runs in this process on threads of its
// own; only the sampling thread's CPU time is counted, as the unit's work is
// not the program's. With the desktop application built, the same for the
// window: the window thread's CPU time to take a sample in and draw all its
// charts again, with an hour of samples at 1 s already on them. The goal:
// both together under 1 % of a core.
//
//   build/default/bench/bench_monitor
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/status_monitor.h"
#include "link/remote_control.h"
#include "sim_server.h"

#ifdef VECTA_MONITOR_WINDOW_BENCH
#include <QApplication>
#include <QChartView>
#include <QEventLoop>

#include "gui/status_monitor_window.h"
#include "sim_unit.h"
#include "support/fake_link.h"
#endif

using namespace vecta;
using namespace vecta::link;

namespace {

constexpr double kIntervalMs = 1000.0;  // the window's shortest interval
constexpr double kGoalPercent = 1.0;

double ThreadCpuMs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

sim::SimOptions Sim(bool tcp) {
  sim::SimOptions o;
  o.tcp = tcp;
  o.tcpPort = 0;
  o.pty = !tcp;
  o.unit.board = "K240";
  o.unit.satmod = true;  // the most rows: seven with the modulator's temperature
  o.unit.drift = true;
  return o;
}

std::unique_ptr<CRavlenRemoteControl> Connect(const sim::SimServer& sim, bool tcp) {
  std::unique_ptr<CRavlenRemoteControl> link;
  if (tcp) {
    link = std::make_unique<CRavlenRemoteControl>();
    link->SetEthernetAddress("127.0.0.1");
    link->SetTcpPort(sim.TcpPort());
    link->SetCloseAfterSendFailure(false);
    link->SetCloseAfterReceiveFailure(false);
    if (ConnectAndWait(*link, 5000) != kConnectOk) return nullptr;
  } else {
    LinkEnvironment env;
    env.serial = MakePosixSerialProvider({{sim.PtyPath(), sim.PtyPath()}});
    link = std::make_unique<CRavlenRemoteControl>(CRavlenRemoteControl::LinkLostNotify{}, env);
    if (link->OpenSerialPort(0) != 0) return nullptr;
  }
  // As the program runs: every exchange is logged.
  link->OpenLogFile(std::string("/tmp/vecta-bench-monitor-") + (tcp ? "tcp" : "pty") + ".log");
  return link;
}

void Sampling(benchmark::State& state, bool tcp) {
  sim::SimServer sim;
  std::string error;
  if (!sim.Start(Sim(tcp), error)) return state.SkipWithError(error.c_str());
  auto link = Connect(sim, tcp);
  if (!link) return state.SkipWithError("no connection to the simulator");
  const auto rows = app::StatusRowsFor(params::Variant::K240, true);
  double cpuMs = 0;
  std::int64_t gaps = 0;
  for (auto _ : state) {
    const double start = ThreadCpuMs();
    const app::StatusSample s = app::SampleStatus(*link, 1, rows, app::SystemUtcClock());
    cpuMs += ThreadCpuMs() - start;
    for (const auto& v : s.values) gaps += !v;
  }
  if (gaps) return state.SkipWithError("the simulator left values out");
  const double perSample = cpuMs / static_cast<double>(state.iterations());
  const double percent = perSample / kIntervalMs * 100.0;
  state.counters["cpu_ms_per_sample"] = perSample;
  state.counters["core_pct_at_1s"] = percent;
  state.SetItemsProcessed(state.iterations());
  std::printf(
      "%s: %.3f ms CPU per sample of %zu rows = %.3f %% of a core at a 1 s interval (goal < %.0f %%): %s\n",
      tcp ? "TCP" : "pty", perSample, rows.size(), percent, kGoalPercent,
      percent < kGoalPercent ? "met" : "NOT MET");
}

void BM_MonitorSampleTcp(benchmark::State& state) { Sampling(state, true); }
void BM_MonitorSamplePty(benchmark::State& state) { Sampling(state, false); }

BENCHMARK(BM_MonitorSampleTcp)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorSamplePty)->Iterations(200)->Unit(benchmark::kMillisecond);

#ifdef VECTA_MONITOR_WINDOW_BENCH
// The window over a simulated unit on the fake serial line (answers at
// once), its charts drawn after every sample.
void BM_MonitorWindowSampleAndDraw(benchmark::State& state) {
  test::FakeLink f;
  if (f.link->OpenSerialPort(0) != 0) return state.SkipWithError("open failed");
  sim::UnitOptions unit;
  unit.board = "K240";
  unit.satmod = true;
  unit.drift = true;
  unit.driftSpeed = 60;
  sim::SimUnit sim(unit);
  f.line().responder = [&sim](const Bytes& request) -> std::optional<Bytes> { return sim.Handle(request).bytes; };
  std::shared_ptr<CRavlenRemoteControl> link(f.link.get(), [](CRavlenRemoteControl*) {});
  struct SteppedUtc final : app::UtcClock {
    std::int64_t NowUtcMs() override { return now += 1000; }
    std::atomic<std::int64_t> now{1796768405000};
  } utc;
  gui::StatusMonitorOptions o;
  o.link = link;
  o.rows = app::StatusRowsFor(params::Variant::K240, true);
  o.unitAddress = [] { return 1; };
  o.clock = &utc;
  o.timer = false;
  auto* window = new gui::StatusMonitorWindow(std::move(o));
  window->resize(900, 1100);
  window->show();
  auto sampleAndDraw = [&] {
    const std::size_t before = window->History().Samples().size();
    window->SampleNow();
    while (window->History().Samples().size() == before)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
    for (int i = 0; window->Chart(i); ++i) window->Chart(i)->repaint();
  };
  for (int i = 0; i < 3600; ++i) {
    window->SampleNow();
    const std::size_t before = window->History().Samples().size();
    while (window->History().Samples().size() == before)
      QApplication::processEvents(QEventLoop::WaitForMoreEvents);
  }
  double cpuMs = 0;
  for (auto _ : state) {
    const double start = ThreadCpuMs();
    sampleAndDraw();
    cpuMs += ThreadCpuMs() - start;
  }
  const double perSample = cpuMs / static_cast<double>(state.iterations());
  state.counters["cpu_ms_per_sample"] = perSample;
  state.counters["core_pct_at_1s"] = perSample / kIntervalMs * 100.0;
  std::printf(
      "window: %.3f ms CPU on the window thread per sample drawn (%zu samples shown) = %.3f %% of a core at 1 s\n",
      perSample, window->History().Samples().size(), perSample / kIntervalMs * 100.0);
  window->close();
  QApplication::processEvents();
}
BENCHMARK(BM_MonitorWindowSampleAndDraw)->Iterations(50)->Unit(benchmark::kMillisecond);
#endif

}  // namespace

int main(int argc, char** argv) {
#ifdef VECTA_MONITOR_WINDOW_BENCH
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
