#include "link/tcp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace vecta::link {
namespace {

// One connect wait slice; the cancel flag is looked at between slices.
constexpr int kCancelSliceMs = 100;

class PosixStreamSocket final : public StreamSocket {
 public:
  explicit PosixStreamSocket(int fd) : fd_(fd) {}
  ~PosixStreamSocket() override { ::close(fd_); }
  PosixStreamSocket(const PosixStreamSocket&) = delete;
  PosixStreamSocket& operator=(const PosixStreamSocket&) = delete;

  int Fd() const { return fd_; }

  long Send(const std::uint8_t* data, std::size_t size, int& err) override {
    for (;;) {
      // MSG_NOSIGNAL: a peer that has gone away gives EPIPE here instead of
      // a SIGPIPE that would end the program.
      const ssize_t n = ::send(fd_, data, size, MSG_NOSIGNAL);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      err = errno;
      return -1;
    }
  }

  long Receive(std::uint8_t* data, std::size_t size, int& err) override {
    for (;;) {
      const ssize_t n = ::recv(fd_, data, size, 0);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      err = errno;  // EAGAIN / EWOULDBLOCK when the receive time-out expired
      return -1;
    }
  }

  long ReceiveWithin(std::uint8_t* data, std::size_t size, int waitMs, int& err) override {
    pollfd p{fd_, POLLIN, 0};
    for (; waitMs > 0;) {  // with no wait, the receive alone tells
      const int r = ::poll(&p, 1, waitMs);
      if (r < 0 && errno == EINTR) continue;
      if (r < 0) {
        err = errno;
        return -1;
      }
      break;
    }
    for (;;) {
      const ssize_t n = ::recv(fd_, data, size, MSG_DONTWAIT);
      if (n >= 0) return static_cast<long>(n);
      if (errno == EINTR) continue;
      err = errno;  // EAGAIN: nothing there within the wait
      return -1;
    }
  }

  void ShutdownBoth() override { ::shutdown(fd_, SHUT_RDWR); }

  void AcknowledgeAtOnce() override {
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
  }

 private:
  int fd_;
};

PosixStreamSocket* Native(StreamSocket& socket) { return dynamic_cast<PosixStreamSocket*>(&socket); }

bool Cancelled(const std::atomic<bool>* cancel) {
  return cancel != nullptr && cancel->load(std::memory_order_acquire);
}

class PosixSocketFactory final : public SocketFactory {
 public:
  explicit PosixSocketFactory(int connectTimeoutMs) : connectTimeoutMs_(connectTimeoutMs) {}

  std::unique_ptr<StreamSocket> Create(int& err) override {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
      err = errno;
      return nullptr;
    }
    // A request goes out as one small send; Nagle would hold it back
    // waiting for the acknowledgement of the previous one.
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0) {
      err = errno;
      ::close(fd);
      return nullptr;
    }
    return std::make_unique<PosixStreamSocket>(fd);
  }

  bool SetReceiveTimeout(StreamSocket& socket, int ms, int& err) override {
    PosixStreamSocket* s = Native(socket);
    if (s == nullptr || ms < 0) {
      err = EINVAL;
      return false;
    }
    timeval tv{};
    tv.tv_sec = ms / 1000;
    tv.tv_usec = static_cast<suseconds_t>(ms % 1000) * 1000;
    if (::setsockopt(s->Fd(), SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv) != 0) {
      err = errno;
      return false;
    }
    return true;
  }

  bool Connect(StreamSocket& socket, const std::string& ip, std::uint16_t port, int& err,
               const std::atomic<bool>* cancel) override {
    PosixStreamSocket* s = Native(socket);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (s == nullptr || ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) != 1) {
      err = EINVAL;
      return false;
    }
    if (Cancelled(cancel)) {
      err = ECANCELED;
      return false;
    }
    const int fd = s->Fd();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) != 0) {
      err = errno;
      return false;
    }
    const int result = Wait(fd, addr, cancel, connectTimeoutMs_);
    // Back to blocking: the receive time-out only applies to a blocking recv.
    if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0 && result == 0) {
      err = errno;
      return false;
    }
    if (result != 0) {
      err = result;
      return false;
    }
    return true;
  }

 private:
  // Starts the connect and waits for it, at most `timeoutMs`; 0 when
  // connected, else the error (ETIMEDOUT when the time ran out).
  static int Wait(int fd, const sockaddr_in& addr, const std::atomic<bool>* cancel, int timeoutMs) {
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return 0;
    // EINTR leaves the connect going on asynchronously, as EINPROGRESS does.
    if (errno != EINPROGRESS && errno != EINTR) return errno;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    for (;;) {
      if (Cancelled(cancel)) return ECANCELED;
      const auto left =
          std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
      if (left <= 0) return ETIMEDOUT;
      pollfd p{fd, POLLOUT, 0};
      const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, kCancelSliceMs)));
      if (r < 0) {
        if (errno == EINTR) continue;
        return errno;
      }
      if (r == 0) continue;
      int soError = 0;
      socklen_t len = sizeof soError;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0) return errno;
      if (soError != 0) return soError;
      if (p.revents & POLLNVAL) return EBADF;
      if (p.revents & (POLLERR | POLLHUP)) return ECONNRESET;
      if (p.revents & POLLOUT) return 0;
    }
  }

  int connectTimeoutMs_;
};

}  // namespace

std::shared_ptr<SocketFactory> MakePosixSocketFactory(int connectTimeoutMs) {
  return std::make_shared<PosixSocketFactory>(connectTimeoutMs);
}

}  // namespace vecta::link
