// The gateway's server on loopback. The unit thread sends a reply straight
// to its client's socket when nothing waits before it, so the way to a client
// must close with the client, and a client that reads nothing must still be
// cut off once its replies pile up; a reply the unit gives past the client's
// deadline (on a clock the test moves) never reaches it.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "gateway/gateway_server.h"
#include "link/link_cipher.h"
#include "support/envelope_client.h"
#include "support/fake_link.h"

namespace vecta::gateway {
namespace {

struct NoUnit final : UnitPort {
  link::Bytes Transact(const link::Bytes&, int, const std::string&) override { return {}; }
};

GatewayOptions AnyPort() {
  GatewayOptions o;
  o.listenPort = 0;
  return o;
}

// A server on a free loopback port, started in front of `unit`; null (a
// test failure) when it cannot listen.
std::unique_ptr<GatewayServer> ServeOnAnyPort(Scheduler& scheduler, UnitPort& unit) {
  auto server = std::make_unique<GatewayServer>(scheduler, AnyPort());
  std::string error;
  if (!server->Listen(error)) {
    ADD_FAILURE() << error;
    return nullptr;
  }
  server->Start(unit);
  return server;
}

struct GatewayServerTest : ::testing::Test {
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(server.Listen(error)) << error;
    server.Start(unit);
  }
  void TearDown() override { server.Stop(); }

  int Connect(int receiveBuffer = 0) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server.Port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const timeval wait{5, 0};  // a bound for a broken gateway only
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    return fd;
  }
  // Waits (within a bound only a broken gateway meets) for the IO thread.
  bool Eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 5000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return done();
  }
  void Notice(const std::string& line) {
    std::lock_guard lock(m);
    notices += line + "\n";
  }

  Scheduler scheduler{link::SystemClock()};
  NoUnit unit;
  std::mutex m;
  std::string notices;
  GatewayServer server{scheduler, AnyPort(), [this](const std::string& line) { Notice(line); }};
};

const link::Bytes kReplyA = {0x02, '0', '0', '0', '1', '1', 'A', ';', '4', '1', 0x03};
const link::Bytes kReplyB = {0x02, '0', '0', '0', '1', '1', 'B', ';', '4', '2', 0x03};

TEST_F(GatewayServerTest, AReplyForAClientThatHasGoneNeverReachesTheOneOnItsDescriptor) {
  const int first = Connect();  // client 1
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  close(first);
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));
  const int second = Connect();  // client 2, on the descriptor client 1 had
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));

  server.Deliver(1, kReplyA);
  server.Deliver(2, kReplyB);
  const link::LinkCipher cipher;
  const link::Bytes expected = link::SealEnvelope(cipher, kReplyB.data(), kReplyB.size());
  link::Bytes got(expected.size());
  ASSERT_EQ(recv(second, got.data(), got.size(), MSG_WAITALL), static_cast<ssize_t>(got.size()));
  EXPECT_EQ(got, expected);
  close(second);
}

TEST_F(GatewayServerTest, AClientThatReadsNoneOfItsRepliesIsCutOff) {
  const int deaf = Connect(1024);
  ASSERT_TRUE(Eventually([&] { return server.ClientCount() == 1; }));
  // Far more than the socket buffers and the gateway's own bound hold.
  for (int i = 0; i < 400000 && server.ClientCount() == 1; ++i) server.Deliver(1, kReplyA);
  EXPECT_TRUE(Eventually([&] { return server.ClientCount() == 0; }));
  std::lock_guard lock(m);
  EXPECT_NE(notices.find(": it does not read its replies"), std::string::npos) << notices;
  close(deaf);
}

// Moved on by the unit thread while the IO thread stamps requests.
struct SharedClock final : link::Clock {
  std::int64_t NowMs() override { return now; }
  link::TimeOfDay UtcTimeOfDay() override { return {}; }
  void SleepMs(std::int64_t ms) override { now += ms; }
  std::atomic<std::int64_t> now{1'000'000};
};

