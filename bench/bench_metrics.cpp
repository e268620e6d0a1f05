// What the metrics cost the vecta-gateway program, read from its own CPU
// time (each thread's /proc/PID/task/TID/schedstat): the gateway runs as a child process
// in front of the simulator (in this process, on loopback TCP).
// - Scrape: 8 clients connected and polling three status rows every 2 s,
//   sampling every 10 s; the gateway's CPU over 2000 scrapes, less what it
//   spends over the same time without them, per scrape (scrape_cpu_us,
//   goal under 1000).
// - Sampling: the gateway with --metrics sampling every second and the same
//   gateway without --metrics, each 10 s with no client; the difference per
//   sample, and as the share of one core at the default 10 s
//   (sample_cpu_us, core_percent_at_10s, goal under 1).
//
//   build/default/bench/bench_metrics
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "link/remote_control.h"
#include "link/request.h"
#include "sim_server.h"
#include "support/http_get.h"

using namespace vecta;
using Steady = std::chrono::steady_clock;

extern char** environ;

namespace {

std::uint16_t FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::perror("bind");
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
  close(fd);
  return ntohs(addr.sin_port);
}

// vecta-gateway as a child, its stderr to /dev/null; ready once its port
// accepts connections.
class Gateway {
 public:
  Gateway(std::uint16_t simPort, std::vector<std::string> more) : port_(FreePort()) {
    std::vector<std::string> args{VECTA_GATEWAY_PATH, "--unit",        "tcp:127.0.0.1:" + std::to_string(simPort),
                                  "--listen",         "127.0.0.1:" + std::to_string(port_)};
    args.insert(args.end(), more.begin(), more.end());
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (posix_spawn(&pid_, VECTA_GATEWAY_PATH, &actions, nullptr, argv.data(), environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    for (const auto until = Steady::now() + std::chrono::seconds(10); Steady::now() < until;) {
      const int fd = test::ConnectLoopback(port_);
      if (fd >= 0) {
        close(fd);
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::abort();
  }
  ~Gateway() {
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  std::uint16_t Port() const { return port_; }
  // CPU time of every thread, in seconds, from each thread's schedstat
  // (nanoseconds; /proc/PID/stat counts in clock ticks, too coarse for a
  // sample). Threads that ended are in none: the gateway's live for its run.
  double CpuSeconds() const {
    const std::string tasks = "/proc/" + std::to_string(pid_) + "/task";
    unsigned long long ns = 0;
    for (const auto& task : std::filesystem::directory_iterator(tasks)) {
      std::ifstream in(task.path() / "schedstat");
      unsigned long long onCpu = 0;
      if (in >> onCpu) ns += onCpu;
    }
    return static_cast<double>(ns) / 1e9;
  }
 private:
  pid_t pid_ = -1;
  std::uint16_t port_;
};

struct Sim {
  Sim() {
    sim::SimOptions o;
    o.tcp = true;
    o.tcpPort = 0;
    std::string error;
    if (!server.Start(o, error)) std::abort();
  }
  sim::SimServer server;
};

// Clients polling vloc, csta and oout every 2 s, as the application does.
class Pollers {
 public:
  Pollers(std::uint16_t port, int count) {
    for (int i = 0; i < count; ++i) {
      threads_.emplace_back([this, port, i] {
        link::CRavlenRemoteControl c;
        c.SetEthernetAddress("127.0.0.1");
        c.SetTcpPort(port);
        if (link::ConnectAndWait(c, 5000) != link::kConnectOk) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(2000 * i / 8));
        while (!stop_) {
          for (const char* m : {"vloc", "csta", "oout"}) {
            link::LinkReply reply;
            c.SendCommand(link::ReadRequest(1, m), reply);
          }
          for (int t = 0; t < 20 && !stop_; ++t) std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
      });
    }
  }
  ~Pollers() {
    stop_ = true;
    for (std::thread& t : threads_) t.join();
  }

 private:
  std::atomic<bool> stop_{false};
  std::vector<std::thread> threads_;
};

void BM_ScrapeCpu(benchmark::State& state) {
  Sim sim;
  const std::uint16_t metricsPort = FreePort();
  Gateway gateway(sim.server.TcpPort(), {"--metrics", "127.0.0.1:" + std::to_string(metricsPort)});
  Pollers pollers(gateway.Port(), 8);
  std::this_thread::sleep_for(std::chrono::seconds(2));  // all connected, a sample taken
  constexpr int kScrapes = 2000;
  double perScrapeUs = 0;
  for (auto _ : state) {
    const double idle0 = gateway.CpuSeconds();
    const auto idleStart = Steady::now();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double idleRate = (gateway.CpuSeconds() - idle0) / std::chrono::duration<double>(Steady::now() - idleStart).count();
    const double cpu0 = gateway.CpuSeconds();
    const auto start = Steady::now();
    for (int i = 0; i < kScrapes; ++i)
      if (test::HttpRequest(metricsPort, "GET", "/metrics").status != 200) state.SkipWithError("a scrape failed");
    const double took = std::chrono::duration<double>(Steady::now() - start).count();
    perScrapeUs = (gateway.CpuSeconds() - cpu0 - idleRate * took) / kScrapes * 1e6;
  }
  state.counters["scrape_cpu_us"] = perScrapeUs;
}

void BM_SamplingCpu(benchmark::State& state) {
  Sim sim;
  constexpr int kSeconds = 10;
  double perSampleUs = 0;
  for (auto _ : state) {
    double with = 0, without = 0;
    {
      Gateway g(sim.server.TcpPort(), {"--metrics", "127.0.0.1:0", "--sample-interval", "1"});
      const double c0 = g.CpuSeconds();
      std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
      with = g.CpuSeconds() - c0;
    }
    {
      Gateway g(sim.server.TcpPort(), {});
      const double c0 = g.CpuSeconds();
      std::this_thread::sleep_for(std::chrono::seconds(kSeconds));
      without = g.CpuSeconds() - c0;
    }
    perSampleUs = (with - without) / kSeconds * 1e6;
  }
  state.counters["sample_cpu_us"] = perSampleUs;
  state.counters["core_percent_at_10s"] = perSampleUs / 1e6 / 10.0 * 100.0;
}

}  // namespace

BENCHMARK(BM_ScrapeCpu)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SamplingCpu)->Iterations(1)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
