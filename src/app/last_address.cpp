#include "app/last_address.h"

#include <cstdint>
#include <fstream>
#include <iterator>
#include <span>

#include "platform/atomic_file.h"

namespace vecta::app {
namespace {

// Longer than any address with its line end; a bigger file is not ours.
constexpr std::size_t kMaxFileSize = 64;

bool Blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::optional<std::string> ParseLastAddress(const std::string& text) {
  std::size_t begin = 0, end = text.size();
  while (begin < end && Blank(text[begin])) ++begin;
  while (end > begin && Blank(text[end - 1])) --end;
  std::string out;
  int parts = 0;
  std::size_t i = begin;
  for (;;) {
    const std::size_t start = i;
    int value = 0;
    while (i < end && i - start < 4 && text[i] >= '0' && text[i] <= '9') value = value * 10 + (text[i++] - '0');
    const std::size_t digits = i - start;
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    out += std::to_string(value);
    if (++parts == 4) break;
    if (i >= end || text[i] != '.') return std::nullopt;
    out += '.';
    ++i;
  }
  if (i != end) return std::nullopt;
  return out;
}

std::optional<std::string> LoadLastAddress(const std::string& path) {
  if (path.empty()) return std::nullopt;
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text;
  char buf[kMaxFileSize + 1];
  in.read(buf, sizeof buf);
  text.assign(buf, static_cast<std::size_t>(in.gcount()));
  if (text.size() > kMaxFileSize) return std::nullopt;
  return ParseLastAddress(text);
}

bool SaveLastAddress(const std::string& path, const std::string& address, std::string* error) {
  const auto parsed = ParseLastAddress(address);
  if (!parsed || *parsed != address) {
    if (error) *error = "not an IP address: " + address;
    return false;
  }
  if (path.empty()) {
    if (error) *error = "no file for the last IP address";
    return false;
  }
  const std::string line = address + "\n";
  return platform::WriteFileAtomically(
      path, std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(line.data()), line.size()), error);
}

}  // namespace vecta::app
