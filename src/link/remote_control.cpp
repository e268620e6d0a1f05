#include "link/remote_control.h"

#include <chrono>
#include <condition_variable>
#include <thread>
#include <utility>

#include "link/frame.h"
#include "link/link_errors.h"
#include "link/request.h"
#include "link/trace.h"

namespace vecta::link {
namespace {

// How many per-byte read time-outs in a row a long read ("rgrea") sits out
// while it still waits for its 135 bytes. A silent unit must not hold the
// link for ever; three silent reads is about 7.5 s with the default time-outs.
constexpr int kLongReadSilentReads = 3;

// Consecutive silent replies after which a serial unit is given up.
constexpr int kMaxSilentReplies = 3;

constexpr auto kConnectGrace = std::chrono::milliseconds(500);
constexpr auto kWaitWindowPoll = std::chrono::milliseconds(100);

// Room for a whole reply, its terminating zero and, over TCP, the rest of a
// last partial 8-byte block that is deciphered in place.
constexpr std::size_t kReplyBuffer = kMaxTcpReceive + 8;

}  // namespace

// One running connect thread. Shared between the controller's list and the
// thread, so a thread that outlives the controller still owns what it touches.
struct CRavlenRemoteControl::ConnectRequest {
  ConnectHandle handle = 0;
  std::string ip;
  std::uint16_t port = kUnitTcpPort;
  int receiveTimeoutMs = kReceiveTimeoutMs;
  std::atomic<bool> cancelled{false};
  ConnectNotify notify;
  WaitReady waitFor;
  std::mutex doneMutex;
  std::condition_variable doneCv;
  bool done = false;
};

// The socket slot and the list of connect requests. Connect threads store a
// new socket here and remove their own request when they end.
struct CRavlenRemoteControl::TcpShared {
  std::shared_ptr<SocketFactory> factory;

  mutable std::mutex socketMutex;
  std::shared_ptr<StreamSocket> socket;

  mutable std::mutex listMutex;
  std::vector<std::shared_ptr<ConnectRequest>> requests;
  ConnectHandle nextHandle = 1;
  std::atomic<int> lastConnectError{0};  // of the last connect thread that ended

