// The vecta-gateway program shared by many clients over a slow unit: the
// simulator on a pseudo-terminal paced at 9600 baud, the real gateway as a
// child process in front of it, and in this process:
// - a refresh alone: one client reads every row of the main table one after
//   the other (each mnemonic once; the three polled rows are left to the
//   pollers, so the unit's transcript tells the refresh's requests apart);
// - the same refresh while 16 clients poll the three status rows every 2 s,
//   their cycles spread over the interval as independent programs' are.
// Reported: both refresh times and their ratio; the poll transactions that
// fell within the mixed refresh and the time they need on the line, so the
// refresh's ratio against "alone plus the polls' own line time" (the
// scheduler's share of the slowdown); the worst poll's time from request to
// reply in mean transactions of the refresh alone (1 is its own; 2 one
// other before it); the most transactions of other clients a poll waited
// for (the replies the unit began between its request and its reply, not
// counting one already on the line when it asked), and of those the most that
// were the refresh's (requests of the refresh the unit received meanwhile);
// the gateway's VmHWM and VmRSS from /proc/PID/status.
//
//   build/default/bench/bench_gateway_mix
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "link/remote_control.h"
#include "link/request.h"
#include "params/descriptor.h"
#include "bench_support.h"
#include "sim_server.h"

using namespace vecta;
using Steady = std::chrono::steady_clock;

extern char** environ;

