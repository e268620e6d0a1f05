#include "support/fake_link.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/frame.h"
#include "link/link_cipher.h"

namespace vecta::test {

void FakeSerialState::Reply(const Bytes& bytes, std::int64_t msPerByte) {
  std::deque<ReadEvent> events;
  for (auto b : bytes) events.push_back({ReadEvent::Byte, b, msPerByte});
  replies.push_back(std::move(events));
}
void FakeSerialState::ReplySilence() { replies.push_back({}); }
void FakeSerialState::ReplyEvents(std::deque<ReadEvent> events) { replies.push_back(std::move(events)); }

namespace {

class FakeSerialDevice final : public link::SerialDevice {
 public:
  explicit FakeSerialDevice(std::shared_ptr<FakeSerialState> s) : s_(std::move(s)) { s_->open = true; }
  ~FakeSerialDevice() override { s_->open = false; }
  bool SetLine(std::uint32_t baud) override {
    if (std::find(s_->refusedBauds.begin(), s_->refusedBauds.end(), baud) != s_->refusedBauds.end())
      return false;  // the line stays at its rate
    s_->baudsSet.push_back(baud);
    return !s_->failSetLine;
  }
  bool SetTimeouts(const link::SerialTimeouts& t) override {
    if (s_->failSetTimeouts) return false;
    s_->timeouts = t;
    return true;
  }
  void PurgeInput() override {
    ++s_->purges;
    s_->pending.clear();
  }
  bool HungUp() const override { return hungUp_ || s_->hungUp; }
  bool Write(const std::uint8_t* data, std::size_t size) override {
    hungUp_ = hungUp_ || s_->hungUp;  // a device that went away stays away
    if (s_->failWrite || hungUp_) return false;
    s_->writes.emplace_back(data, data + size);
    if (!s_->replies.empty()) {
      if (s_->pending.empty())
        s_->pending.swap(s_->replies.front());
      else
        for (auto& e : s_->replies.front()) s_->pending.push_back(e);
      s_->replies.pop_front();
    } else if (s_->responder) {
      if (auto reply = s_->responder(s_->writes.back()))
        for (auto b : *reply) s_->pending.push_back({ReadEvent::Byte, b, 1});
    }
    return true;
  }
  link::ReadOutcome ReadByte(std::uint8_t& out) override { return ReadByteWithin(out, INT64_MAX); }
  // A byte that takes longer than the wait has not arrived yet: the wait
  // passes and the byte stays on its way.
  link::ReadOutcome ReadByteWithin(std::uint8_t& out, std::int64_t maxWaitMs) override {
    ++s_->reads;
    if (HungUp()) return link::ReadOutcome::Error;
    const std::int64_t wait = std::min(s_->timeouts.ReadByteTimeoutMs(), maxWaitMs);
    const bool late = !s_->pending.empty() && s_->pending.front().kind == ReadEvent::Byte &&
                      s_->pending.front().afterMs > maxWaitMs;
    if (s_->pending.empty() || s_->pending.front().kind == ReadEvent::Silence || late) {
      if (late)
        s_->pending.front().afterMs -= wait;
      else if (!s_->pending.empty())
        s_->pending.pop_front();
      ++s_->silentReads;
      if (s_->clock) s_->clock->now += wait;
      return link::ReadOutcome::Timeout;
    }
    ReadEvent e = s_->pending.front();
    s_->pending.pop_front();
    if (e.kind == ReadEvent::Error) return link::ReadOutcome::Error;
    if (s_->clock) s_->clock->now += e.afterMs;
    out = e.byte;
    return link::ReadOutcome::Byte;
  }

 private:
  std::shared_ptr<FakeSerialState> s_;
  bool hungUp_ = false;
};

class FakeSocket final : public link::StreamSocket {
 public:
  explicit FakeSocket(std::shared_ptr<FakeSocketState> s) : s_(std::move(s)) {
    std::lock_guard lock(s_->m);
    ++s_->created;
  }
  ~FakeSocket() override {
    std::lock_guard lock(s_->m);
    ++s_->closed;
  }
  long Send(const std::uint8_t* data, std::size_t size, int& err) override {
    std::lock_guard lock(s_->m);
    if (s_->failSendErr) {
      err = s_->failSendErr;
      return -1;
    }
    s_->sends.emplace_back(data, data + size);
    if (s_->responder && size >= 8) {
      static const link::LinkCipher cipher;
      Bytes plain(data, data + size);
      link::OpenEnvelopeBlocks(cipher, plain.data(), plain.size(), plain.size());
      const std::size_t n = std::min<std::size_t>(plain[0], plain.size() - 1);
      if (auto reply = s_->responder(Bytes(plain.begin() + 1, plain.begin() + 1 + static_cast<long>(n))))
        s_->receives.push_back({link::PlainEnvelope(reply->data(), reply->size())});
    }
    return static_cast<long>(size);
  }
  long ReceiveWithin(std::uint8_t* data, std::size_t size, int waitMs, int& err) override {
    if (auto peer = Peer()) return peer(data, size, waitMs, err);
    {
      std::lock_guard lock(s_->m);
      if (waitMs <= 0 && (s_->receives.empty() || !s_->receives.front().early)) {
        err = EAGAIN;
        return -1;
      }
    }
    return Receive(data, size, err);
  }
  long Receive(std::uint8_t* data, std::size_t size, int& err) override {
    if (auto peer = Peer()) return peer(data, size, s_->receiveTimeoutMs, err);
    std::lock_guard lock(s_->m);
    if (s_->receives.empty()) {
      err = EAGAIN;  // the receive time-out
      return -1;
    }
    FakeReceive r = std::move(s_->receives.front());
    s_->receives.pop_front();
    if (r.err) {
      err = r.err;
      return -1;
    }
    Bytes b = r.bytes;
    if (!r.raw) {
      static const link::LinkCipher cipher;
      Bytes padded = b;
      while (padded.size() % 8) padded.push_back(0);
      for (std::size_t off = 0; off < padded.size(); off += 8) cipher.EncryptBlock(padded.data() + off);
      b.assign(padded.begin(), padded.begin() + static_cast<long>(b.size()));
    }
    const std::size_t n = std::min(size, b.size());
    std::copy(b.begin(), b.begin() + static_cast<long>(n), data);
    return static_cast<long>(n);
  }
  void ShutdownBoth() override {
    std::lock_guard lock(s_->m);
    ++s_->shutdowns;
  }

