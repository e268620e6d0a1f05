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
    if (internal_) internal_->Tick();
    if (!ran) scheduler_.WaitForWork(kIdleWaitMs);
  }
}

bool GatewayServer::BothMovedSinceLastAsked() {
  const Beats now = Heartbeats();
  const bool moved = now.io != lastAsked_.io && now.unit != lastAsked_.unit;
  lastAsked_ = now;
  return moved;
}

void GatewayServer::NoReply(ClientId client) {
  if (client == kInternalClient && internal_) internal_->NoReply(client);
}

void GatewayServer::Deliver(ClientId client, const link::Bytes& replyFrame) {
  if (client == kInternalClient) {
    if (internal_) internal_->Deliver(client, replyFrame);
    return;
  }
  const link::Bytes sealed = link::SealEnvelope(cipher_, replyFrame.data(), replyFrame.size());
  std::shared_ptr<Outlet> outlet;
  {
    std::lock_guard lock(outletsMutex_);
    const auto it = outlets_.find(client);
    if (it == outlets_.end()) return;  // gone: its reply goes nowhere
    outlet = it->second;
  }
  {
    std::lock_guard lock(outlet->mutex);
    if (outlet->fd < 0 || Post(*outlet, sealed)) return;
  }
  const std::uint64_t one = 1;
  if (write(wakeFd_, &one, sizeof one) < 0) {
    // Already signalled: the counter only overflows after 2^64 writes.
  }
}

bool GatewayServer::Post(Outlet& outlet, const link::Bytes& sealed) {
  std::size_t sent = 0;
  if (outlet.out.empty()) {
    // Nothing waits before it: straight out, saving the IO thread's turn.
    // A send that fails leaves the reply queued; the IO thread's flush meets
    // the failure and drops the client.
    const ssize_t n = send(outlet.fd, sealed.data(), sealed.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n == static_cast<ssize_t>(sealed.size())) return true;
    if (n > 0) sent = static_cast<std::size_t>(n);
  }
  if (outlet.out.size() + sealed.size() - sent > kMaxUnsentBytes) {
    outlet.overflow = true;
    return false;
  }
  outlet.out.insert(outlet.out.end(), sealed.begin() + static_cast<std::ptrdiff_t>(sent), sealed.end());
  return false;
}

bool GatewayServer::HasOutput(const Client& client) const {
  std::lock_guard lock(client.outlet->mutex);
  return !client.outlet->out.empty();
}

void GatewayServer::IoLoop() {
  std::vector<pollfd> fds;
  std::vector<ClientId> ids;
  while (!stopping_) {
    ++ioBeats_;
    fds.assign({{wakeFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}});
    ids.clear();
    for (auto& [id, client] : clients_) {
      fds.push_back({client.fd, static_cast<short>(POLLIN | (HasOutput(client) ? POLLOUT : 0)), 0});
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
      DropOverflowing();
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
  auto outlet = std::make_shared<Outlet>();
  outlet->fd = fd;
  {
    std::lock_guard lock(outletsMutex_);
    outlets_.emplace(nextId_, outlet);
  }
  clients_.emplace(nextId_++, Client{fd, label, ClientDecoder(cipher_), 0, std::move(outlet)});
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
  Outlet& outlet = *client.outlet;
  std::lock_guard lock(outlet.mutex);
  while (!outlet.out.empty()) {
    const ssize_t n = send(outlet.fd, outlet.out.data(), outlet.out.size(), MSG_NOSIGNAL);
    if (n < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    outlet.out.erase(outlet.out.begin(), outlet.out.begin() + n);
  }
  return true;
}

void GatewayServer::DropOverflowing() {
  std::vector<ClientId> overflowing;
  for (auto& [id, client] : clients_) {
    std::lock_guard lock(client.outlet->mutex);
    if (client.outlet->overflow) overflowing.push_back(id);
  }
  for (const ClientId id : overflowing)
    Drop(id, "Disconnected " + clients_.at(id).label + ": it does not read its replies");
}

void GatewayServer::Drop(ClientId id, const std::string& why) {
  const auto it = clients_.find(id);
  if (it == clients_.end()) return;
  if (!why.empty()) Notice(why);
  {
    std::lock_guard lock(outletsMutex_);
    outlets_.erase(id);
  }
  {
    // Closed under the outlet's lock: a reply the unit thread is sending
    // right now goes out before, never after, to a descriptor reused.
    Outlet& outlet = *it->second.outlet;
    std::lock_guard lock(outlet.mutex);
    close(outlet.fd);
    outlet.fd = -1;
  }
  clients_.erase(it);
  scheduler_.RemoveClient(id);
  clientCount_ = static_cast<int>(clients_.size());
}

}  // namespace vecta::gateway
