#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/linux/LinuxBrowserInventory.h"
#include "platform/linux/LinuxChromiumPolicy.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::FakeEnv;
using test::ForkedChild;
using test::SignalPipe;
using test::TempDir;

void MakeExecutable(const TempDir& dir, const std::string& relative) {
    dir.WriteFile(relative, "#!/bin/sh\nexit 0\n");
    fs::permissions(dir.Path() + "/" + relative, fs::perms::owner_all);
}

void Profile(const TempDir& dir, const std::string& root, const std::string& name, const std::string& prefs) {
    dir.WriteFile(root + "/" + name + "/prefs.js", prefs);
}

// A home with programs on the search path, profile folders, two Firefox
// profiles (one the user set to a proxy of its own, in use), and Flatpak and
// Snap installs, some of which are not browsers.
TEST(LinuxBrowserInventoryTest, FindsBrowsersOfATemporaryHome) {
    TempDir dir;
    const std::string home = dir.Sub("home");
    MakeExecutable(dir, "bin/chromium");
    MakeExecutable(dir, "bin/gimp");
    dir.Sub("home/.config/BraveSoftware/Brave-Browser/Default");
    dir.Sub("home/.config/libreoffice");
    dir.WriteFile("home/.mozilla/firefox/profiles.ini",
                  "[Profile0]\nName=work\nIsRelative=1\nPath=abc.work\n\n"
                  "[Profile1]\nName=default\nIsRelative=1\nPath=def.default\n");
    Profile(dir, "home/.mozilla/firefox", "abc.work", "user_pref(\"network.proxy.type\", 1);\n");
    Profile(dir, "home/.mozilla/firefox", "def.default", "user_pref(\"browser.startup.page\", 3);\n");
    // The Snap Firefox's own profile belongs to the Snap line.
    dir.WriteFile("home/snap/firefox/common/.mozilla/firefox/profiles.ini",
                  "[Profile0]\nName=snap\nIsRelative=1\nPath=snap.default\n");
    Profile(dir, "home/snap/firefox/common/.mozilla/firefox", "snap.default", "");
    fs::create_symlink("127.0.0.1:+" + std::to_string(::getpid()),
                       dir.Path() + "/home/.mozilla/firefox/abc.work/lock");
    dir.Sub("flatpak/app/org.chromium.Chromium/current");
    dir.Sub("flatpak/app/org.gnome.Calculator/current");
    dir.Sub("home/.local/share/flatpak/app/org.mozilla.firefox/current");
    dir.Sub("snap/firefox/current");
    dir.Sub("snap/core22/current");

    const FakeEnv env{{"HOME", home}, {"PATH", "relative/bin:" + dir.Path() + "/bin"}};
    TBrowserRoots roots = SystemBrowserRoots(env.Lookup());
    ASSERT_EQ(roots.ConfigHome, home + "/.config");
    ASSERT_EQ(roots.FlatpakRoots.back(), home + "/.local/share/flatpak/app");
    roots.FlatpakRoots.front() = dir.Path() + "/flatpak/app";
    roots.SnapRoot = dir.Path() + "/snap";
    roots.UsualPrograms.clear();

    const std::vector<TInstalledBrowser> expected = {
        {TBrowserKind::ChromiumBased, "Chromium", false, false},
        {TBrowserKind::ChromiumBased, "Brave", false, false},
        {TBrowserKind::FirefoxProfile, "abc.work", true, true},
        {TBrowserKind::FirefoxProfile, "def.default", false, false},
        {TBrowserKind::Flatpak, "org.chromium.Chromium", false, false},
        {TBrowserKind::Flatpak, "org.mozilla.firefox", false, false},
        {TBrowserKind::Snap, "firefox", false, false},
    };
    EXPECT_EQ(LinuxBrowserInventory(roots).Installed(), expected);

    // An empty home has none, and a program in a usual place counts.
    TempDir empty;
    MakeExecutable(empty, "opt/vivaldi");
    const FakeEnv emptyEnv{{"HOME", empty.Sub("home")}, {"PATH", empty.Path() + "/nothing"}};
    TBrowserRoots bare = SystemBrowserRoots(emptyEnv.Lookup());
    bare.FlatpakRoots = {empty.Path() + "/flatpak"};
    bare.SnapRoot = empty.Path() + "/snap";
    bare.UsualPrograms = {empty.Path() + "/opt/vivaldi"};
    EXPECT_EQ(LinuxBrowserInventory(bare).Installed(),
              (std::vector<TInstalledBrowser>{{TBrowserKind::ChromiumBased, "Vivaldi", false, false}}));
}

TEST(LinuxBrowserInventoryTest, ProcessesAreNamedByTheirProgram) {
    EXPECT_EQ(BrowserOfProcess("chromium", "/usr/lib/chromium/chromium"), "Chromium");
    EXPECT_EQ(BrowserOfProcess("ThreadPoolForeg", "/opt/google/chrome/chrome (deleted)"), "Google Chrome");
    EXPECT_EQ(BrowserOfProcess("Web Content", "/usr/lib/firefox-esr/firefox-esr"), "Firefox");
    EXPECT_EQ(BrowserOfProcess("msedge", ""), "Microsoft Edge");
    EXPECT_EQ(BrowserOfProcess("bash", "/usr/bin/bash"), "");
    EXPECT_EQ(BrowserOfProcess("", ""), "");
}

