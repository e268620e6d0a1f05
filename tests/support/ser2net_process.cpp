#include "support/ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace vecta::test {
namespace {

using SteadyClock = std::chrono::steady_clock;

// A socket connected to a loopback port (-1 when nobody listens there), or
// bound to a free one (`port` 0).
int LoopbackSocket(std::uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  auto* addr = reinterpret_cast<sockaddr*>(&a);
  if (fd >= 0 && (port ? ::connect(fd, addr, sizeof a) : ::bind(fd, addr, sizeof a)) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

std::uint16_t PortOf(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  return fd >= 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? ntohs(a.sin_port) : 0;
}

// A loopback port nobody listens on now (the tests run in a network
// namespace of their own, so nobody takes it before ser2net does).
std::uint16_t FreePort() {
  const int fd = LoopbackSocket(0);
  const std::uint16_t port = PortOf(fd);
  if (fd >= 0) ::close(fd);
  return port;
}

int UnixSocket(const std::string& path) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_un a{};
  a.sun_family = AF_UNIX;
  std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
  if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) ::close(fd);
  return -1;
}

// ser2net finds its listening address with getaddrinfo and AI_ADDRCONFIG,
// which finds nothing in a network namespace with only loopback up (as
// ctest runs in here).
bool LoopbackListensByName() {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_ADDRCONFIG;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo("127.0.0.1", "1", &hints, &found);
  if (found) ::freeaddrinfo(found);
  return rc == 0;
}

}  // namespace

// Where ser2net cannot listen on TCP it listens on a Unix socket, and this
// passes the connections to a loopback port on to it, byte for byte.
class Ser2netProcess::Relay {
 public:
  explicit Relay(std::string path) : path_(std::move(path)), listener_(LoopbackSocket(0)) {
    ::listen(listener_, 8);
    thread_ = std::thread([this] { Run(); });
  }
  ~Relay() {
    stop_ = true;
    thread_.join();
    for (const auto& [a, b] : pairs_) ::close(a), ::close(b);
    ::close(listener_);
  }
  std::uint16_t Port() const { return PortOf(listener_); }

 private:
  void Run() {
    while (!stop_) {
      std::vector<pollfd> fds{{listener_, POLLIN, 0}};
      for (const auto& [a, b] : pairs_) fds.insert(fds.end(), {{a, POLLIN, 0}, {b, POLLIN, 0}});
      if (::poll(fds.data(), fds.size(), 50) <= 0) continue;
      for (std::size_t k = 1; k < fds.size(); ++k)
        if (fds[k].revents) Pass(fds[k].fd);
      std::erase_if(pairs_, [](const auto& p) { return p.first < 0; });
      if (fds[0].revents & POLLIN) {
        const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        const int server = UnixSocket(path_);
        if (client >= 0 && server >= 0)
          pairs_.emplace_back(client, server);
        else
          ::close(client), ::close(server);
      }
    }
  }
  void Pass(int from) {
    const auto pair = std::find_if(pairs_.begin(), pairs_.end(),
                                   [from](const auto& p) { return p.first == from || p.second == from; });
    if (pair == pairs_.end()) return;
    const int to = pair->first == from ? pair->second : pair->first;
    char buf[4096];
    const ssize_t n = ::read(from, buf, sizeof buf);
    if (n > 0 && ::send(to, buf, static_cast<std::size_t>(n), MSG_NOSIGNAL) == n) return;
    ::close(from), ::close(to);
    *pair = {-1, -1};
  }

  std::string path_;
  int listener_;
  std::vector<std::pair<int, int>> pairs_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

std::string Ser2netProcess::Binary() {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  std::istringstream dirs(path + ":/usr/sbin:/usr/local/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/ser2net").c_str(), X_OK) == 0) return dir + "/ser2net";
  return {};
}

Ser2netProcess::Ser2netProcess() = default;

