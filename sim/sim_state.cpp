#include "sim_state.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/error_text.h"

namespace vecta::sim {

namespace {

constexpr const char* kHeader = "vecta-sim state 1";

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseNumber(const std::string& text, int& out) {
  if (text.empty() || text.size() > 6) return false;
  int v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  out = v;
  return true;
}

// Splits off the next space-separated word; false when there is none.
bool NextWord(std::string_view& rest, std::string& word) {
  if (rest.empty()) return false;
  const std::size_t space = rest.find(' ');
  word = std::string(rest.substr(0, space));
  rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
  return !word.empty();
}

}  // namespace

std::string EscapeStateValue(std::string_view value) {
  std::string out;
  for (char ch : value) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c >= 0x7F || c == '%') {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%%%02X", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out;
}

bool UnescapeStateValue(std::string_view text, std::string& value) {
  value.clear();
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      value += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return false;
    const int hi = HexDigit(text[i + 1]);
    const int lo = HexDigit(text[i + 2]);
    if (hi < 0 || lo < 0) return false;
    value += static_cast<char>(hi * 16 + lo);
    i += 2;
  }
  return true;
}

bool SaveUnitState(const std::string& path, const UnitState& state, std::string& error) {
  std::ostringstream text;
  text << kHeader << '\n';
  if (state.address >= 0) text << "address " << state.address << '\n';
  if (state.current > 0) text << "current " << state.current << '\n';
  for (const auto& [key, value] : state.unit) text << "unit " << key << ' ' << EscapeStateValue(value) << '\n';
  for (const auto& [number, values] : state.configurations)
    for (const auto& [key, value] : values)
      text << "config " << number << ' ' << key << ' ' << EscapeStateValue(value) << '\n';
  const std::string body = text.str();

  const std::string temp = path + ".tmp" + std::to_string(getpid());
  std::FILE* f = std::fopen(temp.c_str(), "wb");
  if (!f) {
    error = temp + ": " + platform::ErrorText(errno);
    return false;
  }
  const bool written = std::fwrite(body.data(), 1, body.size(), f) == body.size();
  const bool closed = std::fclose(f) == 0;
  if (!written || !closed) {
    error = temp + ": write failed";
    std::remove(temp.c_str());
    return false;
  }
  if (std::rename(temp.c_str(), path.c_str()) != 0) {
    error = path + ": " + platform::ErrorText(errno);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool LoadUnitState(const std::string& path, UnitState& state, bool& found, std::string& error) {
  state = UnitState{};
  std::ifstream in(path, std::ios::binary);
  found = in.is_open();
  if (!found) {
    if (access(path.c_str(), F_OK) == 0) {
      error = path + ": cannot be read";
      return false;
    }
    return true;
  }
  std::string line;
  if (!std::getline(in, line) || line != kHeader) {
    error = path + ": not a vecta-sim state file";
    return false;
  }
  while (std::getline(in, line)) {
    std::string_view rest = line;
    std::string what, a, b, value;
    if (!NextWord(rest, what)) continue;
    int number = 0;
    if (what == "address" && NextWord(rest, a) && ParseNumber(a, number)) {
      state.address = number;
    } else if (what == "current" && NextWord(rest, a) && ParseNumber(a, number)) {
      state.current = number;
    } else if (what == "unit" && NextWord(rest, a) && UnescapeStateValue(rest, value)) {
      state.unit[a] = value;
    } else if (what == "config" && NextWord(rest, a) && ParseNumber(a, number) && number > 0 &&
               NextWord(rest, b) && UnescapeStateValue(rest, value)) {
      state.configurations[number][b] = value;
    }
  }
  return true;
}

}  // namespace vecta::sim
