#include "support/sim_fixture.h"

#include <algorithm>
#include <chrono>
#include <climits>
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
  {
    std::lock_guard lock(m_);
    lines_.clear();
    seenWrites_ = 0;
    delayMs_ = options.faults.delayMs;
  }
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

namespace {

// The bytes a transcript line shows ("<02>" is one), up to its note.
std::size_t ShownBytes(const std::string& line) {
  const std::size_t end = line.back() == ')' ? line.rfind(" (") : line.size();
  std::size_t n = 0;
  for (std::size_t i = 3; i < end; ++i, ++n)
    if (line[i] == '<') i += 3;
  return n;
}

}  // namespace

SimTranscript::Handling SimTranscript::Request(std::size_t n) const {
  std::lock_guard lock(m_);
  Handling h;
  h.delayMs = delayMs_;
  std::size_t seen = 0;
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (lines_[i].rfind("rx ", 0) != 0 || ++seen < n) continue;
    h.received = true;
    // A request the unit drops carries the reason as a note.
    h.silent = lines_[i].back() == ')';
    if (i + 1 < lines_.size() && lines_[i + 1].rfind("tx ", 0) == 0) {
      h.cutShort = lines_[i + 1].find("no-etx") != std::string::npos;
      h.replyBytes = ShownBytes(lines_[i + 1]);
    }
    break;
  }
  return h;
}

namespace {

struct SimLine {
  const SimTranscript* transcript;
  FakeClock* clock;
  link::SerialTimeouts timeouts;  // as the link set them
  std::size_t writes = 0;         // requests written, over every open
  std::size_t readSinceWrite = 0;

  // Nothing more comes for the latest request within the read time-out.
  bool Quiet() const {
    const SimTranscript::Handling h = transcript->Request(writes);
    return h.received && (h.silent || h.delayMs > timeouts.ReadByteTimeoutMs() ||
                          (h.cutShort && readSinceWrite >= h.replyBytes));
  }
};

class SimLineDevice final : public link::SerialDevice {
 public:
  SimLineDevice(std::unique_ptr<link::SerialDevice> device, std::shared_ptr<SimLine> line)
      : device_(std::move(device)), line_(std::move(line)) {}
  bool SetLine(std::uint32_t baud) override { return device_->SetLine(baud); }
  // The device itself looks at the line every 10 ms.
  bool SetTimeouts(const link::SerialTimeouts& t) override {
    line_->timeouts = t;
    link::SerialTimeouts poll;
    poll.readTotalMultiplier = 0;
    poll.readTotalConstant = 10;
    return device_->SetTimeouts(poll);
  }
  void PurgeInput() override { device_->PurgeInput(); }
  bool HungUp() const override { return device_->HungUp(); }
  bool Write(const std::uint8_t* data, std::size_t size) override {
    ++line_->writes;
    line_->readSinceWrite = 0;
    return device_->Write(data, size);
  }
  void SetInterruptFlag(const std::atomic<bool>* flag) override {
    interrupt_ = flag;
    device_->SetInterruptFlag(flag);
  }
  link::ReadOutcome ReadByte(std::uint8_t& out) override { return ReadByteWithin(out, INT64_MAX); }
  link::ReadOutcome ReadByteWithin(std::uint8_t& out, std::int64_t maxWaitMs) override {
    const auto budget = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (;;) {
      const link::ReadOutcome r = device_->ReadByte(out);
      if (r == link::ReadOutcome::Byte) ++line_->readSinceWrite;
      if (r != link::ReadOutcome::Timeout) return r;
      if (line_->Quiet() || (interrupt_ && *interrupt_) || std::chrono::steady_clock::now() > budget) {
        line_->clock->now += std::min(line_->timeouts.ReadByteTimeoutMs(), maxWaitMs);
        return r;
      }
    }
  }

 private:
  std::unique_ptr<link::SerialDevice> device_;
  std::shared_ptr<SimLine> line_;
  const std::atomic<bool>* interrupt_ = nullptr;
};

class SimLinePorts final : public link::SerialPortProvider {
 public:
  SimLinePorts(std::vector<link::SerialPortInfo> ports, std::shared_ptr<SimLine> line)
      : ports_(link::MakePosixSerialProvider(std::move(ports))), line_(std::move(line)) {}
  std::vector<link::SerialPortInfo> Ports() const override { return ports_->Ports(); }
  std::unique_ptr<link::SerialDevice> Open(int index, std::string& error) override {
    auto device = ports_->Open(index, error);
    if (!device) return nullptr;
    return std::make_unique<SimLineDevice>(std::move(device), line_);
  }

 private:
  std::shared_ptr<link::SerialPortProvider> ports_;
  std::shared_ptr<SimLine> line_;
};

}  // namespace

std::shared_ptr<link::SerialPortProvider> SimSerialPorts(std::vector<link::SerialPortInfo> ports,
                                                         const SimTranscript& transcript, FakeClock& clock) {
  auto line = std::make_shared<SimLine>();
  line->transcript = &transcript;
  line->clock = &clock;
  return std::make_shared<SimLinePorts>(std::move(ports), std::move(line));
}

link::SerialTimeouts FastSerialTimeouts() {
  link::SerialTimeouts t;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = 40;
  return t;
}

std::unique_ptr<link::CRavlenRemoteControl> MakeSimLink(const sim::SimServer& server, FakeClock* clock,
                                                        const SimTranscript& transcript,
                                                        std::function<void()> linkLost) {
  link::LinkEnvironment env;
  env.clock = clock;
  env.serial = SimSerialPorts({{server.PtyPath(), server.PtyPath()}}, transcript, *clock);
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
