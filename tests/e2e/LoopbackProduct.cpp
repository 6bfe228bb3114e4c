#include "tests/e2e/LoopbackProduct.h"

#include <unistd.h>

#include <QApplication>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/support/TextUtils.h"
#include "net/HttpGet.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/NativePath.h"

namespace cloakline::test {

namespace {

namespace fs = std::filesystem;

std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// The value of name=value in an INI text; nullopt when there is no such line.
std::optional<std::string> IniValue(const std::string& text, const std::string& name) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.rfind(name + "=", 0) == 0) {
            return line.substr(name.size() + 1);
        }
    }
    return std::nullopt;
}

THttpGetOptions FastGet() {
    THttpGetOptions options;
    options.ConnectTimeout = std::chrono::milliseconds(2000);
    options.TotalTimeout = std::chrono::milliseconds(5000);
    return options;
}

// The real data folders, with the program placed in the test's installation
// and the all-users folder inside it.
class InstalledFolders : public LinuxDataFolders {
  public:
    InstalledFolders(std::string exeName, std::string commonFolder)
        : LinuxDataFolders([this](const char* variable) {
              return std::string_view(variable) == "CLOAKLINE_COMMON_APPDATA" ? FCommon.c_str()
                                                                              : std::getenv(variable);
          }),
          FExeName(std::move(exeName)),
          FCommon(std::move(commonFolder)) {}
    std::string GetExeName() const override { return FExeName; }

  private:
    std::string FExeName;
    std::string FCommon;
};

}  // namespace

QApplication& App() {
    static int argc = 1;
    static char name[] = "cloakline_e2e_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::vector<TDemoProxy> LoopbackProductTest::DemoProxies() const {
    std::vector<TDemoProxy> proxies;
    proxies.push_back({"US", "United States", "Washington", "127.0.0.41", false, 0, nullptr});
    proxies.push_back({"DE", "Germany", "Berlin", "127.0.0.42", false, 0, nullptr});
    proxies.push_back({"JP", "Japan", "Tokyo", "127.0.0.43", true, 0, nullptr});
    return proxies;
}

void LoopbackProductTest::SetUp() {
    App();
    Chromium = FindOnPath("chromium");
    const std::string tinyproxy = FindOnPath("tinyproxy");
    if (Chromium.empty() || tinyproxy.empty()) {
        GTEST_SKIP() << "needs chromium and tinyproxy (scripts/setup.sh installs them)";
    }
    Host = LoopbackHostName();
    ASSERT_FALSE(Host.empty())
        << "this machine's host name must resolve to 127.0.0.1 (add it to /etc/hosts): "
           "browsers never send loopback addresses through a proxy";
    ASSERT_NO_FATAL_FAILURE(PrepareDesktop());

    Proxies = DemoProxies();
    for (TDemoProxy& proxy : Proxies) {
        ASSERT_NO_FATAL_FAILURE(StartProxy(proxy, tinyproxy));
    }
    ASSERT_NO_FATAL_FAILURE(StartServer());
    ASSERT_NO_FATAL_FAILURE(LayOutInstallation());

    System = CreateSystemPlatform();
    System->Folders = std::make_unique<InstalledFolders>(ToProgramPath(Work.Path() + "/prog/cloakline"),
                                                         Work.Sub("common"));
    SetGlobalPlatform(System.get());
    Network = std::make_unique<TQtNetworkRuntime>(std::chrono::seconds(5), THttpGetOptions{},
                                                  TWorkerTracker::Create());
    Downloads = Network->DownloaderContext(*System);
}

void LoopbackProductTest::TearDown() {
    Main.reset();
    Network.reset();
    if (System) {
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }
}

