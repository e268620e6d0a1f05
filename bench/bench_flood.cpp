// A peer at the unit's address that answers a request with an endless stream
// of bytes, or trickles them, met by the real link controller over loopback.
// The peer is a child process, so the client's peak memory is this
// process's. Reported per run: the longest exchange (ms, and against the
// receive time-out) and the client's peak resident memory (MiB).
//
//   build/default/bench/bench_flood                          all of them
//   build/default/bench/bench_flood --benchmark_filter=20s   20 s of flood
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>

#include "link/remote_control.h"

using namespace vecta::link;

namespace {

using Steady = std::chrono::steady_clock;

// One connection at a time: after the first bytes of a request, sends a
// pattern over and over (gapMs 0) or one byte every gapMs, until the client
// goes or `forMs` have passed. Ends when the parent closes `control`.
void ServeHostile(int listener, int control, int gapMs, int forMs) {
  std::uint8_t pattern[4096];
  for (std::size_t i = 0; i < sizeof pattern; ++i) pattern[i] = static_cast<std::uint8_t>(i * 37 + 11);
  for (;;) {
    pollfd p[2] = {{listener, POLLIN, 0}, {control, POLLIN, 0}};
    if (::poll(p, 2, -1) < 0 || p[1].revents) return;
    const int c = ::accept(listener, nullptr, nullptr);
    if (c < 0) continue;
    std::uint8_t request[256];
    if (::recv(c, request, sizeof request, 0) > 0) {
      const auto end = Steady::now() + std::chrono::milliseconds(forMs);
      for (std::size_t at = 0; Steady::now() < end; at = (at + 1) % sizeof pattern) {
        const std::size_t n = gapMs ? 1 : sizeof pattern;
        if (::send(c, gapMs ? pattern + at : pattern, n, MSG_NOSIGNAL) <= 0) break;
        if (gapMs) ::usleep(static_cast<useconds_t>(gapMs) * 1000);
      }
    }
    ::close(c);
  }
}

class HostilePeer {
 public:
  HostilePeer(int gapMs, int forMs) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listener, 4);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    int fds[2];
    if (::pipe(fds) != 0) return;
    child_ = ::fork();
    if (child_ == 0) {
      ::close(fds[1]);
      ServeHostile(listener, fds[0], gapMs, forMs);
      ::_exit(0);
    }
    ::close(fds[0]);
    ::close(listener);
    control_ = fds[1];
  }
  ~HostilePeer() {
    ::close(control_);
    if (child_ > 0) {
      ::kill(child_, SIGTERM);
      ::waitpid(child_, nullptr, 0);
    }
  }
  bool Running() const { return child_ > 0; }
  std::uint16_t Port() const { return port_; }

 private:
  std::uint16_t port_ = 0;
  pid_t child_ = -1;
  int control_ = -1;
};

double PeakRssMiB() {
  rusage u{};
  ::getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// Exchanges with the peer over one connection for `forMs` (at least
// `exchanges` of them); the longest, in milliseconds.
double LongestExchange(std::uint16_t port, int exchanges, int forMs) {
  CRavlenRemoteControl link;
  link.SetEthernetAddress("127.0.0.1");
  link.SetTcpPort(port);
  link.SetCloseAfterSendFailure(false);
  link.SetCloseAfterReceiveFailure(false);
  if (ConnectAndWait(link, 5000) != kConnectOk) return -1;
  double longest = 0;
  const auto end = Steady::now() + std::chrono::milliseconds(forMs);
  for (int i = 0; i < exchanges || Steady::now() < end; ++i) {
    LinkReply reply;
    const auto start = Steady::now();
    link.SendCommand("0001rgbty;;", reply);
    longest = std::max(longest, std::chrono::duration<double, std::milli>(Steady::now() - start).count());
  }
  return longest;
}

// Each iteration: a new connection, and three exchanges (the first meets the
// flood's start, the later ones what piled up behind it) or `forMs` of them.
void Hostile(benchmark::State& state, int gapMs, int forMs) {
  HostilePeer peer(gapMs, 20'000);
  if (!peer.Running()) return state.SkipWithError("no peer");
  double longest = 0;
  for (auto _ : state) {
    const double ms = LongestExchange(peer.Port(), 3, forMs);
    if (ms < 0) return state.SkipWithError("connect failed");
    longest = std::max(longest, ms);
  }
  state.counters["longest_ms"] = longest;
  state.counters["of_timeout"] = longest / kReceiveTimeoutMs;
  state.counters["peak_rss_MiB"] = PeakRssMiB();
}

void BM_Flood(benchmark::State& state) { Hostile(state, 0, 0); }
void BM_Trickle(benchmark::State& state) { Hostile(state, 10, 0); }
// 20 s of flood on one connection, exchange after exchange.
void BM_Flood20s(benchmark::State& state) { Hostile(state, 0, 20'000); }

BENCHMARK(BM_Flood)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Trickle)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Flood20s)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
