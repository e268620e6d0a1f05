#include "vectactl.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <ostream>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/link_lock.h"
#include "link/remote_control.h"
#include "link/serial_port.h"
#include "link/trace.h"

namespace vecta::ctl {
namespace {

using namespace vecta::link;

struct Options {
  std::optional<std::string> serialDevice;
  std::uint32_t baud = 9600;
  std::optional<std::string> tcpHost;
  std::uint16_t tcpPort = kUnitTcpPort;
  std::optional<int> address;
  std::optional<std::string> logFile;
  std::optional<std::uint32_t> readTimeoutMs;
  std::vector<std::string> extraPorts;
  bool trace = false;
  std::vector<std::string> command;
};

// How long the tool waits for a TCP connection before giving up.
constexpr int kConnectWaitMs = 30000;

struct UsageError {
  std::string message;
};

template <class T>
T ParseNumber(const std::string& text, const char* what, long long min, long long max) {
  long long v = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || p != text.data() + text.size() || v < min || v > max)
    throw UsageError{std::string("invalid ") + what + ": '" + text + "'"};
  return static_cast<T>(v);
}

Options Parse(const std::vector<std::string>& args) {
  Options o;
  std::size_t i = 0;
  auto value = [&](const std::string& opt) -> const std::string& {
    if (i + 1 >= args.size()) throw UsageError{opt + " needs a value"};
    return args[++i];
  };
  for (; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--serial") {
      o.serialDevice = value(a);
    } else if (a == "--baud") {
      o.baud = ParseNumber<std::uint32_t>(value(a), "baud rate", 50, 4000000);
    } else if (a == "--tcp") {
      std::string hp = value(a);
      if (auto colon = hp.rfind(':'); colon != std::string::npos) {
        o.tcpPort = ParseNumber<std::uint16_t>(hp.substr(colon + 1), "TCP port", 1, 65535);
        hp.resize(colon);
      }
      if (hp.empty()) throw UsageError{"--tcp needs a host"};
      o.tcpHost = hp;
    } else if (a == "--address") {
      o.address = ParseNumber<int>(value(a), "unit address", 0, 9999);
    } else if (a == "--log") {
      o.logFile = value(a);
    } else if (a == "--read-timeout") {
      o.readTimeoutMs = ParseNumber<std::uint32_t>(value(a), "read time-out", 0, 600000);
    } else if (a == "--port") {
      o.extraPorts.push_back(value(a));
    } else if (a == "--trace") {
      o.trace = true;
    } else if (a == "--help" || a == "-h") {
      o.command = {"help"};
      return o;
    } else if (!a.empty() && a[0] == '-' && o.command.empty()) {
      throw UsageError{"unknown option " + a};
    } else {
      o.command.assign(args.begin() + static_cast<long>(i), args.end());
      break;
    }
  }
  if (o.command.empty()) throw UsageError{"no command given"};
  const std::string& cmd = o.command[0];
  if (cmd == "ports") {
    if (o.command.size() != 1) throw UsageError{"ports takes no arguments"};
    return o;
  }
  if (cmd == "probe") {
    if (o.command.size() != 1) throw UsageError{"probe takes no arguments"};
  } else if (cmd == "raw") {
    if (o.command.size() != 2) throw UsageError{"raw takes one argument: the text after the address"};
  } else {
    throw UsageError{"unknown command '" + cmd + "'"};
  }
  if (o.serialDevice.has_value() == o.tcpHost.has_value())
    throw UsageError{"give either --serial DEVICE or --tcp HOST[:PORT]"};
  return o;
}

// The communication log lies in the user's state folder unless --log names
// another file.
std::string DefaultLogPath() {
  namespace fs = std::filesystem;
  fs::path base;
  if (const char* s = std::getenv("XDG_STATE_HOME"); s && *s)
    base = s;
  else if (const char* h = std::getenv("HOME"); h && *h)
    base = fs::path(h) / ".local" / "state";
  else
    return {};
  std::error_code ec;
  fs::create_directories(base / "vecta_tx_ctrl", ec);
  return (base / "vecta_tx_ctrl" / "vectactl.log").string();
}