// HOME and the GSettings key file live in a folder of the build tree that
// CTest names; it is emptied first, so every run starts with a desktop that
// has never seen a proxy.
void LoopbackProductTest::PrepareDesktop() {
    const char* desktop = std::getenv("CLOAKLINE_E2E_DESKTOP");
    const char* home = std::getenv("HOME");
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* backend = std::getenv("GSETTINGS_BACKEND");
    ASSERT_TRUE(desktop != nullptr && *desktop == '/' && home != nullptr && config != nullptr)
        << "run through ctest: it sets CLOAKLINE_E2E_DESKTOP, HOME and XDG_CONFIG_HOME";
    const std::string root = std::string(desktop) + "/";
    ASSERT_EQ(std::string(home).rfind(root, 0), 0u) << "HOME must lie in " << root;
    ASSERT_EQ(std::string(config).rfind(root, 0), 0u) << "XDG_CONFIG_HOME must lie in " << root;
    ASSERT_STREQ(backend, "keyfile");
    fs::remove_all(desktop);
    fs::create_directories(home);
    fs::create_directories(config);
}

void LoopbackProductTest::StartProxy(TDemoProxy& proxy, const std::string& tinyproxy) {
    proxy.Port = FreeLoopbackPort();
    ASSERT_NE(proxy.Port, 0);
    std::string conf = "Port " + std::to_string(proxy.Port) + "\nListen " + proxy.Outgoing + "\nBind " +
                       proxy.Outgoing + "\nAllow 127.0.0.0/8\nConnectPort 443\n";
    if (::geteuid() == 0) {
        // It drops to nobody, which writes nothing: it logs to its standard error.
        conf += "User nobody\nGroup nogroup\n";
    }
    const std::string name = proxy.Outgoing;
    const std::string file = Work.Sub("proxies/" + name + ".conf");
    WriteText(file, conf);
    proxy.Process = std::make_unique<TChildProcess>(tinyproxy, std::vector<std::string>{"-d", "-c", file},
                                                    Work.Sub("proxies/" + name + ".log"));
    ASSERT_TRUE(proxy.Process->Started());
}

std::string LoopbackProductTest::ServerUrl(const std::string& path) const {
    return "http://127.0.0.1:" + std::to_string(ServerPort) + path;
}

void LoopbackProductTest::StartServer() {
    ServerPort = FreeLoopbackPort();
    ASSERT_NE(ServerPort, 0);
    CheckIpUrl = "http://" + Host + ":" + std::to_string(ServerPort) + "/checkip";
    Database = Work.Sub("server/server.db");
    std::string ranges = "127.0.0.1,127.0.0.1,NL,Netherlands,Amsterdam\n";
    for (const TDemoProxy& proxy : Proxies) {
        ranges += proxy.Outgoing + "," + proxy.Outgoing + "," + proxy.Code + "," + proxy.Country + "," +
                  proxy.City + "\n";
    }
    WriteText(Work.Sub("server/ranges.csv"), ranges);
    for (const TDemoProxy& proxy : Proxies) {
        std::vector<std::string> add = {"--db",      Database,        "add",
                                        "--address", proxy.Address(), "--country-code",
                                        proxy.Code,  "--country",     proxy.Country};
        if (proxy.Super) {
            add.emplace_back("--super");
        }
        const TRunResult added = RunToEnd(CLOAKLINE_INVENTORY, add, 30000);
        ASSERT_TRUE(added.Ended && added.ExitCode == 0) << added.Errors;
    }
    Server = std::make_unique<TChildProcess>(
        CLOAKLINE_SERVER,
        std::vector<std::string>{"--db", Database, "--listen", "127.0.0.1", "--port",
                                 std::to_string(ServerPort), "--ranges", Work.Sub("server/ranges.csv"),
                                 "--checkip-url", CheckIpUrl, "--health-interval", "1", "--log",
                                 Work.Sub("server/server.log")},
        Work.Sub("server/server.out"));
    ASSERT_TRUE(Server->Started());
    const bool up = WaitUntil(
        [this] {
            const THttpGetResult health = HttpGet(ServerUrl("/health"), FastGet());
            return !Server->Running() || (health.Ok() && health.Body.find("ok") != std::string::npos);
        },
        20000);
    ASSERT_TRUE(up && Server->Running())
        << "the server did not come up: " << Server->Log() << ReadText(Work.Path() + "/server/server.log");
    // The server pushes only proxies it has checked; the program's one update
    // check at its start must find them all.
    const std::string updateUrl = ServerUrl("/update?ACTION=Update&PID=CLK&VER=01000001");
    const bool checked = WaitUntil(
        [this, &updateUrl] {
            const std::string answer = HttpGet(updateUrl, FastGet()).Body;
            for (const TDemoProxy& proxy : Proxies) {
                if (answer.find(proxy.Address() + "|") == std::string::npos) {
                    return false;
                }
            }
            return true;
        },
        30000);
    if (!checked) {
        std::string logs;
        for (const TDemoProxy& proxy : Proxies) {
            logs += proxy.Address() + ":\n" + proxy.Process->Log();
        }
        FAIL() << "the server never found every proxy healthy:\n"
               << HttpGet(updateUrl, FastGet()).Body << "\n"
               << logs << ReadText(Work.Path() + "/server/server.log");
    }
}

