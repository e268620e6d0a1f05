// Replies over TCP, kept in step with their requests and within bounds. A
// reply that comes late, or the tail of a split one, is still on its way
// when the next request goes out; the unit answers in order, so the first
// `owed_` envelopes that arrive belong to earlier exchanges and are dropped.
// Whatever the peer sends, an exchange keeps at most one envelope's worth of
// bytes, drops stale ones in a single pass, waits no longer than the receive
// time-out, gives up a peer that sends far more than any unit would, and
// ends at the interrupt.
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/remote_control.h"
#include "link/trace.h"

namespace vecta::link {
namespace {

// Bytes one exchange takes from the socket besides its own reply before it
// gives the peer up: room for 64 late replies of the longest kind from a
// unit that fell far behind, a blink for a peer that floods the link.
constexpr std::size_t kMaxUnaskedBytes = std::size_t{16} * 1024;

// Dropped envelopes traced one by one in one exchange; past these a flood
// would only fill the trace.
constexpr int kTracedDrops = 8;

// Stale bytes are taken in pieces of this size: a flood costs a sixteenth of
// the receives that pieces of one envelope's size would.
constexpr std::size_t kStalePiece = 4096;

}  // namespace

void CRavlenRemoteControl::ResyncFor(const StreamSocket* socket) {
  if (socket == resyncSocket_) return;
  resyncSocket_ = socket;
  owed_ = 0;
  owedMasked_ = false;
  carry_.clear();
}

void CRavlenRemoteControl::DropEnvelope(const std::uint8_t* raw, std::size_t size) {
  if (++dropsTraced_ > kTracedDrops || !TraceOn()) return;
  std::uint8_t plain[kMaxTcpReceive + 8] = {};
  const std::size_t n = std::min(size, kMaxTcpReceive);
  std::memcpy(plain, raw, n);
  OpenEnvelopeBlocks(cipher_, plain, n, sizeof plain);
  const ByteSpan value = owedMasked_ ? ReplyValueSpan(plain, n) : ByteSpan{};
  std::string hex;
  static constexpr char kDigits[] = "0123456789abcdef";
  for (std::size_t i = 0; i < n; ++i) {
    if (i >= value.begin && i < value.end) {
      hex += "** ";
      continue;
    }
    hex += plain[i] < 16 ? ' ' : kDigits[plain[i] >> 4];
    hex += kDigits[plain[i] & 15];
    hex += ' ';
  }
  Trace("Dropped a late reply of %zu bytes: %s\r\n", size, hex.c_str());
}

// Drops the whole envelopes at the front of carry_, each the answer to an
// earlier request, in one pass; what stays is the start of one envelope.
void CRavlenRemoteControl::DropCarriedEnvelopes() {
  std::size_t at = 0;
  for (;;) {
    const std::size_t size = EnvelopeSize(cipher_, carry_.data() + at, carry_.size() - at);
    if (size == 0 || size > carry_.size() - at) break;
    DropEnvelope(carry_.data() + at, size);
    at += size;
    if (owed_ > 0) --owed_;
  }
  carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(at));
}

// A peer that does not stop sending: what it sent is dropped, nothing is
// owed any more, and the exchange fails as a failed receive does.
std::uint32_t CRavlenRemoteControl::GiveUpOnFlood(std::size_t taken) {
  Trace("Gave up after %zu bytes nobody asked for\r\n", taken);
  carry_.clear();
  owed_ = 0;
  owedMasked_ = false;
  HandleTcpFailure(closeAfterReceiveFailure_);
  return kErrRead;
}

// Whatever the socket holds before a request goes out answers an earlier
// one. Only what has arrived already is taken.
std::uint32_t CRavlenRemoteControl::DropStale(StreamSocket& socket) {
  std::uint8_t chunk[kStalePiece];
  std::size_t taken = 0;
  int err = 0;
  for (;;) {
    if (interrupted_) return kErrNotConnected;
    if (taken >= kMaxUnaskedBytes) return GiveUpOnFlood(taken);
    const std::size_t room = std::min(sizeof chunk, kMaxUnaskedBytes - taken);
    const long n = socket.ReceiveWithin(chunk, room, 0, err);
    if (n <= 0) break;
    taken += static_cast<std::size_t>(n);
    carry_.insert(carry_.end(), chunk, chunk + n);
    DropCarriedEnvelopes();
  }
  if (!carry_.empty() && owed_ == 0) owed_ = 1;  // its rest is still to come
  if (owed_ == 0) owedMasked_ = false;
  return kLinkOk;
}

// After an ordinary receive: a time-out leaves its reply owed, and a reply
// cut short leaves the rest of its envelope owed.
void CRavlenRemoteControl::AfterPlainReceive(const std::uint8_t* raw, long received, std::size_t etxAt,
                                             bool mask) {
  if (received < 0) {
    ++owed_;
    owedMasked_ = owedMasked_ || mask;
    return;
  }
  const auto n = static_cast<std::size_t>(received);
  if (n == 0 || etxAt < n) return;
  const std::size_t size = EnvelopeSize(cipher_, raw, n);
  if (size != 0 && size <= n) return;  // whole, only without an ETX
  carry_.assign(raw, raw + n);
  owed_ = 1;
  owedMasked_ = owedMasked_ || mask;
}

