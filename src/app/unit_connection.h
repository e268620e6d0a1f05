// Everything a program needs to talk to one unit, built in one place: the
// link (serial ports, sockets, clock, communication log, serial speed and
// time-outs, what a failed TCP send or receive does), the parameter tables,
// the unit context, the session, the connector and, when asked for, the poll
// thread. Qt-free: the main window holds one, vectactl holds one, and so can
// any program that owns a unit without windows.
//
// Nothing is connected by building it: the connector opens a serial port or
// makes the Ethernet connection.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/connector.h"
#include "app/poll_thread.h"
#include "app/session.h"
#include "app/settings.h"
#include "link/clock.h"
#include "link/remote_control.h"
#include "params/descriptor.h"
#include "params/prompter.h"
#include "params/unit_context.h"

namespace vecta::app {

struct UnitConnectionOptions {
  // The link's own seams: its clock (reply timing, log stamps), the serial
  // ports and the sockets. Each left empty is the real one; without serial
  // ports, those the system has plus `extraPorts`.
  link::LinkEnvironment environment;
  // Device paths (or rfc2217://HOST:PORT) added to the ports found.
  std::vector<std::string> extraPorts;
  // Times the operations' protocol waits (a config switch, a mode change);
  // default: the real clock. Must outlive the connection.
  link::Clock* clock = nullptr;
  // The communication log; "" for none.
  std::string logFile;
  // Taken at the next serial open.
  std::uint32_t baudRate = 9600;
  link::SerialTimeouts timeouts;
  int tcpReceiveTimeoutMs = link::kReceiveTimeoutMs;
  // The controller closes its socket after a failed send or receive unless
  // told otherwise; the programs keep it open and only report the error.
  bool closeAfterSendFailure = false;
  bool closeAfterReceiveFailure = false;
  // Told that the unit stopped answering, of lamps the operations set and,
  // with the poll thread, of what it polled. None: nobody is told.
  std::shared_ptr<PollNotifier> notifier;
  // Builds the poll thread (not started) with `pollWaiter` as its pause
  // (default: the real one).
  bool pollThread = false;
  std::shared_ptr<PollWaiter> pollWaiter;
};

// The serial speed and the five serial time-outs of the settings record.
void TakeSerialSettings(UnitConnectionOptions& options, const AppSettings& settings);

class UnitConnection {
 public:
  // `view` and `prompter` are the program's windows and messages; both must
  // outlive the connection.
  UnitConnection(UnitConnectionOptions options, SessionView& view, params::Prompter* prompter);
  ~UnitConnection();
  UnitConnection(const UnitConnection&) = delete;
  UnitConnection& operator=(const UnitConnection&) = delete;

  link::CRavlenRemoteControl& Link() { return *link_; }
  // Shared with threads that may outlive the connection (the poll thread, a
  // status monitor).
  const std::shared_ptr<link::CRavlenRemoteControl>& SharedLink() const { return link_; }
  params::ParamTables& Tables() { return *tables_; }
  const std::shared_ptr<params::ParamTables>& SharedTables() const { return tables_; }
  params::UnitContext& Unit() { return unit_; }
  params::TransferControl& Transfer() { return transfer_; }
  app::Session& Session() { return *session_; }
  app::Connector& Connector() { return *connector_; }
  // None unless the options asked for it.
  PollThread* Poll() { return poll_.get(); }

  // For a program that is closing: exchanges give up at once and the
  // operations' pauses end (link::CRavlenRemoteControl::Interrupt,
  // link::InterruptibleClock::Interrupt).
  void Interrupt();

 private:
  link::InterruptibleClock clock_;
  params::TransferControl transfer_;
  std::shared_ptr<params::ParamTables> tables_ = std::make_shared<params::ParamTables>();
  std::shared_ptr<link::CRavlenRemoteControl> link_;
  params::UnitContext unit_;
  std::unique_ptr<app::Session> session_;
  std::unique_ptr<app::Connector> connector_;
  std::unique_ptr<PollThread> poll_;
};

}  // namespace vecta::app
