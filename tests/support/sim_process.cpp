#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

SimProcess::~SimProcess() {
  if (pid_ > 0) Terminate(2000);
  if (out_ >= 0) close(out_);
}

bool SimProcess::Start(std::vector<std::string> args, std::string* error, int timeoutMs, std::string program) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    if (pid_ > 0) Terminate(1000);
    return false;
  };
  if (pid_ > 0) return fail("already running");
  if (program.empty()) program = VECTA_SIM_PATH;

  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return fail(std::string("pipe: ") + std::strerror(errno));
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
  std::vector<char*> argv;
  argv.push_back(program.data());
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(fds[1]);
  if (rc != 0) {
    close(fds[0]);
    return fail("spawn " + program + ": " + std::strerror(rc));
  }
  pid_ = pid;
  if (out_ >= 0) close(out_);
  out_ = fds[0];
  partial_.clear();
  startLines_.clear();
  lines_.clear();
  ready_ = false;
  tcpPort_ = 0;
  tcpAddress_.clear();
  ptyPath_.clear();

  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!ready_) {
    const int left = MsLeft(deadline);
    if (left == 0) return fail("vecta-sim not ready within " + std::to_string(timeoutMs) + " ms");
    if (!ReadSome(left) && !ready_) return fail("vecta-sim exited before it was ready");
  }
  return true;
}

bool SimProcess::ReadSome(int timeoutMs) {
  if (out_ < 0) return false;
  pollfd p{out_, POLLIN, 0};
  const int r = poll(&p, 1, timeoutMs);
  if (r <= 0) return r == 0 || errno == EINTR;
  char buf[4096];
  const ssize_t n = read(out_, buf, sizeof buf);
  if (n <= 0) return n < 0 && errno == EINTR;
  partial_.append(buf, static_cast<std::size_t>(n));
  for (std::size_t nl; (nl = partial_.find('\n')) != std::string::npos;) {
    std::string line = partial_.substr(0, nl);
    partial_.erase(0, nl + 1);
    if (ready_) {
      lines_.push_back(std::move(line));
      continue;
    }
    static const std::string kTcp = "vecta-sim: tcp ";
    static const std::string kPty = "vecta-sim: pty ";
    if (line.rfind(kTcp, 0) == 0) {
      const std::string where = line.substr(kTcp.size());
      const auto colon = where.rfind(':');
      if (colon != std::string::npos) {
        tcpAddress_ = where.substr(0, colon);
        tcpPort_ = static_cast<std::uint16_t>(std::atoi(where.c_str() + colon + 1));
      }
    } else if (line.rfind(kPty, 0) == 0) {
      ptyPath_ = line.substr(kPty.size());
    } else if (line == "vecta-sim: ready") {
      ready_ = true;
    }
    startLines_.push_back(std::move(line));
  }
  return true;
}

std::vector<std::string> SimProcess::TranscriptLines() {
  while (ReadSome(0)) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, 0) <= 0) break;
  }
  return lines_;
}

std::vector<std::string> SimProcess::WaitTranscriptLines(std::size_t count, int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (lines_.size() < count) {
    const int left = MsLeft(deadline);
    if (left == 0 || !ReadSome(left)) break;
  }
  return lines_;
}

int SimProcess::Reap(int timeoutMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  int status = 0;
  for (;;) {
    const pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) break;
    if (r < 0 && errno != EINTR) {
      pid_ = -1;
      return -1;
    }
    if (MsLeft(deadline) == 0) {
      kill(pid_, SIGKILL);
      while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    // Drain the pipe meanwhile so a chatty child never blocks on a full pipe.
    if (!ReadSome(5)) poll(nullptr, 0, 5);
  }
  pid_ = -1;
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

int SimProcess::Terminate(int timeoutMs) {
  if (pid_ <= 0) return -1;
  kill(pid_, SIGTERM);
  return Reap(timeoutMs);
}

}  // namespace vecta::test
