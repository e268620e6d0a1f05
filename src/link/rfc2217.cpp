#include "link/rfc2217.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstring>
#include <deque>
#include <functional>
#include <utility>

#include "link/frame.h"
#include "link/trace.h"
#include "platform/error_text.h"

namespace vecta::link {
namespace {

// Telnet commands and options.
constexpr std::uint8_t kIac = 255, kDont = 254, kDo = 253, kWont = 252, kWill = 251, kSb = 250, kSe = 240;
constexpr std::uint8_t kBinary = 0, kSuppressGoAhead = 3, kComPort = 44;

// COM port commands as the client sends them; the server answers with the
// same code plus 100.
constexpr std::uint8_t kSignature = 0, kSetBaudRate = 1, kSetDataSize = 2, kSetParity = 3, kSetStopSize = 4,
                       kSetControl = 5, kPurgeData = 12;
constexpr std::uint8_t kServerCode = 100;
constexpr std::uint8_t kParityNone = 1, kOneStopBit = 1, kDtrOn = 8, kRtsOn = 11;
constexpr std::uint8_t kPurgeReceiveBuffer = 1;

constexpr char kOurSignature[] = "vecta_tx_ctrl";

// Bounds on what the server can make us keep: received data nobody has read
// yet (a serial driver drops what overflows its buffer too), and the text
// of one sub-negotiation.
constexpr std::size_t kMaxBufferedData = 4096;
constexpr std::size_t kMaxSubnegotiation = 64;
// A wait that an interrupt flag can end is taken in slices of this length.
constexpr std::int64_t kInterruptSliceMs = 50;
// The text a server sends before it closes the connection, in a reason.
constexpr std::size_t kMaxCloseText = 120;

bool SupportedByUs(std::uint8_t option) {
  return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}
bool SupportedByServer(std::uint8_t option) { return option == kBinary || option == kSuppressGoAhead; }

// A driver or server may settle on the nearest rate its clock divides to;
// within 2% both ends still read each other's bytes.
bool CloseTo(std::uint32_t actual, std::uint32_t wanted) {
  const std::uint64_t diff = actual > wanted ? actual - wanted : wanted - actual;
  return diff * 50 <= wanted;
}

void AppendEscaped(Bytes& out, const std::uint8_t* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    out.push_back(data[i]);
    if (data[i] == kIac) out.push_back(kIac);
  }
}

void AppendCommand(Bytes& out, std::uint8_t code, const Bytes& value) {
  out.insert(out.end(), {kIac, kSb, kComPort, code});
  AppendEscaped(out, value.data(), value.size());
  out.insert(out.end(), {kIac, kSe});
}

Bytes BigEndian32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
          static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

enum class Wait { Done, TimedOut, Closed, Failed, Interrupted };

class NetworkSerialDevice final : public SerialDevice {
 public:
  NetworkSerialDevice(std::unique_ptr<StreamSocket> socket, Clock& clock, std::string where)
      : socket_(std::move(socket)), clock_(clock), where_(std::move(where)) {}
  ~NetworkSerialDevice() override { socket_->ShutdownBoth(); }
  NetworkSerialDevice(const NetworkSerialDevice&) = delete;
  NetworkSerialDevice& operator=(const NetworkSerialDevice&) = delete;

  bool Negotiate(std::string& error);

  bool SetLine(std::uint32_t baud) override;
  bool SetTimeouts(const SerialTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return true;
  }
  void PurgeInput() override;
  bool Write(const std::uint8_t* data, std::size_t size) override;
  ReadOutcome ReadByte(std::uint8_t& out) override { return ReadByteWithin(out, INT64_MAX); }
  ReadOutcome ReadByteWithin(std::uint8_t& out, std::int64_t maxWaitMs) override;
  // A server that closed the connection or whose socket failed never
  // carries the port again: only a new connection can.
  bool HungUp() const override { return closed_; }
  void SetInterruptFlag(const std::atomic<bool>* flag) override { interrupt_ = flag; }

 private:
  enum class Parse { Data, Iac, Option, Sub, SubIac };
  enum class Received { Some, Quiet, Closed, Failed };
  enum class ComPort { Asked, Agreed, Refused };

