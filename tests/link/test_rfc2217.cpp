// The network serial port against a small scripted terminal server: the
// option negotiation, the line settings, refusals with their reasons, 0xFF
// both ways, the purge and the read time-outs. The server answers at once;
// its silences move the fake clock instead of waiting.
#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <optional>

#include "link/link_errors.h"
#include "link/rfc2217.h"
#include "support/fake_link.h"

using namespace vecta;
using namespace vecta::link;
using vecta::test::FakeClock;

namespace {

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WILL = 251, SB = 250, SE = 240;
const std::string kName = "rfc2217://127.0.0.1:4001";

Bytes Escaped(const Bytes& b) {
  Bytes e;
  for (auto c : b) e.insert(e.end(), c == IAC ? 2 : 1, c);
  return e;
}

// What the server does, what it has seen and what it sends.
struct Server {
  enum class ComPort { Agree, Refuse, Silent } comPort = ComPort::Agree;
  bool confirmsPurge = true, answersLine = true;
  std::optional<std::uint32_t> portSpeed;        // reported whatever rate is asked for
  std::string closeText;                         // sent on the option request, then it closes
  Bytes staleBeforePurgeAnswer;                  // data on its way when a purge arrives
  std::function<Bytes(const Bytes&)> unit;       // the unit's reply to a frame
  std::vector<Bytes> options, commands, frames;  // IAC cmd opt; code + value; unescaped data
  std::deque<std::uint8_t> out;
  bool closed = false;
  FakeClock* clock = nullptr;
  Bytes frame_;

  void Put(const Bytes& b) {
    if (!closed) out.insert(out.end(), b.begin(), b.end());
  }
  void OnCommand(const Bytes& c) {
    commands.push_back(c);
    Bytes v(c.begin() + 1, c.end());
    if (c[0] == 12 && confirmsPurge) Put(staleBeforePurgeAnswer);
    if (c[0] == 1 && (portSpeed || v == Bytes{0, 0, 0, 0})) {
      const std::uint32_t s = portSpeed.value_or(9600);
      v = {Bytes::value_type(s >> 24), Bytes::value_type(s >> 16), Bytes::value_type(s >> 8),
           Bytes::value_type(s)};
    }
    // Line settings (1..4) and purges (12) are answered; control (5) never.
    if ((c[0] == 12 && confirmsPurge) || (answersLine && c[0] >= 1 && c[0] <= 4)) {
      Put({IAC, SB, 44, static_cast<std::uint8_t>(100 + c[0])});
      Put(Escaped(v));
      Put({IAC, SE});
    }
  }
  void OnOption(std::uint8_t cmd, std::uint8_t opt) {
    options.push_back({IAC, cmd, opt});
    if (cmd == WILL && opt == 44 && !closeText.empty()) {
      Put(Bytes(closeText.begin(), closeText.end()));
      closed = true;
    } else if (cmd == WILL && opt == 44 && comPort == ComPort::Refuse) {
      Put({IAC, DONT, 44});
    }
  }
  // What the client sends: data, IAC IAC, options, sub-negotiations.
  void Receive(const std::uint8_t* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
      if (p[i] != IAC || p[++i] == IAC) {
        frame_.push_back(p[i]);
        if (p[i] != kEtx) continue;
        if (unit) Put(Escaped(unit(frame_)));
        frames.push_back(std::exchange(frame_, {}));
      } else if (p[i] == SB) {
        Bytes c;
        for (i += 2; i + 1 < n && !(p[i] == IAC && p[i + 1] == SE); ++i) c.push_back(p[i] == IAC ? p[++i] : p[i]);
        if (!c.empty()) OnCommand(c);
        ++i;
      } else if (i + 1 < n) {
        OnOption(p[i], p[i + 1]);
        ++i;
      }
    }
  }
};

class ServerSocket final : public StreamSocket {
 public:
  explicit ServerSocket(Server& s) : s_(s) {}
  long Send(const std::uint8_t* data, std::size_t size, int&) override {
    s_.Receive(data, size);
    return static_cast<long>(size);
  }
  long Receive(std::uint8_t* data, std::size_t size, int& err) override {
    return ReceiveWithin(data, size, 0, err);
  }
  long ReceiveWithin(std::uint8_t* data, std::size_t size, int waitMs, int& err) override {
    std::size_t n = 0;
    for (; n < size && !s_.out.empty(); s_.out.pop_front()) data[n++] = s_.out.front();
    if (n > 0 || s_.closed) return static_cast<long>(n);
    s_.clock->now += waitMs;
    err = EAGAIN;
    return -1;
  }
  void ShutdownBoth() override {}

