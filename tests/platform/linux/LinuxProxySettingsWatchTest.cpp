#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/linux/LinuxProxySettingsWatch.h"
#include "tests/platform/linux/TempDesktop.h"

namespace cloakline {
namespace {

using Clock = std::chrono::steady_clock;

// Runs the watch's event source until onChange has run more often than
// before, or the time is up.
bool Noticed(LinuxProxySettingsWatch& watch, const int& calls, int before, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (Clock::now() < deadline) {
        watch.Pump();
        if (calls > before) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// The codes the child answers with.
enum Step { kAllNoticed = 0, kNotStarted, kGnomeMissed, kKdeMissed, kOperaMissed, kReportedAfterStop };

TEST(LinuxProxySettingsWatchTest, ChangesByAnotherProgramAreReportedUntilStop) {
    test::TempDesktop desktop;
    if (!desktop.HasGnomeProxySchema()) {
        GTEST_SKIP() << "needs gsettings and the GNOME desktop schemas";
    }
    desktop.Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=1\n");
    desktop.Dir.Sub("home/.opera/.keep");
    const std::vector<std::string> env = desktop.Environment();
    auto otherProgramSets = [&env](const char* schema, const char* key, const char* value) {
        return test::CommandOutput({"gsettings", "set", schema, key, value}, env, 10000).has_value();
    };
    // GIO takes its backend from the environment at first use, hence the child.
    const std::optional<int> result = desktop.InChild([&] {
        LinuxProxySettingsWatch watch;
        int calls = 0;
        if (!watch.Start([&calls] { ++calls; })) {
            return static_cast<int>(kNotStarted);
        }
        int before = calls;
        if (!otherProgramSets("org.gnome.system.proxy.socks", "host", "'10.1.1.1'") ||
            !Noticed(watch, calls, before, 3000)) {
            return static_cast<int>(kGnomeMissed);
        }
        before = calls;
        desktop.Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=0\n");
        if (!Noticed(watch, calls, before, 3000)) {
            return static_cast<int>(kKdeMissed);
        }
        before = calls;
        desktop.Dir.WriteFile("home/.opera/operaprefs.ini", "[Proxy]\nUse HTTP=0\n");
        if (!Noticed(watch, calls, before, 3000)) {
            return static_cast<int>(kOperaMissed);
        }
        watch.Stop();
        before = calls;
        otherProgramSets("org.gnome.system.proxy", "mode", "'manual'");
        desktop.Dir.WriteFile("cfg/kioslaverc", "[Proxy Settings]\nProxyType=1\n");
        return static_cast<int>(Noticed(watch, calls, before, 500) ? kReportedAfterStop : kAllNoticed);
    });
    EXPECT_EQ(result, kAllNoticed) << "1 not started, 2 GNOME missed, 3 kioslaverc missed, 4 Opera missed, "
                                      "5 reported after Stop";
}

TEST(LinuxProxySettingsWatchTest, WatchesKdesFileAndOperasFilesOfTheUser) {
    const std::map<std::string, std::string> vars = {{"HOME", "/home/ann"}, {"XDG_CONFIG_HOME", "/srv/cfg"}};
    LinuxProxySettingsWatch watch([&vars](const char* name) -> const char* {
        const auto found = vars.find(name);
        return found != vars.end() ? found->second.c_str() : nullptr;
    });
    EXPECT_EQ(watch.WatchedFiles(),
              (std::vector<std::string>{"/srv/cfg/kioslaverc", "/home/ann/.opera/opera6.ini",
                                        "/home/ann/.opera/operaprefs.ini"}));
}

}  // namespace
}  // namespace cloakline
