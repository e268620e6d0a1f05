#include "gateway/gateway_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/error_text.h"

namespace vecta::gateway {
namespace {

// How long the unit thread sleeps when nothing is waiting before it looks
// after the unit link again.
constexpr int kIdleWaitMs = 200;
// The longest the IO thread waits in poll() before it comes round again.
constexpr int kIoBeatMs = 1000;

std::string Errno(const std::string& what) { return what + ": " + platform::ErrorText(errno); }

std::string Label(const sockaddr_in& addr) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(addr.sin_port));
}

}  // namespace

GatewayServer::GatewayServer(Scheduler& scheduler, const GatewayOptions& options,
                             std::function<void(const std::string&)> notice)
    : scheduler_(scheduler), options_(options), notice_(std::move(notice)) {}

GatewayServer::~GatewayServer() {
  Stop();
  for (auto& [id, client] : clients_) close(client.fd);
  if (listenFd_ >= 0) close(listenFd_);
  if (wakeFd_ >= 0) close(wakeFd_);
}

void GatewayServer::Notice(const std::string& line) const {
  if (notice_) notice_(line);
}

bool GatewayServer::Listen(std::string& error) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options_.listenPort);
  if (inet_pton(AF_INET, options_.listenHost.c_str(), &addr.sin_addr) != 1) {
    error = "not an IPv4 address: " + options_.listenHost;
    return false;
  }
  wakeFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (wakeFd_ < 0 || listenFd_ < 0) {
    error = Errno("socket");
    return false;
  }
  const int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  const std::string where = options_.listenHost + ":" + std::to_string(options_.listenPort);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 16) != 0) {
    error = Errno("listen on " + where);
    return false;
  }
  socklen_t len = sizeof addr;
  getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
  port_ = ntohs(addr.sin_port);
  return true;
}

void GatewayServer::Start(UnitPort& unit) {
  io_ = std::thread([this] { IoLoop(); });
  unit_ = std::thread([this, &unit] { UnitLoop(unit); });
}

void GatewayServer::Stop() {
  stopping_ = true;
  scheduler_.Stop();
  const std::uint64_t one = 1;
  if (wakeFd_ >= 0 && write(wakeFd_, &one, sizeof one) < 0) {
    // The flag alone ends the loop at its next wake-up.
  }
  if (io_.joinable()) io_.join();
  if (unit_.joinable()) unit_.join();
}

void GatewayServer::UnitLoop(UnitPort& unit) {
  while (!scheduler_.Stopped()) {
    ++unitBeats_;
    const bool ran = scheduler_.RunOne(unit, *this);
    unit.Maintain();
    if (!ran) scheduler_.WaitForWork(kIdleWaitMs);
  }
}

bool GatewayServer::BothMovedSinceLastAsked() {
  const Beats now = Heartbeats();
  const bool moved = now.io != lastAsked_.io && now.unit != lastAsked_.unit;
  lastAsked_ = now;
  return moved;
}

void GatewayServer::Deliver(ClientId client, const link::Bytes& replyFrame) {
  {
    std::lock_guard lock(repliesMutex_);
    replies_.emplace_back(client, link::SealEnvelope(cipher_, replyFrame.data(), replyFrame.size()));
  }
  const std::uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // Already signalled: the counter only overflows after 2^64 writes.
  }
}

