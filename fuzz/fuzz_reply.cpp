// Feeds arbitrary reply bytes through whole exchanges of the link controller,
// on the fake transports and the fake clock, without threads. The first
// input byte picks the way:
//   bit 0     serial (0) or TCP (1)
//   bit 1     a long read ("rgrea")
//   bits 2-3  how the bytes come: 0 as the reply; 1 as stale bytes before
//             the request (TCP) or as the reply after an answered one, so
//             that silence is retried (serial); 2 as a flood (the bytes over
//             and over); 3 as a trickle (one byte at a time, on serial just
//             within the read time-out)
//   bits 4-7  the trickle's pace
// The rest are the bytes; over TCP they are what the receiver deciphers.
// Every exchange ends in 0 or a link error code within its time bound,
// having taken a bounded number of bytes, never in a crash or a read past a
// buffer.
#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "link/frame.h"
#include "link/link_cipher.h"
#include "link/link_errors.h"
#include "support/fake_link.h"

using namespace vecta::link;
using namespace vecta::test;

namespace {

enum Way { kReply = 0, kStale = 1, kFlood = 2, kTrickle = 3 };

const LinkCipher& Cipher() {
  static const LinkCipher cipher;
  return cipher;
}

// `plain` enciphered block by block, padded with 0xFF to a whole block.
Bytes Enciphered(Bytes plain) {
  while (plain.empty() || plain.size() % 8) plain.push_back(kPadByte);
  for (std::size_t at = 0; at < plain.size(); at += 8) Cipher().EncryptBlock(plain.data() + at);
  return plain;
}

// A peer that, once a request has come, sends `stream` over and over: a
// flood (a millisecond a receive) or a trickle (a byte every `msPerByte`).
struct Peer {
  FakeClock* clock;
  const FakeSocketState* socket;
  Bytes stream;
  std::int64_t msPerByte;
  std::int64_t nextAt = 0;
  std::size_t sent = 0;