// A host name or dotted quad, as the dotted quad the link dials.
std::optional<std::string> ResolveIpv4(const std::string& host) {
  in_addr a{};
  if (inet_pton(AF_INET, host.c_str(), &a) == 1) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(host.c_str(), nullptr, &hints, &res) != 0 || !res) return std::nullopt;
  char buf[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(res->ai_addr)->sin_addr, buf, sizeof buf);
  freeaddrinfo(res);
  return std::string(buf);
}

void PrintBytes(std::ostream& out, const std::string& bytes) {
  char hex[8];
  for (unsigned char c : bytes) {
    std::snprintf(hex, sizeof hex, "%2x ", c);
    out << hex;
  }
  out << bytes;
}

class Session {
 public:
  Session(const Options& o, std::ostream& out, std::ostream& err) : o_(o), out_(out), err_(err) {}

  int Connect() {
    std::vector<std::string> extra = o_.extraPorts;
    if (o_.serialDevice) extra.push_back(*o_.serialDevice);
    ports_ = DiscoverSerialPorts(extra);
    LinkEnvironment env;
    env.serial = MakePosixSerialProvider(ports_);
    link_ = std::make_unique<CRavlenRemoteControl>(CRavlenRemoteControl::LinkLostNotify{}, env);
    const std::string log = o_.logFile ? *o_.logFile : DefaultLogPath();
    if (!log.empty()) link_->OpenLogFile(log);
    return o_.serialDevice ? ConnectSerial() : ConnectTcp();
  }

  int Probe() {
    if (int rc = LearnAddress()) return rc;
    char request[32];
    std::snprintf(request, sizeof request, "%c%04drgbty;;", kStx, address_);
    LinkReply reply;
    if (std::uint32_t rc = Exchange(*link_, request, reply)) return LinkError(rc);
    out_ << "address " << address_ << "\n";
    out_ << "board " << (reply.status == '1' ? reply.value : std::string("(refused)")) << "\n";
    return kExitOk;
  }

  int Raw(const std::string& text) {
    if (int rc = LearnAddress()) return rc;
    char head[8];
    std::snprintf(head, sizeof head, "%c%04d", kStx, address_);
    std::lock_guard lock(LinkLock());
    LinkReply reply;
    const std::uint32_t rc = link_->SendCommand(std::string(head) + text, reply, 1);
    if (rc && rc != kErrInvalidReply && rc != kErrBadChecksum) return LinkError(rc);
    // The exchange is shown even when the reply was rejected, so it can be
    // inspected.
    out_ << "Sending: ";
    PrintBytes(out_, link_->LastRequest());
    out_ << "\n";
    out_ << "Reply: ";
    PrintBytes(out_, link_->LastReply());
    out_ << "\n";
    return rc ? LinkError(rc) : kExitOk;
  }

 private:
  int LinkError(std::uint32_t code) {
    err_ << LinkErrorText(code) << "\n";
    return kExitLinkError;
  }

  int ConnectSerial() {
    int index = -1;
    for (std::size_t i = 0; i < ports_.size(); ++i)
      if (ports_[i].path == *o_.serialDevice) index = static_cast<int>(i);
    link_->SetBaudRate(o_.baud);
    if (o_.readTimeoutMs) {
      SerialTimeouts t = link_->Timeouts();
      t.readTotalConstant = *o_.readTimeoutMs;
      link_->SetInitialTimeouts(t);
    }
    std::lock_guard lock(LinkLock());
    if (std::uint32_t rc = link_->OpenSerialPort(index)) {
      err_ << LinkErrorText(rc);
      if (!link_->LastOpenError().empty()) err_ << ": " << link_->LastOpenError();
      err_ << "\n";
      if (link_->LastOpenError() == "Permission denied")
        err_ << "Add your user to the 'dialout' group (sudo adduser $USER dialout), "
                "then log out and in again.\n";
      return kExitLinkError;
    }
    return kExitOk;
  }

