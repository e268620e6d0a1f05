// The link controller: the one object through which the program talks to the
// unit, over a serial port or over TCP. Its central operation, SendCommand,
// performs one complete exchange (frame, send, read, check, retry a silent
// serial unit, log) and returns 0 or a link error code.
//
// SendCommand takes no lock itself: callers hold the link lock (link_lock.h)
// around each call, and around opening, closing or reconfiguring the port.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "link/clock.h"
#include "link/comm_log.h"
#include "link/link_cipher.h"
#include "link/serial_port.h"
#include "link/tcp_socket.h"

namespace vecta::link {

enum class TransportKind { Serial = 0, Tcp = 1 };

// Result of a connect thread.
inline constexpr int kConnectOk = 0;  // connected (or cancelled: then nothing is sent)
inline constexpr int kConnectFailed = 255;

using ConnectHandle = std::uint32_t;

// What the link needs from the outside world; each part can be replaced.
struct LinkEnvironment {
  Clock* clock = nullptr;                      // default: SystemClock()
  std::shared_ptr<SerialPortProvider> serial;  // default: ports found in sysfs
  std::shared_ptr<SocketFactory> sockets;      // default: BSD sockets
};

// The reply of a successful exchange.
struct LinkReply {
  int status = 0;     // '1' accepted, 'E' refused by the unit
  std::string value;  // value text; its size is the value length
};

class CRavlenRemoteControl {
 public:
  // Told, on the sending thread, that a serial unit stopped answering. It must
  // not block: the GUI thread may be waiting for the link lock the sender holds.
  using LinkLostNotify = std::function<void()>;
  // A connect thread's result (kConnectOk or kConnectFailed), called on the
  // connect thread; the thread waits until it returns.
  using ConnectNotify = std::function<void(int result)>;
  // The connect thread waits until this returns true, checking every 100 ms.
  using WaitReady = std::function<bool()>;

  explicit CRavlenRemoteControl(LinkLostNotify onLinkLost = {}, LinkEnvironment env = {});
  ~CRavlenRemoteControl();
  CRavlenRemoteControl(const CRavlenRemoteControl&) = delete;
  CRavlenRemoteControl& operator=(const CRavlenRemoteControl&) = delete;

  void SetLinkLostNotify(LinkLostNotify onLinkLost);

  // Communication log, kept under `capBytes` (comm_log.h).
  void OpenLogFile(const std::string& path, std::int64_t capBytes = kCommLogCapBytes);
  // Writes `text` into the communication log as it stands, when the log is
  // open; the caller holds the link lock. A program that serves several
  // peers puts whose exchange follows in front of its record.
  void LogNote(std::string_view text);

  // Serial transport. Port indexes are positions in the provider's list.
  std::uint32_t OpenSerialPort(int index);
  void CloseSerialPort();
  int SetBaudRate(std::uint32_t baud);  // nonzero on success
  std::uint32_t SetCommTimeout(int which, std::uint32_t value);
  // A serial device that hangs up (a USB adapter pulled, the other end of a
  // pseudo-terminal closed) never works again: SendCommand closes its port
  // and reports the unit lost, as for a silent one. The port then waits to
  // be opened again by ReopenLostSerialPort (the caller holds the link
  // lock), which tries the same port with the same speed and time-outs;
  // true once it is open. OpenSerialPort, CloseSerialPort and
  // SetEthernetAddress forget the lost port.
  bool SerialPortLost() const { return lostPort_ >= 0; }
  bool ReopenLostSerialPort();
  // The system's reason for the last failed OpenSerialPort ("" if none).
  const std::string& LastOpenError() const { return lastOpenError_; }
  std::vector<SerialPortInfo> SerialPorts() const;

