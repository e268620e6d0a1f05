// Scripted stand-ins for the link's outside world: a serial device that plays
// back bytes, silences and errors; sockets with scripted receives; a clock
// that moves only when told; and a capture of the trace lines.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/frame.h"
#include "link/remote_control.h"
#include "link/serial_port.h"
#include "link/tcp_socket.h"
#include "link/trace.h"
#include "support/files.h"

namespace vecta::test {

using link::Bytes;

class FakeClock final : public link::Clock {
 public:
  std::int64_t NowMs() override { return now; }
  link::TimeOfDay UtcTimeOfDay() override { return timeOfDay; }
  void SleepMs(std::int64_t ms) override {
    slept.push_back(ms);
    now += ms;
  }
  std::int64_t now = 1'000'000;
  link::TimeOfDay timeOfDay{12, 34, 56};
  std::vector<std::int64_t> slept;
};

// One thing a read can meet.
struct ReadEvent {
  enum Kind { Byte, Silence, Error } kind = Byte;
  std::uint8_t byte = 0;
  std::int64_t afterMs = 0;  // time the byte takes to arrive
};

// What a fake serial port has seen and will answer, shared with the test.
struct FakeSerialState {
  std::vector<Bytes> writes;                  // every frame written
  std::deque<std::deque<ReadEvent>> replies;  // one script per write, in order
  std::deque<ReadEvent> pending;              // what the line holds now
  int reads = 0;                              // ReadByte calls
  int silentReads = 0;
  int purges = 0;
  bool failWrite = false, failSetLine = false, failSetTimeouts = false;
  bool hungUp = false;  // the device went away: reads and writes fail for good
  std::vector<std::uint32_t> baudsSet;
  std::vector<std::uint32_t> refusedBauds;  // rates the device cannot do
  link::SerialTimeouts timeouts;
  FakeClock* clock = nullptr;  // advanced by each silent read's time-out
  bool open = false;
  // Asked for the reply to a write when no scripted reply is queued; none
  // means silence. Lets a test play a unit that answers by the request.
  std::function<std::optional<Bytes>(const Bytes& request)> responder;

  // Queues the bytes the unit sends after the next write.
  void Reply(const Bytes& bytes, std::int64_t msPerByte = 1);
  void ReplySilence();  // the next write meets silence
  void ReplyEvents(std::deque<ReadEvent> events);
};

class FakeSerialProvider final : public link::SerialPortProvider {
 public:
  explicit FakeSerialProvider(int ports = 12) : ports_(ports) {}
  std::vector<link::SerialPortInfo> Ports() const override;
  std::unique_ptr<link::SerialDevice> Open(int index, std::string& error) override;

  std::shared_ptr<FakeSerialState> state = std::make_shared<FakeSerialState>();
  std::vector<std::string> opened;  // paths opened, in order
  bool failOpen = false;
  std::string openError = "No such file or directory";  // the reason a failed open gives

 private:
  int ports_;
};

// ---- TCP

struct FakeReceive {
  Bytes bytes;         // plaintext envelope bytes, enciphered before delivery
  int err = 0;         // nonzero: the receive fails with this error
  bool raw = false;    // deliver `bytes` as they are, without enciphering
  bool early = false;  // already there before the request is sent
};

struct FakeSocketState {
  std::mutex m;
  std::vector<Bytes> sends;          // enciphered envelopes as sent
  std::deque<FakeReceive> receives;  // what each receive returns
  int failSendErr = 0;               // nonzero: every send fails
  // Answers each request frame sent (deciphered) by queueing its reply; none
  // is silence. Lets a test play a unit over TCP that answers by the request.
  std::function<std::optional<Bytes>(const Bytes& frame)> responder;
  // When set, every receive asks it instead of `receives`: (buffer, room,
  // longest wait in ms, error out) -> bytes, 0 for a peer that closed, -1
  // with the error. Called without the lock held, so it may interrupt the link.
  std::function<long(std::uint8_t*, std::size_t, int, int&)> peer;
  int receiveTimeoutMs = link::kReceiveTimeoutMs;  // as the link set it
  int shutdowns = 0;
  int closed = 0;
  int created = 0;
};

class FakeSocketFactory final : public link::SocketFactory {
 public:
  std::unique_ptr<link::StreamSocket> Create(int& err) override;
  bool SetReceiveTimeout(link::StreamSocket& socket, int ms, int& err) override;
  bool Connect(link::StreamSocket& socket, const std::string& ip, std::uint16_t port, int& err,
               const std::atomic<bool>* cancel) override;

  // Lets a blocked Connect go on.
  void Release();

  std::shared_ptr<FakeSocketState> state = std::make_shared<FakeSocketState>();
  int createErr = 0;          // nonzero: Create fails
  int timeoutErr = 0;         // nonzero: SetReceiveTimeout fails
  int connectErr = 0;         // nonzero: Connect fails
  bool blockConnect = false;  // Connect waits until Release (or cancel, if honoured)
  bool honourCancel = true;
  std::atomic<int> connects{0};
  std::vector<std::string> targets;  // "ip:port" of every connect
  std::mutex m;
  std::condition_variable cv;
  bool released = false;
};

// Captures trace lines while alive.
class TraceCapture {
 public:
  TraceCapture();
  ~TraceCapture();
  std::string Text() const;
  int Count(const std::string& line) const;

 private:
  mutable std::mutex m_;
  std::string text_;
};

// A controller wired to the fakes.
struct FakeLink {
  FakeClock clock;
  std::shared_ptr<FakeSerialProvider> serial = std::make_shared<FakeSerialProvider>();
  std::shared_ptr<FakeSocketFactory> sockets = std::make_shared<FakeSocketFactory>();
  std::atomic<int> linkLost{0};
  std::unique_ptr<link::CRavlenRemoteControl> link;

  FakeLink();
  FakeSerialState& line() { return *serial->state; }
};

// A request frame built independently of the link code: STX, the text, the
// sum of the text's bytes with bit 7 set, ETX.
Bytes IndependentFrame(const std::string& text);

// A valid reply frame from `address` with `status` and `value`.
Bytes ReplyFrame(int address, char status, const std::string& value);
// STX, `text`, `checksum`, ETX: a frame whose checksum is given literally,
// worked out by hand and not by the code under test.
Bytes Wire(const std::string& text, std::uint8_t checksum);
Bytes ToBytes(const std::string& s);
// Each byte as the log and the console write it: "%2x ".
std::string HexDump(const Bytes& bytes);

}  // namespace vecta::test