// A process that calls itself as a browser does, with or without an open
// connection to a local listener, as the gateway's clients have.
ForkedChild BrowserLike(const char* name, int port, const SignalPipe& ready) {
    return ForkedChild([name, port, &ready] {
        ::prctl(PR_SET_NAME, name, 0, 0, 0);
        int fd = -1;
        if (port != 0) {
            fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in to{};
            to.sin_family = AF_INET;
            to.sin_port = htons(static_cast<std::uint16_t>(port));
            to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
                return 1;
            }
        }
        ready.Notify();
        ::pause();
        return fd >= 0 ? 0 : 2;
    });
}

TEST(LinuxBrowserInventoryTest, CountsEachRunningBrowsersConnectionsToTheGateway) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
    ASSERT_EQ(::listen(listener, 8), 0);
    socklen_t length = sizeof at;
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&at), &length);
    const int port = ntohs(at.sin_port);

    SignalPipe chromiumReady;
    SignalPipe firefoxReady;
    ForkedChild chromium = BrowserLike("chromium", port, chromiumReady);
    ForkedChild firefox = BrowserLike("firefox-esr", 0, firefoxReady);
    ASSERT_TRUE(chromiumReady.Wait(5000));
    ASSERT_TRUE(firefoxReady.Wait(5000));

    const LinuxBrowserInventory inventory(SystemBrowserRoots());
    const auto running = inventory.Running(static_cast<std::uint16_t>(port));
    const auto find = [&running](const std::string& name) -> const TRunningBrowser* {
        for (const TRunningBrowser& browser : running) {
            if (browser.Name == name) {
                return &browser;
            }
        }
        return nullptr;
    };
    ASSERT_NE(find("Chromium"), nullptr);
    EXPECT_GE(find("Chromium")->GatewayConnections, 1);
    ASSERT_NE(find("Firefox"), nullptr);
    EXPECT_EQ(find("Firefox")->GatewayConnections, 0);
    // Another port is not the gateway's.
    for (const TRunningBrowser& browser : inventory.Running(static_cast<std::uint16_t>(port + 1))) {
        EXPECT_EQ(browser.GatewayConnections, 0) << browser.Name;
    }
    ::close(listener);
}

// The policy in a folder we may write, in our own writable file of a folder
// we may not, and nowhere in a folder we may not write at all. Run as an
// unprivileged user, for whom permissions count.
TEST(LinuxChromiumPolicyTest, WritesWherePermittedAndTakesItAwayAtStop) {
    TempDir dir;
    fs::permissions(dir.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                    fs::perms::others_read | fs::perms::others_exec);
    const std::string open = dir.Sub("chromium/policies/managed/");
    const std::string packaged = dir.Sub("chrome/policies/managed/");
    const std::string closed = dir.Sub("closed/policies/managed/");
    dir.WriteFile("chrome/policies/managed/cloakline-webrtc.json", "{}\n");
    dir.WriteFile("chrome/policies/managed/other.json", "{\"HomepageLocation\": \"x\"}\n");
    fs::permissions(packaged + "/cloakline-webrtc.json", fs::perms::all);
    const uid_t nobody = 65534;
    if (::getuid() == 0) {
        ASSERT_EQ(::chown(open.c_str(), nobody, nobody), 0);
    } else {
        fs::permissions(packaged, fs::perms::owner_read | fs::perms::owner_exec);
        fs::permissions(closed, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const std::string policy = "{\"WebRtcIPHandlingPolicy\": \"disable_non_proxied_udp\"}\n";

    ForkedChild child([&] {
        if (::getuid() == 0 && (::setgid(nobody) != 0 || ::setuid(nobody) != 0)) {
            return 10;
        }
        LinuxChromiumPolicy partly({open, packaged, closed, dir.Path() + "/absent"});
        if (!partly.Apply(true) || partly.Applied()) {
            return 11;  // the closed folder remains a risk
        }
        if (dir.ReadFile("chromium/policies/managed/cloakline-webrtc.json") != policy ||
            dir.ReadFile("chrome/policies/managed/cloakline-webrtc.json") != policy ||
            dir.Exists("closed/policies/managed/cloakline-webrtc.json")) {
            return 12;
        }
        if (!partly.Apply(false) || partly.Applied() ||
            dir.Exists("chromium/policies/managed/cloakline-webrtc.json") ||
            dir.ReadFile("chrome/policies/managed/cloakline-webrtc.json") != "{}\n" ||
            dir.ReadFile("chrome/policies/managed/other.json") != "{\"HomepageLocation\": \"x\"}\n") {
            return 13;
        }
        LinuxChromiumPolicy everywhere({open, packaged});
        return everywhere.Apply(true) && everywhere.Applied() ? 0 : 14;
    });
    EXPECT_EQ(child.WaitExit(10000), 0);
}

}  // namespace
}  // namespace cloakline