  int ConnectTcp() {
    const auto ip = ResolveIpv4(*o_.tcpHost);
    if (!ip) {
      err_ << "Unable to connect: cannot resolve " << *o_.tcpHost << "\n";
      return kExitLinkError;
    }
    link_->SetEthernetAddress(*ip);
    link_->SetTcpPort(o_.tcpPort);
    // As the desktop application does: a failed send or receive never closes
    // the socket.
    link_->SetCloseAfterSendFailure(false);
    link_->SetCloseAfterReceiveFailure(false);
    const int result = ConnectAndWait(*link_, kConnectWaitMs);
    if (result != kConnectOk) {
      err_ << "Unable to connect" << (result < 0 ? " (no answer within 30 s)" : "") << "\n";
      return kExitLinkError;
    }
    std::lock_guard linkLock(LinkLock());
    link_->ProbeUnit();
    return kExitOk;
  }

  // The unit's address: given, or asked with the broadcast query.
  int LearnAddress() {
    if (o_.address) {
      address_ = *o_.address;
      return kExitOk;
    }
    LinkReply reply;
    if (std::uint32_t rc = Exchange(*link_, "9999rgadd;;", reply)) return LinkError(rc);
    if (reply.status != '1') {
      err_ << "The unit refused the address query\n";
      return kExitLinkError;
    }
    address_ = std::atoi(reply.value.c_str());
    return kExitOk;
  }

  const Options& o_;
  std::ostream& out_;
  std::ostream& err_;
  std::vector<SerialPortInfo> ports_;
  std::unique_ptr<CRavlenRemoteControl> link_;
  int address_ = 1;
};

}  // namespace

std::string Usage() {
  return "usage: vectactl (--serial DEVICE [--baud N] | --tcp HOST[:PORT]) [--address N]\n"
         "                [--log FILE] [--read-timeout MS] [--trace] COMMAND\n"
         "       vectactl [--port DEVICE]... ports\n"
         "\n"
         "Talks to one Vecta transmitter unit (or the simulator vecta-sim).\n"
         "\n"
         "commands:\n"
         "  probe       print the unit's address and board type\n"
         "  raw TEXT    send TEXT after the unit address (for example rgbty;;) and\n"
         "              print the bytes sent and received\n"
         "  ports       list the serial ports found, with their index\n"
         "\n"
         "options:\n"
         "  --serial DEVICE   serial port device (a real port, or the simulator's pty)\n"
         "  --baud N          serial speed (default 9600)\n"
         "  --tcp HOST[:PORT] unit over Ethernet (port 9999 unless given)\n"
         "  --address N       unit address; without it the unit is asked (broadcast 9999)\n"
         "  --log FILE        communication log (default: "
         "$XDG_STATE_HOME/vecta_tx_ctrl/vectactl.log)\n"
         "  --read-timeout MS serial read time-out per byte (default 2500)\n"
         "  --port DEVICE     add a device path to the port list\n"
         "  --trace           debug trace lines on stderr\n"
         "\n"
         "exit status: 0 success, 1 link error, 2 bad usage\n";
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  Options o;
  try {
    o = Parse(args);
  } catch (const UsageError& e) {
    err << "vectactl: " << e.message << "\n" << Usage();
    return kExitUsage;
  }
  const std::string& cmd = o.command[0];
  if (cmd == "help") {
    out << Usage();
    return kExitOk;
  }
  EnableStderrTrace(o.trace);
  if (cmd == "ports") {
    const auto ports = DiscoverSerialPorts(o.extraPorts);
    for (std::size_t i = 0; i < ports.size(); ++i)
      out << i << " " << ports[i].name << " " << ports[i].path << "\n";
    return kExitOk;
  }
  Session s(o, out, err);
  if (int rc = s.Connect()) return rc;
  if (cmd == "probe") return s.Probe();
  return s.Raw(o.command[1]);
}

}  // namespace vecta::ctl
