// The gateway's command line, as values: which unit, where to listen, how
// many clients, who may connect. Parsing is kept apart from the program so
// each form is tested on its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "gateway/gateway.h"
#include "link/serial_port.h"

namespace vecta::gateway {

// --unit serial:PATH or tcp:HOST[:PORT] (HOST a dotted quad; PORT 9999).
struct UnitTarget {
  enum class Kind { Serial, Tcp } kind = Kind::Serial;
  std::string path;  // serial
  std::string host;  // TCP
  std::uint16_t port = 9999;
};

// An IPv4 range: the addresses whose first `prefix` bits equal `network`'s.
struct Cidr {
  std::uint32_t network = 0;  // host byte order, bits past the prefix clear
  int prefix = 32;
};

struct GatewayOptions {
  UnitTarget unit;
  std::string listenHost = "127.0.0.1";
  std::uint16_t listenPort = 9999;
  int maxClients = kDefaultMaxClients;
  std::vector<Cidr> allow;  // empty: every address may connect
  int replyDeadlineMs = kDefaultReplyDeadlineMs;
  std::string logFile;  // the communication log; "" for none
  // The metrics over HTTP (--metrics): off unless asked for; the status rows
  // are sampled only then, every `sampleIntervalMs`.
  bool metrics = false;
  std::string metricsHost = "127.0.0.1";
  std::uint16_t metricsPort = 0;
  int sampleIntervalMs = 10000;
  bool sampleTimestamps = true;  // each row stamped with its answer's time
  // The serial line: the built-in defaults, those of --settings FILE, a
  // rate given with --baud over either.
  std::uint32_t baudRate = 9600;
  link::SerialTimeouts timeouts;
};

// Each returns false with `error` saying what is wrong ("" on success).
bool ParseUnitTarget(std::string_view text, UnitTarget& out, std::string& error);
// HOST:PORT or HOST (port 9999), HOST a dotted quad; port 0 listens on a
// free port the system picks (the "listening on" line names it).
bool ParseListen(std::string_view text, std::string& host, std::uint16_t& port, std::string& error);
// Where the metrics are served: ADDRESS:PORT, or PORT alone on loopback
// (127.0.0.1); port 0 picks a free one.
bool ParseMetricsAddress(std::string_view text, std::string& host, std::uint16_t& port, std::string& error);
// A.B.C.D/N or A.B.C.D (a single address).
bool ParseCidr(std::string_view text, Cidr& out, std::string& error);

// A line speed the serial link can be set to: one of the terminal's
// standard rates or one the application's Serial control page offers.
bool SupportedBaudRate(std::uint32_t baud);
// A decimal rate that SupportedBaudRate accepts.
bool ParseBaudRate(std::string_view text, std::uint32_t& baud, std::string& error);
// The baud rate and the five serial time-outs of the application's settings
// file at `path`, read as the application reads it (a file that ends early
// leaves the rest at their defaults). A file that cannot be opened or read,
// or whose baud rate the link cannot use, is an error; `o` is then unchanged.
bool ReadSerialSettings(const std::string& path, GatewayOptions& o, std::string& error);

// A dotted quad as a number in host byte order; false when it is none.
bool ParseIpv4(std::string_view text, std::uint32_t& out);
// Whether `address` (host byte order) may connect.
bool Allowed(const std::vector<Cidr>& allow, std::uint32_t address);

}  // namespace vecta::gateway
