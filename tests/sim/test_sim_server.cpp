// The simulator's transports, in-process over TCP loopback and its pty, and
// the vecta-sim program as a child process.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "link/frame.h"
#include "link/link_cipher.h"
#include "sim_server.h"
#include "support/fake_link.h"
#include "support/sim_fixture.h"
#include "support/sim_process.h"

namespace {

using vecta::link::Bytes;
using vecta::sim::SimOptions;
using vecta::sim::SimServer;
using vecta::test::SimOverPty;
using vecta::test::SimOverTcp;
using vecta::test::SimTranscript;
using vecta::test::StartSim;
using vecta::test::Wire;
using Clock = std::chrono::steady_clock;

long long MsSince(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

const vecta::link::LinkCipher& Cipher() {
  static const vecta::link::LinkCipher cipher;
  return cipher;
}

Bytes Request(const std::string& text) {
  Bytes frame;
  EXPECT_TRUE(vecta::link::BuildRequestFrame(text, vecta::link::kMaxTcpRequestFrame, frame));
  return frame;
}

Bytes Seal(const Bytes& frame) { return vecta::link::SealEnvelope(Cipher(), frame.data(), frame.size()); }

// The frame inside a received envelope, as the client finds it.
Bytes Open(Bytes envelope) {
  if (envelope.empty()) return {};
  const std::size_t size = envelope.size();
  envelope.resize((size + 7) / 8 * 8, 0);
  vecta::link::OpenEnvelopeBlocks(Cipher(), envelope.data(), size, envelope.size());
  const std::size_t length = envelope[0];
  if (length + 1 > size) return {};
  return Bytes(envelope.begin() + 1, envelope.begin() + 1 + static_cast<std::ptrdiff_t>(length));
}

class TcpClient {
 public:
  ~TcpClient() {
    if (fd_ >= 0) close(fd_);
  }
  bool Connect(std::uint16_t port) {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd_ >= 0 && connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  bool Send(const Bytes& bytes) {
    return send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size());
  }
  // One receive of up to 256 bytes, as the client does it. Empty on time-out
  // or when the peer closed (then Closed() is true).
  Bytes ReceiveOnce(int timeoutMs = 1000) {
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return {};
    std::uint8_t buf[vecta::link::kMaxTcpReceive];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      closed_ = true;
      return {};
    }
    return Bytes(buf, buf + n);
  }
  bool Closed() const { return closed_; }
  int Fd() const { return fd_; }

 private:
  int fd_ = -1;
  bool closed_ = false;
};

class PtyClient {
 public:
  ~PtyClient() { Close(); }
  bool Open(const std::string& path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd_ < 0) return false;
    termios tio{};
    if (tcgetattr(fd_, &tio) != 0) return false;
    cfmakeraw(&tio);
    cfsetspeed(&tio, B9600);
    tio.c_cflag |= CLOCAL | CREAD;
    if (tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    // What the client does to claim the port; the sim must not mind.
    if (ioctl(fd_, TIOCEXCL) != 0 || flock(fd_, LOCK_EX | LOCK_NB) != 0) return false;
    tcflush(fd_, TCIFLUSH);
    return true;
  }
  void Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }
  bool Write(const Bytes& bytes) {
    return write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  }
  // Bytes up to and including the first ETX, or whatever came within the
  // time-out.
  Bytes ReadFrame(int timeoutMs = 1000, std::vector<Clock::time_point>* arrivals = nullptr) {
    Bytes got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got.empty() || got.back() != 0x03) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      std::uint8_t c;
      if (read(fd_, &c, 1) != 1) break;
      got.push_back(c);
      if (arrivals) arrivals->push_back(Clock::now());
    }
    return got;
  }

 private:
  int fd_ = -1;
};

// A simulated unit on loopback TCP and one client connected to it.
class SimServerTcp : public ::testing::Test {
 protected:
  void Serve(const SimOptions& options = SimOverTcp()) {
    ASSERT_TRUE(StartSim(server, options));
    ASSERT_TRUE(client.Connect(server.TcpPort()));
  }

  SimServer server;
  TcpClient client;
};

// ---- TCP ----