  // Receiving: one receive call, whose bytes are parsed as they come.
  Received Receive(std::int64_t waitMs);
  Wait WaitFor(const std::function<bool()>& done, std::int64_t deadline);
  std::int64_t Slice(std::int64_t waitMs) const {
    return Interrupted() ? std::min(waitMs, kInterruptSliceMs) : waitMs;
  }
  bool Interrupted() const { return interrupt_ && interrupt_->load(std::memory_order_relaxed); }
  void Take(const std::uint8_t* bytes, std::size_t size);
  void TakeData(std::uint8_t byte);
  void OnOption(std::uint8_t command, std::uint8_t option);
  void OnSubnegotiation();
  void OnComPortAnswer(std::uint8_t code, const std::uint8_t* value, std::size_t size);
  void Answer(std::uint8_t command, std::uint8_t option) { SendAll({kIac, command, option}); }
  bool SendAll(const Bytes& bytes);
  std::string CloseReason() const;

  std::unique_ptr<StreamSocket> socket_;
  Clock& clock_;
  std::string where_;  // "HOST:PORT", for reasons and trace lines
  SerialTimeouts timeouts_;
  const std::atomic<bool>* interrupt_ = nullptr;
  bool closed_ = false;

  std::deque<std::uint8_t> data_;  // received, not read yet
  Parse parse_ = Parse::Data;
  std::uint8_t command_ = 0;  // the WILL/WONT/DO/DONT whose option comes next
  Bytes sub_;
  // Option states, ours and the server's, and the requests still unanswered.
  std::array<bool, 256> us_{}, him_{}, willAsked_{}, doAsked_{};
  ComPort comPort_ = ComPort::Asked;

  // The server's latest reports of the line settings.
  std::optional<std::uint32_t> baud_;
  std::optional<std::uint8_t> dataSize_, parity_, stopSize_;

  // A server that confirms purges (it says so at open) is waited for: the
  // stream is in order, so data that comes before the confirmation was on
  // its way before the purge and belongs to an earlier exchange.
  bool acksPurge_ = false;
  bool purgeProbe_ = false;  // the purge sent at open is waiting for its confirmation
  bool purgeOwed_ = false;
};

// ------------------------------------------------------------ receiving

NetworkSerialDevice::Received NetworkSerialDevice::Receive(std::int64_t waitMs) {
  std::uint8_t chunk[512];
  int err = 0;
  const int wait = static_cast<int>(std::clamp<std::int64_t>(waitMs, 0, INT_MAX));
  const long n = socket_->ReceiveWithin(chunk, sizeof chunk, wait, err);
  if (n > 0) {
    // A server may send a reply in pieces as the far port delivers it; the
    // next piece must not wait for our acknowledgement of this one.
    socket_->AcknowledgeAtOnce();
    Take(chunk, static_cast<std::size_t>(n));
    return Received::Some;
  }
  if (n == 0) {
    closed_ = true;
    return Received::Closed;
  }
  if (err == EAGAIN || err == EWOULDBLOCK) return Received::Quiet;
  Trace("Network serial port %s: receive failed: %s\r\n", where_.c_str(), platform::ErrorText(err).c_str());
  closed_ = true;
  return Received::Failed;
}

Wait NetworkSerialDevice::WaitFor(const std::function<bool()>& done, std::int64_t deadline) {
  for (;;) {
    if (done()) return Wait::Done;
    if (closed_) return Wait::Closed;
    if (Interrupted()) return Wait::Interrupted;
    const std::int64_t left = deadline - clock_.NowMs();
    if (left <= 0) return Wait::TimedOut;
    if (Receive(Slice(left)) == Received::Failed) return Wait::Failed;
  }
}

void NetworkSerialDevice::Take(const std::uint8_t* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i) {
    const std::uint8_t b = bytes[i];
    switch (parse_) {
      case Parse::Data:
        if (b == kIac)
          parse_ = Parse::Iac;
        else
          TakeData(b);
        break;
      case Parse::Iac:
        parse_ = Parse::Data;
        if (b == kIac) {
          TakeData(b);  // an escaped 0xFF
        } else if (b >= kWill && b <= kDont) {
          command_ = b;
          parse_ = Parse::Option;
        } else if (b == kSb) {
          sub_.clear();
          parse_ = Parse::Sub;
        }  // any other command (NOP, GA, a data mark...) carries nothing for us
        break;
      case Parse::Option:
        parse_ = Parse::Data;
        OnOption(command_, b);
        break;
      case Parse::Sub:
        if (b == kIac)
          parse_ = Parse::SubIac;
        else if (sub_.size() < kMaxSubnegotiation)
          sub_.push_back(b);
        break;
      case Parse::SubIac:
        if (b == kIac) {
          if (sub_.size() < kMaxSubnegotiation) sub_.push_back(b);
          parse_ = Parse::Sub;
        } else {
          parse_ = Parse::Data;  // IAC SE, or a broken sub-negotiation: either way it ends
          if (b == kSe) OnSubnegotiation();
        }
        break;
    }
  }
}