namespace {

constexpr int kPollers = 16;
constexpr auto kPollInterval = std::chrono::milliseconds(2000);
const std::string_view kPolled[] = {"vloc", "csta", "oout"};

// A loopback port free now, for the gateway to listen on.
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

// vecta-gateway as a child process, ready once it says it is listening.
class GatewayProcess {
 public:
  bool Start(const std::string& ptyPath) {
    int err[2];
    if (pipe2(err, O_CLOEXEC) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    const std::string unit = "serial:" + ptyPath;
    const std::string listen = "127.0.0.1:" + std::to_string(FreePort());
    const char* argv[] = {VECTA_GATEWAY_PATH, "--unit",        unit.c_str(), "--listen",
                          listen.c_str(),     "--max-clients", "20",         nullptr};
    const int rc = posix_spawn(&pid_, VECTA_GATEWAY_PATH, &actions, nullptr, const_cast<char**>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(err[1]);
    err_ = err[0];
    return rc == 0 && ReadPort();
  }
  ~GatewayProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (err_ >= 0) close(err_);
  }
  std::uint16_t Port() const { return port_; }
  // What it wrote to its journal up to then.
  const std::string& Journal() const { return text_; }
  // A "VmHWM:" or "VmRSS:" line of /proc/PID/status, in KiB.
  long StatusKiB(const std::string& field) const {
    std::ifstream in("/proc/" + std::to_string(pid_) + "/status");
    for (std::string line; std::getline(in, line);)
      if (line.rfind(field, 0) == 0) return std::stol(line.substr(field.size()));
    return -1;
  }

 private:
  bool ReadPort() {
    std::string& text = text_;
    const std::string marker = "listening on 127.0.0.1:";
    for (const auto until = Steady::now() + std::chrono::seconds(10); Steady::now() < until;) {
      pollfd p{err_, POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      char buf[256];
      const ssize_t n = read(err_, buf, sizeof buf);
      if (n <= 0) return false;
      text.append(buf, static_cast<std::size_t>(n));
      const std::size_t at = text.find(marker);
      if (at != std::string::npos && text.find('\n', at) != std::string::npos) {
        port_ = static_cast<std::uint16_t>(std::stoi(text.substr(at + marker.size())));
        return true;
      }
    }
    return false;
  }
  pid_t pid_ = -1;
  int err_ = -1;
  std::string text_;
  std::uint16_t port_ = 0;
};

std::unique_ptr<link::CRavlenRemoteControl> Client(std::uint16_t port) {
  auto client = std::make_unique<link::CRavlenRemoteControl>();
  client->SetEthernetAddress("127.0.0.1");
  client->SetTcpPort(port);
  return link::ConnectAndWait(*client, 5000) == link::kConnectOk ? std::move(client) : nullptr;
}

bool IsPolled(std::string_view mnemonic) { return std::ranges::find(kPolled, mnemonic) != std::end(kPolled); }

// The rows a refresh reads: the main table's own mnemonics, each once.
std::vector<std::string> RefreshRequests() {
  std::vector<std::string> requests;
  std::set<std::string> seen;
  for (const params::RowDescriptor& row : params::MainTableRows()) {
    if (row.Derived() || IsPolled(row.mnemonic) || !seen.insert(row.mnemonic).second) continue;
    requests.push_back(link::ReadRequest(1, row.mnemonic));
  }
  return requests;
}

double Refresh(link::CRavlenRemoteControl& client, const std::vector<std::string>& requests) {
  link::LinkReply reply;
  const auto start = Steady::now();
  for (const std::string& r : requests) client.SendCommand(r, reply);
  return std::chrono::duration<double>(Steady::now() - start).count();
}

// The pollers: each a client of its own, polling the three rows once per
// interval from its own offset into it.
struct Pollers {
  struct Poll {
    Steady::time_point start, end;
  };
  void Run(std::uint16_t port) {
    for (int i = 0; i < kPollers; ++i)
      threads.emplace_back([this, port, i] {
        auto client = Client(port);
        if (!client) return;
        link::LinkReply reply;
        for (auto next = Steady::now() + kPollInterval * i / kPollers; !stop; next += kPollInterval) {
          std::this_thread::sleep_until(next);
          for (const std::string_view mnemonic : kPolled) {
            const auto start = Steady::now();
            const bool ok = client->SendCommand(link::ReadRequest(1, mnemonic), reply) == 0;
            std::lock_guard lock(m);
            failed += ok ? 0 : 1;
            polls.push_back({start, Steady::now()});
          }
        }
      });
  }
  void Stop() {
    stop = true;
    for (auto& t : threads) t.join();
  }
  std::atomic<bool> stop{false};
  std::vector<std::thread> threads;
  std::mutex m;
  std::vector<Poll> polls;
  int failed = 0;  // polls without a good reply
};

void BM_RefreshAmongPollers(benchmark::State& state) {
  sim::SimServer sim;
  sim::SimOptions o = bench::SimOn(false, 9600);
  // When each reply began on the line, and when each request of the refresh
  // arrived ("rx 0001rMNEM;;"): the transactions a poll waited for.
  std::mutex transcriptMutex;
  std::vector<Steady::time_point> replies, refreshRequests;
  o.transcript = [&](const std::string& line) {
    std::lock_guard lock(transcriptMutex);
    if (line.rfind("tx", 0) == 0) replies.push_back(Steady::now());
    if (line.rfind("rx", 0) == 0 && line.size() >= 12 && !IsPolled(std::string_view(line).substr(8, 4)))
      refreshRequests.push_back(Steady::now());
  };
  std::string error;
  if (!sim.Start(o, error)) return state.SkipWithError(error.c_str());
  GatewayProcess gateway;
  if (!gateway.Start(sim.PtyPath()))
    return state.SkipWithError(("vecta-gateway did not start: " + gateway.Journal()).c_str());
  auto refresher = Client(gateway.Port());
  if (!refresher) return state.SkipWithError("connect failed");
  const std::vector<std::string> requests = RefreshRequests();

  for (auto _ : state) {
    const double alone = Refresh(*refresher, requests);
    const double transaction = alone / static_cast<double>(requests.size());
    Pollers pollers;
    pollers.Run(gateway.Port());
    std::this_thread::sleep_for(kPollInterval);  // every poller at its pace
    const auto start = Steady::now();
    const double mixed = Refresh(*refresher, requests);
    const auto end = Steady::now();
    pollers.Stop();

    std::size_t within = 0;
    long waited = 0, waitedForRefresh = 0;
    double worst = 0;
    std::lock_guard lock(transcriptMutex);
    // Stamps in (from, to).
    const auto between = [](const std::vector<Steady::time_point>& v, Steady::time_point from,
                            Steady::time_point to) {
      return static_cast<long>(std::lower_bound(v.begin(), v.end(), to) -
                               std::upper_bound(v.begin(), v.end(), from));
    };
    for (const auto& p : pollers.polls) {
      worst = std::max(worst, std::chrono::duration<double>(p.end - p.start).count() / transaction);
      if (p.end > start && p.start < end) ++within;
      // Its own reply is the last one begun before it arrived; the refresh's
      // next request may reach the unit before the poller's thread runs again.
      const auto own = std::lower_bound(replies.begin(), replies.end(), p.end);
      if (own == replies.begin()) continue;
      waited = std::max(waited, between(replies, p.start, p.end) - 1);
      waitedForRefresh = std::max(waitedForRefresh, between(refreshRequests, p.start, *std::prev(own)));
    }
    state.SetIterationTime(mixed);
    state.counters["alone_s"] = alone;
    state.counters["mixed_s"] = mixed;
    state.counters["ratio"] = mixed / alone;
    state.counters["polls_within"] = static_cast<double>(within);
    state.counters["ratio_vs_line"] = mixed / (alone + static_cast<double>(within) * transaction);
    state.counters["worst_poll_tx"] = worst;
    state.counters["worst_poll_waited"] = static_cast<double>(waited);
    state.counters["worst_poll_waited_refresh"] = static_cast<double>(waitedForRefresh);
    state.counters["polls"] = static_cast<double>(pollers.polls.size());
    state.counters["polls_failed"] = pollers.failed;
  }
  state.counters["VmHWM_KiB"] = static_cast<double>(gateway.StatusKiB("VmHWM:"));
  state.counters["VmRSS_KiB"] = static_cast<double>(gateway.StatusKiB("VmRSS:"));
}

BENCHMARK(BM_RefreshAmongPollers)->Iterations(1)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
