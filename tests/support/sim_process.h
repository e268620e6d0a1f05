// Runs the vecta-sim program as a child process for integration tests:
// starts it, reads the lines it prints on start (TCP port, pty path, ready),
// collects transcript lines, and stops it. The destructor never leaves a
// child behind.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vecta::test {

class SimProcess {
 public:
  SimProcess() = default;
  ~SimProcess();  // SIGTERM, then SIGKILL if it does not end within 2 s
  SimProcess(const SimProcess&) = delete;
  SimProcess& operator=(const SimProcess&) = delete;

  // Starts `program` (the built vecta-sim unless given) with `args` and waits
  // up to `timeoutMs` for its "vecta-sim: ready" line. False, with the reason
  // in `error`, when it cannot start, exits, or is not ready in time; the
  // child is then already gone.
  bool Start(std::vector<std::string> args, std::string* error = nullptr, int timeoutMs = 5000,
             std::string program = {});

  bool Running() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  // From "vecta-sim: tcp ADDR:PORT" (0 when not printed).
  std::uint16_t TcpPort() const { return tcpPort_; }
  const std::string& TcpAddress() const { return tcpAddress_; }
  // From "vecta-sim: pty PATH" ("" when not printed).
  const std::string& PtyPath() const { return ptyPath_; }
  // Every line printed before "ready", that line included.
  const std::vector<std::string>& StartLines() const { return startLines_; }

  // Lines printed after "ready" (the transcript, with --transcript), all of
  // them read so far; reads whatever is waiting without blocking.
  std::vector<std::string> TranscriptLines();
  // Waits up to `timeoutMs` until at least `count` transcript lines have
  // arrived; returns them all (possibly fewer on time-out).
  std::vector<std::string> WaitTranscriptLines(std::size_t count, int timeoutMs = 2000);

  // Sends SIGTERM and waits (SIGKILL after `timeoutMs`). Returns the exit
  // status, 128 + signal number when killed by a signal, -1 when not running.
  int Terminate(int timeoutMs = 5000);

 private:
  // Reads what is available within `timeoutMs` into lines; false at EOF.
  bool ReadSome(int timeoutMs);
  int Reap(int timeoutMs);

  pid_t pid_ = -1;
  int out_ = -1;  // read end of the child's stdout
  std::string partial_;
  std::vector<std::string> startLines_;
  std::vector<std::string> lines_;
  bool ready_ = false;
  std::uint16_t tcpPort_ = 0;
  std::string tcpAddress_;
  std::string ptyPath_;
};

}  // namespace vecta::test
