// The communication log: every exchange with the unit byte by byte, written
// in binary so each "\r\n" and every raw frame byte stands in the file as is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace vecta::link {

// The largest the log file grows: past it, at the end of a record, the file
// becomes NAME.1 (replacing the one before) and a new NAME begins, so the
// log keeps between one and two files' worth of the latest exchanges.
inline constexpr std::int64_t kCommLogCapBytes = 64 << 20;

class CommLog {
 public:
  CommLog() = default;
  ~CommLog();
  CommLog(const CommLog&) = delete;
  CommLog& operator=(const CommLog&) = delete;

  // Creates (or empties) the file and writes "Log file opened\r\n". When the
  // file cannot be created the log stays closed and every write is skipped.
  // Neither file grows past `capBytes`.
  bool Open(const std::string& path, std::int64_t capBytes = kCommLogCapBytes);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }
  const std::string& Path() const { return path_; }

  void Text(const char* text);
  void Printf(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void Raw(const std::uint8_t* data, std::size_t size);
  // Each byte as "%2x ".
  void Hex(const std::uint8_t* data, std::size_t size);
  // The sending line's two parts with the value fields masked: a mask flag
  // starts clear, a set flag hides every byte but ';', and each ';' written
  // inverts it.
  void MaskedHex(const std::uint8_t* data, std::size_t size);
  void MaskedChars(const std::uint8_t* data, std::size_t size);
  // Received bytes with the positions [maskBegin, maskEnd) hidden: each as
  // "** " in the hexadecimal part, as "*" in the character part.
  void HexHiding(const std::uint8_t* data, std::size_t size, std::size_t maskBegin, std::size_t maskEnd);
  void RawHiding(const std::uint8_t* data, std::size_t size, std::size_t maskBegin, std::size_t maskEnd);
  // "Returning OK\r\n" or "Returning with error code %x\r\n", then a flush;
  // the end of a record, where the file may move aside for a new one.
  void Outcome(std::uint32_t code);
  void Flush();

 private:
  void MoveAsideIfFull();

  std::FILE* file_ = nullptr;
  std::string path_;
  std::int64_t capBytes_ = kCommLogCapBytes;
};

}  // namespace vecta::link
