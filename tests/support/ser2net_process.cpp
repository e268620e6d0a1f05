#include "support/ser2net_process.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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

// A loopback port nobody listens on now (the tests run in a network
// namespace of their own, so nobody takes it before ser2net does).
std::uint16_t FreePort() {
  const int fd = LoopbackSocket(0);
  sockaddr_in a{};
  socklen_t len = sizeof a;
  const bool ok = fd >= 0 && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0;
  if (fd >= 0) ::close(fd);
  return ok ? ntohs(a.sin_port) : 0;
}

}  // namespace

std::string Ser2netProcess::Binary() {
  std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
  std::istringstream dirs(path + ":/usr/sbin:/usr/local/sbin");
  for (std::string dir; std::getline(dirs, dir, ':');)
    if (!dir.empty() && ::access((dir + "/ser2net").c_str(), X_OK) == 0) return dir + "/ser2net";
  return {};
}

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
  {
    std::ofstream out(config);
    out << "%YAML 1.1\n---\n";
    for (std::size_t i = 0; i < devices.size(); ++i) {
      ports_.push_back(FreePort());
      out << "connection: &unit" << i << "\n"
          << "  accepter: telnet(rfc2217),tcp,127.0.0.1," << ports_.back() << "\n"
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
    if (const int fd = LoopbackSocket(ports_[i]); fd >= 0) {
      ::close(fd);
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
