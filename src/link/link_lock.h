// The two process-wide locks. The link lock is held around each single
// exchange (and around opening, closing or reconfiguring the serial port);
// the poll lock is held by the poll thread around each of its requests and
// by every multi-step operation for its whole run. Whoever takes both takes
// the poll lock first: PollAndLinkLock and PollExchange do it in that order.
#pragma once

#include <mutex>
#include <string_view>

#include "link/remote_control.h"

namespace vecta::link {

std::recursive_mutex& LinkLock();
std::recursive_mutex& PollLock();

// One exchange under the link lock.
std::uint32_t Exchange(CRavlenRemoteControl& link, std::string_view request, LinkReply& reply, int logLevel = 1,
                       int waitBeforeReadMs = 0);

// One exchange as the poll thread makes it: the poll lock, then the link
// lock, both for this exchange only, so an operation that holds the poll
// lock keeps polling out until it is done.
std::uint32_t PollExchange(CRavlenRemoteControl& link, std::string_view request, LinkReply& reply,
                           int logLevel = 1);

// The poll lock held by one multi-step operation (full refresh, apply,
// config changes, config files and sets, restore defaults, unit address
// change) for as long as it lives: no poll request falls between the
// operation's steps. An operation that runs another inside itself holds it
// for both; the inner one is told so and takes nothing.
class OperationLock {
 public:
  OperationLock() : lock_(PollLock()) {}

 private:
  std::lock_guard<std::recursive_mutex> lock_;
};

// The poll lock and then the link lock, for as long as it lives: for a step
// that neither a poll request nor any other exchange may come between, such
// as closing one connection and opening the next, or a whole run of
// configuration switches.
class PollAndLinkLock {
 public:
  PollAndLinkLock() : poll_(PollLock()), link_(LinkLock()) {}

 private:
  std::lock_guard<std::recursive_mutex> poll_;  // first
  std::lock_guard<std::recursive_mutex> link_;
};

}  // namespace vecta::link
