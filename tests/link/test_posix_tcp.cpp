// The BSD-socket factory against loopback listeners. Every address used here
// is in 127.0.0.0/8: nothing leaves the machine.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "link/tcp_socket.h"

namespace vecta::link {
namespace {

using SteadyClock = std::chrono::steady_clock;

long long MsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// A TCP socket bound to 127.0.0.1 on an ephemeral port, listening or not.
class LoopbackPort {
 public:
  explicit LoopbackPort(bool listening, int backlog = 4) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0 ||
        (listening && ::listen(fd_, backlog) != 0)) {
      ::close(fd_);
      fd_ = -1;
      return;
    }
    port_ = ntohs(addr.sin_port);
  }
  ~LoopbackPort() {
    if (fd_ >= 0) ::close(fd_);
  }
  LoopbackPort(const LoopbackPort&) = delete;
  LoopbackPort& operator=(const LoopbackPort&) = delete;

  bool ok() const { return fd_ >= 0; }
  std::uint16_t port() const { return port_; }

  // The next pending connection, or -1 when none arrives within `ms`.
  int Accept(int ms = 1000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, ms) != 1) return -1;
    return ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
  }

 private:
  int fd_ = -1;
  std::uint16_t port_ = 0;
};

class PosixTcp : public ::testing::Test {
 protected:
  std::unique_ptr<StreamSocket> NewSocket() {
    int err = 0;
    auto s = factory_->Create(err);
    EXPECT_NE(s, nullptr) << std::strerror(err);
    return s;
  }

  // A socket connected to `listener`, and the accepted peer descriptor.
  std::unique_ptr<StreamSocket> ConnectTo(LoopbackPort& listener, int& peer) {
    auto s = NewSocket();
    if (!s) return nullptr;
    int err = 0;
    EXPECT_TRUE(factory_->Connect(*s, "127.0.0.1", listener.port(), err, nullptr)) << std::strerror(err);
    peer = listener.Accept();
    EXPECT_GE(peer, 0);
    return s;
  }

  // Connects `socket_` to a loopback listener of its own; `peer_` is the
  // accepted end, for the test to close.
  void ConnectToListener() {
    listener_ = std::make_unique<LoopbackPort>(true);
    ASSERT_TRUE(listener_->ok());
    socket_ = ConnectTo(*listener_, peer_);
    ASSERT_NE(socket_, nullptr);
  }

  std::shared_ptr<SocketFactory> factory_ = MakePosixSocketFactory();
  std::unique_ptr<LoopbackPort> listener_;
  std::unique_ptr<StreamSocket> socket_;
  int peer_ = -1;
};

// A listener that never accepts and whose queue is full drops further SYNs,
// so a connect to it waits as one to an address where nothing answers.
TEST(PosixTcpConnect, GivesUpAfterItsConnectTimeout) {
  LoopbackPort listener(true, 0);
  ASSERT_TRUE(listener.ok());
  auto factory = MakePosixSocketFactory(200);
  std::vector<std::unique_ptr<StreamSocket>> queued;
  int err = 0;
  bool timedOut = false;
  long long took = 0;
  for (int i = 0; i < 16 && !timedOut; ++i) {
    auto s = factory->Create(err);
    ASSERT_NE(s, nullptr);
    const auto start = SteadyClock::now();
    if (factory->Connect(*s, "127.0.0.1", listener.port(), err, nullptr)) {
      queued.push_back(std::move(s));
      continue;
    }
    took = MsSince(start);
    timedOut = err == ETIMEDOUT;
    ASSERT_TRUE(timedOut) << std::strerror(err);
  }
  ASSERT_TRUE(timedOut) << "the listener's queue never filled";
  EXPECT_GE(took, 190);
  EXPECT_LT(took, 3000);
}

TEST_F(PosixTcp, ReceiveWithinTakesWhatIsThereOrWaitsAtMostItsTime) {
  ASSERT_NO_FATAL_FAILURE(ConnectToListener());
  auto& s = socket_;
  const int peer = peer_;
  std::uint8_t buf[16];
  int err = 0;
  EXPECT_EQ(s->ReceiveWithin(buf, sizeof buf, 0, err), -1);
  EXPECT_EQ(err, EAGAIN);
  auto start = SteadyClock::now();
  EXPECT_EQ(s->ReceiveWithin(buf, sizeof buf, 50, err), -1);
  EXPECT_EQ(err, EAGAIN);
  EXPECT_GE(MsSince(start), 45);
  ASSERT_EQ(::send(peer, "abc", 3, 0), 3);
  EXPECT_EQ(s->ReceiveWithin(buf, sizeof buf, 1000, err), 3);
  EXPECT_EQ(std::string(buf, buf + 3), "abc");
  ::close(peer);
  EXPECT_EQ(s->ReceiveWithin(buf, sizeof buf, 1000, err), 0);  // the peer closed
}

