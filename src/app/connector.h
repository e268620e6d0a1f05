// Finding and connecting the unit: the start-up scan of the serial ports,
// the serial connect and the Ethernet connect with their broadcast address
// query, and the closing of whatever was open before; the Ethernet attempt
// the operator may call off lives here whole. Qt-free: the main window runs
// it on its operation thread and turns the outcomes into its dialogs and
// labels; vectactl runs the same steps and prints them.
//
// A unit that is taken starts a new connection of the session: nothing read
// from the unit before is kept.
//
// Every exchange goes through the session (one exchange under the link lock
// each); opening and closing hold the poll lock and then the link lock, so
// no poll request falls between closing the old connection and opening the
// new one.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "app/session.h"
#include "app/settings.h"
#include "link/link_errors.h"
#include "link/remote_control.h"

namespace vecta::app {

// The advice shown under a serial port that could not be opened because the
// user may not use serial ports; "" for every other reason.
std::string SerialOpenHint(const std::string& systemReason);

// Why an Ethernet connect attempt ended without a unit, for the status
// line: "the connection was refused", "no answer within 10 s" (the connect
// time-out), "no unit answered" (connected, but the address query went
// unanswered: `error` 0), else the system's text for `error`.
std::string EthernetFailureReason(int error);

// A serial port that was (or was not) opened.
struct SerialOpen {
  std::uint32_t code = link::kLinkOk;  // the link's result of the open
  std::string reason;                  // the system's reason when it failed
  std::string hint;                    // SerialOpenHint(reason)
};

// How a serial connect ended.
struct SerialConnect {
  enum class Result {
    Connected,   // the unit answered the address query; the port stays open
    OpenFailed,  // the port did not open (see `open`)
    NoAnswer,    // the port opened, nothing answered; the port is closed again
  };
  Result result = Result::NoAnswer;
  SerialOpen open;
  std::uint32_t queryCode = link::kLinkOk;  // the address query's result
};

// A port the start-up scan could not open, and the system's reason ("the
// port is in use by another program").
struct PortNotOpened {
  int index = -1;
  std::string name;
  std::string reason;
};

// How the start-up scan ended.
struct ScanResult {
  int found = -1;                        // the port index where a unit answered, -1 for none
  int comPortIndex = -1;                 // what the stored port index becomes
  bool cancelled = false;                // the operator called the search off
  std::vector<PortNotOpened> notOpened;  // each once, in the order tried
};

// What the scan tells its caller on the way; both may be left empty.
struct ScanHooks {
  // Before the port at `index` (named `name`) is opened.
  std::function<void(int index, const std::string& name)> trying;
  // A unit answered: true takes it and ends the scan. Without it a unit is
  // taken unless the scan has been cancelled.
  std::function<bool()> take;
};

// How the probe after an Ethernet connect attempt ended.
enum class EthernetResult {
  Connected,     // the unit answered; its address is learnt
  NotConnected,  // no unit answered on the new connection
  Cancelled,     // a unit answered but was not taken; the connection is closed
};

class Connector {
 public:
  explicit Connector(Session& session);

  // Asks the attached unit for its address with the broadcast query; an
  // accepted reply makes its value the unit address, a refused one leaves
  // the address as it was. Returns the link result.
  std::uint32_t LearnAddress();

  // Opens the serial port at `index` under the link lock.
  SerialOpen OpenSerial(int index);

  // The start-up connection: the stored port first (when it exists), then
  // every port in order. Ports that do not open are skipped; a port where no
  // unit answers is closed before the next. `cancelled` is looked at before
  // each port and when a unit has answered: a unit that answers after it
  // was set is not taken and its port is closed.
  ScanResult Scan(int storedPort, const std::atomic<bool>& cancelled, const ScanHooks& hooks = {});

  // The Connect button over RS-232: closes the connection that is open (of
  // kind `previous`), tells `closed`, opens the port and asks for the
  // address. A port where nothing answers is closed again.
  SerialConnect ConnectSerial(int index, ConnectionKind previous, const std::function<void()>& closed = {});