  long operator()(std::uint8_t* data, std::size_t size, int waitMs, int& err) {
    if (nextAt == 0 && !socket->sends.empty()) nextAt = clock->now + msPerByte;
    if (nextAt == 0 || (msPerByte > 0 && nextAt > clock->now + waitMs)) {
      clock->now += waitMs;
      err = EAGAIN;
      return -1;
    }
    clock->now = msPerByte > 0 ? nextAt : clock->now + 1;
    nextAt += msPerByte;
    const std::size_t n = msPerByte > 0 ? 1 : size;
    for (std::size_t done = 0; done < n;) {
      const std::size_t at = (sent + done) % stream.size();
      const std::size_t piece = std::min(n - done, stream.size() - at);
      std::memcpy(data + done, stream.data() + at, piece);
      done += piece;
    }
    sent += n;
    return static_cast<long>(n);
  }
};

// `bytes` repeated to at least 4 KiB, so a flood is copied in few pieces.
Bytes Repeated(const Bytes& bytes) {
  Bytes out((4096 + bytes.size() - 1) / bytes.size() * bytes.size());
  for (std::size_t at = 0; at < out.size(); at += bytes.size())
    std::memcpy(out.data() + at, bytes.data(), bytes.size());
  return out;
}

void Check(std::uint32_t rc, const LinkReply& reply, CRavlenRemoteControl& link) {
  switch (rc) {
    case kLinkOk:
      if (reply.status != '1' && reply.status != 'E') std::abort();
      if (reply.value.size() > 255) std::abort();
      break;
    case kErrRead:
    case kErrTimedOut:
    case kErrInvalidReply:
    case kErrBadChecksum:
    case kErrNoEtx:
      break;
    default:
      std::abort();
  }
  if (link.LastReply().size() > kMaxTcpReceive) std::abort();
}

// Runs `exchanges` exchanges; each must end within `boundMs` of fake time.
void Exchanges(FakeLink& f, const char* request, int exchanges, std::int64_t boundMs) {
  for (int i = 0; i < exchanges; ++i) {
    LinkReply reply;
    const std::int64_t start = f.clock.now;
    Check(f.link->SendCommand(request, reply), reply, *f.link);
    if (f.clock.now - start > boundMs) std::abort();
  }
}

const Bytes& Good() {
  static const Bytes frame = ReplyFrame(1, '1', "K610");
  return frame;
}
const Bytes& GoodEnvelope() {
  static const Bytes envelope = PlainEnvelope(Good().data(), Good().size());
  return envelope;
}

// One link per transport for the whole run (building one costs more than
// most exchanges), brought back to the state of a fresh one before every
// input: over TCP a new connection, which starts with nothing owed and the
// unit not yet answered; on the serial line, where needed, an answered
// exchange (no silent replies counted) and a failed probe (the unit not
// answered).
FakeLink& TcpLink() {
  static FakeLink f;
  static const bool once = [] {
    f.link->SetCloseAfterSendFailure(false);
    f.link->SetCloseAfterReceiveFailure(false);
    return true;
  }();
  (void)once;
  FakeSocketState& s = *f.sockets->state;
  s.receives.clear();
  s.sends.clear();
  s.peer = nullptr;
  f.link->SetEthernetAddress("127.0.0.1");
  if (f.link->ConnectOnThisThread() != kConnectOk) std::abort();
  return f;
}

FakeLink& SerialLink() {
  static FakeLink f;
  if (!f.link->SerialOpen() && f.link->OpenSerialPort(0) != 0) std::abort();
  FakeSerialState& line = f.line();
  line.replies.clear();
  line.pending.clear();
  LinkReply reply;
  if (f.link->RetryCount() != 0) {
    line.Reply(Good());
    f.link->SendCommand("0001rgbty;;", reply);
  }
  if (f.link->UnitHasAnswered()) {
    line.ReplyEvents({{ReadEvent::Error}});
    f.link->ProbeUnit();
  }
  if (f.link->UnitHasAnswered() || f.link->RetryCount() != 0) std::abort();
  line.writes.clear();
  return f;
}

void OverTcp(Way way, std::int64_t pace, const Bytes& bytes, const char* request) {
  FakeLink& f = TcpLink();
  FakeSocketState& s = *f.sockets->state;
  if (way == kFlood || way == kTrickle) {
    auto peer = std::make_shared<Peer>(Peer{&f.clock, &s, Repeated(Enciphered(bytes)), way == kFlood ? 0 : pace});
    s.peer = [peer](std::uint8_t* d, std::size_t n, int w, int& e) { return (*peer)(d, n, w, e); };
    // The first exchange meets the start of the stream, the second what
    // piled up behind it.
    Exchanges(f, request, 2, kReceiveTimeoutMs);
    // Besides the replies themselves, 16 KiB an exchange at most.
    if (peer->sent > 2 * (16 * 1024 + 2 * kMaxTcpReceive)) std::abort();
    s.peer = nullptr;
    return;
  }
  s.receives.push_back({bytes, 0, false, way == kStale});
  s.receives.push_back({GoodEnvelope()});
  s.receives.push_back({GoodEnvelope()});
  Exchanges(f, request, 2, kReceiveTimeoutMs);
}

void OverSerial(Way way, std::int64_t pace, const Bytes& bytes, const char* request, bool longRead) {
  FakeLink& f = SerialLink();
  switch (way) {
    case kReply:
      f.line().Reply(bytes);
      break;
    case kStale:
      f.line().Reply(Good());
      f.line().Reply(bytes);
      break;
    case kFlood: {
      Bytes flood;
      while (flood.size() <= kMaxSerialReply) flood.insert(flood.end(), bytes.begin(), bytes.end());
      f.line().Reply(flood);
      break;
    }
    case kTrickle:
      f.line().Reply(bytes, 2340 + pace);
      break;  // 2350..2500 ms
  }
  // A silent unit is tried three times; each try within the whole reply's bound.
  const SerialTimeouts t;
  const std::int64_t perTry = t.ReplyTimeoutMs(9600, kMaxSerialReply) + (longRead ? 2 * t.ReadByteTimeoutMs() : 0);
  Exchanges(f, request, way == kStale ? 2 : 1, 3 * perTry);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const bool tcp = data[0] & 1;
  const bool longRead = data[0] & 2;
  const Way way = static_cast<Way>((data[0] >> 2) & 3);
  const std::int64_t pace = 10 + (data[0] >> 4) * 10;  // 10..160 ms a byte over TCP
  const Bytes bytes(data + 1, data + size);
  if (bytes.empty() && (way == kFlood || way == kTrickle)) return 0;
  const char* request = longRead ? "0001rgrea;;" : "0001rgbty;;";
  if (tcp)
    OverTcp(way, pace, bytes, request);
  else
    OverSerial(way, pace, bytes, request, longRead);
  return 0;
}
