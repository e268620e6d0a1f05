// The watchdog's view of the gateway: alive only while both its threads
// come round, so a unit thread stuck in a transaction stops the pings.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "gateway/gateway_server.h"
#include "link/frame.h"
#include "link/link_cipher.h"

namespace vecta::gateway {
namespace {

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
  for (int i = 0; i < 1000 && !done(); ++i) usleep(10000);
  return done();
}

TEST(GatewayWatchdog, AUnitThreadStuckInATransactionStopsThePingsUntilItMovesAgain) {
  Scheduler scheduler(link::SystemClock());
  GatedUnit unit;
  GatewayOptions options;
  options.listenPort = 0;
  GatewayServer server(scheduler, options);
  std::string error;
  ASSERT_TRUE(server.Listen(error)) << error;
  server.Start(unit);
  // However the test ends, the transaction is let go before the server stops.
  const std::unique_ptr<GatedUnit, void (*)(GatedUnit*)> release(&unit, [](GatedUnit* u) { u->Open(); });

  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(server.Port());
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  link::Bytes frame;
  ASSERT_TRUE(link::BuildRequestFrame("0001rgnam;;", 255, frame));
  const link::Bytes sealed = link::SealEnvelope(link::LinkCipher(), frame.data(), frame.size());
  ASSERT_EQ(send(fd, sealed.data(), sealed.size(), 0), static_cast<ssize_t>(sealed.size()));
  ASSERT_TRUE(unit.WaitInside());

  // A connection that comes and goes wakes the IO thread.
  const auto pokeIo = [&] {
    const int other = socket(AF_INET, SOCK_STREAM, 0);
    connect(other, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(other);
  };
  EXPECT_TRUE(server.BothMovedSinceLastAsked());  // both came round since the start
  auto before = server.Heartbeats();
  pokeIo();
  EXPECT_TRUE(Within([&] { return server.Heartbeats().io > before.io; }));
  EXPECT_FALSE(server.BothMovedSinceLastAsked()) << "the unit thread has not moved";

  before = server.Heartbeats();
  unit.Open();
  pokeIo();
  EXPECT_TRUE(Within([&] { return server.Heartbeats().unit > before.unit && server.Heartbeats().io > before.io; }));
  EXPECT_TRUE(server.BothMovedSinceLastAsked());
  close(fd);
  server.Stop();
}

}  // namespace
}  // namespace vecta::gateway
