// The unit as the gateway reaches it: the link controller the unit
// connection built, one SendCommand per transaction under the link lock.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "gateway/metrics/link_health.h"
#include "gateway/scheduler.h"
#include "link/clock.h"
#include "link/remote_control.h"

namespace vecta::gateway {

// The unit's reply frame in what the link kept of the latest reply (over
// TCP it begins with the envelope's length byte): STX through the first
// ETX, or nothing when there is no STX before an ETX.
link::Bytes ReplyFrameOf(std::string_view lastReply);

struct UnitLinkHooks {
  // Tries once to bring a lost link back (the serial device opened again,
  // TCP connected again); true when the link is up.
  std::function<bool()> reopen;
  // Whether the link is up now (a serial port open, a TCP socket).
  std::function<bool()> up;
  // A line for the journal: the unit was lost or came back.
  std::function<void(const std::string&)> notice;
};

class LinkUnitPort final : public UnitPort {
 public:
  LinkUnitPort(link::CRavlenRemoteControl& link, link::Clock& clock, UnitLinkHooks hooks);

  link::Bytes Transact(const link::Bytes& frame, int logLevel, const std::string& client) override;
  // While the link is down, tries to bring it back every
  // kReconnectIntervalMs.
  void Maintain() override;
  // Where each exchange and each loss of the unit is counted; set before the
  // unit thread starts, may be null.
  void SetHealth(metrics::LinkHealth* health) { health_ = health; }

 private:
  void Answered(bool answered);

  link::CRavlenRemoteControl& link_;
  link::Clock& clock_;
  UnitLinkHooks hooks_;
  metrics::LinkHealth* health_ = nullptr;
  bool answering_ = true;  // as far as the journal was told
  std::int64_t nextTryMs_ = 0;
};

}  // namespace vecta::gateway