TEST_F(SimServerTcp, AnswersInOneEnvelopeByteExact) {
  ASSERT_NO_FATAL_FAILURE(Serve());
  ASSERT_NE(server.TcpPort(), 0);
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  const Bytes envelope = client.ReceiveOnce();
  const Bytes expected = Wire("00011K610;", 0x8F);
  // Length byte + 13-byte frame + 2 pad bytes: two blocks, sent at once.
  EXPECT_EQ(envelope, Seal(expected));
  EXPECT_EQ(envelope.size(), 16u);
  EXPECT_EQ(Open(envelope), expected);
}

TEST_F(SimServerTcp, ServesManyRequestsOnOneConnectionAndPipelined) {
  ASSERT_NO_FATAL_FAILURE(Serve());
  for (int i = 0; i < 5; ++i) {
    ASSERT_TRUE(client.Send(Seal(Request("0001rgadd;;"))));
    EXPECT_EQ(Open(client.ReceiveOnce()), Wire("000110001;", 0xEE)) << i;
  }
  // Two envelopes in one segment, then one dribbled in byte by byte.
  Bytes two = Seal(Request("0001womod;3;"));
  const Bytes second = Seal(Request("0001romod;;"));
  two.insert(two.end(), second.begin(), second.end());
  ASSERT_TRUE(client.Send(two));
  Bytes replies;
  while (replies.size() < 32) {
    const Bytes part = client.ReceiveOnce();
    ASSERT_FALSE(part.empty());
    replies.insert(replies.end(), part.begin(), part.end());
  }
  EXPECT_EQ(Open(Bytes(replies.begin(), replies.begin() + 16)), Wire("000113;", 0xE0));
  EXPECT_EQ(Open(Bytes(replies.begin() + 16, replies.end())), Wire("000113;", 0xE0));

  const Bytes dribble = Seal(Request("0001rgver;;"));
  for (std::uint8_t b : dribble) ASSERT_TRUE(client.Send(Bytes{b}));
  EXPECT_EQ(Open(client.ReceiveOnce()), Wire("000113.4.0.0;", 0xFE));
}

TEST_F(SimServerTcp, LongReplyFitsOneReceive) {
  ASSERT_NO_FATAL_FAILURE(Serve());
  ASSERT_TRUE(client.Send(Seal(Request("0001rgrea;;"))));
  const Bytes envelope = client.ReceiveOnce();
  EXPECT_EQ(envelope.size(), 152u);  // 1 + 144 bytes, padded to 19 blocks
  const Bytes frame = Open(envelope);
  ASSERT_EQ(frame.size(), vecta::sim::kLongReplySize);
  EXPECT_EQ(frame.back(), 0x03);
  EXPECT_EQ(frame[12], 0x03);
}

TEST_F(SimServerTcp, SilenceForOtherUnitsAndBrokenEnvelopes) {
  ASSERT_NO_FATAL_FAILURE(Serve());
  ASSERT_TRUE(client.Send(Seal(Request("0002rgbty;;"))));
  EXPECT_TRUE(client.ReceiveOnce(50).empty());
  Bytes bad = Request("0001rgbty;;");
  bad[bad.size() - 2] ^= 0x01;
  ASSERT_TRUE(client.Send(Seal(bad)));
  EXPECT_TRUE(client.ReceiveOnce(50).empty());
  EXPECT_FALSE(client.Closed());
  // Still in step afterwards.
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  EXPECT_EQ(Open(client.ReceiveOnce()), Wire("00011K610;", 0x8F));
}

TEST_F(SimServerTcp, ClientsInTurnAndSideBySide) {
  ASSERT_TRUE(StartSim(server, SimOverTcp()));
  {
    TcpClient first;
    ASSERT_TRUE(first.Connect(server.TcpPort()));
    ASSERT_TRUE(first.Send(Seal(Request("0001wglod;7;"))));
    EXPECT_FALSE(first.ReceiveOnce().empty());
  }
  TcpClient a, b;
  ASSERT_TRUE(a.Connect(server.TcpPort()));
  ASSERT_TRUE(b.Connect(server.TcpPort()));
  ASSERT_TRUE(b.Send(Seal(Request("0001rglod;;"))));
  EXPECT_EQ(Open(b.ReceiveOnce()), Wire("000117;", 0xE4));
  ASSERT_TRUE(a.Send(Seal(Request("0001rglod;;"))));
  EXPECT_EQ(Open(a.ReceiveOnce()), Wire("000117;", 0xE4));
  EXPECT_EQ(server.TcpConnections(), 3);
}

