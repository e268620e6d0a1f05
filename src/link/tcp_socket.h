// The TCP side as the link controller sees it: a connected stream socket with
// a receive time-out, created and connected through a factory that tests can
// replace.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vecta::link {

inline constexpr std::uint16_t kUnitTcpPort = 9999;
inline constexpr int kReceiveTimeoutMs = 1500;
// How long a connect may take before it is given up: a unit that is not
// there is reported after this, not after the system's own couple of minutes.
inline constexpr int kConnectTimeoutMs = 10'000;

class StreamSocket {
 public:
  virtual ~StreamSocket() = default;  // closes the socket
  // One send call: bytes sent, or -1 with the system error in `err`.
  virtual long Send(const std::uint8_t* data, std::size_t size, int& err) = 0;
  // One receive call: bytes received, 0 when the peer closed, -1 with the
  // system error in `err` (the receive time-out expiring included).
  virtual long Receive(std::uint8_t* data, std::size_t size, int& err) = 0;
  // One receive call that waits at most `waitMs` for data (0: takes only
  // what has arrived already): bytes received, 0 when the peer closed, -1
  // with EAGAIN when nothing came in time or another system error in `err`.
  virtual long ReceiveWithin(std::uint8_t* data, std::size_t size, int waitMs, int& err) = 0;
  // Shuts down both directions; a receive blocked on another thread returns.
  virtual void ShutdownBoth() = 0;
  // Acknowledges the next bytes at once instead of after the system's
  // delayed-acknowledgement wait, so a peer that holds a small write back
  // until the previous one is acknowledged (Nagle) sends it on without a
  // pause of tens of ms. The system may fall back to delaying: called again
  // after every receive.
  virtual void AcknowledgeAtOnce() {}
};

class SocketFactory {
 public:
  virtual ~SocketFactory() = default;
  // An IPv4 TCP stream socket; nullptr with the system error in `err`.
  virtual std::unique_ptr<StreamSocket> Create(int& err) = 0;
  virtual bool SetReceiveTimeout(StreamSocket& socket, int ms, int& err) = 0;
  // Connects to the dotted-quad address and port, giving up after the
  // factory's connect time-out (false, err = ETIMEDOUT). When `cancel`
  // becomes true the attempt is abandoned (false, err = ECANCELED) within
  // about 100 ms.
  virtual bool Connect(StreamSocket& socket, const std::string& ip, std::uint16_t port, int& err,
                       const std::atomic<bool>* cancel) = 0;
};

// BSD sockets whose connects give up after `connectTimeoutMs`.
std::shared_ptr<SocketFactory> MakePosixSocketFactory(int connectTimeoutMs = kConnectTimeoutMs);

}  // namespace vecta::link
