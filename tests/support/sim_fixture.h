// A simulated unit served in this process for a test: options for one
// transport, the start with its reason on failure, the unit's transcript, and
// a real link controller (termios on the pseudo-terminal, sockets on
// loopback) pointed at it with time-outs short enough that silence costs
// milliseconds.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/clock.h"
#include "link/remote_control.h"
#include "link/serial_port.h"
#include "sim_options.h"
#include "sim_server.h"
#include "support/fake_link.h"
#include "support/sim_process.h"

namespace vecta::test {

// A unit served over TCP on loopback only, on any free port.
sim::SimOptions SimOverTcp();
// A unit served on a fresh pseudo-terminal only.
sim::SimOptions SimOverPty();

// Starts `server` with `options`; a failure carries the server's reason.
//   sim::SimServer server;
//   ASSERT_TRUE(StartSim(server, SimOverTcp()));
::testing::AssertionResult StartSim(sim::SimServer& server, const sim::SimOptions& options);

// Starts the vecta-sim program with `args` and waits for it to be ready; a
// failure carries the reason.
::testing::AssertionResult StartSim(SimProcess& process, std::vector<std::string> args);

// "127.0.0.1:PORT" of the server's TCP listener, as vectactl's --tcp takes it.
std::string SimTcpTarget(const sim::SimServer& server);

// The simulator's transcript lines ("rx 0001rgbty;;", "tx 00011K610;"),
// gathered from its transport threads.
class SimTranscript {
 public:
  // Makes `options` report its transcript here, from an empty one.
  void Attach(sim::SimOptions& options);
  // What the unit has done with the n-th request it received (from 1).
  struct Handling {
    bool received = false;
    bool silent = false;         // it stays silent
    bool cutShort = false;       // it answered without the final ETX
    std::size_t replyBytes = 0;  // the bytes of that reply
    int delayMs = 0;             // how long each reply waits
  };
  Handling Request(std::size_t n) const;
  std::vector<std::string> Lines() const;
  // The request texts the unit received, without the "rx " in front.
  std::vector<std::string> Received() const;
  // The write requests received since the last call, from the operation
  // letter on ("wolev;851;"); reads are left out.
  std::vector<std::string> NewWrites();

 private:
  mutable std::mutex m_;
  std::vector<std::string> lines_;
  std::size_t seenWrites_ = 0;
  int delayMs_ = 0;
};

// Serial time-outs of 40 ms a read. On SimSerialPorts they pass on the
// link's fake clock, taking no real time.
link::SerialTimeouts FastSerialTimeouts();

// The ports of `ports` opened for a link whose unit is the simulator that
// reports to `transcript`. A read waits for the unit, however long a loaded
// machine makes it take (up to a 10 s budget only a broken test meets),
// while the unit still owes bytes of its reply; once the unit is known to
// stay silent (or its reply is in and ends without ETX, or comes later than
// the read time-out), the read time-out passes at once on `clock`.
std::shared_ptr<link::SerialPortProvider> SimSerialPorts(std::vector<link::SerialPortInfo> ports,
                                                         const SimTranscript& transcript, FakeClock& clock);
// The TCP receive time-out used against the simulator.
inline constexpr int kFastTcpReceiveMs = 150;

// A real link controller whose one serial port (index 0) is the server's
// pseudo-terminal (through SimSerialPorts, so the server must report to
// `transcript`), with the fast serial time-outs and `clock` for its waits
// and time stamps.
std::unique_ptr<link::CRavlenRemoteControl> MakeSimLink(const sim::SimServer& server, FakeClock* clock,
                                                        const SimTranscript& transcript,
                                                        std::function<void()> linkLost = {});

// Connects `link` to the server's TCP port on loopback with the fast receive
// time-out, keeping the socket after a failed exchange (the tests look at
// each failure on its own); kConnectOk, kConnectFailed or -1 on time-out.
int ConnectSimTcp(link::CRavlenRemoteControl& link, const sim::SimServer& server);

}  // namespace vecta::test