void GatewayServer::IoLoop() {
  std::vector<pollfd> fds;
  std::vector<ClientId> ids;
  while (!stopping_) {
    ++ioBeats_;
    fds.assign({{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}});
    ids.clear();
    for (auto& [id, client] : clients_) {
      fds.push_back({client.fd, static_cast<short>(POLLIN | (client.out.empty() ? 0 : POLLOUT)), 0});
      ids.push_back(id);
    }
    if (poll(fds.data(), fds.size(), kIoBeatMs) < 0) {
      if (errno == EINTR) continue;
      Notice(Errno("poll"));
      break;
    }
    if (fds[0].revents) {
      std::uint64_t count = 0;
      if (read(wakeFd_, &count, sizeof count) < 0) {
        // Nothing to take: woken by another fd.
      }
      TakeReplies();
    }
    if (fds[1].revents & POLLIN) Accept();
    for (std::size_t i = 0; i < ids.size(); ++i) {
      const auto it = clients_.find(ids[i]);
      if (it == clients_.end() || fds[i + 2].revents == 0) continue;
      if ((fds[i + 2].revents & POLLOUT) && !Flush(it->second)) {
        Drop(ids[i], "");
        continue;
      }
      if ((fds[i + 2].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadFrom(ids[i], it->second)) Drop(ids[i], "");
    }
  }
}

void GatewayServer::Accept() {
  sockaddr_in addr{};
  socklen_t len = sizeof addr;
  const int fd = accept4(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len, SOCK_CLOEXEC | SOCK_NONBLOCK);
  if (fd < 0) return;
  const std::string label = Label(addr);
  if (!Allowed(options_.allow, ntohl(addr.sin_addr.s_addr))) {
    Notice("Refused " + label + ": not within an allowed range");
    close(fd);
    return;
  }
  if (static_cast<int>(clients_.size()) >= options_.maxClients) {
    Notice("Refused " + label + ": " + std::to_string(options_.maxClients) + " clients already");
    close(fd);
    return;
  }
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  clients_.emplace(nextId_++, Client{fd, label, ClientDecoder(cipher_), 0, {}});
  clientCount_ = static_cast<int>(clients_.size());
}

bool GatewayServer::ReadFrom(ClientId id, Client& client) {
  std::uint8_t buf[kReadChunk];
  const ssize_t n = recv(client.fd, buf, sizeof buf, 0);
  if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
  if (n == 0) return false;  // the client closed
  std::vector<ClientFrame> frames;
  client.decoder.Feed(buf, static_cast<std::size_t>(n), frames);
  return TakeFrames(id, client, frames);
}

bool GatewayServer::TakeFrames(ClientId id, Client& client, std::vector<ClientFrame>& frames) {
  for (ClientFrame& f : frames) {
    if (f.fault != FrameFault::None) {
      if (++client.badInARow >= kMaxBadFramesInARow) {
        Notice("Disconnected " + client.label + ": " + std::to_string(kMaxBadFramesInARow) +
               " frames in a row that do not decode");
        return false;
      }
      continue;
    }
    client.badInARow = 0;
    if (!scheduler_.Submit(id, std::move(f.frame), client.label)) {
      Notice("Disconnected " + client.label + ": more requests than it waits replies for");
      return false;
    }
  }
  return true;
}

bool GatewayServer::Flush(Client& client) {
  while (!client.out.empty()) {
    const ssize_t n = send(client.fd, client.out.data(), client.out.size(), MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    client.out.erase(client.out.begin(), client.out.begin() + n);
  }
  return true;
}

void GatewayServer::TakeReplies() {
  std::vector<std::pair<ClientId, link::Bytes>> replies;
  {
    std::lock_guard lock(repliesMutex_);
    replies.swap(replies_);
  }
  for (auto& [id, sealed] : replies) {
    const auto it = clients_.find(id);
    if (it == clients_.end()) continue;  // gone: its reply goes nowhere
    Client& client = it->second;
    if (client.out.size() + sealed.size() > kMaxUnsentBytes) {
      Drop(id, "Disconnected " + client.label + ": it does not read its replies");
      continue;
    }
    client.out.insert(client.out.end(), sealed.begin(), sealed.end());
    if (!Flush(client)) Drop(id, "");
  }
}

void GatewayServer::Drop(ClientId id, const std::string& why) {
  const auto it = clients_.find(id);
  if (it == clients_.end()) return;
  if (!why.empty()) Notice(why);
  close(it->second.fd);
  clients_.erase(it);
  scheduler_.RemoveClient(id);
  clientCount_ = static_cast<int>(clients_.size());
}

}  // namespace vecta::gateway