 private:
  decltype(FakeSocketState::peer) Peer() const {
    std::lock_guard lock(s_->m);
    return s_->peer;
  }

  std::shared_ptr<FakeSocketState> s_;
};

}  // namespace

std::vector<link::SerialPortInfo> FakeSerialProvider::Ports() const {
  std::vector<link::SerialPortInfo> v;
  for (int i = 0; i < ports_; ++i) v.push_back({"/dev/fake" + std::to_string(i), "fake" + std::to_string(i)});
  return v;
}

std::unique_ptr<link::SerialDevice> FakeSerialProvider::Open(int index, std::string& error) {
  if (failOpen || index < 0 || index >= ports_) {
    error = openError;
    return nullptr;
  }
  opened.push_back("/dev/fake" + std::to_string(index));
  return std::make_unique<FakeSerialDevice>(state);
}

std::unique_ptr<link::StreamSocket> FakeSocketFactory::Create(int& err) {
  if (createErr) {
    err = createErr;
    return nullptr;
  }
  return std::make_unique<FakeSocket>(state);
}

bool FakeSocketFactory::SetReceiveTimeout(link::StreamSocket&, int ms, int& err) {
  if (timeoutErr) {
    err = timeoutErr;
    return false;
  }
  std::lock_guard lock(state->m);
  state->receiveTimeoutMs = ms;
  return true;
}

bool FakeSocketFactory::Connect(link::StreamSocket&, const std::string& ip, std::uint16_t port, int& err,
                                const std::atomic<bool>* cancel) {
  {
    std::lock_guard lock(m);
    targets.push_back(ip + ":" + std::to_string(port));
  }
  ++connects;
  if (blockConnect) {
    std::unique_lock lock(m);
    while (!released) {
      if (honourCancel && cancel && *cancel) {
        err = ECANCELED;
        return false;
      }
      cv.wait_for(lock, std::chrono::milliseconds(5));
    }
  }
  if (connectErr) {
    err = connectErr;
    return false;
  }
  return true;
}

void FakeSocketFactory::Release() {
  std::lock_guard lock(m);
  released = true;
  cv.notify_all();
}

TraceCapture::TraceCapture() {
  link::SetTraceSink([this](std::string_view line) {
    std::lock_guard lock(m_);
    text_.append(line);
  });
}
TraceCapture::~TraceCapture() { link::SetTraceSink({}); }
std::string TraceCapture::Text() const {
  std::lock_guard lock(m_);
  return text_;
}
int TraceCapture::Count(const std::string& line) const {
  const std::string t = Text();
  int n = 0;
  for (std::size_t pos = t.find(line); pos != std::string::npos; pos = t.find(line, pos + 1)) ++n;
  return n;
}

FakeLink::FakeLink() {
  serial->state->clock = &clock;
  link::LinkEnvironment env;
  env.clock = &clock;
  env.serial = serial;
  env.sockets = sockets;
  link = std::make_unique<link::CRavlenRemoteControl>([this] { ++linkLost; }, env);
}

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

std::string HexDump(const Bytes& bytes) {
  std::string out;
  char cell[8];
  for (auto b : bytes) {
    std::snprintf(cell, sizeof cell, "%2x ", b);
    out += cell;
  }
  return out;
}

Bytes IndependentFrame(const std::string& text) {
  Bytes b;
  b.reserve(text.size() + 3);
  b.push_back(0x02);
  unsigned sum = 0;
  for (unsigned char c : text) {
    b.push_back(c);
    sum += c;
  }
  b.push_back(static_cast<std::uint8_t>((sum & 0xFF) | 0x80));
  b.push_back(0x03);
  return b;
}

Bytes Wire(const std::string& text, std::uint8_t checksum) {
  Bytes b;
  b.reserve(64);
  b.push_back(0x02);
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(checksum);
  b.push_back(0x03);
  return b;
}

Bytes ReplyFrame(int address, char status, const std::string& value) {
  char head[8];
  std::snprintf(head, sizeof head, "%04d%c", address, status);
  std::string body = std::string(head) + value + ";";
  Bytes f;
  f.reserve(body.size() + 3);
  f.push_back(link::kStx);
  f.insert(f.end(), body.begin(), body.end());
  f.push_back(link::Checksum(f.data() + 1, f.size() - 1));
  f.push_back(link::kEtx);
  return f;
}

}  // namespace vecta::test