TEST_F(SimServerTcp, CloseAfterClosesOnTheNextRequestPerConnection) {
  SimOptions o = SimOverTcp();
  o.faults.closeAfter = 2;
  ASSERT_TRUE(StartSim(server, o));
  for (int round = 0; round < 2; ++round) {
    TcpClient client;
    ASSERT_TRUE(client.Connect(server.TcpPort()));
    for (int i = 0; i < 2; ++i) {
      ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
      EXPECT_FALSE(client.ReceiveOnce().empty()) << round << " " << i;
    }
    ASSERT_TRUE(client.Send(Seal(Request("0001womod;1;"))));
    EXPECT_TRUE(client.ReceiveOnce().empty());
    EXPECT_TRUE(client.Closed()) << round;
  }
  // The request met by the close never reached the unit.
  EXPECT_EQ(server.Unit()->RequestCount(), 4);
}

TEST_F(SimServerTcp, SplitReplyArrivesInTwoParts) {
  SimOptions o = SimOverTcp();
  o.faults.splitReply = true;
  o.faults.splitPauseMs = 40;
  ASSERT_NO_FATAL_FAILURE(Serve(o));
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  const Bytes first = client.ReceiveOnce();
  const auto t = Clock::now();
  ASSERT_EQ(first.size(), 8u);
  const Bytes rest = client.ReceiveOnce();
  EXPECT_GE(MsSince(t), 25);
  Bytes whole = first;
  whole.insert(whole.end(), rest.begin(), rest.end());
  EXPECT_EQ(whole, Seal(Wire("00011K610;", 0x8F)));
}

TEST_F(SimServerTcp, DelayHoldsTheReplyBack) {
  SimOptions o = SimOverTcp();
  o.faults.delayMs = 60;
  ASSERT_NO_FATAL_FAILURE(Serve(o));
  const auto t = Clock::now();
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  EXPECT_TRUE(client.ReceiveOnce(30).empty());
  EXPECT_FALSE(client.ReceiveOnce(1000).empty());
  EXPECT_GE(MsSince(t), 60);
}

TEST_F(SimServerTcp, ReplyFaultsTravelInsideTheEnvelope) {
  SimOptions o = SimOverTcp();
  o.faults.noEtx = true;
  o.faults.garbage = 3;
  ASSERT_NO_FATAL_FAILURE(Serve(o));
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  Bytes expected{'@', 'A', 'B'};
  const Bytes good = Wire("00011K610;", 0x8F);
  expected.insert(expected.end(), good.begin(), good.end() - 1);
  EXPECT_EQ(Open(client.ReceiveOnce()), expected);
}

TEST_F(SimServerTcp, StopReturnsPromptlyMidDelayWithClientConnected) {
  SimOptions o = SimOverTcp();
  o.faults.delayMs = 10000;
  ASSERT_NO_FATAL_FAILURE(Serve(o));
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it start waiting
  const auto t = Clock::now();
  server.Stop();
  EXPECT_LT(MsSince(t), 500);
  EXPECT_FALSE(server.Running());
  // The connection went with it.
  EXPECT_TRUE(client.ReceiveOnce(500).empty());
  EXPECT_TRUE(client.Closed());
}

TEST_F(SimServerTcp, StartFailsOnATakenPortABadAddressNoTransportOrWhileRunning) {
  SimServer first;
  ASSERT_TRUE(StartSim(first, SimOverTcp()));
  std::string error;

  SimOptions taken = SimOverTcp();
  taken.tcpPort = first.TcpPort();
  SimServer second;
  EXPECT_FALSE(second.Start(taken, error));
  EXPECT_NE(error.find("bind"), std::string::npos) << error;
  EXPECT_FALSE(second.Running());

  SimOptions badAddress = SimOverTcp();
  badAddress.tcpAddress = "localhost";
  EXPECT_FALSE(second.Start(badAddress, error));

  SimOptions none;
  none.tcp = false;
  EXPECT_FALSE(second.Start(none, error));

  EXPECT_FALSE(first.Start(SimOverTcp(), error));  // already running
  first.Stop();
  first.Stop();
  EXPECT_TRUE(first.Start(SimOverTcp(), error)) << error;  // and again after a stop
}

