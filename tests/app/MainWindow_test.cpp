#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "app/uChooseIPCountry.h"
#include "app/uFlashForm.h"
#include "app/uMain.h"
#include "app/uSettings.h"
#include "core/framework/GlobalPlatform.h"
#include "core/proxy/FlashCommands.h"
#include "core/support/TextUtils.h"
#include "journal/RestoreJournal.h"
#include "platform/linux/LinuxAutoRun.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ModalBoxRecorder.h"
#include "tests/support/RecordingBrowsers.h"
#include "tests/support/RecordingGateway.h"
#include "tests/support/RecordingLogSink.h"
#include "tests/support/RecordingProcesses.h"
#include "tests/support/RecordingProxyRecorder.h"
#include "tests/support/ScriptedRandom.h"
#include "tests/support/TinyProxy.h"
#include "ui/QtNetworkRuntime.h"

namespace cloakline::test {
namespace {

namespace cmd = FlashCommandText;

QApplication& App() {
    static int argc = 1;
    static char name[] = "main_window_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string ShippedConst() {
    std::ifstream in(CLOAKLINE_SOURCE_DIR "/data/const.dat", std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string PngBytes(QColor colour) {
    QImage image(48, 48, QImage::Format_ARGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

TScriptedResponse Answer(int status, std::string body) {
    TScriptedResponse response;
    response.Status = status;
    response.Body = std::move(body);
    return response;
}

// What curl prints for a request through the proxy; bounded by its own time limit.
std::string CurlThrough(const std::string& proxy, const std::string& url) {
    const std::string command = "curl -s --max-time 10 -w ' %{http_code}' -x http://" + proxy + " " + url;
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n = 0;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            out.append(buffer, n);
        }
        ::pclose(pipe);
    }
    return out;
}

// The panel's player, keeping every command it is sent.
class RecordingPlayer : public TShockwaveFlash {
  public:
    RecordingPlayer(QWidget* owner, std::vector<std::string>& log) : TShockwaveFlash(owner), FLog(log) {}
    void SetVariable(std::string_view name, std::string_view value) override {
        FLog.emplace_back(value);
        TShockwaveFlash::SetVariable(name, value);
    }

  private:
    std::vector<std::string>& FLog;
};

constexpr const char* kLocalInfo =
    "IP=81.2.69.160\r\nCOUNTRY_SHORT=GB\r\nCOUNTRY_LONG=United Kingdom\r\nCITY=London";

// The real main window over the shipped constants pointed at a loopback
// server, real settings files in a temporary installation, a fake clock, and
// browsers, processes and the autostart folder that only record.
class MainWindowTest : public ::testing::Test {
  protected:
    MainWindowTest() {
        App();
        auto processes = std::make_unique<RecordingProcesses>();
        Processes = processes.get();
        Env.P.Processes = std::move(processes);
        auto desktop = std::make_unique<RecordingSystemProxy>();
        Desktop = desktop.get();
        Env.P.SystemProxy = std::move(desktop);
        auto firefox = std::make_unique<RecordingFirefox>();
        Firefox = firefox.get();
        Env.P.Firefox = std::move(firefox);
        Env.P.Opera = std::make_unique<FixedOperaPreferences>();
        const std::string xdg = Env.Dir.Sub("xdg");
        std::filesystem::create_directories(xdg);
        XdgHome = xdg;
        Env.P.AutoRun = std::make_unique<LinuxAutoRun>([this](const char* variable) {
            return std::string_view(variable) == "XDG_CONFIG_HOME" ? XdgHome.c_str() : nullptr;
        });
        SetGlobalPlatform(&Env.P);
        std::filesystem::copy(CLOAKLINE_SOURCE_DIR "/data/lang", Env.Dir.Sub("prog/lang"));
        Env.WriteConst(
            ReplaceAll(ShippedConst(), "127.0.0.1:8480", "127.0.0.1:" + std::to_string(Server.Port())));
        Server.Script("/getinfo", Answer(200, kLocalInfo));
        Server.Script("/touch", Answer(200, "OK"));
        Server.Script("/update", Answer(200, "magicword=cloakline-reference\r\nResult=0"));
        Server.Script("/flags/US.PNG", Answer(200, PngBytes(Qt::green)));
        Settings().SetSettingstring("NORMAL_IPS",
                                    "10.0.0.1:8080|United States|US;10.0.0.2:8080|United States|US;"
                                    "10.0.0.3:8080|Germany|DE");
        Settings().SetSettingstring("SUPER_IPS", "10.9.9.9:3128|United States|US");
        Settings().SetSettingInteger("Update.Times", 1);
        // No scheduled check at the deferred start: its answer would change settings mid-test.
        Settings().SetSettingBool("Update.BeginAuto", false);
        for (int i = 0; i < 20; ++i) {
            Random.Queue(10, 9);  // normal proxies first
        }
        Network = std::make_unique<TQtNetworkRuntime>(std::chrono::seconds(3), THttpGetOptions{},
                                                      TWorkerTracker::Create());
        Downloads = Network->DownloaderContext(Env.P);
    }
    ~MainWindowTest() override {
        if (Main) {
            Env.Clock->AdvanceSeconds(5);
            Main.reset();
        }
        Network.reset();
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }

    static TKTSettings& Settings() { return GlobalSettings(); }

    TfrmMain& Start() {
        Context = std::make_unique<TAppContext>(
            TAppContext{Env.P, Settings(), Channel, Switches, Network->Fetcher(), Downloads, GatewayFactory});
        TMainFormHooks hooks;
        hooks.Panel.ShowMessage = [](const std::string&) {};
        hooks.Panel.CreatePlayer = [this](QWidget* owner) { return new RecordingPlayer(owner, Commands); };
        hooks.Random = &Random;
        hooks.Quit = [this] { ++Quits; };
        Main = std::make_unique<TfrmMain>(*Context, nullptr, std::move(hooks));
        return *Main;
    }
    static bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
        QElapsedTimer timer;
        timer.start();
        while (!done() && timer.elapsed() < ms) {
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        return done();
    }
    // Started, its local information in and its proxy lists loaded.
    TfrmMain& Ready() {
        TfrmMain& main = Start();
        EXPECT_TRUE(WaitFor([&main] { return main.LocalInfoGot(); }));
        main.tmrInitTimer();
        Env.Clock->AdvanceSeconds(2);
        return main;
    }
    void ClickHide() { Main->findChild<QToolButton*>("btnHide")->click(); }
    std::string Caption() {
        return Main->findChild<QToolButton*>("btnHide")->defaultAction()->text().toStdString();
    }
    std::size_t Requests(const std::string& path) const {
        std::size_t n = 0;
        for (const TRecordedRequest& r : Server.Requests()) {
            n += r.Target.rfind(path, 0) == 0 ? 1 : 0;
        }
        return n;
    }
    std::vector<std::string> Since(std::size_t from) const {
        return std::vector<std::string>(Commands.begin() + static_cast<std::ptrdiff_t>(from), Commands.end());
    }
    QTimer& Timer(const char* name) { return *Main->findChild<QTimer*>(name); }
    // The window gets a recording gateway, reached through Gateway and Poster.
    void WithGateway() {
        GatewayFactory = [this](TMainThreadPoster post) {
            auto gateway = std::make_unique<RecordingGateway>();
            Gateway = gateway.get();
            Poster = std::move(post);
            return std::unique_ptr<IUpstreamGateway>(std::move(gateway));
        };
    }

    SettingsTestPlatform Env;
    TLoopbackHttpServer Server;
    RecordingProcesses* Processes = nullptr;
    RecordingSystemProxy* Desktop = nullptr;
    RecordingFirefox* Firefox = nullptr;
    std::string XdgHome;
    ScriptedRandom Random;
    TNoInstanceChannel Channel;
    TCommandLineSwitches Switches{{}, true};
    std::unique_ptr<TQtNetworkRuntime> Network;
    TDownloaderContext Downloads;
    std::unique_ptr<TAppContext> Context;
    std::vector<std::string> Commands;
    TGatewayFactory GatewayFactory;
    RecordingGateway* Gateway = nullptr;
    TMainThreadPoster Poster;
    int Quits = 0;
    std::unique_ptr<TfrmMain> Main;
};

const std::vector<std::string> kStopCommands = {
    cmd::SetIPInfoA("Local", "100", "100"), cmd::SetIPInfoA("Target", "100", "100"),
    cmd::Fade("Target", false, 0), cmd::TurnLocal(), cmd::SetTextInfo("Ready", 0xFF0000)};

TEST_F(MainWindowTest, StartClearsTheBrowsersThenShowsTheLocalCard) {
    Firefox->Installed = "/opt/firefox/firefox";
    Server.Script("/flags/GB.PNG", Answer(200, PngBytes(Qt::blue)));
    Env.Dir.WriteFile("prog/res/shroud.dat", "[Timing]\r\nAlphaMs=0\r\nFadeMs=0\r\nTurnMs=0\r\n");
    TfrmMain& main = Start();
    EXPECT_EQ(main.centralWidget()->size(), QSize(474, 236));
    EXPECT_EQ(Desktop->Applied, std::vector<std::string>{""});
    ASSERT_EQ(Firefox->Applied.size(), 1u);
    EXPECT_EQ(Firefox->Applied[0].Argument, "");
    EXPECT_EQ(Firefox->Installs.size(), 1u) << "the extension once per installation";
    EXPECT_TRUE(Settings().GetSettingBool("FFEXT.INSTALLED"));

    std::vector<std::string> start = kStopCommands;
    start.push_back(cmd::SetTextInfo("Verifying your IP information...", 0));
    ASSERT_GE(Commands.size(), start.size());
    EXPECT_EQ(Since(Commands.size() - start.size()), start);

    const std::size_t before = Commands.size();
    ASSERT_TRUE(WaitFor([&main] { return main.LocalInfoGot(); }));
    EXPECT_EQ(Requests("/getinfo?MagicWord=cloakline-reference"), 1u);
    const std::string flag = "http://127.0.0.1:" + std::to_string(Server.Port()) + "/flags/GB.PNG";
    EXPECT_EQ(
        Since(before),
        (std::vector<std::string>{
            cmd::SetIPInfo("Local", "True", flag, "81.2.69.160", "United Kingdom", "London", "100", "100"),
            cmd::SetIPInfo("Target", "", flag, "81.2.69.160", "United Kingdom", "London", "100", "100"),
            cmd::SetTextInfo("", 0), cmd::SetTextInfo("Ready", 0xFF0000)}));

    // The cards' flag, known only by its server address, is fetched into the
    // user data folder and shown on both cards.
    const TShockwaveFlash& player = *GlobalFlashForm()->FlashPlayer();
    EXPECT_TRUE(WaitFor([&] { return player.Card(TFlashCard::Local).FlagShown; }));
    EXPECT_TRUE(player.Card(TFlashCard::Target).FlagShown);
    EXPECT_EQ(player.Card(TFlashCard::Local).Flag, flag) << "the command keeps the address";
    EXPECT_TRUE(Env.P.Files->FileExists(Settings().UserDataPath() + "GB.PNG"));
    EXPECT_EQ(Requests("/flags/GB.PNG"), 1u);

    // The proxy lists load at the first tick; the flag of "US" is fetched and kept.
    main.tmrInitTimer();
    EXPECT_FALSE(Timer("tmrInit").isActive());
    ASSERT_TRUE(WaitFor([&] { return !main.findChild<QLabel*>("imgFL")->pixmap().isNull(); }));
    EXPECT_TRUE(Env.P.Files->FileExists(Settings().UserDataPath() + "US.PNG"));
    EXPECT_EQ(main.findChild<QLabel*>("imgFL")->pixmap().toImage().pixelColor(24, 24), QColor(Qt::green));

    // A code that would leave the user data folder is never asked for or stored.
    main.ProxyManager()->SetTargetCountry("../x");
    main.ResetCountryDisp();
    GlobalFlashForm()->SetIPInfo("Target", "True",
                                 "http://127.0.0.1:" + std::to_string(Server.Port()) + "/flags/..%2Fx.PNG",
                                 "1.2.3.4", "X", "", "100", "100");
    QApplication::processEvents();
    EXPECT_EQ(Requests("/flags/"), 2u) << "GB and US only";
}

TEST_F(MainWindowTest, HideSwitchesEveryBrowserAndStopClearsThem) {
    Firefox->Installed = "/opt/firefox/firefox";
    Settings().SetSettingBool("FFEXT.INSTALLED", true);
    TfrmMain& main = Ready();
    EXPECT_TRUE(Firefox->Installs.empty());
    EXPECT_EQ(Caption(), "&Hide IP");
    const std::size_t before = Commands.size();
    ClickHide();

    const TProxyRec target = main.ProxyManager()->TargetProxy();
    ASSERT_TRUE(target.HasAddress());
    EXPECT_FALSE(target.IsSuper);
    EXPECT_EQ(Desktop->Applied.back(), target.ProxyText());
    EXPECT_EQ(Firefox->Applied.back().Argument, target.ProxyText());
    EXPECT_EQ(Caption(), "&Stop Hide");
    EXPECT_EQ(Main->findChild<QToolButton*>("btnHide")->actions().size(), 1) << "no menu arrow";
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_TRUE(Timer("tmrChangeIP").isActive());
    EXPECT_FALSE(Timer("tmrTouch").isActive());
    const std::string flag = "http://127.0.0.1:" + std::to_string(Server.Port()) + "/flags/US.PNG";
    EXPECT_EQ(Since(before),
              (std::vector<std::string>{
                  cmd::SetIPInfo("Target", "True", flag, target.IP, "United States", "", "0", "100"),
                  cmd::Fade("Target", true, 100), cmd::SetIPInfoA("Local", "50", "100"), cmd::TurnTarget(),
                  cmd::SetTextInfo("Your IP address is hidden", 0)}));

    // A language switch while hiding leaves the button on Stop, in the new language.
    main.Engine()->SetLanguage("German");
    QAction& stop = *main.findChild<QAction*>("actStopHide");
    EXPECT_EQ(stop.text().toStdString(), "Verbergen &stoppen");
    EXPECT_EQ(main.findChild<QToolButton*>("btnHide")->text(), stop.iconText());
    EXPECT_EQ(main.findChild<QAction*>("Shroud1")->text(), stop.text());
    main.Engine()->SetLanguage("English");

    Env.Clock->AdvanceSeconds(2);
    const std::size_t stopAt = Commands.size();
    main.findChild<QAction*>("Shroud1")->trigger();
    EXPECT_EQ(Since(stopAt), kStopCommands);
    EXPECT_EQ(Desktop->Applied.back(), "");
    EXPECT_EQ(Firefox->Applied.back().Argument, "");
    EXPECT_EQ(Caption(), "&Hide IP");
    EXPECT_FALSE(Timer("tmrChangeIP").isActive());
    EXPECT_EQ(main.ProxyManager()->TargetProxy(), target) << "the next Hide replaces it";
}

TEST_F(MainWindowTest, SecondClickWithinASecondIsRefusedAndKeepsTheFirstProxy) {
    TfrmMain& main = Ready();
    ModalBoxRecorder boxes;
    ClickHide();
    const TProxyRec first = main.ProxyManager()->TargetProxy();
    const std::size_t switches = Desktop->Applied.size();
    Env.Clock->AdvanceSeconds(0.6);
    ClickHide();
    EXPECT_EQ(boxes.Texts, QStringList{"Please wait a moment before you hide or stop again."});
    EXPECT_EQ(Desktop->Applied.size(), switches);
    EXPECT_EQ(main.ProxyManager()->TargetProxy(), first);
    EXPECT_EQ(Caption(), "&Stop Hide");

    Env.Clock->AdvanceSeconds(0.6);
    ClickHide();
    EXPECT_EQ(Caption(), "&Hide IP") << "1.2 s after the first click";
}

TEST_F(MainWindowTest, EndingRightAfterHideStillClearsTheBrowsers) {
    Firefox->Installed = "/opt/firefox/firefox";
    Settings().SetSettingBool("FFEXT.INSTALLED", true);
    Ready();
    ModalBoxRecorder boxes;
    ClickHide();
    ASSERT_NE(Desktop->Applied.back(), "");
    Env.Clock->AdvanceSeconds(0.3);
    Main.reset();
    EXPECT_EQ(Desktop->Applied.back(), "");
    EXPECT_EQ(Firefox->Applied.back().Argument, "");
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

// With a recorder, as the Linux and Windows platforms have one: the user's
// own settings are recorded before Hide changes them and given back by Stop.
class MainWindowJournalTest : public MainWindowTest {
  protected:
    MainWindowJournalTest() {
        auto recorder = std::make_unique<test::RecordingProxyRecorder>();
        Recorder = recorder.get();
        Recorder->Now = {{"gsettings/org.gnome.system.proxy", "mode", "'auto'"}};
        Env.P.ProxyRecorder = std::move(recorder);
        Firefox->Installed = "/opt/firefox/firefox";
        Settings().SetSettingBool("FFEXT.INSTALLED", true);
    }
    static std::string JournalPath() {
        return Settings().UserDataFolder() + std::string(kRestoreJournalName);
    }
    bool JournalThere() const { return Env.P.Files->FileExists(JournalPath()); }

    test::RecordingProxyRecorder* Recorder = nullptr;
};

TEST_F(MainWindowJournalTest, StartWithoutAJournalLeavesTheUsersSettingsAlone) {
    Start();
    EXPECT_TRUE(Desktop->Applied.empty());
    // Firefox is only asked to take away a block of ours that a run left.
    for (const auto& applied : Firefox->Applied) {
        EXPECT_EQ(applied.Argument, "");
    }
    EXPECT_TRUE(Recorder->Restored.empty());
    EXPECT_EQ(Recorder->Records, 0);
}

TEST_F(MainWindowJournalTest, StartAfterARunThatDiedGivesTheJournalBack) {
    const std::vector<TRecordedSetting> left = {{"file", "/etc/x.json", std::nullopt}, {"s", "k", "v"}};
    ASSERT_TRUE(Env.P.Files->ForceDirectories(Settings().UserDataFolder()));
    ASSERT_TRUE(Env.P.Files->ReplaceFile(JournalPath(), EncodeJournal(left)));
    Start();
    ASSERT_EQ(Recorder->Restored.size(), 1u);
    EXPECT_EQ(Recorder->Restored[0], left);
    EXPECT_FALSE(JournalThere());
    EXPECT_TRUE(Desktop->Applied.empty()) << "no direct connection forced";
}

TEST_F(MainWindowJournalTest, HideRecordsFirstAndStopGivesBackWithoutGoingDirect) {
    TfrmMain& main = Ready();
    std::size_t switchedAtRecord = 99;
    Recorder->OnRecord = [&] { switchedAtRecord = Desktop->Applied.size(); };
    ClickHide();
    ASSERT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(switchedAtRecord, 0u) << "recorded before the first change";
    EXPECT_EQ(Desktop->Applied.size(), 1u);
    EXPECT_TRUE(JournalThere());

    // A move to another proxy keeps the first record: it holds the user's values.
    Env.Clock->AdvanceSeconds(2);
    main.Hider().actShroudExecute();
    EXPECT_EQ(Desktop->Applied.size(), 2u);
    EXPECT_EQ(Recorder->Records, 1);

    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_EQ(Caption(), "&Hide IP");
    ASSERT_EQ(Recorder->Restored.size(), 1u);
    EXPECT_EQ(Recorder->Restored[0], Recorder->Now);
    EXPECT_EQ(Desktop->Applied.size(), 2u) << "given back directly, no direct connection in between";
    EXPECT_FALSE(JournalThere());

    // A second Stop has nothing to give back and changes nothing.
    Env.Clock->AdvanceSeconds(2);
    main.Hider().actStopHideExecute();
    EXPECT_EQ(Recorder->Restored.size(), 1u);
    EXPECT_EQ(Desktop->Applied.size(), 2u);
}

TEST_F(MainWindowJournalTest, SettingsThatCannotBeRecordedAreNotChanged) {
    TfrmMain& main = Ready();
    ModalBoxRecorder boxes;
    Recorder->FailRecord = true;
    ClickHide();
    EXPECT_FALSE(main.Hider().IsHiding());
    EXPECT_TRUE(Desktop->Applied.empty());
    EXPECT_FALSE(JournalThere());
    EXPECT_EQ(boxes.Texts,
              QStringList{"Your own proxy settings could not be saved, so nothing has been changed "
                          "and your IP address is not hidden. Please check that your user folder "
                          "can be written to."});

    // A restore that fails keeps the journal and sends the browsers direct.
    Recorder->FailRecord = false;
    Recorder->FailRestore = true;
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    ASSERT_TRUE(main.Hider().IsHiding());
    boxes.Texts.clear();
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_EQ(Desktop->Applied.back(), "");
    EXPECT_TRUE(JournalThere()) << "tried again at the next Stop or start";
    ASSERT_EQ(boxes.Texts.size(), 1);
    EXPECT_TRUE(boxes.Texts[0].startsWith("Your own proxy settings could not all be put back"));
}

TEST_F(MainWindowTest, BrowsersThatCouldNotBeSwitchedAreNamed) {
    Firefox->Installed = "/opt/firefox/firefox";
    Settings().SetSettingBool("FFEXT.INSTALLED", true);
    TfrmMain& main = Ready();
    ModalBoxRecorder boxes;
    const std::string system =
        "System proxy settings (used by Internet Explorer, Chrome, Chromium and others)";
    const auto shown = [&boxes] { return boxes.Texts.join(" | ").toStdString(); };

    // One browser failed: hiding goes on with the others, and says so.
    Firefox->ApplyResult = false;
    std::size_t before = Commands.size();
    ClickHide();
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(shown(),
              "These browsers could not be pointed at the proxy and still show your own IP address: "
              "Firefox.");
    ASSERT_FALSE(Since(before).empty());
    EXPECT_EQ(Since(before).back(), cmd::SetTextInfo("Your IP address is hidden in some browsers only", 0));

    // The timed change does not repeat a failure that stays the same.
    boxes.Texts.clear();
    Env.Clock->AdvanceSeconds(2);
    main.Hider().actShroudExecute();
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(shown(), "");

    // Not one browser took the next proxy (a timed change, say): nothing
    // hides any more, the browsers are cleared.
    Desktop->Result = false;
    boxes.Texts.clear();
    Env.Clock->AdvanceSeconds(2);
    before = Commands.size();
    main.Hider().actShroudExecute();
    EXPECT_FALSE(main.Hider().IsHiding());
    EXPECT_EQ(Caption(), "&Hide IP");
    EXPECT_EQ(Desktop->Applied.back(), "");
    EXPECT_EQ(shown(),
              "No browser could be pointed at the proxy, so your IP address is not hidden. Could not "
              "be switched: " +
                  system + ", Firefox.");
    EXPECT_EQ(Since(before), kStopCommands);

    // A Stop that left a browser on the proxy names it.
    Firefox->ApplyResult = true;
    boxes.Texts.clear();
    Env.Clock->AdvanceSeconds(2);
    main.Hider().actStopHideExecute();
    EXPECT_EQ(shown(),
              "These browsers could not be set back to a direct connection and may still use the proxy: " +
                  system + ".");
}

TEST_F(MainWindowTest, TimedChangeComesAtTheConfiguredMinutes) {
    Settings().SetSettingInteger("ChangeIPTime", 0);
    TfrmMain& main = Ready();
    main.Hider().tmrChangeIPTimer();
    EXPECT_EQ(Desktop->Applied.size(), 1u) << "not hiding: the tick does nothing";
    ClickHide();
    const TProxyRec first = main.ProxyManager()->TargetProxy();
    Env.Clock->AdvanceSeconds(10);
    main.Hider().tmrChangeIPTimer();
    EXPECT_NE(main.ProxyManager()->TargetProxy(), first) << "every tick with 0 minutes";
    EXPECT_EQ(Desktop->Applied.size(), 3u);

    Settings().SetSettingInteger("ChangeIPTime", 5);
    const TProxyRec second = main.ProxyManager()->TargetProxy();
    Env.Clock->AdvanceSeconds(4 * 60 + 59);
    main.Hider().tmrChangeIPTimer();
    EXPECT_EQ(main.ProxyManager()->TargetProxy(), second);
    Env.Clock->AdvanceSeconds(1);
    main.Hider().tmrChangeIPTimer();
    EXPECT_NE(main.ProxyManager()->TargetProxy(), second) << "five whole minutes";
}

TEST_F(MainWindowTest, SuperProxyIsTouchedWhenChosenAndAfterMoreThanThirtyMinutes) {
    Random.Queued.clear();  // super proxies first
    TfrmMain& main = Ready();
    ClickHide();
    ASSERT_TRUE(main.ProxyManager()->TargetProxy().IsSuper);
    EXPECT_TRUE(Timer("tmrTouch").isActive());
    ASSERT_TRUE(WaitFor([this] { return Requests("/touch?ip=10.9.9.9") == 1; }));

    Env.Clock->AdvanceSeconds(30 * 60 + 59);
    main.Hider().tmrTouchTimer();
    Env.Clock->AdvanceSeconds(1);
    main.Hider().tmrTouchTimer();
    ASSERT_TRUE(WaitFor([this] { return Requests("/touch") == 2; }));
    QApplication::processEvents();
    EXPECT_EQ(Requests("/touch"), 2u) << "30:59 sends nothing, 31:00 does";

    // The only super proxy is used; a normal one stops the touches.
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_FALSE(main.ProxyManager()->TargetProxy().IsSuper);
    EXPECT_FALSE(Timer("tmrTouch").isActive());
}

TEST_F(MainWindowTest, HideWaitsForTheFirstUpdateAndTheLocalInformation) {
    Settings().SetSettingInteger("Update.Times", 0);
    Server.Script("/getinfo", Answer(404, ""));
    TfrmMain& main = Start();
    main.tmrInitTimer();
    Env.Clock->AdvanceSeconds(2);
    ModalBoxRecorder boxes;
    ClickHide();
    EXPECT_EQ(Settings().GetSettingInteger("Update.Times"), 1) << "the first update was asked for at once";
    EXPECT_EQ(Requests("/update"), 1u);
    EXPECT_EQ(boxes.Texts.size(), 1u) << "no local information yet";
    EXPECT_EQ(Desktop->Applied.size(), 1u);
    ASSERT_TRUE(WaitFor([this] { return Requests("/getinfo") == 2; })) << "asked again";

    Server.Script("/getinfo", Answer(200, kLocalInfo));
    Env.Clock->AdvanceSeconds(2);
    main.actChooseIPCountryExecute();
    EXPECT_EQ(boxes.Texts.size(), 2u);
    ASSERT_TRUE(WaitFor([&main] { return main.LocalInfoGot(); }));

    // Nothing to hide behind: refused, and nothing is switched.
    Settings().SetSettingstring("SUPER_IPS", "");
    main.ProxyManager()->LoadSettings();
    main.ProxyManager()->SetTargetCountry("FR");
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_EQ(
        boxes.Texts.back().toStdString(),
        "No proxy is available for the chosen location. Please try again later or choose another location.");
    EXPECT_EQ(Desktop->Applied.size(), 1u);
    EXPECT_FALSE(main.Hider().IsHiding());
}

TEST_F(MainWindowTest, LocalCountryCnInAnyCaseEndsTheProgram) {
    for (const char* code : {"CN", "cn"}) {
        Server.Script("/getinfo", Answer(200, std::string("IP=1.2.3.4\r\nCOUNTRY_SHORT=") + code));
        ModalBoxRecorder boxes;
        Quits = 0;
        TfrmMain& main = Start();
        main.show();
        ASSERT_TRUE(WaitFor([&main] { return main.LocalInfoGot(); })) << code;
        EXPECT_EQ(boxes.Texts, QStringList{"This product is unavailable in this country."});
        EXPECT_TRUE(main.Ending());
        EXPECT_FALSE(main.isVisible());
        EXPECT_EQ(Quits, 1);
        Env.Clock->AdvanceSeconds(5);
        Main.reset();
        EXPECT_EQ(Desktop->Applied.back(), "") << "the end clears the browsers once more";
    }
}

TEST_F(MainWindowTest, ChooserAutoSelectedHidesCancelKeepsEverything) {
    TfrmMain& main = Ready();
    bool shown = false;
    OnNextModal<TfrmChooseIPCountry>([&shown](TfrmChooseIPCountry& dialog) {
        shown = true;
        dialog.findChild<QListWidget*>("lvList")->setCurrentRow(2);
        dialog.findChild<QPushButton*>("btnCancel")->click();
    });
    main.findChild<QPushButton*>("btnChooseIP")->click();
    EXPECT_TRUE(shown);
    EXPECT_EQ(main.ProxyManager()->TargetCountry(), "US");
    EXPECT_EQ(Desktop->Applied.size(), 1u);
    EXPECT_FALSE(main.Hider().IsHiding());

    OnNextModal<TfrmChooseIPCountry>([](TfrmChooseIPCountry& dialog) {
        dialog.findChild<QListWidget*>("lvList")->setCurrentRow(0);
        dialog.findChild<QPushButton*>("btnOK")->click();
    });
    main.actChooseIPCountryExecute();
    EXPECT_EQ(main.ProxyManager()->TargetCountry(), "UN");
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(Desktop->Applied.back(), main.ProxyManager()->TargetProxy().ProxyText());
}

TEST_F(MainWindowTest, OptionsCancelLeavesEverySettingAlone) {
    TfrmMain& main = Ready();
    Settings().SetSettingBool("AlwaysOnTop", false);
    const auto read = [this] {
        return Env.P.Files->ReadFile(Settings().UserDataPath() + "setting.dat", 1u << 20);
    };
    const std::optional<std::string> saved = read();
    ASSERT_TRUE(saved.has_value());
    ASSERT_NE(saved->find("NORMAL_IPS"), std::string::npos);
    bool shown = false;
    OnNextModal<TfrmSettings>([&shown](TfrmSettings& dialog) {
        shown = true;
        for (QCheckBox* box : dialog.findChildren<QCheckBox*>()) {
            box->setChecked(!box->isChecked());
        }
        dialog.findChild<QSpinBox*>("edtChangeIPTime")->setValue(42);
        dialog.findChild<QPushButton*>("btnCancel")->click();
    });
    QLabel& options = *main.findChild<QLabel*>("lblOptions");
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(2, 2), options.mapToGlobal(QPointF(2, 2)),
                        Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&options, &release);
    EXPECT_TRUE(shown);
    EXPECT_EQ(read(), saved);
    EXPECT_EQ(Settings().GetSettingInteger("ChangeIPTime"), 10);
    EXPECT_TRUE(Settings().GetSettingBool("ChangeIP"));
    EXPECT_FALSE(std::filesystem::exists(XdgHome + "/autostart"));
    EXPECT_TRUE(Timer("tmrChangeIP").isActive());
}

TEST_F(MainWindowTest, CloseWithoutATrayMinimizesExitEndsAndMenusCarryTheirCommands) {
    TfrmMain& main = Ready();
    main.show();
    ASSERT_FALSE(main.TrayShown()) << "the offscreen platform has no system tray";
    ModalBoxRecorder boxes;
    main.close();
    EXPECT_TRUE(main.isVisible()) << "nothing would lead back to a hidden window";
    EXPECT_TRUE(main.isMinimized());
    EXPECT_FALSE(main.Ending());
    EXPECT_EQ(boxes.Texts,
              QStringList{"Cloakline keeps running, minimized, so that your IP address stays hidden. "
                          "To quit, right-click the window and choose Exit."});
    EXPECT_EQ(main.findChild<QMenu*>("pmSys")->actions().back(), main.findChild<QAction*>("actExit"))
        << "Exit is reachable from the window itself";
    main.findChild<QAction*>("actOpen")->trigger();
    EXPECT_TRUE(main.isVisible());
    EXPECT_FALSE(main.isMinimized());

    bool cancel = false;
    main.spDynamicSkinFormObjectCommand(TSkinFormCommand::Maximize, cancel);
    EXPECT_TRUE(cancel);
    main.spDynamicSkinFormObjectCommand(TSkinFormCommand::Minimize, cancel);
    EXPECT_FALSE(cancel);

    main.findChild<QAction*>("actAlwaysOnTop")->trigger();
    EXPECT_TRUE(Settings().GetSettingBool("AlwaysOnTop"));
    EXPECT_TRUE(main.findChild<QAction*>("actAlwaysOnTop")->isChecked());
    main.findChild<QAction*>("actCheckIPInfo")->trigger();
    main.findChild<QAction*>("actHomePage")->trigger();
    ASSERT_EQ(Processes->OpenedUrls.size(), 2u);
    EXPECT_EQ(Processes->OpenedUrls[0], "http://127.0.0.1:" + std::to_string(Server.Port()) + "/checkip");
    EXPECT_EQ(
        Processes->OpenedUrls[1].rfind("http://127.0.0.1:" + std::to_string(Server.Port()) + "/home", 0), 0u);

    QStringList tray;
    for (QAction* item : main.findChild<QMenu*>("pmTray")->actions()) {
        tray << (item->isSeparator() ? QStringLiteral("-") : item->objectName());
    }
    EXPECT_EQ(tray,
              QStringList({"actOpen", "Shroud1", "actCheckIPInfo", "actChooseIPCountry", "-", "actSettings",
                           "actUpdate", "-", "actHomePage", "actHelpCenter", "actAbout", "actExit"}));

    main.findChild<QAction*>("actExit")->trigger();
    EXPECT_TRUE(main.Ending());
    EXPECT_FALSE(main.isVisible());
    EXPECT_EQ(Quits, 1);
}

TEST_F(MainWindowTest, TimersRunAtTheirIntervalsAndTheStartTimerRetriesUntilAnUpdateBringsTheLists) {
    Settings().SetSettingstring("NORMAL_IPS", "");
    Settings().SetSettingstring("SUPER_IPS", "");
    Settings().SetSettingInteger("Update.Times", 0);
    Settings().SetSettingBool("Update.BeginAuto", true);
    // The deferred start's update check; its answer comes after the first tick.
    TScriptedResponse update = Answer(200,
                                      "magicword=cloakline-reference\r\nResult=0\r\n"
                                      "__MODIFY__.NORMAL_IPS=10.0.0.1:8080|United States|US");
    update.DelayBeforeHeaders = std::chrono::milliseconds(1800);
    Server.Script("/update", update);
    ModalBoxRecorder boxes;
    TfrmMain& main = Start();
    EXPECT_EQ(Timer("tmrInit").interval(), 1000);
    EXPECT_EQ(Timer("tmrChangeIP").interval(), 10000);
    EXPECT_EQ(Timer("tmrTouch").interval(), 300000);
    ASSERT_TRUE(Timer("tmrInit").isActive());
    int ticks = 0;
    QObject::connect(&Timer("tmrInit"), &QTimer::timeout, [&ticks] { ++ticks; });

    ASSERT_TRUE(WaitFor([this] { return !Timer("tmrInit").isActive(); }, 10000));
    EXPECT_GE(ticks, 2) << "a tick before the answer found no list and the timer went on";
    EXPECT_EQ(Requests("/update"), 1u);
    EXPECT_EQ(main.ProxyManager()->GetcountryListCount("US", true), 1);
    EXPECT_TRUE(boxes.Texts.isEmpty());
}

// A watch of the desktop's proxy settings that the test plays changes through.
class ScriptedWatch : public IProxySettingsWatch {
  public:
    bool Start(std::function<void()> onChange) override {
        OnChange = std::move(onChange);
        ++Starts;
        return true;
    }
    void Stop() override { OnChange = nullptr; }
    bool Watching() const { return static_cast<bool>(OnChange); }

    std::function<void()> OnChange;
    int Starts = 0;
};

// A desktop that holds what was applied last, until another program changes it.
class HoldingSystemProxy : public RecordingSystemProxy {
  public:
    bool ApplyProxy(std::string_view proxy) override {
        Current = proxy;
        return RecordingSystemProxy::ApplyProxy(proxy);
    }
    std::string CurrentProxy() const override { return Current; }

    std::string Current;
};

TEST_F(MainWindowTest, AnotherProgramsChangeWhileHidingThroughTheGatewayIsPutBackUntilStop) {
    auto watch = std::make_unique<ScriptedWatch>();
    ScriptedWatch& changes = *watch;
    Env.P.SettingsWatch = std::move(watch);
    auto holding = std::make_unique<HoldingSystemProxy>();
    HoldingSystemProxy& desktop = *holding;
    Env.P.SystemProxy = std::move(holding);
    Desktop = &desktop;
    Settings().SetSettingBool("FFEXT.INSTALLED", true);
    WithGateway();
    TfrmMain& main = Ready();
    ClickHide();
    EXPECT_EQ(changes.Starts, 0) << "nothing is watched before the browsers point anywhere";
    bool posted = false;
    Poster([&] { posted = Gateway->Answer(CheckPage("198.51.100.1", "US")); });
    ASSERT_TRUE(WaitFor([&] { return posted; }));
    ASSERT_TRUE(main.Hider().HidingThroughGateway());
    ASSERT_TRUE(changes.Watching());

    // The echo of the program's own write finds the gateway in place.
    const std::size_t applied = desktop.Applied.size();
    changes.OnChange();
    WaitFor([] { return false; }, 2 * TSettingsKeeper::kSettleMs);
    EXPECT_EQ(desktop.Applied.size(), applied);

    // Another program points the desktop elsewhere, in a burst of changes.
    desktop.Current = "192.0.2.7:3128";
    changes.OnChange();
    changes.OnChange();
    EXPECT_TRUE(WaitFor([&] { return desktop.Applied.size() > applied; }));
    WaitFor([] { return false; }, 2 * TSettingsKeeper::kSettleMs);
    EXPECT_EQ(desktop.Applied, (std::vector<std::string>{"", "127.0.0.1:8899", "127.0.0.1:8899"}))
        << "once for the burst, the gateway's address again";
    EXPECT_EQ(Commands.back(),
              cmd::SetTextInfo2("Another program changed the proxy settings; Cloakline put them back", 0));

    Env.Clock->AdvanceSeconds(2);
    const std::size_t stopAt = Commands.size();
    ClickHide();
    EXPECT_FALSE(changes.Watching()) << "Stop ends the watch";
    const std::vector<std::string> stop = Since(stopAt);
    EXPECT_NE(std::find(stop.begin(), stop.end(), cmd::SetTextInfo2("", 0)), stop.end()) << "and the notice";
    EXPECT_EQ(desktop.Applied.back(), "");
}

TEST_F(MainWindowTest, HideThroughTheGatewaySwitchesTheBrowsersOnceAndFollowsTheGateway) {
    Firefox->Installed = "/opt/firefox/firefox";
    Settings().SetSettingBool("FFEXT.INSTALLED", true);
    Settings().SetSettingInteger("ChangeIPTime", 0);
    WithGateway();
    TfrmMain& main = Ready();
    ASSERT_NE(Gateway, nullptr);
    ASSERT_EQ(Gateway->Pages.size(), 1u) << "the page for failing closed is given at the start";
    EXPECT_NE(Gateway->Pages[0].find("No proxy of the chosen location works at the moment. Cloakline blocks"),
              std::string::npos)
        << Gateway->Pages[0];

    std::size_t before = Commands.size();
    ClickHide();
    EXPECT_EQ(Gateway->Listens, std::vector<std::uint16_t>{8899});
    EXPECT_EQ(Since(before),
              std::vector<std::string>{cmd::SetTextInfo("Checking a proxy of United States...", 0)});
    EXPECT_NE(Gateway->Pages.back().find("<p>No proxy of United States works"), std::string::npos)
        << "the page names the location being hidden in";
    EXPECT_FALSE(main.Hider().IsHiding()) << "nothing is pointed anywhere before a check passed";
    ASSERT_EQ(Gateway->Checks.size(), 1u);
    EXPECT_EQ(Gateway->Checks[0].Url, "http://127.0.0.1:" + std::to_string(Server.Port()) + "/checkip");

    // The answers reach the window through the poster, as the I/O thread's would.
    bool posted = false;
    Poster([&] { posted = Gateway->Answer(CheckPage("198.51.100.1", "US")); });
    ASSERT_TRUE(WaitFor([&] { return posted; }));
    TProxyRec target = main.ProxyManager()->TargetProxy();
    ASSERT_TRUE(Gateway->Current.has_value());
    EXPECT_EQ(Gateway->Current->Address.Host, target.IP);
    EXPECT_EQ(Desktop->Applied, (std::vector<std::string>{"", "127.0.0.1:8899"}));
    EXPECT_EQ(Firefox->Applied.back().Argument, "127.0.0.1:8899");
    EXPECT_TRUE(main.Hider().HidingThroughGateway());
    EXPECT_EQ(Caption(), "&Stop Hide");
    const std::string flag = "http://127.0.0.1:" + std::to_string(Server.Port()) + "/flags/US.PNG";
    EXPECT_EQ(Since(Commands.size() - 5),
              (std::vector<std::string>{
                  cmd::SetIPInfo("Target", "True", flag, target.IP, "United States", "", "0", "100"),
                  cmd::Fade("Target", true, 100), cmd::SetIPInfoA("Local", "50", "100"), cmd::TurnTarget(),
                  cmd::SetTextInfo("Your IP address is hidden", 0)}));

    // A standby of the same country is checked and handed over.
    ASSERT_EQ(Gateway->Checks.size(), 1u);
    Gateway->Answer(CheckPage("198.51.100.2", "US"));
    ASSERT_TRUE(Gateway->Standby.has_value());
    const std::string standby = Gateway->Standby->Address.Host;

    // The current one stops carrying: the standby carries on, the window follows.
    before = Commands.size();
    Gateway->FailCurrent();
    EXPECT_EQ(main.ProxyManager()->TargetProxy().IP, standby);
    std::vector<std::string> shown = Since(before);
    EXPECT_EQ(
        shown.front(),
        cmd::SetTextInfo2("Switched to another proxy of United States: the previous one stopped working", 0));
    // The flag is the server's address, or the downloaded file once the
    // first card's download has come in.
    const std::string standbyCard = "," + standby + ",United States,,0,100";
    EXPECT_NE(std::find_if(shown.begin(), shown.end(),
                           [&](const std::string& shownCommand) {
                               return shownCommand.starts_with("Target,True,") &&
                                      shownCommand.ends_with(standbyCard);
                           }),
              shown.end())
        << testing::PrintToString(shown);
    ASSERT_EQ(Gateway->Checks.size(), 1u) << "a new standby is checked";

    // Nothing is left: the gateway fails closed and the window says so.
    before = Commands.size();
    Gateway->FailCurrent();
    EXPECT_EQ(
        Since(before),
        (std::vector<std::string>{
            cmd::SetTextInfo("No working proxy: pages are blocked", 0x444499),
            cmd::SetTextInfo2("No proxy of United States works. Pages stay blocked so that your IP address "
                              "is not shown. Choose another location or press Stop.",
                              0x444499)}));
    EXPECT_TRUE(main.Hider().IsHiding());
    Gateway->Answer(CheckPage("198.51.100.9", "US"));  // the standby check of before, now too late
    ASSERT_EQ(Gateway->Checks.size(), 1u);
    const std::string found = Gateway->CheckedHost();
    Gateway->Answer(CheckPage("198.51.100.3", "US"));
    EXPECT_EQ(Gateway->Current->Address.Host, found);
    EXPECT_EQ(main.ProxyManager()->TargetProxy().IP, found);
    EXPECT_EQ(Commands.back(), cmd::SetTextInfo("Your IP address is hidden", 0));
    EXPECT_NE(std::find(Commands.begin() + static_cast<std::ptrdiff_t>(before), Commands.end(),
                        cmd::SetTextInfo2("A working proxy of United States was found again", 0)),
              Commands.end());

    // The timed change swaps the upstream and leaves the browsers alone.
    Env.Clock->AdvanceSeconds(10);
    main.Hider().tmrChangeIPTimer();
    ASSERT_EQ(Gateway->Checks.size(), 2u) << "the standby check and the change's";
    const std::string next = Gateway->CheckedHost();
    Gateway->Answer(CheckPage("198.51.100.9", "US"));  // overtaken by the change
    Gateway->Answer(CheckPage("198.51.100.4", "US"));
    EXPECT_EQ(Gateway->Current->Address.Host, next);
    EXPECT_EQ(main.ProxyManager()->TargetProxy().IP, next);
    EXPECT_EQ(Desktop->Applied.size(), 2u);
    EXPECT_EQ(Firefox->Applied.size(), 2u);

    // Stop: browsers direct, the gateway forwards nothing.
    Env.Clock->AdvanceSeconds(2);
    before = Commands.size();
    ClickHide();
    EXPECT_EQ(Desktop->Applied.back(), "");
    EXPECT_EQ(Firefox->Applied.back().Argument, "");
    EXPECT_FALSE(Gateway->Current || Gateway->Standby);
    EXPECT_EQ(Since(before), kStopCommands);
    EXPECT_FALSE(main.Hider().HidingThroughGateway());
}

TEST_F(MainWindowTest, GatewayRefusalsAreExplainedAndWithTheGatewayOffTheProxyItselfIsUsed) {
    WithGateway();
    TfrmMain& main = Ready();
    EXPECT_TRUE(main.ProxyManager()->GatewayAvailable());
    ModalBoxRecorder boxes;
    Gateway->ListenError = "port in use";
    ClickHide();
    EXPECT_EQ(
        boxes.Texts.join("|").toStdString(),
        "The local gateway could not be started (port in use), so your IP address is not hidden. You can "
        "switch the gateway off in the Options, on the Browser page.");
    EXPECT_TRUE(Gateway->Checks.empty());

    // Every candidate fails its check: at most five, then the reason.
    Gateway->ListenError.clear();
    Gateway->FreePort = 9555;
    boxes.Texts.clear();
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_EQ(Settings().GetSettingInteger("Gateway.Port"), 9555);
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(Gateway->Answer(i < 4 ? NoAnswer("refused") : CheckPage("81.2.69.160", "US"))) << i;
    }
    EXPECT_TRUE(Gateway->Checks.empty());
    EXPECT_EQ(boxes.Texts.join("|").toStdString(),
              "No proxy of United States passed the check (the last one tried showed your own IP address). "
              "Please try again later or choose another location.");
    EXPECT_FALSE(main.Hider().IsHiding());
    EXPECT_EQ(Desktop->Applied.size(), 1u);
    EXPECT_EQ(Commands.back(), cmd::SetTextInfo("Ready", 0xFF0000));

    // Switched off in the options: today's way, and the gateway is not asked anything.
    Settings().SetSettingBool("Gateway.Enabled", false);
    const int calls = Gateway->Calls;
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(Desktop->Applied.back(), main.ProxyManager()->TargetProxy().ProxyText());
    EXPECT_FALSE(main.ProxyManager()->GatewayAvailable()) << "no proxy that only the gateway can use";
    EXPECT_EQ(Gateway->Calls, calls);
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_EQ(Gateway->Calls, calls);
    EXPECT_EQ(Desktop->Applied.back(), "");
}

TEST_F(MainWindowTest, TheProgramsGatewayChecksThroughARealProxyAndFailsClosedAfterStop) {
    if (!TTinyProxy::Installed()) {
        GTEST_SKIP() << "tinyproxy is not installed";
    }
    TTinyProxy upstream(Env.Dir);
    ASSERT_TRUE(upstream.WaitListening(std::chrono::seconds(5)));
    Settings().SetSettingstring("NORMAL_IPS", upstream.Proxy() + "|United States|US");
    Settings().SetSettingstring("SUPER_IPS", "");
    // Any free port, so that the test does not depend on 8899 being free.
    Settings().SetSettingInteger("Gateway.Port", 0);
    Server.Script("/checkip", Answer(200, "<span id=\"ip\">127.0.0.2</span><span id=\"country\">US</span>"));
    GatewayFactory = LocalGatewayFactory();
    TfrmMain& main = Ready();
    ClickHide();
    ASSERT_TRUE(WaitFor([&main] { return main.Hider().IsHiding(); }, 10000));
    const std::string gateway = "127.0.0.1:" + std::to_string(Settings().GetSettingInteger("Gateway.Port"));
    EXPECT_NE(gateway, "127.0.0.1:0");
    EXPECT_EQ(Desktop->Applied.back(), gateway);
    EXPECT_EQ(Requests("/checkip"), 1u) << "checked through the proxy before the browsers were switched";
    EXPECT_EQ(main.ProxyManager()->TargetProxy().ProxyText(), upstream.Proxy());
    EXPECT_EQ(CurlThrough(gateway, Server.Url("/touch")), "OK 200");

    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    EXPECT_EQ(Desktop->Applied.back(), "");
    const std::string closed = CurlThrough(gateway, Server.Url("/touch"));
    EXPECT_NE(closed.find("No proxy of United States works at the moment."), std::string::npos) << closed;
    EXPECT_EQ(closed.substr(closed.size() - 4), " 503");
    EXPECT_EQ(Requests("/touch"), 1u) << "nothing went direct";
}

TEST_F(MainWindowTest, ShippedConstantsHoldEveryKeyTheProgramReads) {
    ScopedLogCapture log;
    ModalBoxRecorder boxes;
    Settings().SetSettingInteger("Update.Times", 0);
    TfrmMain& main = Ready();
    main.show();
    ClickHide();
    main.Hider().tmrChangeIPTimer();
    main.Hider().tmrTouchTimer();
    Env.Clock->AdvanceSeconds(2);
    ClickHide();
    main.close();
    Env.Clock->AdvanceSeconds(2);
    Main.reset();
    for (const RecordingLogSink::Entry& entry : log.Sink->Entries()) {
        EXPECT_EQ(entry.Message.rfind("Setting Not Found :", 0), std::string::npos) << entry.Message;
    }
}

}  // namespace
}  // namespace cloakline::test
