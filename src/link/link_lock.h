// The two process-wide locks. The link lock is held around each single
// exchange (and around opening, closing or reconfiguring the serial port);
// the poll lock is held by the poll thread around each of its requests and
// by every multi-step operation for its whole run. Whoever takes both takes
// the poll lock first.
#pragma once

#include <mutex>
#include <string_view>

#include "link/remote_control.h"

namespace vecta::link {

std::recursive_mutex& LinkLock();
std::recursive_mutex& PollLock();

// One exchange under the link lock.
std::uint32_t Exchange(CRavlenRemoteControl& link, std::string_view request, LinkReply& reply,
                       int logLevel = 1, int waitBeforeReadMs = 0);

}  // namespace vecta::link