// The program folder as the build lays it out, with the shipped constants
// pointed at this test's server.
void LoopbackProductTest::LayOutInstallation() {
    const fs::path program = CLOAKLINE_PROGRAM_DIR;
    const fs::path prog = Work.Sub("prog");
    fs::create_directories(prog);
    for (const char* part : {"lang", "res", "skins"}) {
        if (fs::exists(program / part)) {
            fs::copy(program / part, prog / part, fs::copy_options::recursive);
        }
    }
    const std::string shipped = ReadText(program / "const.dat");
    ASSERT_EQ(IniValue(shipped, "NORMAL_IPS"), std::string()) << "the shipped constants hold no proxies";
    ASSERT_EQ(IniValue(shipped, "SUPER_IPS"), std::string());
    std::string constants = ReplaceAll(shipped, "127.0.0.1:8480", "127.0.0.1:" + std::to_string(ServerPort));
    // A Firefox of the user running beside the test would get a notice box;
    // Firefox's part is not what this test is about.
    constants = ReplaceAll(constants, "FFEXT.INSTALLED=0", "FFEXT.INSTALLED=1");
    WriteText(prog / "const.dat", constants);
}

TfrmMain& LoopbackProductTest::Start() {
    Context = std::make_unique<TAppContext>(TAppContext{*System, GlobalSettings(), Channel, Switches,
                                                        Network->Fetcher(), Downloads, GatewayFactory});
    TMainFormHooks hooks;
    hooks.Quit = [] {};
    Main = std::make_unique<TfrmMain>(*Context, nullptr, std::move(hooks));
    Main->show();
    return *Main;
}

void LoopbackProductTest::WaitUntilReady(TfrmMain& main) {
    auto& tmrInit = *main.findChild<QTimer*>("tmrInit");
    // The proxy lists come with the update answer of the start-up check.
    ASSERT_TRUE(WaitUntil([&] { return main.LocalInfoGot() && !tmrInit.isActive(); }, 30000))
        << "local information " << main.LocalInfoGot() << ", lists loaded " << !tmrInit.isActive()
        << ", update answers " << GlobalSettings().GetSettingInteger("Update.Times");
}

TCheckIpView LoopbackProductTest::Browse() {
    return OpenInChromium(Chromium, CheckIpUrl, Work.Sub("chromium/profile-" + std::to_string(++Browsed)));
}

TDemoProxy& LoopbackProductTest::ProxyAt(const TProxyRec& rec) {
    for (TDemoProxy& proxy : Proxies) {
        if (proxy.Address() == rec.ProxyText()) {
            return proxy;
        }
    }
    ADD_FAILURE() << "the program chose " << rec.ProxyText() << ", which is none of the demo's proxies";
    return Proxies.front();
}

const TFlashCardView& LoopbackProductTest::Card(TFlashCard which) {
    return GlobalFlashForm()->FlashPlayer()->Card(which);
}

}  // namespace cloakline::test
