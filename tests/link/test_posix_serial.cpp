// The termios serial device on pseudo-terminals, port discovery over a fake
// sysfs tree, the provider, and the serial time-out arithmetic.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_port.h"
#include "link/serial_speed.h"

namespace vecta::link {
namespace {

using Bytes = std::vector<std::uint8_t>;
using SteadyClock = std::chrono::steady_clock;

long long MsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
}

// ---------------------------------------------------------------------------
// Time-outs

TEST(SerialTimeouts, ReadWaitIsMultiplierPlusConstantPerByte) {
  SerialTimeouts t;  // 500 / 1 / 2500
  EXPECT_EQ(t.ReadByteTimeoutMs(), 2501);
  t.readTotalMultiplier = 0;
  EXPECT_EQ(t.ReadByteTimeoutMs(), 2500);
  t.readTotalConstant = 0;
  t.readTotalMultiplier = 7;
  EXPECT_EQ(t.ReadByteTimeoutMs(), 7);
}

TEST(SerialTimeouts, ReadFallsBackToIntervalThenToImmediate) {
  SerialTimeouts t;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = 0;
  t.readInterval = 40;
  EXPECT_EQ(t.ReadByteTimeoutMs(), 40);
  t.readInterval = 0;
  EXPECT_EQ(t.ReadByteTimeoutMs(), 0);
}

TEST(SerialTimeouts, ReadTotalDoesNotOverflow32Bits) {
  SerialTimeouts t;
  t.readTotalMultiplier = 0xFFFFFFFFu;
  t.readTotalConstant = 0xFFFFFFFFu;
  EXPECT_EQ(t.ReadByteTimeoutMs(), 2 * static_cast<std::int64_t>(0xFFFFFFFFu));
}

TEST(SerialTimeouts, WriteScalesWithSizeAndHasAFloorWhenUnset) {
  SerialTimeouts t;  // 1 / 1000
  EXPECT_EQ(t.WriteTimeoutMs(0), 1000);
  EXPECT_EQ(t.WriteTimeoutMs(64), 1064);
  t.writeTotalMultiplier = 3;
  t.writeTotalConstant = 0;
  EXPECT_EQ(t.WriteTimeoutMs(10), 30);
  t.writeTotalMultiplier = 0;
  EXPECT_EQ(t.WriteTimeoutMs(10), 1000);  // both 0: bounded, not unbounded
  EXPECT_EQ(t.WriteTimeoutMs(100000), 1000);
}

TEST(SerialTimeouts, HugeWriteDoesNotWrapToAShortTimeout) {
  SerialTimeouts t;
  t.writeTotalMultiplier = 0xFFFFFFFFu;
  t.writeTotalConstant = 0xFFFFFFFFu;
  EXPECT_GT(t.WriteTimeoutMs(static_cast<std::size_t>(-1)), std::int64_t{1} << 40);
}

TEST(SerialTimeouts, GetAndSetFollowTheFieldOrder) {
  SerialTimeouts t;
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(t.Set(i, 100u + static_cast<std::uint32_t>(i)));
  EXPECT_EQ(t.readInterval, 100u);
  EXPECT_EQ(t.readTotalMultiplier, 101u);
  EXPECT_EQ(t.readTotalConstant, 102u);
  EXPECT_EQ(t.writeTotalMultiplier, 103u);
  EXPECT_EQ(t.writeTotalConstant, 104u);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(t.Get(i), 100u + static_cast<std::uint32_t>(i));
}

TEST(SerialTimeouts, SetOutsideTheRangeChangesNothing) {
  SerialTimeouts t;
  const SerialTimeouts before = t;
  EXPECT_FALSE(t.Set(-1, 7));
  EXPECT_FALSE(t.Set(5, 7));
  EXPECT_EQ(t.readInterval, before.readInterval);
  EXPECT_EQ(t.readTotalMultiplier, before.readTotalMultiplier);
  EXPECT_EQ(t.readTotalConstant, before.readTotalConstant);
  EXPECT_EQ(t.writeTotalMultiplier, before.writeTotalMultiplier);
  EXPECT_EQ(t.writeTotalConstant, before.writeTotalConstant);
}

// ---------------------------------------------------------------------------
// Pseudo-terminal fixture: the device opens the slave side; the test plays
// the unit on the master side.

class PosixSerial : public ::testing::Test {
 protected:
  void SetUp() override {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master_, 0) << std::strerror(errno);
    ASSERT_EQ(::grantpt(master_), 0);
    ASSERT_EQ(::unlockpt(master_), 0);
    const char* name = ::ptsname(master_);
    ASSERT_NE(name, nullptr);
    slavePath_ = name;
    // A plain descriptor on the slave, opened before the device, to look at
    // the line settings and the input queue from outside.
    watch_ = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(watch_, 0) << std::strerror(errno);
  }

