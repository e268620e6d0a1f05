// The network serial port (rfc2217://HOST:PORT) on which a unit last
// answered, offered again in the port list at the next start. It is kept in
// a small file of its own in the configuration folder
// (AppPaths::lastNetworkPortFile), as the last IP address is, never in the
// settings file, whose layout is fixed: one line with the port's name,
// written whole or not at all. A missing, unreadable or malformed file means
// there is no port to offer.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace vecta::app {

inline constexpr const char* kLastNetworkPortFileName = "vecta_tx_ctrl.last-network-port";

// The port kept in `path`; nullopt when there is none that is usable.
std::optional<std::string> LoadLastNetworkPort(const std::string& path);

// Replaces `path` atomically with `name` and a line end. False, leaving the
// file as it was, when `name` is no network port name or the file cannot be
// replaced (`error` says why, if given).
bool SaveLastNetworkPort(const std::string& path, const std::string& name, std::string* error = nullptr);

// The device paths the port list adds to the ports found: `extraPorts`
// (--port) in their order, then the port kept in `lastNetworkPortFile`
// unless it is among them already.
std::vector<std::string> PortsToOffer(std::vector<std::string> extraPorts, const std::string& lastNetworkPortFile);

// After a unit answered on the port at `path`: a network port is kept in
// `file` for the next start (a failure is traced); a device path changes
// nothing.
void KeepNetworkPort(const std::string& file, const std::string& path);

}  // namespace vecta::app
