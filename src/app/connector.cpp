#include "app/connector.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "link/link_lock.h"
#include "link/tcp_socket.h"
#include "link/trace.h"
#include "platform/error_text.h"

namespace vecta::app {

std::string EthernetFailureReason(int error) {
  switch (error) {
    case 0:
      return "no unit answered";
    case ECONNREFUSED:
      return "the connection was refused";
    case ETIMEDOUT:
      return "no answer within " + std::to_string(link::kConnectTimeoutMs / 1000) + " s";
    default:
      break;
  }
  std::string text = platform::ErrorText(error);
  if (!text.empty()) text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  return text;
}

std::string SerialOpenHint(const std::string& systemReason) {
  if (systemReason.find("ermission denied") == std::string::npos) return {};
  return "Add your user to the \"dialout\" group (sudo usermod -aG dialout $USER), "
         "then log out and in again.";
}

Connector::Connector(Session& session) : session_(session) {}

link::CRavlenRemoteControl& Connector::Link() const { return *session_.Unit().link; }

std::uint32_t Connector::LearnAddress() { return session_.LearnUnitAddress(); }

SerialOpen Connector::OpenSerialPath(const std::string& path) {
  int index = -1;
  const std::vector<link::SerialPortInfo> ports = Link().SerialPorts();
  for (std::size_t i = 0; i < ports.size(); ++i)
    if (ports[i].path == path) index = static_cast<int>(i);
  return OpenSerial(index);
}

SerialOpen Connector::OpenSerial(int index) {
  SerialOpen open;
  std::lock_guard lock(link::LinkLock());
  open.code = Link().OpenSerialPort(index);
  if (open.code == link::kLinkOk) return open;
  open.reason = Link().LastOpenError();
  open.hint = SerialOpenHint(open.reason);
  return open;
}

void Connector::CloseOpen(ConnectionKind previous) {
  if (previous == ConnectionKind::Ethernet) {
    if (Link().IsConnected() || Link().HasSocket()) Link().CloseEthernet();
  } else if (Link().SerialOpen()) {
    Link().CloseSerialPort();
  }
}

// ------------------------------------------------------------ the scan

bool Connector::TryPort(int index, const std::string& name, const std::atomic<bool>& cancelled,
                        const ScanHooks& hooks, ScanResult& scan) {
  if (cancelled) return false;
  if (hooks.trying) hooks.trying(index, name);
  if (const SerialOpen open = OpenSerial(index); open.code != link::kLinkOk) {
    // Told when no unit is found: a port another program holds is the
    // likeliest reason.
    const bool known = std::any_of(scan.notOpened.begin(), scan.notOpened.end(),
                                   [index](const PortNotOpened& p) { return p.index == index; });
    if (!known) scan.notOpened.push_back({index, name, open.reason});
    return false;
  }
  if (LearnAddress() == link::kLinkOk) {
    // A unit that answers after the search was called off is not taken.
    const bool taken = hooks.take ? hooks.take() : !cancelled;
    if (taken) {
      session_.NewConnection();
      return true;
    }
  }
  std::lock_guard lock(link::LinkLock());
  Link().CloseSerialPort();
  return false;
}

ScanResult Connector::Scan(int storedPort, const std::atomic<bool>& cancelled, const ScanHooks& hooks) {
  ScanResult scan;
  scan.comPortIndex = storedPort;
  const std::vector<link::SerialPortInfo> ports = Link().SerialPorts();
  const int count = static_cast<int>(ports.size());
  auto name = [&ports](int i) { return ports[static_cast<std::size_t>(i)].name; };
  if (storedPort >= 0 && storedPort < count && TryPort(storedPort, name(storedPort), cancelled, hooks, scan))
    scan.found = storedPort;
  if (scan.found < 0 && !cancelled) {
    scan.comPortIndex = -1;
    for (int i = 0; scan.found < 0 && i < count && !cancelled; ++i)
      if (TryPort(i, name(i), cancelled, hooks, scan)) scan.found = i;
  }
  if (scan.found >= 0) scan.comPortIndex = scan.found;
  scan.cancelled = scan.found < 0 && cancelled;
  return scan;
}

// ------------------------------------------------------ the serial connect

SerialConnect Connector::ConnectSerial(int index, ConnectionKind previous, const std::function<void()>& closed) {
  SerialConnect result;
  {
    link::PollAndLinkLock locks;
    CloseOpen(previous);
    if (closed) closed();
    result.open = OpenSerial(index);
  }
  if (result.open.code != link::kLinkOk) {
    result.result = SerialConnect::Result::OpenFailed;
    return result;
  }
  result.queryCode = LearnAddress();
  if (result.queryCode != link::kLinkOk) {
    std::lock_guard lock(link::LinkLock());
    Link().CloseSerialPort();
    result.result = SerialConnect::Result::NoAnswer;
    return result;
  }
  session_.NewConnection();
  result.result = SerialConnect::Result::Connected;
  return result;
}

// ---------------------------------------------------- the Ethernet connect

void Connector::PrepareEthernet(const std::string& ip, ConnectionKind previous,
                                const std::function<void()>& closed) {
  link::PollAndLinkLock locks;
  CloseOpen(previous);
  if (closed) closed();
  Link().SetEthernetAddress(ip);
}

void Connector::Probe() {
  std::lock_guard lock(link::LinkLock());
  Link().ProbeUnit();
}

EthernetResult Connector::FinishEthernet(const std::function<bool()>& take) {
  Probe();
  if (!Link().IsConnected()) return EthernetResult::NotConnected;
  if (take && !take()) {
    link::PollAndLinkLock locks;
    Link().CloseEthernet();
    return EthernetResult::Cancelled;
  }
  LearnAddress();
  session_.NewConnection();
  return EthernetResult::Connected;
}

int Connector::ConnectEthernetAndWait(const std::string& ip, std::uint16_t port, int waitMs,
                                      ConnectionKind previous) {
  PrepareEthernet(ip, previous);
  Link().SetTcpPort(port);
  const int result = link::ConnectAndWait(Link(), waitMs);
  if (result == link::kConnectOk) Probe();
  return result;
}

// ------------------------------------------- the attempt the operator sees

std::uint64_t Connector::BeginEthernetAttempt() {
  attempt_.cancelled = false;
  attempt_.over = false;
  return ++attempt_.number;
}

bool Connector::StartEthernetAttempt(std::uint64_t attempt, std::function<void()> ended) {
  if (attempt != attempt_.number) return false;
  attempt_.handle = Link().StartConnectThread([ended = std::move(ended)](int) {
    if (ended) ended();
  });
  return true;
}

bool Connector::EthernetAttemptLive(std::uint64_t attempt) const {
  return attempt == attempt_.number && !attempt_.cancelled;
}

bool Connector::EthernetDialogEnded(bool accepted) {
  if (accepted && attempt_.over) return false;
  link::Trace("Connection attempt cancelled by user\r\n");
  attempt_.cancelled = true;
  StopEthernetAttempt();
  return true;
}

void Connector::StopEthernetAttempt() { Link().CancelConnectThread(attempt_.handle); }

void Connector::DropCancelledEthernet() {
  link::PollAndLinkLock locks;
  if (!session_.Connected()) Link().CloseEthernet();
}

}  // namespace vecta::app