Ser2netProcess::~Ser2netProcess() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (::waitpid(pid_, nullptr, WNOHANG) != 0) return;  // reaped (or not ours any more)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(pid_, SIGKILL);
  ::waitpid(pid_, nullptr, 0);
}

bool Ser2netProcess::Start(const std::vector<std::string>& devices, const std::string& dir, std::string* error,
                           const std::vector<std::string>& options) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::string program = Binary();
  if (program.empty()) return fail("ser2net is not installed");
  const std::string config = dir + "/ser2net.yaml";
  const bool relay = !LoopbackListensByName();
  std::vector<std::string> sockets;
  {
    std::ofstream out(config);
    out << "%YAML 1.1\n---\n";
    for (std::size_t i = 0; i < devices.size(); ++i) {
      sockets.push_back(dir + "/unit" + std::to_string(i) + ".sock");
      ports_.push_back(relay ? 0 : FreePort());
      out << "connection: &unit" << i << "\n"
          << "  accepter: telnet(rfc2217),"
          << (relay ? "unix," + sockets.back() : "tcp,127.0.0.1," + std::to_string(ports_.back())) << "\n"
          << "  connector: serialdev," << devices[i] << ",9600n81,local\n"
          << "  options:\n    max-connections: 2\n";
      for (const auto& o : options) out << "    " << o << "\n";
    }
    if (!out) return fail("cannot write " + config);
  }
  // -n: in the foreground, so the child is ser2net itself; -d: its messages
  // to stdout (its log file here), not to syslog; -u: no UUCP lock files.
  const std::string log = dir + "/ser2net.log";
  std::vector<std::string> args = {program, "-n", "-d", "-u", "-c", config};
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    pid_ = -1;
    return fail("spawn " + program + ": " + std::strerror(rc));
  }
  const auto deadline = SteadyClock::now() + std::chrono::seconds(5);
  for (std::size_t i = 0; i < ports_.size();) {
    if (const int fd = relay ? UnixSocket(sockets[i]) : LoopbackSocket(ports_[i]); fd >= 0) {
      ::close(fd);
      if (relay) ports_[i] = relays_.emplace_back(std::make_unique<Relay>(sockets[i]))->Port();
      ++i;
      continue;
    }
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) {
      pid_ = -1;
      return fail("ser2net ended at start; see " + log);
    }
    if (SteadyClock::now() > deadline) return fail("ser2net does not take connections; see " + log);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

std::string Ser2netProcess::PortName(std::size_t i) const {
  return "rfc2217://127.0.0.1:" + std::to_string(ports_.at(i));
}

std::uint32_t Ser2netProcess::ReportedSpeed(std::size_t i) const {
  const int fd = LoopbackSocket(ports_.at(i));
  if (fd < 0) return 0;
  // WILL COM-PORT-OPTION, then SET-BAUDRATE 0: "tell me the current speed".
  const std::uint8_t ask[] = {255, 251, 44, 255, 250, 44, 1, 0, 0, 0, 0, 255, 240};
  std::uint32_t speed = 0;
  if (::send(fd, ask, sizeof ask, MSG_NOSIGNAL) == static_cast<ssize_t>(sizeof ask)) {
    std::string got;
    const auto deadline = SteadyClock::now() + std::chrono::seconds(2);
    const std::string report = "\xff\xfa\x2c\x65";  // IAC SB COM-PORT SET-BAUDRATE+100
    for (std::size_t at; speed == 0 && SteadyClock::now() < deadline;) {
      pollfd p{fd, POLLIN, 0};
      char buf[256];
      if (::poll(&p, 1, 50) <= 0) continue;
      const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;
      got.append(buf, static_cast<std::size_t>(n));
      if ((at = got.find(report)) != std::string::npos && got.size() >= at + 8)
        for (int k = 0; k < 4; ++k) speed = speed << 8 | static_cast<unsigned char>(got[at + 4 + k]);
    }
  }
  ::close(fd);
  return speed;
}

}  // namespace vecta::test
