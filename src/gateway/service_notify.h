// Telling the service manager how the gateway is doing: ready once it
// listens, alive at each watchdog interval, stopping at the end. The
// manager names its socket in NOTIFY_SOCKET and the watchdog interval in
// WATCHDOG_USEC; without them every notice is skipped.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vecta::gateway {

class ServiceNotifier {
 public:
  // From the values of NOTIFY_SOCKET and WATCHDOG_USEC (nullptr: not set).
  ServiceNotifier(const char* notifySocket, const char* watchdogUsec);

  // Sends one notice ("READY=1", "WATCHDOG=1", "STOPPING=1"); false when
  // there is nobody to tell or the send failed.
  bool Notify(std::string_view state) const;
  // How often to send "WATCHDOG=1": half the manager's interval; 0 for never.
  std::int64_t WatchdogPingMs() const { return watchdogPingMs_; }

 private:
  std::string path_;  // a leading '@' names an abstract socket
  std::int64_t watchdogPingMs_ = 0;
};

}  // namespace vecta::gateway