// Drops the owed envelopes at the front of carry_; true, with the reply
// deciphered in `buf`, once the envelope after them is whole.
bool CRavlenRemoteControl::TakeOwnReply(int& dropped, std::uint8_t* buf, std::size_t capacity,
                                        std::size_t& count) {
  std::size_t at = 0;
  bool whole = false;
  for (;;) {
    const std::size_t size = EnvelopeSize(cipher_, carry_.data() + at, carry_.size() - at);
    if (size == 0 || size > carry_.size() - at) break;
    if (owed_ > 0) {
      DropEnvelope(carry_.data() + at, size);
      at += size;
      --owed_;
      ++dropped;
      continue;
    }
    count = std::min(size, kMaxTcpReceive);
    std::memcpy(buf, carry_.data() + at, count);
    at += size;
    whole = true;
    break;
  }
  carry_.erase(carry_.begin(), carry_.begin() + static_cast<std::ptrdiff_t>(at));
  if (!whole) return false;
  // Nothing should follow; what does is stale.
  DropCarriedEnvelopes();
  owed_ = carry_.empty() ? 0 : 1;
  if (owed_ == 0) owedMasked_ = false;
  OpenEnvelopeBlocks(cipher_, buf, count, capacity);
  return true;
}

// The receive time-out ran out (or the receive failed) while owed replies
// were awaited: what is owed now.
void CRavlenRemoteControl::AfterOwedTimeout(int err, int dropped, bool mask) {
  if (err != EAGAIN && err != EWOULDBLOCK) {
    carry_.clear();
    return;
  }
  if (owed_ == 0 && !carry_.empty()) {
    owed_ = 1;  // the start of this reply; the rest comes later
  } else if (dropped > 0) {
    // What was dropped included this exchange's own reply: an earlier one
    // was lost. Start counting afresh.
    owed_ = 0;
    carry_.clear();
  } else {
    ++owed_;
  }
  owedMasked_ = owedMasked_ || mask;
}

// The receive of an exchange while earlier replies are owed: the owed
// envelopes are dropped as they come, and the next one is this exchange's
// reply. The whole wait is bounded by the receive time-out.
std::uint32_t CRavlenRemoteControl::ReadOwedThenReply(StreamSocket& socket, bool logging, bool mask,
                                                      std::uint8_t* buf, std::size_t capacity,
                                                      std::size_t& count) {
  count = 0;
  int dropped = 0;
  std::size_t taken = 0;
  const std::int64_t deadline = clock_->NowMs() + tcpReceiveTimeoutMs_;
  std::uint8_t chunk[kMaxTcpReceive];
  for (;;) {
    if (TakeOwnReply(dropped, buf, capacity, count)) {
      if (logging) LogReplyHex(buf, count, mask);
      buf[count] = 0;
      return kLinkOk;
    }
    if (interrupted_) return kErrNotConnected;
    if (taken >= kMaxUnaskedBytes) return GiveUpOnFlood(taken);
    const std::int64_t left = deadline - clock_->NowMs();
    int err = EAGAIN;
    const long n = left > 0 ? socket.ReceiveWithin(chunk, sizeof chunk,
                                                   static_cast<int>(std::min<std::int64_t>(left, INT_MAX)), err)
                            : -1;
    if (n > 0) {
      taken += static_cast<std::size_t>(n);
      carry_.insert(carry_.end(), chunk, chunk + n);
      continue;
    }
    if (n == 0) {  // the peer closed: nothing of this reply came
      buf[0] = 0;
      return kLinkOk;
    }
    AfterOwedTimeout(err, dropped, mask);
    Trace("Error at socket(): %ld\r\n", static_cast<long>(err));
    HandleTcpFailure(closeAfterReceiveFailure_);
    return kErrRead;
  }
}

std::uint32_t CRavlenRemoteControl::SendTcp(const std::vector<std::uint8_t>& frame) {
  Bytes& envelope = envelope_;
  SealEnvelope(cipher_, frame.data(), frame.size(), envelope);
  auto socket = CurrentSocket();
  ResyncFor(socket.get());
  dropsTraced_ = 0;
  if (socket)
    if (const std::uint32_t rc = DropStale(*socket)) return rc;
  int err = 0;
  const long sent = socket ? socket->Send(envelope.data(), envelope.size(), err) : -1;
  if (sent == static_cast<long>(envelope.size())) return kLinkOk;
  Trace("Error at socket(): %ld\r\n", static_cast<long>(err));
  return HandleTcpFailure(closeAfterSendFailure_) ? kErrRead : kErrWrite;
}

std::uint32_t CRavlenRemoteControl::ReadTcpReply(bool logging, bool mask, std::uint8_t* buf, std::size_t capacity,
                                                 std::size_t& count) {
  count = 0;
  auto socket = CurrentSocket();
  ResyncFor(socket.get());
  if (socket && (owed_ > 0 || !carry_.empty()))
    return ReadOwedThenReply(*socket, logging, mask, buf, capacity, count);
  // Bounded here, not only by the socket's receive time-out, which a socket
  // may lack when it could not be set.
  int err = 0;
  const long n = socket ? socket->ReceiveWithin(buf, kMaxTcpReceive, tcpReceiveTimeoutMs_, err) : -1;
  if (n < 0) {
    if (socket && (err == EAGAIN || err == EWOULDBLOCK)) AfterPlainReceive(nullptr, n, 0, mask);
    Trace("Error at socket(): %ld\r\n", static_cast<long>(err));
    HandleTcpFailure(closeAfterReceiveFailure_);
    return kErrRead;
  }
  count = static_cast<std::size_t>(n);
  std::uint8_t raw[kMaxTcpReceive];
  std::memcpy(raw, buf, count);
  OpenEnvelopeBlocks(cipher_, buf, count, capacity);
  AfterPlainReceive(raw, n, FindEtx(buf, count), mask);
  if (logging) LogReplyHex(buf, count, mask);
  buf[count] = 0;
  return kLinkOk;
}

}  // namespace vecta::link
