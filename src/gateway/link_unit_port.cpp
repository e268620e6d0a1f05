#include "gateway/link_unit_port.h"

#include <algorithm>
#include <mutex>
#include <utility>

#include "link/link_errors.h"
#include "link/link_lock.h"

namespace vecta::gateway {

link::Bytes ReplyFrameOf(std::string_view lastReply) {
  const std::size_t etx = lastReply.find(static_cast<char>(link::kEtx));
  if (etx == std::string_view::npos) return {};
  const std::size_t stx = lastReply.substr(0, etx).find(static_cast<char>(link::kStx));
  if (stx == std::string_view::npos) return {};
  return link::Bytes(lastReply.begin() + static_cast<std::ptrdiff_t>(stx),
                     lastReply.begin() + static_cast<std::ptrdiff_t>(etx + 1));
}

LinkUnitPort::LinkUnitPort(link::CRavlenRemoteControl& link, link::Clock& clock, UnitLinkHooks hooks)
    : link_(link), clock_(clock), hooks_(std::move(hooks)) {}

link::Bytes LinkUnitPort::Transact(const link::Bytes& frame, int logLevel, const std::string& client) {
  // The request text is the frame without its checksum and ETX: the link
  // puts back the same two bytes.
  const std::string text(frame.begin(), frame.end() - 2);
  link::LinkReply reply;
  std::uint32_t code = 0;
  link::Bytes replyFrame;
  {
    std::lock_guard lock(link::LinkLock());
    link_.LogNote("[" + client + "] ");
    const std::int64_t start = clock_.NowUs();
    code = link_.SendCommand(text, reply, logLevel);
    if (health_) health_->Exchanged(code, clock_.NowUs() - start);
    // A reply the link refused (bad checksum, a status it does not know) is
    // passed on as the unit gave it: the client's own link judges it.
    if (code == link::kLinkOk || code == link::kErrInvalidReply || code == link::kErrBadChecksum)
      replyFrame = ReplyFrameOf(link_.LastReply());
    // No reply from a TCP unit: it may have closed the connection (gone
    // away), which the link takes for a reply without ETX. Given up, so the
    // unit thread dials again, as after a failed send or receive.
    if (replyFrame.empty() && link_.Kind() == link::TransportKind::Tcp) link_.CloseEthernet();
  }
  Answered(!replyFrame.empty());
  return replyFrame;
}

void LinkUnitPort::Answered(bool answered) {
  if (answered == answering_) return;
  answering_ = answered;
  if (!answered && health_) health_->UnitLost();
  if (hooks_.notice) hooks_.notice(answered ? "The unit answers again" : "The unit stopped answering");
}

void LinkUnitPort::Maintain() {
  if (!hooks_.up || !hooks_.reopen) return;
  bool up = false;
  {
    std::lock_guard lock(link::LinkLock());
    up = hooks_.up();
  }
  if (up) return;
  const std::int64_t now = clock_.NowMs();
  if (now < nextTryMs_) return;
  nextTryMs_ = now + kReconnectIntervalMs;
  if (answering_) Answered(false);
  bool back = false;
  {
    std::lock_guard lock(link::LinkLock());
    back = hooks_.reopen();
  }
  if (back && hooks_.notice) hooks_.notice("The unit link is open again");
}

}  // namespace vecta::gateway