  void TearDown() override {
    device_.reset();
    if (watch_ >= 0) ::close(watch_);
    CloseMaster();
  }

  void CloseMaster() {
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

  // Opens the device with short time-outs and a raw 9600 line.
  void OpenDevice(std::uint32_t readConstantMs = 200) {
    std::string error;
    device_ = OpenPosixSerialDevice(slavePath_, error);
    ASSERT_NE(device_, nullptr) << error;
    EXPECT_EQ(error, "");
    ASSERT_TRUE(device_->SetLine(9600));
    SerialTimeouts t;
    t.readInterval = 0;
    t.readTotalMultiplier = 0;
    t.readTotalConstant = readConstantMs;
    t.writeTotalMultiplier = 0;
    t.writeTotalConstant = 500;
    ASSERT_TRUE(device_->SetTimeouts(t));
  }

  void MasterWrite(const Bytes& bytes) {
    ASSERT_EQ(::write(master_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }

  // Reads what arrives on the master side until `want` bytes came or the
  // line has been quiet for `quietMs`.
  Bytes MasterRead(std::size_t want, int quietMs = 200) {
    Bytes got;
    while (got.size() < want) {
      pollfd p{master_, POLLIN, 0};
      if (::poll(&p, 1, quietMs) <= 0) break;
      std::uint8_t buf[4096];
      const ssize_t n = ::read(master_, buf, sizeof buf);
      if (n <= 0) break;
      got.insert(got.end(), buf, buf + n);
    }
    return got;
  }

  // Waits until `count` bytes sit in the slave's input queue.
  bool WaitForInput(int count) {
    const auto start = SteadyClock::now();
    while (MsSince(start) < 1000) {
      int queued = 0;
      if (::ioctl(watch_, FIONREAD, &queued) == 0 && queued >= count) return true;
      pollfd p{watch_, POLLIN, 0};
      ::poll(&p, 1, 5);
    }
    return false;
  }

  Bytes ReadBytes(std::size_t count) {
    Bytes got;
    std::uint8_t b = 0;
    while (got.size() < count && device_->ReadByte(b) == ReadOutcome::Byte) got.push_back(b);
    return got;
  }

  int master_ = -1;
  int watch_ = -1;
  std::string slavePath_;
  std::unique_ptr<SerialDevice> device_;
};

TEST_F(PosixSerial, OpenOfAMissingPathGivesTheSystemReason) {
  std::string error;
  EXPECT_EQ(OpenPosixSerialDevice("/dev/vecta-no-such-port", error), nullptr);
  EXPECT_EQ(error, std::strerror(ENOENT));
}

TEST_F(PosixSerial, OpenOfSomethingThatIsNotATtyFails) {
  std::string error;
  EXPECT_EQ(OpenPosixSerialDevice("/dev/null", error), nullptr);
  EXPECT_EQ(error, "not a serial port");
}

TEST_F(PosixSerial, RawLinePassesControlBytesUnchangedBothWays) {
  OpenDevice();
  const Bytes frame = {0x02, 0x03, 0x0d, 0x0a, 0xff, 0x11, 0x13, 0x04, 0x7f, 0x00};

  // Master to device: no CR/NL translation, no line buffering, no XON/XOFF,
  // no EOF or erase handling.
  MasterWrite(frame);
  EXPECT_EQ(ReadBytes(frame.size()), frame);
  // And nothing came back to the master as echo.
  EXPECT_TRUE(MasterRead(1, 30).empty());

  // Device to master: no NL to CR NL on output.
  ASSERT_TRUE(device_->Write(frame.data(), frame.size()));
  EXPECT_EQ(MasterRead(frame.size()), frame);
  EXPECT_TRUE(MasterRead(1, 30).empty());
}

TEST_F(PosixSerial, SetLineSetsRate8N1AndKeepsFlowControl) {
  termios before{};
  ASSERT_EQ(::tcgetattr(watch_, &before), 0);
  before.c_cflag |= CSTOPB | CRTSCTS;
  ASSERT_EQ(::tcsetattr(watch_, TCSANOW, &before), 0);

  OpenDevice();
  ASSERT_TRUE(device_->SetLine(115200));
  termios now{};
  ASSERT_EQ(::tcgetattr(watch_, &now), 0);
  EXPECT_EQ(::cfgetospeed(&now), static_cast<speed_t>(B115200));
  EXPECT_EQ(::cfgetispeed(&now), static_cast<speed_t>(B115200));
  EXPECT_EQ(now.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(now.c_cflag & (PARENB | CSTOPB), 0u);
  EXPECT_NE(now.c_cflag & CREAD, 0u);
  EXPECT_NE(now.c_cflag & CLOCAL, 0u);
  EXPECT_NE(now.c_cflag & CRTSCTS, 0u) << "hardware flow control is the port's own setting";
  EXPECT_EQ(now.c_lflag & (ECHO | ICANON | ISIG | IEXTEN), 0u);
  EXPECT_EQ(now.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP), 0u);
  EXPECT_EQ(now.c_oflag & OPOST, 0u);
  EXPECT_EQ(now.c_cc[VMIN], 1);

  ASSERT_TRUE(device_->SetLine(4000000));
  ASSERT_EQ(::tcgetattr(watch_, &now), 0);
  EXPECT_EQ(::cfgetospeed(&now), static_cast<speed_t>(B4000000));
  ASSERT_TRUE(device_->SetLine(50));
  ASSERT_EQ(::tcgetattr(watch_, &now), 0);
  EXPECT_EQ(::cfgetospeed(&now), static_cast<speed_t>(B50));
}

TEST_F(PosixSerial, SetLineRefusesRatesItCannotSetAndLeavesTheLineAlone) {
  OpenDevice();                       // 9600
  EXPECT_FALSE(device_->SetLine(0));  // B0 would hang the line up
  termios now{};
  ASSERT_EQ(::tcgetattr(watch_, &now), 0);
  EXPECT_EQ(::cfgetospeed(&now), static_cast<speed_t>(B9600));
}

TEST_F(PosixSerial, ReadByteTimesOutAfterTheConfiguredWait) {
  OpenDevice(/*readConstantMs=*/30);
  std::uint8_t b = 0;
  const auto start = SteadyClock::now();
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Timeout);
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 30);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(PosixSerial, ReadByteUsesTheIntervalWhenTotalsAreZero) {
  OpenDevice();
  SerialTimeouts t;
  t.readInterval = 20;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = 0;
  ASSERT_TRUE(device_->SetTimeouts(t));
  std::uint8_t b = 0;
  const auto start = SteadyClock::now();
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Timeout);
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 20);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(PosixSerial, ReadByteWithAllTimeoutsZeroReturnsAtOnce) {
  OpenDevice();
  SerialTimeouts t;
  t.readInterval = 0;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = 0;
  ASSERT_TRUE(device_->SetTimeouts(t));
  std::uint8_t b = 0;
  const auto start = SteadyClock::now();
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Timeout);
  EXPECT_LT(MsSince(start), 20);

