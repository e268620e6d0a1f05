// A raw HTTP/1.1 exchange on loopback for the metrics tests: the request as
// given, the answer read to its end (the request asks the server to close)
// or to the bound, whichever comes first.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace vecta::test {

struct HttpAnswer {
  int status = 0;  // 0: no answer within the bound
  std::string head, body;
};

// A connected loopback socket, or -1.
inline int ConnectLoopback(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

inline HttpAnswer HttpExchange(std::uint16_t port, const std::string& request, int timeoutMs = 5000) {
  HttpAnswer answer;
  const int fd = ConnectLoopback(port);
  if (fd < 0 || send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
    if (fd >= 0) close(fd);
    return answer;
  }
  std::string all;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    pollfd p{fd, POLLIN, 0};
    if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) break;  // what came in time
    char buf[4096];
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) break;
    all.append(buf, static_cast<std::size_t>(n));
  }
  close(fd);
  const std::size_t split = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.1 ", 0) != 0 || split == std::string::npos) return answer;
  answer.status = std::atoi(all.c_str() + 9);
  answer.head = all.substr(0, split);
  answer.body = all.substr(split + 4);  // cut short when the bound came first
  return answer;
}

inline HttpAnswer HttpRequest(std::uint16_t port, const std::string& method, const std::string& path,
                              int timeoutMs = 5000) {
  return HttpExchange(port, method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n",
                      timeoutMs);
}

}  // namespace vecta::test
