// The gateway's delivery of replies: the unit thread sends a reply straight
// to its client's socket when nothing waits before it, so the way to a client
// must close with the client, and a client that reads nothing must still be
// cut off once its replies pile up.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <mutex>
#include <thread>

#include "gateway/gateway_server.h"
#include "link/link_cipher.h"

namespace vecta::gateway {
namespace {

struct NoUnit final : UnitPort {
  link::Bytes Transact(const link::Bytes&, int, const std::string&) override { return {}; }
};

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

  static GatewayOptions AnyPort() {
    GatewayOptions o;
    o.listenPort = 0;
    return o;
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

}  // namespace
}  // namespace vecta::gateway
