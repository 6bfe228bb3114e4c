// The program on real desktops: ended by a signal while hiding, started
// without any display, closed with no system tray and then with one that came
// later, and its splash on an X server without a window manager.
#include <gtest/gtest.h>

#include <QImage>
#include <cstdio>

#include "tests/app/ProgramInstallation.h"
#include "tests/support/GnomeKeyFile.h"
#include "tests/support/LoopbackHttpServer.h"

namespace cloakline::test {
namespace {

const Installation::Environment kNoDisplay = {{"DISPLAY", std::nullopt},
                                              {"WAYLAND_DISPLAY", std::nullopt},
                                              {"QT_QPA_PLATFORM", std::nullopt}};

// GNOME's proxy mode as the key file holds it: "'manual'", or "'none'" (also
// when the key was never written).
std::string GnomeProxyMode(const Installation& inst) {
    const std::string path = inst.Dir.Path() + "/cfg/glib-2.0/settings/keyfile";
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return IniSectionValue(text.str(), "system/proxy", "mode").value_or("'none'");
}

TEST(EndSignalsTest, EachEndSignalWhileHidingPointsTheDesktopBackDirect) {
    TLoopbackHttpServer server;
    TScriptedResponse info;
    info.Body = "IP=81.2.69.160\r\nCOUNTRY_SHORT=GB\r\nCOUNTRY_LONG=United Kingdom\r\nCITY=London";
    server.Script("/getinfo", info);
    for (const int signal : {SIGTERM, SIGHUP, SIGINT}) {
        SCOPED_TRACE(signal);
        // One proxy, an update already had, the desktop switched, the local
        // information from the loopback server.
        Installation inst("URL.GetInfo=" + server.Url("/getinfo") +
                          "\r\nSWITCH.IE=1\r\nUpdate.Times=1\r\nUpdate.BeginAuto=0\r\n"
                          "NORMAL_IPS=10.0.0.1:8080|United States|US\r\n");
        const pid_t p = inst.Start({}, {{"GSETTINGS_BACKEND", "keyfile"},
                                        {"XDG_CURRENT_DESKTOP", "GNOME"},
                                        {"CLOAKLINE_TEST_HIDE", "1"}});
        ASSERT_TRUE(inst.WaitEvent(p, "hiding"))
            << inst.Dir.ReadFile("events.log") << inst.Dir.ReadFile("stderr.log");
        ASSERT_EQ(GnomeProxyMode(inst), "'manual'")
            << inst.Dir.ReadFile("stderr.log") << inst.Dir.ReadFile("events.log");

        ASSERT_EQ(::kill(p, signal), 0);
        EXPECT_TRUE(WaitUntil([&] { return GnomeProxyMode(inst) == "'none'"; }, 3000));
        EXPECT_EQ(inst.WaitExit(p, kStartMs), 0);
        EXPECT_TRUE(inst.HasEvent(p, "destroyed")) << "the window's own end ran";
    }
}

TEST(NoDisplayTest, SwitchesThatShowNoWindowWorkWithoutADisplay) {
    Installation program("", CLOAKLINE_PROGRAM);
    for (const char* sw : {"-a", "-s"}) {
        SCOPED_TRACE(sw);
        const pid_t p = program.Start({sw}, kNoDisplay);
        EXPECT_EQ(program.WaitExit(p, kStartMs), 0);
    }

    // A first instance on its own display; the later starts have none.
    Installation inst("");
    const pid_t first = inst.Start({});
    ASSERT_TRUE(inst.WaitEvent(first, "initpost shown"))
        << inst.Dir.ReadFile("events.log") << inst.Dir.ReadFile("stderr.log");
    const pid_t forward = inst.Start({"/home/user/list.txt"}, kNoDisplay);
    EXPECT_EQ(inst.WaitExit(forward, kStartMs), 0);
    EXPECT_TRUE(inst.WaitEvent(first, "cmdfile:/home/user/list.txt", 5000));

    const pid_t replace = inst.Start({"-r"}, kNoDisplay);
    EXPECT_EQ(inst.WaitExit(first, kStartMs), 0);
    EXPECT_EQ(inst.WaitExit(replace, kStartMs), 0);
    EXPECT_FALSE(inst.HasEvent(replace, "listening"));
    EXPECT_NE(inst.Dir.ReadFile("stderr.log").find("no display to show the window on"), std::string::npos);
}

// An X server of the test's own on a display number that was free.
class XServer {
  public:
    explicit XServer(Installation& inst) {
        for (int attempt = 0; attempt < 20 && Display.empty(); ++attempt) {
            const int number = 300 + static_cast<int>((::getpid() + attempt * 37) % 600);
            const std::string socket = "/tmp/.X11-unix/X" + std::to_string(number);
            if (fs::exists(socket) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) {
                continue;
            }
            const pid_t server = inst.Spawn("/usr/bin/Xvfb", {":" + std::to_string(number), "-screen", "0",
                                                              "1280x800x24", "-nolisten", "tcp"});
            // Another server that took the number meanwhile makes this one end.
            if (WaitUntil([&] { return fs::exists(socket); }, 10000) && !inst.WaitExit(server, 300)) {
                Display = ":" + std::to_string(number);
            } else {
                ::kill(server, SIGKILL);
                inst.WaitExit(server, 5000);
            }
        }
    }

