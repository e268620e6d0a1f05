#include "link/serial_port.h"

#include "link/rfc2217.h"
#include "link/serial_speed.h"
#include "platform/error_text.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <utility>

namespace vecta::link {

// ---------------------------------------------------------------------------
// Time-outs

std::int64_t SerialTimeouts::ReadByteTimeoutMs() const {
  if (readTotalMultiplier == 0 && readTotalConstant == 0) return readInterval;
  return static_cast<std::int64_t>(readTotalMultiplier) + readTotalConstant;
}

std::int64_t SerialTimeouts::WriteTimeoutMs(std::size_t bytes) const {
  if (writeTotalMultiplier == 0 && writeTotalConstant == 0) return 1000;
  // Clamped so that a huge size times a large multiplier cannot wrap round
  // into a short time-out.
  const auto perByte = static_cast<std::uint64_t>(writeTotalMultiplier);
  const auto count = static_cast<std::uint64_t>(bytes);
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(INT64_MAX) / 2;
  std::uint64_t total = (count != 0 && perByte > kMax / count) ? kMax : perByte * count;
  total = std::min<std::uint64_t>(total + writeTotalConstant, kMax);
  return static_cast<std::int64_t>(total);
}

std::int64_t SerialTimeouts::ReplyTimeoutMs(std::uint32_t baud, std::size_t bytes) const {
  const auto n = static_cast<std::int64_t>(bytes);
  const std::int64_t lineMs =
      (n * 10 * 1000 + std::max<std::uint32_t>(baud, 1) - 1) / std::max<std::uint32_t>(baud, 1);
  if (readTotalMultiplier == 0 && readTotalConstant == 0) return lineMs + readInterval;
  return lineMs + static_cast<std::int64_t>(readTotalMultiplier) * n + readTotalConstant;
}

std::uint32_t SerialTimeouts::Get(int which) const {
  switch (which) {
    case 0:
      return readInterval;
    case 1:
      return readTotalMultiplier;
    case 2:
      return readTotalConstant;
    case 3:
      return writeTotalMultiplier;
    case 4:
      return writeTotalConstant;
    default:
      return 0;
  }
}

bool SerialTimeouts::Set(int which, std::uint32_t value) {
  switch (which) {
    case 0:
      readInterval = value;
      return true;
    case 1:
      readTotalMultiplier = value;
      return true;
    case 2:
      readTotalConstant = value;
      return true;
    case 3:
      writeTotalMultiplier = value;
      return true;
    case 4:
      writeTotalConstant = value;
      return true;
    default:
      return false;
  }
}

namespace {

using SteadyClock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, rounded up so a wait never ends before
// it, and clamped to what poll() accepts.
int RemainingMs(SteadyClock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  if (left <= 0) return 0;
  return left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// A wait that an interrupt flag can end is taken in slices of this length.
constexpr int kInterruptSliceMs = 50;

SteadyClock::time_point DeadlineIn(std::int64_t ms) {
  // Keep far-away deadlines from overflowing the clock's representation.
  constexpr std::int64_t kFarMs = std::int64_t{1} << 40;  // about 35 years
  return SteadyClock::now() + std::chrono::milliseconds(std::min(ms, kFarMs));
}

bool BaudToSpeed(std::uint32_t baud, speed_t& speed) {
  static constexpr std::pair<std::uint32_t, speed_t> kRates[] = {
      {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
      {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
      {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
      {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
      {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
      {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
  };
  for (const auto& [rate, code] : kRates) {
    if (rate == baud) {
      speed = code;
      return true;
    }
  }
  return false;
}

}  // namespace

bool IsStandardBaudRate(std::uint32_t baud) {
  speed_t ignored = 0;
  return BaudToSpeed(baud, ignored);
}

namespace {

class PosixSerialDevice final : public SerialDevice {
 public:
  explicit PosixSerialDevice(int fd) : fd_(fd) {}
  ~PosixSerialDevice() override {
    // Clear the exclusive flag first: on a pseudo-terminal whose other side
    // stays open the tty outlives this descriptor, and the flag with it,
    // which would refuse the next open by anyone but root.
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);  // also releases the flock
  }
  PosixSerialDevice(const PosixSerialDevice&) = delete;
  PosixSerialDevice& operator=(const PosixSerialDevice&) = delete;

  // A line the driver cannot set up as asked is put back as it was, so the
  // port keeps working at its old rate.
  bool SetLine(std::uint32_t baud) override {
    if (baud == 0) return false;  // a speed of 0 hangs the line up
    SavedLine before;
    const bool saved = SaveLine(fd_, before);
    if (ConfigureLine(baud)) return true;
    if (saved) RestoreLine(fd_, before);
    return false;
  }

  bool ConfigureLine(std::uint32_t baud) {
    // Rates outside the standard table are set through termios2 once the
    // rest of the line is.
    speed_t speed = B9600;
    const bool standard = BaudToSpeed(baud, speed);
    termios tio{};
    if (::tcgetattr(fd_, &tio) != 0) return false;

    // Raw bytes both ways: no break/parity marking, no stripping, no CR/NL
    // translation, no XON/XOFF interpretation of the data (a frame may carry
    // any byte), no output processing, no echo, no line editing, no signals.
    tio.c_iflag &= ~static_cast<tcflag_t>(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON);
    tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
    tio.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    // 8N1, receiver on, modem status lines ignored. Hardware flow control and
    // the rest of c_cflag stay as the port has them.
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB);
    tio.c_cflag |= CS8 | CREAD | CLOCAL;
    // One byte makes the line readable; poll() would otherwise wait for
    // VMIN bytes before reporting input.
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (standard && (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0)) return false;
    if (::tcsetattr(fd_, TCSANOW, &tio) != 0) return false;
    // Both speeds once more as the kernel holds them, so that one left over
    // from an arbitrary rate cannot stay behind.
    if (!SetLineSpeed(fd_, baud, standard ? static_cast<unsigned>(speed) : 0u)) return false;

    // tcsetattr succeeds when any part of the request was applied; a driver
    // that cannot do the rate keeps its old one, so check what it took.
    termios now{};
    if (::tcgetattr(fd_, &now) != 0) return false;
    if ((now.c_cflag & CSIZE) != CS8 || (now.c_cflag & (PARENB | CSTOPB)) != 0 ||
        (now.c_lflag & (ICANON | ECHO)) != 0)
      return false;
    if (standard) return ::cfgetospeed(&now) == speed && ::cfgetispeed(&now) == speed;
    std::uint32_t in = 0, out = 0;
    return ReadLineSpeeds(fd_, in, out) && CloseTo(in, baud) && CloseTo(out, baud);
  }

  // A driver may settle on the nearest rate its clock divides to; within 2%
  // both ends still read each other's bytes.
  static bool CloseTo(std::uint32_t actual, std::uint32_t wanted) {
    const std::uint64_t diff = actual > wanted ? actual - wanted : wanted - actual;
    return diff * 50 <= wanted;
  }

  bool SetTimeouts(const SerialTimeouts& timeouts) override {
    timeouts_ = timeouts;
    return true;
  }

  void PurgeInput() override {
    head_ = tail_ = 0;
    ::tcflush(fd_, TCIFLUSH);
  }

  bool Write(const std::uint8_t* data, std::size_t size) override {
    const auto deadline = DeadlineIn(timeouts_.WriteTimeoutMs(size));
    std::size_t done = 0;
    while (done < size) {
      const ssize_t n = ::write(fd_, data + done, size - done);
      if (n > 0) {
        done += static_cast<std::size_t>(n);
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return WriteFailed(errno);
      // The output buffer is full: wait for room until the deadline.
      for (;;) {
        const int wait = RemainingMs(deadline);
        if (wait == 0 || Interrupted()) return false;
        pollfd p{fd_, POLLOUT, 0};
        const int r = ::poll(&p, 1, Slice(wait));
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return false;
        if (r == 0) continue;  // the deadline or the interrupt flag decides
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return WriteFailed(EIO);
        if (p.revents & POLLOUT) break;
      }
    }
    return true;
  }

  // The reply is taken one byte per call, but whatever the line holds is
  // read in one go and handed out from a small buffer: a byte already
  // received is there at once, as it would be from the driver's own buffer.
  void SetInterruptFlag(const std::atomic<bool>* flag) override { interrupt_ = flag; }

  ReadOutcome ReadByte(std::uint8_t& out) override { return ReadByteWithin(out, INT64_MAX); }

  ReadOutcome ReadByteWithin(std::uint8_t& out, std::int64_t maxWaitMs) override {
    if (head_ == tail_) {
      const ReadOutcome r = Fill(std::min(timeouts_.ReadByteTimeoutMs(), maxWaitMs));
      if (r != ReadOutcome::Byte) return r;
    }
    out = buffer_[head_++];
    return ReadOutcome::Byte;
  }

  bool HungUp() const override { return hungUp_; }

 private:
  // Waits up to `waitMs` for input and reads what there is. The
  // read comes first: more often than not the unit's bytes are already
  // there, and a poll before them would be one more wake-up.
  ReadOutcome Fill(std::int64_t waitMs) {
    head_ = tail_ = 0;
    const auto deadline = DeadlineIn(waitMs);
    for (bool polled = false;;) {
      const ssize_t n = ::read(fd_, buffer_, sizeof buffer_);
      if (n > 0) {
        tail_ = static_cast<std::size_t>(n);
        return ReadOutcome::Byte;
      }
      if (n == 0) return ReadFailed(EIO);  // end of file: the line is gone
      if (errno == EINTR) continue;
      if (errno != EAGAIN && errno != EWOULDBLOCK) return ReadFailed(errno);  // EIO after a hang-up
      if (polled && RemainingMs(deadline) == 0) return ReadOutcome::Timeout;
      if (Interrupted()) return ReadOutcome::Timeout;
      pollfd p{fd_, POLLIN, 0};
      const int wait = RemainingMs(deadline);
      const int r = ::poll(&p, 1, Slice(wait));
      polled = true;
      if (r < 0) {
        if (errno == EINTR) continue;
        return ReadOutcome::Error;
      }
      if (r == 0) {
        if (wait == Slice(wait)) return ReadOutcome::Timeout;
        continue;  // a slice ended: look at the flag, then wait on
      }
      // Hang-up or error with nothing left to read.
      if ((p.revents & POLLIN) == 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL))) return ReadFailed(EIO);
    }
  }

  // A failed read or write. The errors of a device that has gone away mark
  // it hung up.
  void NoteFailure(int error) {
    if (error == EIO || error == ENXIO || error == ENODEV || error == EPIPE) hungUp_ = true;
  }
  ReadOutcome ReadFailed(int error) {
    NoteFailure(error);
    return ReadOutcome::Error;
  }
  bool WriteFailed(int error) {
    NoteFailure(error);
    return false;
  }

  bool Interrupted() const { return interrupt_ && interrupt_->load(std::memory_order_relaxed); }
  // Without an interrupt flag a wait is one poll; with one it is cut into slices.
  int Slice(int wait) const { return interrupt_ ? std::min(wait, kInterruptSliceMs) : wait; }

  const std::atomic<bool>* interrupt_ = nullptr;
  int fd_;
  SerialTimeouts timeouts_;
  std::uint8_t buffer_[256];
  std::size_t head_ = 0, tail_ = 0;
  bool hungUp_ = false;
};

// Natural order: runs of digits compare by value, so ttyS2 sorts before ttyS10.
bool NaturalLess(const std::string& a, const std::string& b) {
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
    const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
    if (da && db) {
      std::size_t ei = i, ej = j;
      while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei]))) ++ei;
      while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej]))) ++ej;
      // Compare the values without leading zeros: by length, then digit by digit.
      std::size_t si = i, sj = j;
      while (si + 1 < ei && a[si] == '0') ++si;
      while (sj + 1 < ej && b[sj] == '0') ++sj;
      if (ei - si != ej - sj) return ei - si < ej - sj;
      const int c = a.compare(si, ei - si, b, sj, ej - sj);
      if (c != 0) return c < 0;
      if (ei - i != ej - j) return ei - i < ej - j;  // "01" after "1"
      i = ei;
      j = ej;
      continue;
    }
    if (a[i] != b[j]) {
      return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
    }
    ++i;
    ++j;
  }
  return a.size() - i < b.size() - j;
}