  // Before an Ethernet connect attempt: closes the connection that is open
  // (of kind `previous`), tells `closed` and gives the link the address.
  void PrepareEthernet(const std::string& ip, ConnectionKind previous, const std::function<void()>& closed = {});

  // The broadcast address query over a new TCP connection; the link's
  // connected state follows its outcome.
  void Probe();

  // After an Ethernet connect attempt ended: the probe, then, when the unit
  // answered and `take` (when given) agrees, the address is learnt;
  // otherwise a connection that answered is closed again.
  EthernetResult FinishEthernet(const std::function<bool()>& take = {});

  // The Ethernet connect of a program with nothing to keep responsive and
  // nothing to cancel (vectactl, a service): the connection of kind
  // `previous` is closed, the link dials `ip` on `port` and waits up to
  // `waitMs` for the connection, then probes the unit. link::kConnectOk,
  // link::kConnectFailed, or -1 when the attempt had not ended in time (it is
  // then called off).
  int ConnectEthernetAndWait(const std::string& ip, std::uint16_t port, int waitMs,
                             ConnectionKind previous = ConnectionKind::Rs232);

  // Opens the serial port with the device path `path` (as the link's port
  // list names it) under the link lock; a path the list lacks fails as an
  // index that does not exist.
  SerialOpen OpenSerialPath(const std::string& path);

  // ---- an Ethernet connect attempt the operator may call off
  //
  // One at a time: the attempt begun last is the current one, and what the
  // connect thread of an older one reports is not used. The window's steps:
  // BeginEthernetAttempt, PrepareEthernet (the old connection closed), then
  // StartEthernetAttempt and the "Connecting" dialog. When the thread tells
  // the end, FinishEthernet probes the unit (if the attempt is still current)
  // and EthernetAttemptHandled marks it done; a dialog that ends before that
  // calls the attempt off (EthernetDialogEnded), and DropCancelledEthernet
  // then closes a socket the thread stored just before the cancel.

  // A new attempt: its number.
  std::uint64_t BeginEthernetAttempt();
  // Starts the connect thread of `attempt` toward the address PrepareEthernet
  // gave the link; `ended` is told on the connect thread when it connected
  // or failed, never after a cancel. False, starting nothing, when a newer
  // attempt has begun.
  bool StartEthernetAttempt(std::uint64_t attempt, std::function<void()> ended);
  // Whether the end of `attempt` is to be handled: it is the current one and
  // was not called off.
  bool EthernetAttemptLive(std::uint64_t attempt) const;
  bool EthernetAttemptCancelled() const { return attempt_.cancelled; }
  // The attempt's end was handled: the dialog that ends now does not call it
  // off.
  void EthernetAttemptHandled() { attempt_.over = true; }
  // The "Connecting" dialog ended, `accepted` when the window closed it.
  // Before the attempt's end was handled, or not accepted (Cancel, Escape,
  // closed by the window system), it calls the attempt off: the trace line
  // "Connection attempt cancelled by user\r\n", the connect thread is told
  // to stop and nothing it connects is used. True when it did.
  bool EthernetDialogEnded(bool accepted);
  // Tells the connect thread to stop, as when the program closes.
  void StopEthernetAttempt();
  // After a cancel: a socket the connect thread stored just before it is
  // closed, unless a unit was taken meanwhile. Holds the poll lock and the
  // link lock.
  void DropCancelledEthernet();

 private:
  // Closes the open connection of kind `previous`; the caller holds the
  // poll lock and the link lock.
  void CloseOpen(ConnectionKind previous);
  bool TryPort(int index, const std::string& name, const std::atomic<bool>& cancelled, const ScanHooks& hooks,
               ScanResult& scan);

  // The session's link, as it is when a step runs.
  link::CRavlenRemoteControl& Link() const;

  Session& session_;

  // The Ethernet attempt in progress: its number (0 none), the link's handle
  // of its connect thread, whether it was called off and whether its end
  // was handled.
  struct EthernetAttempt {
    std::atomic<std::uint64_t> number{0};
    std::atomic<link::ConnectHandle> handle{0};
    std::atomic<bool> cancelled{false};
    std::atomic<bool> over{false};
  };
  EthernetAttempt attempt_;
};

}  // namespace vecta::app