    Installation::Environment Env() const {
        return {{"DISPLAY", Display}, {"QT_QPA_PLATFORM", std::nullopt}};
    }

    // What an X client prints on this display.
    std::string Run(const std::string& command) const {
        std::string output;
        if (FILE* pipe =
                ::popen(("DISPLAY=" + Display + " timeout 10 " + command + " 2>/dev/null").c_str(), "r")) {
            char chunk[256];
            while (std::fgets(chunk, sizeof chunk, pipe) != nullptr) {
                output += chunk;
            }
            ::pclose(pipe);
        }
        return output;
    }

    std::string Display;
};

// The window manager's view of the program's visible window: "Normal",
// "Iconic", or empty while it has none.
std::string WmState(const XServer& x, pid_t program) {
    std::istringstream windows(x.Run("xdotool search --pid " + std::to_string(program)));
    std::string id;
    while (std::getline(windows, id)) {
        const std::string state = x.Run("xprop -id " + id + " WM_STATE");
        for (const char* name : {"Normal", "Iconic"}) {
            if (state.find(std::string("window state: ") + name) != std::string::npos) {
                return name;
            }
        }
    }
    return "";
}

// A window of the program sits inside the tray's window: the tray embedded its icon.
bool IconInsideTray(const XServer& x, pid_t program) {
    std::istringstream trays(x.Run("xdotool search --class trayer"));
    std::vector<unsigned long> trayWindows;
    for (std::string id; std::getline(trays, id);) {
        trayWindows.push_back(std::stoul(id));
    }
    std::istringstream windows(x.Run("xdotool search --pid " + std::to_string(program)));
    for (std::string id; std::getline(windows, id);) {
        unsigned long window = std::stoul(id);
        for (int depth = 0; depth < 10 && window != 0; ++depth) {
            const std::string tree = x.Run("xwininfo -tree -id " + std::to_string(window));
            const auto at = tree.find("Parent window id: 0x");
            window = at == std::string::npos ? 0 : std::stoul(tree.substr(at + 18, 12), nullptr, 16);
            if (std::find(trayWindows.begin(), trayWindows.end(), window) != trayWindows.end()) {
                return true;
            }
        }
    }
    return false;
}

// Closes the program's window as a user does: the window manager's close key.
void CloseThroughWindowManager(const XServer& x, pid_t program) {
    std::istringstream windows(x.Run("xdotool search --onlyvisible --pid " + std::to_string(program)));
    std::string id;
    ASSERT_TRUE(std::getline(windows, id));
    x.Run("xdotool windowactivate --sync " + id);
    x.Run("xdotool key --clearmodifiers alt+F4");
}

// The installation has no language files: boxes show their keys.
constexpr const char* kNoTrayNotice = "box:[AppRes]MSGBox.CloseNotifyNoTray";
constexpr const char* kTrayNotice = "box:[AppRes]MSGBox.CloseNotify";

TEST(SystemTrayTest, WithoutATrayCloseMinimizesAndATrayThatComesLaterTakesTheIcon) {
    Installation inst("");
    const XServer x(inst);
    ASSERT_FALSE(x.Display.empty()) << "no X server could be started";
    inst.Spawn("/usr/bin/openbox", {"--sm-disable"}, x.Env());
    ASSERT_TRUE(WaitUntil([&] {
        return x.Run("xprop -root _NET_SUPPORTING_WM_CHECK").find("window id") != std::string::npos;
    }));

    const pid_t p = inst.Start({}, x.Env());
    ASSERT_TRUE(inst.WaitEvent(p, "initpost shown"))
        << inst.Dir.ReadFile("events.log") << inst.Dir.ReadFile("stderr.log");
    EXPECT_TRUE(inst.WaitEvent(p, "tray 0"));
    ASSERT_TRUE(WaitUntil([&] { return WmState(x, p) == "Normal"; }));

    CloseThroughWindowManager(x, p);
    EXPECT_TRUE(inst.WaitEvent(p, kNoTrayNotice));
    EXPECT_TRUE(inst.WaitEvent(p, "window minimized"));
    EXPECT_TRUE(WaitUntil([&] { return WmState(x, p) == "Iconic"; })) << "still in the window list";
    EXPECT_FALSE(inst.HasEvent(p, "window hidden"));
    // Starting the program again brings the window back.
    const pid_t again = inst.Start({}, x.Env());
    EXPECT_TRUE(inst.WaitExit(again, kStartMs).has_value());
    EXPECT_TRUE(WaitUntil([&] { return WmState(x, p) == "Normal"; }));

    // A tray comes: the icon goes into it, and closing hides the window there.
    const pid_t tray = inst.Spawn("/usr/bin/trayer", {"--edge", "bottom", "--widthtype", "request"}, x.Env());
    ASSERT_TRUE(inst.WaitEvent(p, "tray 1"));
    EXPECT_TRUE(WaitUntil([&] { return IconInsideTray(x, p); }, 5000));
    CloseThroughWindowManager(x, p);
    EXPECT_TRUE(inst.WaitEvent(p, kTrayNotice));
    EXPECT_TRUE(inst.WaitEvent(p, "window hidden"));
    EXPECT_TRUE(WaitUntil([&] { return WmState(x, p).empty(); })) << "withdrawn into the tray";
    const pid_t fromTray = inst.Start({}, x.Env());
    EXPECT_TRUE(inst.WaitExit(fromTray, kStartMs).has_value());
    EXPECT_TRUE(inst.WaitEvent(p, "bringtofront"));
    EXPECT_TRUE(WaitUntil([&] { return WmState(x, p) == "Normal"; }));

    // The tray goes away while the window waits in it: the window comes back minimised.
    CloseThroughWindowManager(x, p);
    ASSERT_TRUE(WaitUntil([&] { return inst.LastEvent(p, "window ") == "window hidden"; }));
    ::kill(tray, SIGTERM);
    inst.WaitExit(tray, 5000);
    EXPECT_TRUE(WaitUntil([&] { return inst.LastEvent(p, "tray ") == "tray 0"; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return WmState(x, p) == "Iconic"; }));
}

TEST(SystemTrayTest, StartedHiddenTheWindowWaitsInTheTrayOrMinimizedWithoutOne) {
    Installation inst("");
    const XServer x(inst);
    ASSERT_FALSE(x.Display.empty()) << "no X server could be started";
    inst.Spawn("/usr/bin/openbox", {"--sm-disable"}, x.Env());
    const pid_t minimized = inst.Start({"-h"}, x.Env());
    ASSERT_TRUE(inst.WaitEvent(minimized, "window minimized")) << inst.Dir.ReadFile("stderr.log");
    EXPECT_TRUE(WaitUntil([&] { return WmState(x, minimized) == "Iconic"; }));
    ::kill(minimized, SIGTERM);
    ASSERT_TRUE(inst.WaitExit(minimized, kStartMs).has_value());

    inst.Spawn("/usr/bin/trayer", {"--edge", "bottom"}, x.Env());
    ASSERT_TRUE(WaitUntil([&] { return x.Run("xdotool search --class trayer").size() > 0; }));
    const pid_t hidden = inst.Start({"-h"}, x.Env());
    ASSERT_TRUE(inst.WaitEvent(hidden, "initpost hidden"));
    EXPECT_TRUE(inst.WaitEvent(hidden, "tray 1"));
    EXPECT_FALSE(inst.HasEvent(hidden, "window shown"));
}

TEST(SplashTest, ClosesOnceTheMainWindowIsActiveWithoutAWindowManager) {
    Installation inst("App.Splash=1\r\n");
    QImage picture(300, 200, QImage::Format_ARGB32);
    picture.fill(QColor(40, 80, 160, 200));
    fs::create_directories(inst.Dir.Path() + "/install/res/images");
    ASSERT_TRUE(picture.save(QString::fromStdString(inst.Dir.Path() + "/install/res/images/splash.png")));
    const XServer x(inst);
    ASSERT_FALSE(x.Display.empty()) << "no X server could be started";

    const pid_t p = inst.Start({}, x.Env());
    ASSERT_TRUE(inst.WaitEvent(p, "initpost shown")) << inst.Dir.ReadFile("stderr.log");
    EXPECT_TRUE(inst.WaitEvent(p, "splash closed", 5000));
}

}  // namespace
}  // namespace cloakline::test