void NetworkSerialDevice::TakeData(std::uint8_t byte) {
  if (!purgeOwed_ && data_.size() < kMaxBufferedData) data_.push_back(byte);
}

// Answers the server's option requests so that neither side waits and no
// request goes back and forth for ever: a request for a state an option is
// already in, or the answer to one of our own requests, is not answered.
void NetworkSerialDevice::OnOption(std::uint8_t command, std::uint8_t option) {
  switch (command) {
    case kDo:
      if (SupportedByUs(option)) {
        if (!us_[option] && !willAsked_[option]) Answer(kWill, option);
        us_[option] = true;
        if (option == kComPort) comPort_ = ComPort::Agreed;
      } else {
        Answer(kWont, option);
      }
      willAsked_[option] = false;
      break;
    case kDont:
      if (us_[option] && !willAsked_[option]) Answer(kWont, option);
      us_[option] = false;
      if (option == kComPort) comPort_ = ComPort::Refused;
      willAsked_[option] = false;
      break;
    case kWill:
      // The server's echo above all stays off: it would send our requests back.
      if (SupportedByServer(option)) {
        if (!him_[option] && !doAsked_[option]) Answer(kDo, option);
        him_[option] = true;
      } else if (!doAsked_[option]) {
        Answer(kDont, option);
      }
      doAsked_[option] = false;
      break;
    case kWont:
      if (him_[option] && !doAsked_[option]) Answer(kDont, option);
      him_[option] = false;
      doAsked_[option] = false;
      break;
  }
}

void NetworkSerialDevice::OnSubnegotiation() {
  if (sub_.size() < 2 || sub_[0] != kComPort) return;
  OnComPortAnswer(sub_[1], sub_.data() + 2, sub_.size() - 2);
}

void NetworkSerialDevice::OnComPortAnswer(std::uint8_t code, const std::uint8_t* value, std::size_t size) {
  switch (code) {
    case kServerCode + kSignature:
      if (size == 0) {  // the server asks for ours
        Bytes out;
        AppendCommand(out, kSignature, Bytes(kOurSignature, kOurSignature + sizeof kOurSignature - 1));
        SendAll(out);
      }
      break;
    case kServerCode + kSetBaudRate:
      if (size >= 4)
        baud_ = (std::uint32_t{value[0]} << 24) | (std::uint32_t{value[1]} << 16) |
                (std::uint32_t{value[2]} << 8) | value[3];
      break;
    case kServerCode + kSetDataSize:
      if (size >= 1) dataSize_ = value[0];
      break;
    case kServerCode + kSetParity:
      if (size >= 1) parity_ = value[0];
      break;
    case kServerCode + kSetStopSize:
      if (size >= 1) stopSize_ = value[0];
      break;
    case kServerCode + kPurgeData:
      if (purgeProbe_) {
        acksPurge_ = true;
        purgeProbe_ = false;
      } else {
        purgeOwed_ = false;
      }
      break;
    default:
      break;  // line and modem state notices, flow control (a frame is a few bytes)
  }
}

// ------------------------------------------------------------ sending

