// The gateway between real link controllers and the simulated unit on TCP
// or on a pseudo-terminal: the clients get the unit's own answers, and a
// client that sends garbage or comes one too many is sent away without the
// others noticing.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "gateway/gateway_server.h"
#include "gateway/gateway_unit.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/request.h"
#include "support/files.h"
#include "support/sim_fixture.h"

namespace vecta::gateway {
namespace {

// The unit behind the gateway on TCP, or on a pseudo-terminal (true).
struct GatewaySimTest : ::testing::TestWithParam<bool> {
  void SetUp() override {
    const bool serial = GetParam();
    ASSERT_TRUE(test::StartSim(sim, serial ? test::SimOverPty() : test::SimOverTcp()));
    options.unit.kind = serial ? UnitTarget::Kind::Serial : UnitTarget::Kind::Tcp;
    options.unit.path = sim.PtyPath();
    options.unit.host = "127.0.0.1";
    options.unit.port = sim.TcpPort();
    options.listenPort = 0;
    options.maxClients = 2;
    options.logFile = dir.File("gateway.log");
    unit = std::make_unique<GatewayUnit>(options, app::UnitConnectionOptions{}, nullptr);
    std::string error;
    ASSERT_TRUE(unit->Open(error)) << error;
    server = std::make_unique<GatewayServer>(*scheduler, options);
    ASSERT_TRUE(server->Listen(error)) << error;
    server->Start(unit->Port());
  }
  void TearDown() override {
    if (server) server->Stop();
  }
  std::unique_ptr<link::CRavlenRemoteControl> Client() {
    auto link = std::make_unique<link::CRavlenRemoteControl>();
    link->SetEthernetAddress("127.0.0.1");
    link->SetTcpPort(server->Port());
    link->SetCloseAfterSendFailure(false);
    link->SetCloseAfterReceiveFailure(false);
    EXPECT_EQ(link::ConnectAndWait(*link, 5000), link::kConnectOk);
    return link;
  }
  std::string Ask(link::CRavlenRemoteControl& link, const std::string& request) {
    link::LinkReply reply;
    const std::uint32_t code = link.SendCommand(request, reply);
    return code ? "error " + std::to_string(code) : std::string(1, static_cast<char>(reply.status)) + reply.value;
  }

  test::TempDir dir;
  sim::SimServer sim;
  GatewayOptions options;
  std::unique_ptr<GatewayUnit> unit;
  std::unique_ptr<Scheduler> scheduler = std::make_unique<Scheduler>(link::SystemClock());
  std::unique_ptr<GatewayServer> server;
};

TEST_P(GatewaySimTest, TwoClientsGetTheUnitsOwnAnswers) {
  // The simulator's own: status 1, address 0001, its board type.
  const std::string address = "10001", board = "1" + sim::SimOptions{}.unit.board;

  auto a = Client(), b = Client();
  for (int round = 0; round < 3; ++round) {
    EXPECT_EQ(Ask(*a, "9999rgadd;;"), address);
    EXPECT_EQ(Ask(*b, link::ReadRequest(1, "gbty")), board);
  }
  Ask(*a, "0001wzkey;1234;");  // logged masked, whatever the client's own log does

  // Each record in the unit link's log begins with its client's address.
  const std::string log = test::ReadFile(options.logFile);
  const std::size_t records = [&] {
    std::size_t n = 0;
    for (std::size_t at = log.find("[127.0.0.1:"); at != std::string::npos; at = log.find("[127.0.0.1:", at + 1))
      ++n;
    return n;
  }();
  EXPECT_EQ(records, 7u) << log;
  EXPECT_NE(log.find("wzkey;****;"), std::string::npos) << log;
  EXPECT_EQ(log.find("1234"), std::string::npos) << log;
}

// A plain socket to the gateway, for bytes no link controller would send.
int RawClient(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  EXPECT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  const timeval wait{5, 0};  // a bound for a broken gateway only
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  return fd;
}

// Sends `bytes`, then reads until the gateway closes: the bytes it sent back.
long SendUntilClosed(int fd, const link::Bytes& bytes) {
  EXPECT_EQ(send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<long>(bytes.size()));
  long total = 0;
  std::uint8_t buf[4096];
  for (long n; (n = recv(fd, buf, sizeof buf, 0)) > 0;) total += n;
  close(fd);
  return total;
}

TEST_P(GatewaySimTest, GarbageFloodsAndOneClientTooManyAreSentAwayAndTheOthersCarryOn) {
  auto a = Client();
  ASSERT_EQ(Ask(*a, "9999rgadd;;").substr(0, 1), "1");

  // Three envelopes that hold no frame (length byte 0): disconnected, no reply.
  const link::LinkCipher cipher;
  const link::Bytes empty = link::SealEnvelope(cipher, nullptr, 0);
  link::Bytes garbage;
  for (int i = 0; i < 3; ++i) garbage.insert(garbage.end(), empty.begin(), empty.end());
  EXPECT_EQ(SendUntilClosed(RawClient(server->Port()), garbage), 0);

  // Far more requests at once than a client waiting for its replies sends:
  // cut off, with replies to at most the requests it may have waiting (each
  // reply envelope no longer than two of its request's).
  link::Bytes frame, flood;
  link::BuildRequestFrame("9999rgadd;;", 255, frame);
  const link::Bytes one = link::SealEnvelope(cipher, frame.data(), frame.size());
  // One read's worth, so a busy machine cannot serve them all as they are taken.
  while (flood.size() < kReadChunk) flood.insert(flood.end(), one.begin(), one.end());
  EXPECT_LE(SendUntilClosed(RawClient(server->Port()), flood),
            static_cast<long>(kMaxQueuedFrames * 2 * one.size()));
  EXPECT_EQ(Ask(*a, "9999rgadd;;").substr(0, 1), "1");

  auto b = Client();  // the second of two
  EXPECT_EQ(Ask(*b, "9999rgadd;;").substr(0, 1), "1");
  auto c = Client();  // a third: accepted and closed at once
  EXPECT_NE(Ask(*c, "9999rgadd;;").substr(0, 1), "1");
  EXPECT_EQ(Ask(*a, "9999rgadd;;").substr(0, 1), "1");
}

INSTANTIATE_TEST_SUITE_P(Transports, GatewaySimTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Serial" : "Tcp"; });

}  // namespace
}  // namespace vecta::gateway
