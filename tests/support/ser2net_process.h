// Debian's ser2net as a child process for tests and benchmarks: a YAML
// configuration of its own in a folder the caller gives, one RFC 2217
// accepter per serial device on a free loopback port, never the system
// service. It is stopped by its process id. In a network namespace where it
// cannot listen on TCP (only loopback up) it listens on Unix sockets, and
// an in-process relay passes the loopback ports' connections on to them.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vecta::test {

class Ser2netProcess {
 public:
  // The ser2net program found on PATH or in /usr/sbin; "" when not installed.
  static std::string Binary();

  Ser2netProcess();
  ~Ser2netProcess();  // SIGTERM, then SIGKILL if it does not end within 2 s
  Ser2netProcess(const Ser2netProcess&) = delete;
  Ser2netProcess& operator=(const Ser2netProcess&) = delete;

  // Starts ser2net in front of `devices` with its configuration and log in
  // `dir`, and waits until every accepter takes connections. Each accepter
  // lets two clients in, so that a second one can ask for the port's speed.
  // `options` are added to every connection's options (YAML lines such as
  // "chardelay: false"). False with the reason in `error`.
  bool Start(const std::vector<std::string>& devices, const std::string& dir, std::string* error,
             const std::vector<std::string>& options = {});

  // "rfc2217://127.0.0.1:PORT" of the accepter in front of devices[i].
  std::string PortName(std::size_t i) const;

  // The far port's speed as ser2net reports it to a second client that asks
  // for it (an RFC 2217 speed query of its own); 0 when no report came
  // within 2 s.
  std::uint32_t ReportedSpeed(std::size_t i) const;

 private:
  class Relay;
  pid_t pid_ = -1;
  std::vector<std::uint16_t> ports_;
  std::vector<std::unique_ptr<Relay>> relays_;  // ended after ser2net
};

}  // namespace vecta::test