TEST_F(SimServerTcp, TranscriptListsRequestsAndReplies) {
  SimOptions o = SimOverTcp();
  SimTranscript log;
  log.Attach(o);
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  TcpClient client;
  ASSERT_TRUE(client.Connect(server.TcpPort()));
  ASSERT_TRUE(client.Send(Seal(Request("0001rgbty;;"))));
  ASSERT_FALSE(client.ReceiveOnce().empty());
  ASSERT_TRUE(client.Send(Seal(Request("0003rgbty;;"))));
  ASSERT_TRUE(client.Send(Seal(Request("0001rgver;;"))));
  ASSERT_FALSE(client.ReceiveOnce().empty());
  EXPECT_EQ(log.Lines(),
            (std::vector<std::string>{"rx 0001rgbty;;", "tx 00011K610;", "rx 0003rgbty;; (not addressed)",
                                      "rx 0001rgver;;", "tx 000113.4.0.0;"}));
}

// ---- pseudo-terminal ----

TEST(SimServerPty, AnswersOnTheSlaveByteExact) {
  SimServer server;
  ASSERT_TRUE(StartSim(server, SimOverPty()));
  EXPECT_EQ(server.TcpPort(), 0);
  ASSERT_EQ(server.PtyPath().rfind("/dev/pts/", 0), 0u) << server.PtyPath();
  PtyClient client;
  ASSERT_TRUE(client.Open(server.PtyPath()));
  ASSERT_TRUE(client.Write(Request("0001rgbty;;")));
  EXPECT_EQ(client.ReadFrame(), Wire("00011K610;", 0x8F));
  // The long reply comes whole, early ETX bytes and all.
  ASSERT_TRUE(client.Write(Request("0001rgrea;;")));
  Bytes longReply = client.ReadFrame();
  while (longReply.size() < vecta::sim::kLongReplySize) {
    const Bytes more = client.ReadFrame(500);
    if (more.empty()) break;
    longReply.insert(longReply.end(), more.begin(), more.end());
  }
  EXPECT_EQ(longReply.size(), vecta::sim::kLongReplySize);
}

TEST(SimServerPty, SurvivesNoiseAndAbandonedFrames) {
  SimOptions o = SimOverPty();
  o.serialStaleMs = 30;
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  PtyClient client;
  ASSERT_TRUE(client.Open(server.PtyPath()));

  // Noise, then a frame cut short by a new STX, then a whole one.
  Bytes input{'x', 0x03, 0xFF};
  const Bytes cut = Request("0001rgbty;;");
  input.insert(input.end(), cut.begin(), cut.begin() + 6);
  const Bytes whole = Request("0001rgadd;;");
  input.insert(input.end(), whole.begin(), whole.end());
  ASSERT_TRUE(client.Write(input));
  EXPECT_EQ(client.ReadFrame(), Wire("000110001;", 0xEE));
  EXPECT_TRUE(client.ReadFrame(50).empty());

  // A partial frame left lying is dropped; its tail on its own is not a frame.
  ASSERT_TRUE(client.Write(Bytes(cut.begin(), cut.begin() + 8)));
  std::this_thread::sleep_for(std::chrono::milliseconds(80));
  ASSERT_TRUE(client.Write(Bytes(cut.begin() + 8, cut.end())));
  EXPECT_TRUE(client.ReadFrame(60).empty());

  // A wrong checksum gets silence; the next good request an answer.
  Bytes bad = Request("0001rgbty;;");
  bad[bad.size() - 2] ^= 0x01;
  ASSERT_TRUE(client.Write(bad));
  EXPECT_TRUE(client.ReadFrame(60).empty());
  ASSERT_TRUE(client.Write(Request("0001rgbty;;")));
  EXPECT_EQ(client.ReadFrame(), Wire("00011K610;", 0x8F));
}

