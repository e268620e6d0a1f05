#include "link/comm_log.h"

#include <cstdarg>

namespace vecta::link {

CommLog::~CommLog() { Close(); }

bool CommLog::Open(const std::string& path) {
  Close();
  path_ = path;
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

void CommLog::Hex(const std::uint8_t* data, std::size_t size) {
  if (!file_) return;
  for (std::size_t i = 0; i < size; ++i) std::fprintf(file_, "%2x ", data[i]);
}

void CommLog::MaskedHex(const std::uint8_t* data, std::size_t size) {
  if (!file_) return;
  bool mask = false;
  for (std::size_t i = 0; i < size; ++i) {
    if (mask && data[i] != ';')
      std::fputs("** ", file_);
    else
      std::fprintf(file_, "%2x ", data[i]);
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

void CommLog::Outcome(std::uint32_t code) {
  if (!file_) return;
  if (code == 0)
    Text("Returning OK\r\n");
  else
    Printf("Returning with error code %x\r\n", code);
  Flush();
}

void CommLog::Flush() {
  if (file_) std::fflush(file_);
}

}  // namespace vecta::link
