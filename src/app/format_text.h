// printf-style formatting into a std::string, for the operator texts that
// carry a number ("Error 0x%08x reading transmitter config", "Unable to load
// config %d") and the values the engineering pages show ("%.2f").
#pragma once

#include <string>

namespace vecta::app {

std::string FormatText(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace vecta::app