// The 8250 driver registers ttyS entries whether or not a UART answers; an
// entry whose `type` reads 0 (PORT_UNKNOWN) has nothing behind it.
bool IsPlaceholder8250(const std::filesystem::path& dir) {
  std::ifstream in(dir / "type");
  if (!in) return false;
  std::string type;
  in >> type;
  return type == "0";
}

class PosixSerialProvider final : public SerialPortProvider {
 public:
  explicit PosixSerialProvider(std::vector<SerialPortInfo> ports) : ports_(std::move(ports)) {}

  std::vector<SerialPortInfo> Ports() const override { return ports_; }

  std::unique_ptr<SerialDevice> Open(int index, std::string& error) override {
    if (index < 0 || static_cast<std::size_t>(index) >= ports_.size()) {
      error = "no serial port with index " + std::to_string(index);
      return nullptr;
    }
    const std::string& path = ports_[static_cast<std::size_t>(index)].path;
    if (IsNetworkPortName(path)) return OpenNetworkSerialDevice(path, error);
    return OpenPosixSerialDevice(path, error);
  }

 private:
  std::vector<SerialPortInfo> ports_;
};

}  // namespace

std::vector<SerialPortInfo> DiscoverSerialPorts(const std::vector<std::string>& extraPaths,
                                                const std::string& sysfsRoot) {
  namespace fs = std::filesystem;
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(sysfsRoot, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path dir = it->path();
    std::error_code sec;
    if (!fs::is_directory(dir, sec)) continue;
    // Only entries backed by a device: virtual consoles, ptmx and the like
    // have no `device` link.
    const auto device = fs::symlink_status(dir / "device", sec);
    if (sec || device.type() == fs::file_type::not_found) continue;
    const std::string name = dir.filename().string();
    if (name.rfind("ttyS", 0) == 0 && IsPlaceholder8250(dir)) continue;
    names.push_back(name);
  }
  std::sort(names.begin(), names.end(), NaturalLess);

  std::vector<SerialPortInfo> ports;
  ports.reserve(names.size() + extraPaths.size());
  for (auto& name : names) ports.push_back({"/dev/" + name, name});
  for (const auto& path : extraPaths) {
    if (path.empty()) continue;
    const bool listed =
        std::any_of(ports.begin(), ports.end(), [&](const SerialPortInfo& p) { return p.path == path; });
    if (!listed) ports.push_back({path, path});
  }
  return ports;
}

