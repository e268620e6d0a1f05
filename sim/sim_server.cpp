#include "sim_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "link/frame.h"
#include "platform/error_text.h"

namespace vecta::sim {

using link::kEtx;
using link::kStx;

namespace {

// A serial frame longer than this cannot be a request; the bytes collected
// so far are dropped and the scanner waits for the next STX.
constexpr std::size_t kMaxSerialFrame = 255;
// Unread input from a peer that never completes an envelope is dropped
// beyond this.
constexpr std::size_t kMaxTcpPending = 4096;
// How long a write may wait for room (a pty nobody reads, a stalled peer)
// before the reply is given up.
constexpr int kWriteTimeoutMs = 1000;

std::string Errno(const char* what) { return std::string(what) + ": " + platform::ErrorText(errno); }

bool SetNonBlocking(int fd) {
  const int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

speed_t SpeedFor(std::uint32_t baud) {
  switch (baud) {
    case 1200:
      return B1200;
    case 2400:
      return B2400;
    case 4800:
      return B4800;
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    case 230400:
      return B230400;
    case 460800:
      return B460800;
    case 921600:
      return B921600;
    default:
      return 0;
  }
}

timespec ToTimespec(std::chrono::steady_clock::time_point t) {
  const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  timespec ts;
  ts.tv_sec = static_cast<time_t>(ns / 1000000000);
  ts.tv_nsec = static_cast<long>(ns % 1000000000);
  return ts;
}

}  // namespace

SimServer::SimServer() = default;

SimServer::~SimServer() { Stop(); }

bool SimServer::Start(const SimOptions& options, std::string& error) {
  if (running_) {
    error = "already running";
    return false;
  }
  if (!options.tcp && !options.pty && options.serialDevice.empty()) {
    error = "no transport to serve";
    return false;
  }
  options_ = options;
  unit_ = std::make_unique<SimUnit>(options_.unit, options_.faults);
  if (!unit_->SetupError().empty()) {
    error = unit_->SetupError();
    return false;
  }
  stopping_ = false;
  tcpConnections_ = 0;
  stopFd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (stopFd_ < 0) {
    error = Errno("eventfd");
    return false;
  }
  if ((options_.tcp && !OpenTcp(error)) || (options_.pty && !OpenPty(error)) ||
      (!options_.serialDevice.empty() && !OpenSerialDevice(error))) {
    CloseAll();
    return false;
  }
  if (listenFd_ >= 0) threads_.emplace_back([this] { TcpLoop(); });
  for (auto& line : lines_) threads_.emplace_back([this, l = line.get()] { SerialLoop(l); });
  running_ = true;
  return true;
}

void SimServer::Stop() {
  if (!running_) return;
  stopping_ = true;
  const std::uint64_t one = 1;
  if (write(stopFd_, &one, sizeof one) < 0) {
    // The flag alone still ends the loops at their next wake-up.
  }
  {
    std::lock_guard lock(connectionsMutex_);
    for (int fd : connectionFds_) shutdown(fd, SHUT_RDWR);
  }
  for (auto& t : threads_) t.join();
  threads_.clear();
  // The accept loop has ended: no connection thread is added any more.
  std::vector<ConnectionThread> connections;
  {
    std::lock_guard lock(connectionsMutex_);
    connections.swap(connections_);
  }
  for (auto& t : connections) t.thread.join();
  CloseAll();
  // Every change is saved as it is made; this catches one whose save failed.
  unit_->SaveState();
  running_ = false;
}

void SimServer::CloseAll() {
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
  tcpPort_ = 0;
  for (auto& line : lines_) {
    if (line->fd >= 0) close(line->fd);
    if (line->slaveFd >= 0) close(line->slaveFd);
  }
  lines_.clear();
  if (!ptyLink_.empty()) {
    // Only remove the link if it is still ours.
    char target[PATH_MAX];
    const ssize_t n = readlink(ptyLink_.c_str(), target, sizeof target - 1);
    if (n >= 0 && std::string(target, static_cast<std::size_t>(n)) == ptyPath_) unlink(ptyLink_.c_str());
    ptyLink_.clear();
  }
  ptyPath_.clear();
  if (stopFd_ >= 0) close(stopFd_);
  stopFd_ = -1;
}

bool SimServer::OpenTcp(std::string& error) {
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(options_.tcpPort);
  if (inet_pton(AF_INET, options_.tcpAddress.c_str(), &addr.sin_addr) != 1) {
    error = "not an IPv4 address: " + options_.tcpAddress;
    return false;
  }
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) {
    error = Errno("socket");
    return false;
  }
  const int on = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    error = Errno(("bind " + options_.tcpAddress + ":" + std::to_string(options_.tcpPort)).c_str());
    return false;
  }
  if (listen(listenFd_, 8) != 0) {
    error = Errno("listen");
    return false;
  }
  socklen_t len = sizeof addr;
  if (getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    error = Errno("getsockname");
    return false;
  }
  tcpPort_ = ntohs(addr.sin_port);
  return true;
}