TEST_F(PosixTcp, ConnectsToALoopbackListenerAndExchangesBytes) {
  ASSERT_NO_FATAL_FAILURE(ConnectToListener());
  auto& s = socket_;
  const int peer = peer_;
  ASSERT_GE(peer, 0);

  const std::vector<std::uint8_t> request = {0x02, 'G', ';', '1', ';', 0x03, 0x00, 0xff};
  int err = 0;
  ASSERT_EQ(s->Send(request.data(), request.size(), err), static_cast<long>(request.size()));
  std::vector<std::uint8_t> got(request.size());
  ASSERT_EQ(::recv(peer, got.data(), got.size(), MSG_WAITALL), static_cast<ssize_t>(got.size()));
  EXPECT_EQ(got, request);

  const std::uint8_t reply[] = {0x05, 0x02, '1', 0x03};
  ASSERT_EQ(::send(peer, reply, sizeof reply, 0), static_cast<ssize_t>(sizeof reply));
  ASSERT_TRUE(factory_->SetReceiveTimeout(*s, 1000, err));
  std::uint8_t buf[16] = {};
  long total = 0;
  while (total < static_cast<long>(sizeof reply)) {
    const long n = s->Receive(buf + total, sizeof buf - static_cast<std::size_t>(total), err);
    ASSERT_GT(n, 0) << std::strerror(err);
    total += n;
  }
  EXPECT_EQ(std::memcmp(buf, reply, sizeof reply), 0);

  // The peer closing shows as an orderly end of stream.
  ::close(peer);
  EXPECT_EQ(s->Receive(buf, sizeof buf, err), 0);
}

TEST_F(PosixTcp, ConnectToAClosedPortIsRefused) {
  LoopbackPort bound(false);  // holds the port, but nobody listens
  ASSERT_TRUE(bound.ok());
  auto s = NewSocket();
  ASSERT_NE(s, nullptr);
  int err = 0;
  EXPECT_FALSE(factory_->Connect(*s, "127.0.0.1", bound.port(), err, nullptr));
  EXPECT_EQ(err, ECONNREFUSED);
}

TEST_F(PosixTcp, ConnectRejectsAnAddressThatIsNotADottedQuad) {
  auto s = NewSocket();
  ASSERT_NE(s, nullptr);
  for (const char* ip : {"", "localhost", "127.0.0", "127.0.0.256", "::1", "127.0.0.1 "}) {
    int err = 0;
    EXPECT_FALSE(factory_->Connect(*s, ip, 9, err, nullptr)) << ip;
    EXPECT_EQ(err, EINVAL) << ip;
  }
}

TEST_F(PosixTcp, ReceiveTimeoutExpiresWithEagainAndSocketIsBlockingAgain) {
  ASSERT_NO_FATAL_FAILURE(ConnectToListener());
  auto& s = socket_;
  const int peer = peer_;
  int err = 0;
  ASSERT_TRUE(factory_->SetReceiveTimeout(*s, 50, err));

  std::uint8_t buf[8];
  const auto start = SteadyClock::now();
  EXPECT_EQ(s->Receive(buf, sizeof buf, err), -1);
  const auto elapsed = MsSince(start);
  EXPECT_TRUE(err == EAGAIN || err == EWOULDBLOCK) << std::strerror(err);
  // Returning at once would mean the connect left the socket non-blocking.
  EXPECT_GE(elapsed, 40);
  EXPECT_LT(elapsed, 1000);
  ::close(peer);
}

TEST_F(PosixTcp, ReceiveTimeoutRejectsANegativeTime) {
  auto s = NewSocket();
  ASSERT_NE(s, nullptr);
  int err = 0;
  EXPECT_FALSE(factory_->SetReceiveTimeout(*s, -1, err));
  EXPECT_EQ(err, EINVAL);
}

TEST_F(PosixTcp, CancelSetBeforeConnectAbandonsTheAttempt) {
  LoopbackPort listener(true);
  ASSERT_TRUE(listener.ok());
  auto s = NewSocket();
  ASSERT_NE(s, nullptr);
  const std::atomic<bool> cancel{true};
  int err = 0;
  EXPECT_FALSE(factory_->Connect(*s, "127.0.0.1", listener.port(), err, &cancel));
  EXPECT_EQ(err, ECANCELED);
  // No connection was even started.
  EXPECT_EQ(listener.Accept(20), -1);
}

TEST_F(PosixTcp, CancelFlagLeftFalseDoesNotStopAConnect) {
  LoopbackPort listener(true);
  ASSERT_TRUE(listener.ok());
  auto s = NewSocket();
  ASSERT_NE(s, nullptr);
  const std::atomic<bool> cancel{false};
  int err = 0;
  EXPECT_TRUE(factory_->Connect(*s, "127.0.0.1", listener.port(), err, &cancel)) << std::strerror(err);
  const int peer = listener.Accept();
  EXPECT_GE(peer, 0);
  if (peer >= 0) ::close(peer);
}