  // A byte already waiting is still returned.
  MasterWrite({0x41});
  ASSERT_TRUE(WaitForInput(1));
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Byte);
  EXPECT_EQ(b, 0x41);
}

TEST_F(PosixSerial, ReadByteWaitsForAByteThatArrivesLater) {
  OpenDevice(/*readConstantMs=*/1000);
  std::thread unit([this] {
    pollfd p{master_, 0, 0};
    ::poll(&p, 1, 20);  // a short pause before the unit answers
    const std::uint8_t b = 0x06;
    (void)!::write(master_, &b, 1);
  });
  std::uint8_t b = 0;
  const auto start = SteadyClock::now();
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Byte);
  EXPECT_LT(MsSince(start), 900);
  EXPECT_EQ(b, 0x06);
  unit.join();
}

TEST_F(PosixSerial, HangUpIsAnErrorNotSilence) {
  OpenDevice(/*readConstantMs=*/1000);
  EXPECT_FALSE(device_->HungUp());
  CloseMaster();
  std::uint8_t b = 0;
  const auto start = SteadyClock::now();
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Error);
  EXPECT_LT(MsSince(start), 500) << "a hang-up must not wait for the time-out";
  EXPECT_TRUE(device_->HungUp());
  const Bytes frame = {0x02, 0x31, 0x03};
  EXPECT_FALSE(device_->Write(frame.data(), frame.size()));
}

