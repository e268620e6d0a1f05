#include "link/link_lock.h"

namespace vecta::link {

std::recursive_mutex& LinkLock() {
  static std::recursive_mutex m;
  return m;
}

std::recursive_mutex& PollLock() {
  static std::recursive_mutex m;
  return m;
}

std::uint32_t Exchange(CRavlenRemoteControl& link, std::string_view request, LinkReply& reply, int logLevel,
                       int waitBeforeReadMs) {
  std::lock_guard lock(LinkLock());
  return link.SendCommand(request, reply, logLevel, waitBeforeReadMs);
}

std::uint32_t PollExchange(CRavlenRemoteControl& link, std::string_view request, LinkReply& reply, int logLevel) {
  std::lock_guard poll(PollLock());
  return Exchange(link, request, reply, logLevel);
}

}  // namespace vecta::link