 private:
  Server& s_;
};

class ServerFactory final : public SocketFactory {
 public:
  explicit ServerFactory(Server& s) : s_(s) {}
  std::unique_ptr<StreamSocket> Create(int&) override { return std::make_unique<ServerSocket>(s_); }
  bool SetReceiveTimeout(StreamSocket&, int, int&) override { return true; }
  bool Connect(StreamSocket&, const std::string& ip, std::uint16_t port, int& err,
               const std::atomic<bool>*) override {
    err = ECONNREFUSED;
    if (ip != "127.0.0.1" || port != 4001) return false;
    // ser2net's opening: its own requests, the COM port option among them.
    s_.Put({IAC, WILL, 3, IAC, DO, 3, IAC, WILL, 1, IAC, DO, 0, IAC, WILL, 0});
    if (s_.comPort == Server::ComPort::Agree) s_.Put({IAC, DO, 44});
    return true;
  }

 private:
  Server& s_;
};

class RfcTest : public ::testing::Test {
 protected:
  RfcTest() { Reset(); }
  void Reset() {
    server = Server{};
    server.clock = &clock;
  }
  NetworkPortEnvironment Env() { return {&clock, std::make_shared<ServerFactory>(server)}; }
  std::unique_ptr<SerialDevice> Open(const std::string& name = kName) {
    return OpenNetworkSerialDevice(name, error, Env());
  }
  bool Sent(const Bytes& command) const {
    return std::find(server.commands.begin(), server.commands.end(), command) != server.commands.end();
  }
  FakeClock clock;
  Server server;
  std::string error;
};

TEST_F(RfcTest, OpenAgreesTheOptionAnswersTheServerAndSetsTheLine) {
  auto device = Open();
  ASSERT_TRUE(device) << error;
  // Binary both ways and the COM port asked for; the server's own requests
  // answered: go-ahead suppressed both ways, its echo refused.
  const std::vector<Bytes> expected = {{IAC, WILL, 0}, {IAC, DO, 0},   {IAC, WILL, 44},
                                       {IAC, DO, 3},   {IAC, WILL, 3}, {IAC, DONT, 1}};
  EXPECT_EQ(server.options, expected);
  // DTR and RTS on, never answered and never waited for: no time passed.
  EXPECT_TRUE(Sent({5, 8}) && Sent({5, 11}));
  EXPECT_EQ(clock.now, 1'000'000);

  ASSERT_TRUE(device->SetLine(19200));
  EXPECT_TRUE(Sent({1, 0, 0, 0x4B, 0x00}) && Sent({2, 8}) && Sent({3, 1}) && Sent({4, 1}));
  EXPECT_FALSE(device->SetLine(0));
  server.portSpeed = 9600;  // the port keeps its rate
  EXPECT_FALSE(device->SetLine(57600));
  EXPECT_EQ(clock.now, 1'000'000 + kServerAnswerTimeoutMs);
}

TEST_F(RfcTest, FailuresGiveTheirReason) {
  struct Case {
    const char* name;
    std::function<void(Server&)> setUp;
    const char* reason;
    std::int64_t waitedMs;
  };
  const Case cases[] = {
      {"rfc2217://127.0.0.1:4002", {}, "cannot connect to 127.0.0.1:4002: Connection refused", 0},
      {kName.c_str(), [](Server& s) { s.comPort = Server::ComPort::Refuse; },
       "127.0.0.1:4001 refuses serial port control (RFC 2217)", 0},
      {kName.c_str(), [](Server& s) { s.comPort = Server::ComPort::Silent; },
       "no answer from 127.0.0.1:4001 to the request for serial port control", kServerAnswerTimeoutMs},
      {kName.c_str(), [](Server& s) { s.closeText = "Port already in use\r\n"; },
       "127.0.0.1:4001 closed the connection: Port already in use", 0},
      {kName.c_str(), [](Server& s) { s.answersLine = false; },
       "127.0.0.1:4001 does not report the serial port's speed", kServerAnswerTimeoutMs},
      {"rfc2217://127.0.0.1", {}, "no TCP port (1..65535) in rfc2217://127.0.0.1", 0},
      {"rfc2217://:4001", {}, "no host name or IPv4 address in rfc2217://:4001", 0},
      {"rfc2217://host/x:70000", {}, "no host name or IPv4 address", 0},
  };
  for (const Case& c : cases) {
    Reset();
    clock.now = 0;
    if (c.setUp) c.setUp(server);
    EXPECT_FALSE(Open(c.name)) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(clock.now, c.waitedMs) << c.name;
  }
}

