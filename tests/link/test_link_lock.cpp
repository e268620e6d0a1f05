// The two process-wide locks and the helpers that take them: which lock each
// holds, for how long, and in which order.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <optional>
#include <thread>

#include "link/link_lock.h"
#include "link/request.h"
#include "support/fake_link.h"

using namespace vecta;
using vecta::test::FakeLink;
using vecta::test::ReplyFrame;

namespace {

// Whether another thread could take the lock now.
bool FreeElsewhere(std::recursive_mutex& m) {
  bool free = false;
  std::thread([&] {
    free = m.try_lock();
    if (free) m.unlock();
  }).join();
  return free;
}

TEST(LinkLocks, OperationLockHoldsThePollLockOnly) {
  {
    link::OperationLock operation;
    EXPECT_FALSE(FreeElsewhere(link::PollLock()));
    EXPECT_TRUE(FreeElsewhere(link::LinkLock()));
    link::OperationLock inner;  // an operation run inside another
    EXPECT_FALSE(FreeElsewhere(link::PollLock()));
  }
  EXPECT_TRUE(FreeElsewhere(link::PollLock()));
}

TEST(LinkLocks, PollAndLinkLockHoldsBothUntilItGoes) {
  {
    link::PollAndLinkLock locks;
    EXPECT_FALSE(FreeElsewhere(link::PollLock()));
    EXPECT_FALSE(FreeElsewhere(link::LinkLock()));
  }
  EXPECT_TRUE(FreeElsewhere(link::PollLock()));
  EXPECT_TRUE(FreeElsewhere(link::LinkLock()));
}

TEST(LinkLocks, PollAndLinkLockTakesThePollLockFirst) {
  // While another thread holds the link lock, a PollAndLinkLock waits with
  // the poll lock already taken.
  std::unique_lock held(link::LinkLock());
  std::atomic<bool> done{false};
  std::thread taker([&] {
    link::PollAndLinkLock locks;
    done = true;
  });
  bool pollTaken = false;
  const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!pollTaken && std::chrono::steady_clock::now() < giveUp) {
    pollTaken = !FreeElsewhere(link::PollLock());
    if (!pollTaken) std::this_thread::yield();
  }
  EXPECT_TRUE(pollTaken);
  EXPECT_FALSE(done);
  held.unlock();
  taker.join();
  EXPECT_TRUE(done);
}

TEST(LinkLocks, PollExchangeHoldsBothLocksForTheExchangeOnly) {
  FakeLink f;
  ASSERT_EQ(f.link->OpenSerialPort(0), 0u);
  std::optional<bool> pollFree, linkFree;
  f.line().responder = [&](const link::Bytes&) -> std::optional<link::Bytes> {
    pollFree = FreeElsewhere(link::PollLock());
    linkFree = FreeElsewhere(link::LinkLock());
    return ReplyFrame(1, '1', "K240");
  };
  link::LinkReply reply;
  EXPECT_EQ(link::PollExchange(*f.link, link::ReadRequest(1, "gbty"), reply), 0u);
  EXPECT_EQ(reply.value, "K240");
  EXPECT_EQ(pollFree, false);
  EXPECT_EQ(linkFree, false);
  EXPECT_TRUE(FreeElsewhere(link::PollLock()));
  EXPECT_TRUE(FreeElsewhere(link::LinkLock()));
}

}  // namespace
