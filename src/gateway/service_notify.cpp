#include "gateway/service_notify.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <charconv>
#include <cstddef>
#include <cstring>

namespace vecta::gateway {

ServiceNotifier::ServiceNotifier(const char* notifySocket, const char* watchdogUsec) {
  if (notifySocket && (notifySocket[0] == '/' || notifySocket[0] == '@')) path_ = notifySocket;
  std::int64_t usec = 0;
  if (watchdogUsec) {
    const char* end = watchdogUsec + std::strlen(watchdogUsec);
    const auto [at, ec] = std::from_chars(watchdogUsec, end, usec);
    if (ec != std::errc() || at != end) usec = 0;
  }
  if (usec > 0 && !path_.empty()) watchdogPingMs_ = usec / 2000 > 0 ? usec / 2000 : 1;
}

bool ServiceNotifier::Notify(std::string_view state) const {
  sockaddr_un addr{};
  if (path_.empty() || path_.size() >= sizeof addr.sun_path) return false;
  addr.sun_family = AF_UNIX;
  std::memcpy(addr.sun_path, path_.data(), path_.size());
  if (addr.sun_path[0] == '@') addr.sun_path[0] = '\0';
  const socklen_t len = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_.size());
  const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const ssize_t sent =
      sendto(fd, state.data(), state.size(), MSG_NOSIGNAL, reinterpret_cast<sockaddr*>(&addr), len);
  close(fd);
  return sent == static_cast<ssize_t>(state.size());
}

}  // namespace vecta::gateway
