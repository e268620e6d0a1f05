// Any program run as a child process for integration tests (vecta-gateway,
// vectactl): its stdout and stderr gathered while the test waits for a
// condition with a bound; the destructor never leaves a child behind.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace vecta::test {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // SIGKILL and reap when still running
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` with `args`; false, with the reason in `error`, when it
  // cannot be started.
  bool Start(const std::string& program, std::vector<std::string> args, std::string* error = nullptr);
  bool Running() const { return pid_ > 0; }

  // Gathers output until `done` holds, at most `ms`; whether it held.
  bool WaitFor(const std::function<bool()>& done, int ms = 5000);
  // Waits at most `ms` for a stderr line holding `text`; whether one came.
  bool WaitErr(const std::string& text, int ms = 5000);
  // Everything the child wrote so far (read while waiting).
  const std::string& Out() const { return out_.text; }
  const std::string& Err() const { return err_.text; }

  // Waits at most `ms` for the child to end (SIGKILL after): its exit
  // status, 128 + signal number when ended by a signal, -1 when not running.
  int Wait(int ms = 10000);
  // SIGTERM (or `signal`), then Wait.
  int Stop(int ms = 5000, int signal = 15);

 private:
  struct Stream {
    int fd = -1;
    std::string text;
  };
  // Reads what arrives within `ms`; false when both streams have ended.
  bool ReadSome(int ms);

  pid_t pid_ = -1;
  Stream out_, err_;
};

// Starts vecta-gateway (`program`) with `args` and waits for its
// "listening on ADDRESS:PORT" line: the port, or 0 with a test failure.
std::uint16_t StartGateway(ChildProcess& gateway, const std::string& program, std::vector<std::string> args);

}  // namespace vecta::test
