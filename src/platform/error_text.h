// The system's text for an error number (errno), safe to ask on any thread:
// the link's connect threads, the simulator's transports and the window all
// report failures at once.
#pragma once

#include <string.h>

#include <string>

namespace vecta::platform {

inline std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r returns the text, in `buffer` or in a constant.
  return ::strerror_r(error, buffer, sizeof buffer);
}

}  // namespace vecta::platform
