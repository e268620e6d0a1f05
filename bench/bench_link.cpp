// Round trips of the link against the simulator, beside raw ping-pongs of the
// same byte counts in the same run, and the timing of exchanges at 9600 baud.
//
//   build/default/bench/bench_link            all of them, then the ratios
//   build/default/bench/bench_link --benchmark_filter=Tcp
#include <benchmark/benchmark.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "link/frame.h"
#include "link/link_cipher.h"
#include "link/remote_control.h"
#include "bench_support.h"
#include "sim_server.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::link;

namespace {

const std::string kRequest = "0001rgbty;;";  // frame 14 bytes, reply 13 (envelopes 16 + 16)

Bytes RequestFrame() {
  Bytes f;
  BuildRequestFrame(kRequest, kMaxSerialRequestFrame, f);
  return f;
}
Bytes ReplyFrame() { return test::ReplyFrame(1, '1', "K610"); }

std::unique_ptr<CRavlenRemoteControl> ConnectTcp(std::uint16_t port) {
  auto link = std::make_unique<CRavlenRemoteControl>();
  link->SetEthernetAddress("127.0.0.1");
  link->SetTcpPort(port);
  link->SetCloseAfterSendFailure(false);
  link->SetCloseAfterReceiveFailure(false);
  const int result = ConnectAndWait(*link, 5000);
  return result == kConnectOk ? std::move(link) : nullptr;
}

std::string LogPath(const char* name) { return std::string("/tmp/vecta-bench-") + name + ".log"; }

// ------------------------------------------------------------------ TCP

void BM_SendCommandTcp(benchmark::State& state) {
  sim::SimServer sim;
  std::string error;
  if (!sim.Start(bench::SimOn(true), error)) return state.SkipWithError(error.c_str());
  auto link = ConnectTcp(sim.TcpPort());
  if (!link) return state.SkipWithError("connect failed");
  link->OpenLogFile(LogPath("tcp"));
  LinkReply reply;
  for (auto _ : state) {
    if (link->SendCommand(kRequest, reply) != 0) return state.SkipWithError("exchange failed");
  }
  state.SetItemsProcessed(state.iterations());
}

// A peer that reads one request's bytes and writes one reply's bytes back,
// nothing else: the floor of a loopback round trip with these byte counts.
void BM_RawTcpPingPong(benchmark::State& state) {
  const Bytes req = PlainEnvelope(RequestFrame().data(), RequestFrame().size());
  const Bytes rep = PlainEnvelope(ReplyFrame().data(), ReplyFrame().size());
  int listener = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof a;
  bind(listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
  listen(listener, 1);
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len);
  std::thread peer([&] {
    int c = accept(listener, nullptr, nullptr);
    int one = 1;
    setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    std::uint8_t buf[256];
    for (;;) {
      std::size_t got = 0;
      while (got < req.size()) {
        ssize_t n = recv(c, buf, sizeof buf, 0);
        if (n <= 0) return (void)close(c);
        got += static_cast<std::size_t>(n);
      }
      send(c, rep.data(), rep.size(), MSG_NOSIGNAL);
    }
  });
  int s = socket(AF_INET, SOCK_STREAM, 0);
  int one = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a);
  std::uint8_t buf[256];
  for (auto _ : state) {
    send(s, req.data(), req.size(), MSG_NOSIGNAL);
    std::size_t got = 0;
    while (got < rep.size()) {
      ssize_t n = recv(s, buf, sizeof buf, 0);
      if (n <= 0) break;
      got += static_cast<std::size_t>(n);
    }
  }
  shutdown(s, SHUT_RDWR);
  close(s);
  peer.join();
  close(listener);
  state.SetItemsProcessed(state.iterations());
}

// ---------------------------------------------------------- pseudo-terminal

std::unique_ptr<CRavlenRemoteControl> OpenPty(const std::string& path) {
  LinkEnvironment env;
  env.serial = MakePosixSerialProvider({{path, path}});
  auto link = std::make_unique<CRavlenRemoteControl>(CRavlenRemoteControl::LinkLostNotify{}, env);
  return link->OpenSerialPort(0) == 0 ? std::move(link) : nullptr;
}

void BM_SendCommandPty(benchmark::State& state) {
  sim::SimServer sim;
  std::string error;
  if (!sim.Start(bench::SimOn(false), error)) return state.SkipWithError(error.c_str());
  auto link = OpenPty(sim.PtyPath());
  if (!link) return state.SkipWithError("open failed");
  link->OpenLogFile(LogPath("pty"));
  LinkReply reply;
  for (auto _ : state) {
    if (link->SendCommand(kRequest, reply) != 0) return state.SkipWithError("exchange failed");
  }
  state.SetItemsProcessed(state.iterations());
}

void MakeRaw(int fd) {
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
}

// The same frames over a bare pseudo-terminal pair: the peer on the master
// reads a request through its ETX and writes the reply; the client writes
// the request and reads until the reply's ETX.
void BM_RawPtyPingPong(benchmark::State& state) {
  const Bytes req = RequestFrame();
  const Bytes rep = ReplyFrame();
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  grantpt(master);
  unlockpt(master);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  MakeRaw(slave);
  std::atomic<bool> stop{false};
  std::thread peer([&] {
    std::uint8_t buf[256];
    while (!stop) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      ssize_t n = read(master, buf, sizeof buf);
      if (n <= 0) return;
      if (buf[n - 1] == kEtx) (void)!write(master, rep.data(), rep.size());
    }
  });
  std::uint8_t buf[256];
  for (auto _ : state) {
    (void)!write(slave, req.data(), req.size());
    for (;;) {
      ssize_t n = read(slave, buf, sizeof buf);
      if (n <= 0 || buf[n - 1] == kEtx) break;
    }
  }
  stop = true;
  peer.join();
  close(slave);
  close(master);
  state.SetItemsProcessed(state.iterations());
}

// ------------------------------------------------------- 9600 baud timing

// 100 exchanges with the simulator pacing its line at 9600 baud, against
// their wire time: every byte on the line (request and reply) takes 10 bits.
void BM_Exchanges9600Baud(benchmark::State& state) {
  sim::SimServer sim;
  std::string error;
  if (!sim.Start(bench::SimOn(false, 9600), error)) return state.SkipWithError(error.c_str());
  auto link = OpenPty(sim.PtyPath());
  if (!link) return state.SkipWithError("open failed");
  const double wireSeconds =
      100.0 * static_cast<double>(RequestFrame().size() + ReplyFrame().size()) * 10.0 / 9600.0;
  LinkReply reply;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 100; ++i)
      if (link->SendCommand(kRequest, reply) != 0) return state.SkipWithError("exchange failed");
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.SetIterationTime(took);
    state.counters["wire_s"] = wireSeconds;
    state.counters["over_wire"] = took / wireSeconds;
  }
}

BENCHMARK(BM_SendCommandTcp)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_RawTcpPingPong)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_SendCommandPty)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_RawPtyPingPong)->MinTime(1.0)->UseRealTime();
BENCHMARK(BM_Exchanges9600Baud)->Iterations(1)->Repetitions(3)->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  bench::TimesReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  auto ratio = [&](const char* a, const char* b) {
    const double x = reporter.MedianOf(a), y = reporter.MedianOf(b);
    if (std::isnan(x) || std::isnan(y)) return;
    std::printf("%s / %s = %.2f\n", a, b, x / y);
  };
  ratio("BM_SendCommandTcp", "BM_RawTcpPingPong");
  ratio("BM_SendCommandPty", "BM_RawPtyPingPong");
  return 0;
}
