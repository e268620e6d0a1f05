#include "support/child_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support/deadline.h"

extern char** environ;

namespace vecta::test {

namespace {

using Clock = SteadyClock;

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Stop(0, SIGKILL);
  for (Stream* s : {&out_, &err_})
    if (s->fd >= 0) close(s->fd);
}

bool ChildProcess::Start(const std::string& program, std::vector<std::string> args, std::string* error) {
  int outPipe[2], errPipe[2];
  if (pid_ > 0 || pipe2(outPipe, O_CLOEXEC) != 0) {
    if (error) *error = pid_ > 0 ? "already running" : std::strerror(errno);
    return false;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    if (error) *error = std::strerror(errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  std::string path = program;
  std::vector<char*> argv{path.data()};
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const int rc = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(outPipe[1]);
  close(errPipe[1]);
  out_ = {outPipe[0], {}};
  err_ = {errPipe[0], {}};
  if (rc != 0) {
    pid_ = -1;
    if (error) *error = "spawn " + program + ": " + std::strerror(rc);
    return false;
  }
  return true;
}

bool ChildProcess::ReadSome(int ms) {
  pollfd p[2] = {{out_.fd, POLLIN, 0}, {err_.fd, POLLIN, 0}};
  if (out_.fd < 0 && err_.fd < 0) return false;
  if (poll(p, 2, ms) <= 0) return true;
  Stream* streams[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
    char buf[4096];
    const ssize_t n = read(streams[i]->fd, buf, sizeof buf);
    if (n > 0) {
      streams[i]->text.append(buf, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      close(streams[i]->fd);
      streams[i]->fd = -1;
    }
  }
  return true;
}

bool ChildProcess::WaitFor(const std::function<bool()>& done, int ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  while (!done()) {
    const int left = MsLeft(deadline);
    if (left == 0) return false;
    if (!ReadSome(std::min(left, 50))) poll(nullptr, 0, std::min(left, 10));
  }
  return true;
}

bool ChildProcess::WaitErr(const std::string& text, int ms) {
  return WaitFor([&] { return err_.text.find(text) != std::string::npos; }, ms);
}

int ChildProcess::Wait(int ms) {
  if (pid_ <= 0) return -1;
  int status = 0;
  const bool ended = WaitFor([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, ms);
  if (!ended) {
    kill(pid_, SIGKILL);
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
  }
  pid_ = -1;
  WaitFor([&] { return out_.fd < 0 && err_.fd < 0; }, 1000);  // what it wrote last
  if (!ended) return -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

int ChildProcess::Stop(int ms, int signal) {
  if (pid_ <= 0) return -1;
  kill(pid_, signal);
  return Wait(ms);
}

std::uint16_t StartGateway(ChildProcess& gateway, const std::string& program, std::vector<std::string> args) {
  std::string error;
  if (!gateway.Start(program, std::move(args), &error)) {
    ADD_FAILURE() << error;
    return 0;
  }
  static const std::string kListening = "vecta-gateway: listening on ";
  const std::string& err = gateway.Err();
  std::size_t at = std::string::npos, end = std::string::npos;
  if (!gateway.WaitFor([&] {
        at = err.find(kListening);
        end = at == std::string::npos ? at : err.find('\n', at);
        return end != std::string::npos;
      })) {
    ADD_FAILURE() << "vecta-gateway did not listen: " << gateway.Err();
    return 0;
  }
  const std::size_t colon = err.rfind(':', end);
  return static_cast<std::uint16_t>(std::atoi(err.c_str() + colon + 1));
}

}  // namespace vecta::test
