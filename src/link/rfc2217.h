// A serial port on a terminal server (a serial device server, or ser2net on
// a small computer), reached over TCP with the Telnet COM port control option
// of RFC 2217. Its name, "rfc2217://HOST:PORT", goes wherever a serial device
// path does: the port list, --port, vectactl --serial. To the link controller
// it is one more SerialDevice: the far port's line settings, reads bounded by
// the serial time-outs, and the purge before every request.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "link/clock.h"
#include "link/serial_port.h"
#include "link/tcp_socket.h"

namespace vecta::link {

inline constexpr std::string_view kNetworkPortScheme = "rfc2217://";

// How long the server may take to agree to the option, to report the port's
// speed, to confirm new line settings and to confirm a purge (when it has
// shown at open that it confirms them). Answers the transfer does not need,
// those to modem control requests, are never waited for.
inline constexpr int kServerAnswerTimeoutMs = 3000;

// True when `name` starts with "rfc2217://" (in any case).
bool IsNetworkPortName(std::string_view name);

struct NetworkPortAddress {
  std::string host;
  std::uint16_t port = 0;
};

// "rfc2217://HOST:PORT" as host and port (1..65535); nullopt with the
// reason in `error` for any other text.
std::optional<NetworkPortAddress> ParseNetworkPortName(std::string_view name, std::string& error);

struct NetworkPortEnvironment {
  Clock* clock = nullptr;                  // time-outs; default SystemClock()
  std::shared_ptr<SocketFactory> sockets;  // default: BSD sockets
};

// Connects to the server, agrees the COM port option and asks for the far
// port's speed, which shows that the server can open the port. nullptr on
// failure, with a reason the operator can act on in `error` ("cannot
// connect to 10.0.0.5:4001: Connection refused", "10.0.0.5:4001 closed the
// connection: Port already in use", "... refuses serial port control").
std::unique_ptr<SerialDevice> OpenNetworkSerialDevice(const std::string& name, std::string& error,
                                                      const NetworkPortEnvironment& env = {});

}  // namespace vecta::link