  // TCP transport.
  void SetEthernetAddress(const std::string& ip);
  // The unit listens on 9999; another port reaches a unit behind a forwarded port.
  void SetTcpPort(std::uint16_t port) { tcpPort_ = port; }
  std::uint16_t TcpPort() const { return tcpPort_; }
  // The socket's receive time-out (1500 ms); set before connecting. Tests
  // take it down instead of waiting.
  void SetTcpReceiveTimeout(int ms) { tcpReceiveTimeoutMs_ = ms; }
  ConnectHandle StartConnectThread(ConnectNotify notify, WaitReady waitFor = {});
  void CancelConnectThread(ConnectHandle handle);
  // Why the last connect thread that ended did not connect: the system's
  // error number (ECONNREFUSED, ETIMEDOUT after the connect time-out, ...),
  // 0 when it connected or none has ended.
  int LastConnectError() const;
  // The same attempt made on the calling thread, which waits for it:
  // kConnectOk or kConnectFailed. For a caller with nothing to keep
  // responsive and nothing to cancel (a fuzz target, a benchmark).
  int ConnectOnThisThread();
  void CloseEthernet();

  bool IsConnected() const;
  void ProbeUnit();

  // For a program that is closing: from now on SendCommand gives up at once
  // with kErrNotConnected, and an exchange in progress stops waiting for a
  // silent serial unit within a few tens of milliseconds (no retry, no
  // link-lost notice); a TCP connection is shut down, which ends a receive
  // in progress. Any thread may call it; Interrupt(false) lets exchanges
  // run again.
  void Interrupt(bool on = true);
  bool Interrupted() const { return interrupted_; }

  // One exchange. `request` is the request text up to its second ';', with
  // or without its leading STX. On 0 the reply holds the status byte and the
  // value; on a link error it is left as it was. logLevel 1 logs the
  // exchange, 2 logs it with the request's value fields masked.
  std::uint32_t SendCommand(std::string_view request, LinkReply& reply, int logLevel = 1,
                            int waitBeforeReadMs = 0);

  // Copies of the latest exchange, for the diagnostic console: the plain
  // request frame (STX..ETX), and the reply from its first received byte
  // through its first ETX (over TCP starting with the envelope's length byte).
  const std::string& LastRequest() const { return lastRequest_; }
  const std::string& LastReply() const { return lastReply_; }
  int LastReplyLength() const { return static_cast<int>(lastReply_.size()); }

  // State, for the windows that show it and for tests.
  TransportKind Kind() const { return kind_; }
  bool UnitHasAnswered() const { return unitHasAnswered_; }
  int RetryCount() const { return retryCount_; }
  int LastOpenedPort() const { return lastOpenedPort_; }
  int RequestedPort() const { return requestedPort_; }
  std::uint32_t BaudRate() const { return baudRate_; }
  const SerialTimeouts& Timeouts() const { return timeouts_; }
  // Sets the time-outs used at the next open (settings copied at start).
  void SetInitialTimeouts(const SerialTimeouts& t) { timeouts_ = t; }
  bool SerialOpen() const { return serial_ != nullptr; }
  bool HasSocket() const;
  const std::string& EthernetAddress() const { return ipAddress_; }
  std::size_t RunningConnectThreads() const;

  // The three TCP failure flags (all 1 by default; the main window clears both
  // close flags so a failed send or receive never closes the socket).
  void SetCloseAfterSendFailure(bool on) { closeAfterSendFailure_ = on; }
  void SetCloseAfterReceiveFailure(bool on) { closeAfterReceiveFailure_ = on; }
  void SetReconnectAfterClose(bool on) { reconnectAfterClose_ = on; }

 private:
  struct TcpShared;
  struct ConnectRequest;