// Cancelling from another thread while connects run: each attempt either
// completed (a loopback connect is quick) or reports ECANCELED, never
// anything else, and once the flag is up every attempt is abandoned.
TEST_F(PosixTcp, CancelWhileConnectingEndsInSuccessOrCancelled) {
  LoopbackPort listener(true);
  ASSERT_TRUE(listener.ok());
  std::atomic<bool> cancel{false};
  std::thread canceller([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    cancel.store(true);
  });
  const auto start = SteadyClock::now();
  int cancelled = 0;
  while (cancelled < 3 && MsSince(start) < 1000) {
    auto s = NewSocket();
    ASSERT_NE(s, nullptr);
    int err = 0;
    if (factory_->Connect(*s, "127.0.0.1", listener.port(), err, &cancel)) {
      EXPECT_EQ(cancelled, 0) << "connected after an attempt was already cancelled";
      const int peer = listener.Accept();
      if (peer >= 0) ::close(peer);
    } else {
      EXPECT_EQ(err, ECANCELED) << std::strerror(err);
      ++cancelled;
    }
  }
  canceller.join();
  EXPECT_EQ(cancelled, 3);
}

std::atomic<int> sigpipeCount{0};

// Counts SIGPIPE instead of dying of it (or of missing it because the process
// was started with the signal ignored) while it is in scope.
class SigpipeCounter {
 public:
  SigpipeCounter() {
    sigpipeCount = 0;
    struct sigaction sa {};
    sa.sa_handler = [](int) { sigpipeCount.fetch_add(1); };
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGPIPE, &sa, &old_);
  }
  ~SigpipeCounter() { ::sigaction(SIGPIPE, &old_, nullptr); }
  SigpipeCounter(const SigpipeCounter&) = delete;
  SigpipeCounter& operator=(const SigpipeCounter&) = delete;

 private:
  struct sigaction old_ {};
};

TEST_F(PosixTcp, SendAfterThePeerClosedIsAnErrorNotASignal) {
  ASSERT_NO_FATAL_FAILURE(ConnectToListener());
  auto& s = socket_;
  const int peer = peer_;
  ASSERT_GE(peer, 0);
  ::close(peer);
  SigpipeCounter sigpipe;

  // The first send after the close can still be accepted locally; the reset
  // it provokes makes a following one fail with ECONNRESET, and the ones
  // after that with EPIPE, which is where a SIGPIPE would be raised.
  const std::uint8_t byte = 0x02;
  int err = 0;
  long n = 0;
  const auto start = SteadyClock::now();
  while ((n = s->Send(&byte, 1, err)) == 1 && MsSince(start) < 1000) {
    pollfd p{-1, 0, 0};
    ::poll(&p, 0, 1);
  }
  EXPECT_EQ(n, -1);
  EXPECT_TRUE(err == EPIPE || err == ECONNRESET) << std::strerror(err);
  EXPECT_EQ(s->Send(&byte, 1, err), -1);
  EXPECT_EQ(err, EPIPE);
  EXPECT_EQ(sigpipeCount.load(), 0);
}

TEST_F(PosixTcp, ShutdownBothWakesAReceiveBlockedOnAnotherThread) {
  ASSERT_NO_FATAL_FAILURE(ConnectToListener());
  auto& s = socket_;
  const int peer = peer_;
  int err = 0;
  // A safety net so a broken shutdown fails the test instead of hanging it.
  ASSERT_TRUE(factory_->SetReceiveTimeout(*s, 1500, err));

  std::atomic<bool> started{false};
  long result = -2;
  long long waitedMs = 0;
  std::thread reader([&] {
    std::uint8_t buf[8];
    int rerr = 0;
    started = true;
    const auto start = SteadyClock::now();
    result = s->Receive(buf, sizeof buf, rerr);
    waitedMs = MsSince(start);
  });
  while (!started) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(30));  // let it block in recv
  s->ShutdownBoth();
  reader.join();
  EXPECT_EQ(result, 0);
  EXPECT_LT(waitedMs, 1000);
  // Both directions are shut: sending fails too, without a signal.
  SigpipeCounter sigpipe;
  const std::uint8_t byte = 0;
  EXPECT_EQ(s->Send(&byte, 1, err), -1);
  EXPECT_EQ(err, EPIPE);
  EXPECT_EQ(sigpipeCount.load(), 0);
  if (peer >= 0) ::close(peer);
}

TEST_F(PosixTcp, DestroyingTheSocketClosesTheConnection) {
  ASSERT_NO_FATAL_FAILURE(ConnectToListener());
  auto& s = socket_;
  const int peer = peer_;
  ASSERT_GE(peer, 0);
  s.reset();
  pollfd p{peer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 1000), 1);
  std::uint8_t buf[4];
  EXPECT_EQ(::recv(peer, buf, sizeof buf, 0), 0);
  ::close(peer);
}

}  // namespace
}  // namespace vecta::link