// Answers each request with its mnemonic; "gbty" takes 1600 ms.
struct SlowUnit final : UnitPort {
  explicit SlowUnit(SharedClock& c) : clock(c) {}
  link::Bytes Transact(const link::Bytes& frame, int, const std::string&) override {
    const std::string mnemonic(frame.begin() + 6, frame.begin() + 10);
    if (mnemonic == "gbty") clock.now += 1600;
    ++answered;
    return test::ReplyFrame(1, '1', mnemonic);
  }
  SharedClock& clock;
  std::atomic<int> answered{0};
};

TEST(GatewayServerDeadline, AReplyPastTheDeadlineIsNotSentAndTheNextRequestGetsItsOwn) {
  SharedClock clock;
  SlowUnit unit(clock);
  Scheduler scheduler(clock, 1500);
  const auto server = ServeOnAnyPort(scheduler, unit);
  ASSERT_TRUE(server);

  test::EnvelopeClient client(server->Port());
  ASSERT_TRUE(client.SendRequest("0001rgbty;;"));
  // The unit has answered, past the deadline (a bound for a broken server only).
  for (int i = 0; i < 500 && unit.answered == 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(client.Ask("0001rvloc;;"), "1vloc");
  const SchedulerCounts counts = scheduler.Counts();
  EXPECT_EQ(counts.late, 1u);
  EXPECT_EQ(counts.delivered, 1u);
  server->Stop();
}

// The watchdog's view: alive only while both threads come round, so a unit
// thread stuck in a transaction stops the pings.
// Holds each transaction until released.
struct GatedUnit final : UnitPort {
  link::Bytes Transact(const link::Bytes&, int, const std::string&) override {
    std::unique_lock lock(mutex);
    inside = true;
    changed.notify_all();
    changed.wait(lock, [this] { return open; });
    return {};
  }
  void Open() {
    std::lock_guard lock(mutex);
    open = true;
    changed.notify_all();
  }
  bool WaitInside() {
    std::unique_lock lock(mutex);
    return changed.wait_for(lock, std::chrono::seconds(10), [this] { return inside; });
  }
  std::mutex mutex;
  std::condition_variable changed;
  bool inside = false, open = false;
};

// Waits (bounded) until `done` holds, polling the server's counters.
bool Within(const std::function<bool()>& done) {
  for (int i = 0; i < 1000 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  return done();
}

TEST(GatewayWatchdog, AUnitThreadStuckInATransactionStopsThePingsUntilItMovesAgain) {
  Scheduler scheduler(link::SystemClock());
  GatedUnit unit;
  const auto server = ServeOnAnyPort(scheduler, unit);
  ASSERT_TRUE(server);
  // However the test ends, the transaction is let go before the server stops.
  const std::unique_ptr<GatedUnit, void (*)(GatedUnit*)> release(&unit, [](GatedUnit* u) { u->Open(); });

  test::EnvelopeClient client(server->Port());
  ASSERT_TRUE(client.SendRequest("0001rgnam;;"));
  ASSERT_TRUE(unit.WaitInside());

  // A connection that comes and goes wakes the IO thread.
  const auto pokeIo = [&] { test::EnvelopeClient other(server->Port()); };
  EXPECT_TRUE(server->BothMovedSinceLastAsked());  // both came round since the start
  auto before = server->Heartbeats();
  pokeIo();
  EXPECT_TRUE(Within([&] { return server->Heartbeats().io > before.io; }));
  EXPECT_FALSE(server->BothMovedSinceLastAsked()) << "the unit thread has not moved";

  before = server->Heartbeats();
  unit.Open();
  pokeIo();
  EXPECT_TRUE(Within([&] { return server->Heartbeats().unit > before.unit && server->Heartbeats().io > before.io; }));
  EXPECT_TRUE(server->BothMovedSinceLastAsked());
  server->Stop();
}

}  // namespace
}  // namespace vecta::gateway