  std::uint32_t Fail(std::uint32_t code);
  std::uint32_t UseSerialDevice(std::unique_ptr<SerialDevice> device, int index);
  std::uint32_t SerialFailure(std::uint32_t code);
  std::shared_ptr<StreamSocket> CurrentSocket() const;
  std::uint32_t SendSerial(const std::vector<std::uint8_t>& frame);
  std::uint32_t SendTcp(const std::vector<std::uint8_t>& frame);
  std::int64_t SerialReplyTimeoutMs(bool longRead) const;
  std::uint32_t ReadSerialReply(bool longRead, bool logging, bool mask, std::uint8_t* buf, std::size_t& count);
  std::uint32_t ReadTcpReply(bool logging, bool mask, std::uint8_t* buf, std::size_t capacity, std::size_t& count);
  void LogReplyHex(const std::uint8_t* buf, std::size_t count, bool mask);
  void ResyncFor(const StreamSocket* socket);
  std::uint32_t DropStale(StreamSocket& socket);
  void DropEnvelope(const std::uint8_t* raw, std::size_t size);
  void DropCarriedEnvelopes();
  std::uint32_t GiveUpOnFlood(std::size_t taken);
  void AfterPlainReceive(const std::uint8_t* raw, long received, std::size_t etxAt, bool mask);
  bool TakeOwnReply(int& dropped, std::uint8_t* buf, std::size_t capacity, std::size_t& count);
  void AfterOwedTimeout(int err, int dropped, bool mask);
  std::uint32_t ReadOwedThenReply(StreamSocket& socket, bool logging, bool mask, std::uint8_t* buf,
                                  std::size_t capacity, std::size_t& count);
  std::shared_ptr<ConnectRequest> NewConnectRequest();
  static void RunConnectThread(std::shared_ptr<TcpShared> shared, std::shared_ptr<ConnectRequest> request);
  std::uint32_t HandleTcpFailure(bool closeFlag);
  std::uint32_t Reconnect();
  void LogSendingLine(const std::vector<std::uint8_t>& frame, int logLevel);
  void DropSocket();

  LinkLostNotify onLinkLost_;
  Clock* clock_;
  std::shared_ptr<SerialPortProvider> serialProvider_;
  std::shared_ptr<SocketFactory> sockets_;

  int lastOpenedPort_ = -1;
  SerialTimeouts timeouts_;
  std::uint32_t baudRate_ = 9600;
  bool closeAfterSendFailure_ = true;
  bool closeAfterReceiveFailure_ = true;
  bool reconnectAfterClose_ = true;
  std::string lastRequest_;
  std::string lastReply_;
  std::string ipAddress_;
  std::uint16_t tcpPort_ = kUnitTcpPort;
  int tcpReceiveTimeoutMs_ = kReceiveTimeoutMs;
  TransportKind kind_ = TransportKind::Serial;
  std::atomic<bool> unitHasAnswered_{false};
  std::atomic<bool> interrupted_{false};
  int requestedPort_ = -1;
  std::atomic<int> lostPort_{-1};  // a port whose device hung up, to be opened again
  std::unique_ptr<SerialDevice> serial_;
  CommLog log_;
  int retryCount_ = 0;
  std::string lastOpenError_;
  std::vector<std::uint8_t> frame_, envelope_;  // work areas of SendCommand
  std::shared_ptr<TcpShared> tcp_;              // the socket slot and the connect requests
  // Keeping replies in step over TCP (tcp_replies.cpp). A reply that comes
  // late, or the tail of a split one, is still on its way when the next
  // request goes out; the unit answers in order, so the first `owed_`
  // envelopes that arrive belong to earlier exchanges and are dropped.
  // `carry_` holds the enciphered bytes received but not yet used: between
  // exchanges at most the start of one envelope. Both belong to the socket
  // `resyncSocket_` and start afresh with a new connection.
  const StreamSocket* resyncSocket_ = nullptr;
  int owed_ = 0;
  bool owedMasked_ = false;  // an owed reply may echo a key: trace it hidden
  std::vector<std::uint8_t> carry_;
  int dropsTraced_ = 0;  // late replies traced in this exchange
  LinkCipher cipher_;
};

// Starts a connect thread and waits for its result: kConnectOk, kConnectFailed,
// or -1 when none came within `timeoutMs` (the attempt is then cancelled).
// For callers without a window to keep alive: the command-line tool, tests.
int ConnectAndWait(CRavlenRemoteControl& link, int timeoutMs);

}  // namespace vecta::link