TEST(SimServerPty, ClientMayCloseAndReopen) {
  SimServer server;
  ASSERT_TRUE(StartSim(server, SimOverPty()));
  for (int i = 0; i < 3; ++i) {
    PtyClient client;
    ASSERT_TRUE(client.Open(server.PtyPath())) << i;
    ASSERT_TRUE(client.Write(Request("0001rgbty;;")));
    EXPECT_EQ(client.ReadFrame(), Wire("00011K610;", 0x8F)) << i;
  }
}

TEST(SimServerPty, SymlinkLivesAsLongAsTheServer) {
  char dir[] = "/tmp/vecta-sim-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/unit";
  SimOptions o = SimOverPty();
  o.ptyLink = link;
  {
    SimServer server;
    ASSERT_TRUE(StartSim(server, o));
    char target[256] = {};
    ASSERT_GT(readlink(link.c_str(), target, sizeof target - 1), 0);
    EXPECT_EQ(server.PtyPath(), target);
    PtyClient client;
    ASSERT_TRUE(client.Open(link));
    ASSERT_TRUE(client.Write(Request("9999rgadd;;")));
    EXPECT_EQ(client.ReadFrame(), Wire("000110001;", 0xEE));
  }
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0);

  // A regular file in the way is not replaced.
  {
    FILE* f = fopen(link.c_str(), "w");
    ASSERT_NE(f, nullptr);
    fclose(f);
  }
  SimServer server;
  std::string error;
  EXPECT_FALSE(server.Start(o, error));
  EXPECT_EQ(lstat(link.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));
  unlink(link.c_str());
  rmdir(dir);
}

TEST(SimServerPty, PacedRepliesKeepTheLineRate) {
  SimOptions o = SimOverPty();
  o.faults.paceBaud = 2400;  // 4.17 ms a byte
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  PtyClient client;
  ASSERT_TRUE(client.Open(server.PtyPath()));
  const Bytes request = Request("0001rgbty;;");  // 14 bytes: 58 ms on the line
  std::vector<Clock::time_point> arrivals;
  const auto sent = Clock::now();
  ASSERT_TRUE(client.Write(request));
  const Bytes reply = client.ReadFrame(1000, &arrivals);
  ASSERT_EQ(reply, Wire("00011K610;", 0x8F));
  using std::chrono::microseconds;
  // Pacing is about the earliest a byte can be there, which holds however
  // late this test gets to look: the reply starts after the request's 14
  // byte times, and its byte k lands k + 1 byte times after that.
  constexpr long kByteUs = 10 * 1000000 / 2400;
  for (std::size_t k = 0; k < arrivals.size(); ++k) {
    const auto at = std::chrono::duration_cast<microseconds>(arrivals[k] - sent).count();
    EXPECT_GE(at, static_cast<long>(14 + k + 1) * kByteUs - 1000) << "byte " << k;
  }
  const auto last = std::chrono::duration_cast<microseconds>(arrivals.back() - sent).count();
  EXPECT_LT(last, 27 * kByteUs + 500000);  // and it does come
}

TEST(SimServerPty, SplitAndDelayOnTheLine) {
  SimOptions o = SimOverPty();
  o.faults.splitReply = true;
  o.faults.splitPauseMs = 40;
  o.faults.delayMs = 20;
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  PtyClient client;
  ASSERT_TRUE(client.Open(server.PtyPath()));
  std::vector<Clock::time_point> arrivals;
  const auto sent = Clock::now();
  ASSERT_TRUE(client.Write(Request("0001rgbty;;")));
  ASSERT_EQ(client.ReadFrame(1000, &arrivals), Wire("00011K610;", 0x8F));
  using std::chrono::milliseconds;
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(arrivals.front() - sent).count(), 20);
  // The pause falls between bytes 6 and 7 of 13: byte 7 cannot be there
  // before the delay and the pause have both passed.
  EXPECT_GE(std::chrono::duration_cast<milliseconds>(arrivals[6] - sent).count(), 20 + 40 - 1);
}