TEST_F(PosixSerial, PurgeInputDiscardsPendingBytesOnly) {
  OpenDevice(/*readConstantMs=*/20);
  MasterWrite({0x10, 0x20, 0x30});
  ASSERT_TRUE(WaitForInput(3));
  device_->PurgeInput();
  std::uint8_t b = 0;
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Timeout);

  // The line still works after the purge.
  MasterWrite({0x55});
  SerialTimeouts t;
  t.readTotalMultiplier = 0;
  t.readTotalConstant = 1000;
  ASSERT_TRUE(device_->SetTimeouts(t));
  EXPECT_EQ(device_->ReadByte(b), ReadOutcome::Byte);
  EXPECT_EQ(b, 0x55);
}

TEST_F(PosixSerial, WriteOfMoreThanTheBufferHoldsCompletesWhileTheUnitReads) {
  OpenDevice();
  SerialTimeouts t;
  t.writeTotalMultiplier = 0;
  t.writeTotalConstant = 1500;
  ASSERT_TRUE(device_->SetTimeouts(t));
  Bytes data(256 * 1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 31 + 7);

  Bytes received;
  std::thread unit([&] { received = MasterRead(data.size(), 500); });
  EXPECT_TRUE(device_->Write(data.data(), data.size()));
  unit.join();
  EXPECT_EQ(received.size(), data.size());
  EXPECT_TRUE(received == data);
}

TEST_F(PosixSerial, WriteGivesUpAtTheDeadlineWhenTheLineIsStuck) {
  OpenDevice();
  SerialTimeouts t;
  t.writeTotalMultiplier = 0;
  t.writeTotalConstant = 30;
  ASSERT_TRUE(device_->SetTimeouts(t));
  // Nobody reads the master side, so the pseudo-terminal's buffers fill up.
  const Bytes data(4 * 1024 * 1024, 0x5a);
  const auto start = SteadyClock::now();
  EXPECT_FALSE(device_->Write(data.data(), data.size()));
  const auto elapsed = MsSince(start);
  EXPECT_GE(elapsed, 30);
  EXPECT_LT(elapsed, 1000);
}

TEST_F(PosixSerial, WriteOfNothingSucceeds) {
  OpenDevice();
  EXPECT_TRUE(device_->Write(nullptr, 0));
}

// ---------------------------------------------------------------------------
// Exclusive use

TEST_F(PosixSerial, SecondOpenFailsWhileTheFirstIsOpenAndWorksAfterClose) {
  std::string error;
  auto first = OpenPosixSerialDevice(slavePath_, error);
  ASSERT_NE(first, nullptr) << error;

  auto second = OpenPosixSerialDevice(slavePath_, error);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(error, "the port is in use by another program");

  first.reset();
  auto third = OpenPosixSerialDevice(slavePath_, error);
  EXPECT_NE(third, nullptr) << error;
}

