// Peers at the unit's address that misbehave: one that floods the link with
// bytes, one that trickles them. Every exchange ends by the receive time-out,
// takes a bounded number of bytes, and stops at the interrupt. The peer runs
// on the fake clock, so nothing waits.
#include <gtest/gtest.h>

#include <cerrno>
#include <climits>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>

#include "link/frame.h"
#include "link/link_cipher.h"
#include "link/link_errors.h"
#include "support/fake_link.h"

using namespace vecta::link;
using namespace vecta::test;

namespace {

// Once a request has come, sends `stream` over and over: as much as each
// receive takes, a millisecond a receive (msPerByte 0), or one byte every
// msPerByte. Falls silent after `limit` bytes so that a link without bounds
// still returns.
struct StreamingPeer {
  FakeClock* clock = nullptr;
  FakeSocketState* socket = nullptr;
  Bytes stream;
  std::int64_t msPerByte = 0;
  std::size_t limit = 1 << 20;
  std::size_t sent = 0;
  std::int64_t nextAt = 0;
  std::function<void()> atInterrupt;  // called as byte `interruptAt` goes out
  std::size_t interruptAt = 0;

  bool Asked() const {
    std::lock_guard lock(socket->m);
    return !socket->sends.empty();
  }
  long operator()(std::uint8_t* data, std::size_t size, int waitMs, int& err) {
    if (nextAt == 0 && Asked()) nextAt = clock->now + msPerByte;
    if (nextAt == 0 || sent >= limit || (msPerByte > 0 && nextAt > clock->now + waitMs)) {
      clock->now += waitMs;
      err = EAGAIN;
      return -1;
    }
    clock->now = msPerByte > 0 ? nextAt : clock->now + 1;
    nextAt += msPerByte;
    const std::size_t n = msPerByte > 0 ? 1 : std::min(size, interruptAt > sent ? interruptAt - sent : size);
    for (std::size_t i = 0; i < n; ++i) data[i] = stream[(sent + i) % stream.size()];
    sent += n;
    if (sent == interruptAt && atInterrupt) std::exchange(atInterrupt, nullptr)();
    return static_cast<long>(n);
  }
};

struct PeerLink {
  FakeLink f;
  std::shared_ptr<StreamingPeer> peer = std::make_shared<StreamingPeer>();

  PeerLink(Bytes stream, std::int64_t msPerByte, bool socketTimeout = true) {
    peer->clock = &f.clock;
    peer->socket = f.sockets->state.get();
    peer->stream = std::move(stream);
    peer->msPerByte = msPerByte;
    if (!socketTimeout) {  // setsockopt failed: a plain receive would wait for ever
      f.sockets->timeoutErr = EINVAL;
      f.sockets->state->receiveTimeoutMs = INT_MAX;
    }
    f.link->SetEthernetAddress("127.0.0.1");
    f.link->SetCloseAfterSendFailure(false);
    f.link->SetCloseAfterReceiveFailure(false);
    EXPECT_EQ(f.link->ConnectOnThisThread(), kConnectOk);
    f.sockets->state->peer = [p = peer](std::uint8_t* d, std::size_t n, int w, int& e) {
      return (*p)(d, n, w, e);
    };
  }
  std::uint32_t Send() {
    LinkReply reply;
    return f.link->SendCommand("0001rgbty;;", reply);
  }
};

Bytes SealedReply() {
  const Bytes frame = ReplyFrame(1, '1', "K610");
  return SealEnvelope(LinkCipher(), frame.data(), frame.size());
}

constexpr int kExchanges = 4;
// What an exchange may take besides its reply, and a reply's worth.
constexpr std::size_t kBytesPerExchange = 16 * 1024 + 2 * kMaxTcpReceive;

TEST(HostilePeer, EveryExchangeEndsInTimeWithBoundedBytes) {
  struct Case {
    const char* name;
    Bytes stream;
    std::int64_t msPerByte;
    std::uint32_t later;  // the code of the exchanges after the first
    bool socketTimeout = true;
  } cases[] = {
      {"flood of noise", Bytes(1000, 0x5a), 0, kErrRead},
      {"flood of whole replies", SealedReply(), 0, kErrRead},
      {"trickle", Bytes(1000, 0x5a), 100, kErrRead},
      {"silence on a socket without its time-out", Bytes(1000, 0x5a), 10'000, kErrRead, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PeerLink p(c.stream, c.msPerByte, c.socketTimeout);
    for (int i = 0; i < kExchanges; ++i) {
      const std::int64_t start = p.f.clock.now;
      const std::uint32_t rc = p.Send();
      EXPECT_LE(p.f.clock.now - start, kReceiveTimeoutMs) << i;
      if (i > 0) {
        EXPECT_EQ(rc, c.later) << i;
      }
    }
    EXPECT_LE(p.peer->sent, kExchanges * kBytesPerExchange);
  }
}

TEST(HostilePeer, InterruptEndsTheExchangeAtOnce) {
  // Interrupted in the second exchange: dropping stale bytes (flood) or
  // waiting for the reply behind an owed one (trickle).
  for (const std::int64_t msPerByte : {0, 100}) {
    SCOPED_TRACE(msPerByte);
    PeerLink p(Bytes(1000, 0x5a), msPerByte);
    p.Send();
    std::int64_t at = 0;
    p.peer->interruptAt = p.peer->sent + (msPerByte ? 3 : 10'000);
    p.peer->atInterrupt = [&] {
      at = p.f.clock.now;
      p.f.link->Interrupt();
    };
    EXPECT_NE(p.Send(), kLinkOk);
    ASSERT_NE(at, 0);
    EXPECT_EQ(p.peer->sent, p.peer->interruptAt);
    EXPECT_LE(p.f.clock.now - at, 1);
  }
}

}  // namespace