TEST(SimServerPty, PacedSplitKeepsItsPause) {
  SimOptions o = SimOverPty();
  o.faults.paceBaud = 9600;
  o.faults.splitReply = true;
  o.faults.splitPauseMs = 30;
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  PtyClient client;
  ASSERT_TRUE(client.Open(server.PtyPath()));
  // Byte 7 lands after the request (14 bytes), its own 7 byte times and the
  // pause; byte 6 comes before the pause. A loaded machine may hand byte 6
  // over late, so one of three tries must show it early.
  using std::chrono::microseconds;
  constexpr long kByteUs = 10 * 1000000 / 9600;
  bool sixthEarly = false;
  for (int attempt = 0; attempt < 3 && !sixthEarly; ++attempt) {
    std::vector<Clock::time_point> arrivals;
    const auto sent = Clock::now();
    ASSERT_TRUE(client.Write(Request("0001rgbty;;")));
    ASSERT_EQ(client.ReadFrame(1000, &arrivals), Wire("00011K610;", 0x8F));
    EXPECT_GE(std::chrono::duration_cast<microseconds>(arrivals[6] - sent).count(), 21 * kByteUs + 30000 - 1000);
    sixthEarly = std::chrono::duration_cast<microseconds>(arrivals[5] - sent).count() < 20 * kByteUs + 28000;
  }
  EXPECT_TRUE(sixthEarly);
}

TEST(SimServerSerialDevice, ServesADeviceOpenedByPath) {
  // A pseudo-terminal of the test's own stands in for a serial adapter: the
  // sim opens and configures its slave as it would /dev/ttyUSB0.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  char name[128];
  ASSERT_EQ(ptsname_r(master, name, sizeof name), 0);
  SimOptions o;
  o.tcp = false;
  o.serialDevice = name;
  o.serialBaud = 19200;
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  const Bytes request = Request("0001rgbty;;");
  ASSERT_EQ(write(master, request.data(), request.size()), static_cast<ssize_t>(request.size()));
  Bytes got;
  while (got.size() < 13) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) break;
    std::uint8_t buf[64];
    const ssize_t n = read(master, buf, sizeof buf);
    if (n <= 0) break;
    got.insert(got.end(), buf, buf + n);
  }
  EXPECT_EQ(got, Wire("00011K610;", 0x8F));
  server.Stop();
  close(master);

  o.serialBaud = 12345;
  std::string error;
  EXPECT_FALSE(server.Start(o, error));
  EXPECT_NE(error.find("baud"), std::string::npos) << error;
  o.serialBaud = 9600;
  o.serialDevice = "/dev/does-not-exist";
  EXPECT_FALSE(server.Start(o, error));
}

TEST(SimServerBoth, TcpAndPtyShareOneUnit) {
  SimOptions o = SimOverTcp();
  o.pty = true;
  SimServer server;
  ASSERT_TRUE(StartSim(server, o));
  TcpClient tcp;
  ASSERT_TRUE(tcp.Connect(server.TcpPort()));
  ASSERT_TRUE(tcp.Send(Seal(Request("0001wgadd;0005;"))));
  EXPECT_EQ(Open(tcp.ReceiveOnce()), Wire("000110005;", 0xF2));
  PtyClient pty;
  ASSERT_TRUE(pty.Open(server.PtyPath()));
  ASSERT_TRUE(pty.Write(Request("0001rgadd;;")));
  EXPECT_TRUE(pty.ReadFrame(60).empty());
  ASSERT_TRUE(pty.Write(Request("0005rgadd;;")));
  EXPECT_EQ(pty.ReadFrame(), Wire("000510005;", 0xF6));
}

// ---- the program ----

TEST(SimProgram, ServesBothTransportsAndExitsCleanlyOnSigterm) {
  char dir[] = "/tmp/vecta-sim-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string link = std::string(dir) + "/unit";
  vecta::test::SimProcess sim;
  ASSERT_TRUE(StartSim(sim, {"--tcp", "127.0.0.1:0", "--pty", link, "--transcript", "--board", "K240"}));
  ASSERT_EQ(sim.StartLines().size(), 3u);
  EXPECT_EQ(sim.StartLines()[0], "vecta-sim: tcp 127.0.0.1:" + std::to_string(sim.TcpPort()));
  EXPECT_EQ(sim.StartLines()[1], "vecta-sim: pty " + sim.PtyPath());
  EXPECT_EQ(sim.StartLines()[2], "vecta-sim: ready");
  ASSERT_NE(sim.TcpPort(), 0);

  TcpClient tcp;
  ASSERT_TRUE(tcp.Connect(sim.TcpPort()));
  ASSERT_TRUE(tcp.Send(Seal(Request("0001rgbty;;"))));
  EXPECT_EQ(Open(tcp.ReceiveOnce()), Wire("00011K240;", 0x8E));

  PtyClient pty;
  ASSERT_TRUE(pty.Open(link));
  ASSERT_TRUE(pty.Write(Request("0001rgadd;;")));
  EXPECT_EQ(pty.ReadFrame(), Wire("000110001;", 0xEE));

  EXPECT_EQ(sim.WaitTranscriptLines(4),
            (std::vector<std::string>{"rx 0001rgbty;;", "tx 00011K240;", "rx 0001rgadd;;", "tx 000110001;"}));
  pty.Close();
  EXPECT_EQ(sim.Terminate(), 0);
  struct stat st {};
  EXPECT_NE(lstat(link.c_str(), &st), 0);
  rmdir(dir);
}

