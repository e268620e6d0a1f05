// Notices to the service manager: sent to the socket it names, skipped
// without one, and the watchdog pinged at half its interval.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

#include "gateway/service_notify.h"
#include "support/files.h"

namespace vecta::gateway {
namespace {

TEST(ServiceNotifier, NoticesReachTheManagersSocket) {
  test::TempDir dir;
  const std::string path = dir.File("notify");
  const int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
  ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);

  const ServiceNotifier notifier(path.c_str(), "30000000");
  EXPECT_EQ(notifier.WatchdogPingMs(), 15000);
  for (const char* state : {"READY=1", "WATCHDOG=1"}) {
    ASSERT_TRUE(notifier.Notify(state));
    char buf[64] = {};
    EXPECT_EQ(recv(fd, buf, sizeof buf - 1, MSG_DONTWAIT), static_cast<long>(std::strlen(state)));
    EXPECT_STREQ(buf, state);
  }
  close(fd);
}

TEST(ServiceNotifier, WithoutAManagerNothingIsSent) {
  const struct {
    const char* socket;
    const char* watchdog;
    std::int64_t pingMs;
  } cases[] = {{nullptr, "30000000", 0},
               {"relative/path", nullptr, 0},
               {"/nonexistent/notify", "abc", 0},
               {"/nonexistent/notify", "1", 1}};
  for (const auto& c : cases) {
    const ServiceNotifier notifier(c.socket, c.watchdog);
    EXPECT_EQ(notifier.WatchdogPingMs(), c.pingMs);
    EXPECT_FALSE(notifier.Notify("READY=1"));
  }
}

}  // namespace
}  // namespace vecta::gateway