bool NetworkSerialDevice::SendAll(const Bytes& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    int err = 0;
    const long n = socket_->Send(bytes.data() + done, bytes.size() - done, err);
    if (n <= 0) {
      Trace("Network serial port %s: send failed: %s\r\n", where_.c_str(), platform::ErrorText(err).c_str());
      closed_ = true;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string NetworkSerialDevice::CloseReason() const {
  std::string text;
  for (const std::uint8_t c : data_) {
    if (text.size() == kMaxCloseText) break;
    if (c >= 0x20 && c < 0x7F)
      text += static_cast<char>(c);
    else if (!text.empty() && text.back() != ' ')
      text += ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return where_ + " closed the connection" + (text.empty() ? "" : ": " + text);
}

// ------------------------------------------------------------ the device

bool NetworkSerialDevice::Negotiate(std::string& error) {
  // Binary both ways (no end-of-line translation of the frames) and the COM
  // port option; the server's own requests are answered as they come.
  willAsked_[kBinary] = doAsked_[kBinary] = willAsked_[kComPort] = true;
  if (!SendAll({kIac, kWill, kBinary, kIac, kDo, kBinary, kIac, kWill, kComPort})) {
    error = "cannot send to " + where_;
    return false;
  }
  const Wait agreed =
      WaitFor([this] { return comPort_ != ComPort::Asked; }, clock_.NowMs() + kServerAnswerTimeoutMs);
  if (agreed == Wait::Done && comPort_ == ComPort::Refused) {
    error = where_ +
            " refuses serial port control (RFC 2217): set the server's port up for it "
            "(ser2net: accepter telnet(rfc2217),tcp,PORT)";
    return false;
  }
  if (agreed == Wait::TimedOut) {
    error = "no answer from " + where_ +
            " to the request for serial port control (RFC 2217): "
            "is it a terminal server port with RFC 2217?";
    return false;
  }
  // DTR and RTS on, as opening a local port raises them; a server in front
  // of a device without modem lines never answers these, and nothing waits
  // for it. Then a purge, to learn whether the server confirms purges, and
  // the far port's speed, which the server must report once it has the port.
  Bytes out;
  AppendCommand(out, kSetControl, {kDtrOn});
  AppendCommand(out, kSetControl, {kRtsOn});
  AppendCommand(out, kPurgeData, {kPurgeReceiveBuffer});
  AppendCommand(out, kSetBaudRate, BigEndian32(0));
  purgeProbe_ = true;
  const Wait speed = agreed == Wait::Done && SendAll(out)
                         ? WaitFor([this] { return baud_.has_value(); }, clock_.NowMs() + kServerAnswerTimeoutMs)
                         : agreed;
  purgeProbe_ = false;
  if (speed == Wait::Closed || speed == Wait::Failed) {
    error = CloseReason();
    return false;
  }
  if (speed != Wait::Done) {
    error = speed == Wait::Interrupted ? "cancelled" : where_ + " does not report the serial port's speed";
    return false;
  }
  data_.clear();  // whatever came before the port was ours
  Trace("Network serial port %s: at %u baud, purges %s\r\n", where_.c_str(), *baud_,
        acksPurge_ ? "confirmed" : "not confirmed");
  return true;
}

bool NetworkSerialDevice::SetLine(std::uint32_t baud) {
  if (baud == 0) return false;  // a speed of 0 asks for the current one
  baud_.reset();
  dataSize_.reset();
  parity_.reset();
  stopSize_.reset();
  Bytes out;
  AppendCommand(out, kSetBaudRate, BigEndian32(baud));
  AppendCommand(out, kSetDataSize, {8});
  AppendCommand(out, kSetParity, {kParityNone});
  AppendCommand(out, kSetStopSize, {kOneStopBit});
  if (!SendAll(out)) return false;
  // The server reports what the port took; anything else is a failure, as a
  // local driver that keeps its old rate is.
  const auto took = [&] {
    return baud_ && CloseTo(*baud_, baud) && dataSize_ == 8 && parity_ == kParityNone && stopSize_ == kOneStopBit;
  };
  if (WaitFor(took, clock_.NowMs() + kServerAnswerTimeoutMs) == Wait::Done) return true;
  Trace("Network serial port %s: %u baud 8N1 not confirmed (speed reported: %u)\r\n", where_.c_str(), baud,
        baud_.value_or(0));
  return false;
}

void NetworkSerialDevice::PurgeInput() {
  // What has arrived so far answers earlier requests; so does what the
  // server still holds, which the purge request discards there.
  for (int i = 0; i < 16 && !closed_ && Receive(0) == Received::Some; ++i) {
  }
  data_.clear();
  Bytes out;
  AppendCommand(out, kPurgeData, {kPurgeReceiveBuffer});
  if (!SendAll(out) || !acksPurge_) return;
  // Waiting for the confirmation costs one round trip; sending the request
  // before it would make a server that delays small writes (Nagle) hold the
  // reply back until our acknowledgement of the confirmation, tens of ms.
  purgeOwed_ = true;
  const Wait confirmed = WaitFor([this] { return !purgeOwed_; }, clock_.NowMs() + kServerAnswerTimeoutMs);
  if (confirmed == Wait::TimedOut) {
    acksPurge_ = false;
    Trace("Network serial port %s: a purge was not confirmed; purges are no longer waited for\r\n",
          where_.c_str());
  }
  purgeOwed_ = false;
}

bool NetworkSerialDevice::Write(const std::uint8_t* data, std::size_t size) {
  Bytes out;
  out.reserve(size + 8);
  AppendEscaped(out, data, size);  // a checksum byte may be 0xFF
  return SendAll(out);
}

ReadOutcome NetworkSerialDevice::ReadByteWithin(std::uint8_t& out, std::int64_t maxWaitMs) {
  const std::int64_t deadline = clock_.NowMs() + std::min(timeouts_.ReadByteTimeoutMs(), maxWaitMs);
  for (bool looked = false;;) {
    if (!data_.empty()) {
      out = data_.front();
      data_.pop_front();
      return ReadOutcome::Byte;
    }
    if (closed_) return ReadOutcome::Error;  // the server hung up
    const std::int64_t left = deadline - clock_.NowMs();
    if ((looked && left <= 0) || Interrupted()) break;
    looked = true;
    if (Receive(Slice(std::max<std::int64_t>(left, 0))) == Received::Failed) return ReadOutcome::Error;
  }
  return ReadOutcome::Timeout;
}

// ------------------------------------------------------------ opening

std::optional<std::string> ResolveIpv4(const std::string& host) {
  in_addr addr{};
  if (::inet_pton(AF_INET, host.c_str(), &addr) == 1) return host;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return std::nullopt;
  char text[INET_ADDRSTRLEN] = {};
  const auto* sin = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const bool ok = ::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text) != nullptr;
  ::freeaddrinfo(found);
  if (!ok) return std::nullopt;
  return std::string(text);
}

}  // namespace

bool IsNetworkPortName(std::string_view name) {
  if (name.size() < kNetworkPortScheme.size()) return false;
  for (std::size_t i = 0; i < kNetworkPortScheme.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(name[i])) != kNetworkPortScheme[i]) return false;
  return true;
}