TEST_F(RfcTest, ReadsWaitTheSerialTimeOutsAndAClosedServerIsAHangUp) {
  auto device = Open();
  ASSERT_TRUE(device) << error;
  SerialTimeouts t;
  t.readTotalConstant = 700;  // + 1 ms per byte
  device->SetTimeouts(t);
  std::uint8_t byte = 0;
  const std::int64_t before = clock.now;
  EXPECT_EQ(device->ReadByte(byte), ReadOutcome::Timeout);
  EXPECT_EQ(clock.now - before, 701);
  server.Put({'x'});
  server.closed = true;
  EXPECT_EQ(device->ReadByte(byte), ReadOutcome::Byte);
  EXPECT_FALSE(device->HungUp());
  EXPECT_EQ(device->ReadByte(byte), ReadOutcome::Error);
  EXPECT_TRUE(device->HungUp());  // the link closes the port and opens it again later
}

// A link controller whose one port is the network port.
class NetworkPorts final : public SerialPortProvider {
 public:
  explicit NetworkPorts(NetworkPortEnvironment env) : env_(std::move(env)) {}
  std::vector<SerialPortInfo> Ports() const override { return {{kName, kName}}; }
  std::unique_ptr<SerialDevice> Open(int, std::string& error) override {
    return OpenNetworkSerialDevice(kName, error, env_);
  }

 private:
  NetworkPortEnvironment env_;
};

class RfcLinkTest : public RfcTest {
 protected:
  std::unique_ptr<CRavlenRemoteControl> OpenLink() {
    LinkEnvironment env;
    env.clock = &clock;
    env.serial = std::make_shared<NetworkPorts>(Env());
    auto link = std::make_unique<CRavlenRemoteControl>(CRavlenRemoteControl::LinkLostNotify{}, env);
    EXPECT_EQ(link->OpenSerialPort(0), kLinkOk) << link->LastOpenError();
    return link;
  }
};

TEST_F(RfcLinkTest, ChecksumByte0xFFCrossesBothWaysEscaped) {
  // Both checksums are 0xFF: "6999rgbty;;" and the reply "69991K6WZ;".
  server.unit = [](const Bytes&) { return test::ReplyFrame(6999, '1', "K6WZ"); };
  auto link = OpenLink();
  LinkReply reply;
  ASSERT_EQ(link->SendCommand("6999rgbty;;", reply), kLinkOk);
  EXPECT_EQ(reply.value, "K6WZ");
  EXPECT_EQ(static_cast<std::uint8_t>(link->LastReply()[11]), 0xFF);
  const Bytes frame = test::IndependentFrame("6999rgbty;;");
  ASSERT_EQ(frame[12], 0xFF);
  EXPECT_EQ(server.frames, std::vector<Bytes>{frame});  // unescaped whole by the server
}

TEST_F(RfcLinkTest, PurgeDropsWhatCameBeforeTheServerConfirmedIt) {
  for (const bool confirms : {true, false}) {
    Reset();
    server.confirmsPurge = confirms;
    server.unit = [](const Bytes&) { return test::ReplyFrame(1, '1', "K610"); };
    auto link = OpenLink();
    // A late reply to an earlier request, on its way when the purge reached
    // the server.
    server.staleBeforePurgeAnswer = test::ReplyFrame(1, '1', "OLD");
    const std::int64_t before = clock.now;
    LinkReply reply;
    ASSERT_EQ(link->SendCommand("0001rgbty;;", reply), kLinkOk);
    EXPECT_EQ(reply.value, "K610") << confirms;
    EXPECT_EQ(clock.now, before) << "nothing waited for";
    EXPECT_EQ(server.commands.back(), (Bytes{12, 1})) << "the far port purged before the request";
  }
}

}  // namespace
