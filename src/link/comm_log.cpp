#include "link/comm_log.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace vecta::link {

CommLog::~CommLog() { Close(); }

namespace {
// Room kept below the cap for the record being written: far more than the
// longest (a long read retried, every byte written three times).
std::int64_t RecordRoom(std::int64_t capBytes) { return std::min<std::int64_t>(64 << 10, capBytes / 4); }
}  // namespace

bool CommLog::Open(const std::string& path, std::int64_t capBytes) {
  Close();
  path_ = path;
  capBytes_ = capBytes;
  file_ = std::fopen(path.c_str(), "wb");
  if (!file_) return false;
  Text("Log file opened\r\n");
  return true;
}

void CommLog::Close() {
  if (file_) std::fclose(file_);
  file_ = nullptr;
}

void CommLog::Text(const char* text) {
  if (file_) std::fputs(text, file_);
}

void CommLog::Printf(const char* format, ...) {
  if (!file_) return;
  va_list ap;
  va_start(ap, format);
  std::vfprintf(file_, format, ap);
  va_end(ap);
}

void CommLog::Raw(const std::uint8_t* data, std::size_t size) {
  if (file_ && size) std::fwrite(data, 1, size, file_);
}

namespace {
// One byte as printf's "%2x " writes it: lower-case hexadecimal, padded with
// a space to two characters, then a space. Done by hand because the log
// formats every byte of every exchange.
char* PutHex(char* out, std::uint8_t b) {
  static constexpr char kDigits[] = "0123456789abcdef";
  *out++ = b < 16 ? ' ' : kDigits[b >> 4];
  *out++ = kDigits[b & 15];
  *out++ = ' ';
  return out;
}
}  // namespace

void CommLog::Hex(const std::uint8_t* data, std::size_t size) {
  if (!file_) return;
  char buf[3 * 64];
  while (size) {
    const std::size_t n = std::min<std::size_t>(size, 64);
    char* p = buf;
    for (std::size_t i = 0; i < n; ++i) p = PutHex(p, data[i]);
    std::fwrite(buf, 1, static_cast<std::size_t>(p - buf), file_);
    data += n;
    size -= n;
  }
}

void CommLog::MaskedHex(const std::uint8_t* data, std::size_t size) {
  if (!file_) return;
  bool mask = false;
  char cell[3];
  for (std::size_t i = 0; i < size; ++i) {
    if (mask && data[i] != ';')
      std::fwrite("** ", 1, 3, file_);
    else
      std::fwrite(cell, 1, static_cast<std::size_t>(PutHex(cell, data[i]) - cell), file_);
    if (data[i] == ';') mask = !mask;
  }
}

void CommLog::MaskedChars(const std::uint8_t* data, std::size_t size) {
  if (!file_) return;
  bool mask = false;
  for (std::size_t i = 0; i < size; ++i) {
    std::fputc(mask && data[i] != ';' ? '*' : data[i], file_);
    if (data[i] == ';') mask = !mask;
  }
}

void CommLog::HexHiding(const std::uint8_t* data, std::size_t size, std::size_t maskBegin, std::size_t maskEnd) {
  if (!file_) return;
  maskBegin = std::min(maskBegin, size);
  maskEnd = std::clamp(maskEnd, maskBegin, size);
  Hex(data, maskBegin);
  for (std::size_t i = maskBegin; i < maskEnd; ++i) std::fwrite("** ", 1, 3, file_);
  Hex(data + maskEnd, size - maskEnd);
}

void CommLog::RawHiding(const std::uint8_t* data, std::size_t size, std::size_t maskBegin, std::size_t maskEnd) {
  if (!file_) return;
  maskBegin = std::min(maskBegin, size);
  maskEnd = std::clamp(maskEnd, maskBegin, size);
  Raw(data, maskBegin);
  for (std::size_t i = maskBegin; i < maskEnd; ++i) std::fputc('*', file_);
  Raw(data + maskEnd, size - maskEnd);
}

void CommLog::Outcome(std::uint32_t code) {
  if (!file_) return;
  if (code == 0)
    Text("Returning OK\r\n");
  else
    Printf("Returning with error code %x\r\n", code);
  Flush();
  MoveAsideIfFull();
}

void CommLog::MoveAsideIfFull() {
  const off_t size = ::ftello(file_);
  if (size < 0 || size < capBytes_ - RecordRoom(capBytes_)) return;
  std::fclose(file_);
  // Should the rename fail, the file is emptied instead: the bound holds.
  std::rename(path_.c_str(), (path_ + ".1").c_str());
  file_ = std::fopen(path_.c_str(), "wb");
}

void CommLog::Flush() {
  if (file_) std::fflush(file_);
}

}  // namespace vecta::link
