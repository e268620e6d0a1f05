// Cutting the link short for a program that is closing: an exchange that
// waits for a silent unit ends within a few tens of milliseconds instead of
// sitting out its serial time-outs, gives up without a retry or a link-lost
// notice, and every later exchange fails at once until the interrupt is
// lifted. And the interruptible clock whose pauses end the same way.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <thread>

#include "link/clock.h"
#include "link/frame.h"
#include "link/link_errors.h"
#include "link/remote_control.h"
#include "support/fake_link.h"

using namespace vecta::link;
using namespace std::chrono_literals;
using vecta::test::FakeClock;
using vecta::test::IndependentFrame;
using vecta::test::ReplyFrame;

namespace {

using Steady = std::chrono::steady_clock;

long long MsSince(Steady::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Steady::now() - t).count();
}

// A pseudo-terminal whose master side plays the unit: it answers only when
// the test says so and otherwise stays silent.
class SilentPty {
 public:
  SilentPty() {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    const char* name = ::ptsname(master_);
    if (name) path_ = name;
  }
  ~SilentPty() {
    if (master_ >= 0) ::close(master_);
  }
  const std::string& path() const { return path_; }

  // The bytes the link wrote, up to and including an ETX, waiting up to `ms`.
  Bytes ReadFrame(int ms = 2000) {
    Bytes out;
    const auto deadline = Steady::now() + std::chrono::milliseconds(ms);
    while (Steady::now() < deadline) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, 10) <= 0) continue;
      std::uint8_t b = 0;
      if (::read(master_, &b, 1) != 1) continue;
      out.push_back(b);
      if (b == kEtx) break;
    }
    return out;
  }
  // True when the link writes nothing for `ms`.
  bool Quiet(int ms) {
    pollfd p{master_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0;
  }
  void Write(const Bytes& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

 private:
  int master_ = -1;
  std::string path_;
};

// The link on the pseudo-terminal with the default serial time-outs (each
// silent read waits 2.5 s), so a test that passes cannot have waited them out.
struct LinkOnPty {
  SilentPty pty;
  std::atomic<int> lost{0};
  std::unique_ptr<CRavlenRemoteControl> link;

  LinkOnPty() {
    LinkEnvironment env;
    env.serial = MakePosixSerialProvider({{pty.path(), "pty"}});
    link = std::make_unique<CRavlenRemoteControl>([this] { ++lost; }, env);
    link->SetInitialTimeouts(SerialTimeouts{});
  }

  // Starts an exchange on its own thread.
  std::future<std::uint32_t> Send(const std::string& request, LinkReply* reply = nullptr) {
    return std::async(std::launch::async, [this, request, reply] {
      LinkReply r;
      const std::uint32_t rc = link->SendCommand(request, r, 1);
      if (reply) *reply = r;
      return rc;
    });
  }
};

class LinkInterrupt : public ::testing::Test, protected LinkOnPty {
 protected:
  void SetUp() override {
    ASSERT_FALSE(pty.path().empty());
    ASSERT_EQ(link->OpenSerialPort(0), kLinkOk);
  }
};

TEST_F(LinkInterrupt, ExchangeWaitingForSilentUnitEndsWithoutRetryOrLinkLost) {
  // The unit answers once, so a later silence would be retried three times.
  LinkReply reply;
  auto first = Send("0001rgbty;;", &reply);
  EXPECT_EQ(pty.ReadFrame(), IndependentFrame("0001rgbty;;"));
  pty.Write(ReplyFrame(1, '1', "K610"));
  ASSERT_EQ(first.get(), kLinkOk);
  EXPECT_EQ(reply.value, "K610");
  ASSERT_TRUE(link->UnitHasAnswered());

  auto pending = Send("0001rglod;;");
  ASSERT_EQ(pty.ReadFrame(), IndependentFrame("0001rglod;;"));  // now waiting for the reply
  const auto interruptedAt = Steady::now();
  link->Interrupt();
  ASSERT_EQ(pending.wait_for(2s), std::future_status::ready) << "the exchange went on waiting";
  EXPECT_LT(MsSince(interruptedAt), 500);
  EXPECT_EQ(pending.get(), kErrNotConnected);
  EXPECT_EQ(lost, 0);
  EXPECT_TRUE(pty.Quiet(150)) << "the request was sent again";
  EXPECT_TRUE(link->Interrupted());
}

TEST_F(LinkInterrupt, LaterExchangesFailAtOnceUntilLifted) {
  link->Interrupt();
  const auto start = Steady::now();
  LinkReply reply;
  reply.value = "untouched";
  EXPECT_EQ(link->SendCommand("0001rglod;;", reply, 1), kErrNotConnected);
  EXPECT_EQ(link->SendCommand("9999rgadd;;", reply, 1), kErrNotConnected);
  EXPECT_LT(MsSince(start), 100);
  EXPECT_EQ(reply.value, "untouched");
  EXPECT_TRUE(pty.Quiet(50)) << "an interrupted link wrote to the line";
  EXPECT_EQ(lost, 0);
  EXPECT_TRUE(link->SerialOpen()) << "interrupting does not close the port";

  link->Interrupt(false);
  EXPECT_FALSE(link->Interrupted());
  auto again = Send("0001rglod;;", &reply);
  EXPECT_EQ(pty.ReadFrame(), IndependentFrame("0001rglod;;"));
  pty.Write(ReplyFrame(1, '1', "3"));
  ASSERT_EQ(again.wait_for(3s), std::future_status::ready);
  EXPECT_EQ(again.get(), kLinkOk);
  EXPECT_EQ(reply.status, '1');
  EXPECT_EQ(reply.value, "3");
}

TEST_F(LinkInterrupt, UnitThatNeverAnsweredIsNotReportedLost) {
  // Without the interrupt a first silence is a lost unit at once (shown here
  // with the read time-out taken down to 40 ms)...
  ASSERT_EQ(link->SetCommTimeout(1, 0), kLinkOk);
  ASSERT_EQ(link->SetCommTimeout(2, 40), kLinkOk);
  LinkReply reply;
  EXPECT_EQ(link->SendCommand("9999rgadd;;", reply, 1), kErrTimedOut);
  EXPECT_EQ(pty.ReadFrame(500), IndependentFrame("9999rgadd;;"));
  EXPECT_EQ(lost, 1);

  // ... while an interrupted wait (back at 2.5 s) is not.
  ASSERT_EQ(link->SetCommTimeout(1, 1), kLinkOk);
  ASSERT_EQ(link->SetCommTimeout(2, 2500), kLinkOk);
  auto pending = Send("9999rgadd;;");
  ASSERT_EQ(pty.ReadFrame(), IndependentFrame("9999rgadd;;"));
  const auto interruptedAt = Steady::now();
  link->Interrupt();
  ASSERT_EQ(pending.wait_for(2s), std::future_status::ready);
  EXPECT_LT(MsSince(interruptedAt), 500);
  EXPECT_EQ(pending.get(), kErrNotConnected);
  EXPECT_EQ(lost, 1);
}

// A TCP unit that accepts the connection and never answers.
TEST(LinkInterruptTcp, ShutsTheSocketAndEndsTheReceive) {
  const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(::listen(listener, 1), 0);
  socklen_t len = sizeof addr;
  ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr*>(&addr), &len), 0);

  CRavlenRemoteControl link;
  link.SetEthernetAddress("127.0.0.1");
  link.SetTcpPort(ntohs(addr.sin_port));
  link.SetCloseAfterSendFailure(false);
  link.SetCloseAfterReceiveFailure(false);
  ASSERT_EQ(ConnectAndWait(link, 3000), kConnectOk);
  const int peer = ::accept(listener, nullptr, nullptr);
  ASSERT_GE(peer, 0);

  auto pending = std::async(std::launch::async, [&] {
    LinkReply reply;
    return link.SendCommand("9999rgadd;;", reply, 1);
  });
  std::uint8_t envelope[64];
  pollfd p{peer, POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  ASSERT_GT(::recv(peer, envelope, sizeof envelope, 0), 0);  // the receive waits now
  const auto interruptedAt = Steady::now();
  link.Interrupt();
  ASSERT_EQ(pending.wait_for(2s), std::future_status::ready);
  EXPECT_LT(MsSince(interruptedAt), 500) << "waited for the 1500 ms receive time-out";
  EXPECT_NE(pending.get(), kLinkOk);

  LinkReply reply;
  EXPECT_EQ(link.SendCommand("9999rgadd;;", reply, 1), kErrNotConnected);
  ::close(peer);
  ::close(listener);
}