std::optional<NetworkPortAddress> ParseNetworkPortName(std::string_view name, std::string& error) {
  const std::string text(name);
  if (!IsNetworkPortName(name)) {
    error = "not a network serial port (rfc2217://HOST:PORT): " + text;
    return std::nullopt;
  }
  const std::string_view rest = name.substr(kNetworkPortScheme.size());
  const std::size_t colon = rest.rfind(':');
  const std::string_view host = colon == std::string_view::npos ? rest : rest.substr(0, colon);
  const std::string_view port = colon == std::string_view::npos ? std::string_view{} : rest.substr(colon + 1);
  const bool hostOk = !host.empty() && std::all_of(host.begin(), host.end(), [](char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_';
  });
  if (!hostOk) {
    error = "no host name or IPv4 address in " + text + " (rfc2217://HOST:PORT)";
    return std::nullopt;
  }
  unsigned long value = 0;
  const bool digits = !port.empty() && port.size() <= 5 &&
                      std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
  if (digits) value = std::stoul(std::string(port));
  if (!digits || value < 1 || value > 65535) {
    error = "no TCP port (1..65535) in " + text + " (rfc2217://HOST:PORT)";
    return std::nullopt;
  }
  return NetworkPortAddress{std::string(host), static_cast<std::uint16_t>(value)};
}

std::unique_ptr<SerialDevice> OpenNetworkSerialDevice(const std::string& name, std::string& error,
                                                      const NetworkPortEnvironment& env) {
  const auto address = ParseNetworkPortName(name, error);
  if (!address) return nullptr;
  const std::string where = address->host + ":" + std::to_string(address->port);
  const auto ip = ResolveIpv4(address->host);
  if (!ip) {
    error = "cannot find the host " + address->host;
    return nullptr;
  }
  const std::shared_ptr<SocketFactory> sockets = env.sockets ? env.sockets : MakePosixSocketFactory();
  int err = 0;
  std::unique_ptr<StreamSocket> socket = sockets->Create(err);
  if (socket && !sockets->Connect(*socket, *ip, address->port, err, nullptr)) socket.reset();
  if (!socket) {
    error = "cannot connect to " + where + ": " + platform::ErrorText(err);
    return nullptr;
  }
  auto device =
      std::make_unique<NetworkSerialDevice>(std::move(socket), env.clock ? *env.clock : SystemClock(), where);
  if (!device->Negotiate(error)) return nullptr;
  error.clear();
  return device;
}

}  // namespace vecta::link
