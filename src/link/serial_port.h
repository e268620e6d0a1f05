// The serial line as the link controller sees it: a device opened by its
// index in the port list, raw 8N1 at a baud rate, one-byte reads and whole
// writes each bounded by the five serial time-outs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vecta::link {

// The five serial time-outs, in the order of the Serial control page and of
// the `which` argument of SetCommTimeout.
struct SerialTimeouts {
  std::uint32_t readInterval = 500;         // 0: ms between bytes
  std::uint32_t readTotalMultiplier = 1;    // 1: ms per byte
  std::uint32_t readTotalConstant = 2500;   // 2: ms
  std::uint32_t writeTotalMultiplier = 1;   // 3: ms per byte
  std::uint32_t writeTotalConstant = 1000;  // 4: ms

  // A reply is read one byte per read, so each read may wait
  // multiplier x 1 + constant. When both are 0 the interval time-out bounds
  // the wait instead; when that is 0 too, a read returns at once.
  std::int64_t ReadByteTimeoutMs() const;
  // A frame is written in one piece within multiplier x bytes + constant;
  // when both are 0 the write is bounded by 1000 ms rather than not at all.
  std::int64_t WriteTimeoutMs(std::size_t bytes) const;
  // The longest a whole reply of `bytes` may take: its time on the line at
  // `baud` (10 bits a byte) plus the read total time-out for that many
  // bytes (multiplier x bytes + constant, or the interval time-out when both
  // are 0). A unit that keeps sending one byte just within the per-byte
  // time-out cannot hold an exchange for longer.
  std::int64_t ReplyTimeoutMs(std::uint32_t baud, std::size_t bytes) const;

  std::uint32_t Get(int which) const;
  // Returns false (changing nothing) for a `which` outside 0..4.
  bool Set(int which, std::uint32_t value);
};

enum class ReadOutcome { Byte, Timeout, Error };

class SerialDevice {
 public:
  virtual ~SerialDevice() = default;
  // Raw mode, 8 data bits, no parity, one stop bit at `baud`. Other settings
  // of the port stay as they are. False when the line cannot be configured.
  virtual bool SetLine(std::uint32_t baud) = 0;
  virtual bool SetTimeouts(const SerialTimeouts& timeouts) = 0;
  // Discards bytes waiting in the receive buffer.
  virtual void PurgeInput() = 0;
  // Writes all bytes within the write time-out; false on error or time-out.
  virtual bool Write(const std::uint8_t* data, std::size_t size) = 0;
  // Waits up to the read time-out for one byte. A hang-up or a failing read
  // is an Error, not silence.
  virtual ReadOutcome ReadByte(std::uint8_t& out) = 0;
  // True once a read or write has met a hang-up (the other end of a
  // pseudo-terminal closed, a USB adapter pulled): the descriptor never
  // works again, only a new open of the device can.
  virtual bool HungUp() const { return false; }
  // The same, waiting no longer than `maxWaitMs` even when the read time-out
  // is longer: a read that runs into the end of a whole reply's time.
  virtual ReadOutcome ReadByteWithin(std::uint8_t& out, std::int64_t maxWaitMs) = 0;
  // While `*flag` is set, a wait for the line ends within a few tens of
  // milliseconds (a read as silence, a write as a failure), so a program
  // that is closing is not held by a silent unit. Null: no such flag.
  virtual void SetInterruptFlag(const std::atomic<bool>* /*flag*/) {}
};

struct SerialPortInfo {
  std::string path;  // device path to open, or a network port "rfc2217://HOST:PORT" (rfc2217.h)
  std::string name;  // what the operator sees: "ttyUSB0", or the path as given
};

// The ports a port index refers to.
class SerialPortProvider {
 public:
  virtual ~SerialPortProvider() = default;
  virtual std::vector<SerialPortInfo> Ports() const = 0;
  // Opens the port at `index` for exclusive use; nullptr on failure, with the
  // system's reason in `error` ("Permission denied", "the port is in use by
  // another program", or "no serial port with index N").
  virtual std::unique_ptr<SerialDevice> Open(int index, std::string& error) = 0;
};

// Serial devices found in sysfs (USB and ACM adapters included; 8250 entries
// without hardware left out), sorted by name, followed by `extraPaths` in the
// order given (a pseudo-terminal of the simulator, a symlink).
std::vector<SerialPortInfo> DiscoverSerialPorts(const std::vector<std::string>& extraPaths = {},
                                                const std::string& sysfsRoot = "/sys/class/tty");

// Opens a device path as a termios serial port (real port or pseudo-terminal),
// exclusively. A path that is not a terminal is refused ("not a serial port")
// so that frames are never written into a file or a disk by mistake.
std::unique_ptr<SerialDevice> OpenPosixSerialDevice(const std::string& path, std::string& error);

// The provider over a fixed port list, opening device paths with
// OpenPosixSerialDevice and network ports with OpenNetworkSerialDevice.
std::shared_ptr<SerialPortProvider> MakePosixSerialProvider(std::vector<SerialPortInfo> ports);

}  // namespace vecta::link