// What the unit held survives a restart of the program: saved as changes
// are made, loaded at start.
TEST(SimProgram, StateFileCarriesTheUnitAcrossRestarts) {
  char dir[] = "/tmp/vecta-sim-test-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string state = std::string(dir) + "/unit.state";
  {
    vecta::test::SimProcess sim;
    ASSERT_TRUE(StartSim(sim, {"--tcp", "127.0.0.1:0", "--state", state}));
    TcpClient tcp;
    ASSERT_TRUE(tcp.Connect(sim.TcpPort()));
    for (const char* request : {"0001wglod;2;", "0001wgnam;Truck 2;", "0001wgadd;0009;"}) {
      ASSERT_TRUE(tcp.Send(Seal(Request(request))));
      EXPECT_FALSE(Open(tcp.ReceiveOnce()).empty()) << request;
    }
    EXPECT_EQ(sim.Terminate(), 0);
  }
  vecta::test::SimProcess again;
  ASSERT_TRUE(StartSim(again, {"--tcp", "127.0.0.1:0", "--state", state}));
  TcpClient tcp;
  ASSERT_TRUE(tcp.Connect(again.TcpPort()));
  ASSERT_TRUE(tcp.Send(Seal(Request("0009rgnam;;"))));
  const Bytes reply = Open(tcp.ReceiveOnce());
  EXPECT_EQ(std::string(reply.begin(), reply.end()).substr(1, 13), "00091Truck 2;");
  EXPECT_EQ(again.Terminate(), 0);

  // A file that is not a state file is refused, and left as it was.
  FILE* f = std::fopen(state.c_str(), "w");
  ASSERT_NE(f, nullptr);
  std::fputs("something else\n", f);
  std::fclose(f);
  vecta::test::SimProcess refused;
  std::string error;
  EXPECT_FALSE(refused.Start({"--tcp", "127.0.0.1:0", "--state", state}, &error));
  char text[32] = {};
  f = std::fopen(state.c_str(), "r");
  ASSERT_NE(f, nullptr);
  EXPECT_NE(std::fgets(text, sizeof text, f), nullptr);
  std::fclose(f);
  EXPECT_STREQ(text, "something else\n");
  std::remove(state.c_str());
  rmdir(dir);
}

TEST(SimProgram, BadOptionsExitWithUsage) {
  vecta::test::SimProcess sim;
  std::string error;
  EXPECT_FALSE(sim.Start({"--no-such-option"}, &error));
  EXPECT_FALSE(sim.Running());
  const int status = std::system(VECTA_SIM_PATH " --no-such-option 2>/dev/null");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  const int help = std::system(VECTA_SIM_PATH " --help >/dev/null");
  ASSERT_TRUE(WIFEXITED(help));
  EXPECT_EQ(WEXITSTATUS(help), 0);
}

TEST(SimProgram, VersionIsOneLine) {
  FILE* out = ::popen(VECTA_SIM_PATH " --version", "r");
  ASSERT_NE(out, nullptr);
  std::string text(256, '\0');
  text.resize(std::fread(text.data(), 1, text.size(), out));
  const int status = ::pclose(out);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_TRUE(std::regex_match(text, std::regex("vecta-sim [0-9]+\\.[0-9]+\\.[0-9]+\n"))) << text;
}

}  // namespace