bool SimServer::OpenPty(std::string& error) {
  auto line = std::make_unique<SerialLine>();
  line->fd = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (line->fd < 0) {
    error = Errno("posix_openpt");
    return false;
  }
  char name[128];
  if (grantpt(line->fd) != 0 || unlockpt(line->fd) != 0 || ptsname_r(line->fd, name, sizeof name) != 0) {
    error = Errno("pseudo-terminal setup");
    close(line->fd);
    return false;
  }
  line->name = name;
  // Holding the slave open keeps the master readable while no client has it
  // open (no EIO, no POLLHUP), and lets us set raw mode once for everyone:
  // no echo, no line editing, no CR/LF translation.
  line->slaveFd = open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (line->slaveFd < 0 || tcgetattr(line->slaveFd, &tio) != 0) {
    error = Errno("pty slave");
    if (line->slaveFd >= 0) close(line->slaveFd);
    close(line->fd);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  tcsetattr(line->slaveFd, TCSANOW, &tio);
  SetNonBlocking(line->fd);
  ptyPath_ = line->name;
  lines_.push_back(std::move(line));

  if (!options_.ptyLink.empty()) {
    struct stat st {};
    if (lstat(options_.ptyLink.c_str(), &st) == 0) {
      if (!S_ISLNK(st.st_mode)) {
        error = options_.ptyLink + " exists and is not a symlink";
        return false;
      }
      unlink(options_.ptyLink.c_str());
    }
    if (symlink(ptyPath_.c_str(), options_.ptyLink.c_str()) != 0) {
      error = Errno(("symlink " + options_.ptyLink).c_str());
      return false;
    }
    ptyLink_ = options_.ptyLink;
  }
  return true;
}

bool SimServer::OpenSerialDevice(std::string& error) {
  const speed_t speed = SpeedFor(options_.serialBaud);
  if (speed == 0) {
    error = "unsupported baud rate " + std::to_string(options_.serialBaud);
    return false;
  }
  auto line = std::make_unique<SerialLine>();
  line->name = options_.serialDevice;
  line->fd = open(line->name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (line->fd < 0) {
    error = Errno(line->name.c_str());
    return false;
  }
  termios tio{};
  if (tcgetattr(line->fd, &tio) != 0) {
    error = Errno(line->name.c_str());
    close(line->fd);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(line->fd, TCSANOW, &tio) != 0) {
    error = Errno(line->name.c_str());
    close(line->fd);
    return false;
  }
  tcflush(line->fd, TCIOFLUSH);
  lines_.push_back(std::move(line));
  return true;
}

bool SimServer::WaitUntil(Clock::time_point deadline) const {
  for (;;) {
    if (stopping_) return false;
    const auto now = Clock::now();
    if (now >= deadline) return true;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    if (left > 2) {
      pollfd p{stopFd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(std::min<long long>(left - 1, INT_MAX))) > 0) return false;
    } else {
      // The last stretch at full precision, against the same clock.
      const timespec ts = ToTimespec(deadline);
      clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
    }
  }
}

bool SimServer::WriteAll(int fd, const std::uint8_t* data, std::size_t size, bool socket) const {
  const auto deadline = Clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  while (size > 0) {
    const ssize_t n = socket ? send(fd, data, size, MSG_NOSIGNAL) : write(fd, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || stopping_) return false;
    pollfd p[2] = {{fd, POLLOUT, 0}, {stopFd_, POLLIN, 0}};
    if (poll(p, 2, static_cast<int>(left)) < 0 && errno != EINTR) return false;
    if (p[1].revents) return false;
  }
  return true;
}

void SimServer::Transcript(const std::string& line) {
  if (!options_.transcript) return;
  std::lock_guard lock(transcriptMutex_);
  options_.transcript(line);
}

// ---- TCP ----

void SimServer::TcpLoop() {
  while (!stopping_) {
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {listenFd_, POLLIN, 0}};
    if (poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    if (!(fds[1].revents & POLLIN)) continue;
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    // Replies must leave as one segment, or as exactly the two a split
    // reply is made of.
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    ++tcpConnections_;
    std::lock_guard lock(connectionsMutex_);
    // Threads of clients that have gone are joined as new ones come.
    std::erase_if(connections_, [](ConnectionThread& t) {
      if (!*t.done) return false;
      t.thread.join();
      return true;
    });
    if (stopping_) {
      close(fd);
      break;
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    connectionFds_.push_back(fd);
    connections_.push_back({std::thread([this, fd, done] {
                              ServeConnection(fd);
                              *done = true;
                            }),
                            done});
  }
}

// One client: a blocking receive, so each request is answered as soon as it
// arrives. Stop() shuts the socket down to end the wait.
void SimServer::ServeConnection(int fd) {
  Bytes pending;
  int envelopes = 0;
  std::uint8_t buf[4096];
  bool keep = true;
  while (keep && !stopping_) {
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.insert(pending.end(), buf, buf + n);
    while (keep && pending.size() >= 8) {
      // The first block carries the length byte; decipher a copy to learn
      // how many blocks the envelope spans.
      std::uint8_t first[8];
      std::memcpy(first, pending.data(), 8);
      cipher_.DecryptBlock(first);
      const std::size_t total = (static_cast<std::size_t>(first[0]) + 1 + 7) / 8 * 8;
      if (pending.size() < total) break;
      Bytes envelope(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
      pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(total));
      link::OpenEnvelopeBlocks(cipher_, envelope.data(), envelope.size(), envelope.size());
      keep = HandleEnvelope(fd, envelope, ++envelopes);
      if (stopping_) keep = false;
    }
    if (keep && pending.size() > kMaxTcpPending) pending.clear();
  }
  {
    std::lock_guard lock(connectionsMutex_);
    std::erase(connectionFds_, fd);
  }
  close(fd);
}

bool SimServer::HandleEnvelope(int fd, const Bytes& envelope, int envelopeNumber) {
  const std::size_t length = envelope[0];
  const std::uint8_t* frame = envelope.data() + 1;
  const int closeAfter = options_.faults.closeAfter;
  if (closeAfter >= 0 && envelopeNumber > closeAfter) {
    if (options_.transcript) Transcript(FormatTranscript("rx", frame, length, "closing connection"));
    return false;
  }
  SimReply reply = unit_->Handle(frame, length);
  if (options_.transcript)
    Transcript(FormatTranscript("rx", frame, length, reply.answer ? std::string() : reply.note));
  if (!reply.answer) return true;

  // The length byte cannot count past 255: garbage in front gives way first.
  if (reply.bytes.size() > 255)
    reply.bytes.erase(reply.bytes.begin(),
                      reply.bytes.begin() + static_cast<std::ptrdiff_t>(reply.bytes.size() - 255));
  const Bytes sealed = link::SealEnvelope(cipher_, reply.bytes.data(), reply.bytes.size());
  if (options_.faults.delayMs > 0 && !WaitUntil(Clock::now() + std::chrono::milliseconds(options_.faults.delayMs)))
    return false;
  if (options_.transcript) Transcript(FormatTranscript("tx", reply.bytes.data(), reply.bytes.size(), reply.note));
  if (options_.faults.splitReply) {
    // The client takes a reply in one receive: it gets the first block only.
    if (!WriteAll(fd, sealed.data(), 8, true)) return false;
    if (!WaitUntil(Clock::now() + std::chrono::milliseconds(options_.faults.splitPauseMs))) return false;
    return WriteAll(fd, sealed.data() + 8, sealed.size() - 8, true);
  }
  return WriteAll(fd, sealed.data(), sealed.size(), true);
}

// ---- serial lines ----

void SimServer::SerialLoop(SerialLine* line) {
  Bytes frame;
  bool inFrame = false;
  Clock::time_point frameStart{};
  Clock::time_point lastByte{};
  const auto stale = std::chrono::milliseconds(options_.serialStaleMs);

  while (!stopping_) {
    int timeout = -1;
    if (inFrame) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(lastByte + stale - Clock::now()).count();
      timeout = static_cast<int>(std::max<long long>(left, 0) + 1);
    }
    pollfd fds[2] = {{stopFd_, POLLIN, 0}, {line->fd, POLLIN, 0}};
    const int ready = poll(fds, 2, timeout);
    if (ready < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (fds[0].revents) break;
    const auto now = Clock::now();
    if (!(fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
      // A partial frame the client gave up on: start afresh.
      if (inFrame && now - lastByte >= stale) {
        inFrame = false;
        frame.clear();
      }
      continue;
    }
    std::uint8_t buf[512];
    const ssize_t n = read(line->fd, buf, sizeof buf);
    if (n <= 0) {
      if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // A device that went away: keep trying now and then rather than spin.
      if (!WaitUntil(Clock::now() + std::chrono::milliseconds(50))) break;
      continue;
    }
    lastByte = now;
    for (ssize_t i = 0; i < n; ++i) {
      const std::uint8_t c = buf[i];
      if (c == kStx) {
        // A request never holds STX inside; a new STX abandons any partial
        // frame before it.
        frame.assign(1, c);
        inFrame = true;
        frameStart = now;
      } else if (inFrame) {
        frame.push_back(c);
        if (c == kEtx) {
          inFrame = false;
          HandleSerialFrame(*line, frame, frameStart);
          frame.clear();
        } else if (frame.size() >= kMaxSerialFrame) {
          inFrame = false;
          frame.clear();
        }
      }
      // Bytes between frames are line noise and are dropped.
    }
  }
}

void SimServer::HandleSerialFrame(const SerialLine& line, const Bytes& frame, Clock::time_point firstByte) {
  SimReply reply = unit_->Handle(frame);
  if (options_.transcript)
    Transcript(FormatTranscript("rx", frame.data(), frame.size(), reply.answer ? std::string() : reply.note));
  if (!reply.answer) return;
  auto earliest = Clock::now();
  if (options_.faults.paceBaud > 0) {
    // The request took its own wire time to arrive; the reply cannot begin
    // before the request could have finished.
    const auto wire = std::chrono::nanoseconds(static_cast<long long>(frame.size()) * 10 * 1000000000LL /
                                               options_.faults.paceBaud);
    earliest = std::max(earliest, firstByte + wire);
  }
  earliest += std::chrono::milliseconds(options_.faults.delayMs);
  if (!WaitUntil(earliest)) return;
  if (options_.transcript) Transcript(FormatTranscript("tx", reply.bytes.data(), reply.bytes.size(), reply.note));
  WriteSerial(line.fd, reply.bytes, earliest);
}

bool SimServer::WriteSerial(int fd, const Bytes& bytes, Clock::time_point start) {
  const std::size_t split = options_.faults.splitReply ? bytes.size() / 2 : bytes.size();
  const auto pause = std::chrono::milliseconds(options_.faults.splitPauseMs);
  if (options_.faults.paceBaud <= 0) {
    if (!WriteAll(fd, bytes.data(), split, false)) return false;
    if (split == bytes.size()) return true;
    if (!WaitUntil(Clock::now() + pause)) return false;
    return WriteAll(fd, bytes.data() + split, bytes.size() - split, false);
  }
  // On a real line a byte is there only once its last bit has arrived: byte k
  // is delivered at start + (k + 1) byte times (plus the split pause past the
  // split point), each against the absolute schedule so sleeps never add up.
  const auto byteTime = std::chrono::nanoseconds(10 * 1000000000LL / options_.faults.paceBaud);
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    auto at = start + byteTime * static_cast<long long>(k + 1);
    if (k >= split) at += pause;
    if (!WaitUntil(at)) return false;
    if (!WriteAll(fd, &bytes[k], 1, false)) return false;
  }
  return true;
}

}  // namespace vecta::sim
