// The transports of a simulated unit: a TCP listener speaking the enciphered
// envelope, and serial lines (a pseudo-terminal, a real device) speaking bare
// frames. Each runs its own thread around one shared SimUnit; Stop() wakes
// them through an eventfd and returns once they have ended.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link_cipher.h"
#include "sim_options.h"
#include "sim_unit.h"

namespace vecta::sim {

class SimServer {
 public:
  SimServer();
  ~SimServer();  // stops
  SimServer(const SimServer&) = delete;
  SimServer& operator=(const SimServer&) = delete;

  // Opens every transport asked for and starts serving. On failure nothing
  // stays open and `error` says why. False as well when already running.
  bool Start(const SimOptions& options, std::string& error);
  // Ends the threads, closes everything, removes the pty symlink. Idempotent.
  void Stop();
  bool Running() const { return running_; }

  // The bound TCP port (0 when TCP is not served).
  std::uint16_t TcpPort() const { return tcpPort_; }
  const std::string& TcpAddress() const { return options_.tcpAddress; }
  // The pseudo-terminal's slave path ("" when no pty is served).
  std::string PtyPath() const { return ptyPath_; }
  // TCP connections accepted so far.
  int TcpConnections() const { return tcpConnections_; }

  // The simulated unit, for inspection (valid while running and after Stop
  // until the next Start).
  const SimUnit* Unit() const { return unit_.get(); }

 private:
  struct SerialLine {
    int fd = -1;       // pty master or device
    int slaveFd = -1;  // pty only: held open for the server's whole life
    std::string name;
  };
  using Clock = std::chrono::steady_clock;

  bool OpenTcp(std::string& error);
  bool OpenPty(std::string& error);
  bool OpenSerialDevice(std::string& error);
  void CloseAll();

  void TcpLoop();
  void ServeConnection(int fd);
  void SerialLoop(SerialLine* line);
  // Handles one complete envelope received on a connection; false when the
  // connection must be closed.
  bool HandleEnvelope(int fd, const Bytes& envelope, int envelopeNumber);
  void HandleSerialFrame(const SerialLine& line, const Bytes& frame, Clock::time_point firstByte);
  bool WriteSerial(int fd, const Bytes& bytes, Clock::time_point earliest);

  // Sleeps until `deadline`; false as soon as Stop() is called.
  bool WaitUntil(Clock::time_point deadline) const;
  bool WriteAll(int fd, const std::uint8_t* data, std::size_t size, bool socket) const;
  void Transcript(const std::string& line);

  SimOptions options_;
  std::unique_ptr<SimUnit> unit_;
  link::LinkCipher cipher_;
  std::mutex transcriptMutex_;

  int stopFd_ = -1;
  int listenFd_ = -1;
  std::uint16_t tcpPort_ = 0;
  std::string ptyPath_;
  std::string ptyLink_;  // the symlink we created, removed at stop
  std::vector<std::unique_ptr<SerialLine>> lines_;
  std::vector<std::thread> threads_;
  struct ConnectionThread {
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> done;
  };
  std::mutex connectionsMutex_;
  std::vector<int> connectionFds_;             // open client sockets
  std::vector<ConnectionThread> connections_;  // one thread per client
  std::atomic<bool> stopping_{false};
  std::atomic<bool> running_{false};
  std::atomic<int> tcpConnections_{0};
};

}  // namespace vecta::sim
