// The desktop notification through a real D-Bus session (dbus-run-session)
// and a notification server that records.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <cstdlib>

#include "platform/linux/LinuxDesktopNotifier.h"
#include "tests/guard/NotificationServer.h"

namespace cloakline::test {
namespace {

TEST(LinuxDesktopNotifierTest, NotifiesTheSessionsServerAndFailsWithoutOne) {
    ASSERT_NE(std::getenv("DBUS_SESSION_BUS_ADDRESS"), nullptr) << "run through ctest (dbus-run-session)";
    TempDir dir;
    {
        NotificationServer server(dir.Path() + "/notifications");
        ASSERT_TRUE(server.WaitReady()) << server.Lines();
        LinuxDesktopNotifier notifier;
        EXPECT_TRUE(notifier.Notify("Web blocked", "Line one\nStart again"));
        EXPECT_EQ(server.Lines(), "ready\nnotify\tCloakline\tWeb blocked\tLine one\\nStart again\t2\n");
    }
    // The server has gone: nobody owns the name any more.
    LinuxDesktopNotifier notifier;
    EXPECT_FALSE(notifier.Notify("t", "b"));
}

}  // namespace
}  // namespace cloakline::test