  std::shared_ptr<StreamSocket> Socket() const {
    std::lock_guard lock(socketMutex);
    return socket;
  }
  void Store(std::shared_ptr<StreamSocket> s) {
    std::lock_guard lock(socketMutex);
    socket = std::move(s);
  }
  std::shared_ptr<StreamSocket> Take() {
    std::lock_guard lock(socketMutex);
    return std::exchange(socket, nullptr);
  }
  void Remove(const ConnectRequest* request) {
    std::lock_guard lock(listMutex);
    std::erase_if(requests, [&](const auto& r) { return r.get() == request; });
  }
};

CRavlenRemoteControl::CRavlenRemoteControl(LinkLostNotify onLinkLost, LinkEnvironment env)
    : onLinkLost_(std::move(onLinkLost)),
      clock_(env.clock ? env.clock : &SystemClock()),
      serialProvider_(env.serial ? std::move(env.serial) : MakePosixSerialProvider(DiscoverSerialPorts())),
      sockets_(env.sockets ? std::move(env.sockets) : MakePosixSocketFactory()),
      tcp_(std::make_shared<TcpShared>()) {
  tcp_->factory = sockets_;
  Trace("Blowfish_Init called\r\n");
}

CRavlenRemoteControl::~CRavlenRemoteControl() {
  std::vector<std::shared_ptr<ConnectRequest>> pending;
  {
    std::lock_guard lock(tcp_->listMutex);
    pending = tcp_->requests;
  }
  // Each connect thread gets its grace period; one that is still blocked is
  // left to finish on its own (it shares everything it still touches) and its
  // request is released from the list.
  for (auto& req : pending) {
    req->cancelled = true;
    std::unique_lock lock(req->doneMutex);
    if (!req->doneCv.wait_for(lock, kConnectGrace, [&] { return req->done; })) {
      Trace("Terminating 0x%x forcefully\r\n", req->handle);
      tcp_->Remove(req.get());
    }
  }
  if (auto s = tcp_->Take()) s->ShutdownBoth();
  serial_.reset();
  log_.Close();
}

void CRavlenRemoteControl::SetLinkLostNotify(LinkLostNotify onLinkLost) { onLinkLost_ = std::move(onLinkLost); }

void CRavlenRemoteControl::OpenLogFile(const std::string& path, std::int64_t capBytes) {
  log_.Open(path, capBytes);
}

void CRavlenRemoteControl::LogNote(std::string_view text) {
  log_.Raw(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
}

std::uint32_t CRavlenRemoteControl::Fail(std::uint32_t code) {
  log_.Outcome(code);
  return code;
}

// ---------------------------------------------------------------- serial

std::vector<SerialPortInfo> CRavlenRemoteControl::SerialPorts() const { return serialProvider_->Ports(); }

std::uint32_t CRavlenRemoteControl::OpenSerialPort(int index) {
  kind_ = TransportKind::Serial;
  requestedPort_ = index;
  lostPort_ = -1;
  log_.Printf("Opening COM%d\r\n", index + 1);
  if (serial_) return Fail(kErrAlreadyConnected);

  lastOpenError_.clear();
  auto device = serialProvider_->Open(index, lastOpenError_);
  if (!device) {
    Trace("Cannot open serial port %d: %s\r\n", index, lastOpenError_.c_str());
    return Fail(kErrOpenPort);
  }
  return UseSerialDevice(std::move(device), index);
}

std::uint32_t CRavlenRemoteControl::UseSerialDevice(std::unique_ptr<SerialDevice> device, int index) {
  serial_ = std::move(device);
  serial_->SetInterruptFlag(&interrupted_);
  if (!serial_->SetLine(baudRate_)) {
    CloseSerialPort();
    return Fail(kErrCommState);
  }
  if (!serial_->SetTimeouts(timeouts_)) {
    CloseSerialPort();
    return Fail(kErrTimeouts);
  }
  lastOpenedPort_ = index;
  return Fail(kLinkOk);
}

bool CRavlenRemoteControl::ReopenLostSerialPort() {
  const int port = lostPort_;
  if (serial_) return true;
  if (port < 0 || kind_ != TransportKind::Serial || interrupted_) return false;
  // Quiet while the device is still away: it is tried at every poll.
  std::string error;
  auto device = serialProvider_->Open(port, error);
  if (!device) return false;
  log_.Printf("Opening COM%d\r\n", port + 1);
  if (UseSerialDevice(std::move(device), port) != kLinkOk) return false;
  lostPort_ = -1;
  return true;
}

// A failed serial write or read. A device that hung up is closed, and the
// unit counts as lost until the port opens and the unit answers again.
std::uint32_t CRavlenRemoteControl::SerialFailure(std::uint32_t code) {
  if (serial_ && serial_->HungUp()) {
    const int port = lastOpenedPort_;
    Trace("Serial device hung up\r\n");
    CloseSerialPort();
    lostPort_ = port;
    unitHasAnswered_ = false;
    retryCount_ = 0;
    if (!interrupted_ && onLinkLost_) onLinkLost_();
  }
  return Fail(code);
}

void CRavlenRemoteControl::CloseSerialPort() {
  lostPort_ = -1;
  if (serial_) {
    log_.Text("Port closed\r\n");
    log_.Flush();
    serial_.reset();
  }
  Trace("Serial port closed\r\n");
}

int CRavlenRemoteControl::SetBaudRate(std::uint32_t baud) {
  if (!serial_) {
    baudRate_ = baud;  // taken at the next open
    return 1;
  }
  if (!serial_->SetLine(baud)) {
    // The port stays on the rate that works, and so does the next open.
    serial_->SetLine(baudRate_);
    return 0;
  }
  baudRate_ = baud;
  return 1;
}

std::uint32_t CRavlenRemoteControl::SetCommTimeout(int which, std::uint32_t value) {
  if (!serial_) return kErrNotConnected;
  SerialTimeouts t = timeouts_;
  t.Set(which, value);
  if (!serial_->SetTimeouts(t)) return kErrTimeouts;
  timeouts_ = t;
  return kLinkOk;
}

// ---------------------------------------------------------------- TCP

bool CRavlenRemoteControl::HasSocket() const { return tcp_->Socket() != nullptr; }

int CRavlenRemoteControl::LastConnectError() const { return tcp_->lastConnectError; }
std::shared_ptr<StreamSocket> CRavlenRemoteControl::CurrentSocket() const { return tcp_->Socket(); }

std::size_t CRavlenRemoteControl::RunningConnectThreads() const {
  std::lock_guard lock(tcp_->listMutex);
  return tcp_->requests.size();
}

void CRavlenRemoteControl::DropSocket() {
  if (auto s = tcp_->Take()) s->ShutdownBoth();
  unitHasAnswered_ = false;
  ResyncFor(nullptr);  // a new connection owes nothing
}

void CRavlenRemoteControl::SetEthernetAddress(const std::string& ip) {
  ipAddress_ = ip.substr(0, 15);  // a dotted quad: 15 characters at most
  kind_ = TransportKind::Tcp;
  lostPort_ = -1;
  if (HasSocket()) DropSocket();
}

void CRavlenRemoteControl::CloseEthernet() {
  if (HasSocket()) DropSocket();
  Trace("Ethernet connection closed\r\n");
}

std::shared_ptr<CRavlenRemoteControl::ConnectRequest> CRavlenRemoteControl::NewConnectRequest() {
  auto req = std::make_shared<ConnectRequest>();
  req->ip = ipAddress_;
  req->port = tcpPort_;
  req->receiveTimeoutMs = tcpReceiveTimeoutMs_;
  {
    std::lock_guard lock(tcp_->listMutex);
    req->handle = tcp_->nextHandle++;
    tcp_->requests.push_back(req);
  }
  return req;
}

ConnectHandle CRavlenRemoteControl::StartConnectThread(ConnectNotify notify, WaitReady waitFor) {
  if (HasSocket()) return 0;
  auto req = NewConnectRequest();
  req->notify = std::move(notify);
  req->waitFor = std::move(waitFor);
  std::thread(RunConnectThread, tcp_, req).detach();
  return req->handle;
}

int CRavlenRemoteControl::ConnectOnThisThread() {
  if (HasSocket()) return kConnectOk;
  int result = kConnectFailed;
  auto req = NewConnectRequest();
  req->notify = [&result](int r) { result = r; };
  RunConnectThread(tcp_, req);
  return result;
}

void CRavlenRemoteControl::CancelConnectThread(ConnectHandle handle) {
  std::lock_guard lock(tcp_->listMutex);
  for (auto& r : tcp_->requests)
    if (r->handle == handle) r->cancelled = true;
}

void CRavlenRemoteControl::RunConnectThread(std::shared_ptr<TcpShared> shared,
                                            std::shared_ptr<ConnectRequest> req) {
  int result = kConnectOk;
  auto finish = [&] {
    shared->Remove(req.get());
    std::lock_guard lock(req->doneMutex);
    req->done = true;
    req->doneCv.notify_all();
  };
  auto report = [&](int r) {
    result = r;
    if (!req->cancelled && req->notify) req->notify(r);
  };

  if (req->waitFor)
    while (!req->cancelled && !req->waitFor()) std::this_thread::sleep_for(kWaitWindowPoll);

  Trace("Attempt to create socket...\r\n");
  int err = 0;
  std::shared_ptr<StreamSocket> socket = shared->factory->Create(err);
  if (!socket) {
    Trace("Error at socket(): %ld\r\n", static_cast<long>(err));
    shared->lastConnectError = err;
    report(kConnectFailed);
    return finish();
  }
  if (!req->cancelled && !shared->factory->SetReceiveTimeout(*socket, req->receiveTimeoutMs, err))
    Trace("setsockopt failed error %d\r\n", err);
  if (!req->cancelled) {
    if (!shared->factory->Connect(*socket, req->ip, req->port, err, &req->cancelled) && !req->cancelled) {
      Trace("Failed to connect. Error %ld\r\n", static_cast<long>(err));
      socket.reset();
      shared->lastConnectError = err;
      report(kConnectFailed);
      return finish();
    }
    if (!req->cancelled) Trace("Socket succesfully connected\r\n");
  }
  if (!req->cancelled) {
    shared->Store(socket);
    shared->lastConnectError = 0;
    report(kConnectOk);
    return finish();
  }
  Trace("Thread cancelled\r\n");
  socket->ShutdownBoth();
  socket.reset();
  Trace("Socket shutdown and closed\r\n");
  finish();
}

std::uint32_t CRavlenRemoteControl::Reconnect() {
  int err = 0;
  std::shared_ptr<StreamSocket> s = sockets_->Create(err);
  if (!s) {
    Trace("Error at socket(): %ld\r\n", static_cast<long>(err));
    return kErrRead;
  }
  if (!sockets_->SetReceiveTimeout(*s, tcpReceiveTimeoutMs_, err)) {
    Trace("setsockopt failed error %d\r\n", err);
    return kErrRead;
  }
  if (!sockets_->Connect(*s, ipAddress_, tcpPort_, err, nullptr)) {
    Trace("Failed to connect. Error %ld\r\n", static_cast<long>(err));
    return kLinkOk;
  }
  tcp_->Store(std::move(s));
  unitHasAnswered_ = true;
  return kLinkOk;
}

// A failed send or receive: close the socket if the flag says so and, if
// asked, connect again for the next exchange. Returns a nonzero code only
// when the reconnection could not even create or configure its socket.
std::uint32_t CRavlenRemoteControl::HandleTcpFailure(bool closeFlag) {
  if (!closeFlag) return kLinkOk;
  DropSocket();
  if (reconnectAfterClose_) return Reconnect();
  return kLinkOk;
}

bool CRavlenRemoteControl::IsConnected() const {
  if (kind_ == TransportKind::Serial) return serial_ != nullptr;
  return unitHasAnswered_;
}

void CRavlenRemoteControl::Interrupt(bool on) {
  interrupted_ = on;
  if (on)
    if (auto socket = tcp_->Socket()) socket->ShutdownBoth();
}

void CRavlenRemoteControl::ProbeUnit() {
  LinkReply reply;
  unitHasAnswered_ = SendCommand(AddressQueryNoStx(), reply, 1) == kLinkOk;
}

// ---------------------------------------------------------------- exchange

void CRavlenRemoteControl::LogSendingLine(const std::vector<std::uint8_t>& frame, int logLevel) {
  if (!log_.IsOpen() || logLevel <= 0) return;
  const TimeOfDay t = clock_->UtcTimeOfDay();
  // "%.2d:%.2d:%.2d Sending message: " without printf on every exchange.
  char stamp[] = "00:00:00 Sending message: ";
  auto put2 = [&](int at, int v) {
    v = v < 0 ? 0 : v % 100;
    stamp[at] = static_cast<char>('0' + v / 10);
    stamp[at + 1] = static_cast<char>('0' + v % 10);
  };
  put2(0, t.hour);
  put2(3, t.minute);
  put2(6, t.second);
  log_.Text(stamp);
  if (logLevel == 2) {
    log_.MaskedHex(frame.data(), frame.size());
    log_.MaskedChars(frame.data(), frame.size());
  } else {
    log_.Hex(frame.data(), frame.size());
    log_.Raw(frame.data(), frame.size());
  }
  log_.Text("\r\n");
}

std::uint32_t CRavlenRemoteControl::SendSerial(const std::vector<std::uint8_t>& frame) {
  return serial_->Write(frame.data(), frame.size()) ? kLinkOk : kErrWrite;
}

// A level-2 exchange hides the reply's value as it hides the request's: a
// unit may echo the key it was sent.
void CRavlenRemoteControl::LogReplyHex(const std::uint8_t* buf, std::size_t count, bool mask) {
  if (!mask) return log_.Hex(buf, count);
  const ByteSpan value = ReplyValueSpan(buf, count);
  log_.HexHiding(buf, count, value.begin, value.end);
}

std::int64_t CRavlenRemoteControl::SerialReplyTimeoutMs(bool longRead) const {
  const std::int64_t whole = timeouts_.ReplyTimeoutMs(baudRate_, kMaxSerialReply);
  if (!longRead) return whole;
  return whole + (kLongReadSilentReads - 1) * timeouts_.ReadByteTimeoutMs();
}

// The reply byte by byte, each read within the per-byte time-out, the whole
// reply within SerialReplyTimeoutMs: a reply cut off by either ends with what
// arrived, as a silent line does.
std::uint32_t CRavlenRemoteControl::ReadSerialReply(bool longRead, bool logging, bool mask, std::uint8_t* buf,
                                                    std::size_t& count) {
  const std::int64_t start = clock_->NowMs();
  const std::int64_t deadline = start + SerialReplyTimeoutMs(longRead);
  count = 0;
  bool stxSeen = false;
  bool longMark = longRead;
  int silentWhileMarked = 0;
  for (;;) {
    const std::int64_t left = deadline - clock_->NowMs();
    if (left <= 0 || interrupted_) break;
    std::uint8_t byte = 0;
    const ReadOutcome r = serial_->ReadByteWithin(byte, left);
    if (r == ReadOutcome::Error) return kErrRead;
    const bool arrived = r == ReadOutcome::Byte;
    if (arrived) {
      silentWhileMarked = 0;
      if (byte == kStx) stxSeen = true;
      buf[count++] = byte;
      if (byte == kEtx && !longMark) break;
      if (count == kLongReadLength) longMark = false;
    }
    if (count == kMaxSerialReply + 1) return kErrRead;
    if (count > 32 && !stxSeen) return kErrRead;
    if (longMark) {
      if (!arrived && ++silentWhileMarked >= kLongReadSilentReads) break;
      continue;
    }
    if (!arrived) break;
  }
  buf[count] = 0;
  if (logging) {
    log_.Printf("%d bytes (%.2lfs) ", static_cast<int>(count),
                static_cast<double>(clock_->NowMs() - start) / 1000.0);
    LogReplyHex(buf, count, mask);
  }
  return kLinkOk;
}

std::uint32_t CRavlenRemoteControl::SendCommand(std::string_view request, LinkReply& reply, int logLevel,
                                                int waitBeforeReadMs) {
  const bool serial = kind_ == TransportKind::Serial;
  if (interrupted_ || (serial ? !serial_ : !HasSocket())) return Fail(kErrNotConnected);

  std::vector<std::uint8_t>& frame = frame_;  // reused: no allocation per exchange
  if (!BuildRequestFrame(request, serial ? kMaxSerialRequestFrame : kMaxTcpRequestFrame, frame)) {
    Trace("Request of %zu bytes refused: longer than a frame can carry\r\n", request.size());
    return Fail(kErrInvalidCommand);
  }
  // Judged on the frame, so a request handed over without its STX counts too.
  const bool longRead = IsLongReadFrame(frame.data(), frame.size());
  const bool logging = log_.IsOpen() && logLevel > 0;
  const bool mask = logLevel == 2;

  std::uint8_t buf[kReplyBuffer] = {};
  std::size_t count = 0;
  for (;;) {
    if (serial) serial_->PurgeInput();
    LogSendingLine(frame, logLevel);
    lastRequest_.assign(frame.begin(), frame.end());

    if (const std::uint32_t rc = serial ? SendSerial(frame) : SendTcp(frame))
      return serial ? SerialFailure(rc) : Fail(rc);
    if (waitBeforeReadMs > 0) clock_->SleepMs(waitBeforeReadMs);
    if (logging) log_.Text("Response: ");

    if (const std::uint32_t rc = serial ? ReadSerialReply(longRead, logging, mask, buf, count)
                                        : ReadTcpReply(logging, mask, buf, sizeof buf, count))
      return serial ? SerialFailure(rc) : Fail(rc);

    if (!serial) break;
    if (count > 0) {
      retryCount_ = 0;
      break;
    }
    // A silent serial unit: once it has answered before, send the request
    // again, up to three times in all; otherwise give up at once.
    if (interrupted_) return Fail(kErrNotConnected);  // closing: not a lost unit
    if (unitHasAnswered_ && ++retryCount_ < kMaxSilentReplies) {
      if (logging) log_.Text("Retry sending message\r\n");
      continue;
    }
    unitHasAnswered_ = false;
    if (onLinkLost_) onLinkLost_();
    return Fail(kErrTimedOut);
  }

  const std::size_t etx = FindEtx(buf, count);
  if (etx == count) {
    Trace(serial ? "No ETX. dwBytesRead = %d\r\n" : "No ETX. nBytesRead = %d\r\n", static_cast<int>(count));
    return Fail(kErrNoEtx);
  }
  const std::size_t length = etx + 1;
  if (logging) {
    static constexpr std::uint8_t kZero = 0;
    if (mask) {
      const ByteSpan value = ReplyValueSpan(buf, length);
      log_.RawHiding(buf, length, value.begin, value.end);
    } else {
      log_.Raw(buf, length);
    }
    log_.Raw(&kZero, 1);
    log_.Text("\r\n");
  }
  lastReply_.assign(reinterpret_cast<const char*>(buf), length);

  DecodedReply decoded = DecodeReply(buf, length);
  if (decoded.code) return Fail(decoded.code);
  reply.status = static_cast<unsigned char>(decoded.status);  // '1' or 'E'
  reply.value = std::move(decoded.value);
  unitHasAnswered_ = true;
  return Fail(kLinkOk);
}

int ConnectAndWait(CRavlenRemoteControl& link, int timeoutMs) {
  struct Result {
    std::mutex m;
    std::condition_variable cv;
    int value = -1;
  };
  // Shared with the thread: a cancelled attempt may still be running later.
  auto result = std::make_shared<Result>();
  const ConnectHandle handle = link.StartConnectThread([result](int r) {
    std::lock_guard lock(result->m);
    result->value = r;
    result->cv.notify_all();
  });
  if (handle == 0) return link.HasSocket() ? kConnectOk : kConnectFailed;
  std::unique_lock lock(result->m);
  if (!result->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return result->value >= 0; })) {
    lock.unlock();
    link.CancelConnectThread(handle);
    return -1;
  }
  return result->value;
}

}  // namespace vecta::link
