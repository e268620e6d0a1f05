#include "app/last_network_port.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <span>

#include "link/rfc2217.h"
#include "link/trace.h"
#include "platform/atomic_file.h"

namespace vecta::app {
namespace {

// Longer than any sensible host name with its port; a bigger file is not ours.
constexpr std::size_t kMaxFileSize = 300;

bool IsPortName(const std::string& text) {
  std::string error;
  return link::ParseNetworkPortName(text, error).has_value();
}

}  // namespace

std::optional<std::string> LoadLastNetworkPort(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  char buf[kMaxFileSize + 1];
  in.read(buf, sizeof buf);
  std::string text(buf, static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxFileSize) return std::nullopt;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
  if (!IsPortName(text)) return std::nullopt;
  return text;
}

bool SaveLastNetworkPort(const std::string& path, const std::string& name, std::string* error) {
  if (!IsPortName(name)) {
    if (error) *error = "not a network serial port: " + name;
    return false;
  }
  if (path.empty()) {
    if (error) *error = "no file for the last network serial port";
    return false;
  }
  const std::string line = name + "\n";
  return platform::WriteFileAtomically(
      path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()), error);
}

std::vector<std::string> PortsToOffer(std::vector<std::string> extraPorts,
                                      const std::string& lastNetworkPortFile) {
  const auto last = LoadLastNetworkPort(lastNetworkPortFile);
  if (last && std::find(extraPorts.begin(), extraPorts.end(), *last) == extraPorts.end())
    extraPorts.push_back(*last);
  return extraPorts;
}

void KeepNetworkPort(const std::string& file, const std::string& path) {
  if (file.empty() || !link::IsNetworkPortName(path)) return;
  std::string error;
  if (!SaveLastNetworkPort(file, path, &error))
    link::Trace("The last network serial port was not kept: %s\r\n", error.c_str());
}

}  // namespace vecta::app