TEST_F(PosixSerial, APortLockedByAnotherProgramIsNotTaken) {
  const int other = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  termios before{};
  ASSERT_EQ(::tcgetattr(other, &before), 0);

  std::string error;
  EXPECT_EQ(OpenPosixSerialDevice(slavePath_, error), nullptr);
  EXPECT_EQ(error, "the port is in use by another program");
  termios after{};
  ASSERT_EQ(::tcgetattr(other, &after), 0);
  EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);

  ::close(other);
  auto device = OpenPosixSerialDevice(slavePath_, error);
  EXPECT_NE(device, nullptr) << error;
}

// Root ignores the exclusive flag, so look at it through an unprivileged
// child: refused while the device is open, allowed again once it is closed
// (the flag must not outlive the device while the master keeps the tty).
TEST_F(PosixSerial, ExclusiveFlagStopsUnprivilegedOpensAndIsClearedOnClose) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to drop to another user";
  ASSERT_EQ(::chmod(slavePath_.c_str(), 0666), 0);
  auto childOpen = [this]() -> int {
    const pid_t pid = ::fork();
    if (pid == 0) {
      if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(200);
      const int fd = ::open(slavePath_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
      ::_exit(fd >= 0 ? 0 : (errno & 0x7f));
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  ASSERT_EQ(childOpen(), 0) << "the child cannot open the tty even without the device";

  std::string error;
  auto device = OpenPosixSerialDevice(slavePath_, error);
  ASSERT_NE(device, nullptr) << error;
  EXPECT_EQ(childOpen(), EBUSY);
  device.reset();
  EXPECT_EQ(childOpen(), 0);
}

// ---------------------------------------------------------------------------
// Discovery over a fake sysfs tree

class SerialDiscovery : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/vecta-sysfs-XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    root_ = tmpl;
    std::filesystem::create_directories(root_ / "devices" / "platform");
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(root_, ec);
  }

  // A tty entry; `device` is "link", "dir" or "" (none); `type` "" for none.
  void AddTty(const std::string& name, const std::string& device, const std::string& type = "") {
    const auto dir = root_ / "class" / name;
    std::filesystem::create_directories(dir);
    if (device == "link") {
      std::filesystem::create_directory_symlink(root_ / "devices" / "platform", dir / "device");
    } else if (device == "dir") {
      std::filesystem::create_directory(dir / "device");
    }
    if (!type.empty()) std::ofstream(dir / "type") << type;
  }

  std::string Root() const { return (root_ / "class").string(); }

  static std::vector<std::string> Names(const std::vector<SerialPortInfo>& ports) {
    std::vector<std::string> names;
    for (const auto& p : ports) names.push_back(p.name);
    return names;
  }

  std::filesystem::path root_;
};

TEST_F(SerialDiscovery, ListsHardwareInNaturalOrderAndSkipsTheRest) {
  AddTty("ttyUSB1", "link");
  AddTty("ttyS10", "dir", "4\n");
  AddTty("ttyUSB0", "link");
  AddTty("ttyS2", "link", "4\n");
  AddTty("ttyS3", "link", "0\n");  // 8250 placeholder with no UART
  AddTty("ttyS0", "link");         // no type attribute: kept
  AddTty("ttyACM0", "link");
  AddTty("ttyAMA0", "dir");
  AddTty("tty0", "");  // virtual console
  AddTty("ptmx", "");
  AddTty("console", "");
  std::ofstream(root_ / "class" / "ttyUSB9");  // a stray file, not a tty entry

  const auto ports = DiscoverSerialPorts({}, Root());
  EXPECT_EQ(Names(ports),
            (std::vector<std::string>{"ttyACM0", "ttyAMA0", "ttyS0", "ttyS2", "ttyS10", "ttyUSB0", "ttyUSB1"}));
  for (const auto& p : ports) EXPECT_EQ(p.path, "/dev/" + p.name);
}

