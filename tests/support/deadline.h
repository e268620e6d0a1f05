// What is left of a test's real-time bound, for waits on child processes
// and their pipes.
#pragma once

#include <chrono>

namespace vecta::test {

using SteadyClock = std::chrono::steady_clock;

// Milliseconds until `deadline`, 0 once it has passed.
inline int MsLeft(SteadyClock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace vecta::test
