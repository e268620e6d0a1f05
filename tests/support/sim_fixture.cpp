#include "support/sim_fixture.h"

#include <utility>

namespace vecta::test {

sim::SimOptions SimOverTcp() {
  sim::SimOptions o;
  o.tcp = true;
  o.tcpAddress = "127.0.0.1";
  o.tcpPort = 0;
  return o;
}

sim::SimOptions SimOverPty() {
  sim::SimOptions o;
  o.tcp = false;
  o.pty = true;
  return o;
}

::testing::AssertionResult StartSim(sim::SimServer& server, const sim::SimOptions& options) {
  std::string error;
  if (server.Start(options, error)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "the simulator did not start: " << error;
}

::testing::AssertionResult StartSim(SimProcess& process, std::vector<std::string> args) {
  std::string error;
  if (process.Start(std::move(args), &error)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "vecta-sim did not start: " << error;
}

std::string SimTcpTarget(const sim::SimServer& server) {
  return server.TcpAddress() + ":" + std::to_string(server.TcpPort());
}

void SimTranscript::Attach(sim::SimOptions& options) {
  options.transcript = [this](const std::string& line) {
    std::lock_guard lock(m_);
    lines_.push_back(line);
  };
}

std::vector<std::string> SimTranscript::Lines() const {
  std::lock_guard lock(m_);
  return lines_;
}

std::vector<std::string> SimTranscript::Received() const {
  std::vector<std::string> rx;
  for (const auto& line : Lines())
    if (line.rfind("rx ", 0) == 0) rx.push_back(line.substr(3));
  return rx;
}

std::vector<std::string> SimTranscript::NewWrites() {
  std::lock_guard lock(m_);
  std::vector<std::string> writes;
  // "rx " and the four address digits come before the operation letter.
  for (; seenWrites_ < lines_.size(); ++seenWrites_) {
    const std::string& line = lines_[seenWrites_];
    if (line.rfind("rx ", 0) == 0 && line.size() > 7 && line[7] == 'w') writes.push_back(line.substr(7));
  }
  return writes;
}

link::SerialTimeouts FastSerialTimeouts() {
  link::SerialTimeouts t;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = 40;
  return t;
}

std::unique_ptr<link::CRavlenRemoteControl> MakeSimLink(const sim::SimServer& server, link::Clock* clock,
                                                        std::function<void()> linkLost) {
  link::LinkEnvironment env;
  env.clock = clock;
  env.serial = link::MakePosixSerialProvider({{server.PtyPath(), server.PtyPath()}});
  auto unit = std::make_unique<link::CRavlenRemoteControl>(std::move(linkLost), env);
  unit->SetInitialTimeouts(FastSerialTimeouts());
  return unit;
}

int ConnectSimTcp(link::CRavlenRemoteControl& link, const sim::SimServer& server) {
  link.SetEthernetAddress(server.TcpAddress());
  link.SetTcpPort(server.TcpPort());
  link.SetTcpReceiveTimeout(kFastTcpReceiveMs);
  link.SetCloseAfterSendFailure(false);
  link.SetCloseAfterReceiveFailure(false);
  return link::ConnectAndWait(link, 5000);
}

}  // namespace vecta::test
