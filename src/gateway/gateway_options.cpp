#include "gateway/gateway_options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <vector>

#include "app/engineering.h"
#include "app/settings.h"
#include "app/unit_connection.h"
#include "link/serial_speed.h"
#include "platform/error_text.h"

namespace vecta::gateway {
namespace {

template <typename T>
bool ParseNumber(std::string_view text, T& out) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool ParsePort(std::string_view text, std::uint16_t& port, unsigned lowest) {
  unsigned value = 0;
  if (!ParseNumber(text, value) || value < lowest || value > 65535) return false;
  port = static_cast<std::uint16_t>(value);
  return true;
}

// HOST or HOST:PORT with a dotted-quad host; the port stays as it is when
// none is given. Port 0 only where the system picks one (`lowestPort` 0).
bool ParseHostPort(std::string_view text, std::string& host, std::uint16_t& port, std::string& error,
                   unsigned lowestPort = 1) {
  const std::size_t colon = text.find(':');
  const std::string_view hostText = text.substr(0, colon);
  std::uint32_t ignored = 0;
  if (!ParseIpv4(hostText, ignored)) {
    error = "not an IPv4 address: " + std::string(hostText);
    return false;
  }
  if (colon != std::string_view::npos && !ParsePort(text.substr(colon + 1), port, lowestPort)) {
    error = "not a port number: " + std::string(text.substr(colon + 1));
    return false;
  }
  host = std::string(hostText);
  return true;
}

// The most a settings file can hold: the fixed items and three strings of
// the longest length the application writes.
constexpr std::size_t kMaxSettingsBytes = app::kSettingsFixedBytes + 3 * std::size_t{app::kMaxSettingsString};

// The whole of a regular file, at most kMaxSettingsBytes of it (what lies
// beyond cannot belong to the record).
bool ReadSettingsBytes(const std::string& path, std::vector<std::uint8_t>& data, std::string& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    error = "cannot read the settings file " + path + ": " + platform::ErrorText(errno);
    return false;
  }
  struct stat st {};
  bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
  if (!ok) error = "cannot read the settings file " + path + ": not a regular file";
  std::size_t have = 0;
  while (ok && have < kMaxSettingsBytes) {
    data.resize(std::min(kMaxSettingsBytes, have + 4096));
    const ssize_t got = ::read(fd, data.data() + have, data.size() - have);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) error = "cannot read the settings file " + path + ": " + platform::ErrorText(errno);
    ok = got >= 0;
    if (got <= 0) break;
    have += static_cast<std::size_t>(got);
  }
  ::close(fd);
  data.resize(have);
  return ok;
}

}  // namespace

bool SupportedBaudRate(std::uint32_t baud) {
  return link::IsStandardBaudRate(baud) || app::BaudRateIndex(baud) >= 0;
}

bool ParseBaudRate(std::string_view text, std::uint32_t& baud, std::string& error) {
  error.clear();
  std::uint32_t value = 0;
  if (!ParseNumber(text, value) || !SupportedBaudRate(value)) {
    error = "not a baud rate the serial link supports: " + std::string(text);
    return false;
  }
  baud = value;
  return true;
}

bool ReadSerialSettings(const std::string& path, GatewayOptions& o, std::string& error) {
  error.clear();
  std::vector<std::uint8_t> data;
  if (!ReadSettingsBytes(path, data, error)) return false;
  const app::AppSettings settings = app::ParseSettings(data.data(), data.size());
  if (settings.baudRate <= 0 || !SupportedBaudRate(static_cast<std::uint32_t>(settings.baudRate))) {
    error = "the settings file " + path +
            " holds a baud rate the serial link does not support: " + std::to_string(settings.baudRate);
    return false;
  }
  app::UnitConnectionOptions line;
  app::TakeSerialSettings(line, settings);
  o.baudRate = line.baudRate;
  o.timeouts = line.timeouts;
  return true;
}

bool ParseIpv4(std::string_view text, std::uint32_t& out) {
  std::uint32_t value = 0;
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return false;
    const std::string_view digits = text.substr(0, dot);
    unsigned byte = 0;
    if (digits.size() > 3 || !ParseNumber(digits, byte) || byte > 255) return false;
    value = value << 8 | byte;
    text.remove_prefix(part < 3 ? dot + 1 : dot);
  }
  out = value;
  return true;
}

bool ParseUnitTarget(std::string_view text, UnitTarget& out, std::string& error) {
  error.clear();
  if (text.starts_with("serial:") && text.size() > 7) {
    out = UnitTarget{};
    out.path = std::string(text.substr(7));
    return true;
  }
  if (text.starts_with("tcp:")) {
    UnitTarget target;
    target.kind = UnitTarget::Kind::Tcp;
    if (!ParseHostPort(text.substr(4), target.host, target.port, error)) return false;
    out = target;
    return true;
  }
  error = "the unit is serial:PATH or tcp:HOST[:PORT], not " + std::string(text);
  return false;
}

bool ParseListen(std::string_view text, std::string& host, std::uint16_t& port, std::string& error) {
  error.clear();
  std::string h;
  std::uint16_t p = port;
  if (!ParseHostPort(text, h, p, error, 0)) return false;
  host = h;
  port = p;
  return true;
}

bool ParseMetricsAddress(std::string_view text, std::string& host, std::uint16_t& port, std::string& error) {
  error.clear();
  if (text.find(':') == std::string_view::npos) {
    // A port alone: on loopback.
    if (!ParsePort(text, port, 0)) {
      error = "not ADDRESS:PORT or PORT: " + std::string(text);
      return false;
    }
    host = "127.0.0.1";
    return true;
  }
  std::string h;
  std::uint16_t p = 0;
  if (!ParseHostPort(text, h, p, error, 0)) return false;
  host = h;
  port = p;
  return true;
}

bool ParseCidr(std::string_view text, Cidr& out, std::string& error) {
  error.clear();
  const std::size_t slash = text.find('/');
  std::uint32_t address = 0;
  int prefix = 32;
  if (!ParseIpv4(text.substr(0, slash), address) ||
      (slash != std::string_view::npos &&
       (!ParseNumber(text.substr(slash + 1), prefix) || prefix < 0 || prefix > 32))) {
    error = "not an address range (A.B.C.D/N): " + std::string(text);
    return false;
  }
  const std::uint32_t mask = prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - prefix);
  out = {address & mask, prefix};
  return true;
}

bool Allowed(const std::vector<Cidr>& allow, std::uint32_t address) {
  if (allow.empty()) return true;
  for (const Cidr& range : allow) {
    const std::uint32_t mask = range.prefix == 0 ? 0 : ~std::uint32_t{0} << (32 - range.prefix);
    if ((address & mask) == range.network) return true;
  }
  return false;
}

}  // namespace vecta::gateway