// ------------------------------------------------------------ the clock

TEST(InterruptibleClock, PauseInProgressEndsAndLaterOnesReturnAtOnce) {
  InterruptibleClock clock;
  EXPECT_FALSE(clock.Interrupted());
  const auto shortStart = Steady::now();
  clock.SleepMs(20);
  EXPECT_GE(MsSince(shortStart), 19) << "an uninterrupted pause must pause";

  auto sleeper = std::async(std::launch::async, [&] {
    const auto start = Steady::now();
    clock.SleepMs(10000);
    return MsSince(start);
  });
  std::this_thread::sleep_for(30ms);
  clock.Interrupt();
  ASSERT_EQ(sleeper.wait_for(2s), std::future_status::ready) << "the pause was not cut short";
  EXPECT_LT(sleeper.get(), 1000);
  EXPECT_TRUE(clock.Interrupted());

  const auto start = Steady::now();
  clock.SleepMs(5000);
  clock.SleepMs(1000);
  EXPECT_LT(MsSince(start), 50);
}

TEST(InterruptibleClock, InjectedClockTimesThePausesUntilInterrupted) {
  FakeClock base;
  InterruptibleClock clock(base);
  EXPECT_EQ(clock.NowMs(), base.now);
  EXPECT_EQ(clock.UtcTimeOfDay().minute, 34);

  clock.SleepMs(1000);
  clock.SleepMs(0);
  clock.SleepMs(-5);
  EXPECT_EQ(base.slept, (std::vector<std::int64_t>{1000}));
  EXPECT_EQ(clock.NowMs(), 1'001'000);

  clock.Interrupt();
  clock.SleepMs(5000);
  EXPECT_EQ(base.slept, (std::vector<std::int64_t>{1000}));
  EXPECT_TRUE(clock.Interrupted());
  EXPECT_EQ(clock.NowMs(), base.now);
}

}  // namespace