std::unique_ptr<SerialDevice> OpenPosixSerialDevice(const std::string& path, std::string& error) {
  // Non-blocking so that a port waiting for carrier does not hang the open;
  // it stays non-blocking and every read and write is bounded by poll().
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int e = errno;
    // A tty another program has marked exclusive refuses the open itself.
    error = e == EBUSY ? "the port is in use by another program" : platform::ErrorText(e);
    return nullptr;
  }
  if (!::isatty(fd)) {
    ::close(fd);
    error = "not a serial port";
    return nullptr;
  }
  // Exclusive use: a port another program holds fails to open here rather
  // than being reconfigured under it. flock is what other serial programs
  // take; TIOCEXCL additionally refuses later opens by non-root programs
  // that do not lock.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int e = errno;
    ::close(fd);
    error = (e == EWOULDBLOCK || e == EAGAIN) ? "the port is in use by another program" : platform::ErrorText(e);
    return nullptr;
  }
  ::ioctl(fd, TIOCEXCL);  // best effort
  error.clear();
  return std::make_unique<PosixSerialDevice>(fd);
}

std::shared_ptr<SerialPortProvider> MakePosixSerialProvider(std::vector<SerialPortInfo> ports) {
  return std::make_shared<PosixSerialProvider>(std::move(ports));
}

}  // namespace vecta::link