TEST_F(SerialDiscovery, NaturalOrderComparesNumbersByValue) {
  for (const char* n : {"ttyUSB10", "ttyUSB2", "ttyUSB1", "ttyUSB100", "ttyUSB0", "ttyS1"}) {
    AddTty(n, "link");
  }
  EXPECT_EQ(Names(DiscoverSerialPorts({}, Root())),
            (std::vector<std::string>{"ttyS1", "ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyUSB10", "ttyUSB100"}));
}

TEST_F(SerialDiscovery, ExtraPathsFollowInTheOrderGivenWithoutDuplicates) {
  AddTty("ttyUSB0", "link");
  const std::string link = (root_ / "unit-link").string();
  const auto ports = DiscoverSerialPorts({"/dev/pts/7", "/dev/ttyUSB0", link, "/dev/pts/7", ""}, Root());
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].path, "/dev/ttyUSB0");
  EXPECT_EQ(ports[0].name, "ttyUSB0");
  EXPECT_EQ(ports[1].path, "/dev/pts/7");
  EXPECT_EQ(ports[1].name, "/dev/pts/7");
  EXPECT_EQ(ports[2].path, link);
  EXPECT_EQ(ports[2].name, link);
}

TEST_F(SerialDiscovery, MissingSysfsGivesOnlyTheExtraPaths) {
  const auto ports = DiscoverSerialPorts({"/dev/pts/3"}, (root_ / "nowhere").string());
  ASSERT_EQ(ports.size(), 1u);
  EXPECT_EQ(ports[0].path, "/dev/pts/3");
  EXPECT_TRUE(DiscoverSerialPorts({}, (root_ / "nowhere").string()).empty());
}

// ---------------------------------------------------------------------------
// Provider

TEST_F(PosixSerial, ProviderOpensByIndexAndExplainsBadIndexes) {
  auto provider = MakePosixSerialProvider({{slavePath_, "pty"}, {"/dev/vecta-no-such-port", "missing"}});
  const auto ports = provider->Ports();
  ASSERT_EQ(ports.size(), 2u);
  EXPECT_EQ(ports[0].path, slavePath_);
  EXPECT_EQ(ports[1].name, "missing");

  std::string error;
  EXPECT_EQ(provider->Open(-1, error), nullptr);
  EXPECT_EQ(error, "no serial port with index -1");
  EXPECT_EQ(provider->Open(2, error), nullptr);
  EXPECT_EQ(error, "no serial port with index 2");
  EXPECT_EQ(provider->Open(1, error), nullptr);
  EXPECT_EQ(error, std::strerror(ENOENT));

  auto device = provider->Open(0, error);
  ASSERT_NE(device, nullptr) << error;
  EXPECT_TRUE(device->SetLine(19200));
}

// Every rate the Serial control page offers, the four outside the standard
// termios table included.
TEST_F(PosixSerial, EveryRateOfTheSerialControlPageIsSet) {
  OpenDevice();
  for (std::uint32_t baud : {110u, 300u, 600u, 1200u, 2400u, 4800u, 9600u, 14400u, 19200u, 38400u, 56000u, 57600u,
                             115200u, 128000u, 256000u}) {
    EXPECT_TRUE(device_->SetLine(baud)) << baud;
    std::uint32_t in = 0, out = 0;
    ASSERT_TRUE(ReadLineSpeeds(watch_, in, out));
    EXPECT_EQ(out, baud);
    EXPECT_EQ(in, baud);
  }
  // Still a raw line: bytes cross it unchanged.
  ASSERT_TRUE(device_->SetLine(14400));
  ASSERT_TRUE(device_->Write(reinterpret_cast<const std::uint8_t*>("\x02\x03\r\n"), 4));
}

TEST_F(PosixSerial, RefusedRateLeavesTheLineAsItWas) {
  OpenDevice();
  ASSERT_TRUE(device_->SetLine(56000));
  EXPECT_FALSE(device_->SetLine(0));  // 0 would hang the line up
  std::uint32_t in = 0, out = 0;
  ASSERT_TRUE(ReadLineSpeeds(watch_, in, out));
  EXPECT_EQ(out, 56000u);
}

}  // namespace
}  // namespace vecta::link