#include "ui/KTEngine.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <QApplication>
#include <QCheckBox>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <sstream>

#include "core/framework/EngineLayers.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/InstanceMessage.h"
#include "core/framework/KTSettings.h"
#include "core/support/ShellUtils.h"
#include "core/support/TextUtils.h"
#include "core/support/UrlUtils.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingLogSink.h"
#include "tests/support/RecordingProcesses.h"
#include "ui/KTInstanceHook.h"
#include "ui/KTSkinData.h"
#include "ui/KTSkinFile.h"
#include "ui/QtMultiLang.h"

namespace cloakline::test {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "engine_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TSkinBundle Skin(const std::string& style, TStringList strings = {}) {
    return TSkinBundle{style, std::move(strings)};
}

// A program folder with its constants, a main window with skin and language
// data, and an engine over the real settings store.
class EngineTest : public ::testing::Test {
  protected:
    EngineTest() {
        App();
        auto processes = std::make_unique<RecordingProcesses>();
        Processes = processes.get();
        Env.P.Processes = std::move(processes);
        SetGlobalPlatform(&Env.P);
    }

    ~EngineTest() override {
        delete Form;
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
        qApp->setStyleSheet(QString());
    }

    // Creates the store, the window and the engine; Loaded is left to the test.
    TKTEngine& Start(const std::string& constants = "", bool withData = true) {
        Env.WriteConst("[setting]\r\nApp.Name=Cloakline\r\n" + constants);
        Form = new QWidget;
        if (withData) {
            SkinData = new TKTSkinData(Form);
            LanguageData = new QtKTMultiLangData(*Env.P.Files, CompareTextAscii, Form);
        }
        Engine = new TKTEngine(Form);
        Engine->SetSkinData(SkinData);
        Engine->SetLanguageData(LanguageData);
        return *Engine;
    }

    void WriteSkin(const std::string& file, const TSkinBundle& skin) const {
        Env.Dir.WriteFile("prog/skins/" + file, EncodeSkinBundle(skin));
    }
    void WriteLanguage(const std::string& file, const std::string& text) const {
        Env.Dir.WriteFile("prog/lang/" + file, text);
    }
    std::string UserSetting(const std::string& name) { return GlobalSettings().GetSettingString(name); }

    SettingsTestPlatform Env;
    RecordingProcesses* Processes = nullptr;
    QWidget* Form = nullptr;
    TKTSkinData* SkinData = nullptr;
    QtKTMultiLangData* LanguageData = nullptr;
    TKTEngine* Engine = nullptr;
};

// Construction, registration and the deferred start ---------------------------

TEST_F(EngineTest, RegistersItselfAndFramesTheSettingsWithItsLists) {
    EXPECT_EQ(GlobalEngine(), nullptr);
    TKTEngine& engine = Start("Path.Skins=themes\r\n");
    EXPECT_EQ(GlobalEngine(), &engine);
    EXPECT_EQ(GlobalEngineLayers(), &engine);
    EXPECT_EQ(UserSetting("Path.Languages"), "lang") << "from the engine's defaults";
    EXPECT_EQ(UserSetting("Path.Skins"), "themes") << "the files come before the defaults";
    engine.SetSettingOverwrite(TStringList{"App.Name=Forced"});
    EXPECT_EQ(UserSetting("App.Name"), "Forced");

    auto* second = new TKTEngine(Form);
    EXPECT_EQ(GlobalEngine(), &engine) << "the first engine stays the process-wide one";
    delete second;
    EXPECT_EQ(GlobalEngine(), &engine);
    delete Engine;
    Engine = nullptr;
    EXPECT_EQ(GlobalEngine(), nullptr);
    EXPECT_EQ(GlobalEngineLayers(), nullptr);
}

TEST_F(EngineTest, LoadedPostsTheDeferredStartWhichFiresEventsThenTakesTheFile) {
    TKTEngine& engine = Start("App.Ver=1.0.0.1\r\n");
    std::vector<std::string> events;
    engine.SetOnLanguageChanged([&](TKTEngine&) { events.push_back("language"); });
    engine.SetOnSkinChanged([&](TKTEngine&) { events.push_back("skin"); });
    engine.SetOnTitleChange([&](TKTEngine& e) { events.push_back("title:" + e.AppTitle()); });
    engine.SetOnCmdFile([&](const std::string& file) { events.push_back("file:" + file); });

    engine.Loaded();
    EXPECT_EQ(events, std::vector<std::string>{"title:Cloakline  1.0.0.1"})
        << "skin and language are applied without their events while loading";
    EXPECT_TRUE(engine.Initialising());

    events.clear();
    QCoreApplication::processEvents();
    EXPECT_EQ(events, (std::vector<std::string>{"language", "skin", "title:Cloakline  1.0.0.1"}));
    EXPECT_FALSE(engine.Initialising()) << "no longer busy for other instances";

    events.clear();
    engine.CheckCmdLineFile({"/home/me/My Files/list.txt", "-d"});
    EXPECT_TRUE(events.empty()) << "the file is delivered from the message loop";
    QCoreApplication::processEvents();
    EXPECT_EQ(events, std::vector<std::string>{"file:/home/me/My Files/list.txt"});
    EXPECT_EQ(engine.ParamFile(), "/home/me/My Files/list.txt");

    events.clear();
    engine.CheckCmdLineFile({"-h", "file.txt"});
    engine.CheckCmdLineFile({"/s"});
    engine.CheckCmdLineFile({});
    QCoreApplication::processEvents();
    EXPECT_TRUE(events.empty()) << "a switch as the first parameter is no file";
}

TEST_F(EngineTest, SessionEndingLastsFiveMinutesAfterTheRequest) {
    TKTEngine& engine = Start();
    EXPECT_FALSE(engine.SessionEnding()) << "no request yet";
    Env.Clock->AdvanceMs(120000);
    EXPECT_FALSE(engine.SessionEnding());

    InstanceMessage query;
    query.Name = std::string(kMsgQueryEndSession);
    engine.InstanceHook()->Post(query);
    QCoreApplication::processEvents();
    EXPECT_TRUE(engine.SessionEnding());
    Env.Clock->AdvanceMs(299999);
    EXPECT_TRUE(engine.SessionEnding());
    Env.Clock->AdvanceMs(1);
    EXPECT_FALSE(engine.SessionEnding());
}

TEST_F(EngineTest, BringToFrontRestoresFromTheTrayOnlyWithATrayIcon) {
    struct Tray : ISkinForm {
        bool Icon = false;
        int Restored = 0;
        bool HasTrayIcon() const override { return Icon; }
        void RestoreFromTray() override { ++Restored; }
    } tray;
    TKTEngine& engine = Start();
    InstanceMessage bring;
    bring.Name = std::string(kMsgBringToFront);
    EXPECT_EQ(engine.InstanceHook()->Receiver().Dispatch(bring), 0) << "no skinned window";
    engine.SetSkinForm(&tray);
    EXPECT_EQ(engine.InstanceHook()->Receiver().Dispatch(bring), 0);
    EXPECT_EQ(tray.Restored, 0);
    tray.Icon = true;
    EXPECT_EQ(engine.InstanceHook()->Receiver().Dispatch(bring), 1);
    EXPECT_EQ(tray.Restored, 1);
}

// Pages -----------------------------------------------------------------------

TEST_F(EngineTest, PageAddressesCarryTheSystemsParameters) {
    TKTEngine& engine = Start(
        "URL.help=  \r\nURL.Redirect=http://srv.example/r.php\r\nApp.Ver=2.1.0.5\r\nApp.SubVer=3\r\n"
        "App.MagicWord=xyz\r\nLanguage=English\r\n");
    Env.Clock->Set(45429.0 + (10 * 3600 + 0 * 60 + 42.5) / 86400.0);
    const std::string url = engine.GetURL("help", true);
    ASSERT_EQ(url.rfind("http://srv.example/r.php?ACTION=help&42500&PID=xyz&", 0), 0u) << url;
    TStringList params;
    ParseURLParams(url, params);
    EXPECT_EQ(params.Value("VER"), "02010005");
    EXPECT_EQ(params.Value("SVER"), "3");
    EXPECT_EQ(params.Value("LANG"), "English");
    EXPECT_EQ(params.Value("WLANG"), "1033") << "the Windows identifier of the system's language";
    EXPECT_EQ(params.Value("CHL"), "756E6B6E6F77") << "no channel: \"unknow\"";

    struct utsname names {};
    ASSERT_EQ(::uname(&names), 0);
    unsigned major = 0;
    unsigned minor = 0;
    ASSERT_EQ(std::sscanf(names.release, "%u.%u", &major, &minor), 2);
    EXPECT_EQ(params.Value("WVER"), std::to_string(major) + "_" + std::to_string(minor) + "_")
        << "the kernel's version and no service pack";

    EXPECT_EQ(engine.GetURL("help", false), "http://srv.example/r.php");
}

TEST_F(EngineTest, ChannelComesFromTheProductConstants) {
    TKTEngine& engine = Start("URL.home=https://srv/home\r\nApp.CHL=\"C:\\Setups\\partner7.exe\"\r\n");
    TStringList params;
    ParseURLParams(engine.GetURL("home", true), params);
    EXPECT_EQ(params.Value("CHL"), TextToHex("partner7.exe"));
}

TEST_F(EngineTest, LocalPagesGetTheProgramFolderAndNoParameters) {
    TKTEngine& engine =
        Start("URL.help=%EXEPATH%\\help.htm\r\nApp.Ver=1.2.3\r\nURL.eula=http://srv/eula\r\n");
    EXPECT_EQ(engine.GetURL("help", true), GetAppDir(Env.P) + "\\help.htm");
    TStringList params;
    ParseURLParams(engine.GetURL("eula", true), params);
    EXPECT_EQ(params.Value("VER"), "00000000");
}

TEST_F(EngineTest, ShowPageOpensTheAddressWithParametersInTheBrowser) {
    TKTEngine& engine = Start("URL.support=https://srv/support?lang=en\r\n");
    engine.ShowPage("support");
    ASSERT_EQ(Processes->OpenedUrls.size(), 1u);
    EXPECT_EQ(Processes->OpenedUrls[0].rfind("https://srv/support?lang=en&ACTION=support&", 0), 0u);
    engine.ShowPage("missing");
    ASSERT_EQ(Processes->OpenedUrls.size(), 2u);
    EXPECT_EQ(Processes->OpenedUrls[1], "") << "an empty address is still handed on";
    engine.ShowPageByURL("http://x.example/");
    EXPECT_EQ(Processes->OpenedUrls.back(), "http://x.example/");
}

TEST_F(EngineTest, QvtxCommandsOpenPagesAndAreNeverNavigatedTo) {
    TKTEngine& engine = Start("URL.support=http://srv/support\r\nURL.help=http://srv/help\r\n");
    bool cancel = false;
    engine.WebBeforeNavigate2(nullptr, "qvtx:PAGE=support", cancel);
    EXPECT_TRUE(cancel);
    ASSERT_EQ(Processes->OpenedUrls.size(), 1u);
    EXPECT_EQ(Processes->OpenedUrls[0].rfind("http://srv/support?ACTION=support&", 0), 0u);

    cancel = false;
    engine.WebBeforeNavigate2(nullptr, "qvtx:ACTION=x", cancel);
    EXPECT_TRUE(cancel);
    EXPECT_EQ(Processes->OpenedUrls.size(), 1u) << "no page, nothing opened";

    cancel = false;
    engine.WebBeforeNavigate2(nullptr, "QVTX:PAGE=help", cancel);
    EXPECT_TRUE(cancel);
    ASSERT_EQ(Processes->OpenedUrls.size(), 2u);
    EXPECT_EQ(Processes->OpenedUrls[1].rfind("http://srv/help?ACTION=help&", 0), 0u);

    cancel = false;
    engine.WebBeforeNavigate2(nullptr, "http://srv/other", cancel);
    EXPECT_FALSE(cancel) << "other addresses are left alone";
    EXPECT_EQ(Processes->OpenedUrls.size(), 2u);
}

TEST_F(EngineTest, EmbeddedBrowserLinksGoThroughTheEngine) {
    TKTEngine& engine = Start("URL.support=http://srv/support\r\n");
    QTextBrowser browser;
    engine.AttachBrowser(&browser);
    Env.Dir.WriteFile("prog/other.html", "<p>other</p>");
    emit browser.anchorClicked(QUrl(QStringLiteral("qvtx:PAGE=support")));
    ASSERT_EQ(Processes->OpenedUrls.size(), 1u);
    EXPECT_EQ(Processes->OpenedUrls[0].rfind("http://srv/support?ACTION=support&", 0), 0u);
    EXPECT_TRUE(browser.source().isEmpty()) << "the browser does not navigate to a command";

    const QUrl other = QUrl::fromLocalFile(QString::fromStdString(Env.Dir.Path() + "/prog/other.html"));
    emit browser.anchorClicked(other);
    EXPECT_EQ(browser.source(), other) << "ordinary links navigate";
    EXPECT_EQ(Processes->OpenedUrls.size(), 1u);
}

// Skins -----------------------------------------------------------------------

TEST_F(EngineTest, SkinListComesFromTheSkinFolderOnce) {
    WriteSkin("Default.skn", Skin("a"));
    WriteSkin("Blue.skn", Skin("b"));
    WriteSkin("Blue.nsf.skn", Skin("c"));
    WriteSkin("aqua.nsf.skn", Skin("d"));
    Env.Dir.WriteFile("prog/skins/readme.txt", "not a skin");
    TKTEngine& engine = Start();
    EXPECT_EQ(engine.SkinList(), (TStringList{"Default", "aqua", "Blue", "Blue"}));
    WriteSkin("Later.skn", Skin("e"));
    EXPECT_EQ(engine.SkinList().Count(), 4u) << "the list reflects the folder at its first use";
}

TEST_F(EngineTest, SwitchingSkinsLoadsTheFileAndFallsBackToTheBuiltInSkin) {
    WriteSkin("Blue.nsf.skn", Skin("QWidget { color: blue; }", {"SKIN_NAME=Blue"}));
    WriteSkin("Green.skn", Skin("QWidget { color: green; }"));
    TKTEngine& engine = Start();
    engine.Loaded();
    EXPECT_EQ(engine.Skin(), "Default");
    int changed = 0;
    engine.SetOnSkinChanged([&](TKTEngine&) { ++changed; });

    engine.SetSkin("Blue");
    EXPECT_EQ(engine.Skin(), "Blue");
    EXPECT_FALSE(SkinData->SkinnableForm()) << "the window frame is left to the system";
    EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QWidget { color: blue; }"));
    EXPECT_EQ(SkinData->ResourceStrings().Value("SKIN_NAME"), "Blue");
    EXPECT_EQ(UserSetting("Skin"), "Blue");
    EXPECT_EQ(changed, 1);

    engine.SetSkin("Blue");
    EXPECT_EQ(changed, 1) << "the same name changes nothing";

    engine.SetSkin("Green");
    EXPECT_TRUE(SkinData->SkinnableForm());
    EXPECT_EQ(qApp->styleSheet(), QStringLiteral("QWidget { color: green; }"));

    // A missing file, and a name that leaves the folder (even one that leads
    // back to a real skin), give the built-in skin.
    engine.SetSkin("Purple");
    EXPECT_EQ(engine.Skin(), "Default");
    engine.SetSkin("..\\skins\\Blue");
    EXPECT_EQ(engine.Skin(), "Default");
    EXPECT_EQ(UserSetting("Skin"), "Default");
    EXPECT_EQ(SkinData->StoredSkin(), TKTSkinData::BuiltInSkin());
    EXPECT_EQ(qApp->styleSheet(), QString());
    EXPECT_EQ(changed, 4);
}

TEST_F(EngineTest, CorruptOrTruncatedSkinFilesFallBackWithALogLine) {
    const std::string good = EncodeSkinBundle(Skin("QWidget { color: red; }"));
    Env.Dir.WriteFile("prog/skins/Cut.skn", good.substr(0, good.size() / 2));
    Env.Dir.WriteFile("prog/skins/Noise.skn", std::string(300, '\x7F'));
    WriteSkin("Red.skn", Skin("QWidget { color: red; }"));
    TKTEngine& engine = Start("Skin=Cut\r\n");
    ScopedLogCapture log;
    engine.Loaded();
    EXPECT_EQ(engine.Skin(), "Default") << "a damaged stored choice starts with the built-in skin";
    EXPECT_EQ(qApp->styleSheet(), QString());

    engine.SetSkin("Red");
    ASSERT_EQ(qApp->styleSheet(), QStringLiteral("QWidget { color: red; }"));
    engine.SetSkin("Noise");
    EXPECT_EQ(engine.Skin(), "Default");
    EXPECT_EQ(UserSetting("Skin"), "Default");
    EXPECT_EQ(qApp->styleSheet(), QString()) << "nothing of the skin before stays";
    int refused = 0;
    for (const auto& entry : log.Sink->Entries()) {
        refused += entry.Tag == "KTEngine" && entry.Message.find("Skin file refused") == 0 ? 1 : 0;
    }
    EXPECT_EQ(refused, 2);
}

TEST_F(EngineTest, ShippedSkinsLoad) {
    for (const char* file : {"Dark.skn", "Light.nsf.skn"}) {
        Env.Dir.WriteFile(std::string("prog/skins/") + file,
                          ReadBytes(std::string(CLOAKLINE_SKIN_DIR) + "/" + file));
    }
    TKTEngine& engine = Start();
    engine.Loaded();
    EXPECT_EQ(engine.SkinList(), (TStringList{"Default", "Dark", "Light"}));
    engine.SetSkin("Dark");
    EXPECT_EQ(engine.Skin(), "Dark");
    EXPECT_TRUE(SkinData->SkinnableForm());
    EXPECT_TRUE(qApp->styleSheet().contains(QStringLiteral("QPushButton")));
    engine.SetSkin("Light");
    EXPECT_EQ(engine.Skin(), "Light");
    EXPECT_FALSE(SkinData->SkinnableForm());
}

TEST_F(EngineTest, SkinMenuTicksTheCurrentSkinAndSwitchesOnClick) {
    WriteSkin("Blue.skn", Skin("QWidget { color: blue; }"));
    WriteSkin("Red.skn", Skin("QWidget { color: red; }"));
    TKTEngine& engine = Start("Skin=Blue\r\n");
    QMenu menu;
    engine.SetSkinMenuItem(&menu);
    engine.Loaded();
    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 3);
    EXPECT_EQ(items[0]->text(), QStringLiteral("Default"));
    EXPECT_TRUE(items[1]->isChecked());
    EXPECT_FALSE(items[0]->isChecked());

    items[2]->trigger();
    EXPECT_EQ(engine.Skin(), "Red");
    EXPECT_FALSE(items[1]->isChecked());
    EXPECT_TRUE(items[2]->isChecked());
    items[2]->trigger();
    EXPECT_TRUE(items[2]->isChecked()) << "clicking the current skin keeps it ticked";
}

TEST_F(EngineTest, MenusWithASingleChoiceAreHidden) {
    TKTEngine& engine = Start();
    QMenu skins;
    QMenu languages;
    engine.SetSkinMenuItem(&skins);
    engine.SetLanguageMenuItem(&languages);
    engine.Loaded();
    EXPECT_TRUE(skins.actions().isEmpty());
    EXPECT_FALSE(skins.menuAction()->isVisible());
    EXPECT_FALSE(languages.menuAction()->isVisible());
}

TEST_F(EngineTest, WithoutSkinOrLanguageDataTheirOperationsDoNothing) {
    WriteSkin("Blue.skn", Skin("x"));
    WriteLanguage("German.lan", "[AppRes]\r\nAppName=Verhuller\r\n");
    TKTEngine& engine = Start("", false);
    engine.Loaded();
    engine.SetSkin("Blue");
    engine.SetLanguage("German");
    EXPECT_EQ(engine.Skin(), "");
    EXPECT_EQ(engine.Language(), "");
    EXPECT_FALSE(GlobalSettings().GetSettingExists("Skin"));
    EXPECT_EQ(engine.GetAppName(), "Cloakline");
    EXPECT_EQ(engine.GetAppString("AppName"), "");
}

// Languages and named strings ---------------------------------------------------

TEST_F(EngineTest, LanguageListComesFromTheLanguageFolder) {
    WriteLanguage("German.lan", "");
    WriteLanguage("english.lan", "");
    WriteLanguage("Deutsch.lan", "");
    Env.Dir.WriteFile("prog/lang/notes.txt", "");
    TKTEngine& engine = Start();
    EXPECT_EQ(engine.LanguageList(), (TStringList{"English", "Deutsch", "German"}));
}

TEST_F(EngineTest, SwitchingLanguagesLoadsTheFileAndRemembersTheChoice) {
    WriteLanguage("German.lan",
                  "[AppRes]\r\nAppName=Verhuller\r\nMSGBox.Hello=Hallo {1} von {AppName}\r\n"
                  "[LibRes]\r\nUpdate.NetError=Netzfehler\r\n");
    TKTEngine& engine = Start("App.Ver=2.1\r\n");
    engine.Loaded();
    EXPECT_EQ(engine.Language(), "English");
    std::vector<std::string> events;
    engine.SetOnLanguageChanged([&](TKTEngine& e) { events.push_back("language:" + e.Language()); });
    engine.SetOnTitleChange([&](TKTEngine& e) { events.push_back("title:" + e.AppTitle()); });

    engine.SetLanguage("German");
    EXPECT_EQ(engine.Language(), "German");
    EXPECT_EQ(UserSetting("Language"), "German");
    EXPECT_EQ(events, (std::vector<std::string>{"language:German", "title:Verhuller  2.1"}));
    EXPECT_EQ(engine.GetAppStringEx("MSGBox.Hello", {"Anna"}), "Hallo Anna von Verhuller");
    EXPECT_EQ(engine.GetLibString("Update.NetError"), "Netzfehler");
    EXPECT_EQ(engine.GetMessageText("MSGBox.FFPath", false), "[AppRes]MSGBox.FFPath");
    EXPECT_EQ(engine.GetMessageText("MSGBox.FFPath", true), "[LibRes]MSGBox.FFPath");
    EXPECT_EQ(engine.GetAppString("MSGBox.FFPath"), "") << "elsewhere a missing string is empty";

    // The same name again reads nothing: the file may even be gone.
    std::remove((Env.Dir.Path() + "/prog/lang/German.lan").c_str());
    events.clear();
    engine.SetLanguage("German");
    EXPECT_TRUE(events.empty());
    EXPECT_EQ(engine.GetAppName(), "Verhuller");

    engine.SetLanguage("Klingon");
    EXPECT_EQ(engine.Language(), "English") << "a missing file falls back to the built-in language";
    EXPECT_EQ(UserSetting("Language"), "English");
    EXPECT_EQ(engine.GetAppName(), "Cloakline") << "the current language was emptied";
    EXPECT_EQ(engine.GetLibString("Update.NetError"), "");
}

TEST_F(EngineTest, AMissingLanguageFileLeavesTheShippedEnglishTextsAnswering) {
    WriteLanguage("English.lan",
                  "[AppRes]\r\nMSGBox.CHKNET=Check your network\r\n"
                  "[LibRes]\r\nUpdate.NetError=Network error\r\n");
    TKTEngine& engine = Start("Language=Klingon\r\n");
    engine.Loaded();
    EXPECT_EQ(engine.Language(), "English");
    EXPECT_EQ(engine.GetMessageText("MSGBox.CHKNET", false), "Check your network");
    EXPECT_EQ(engine.GetMessageText("Update.NetError", true), "Network error");
    EXPECT_EQ(engine.GetMessageText("MSGBox.Unknown", false), "[AppRes]MSGBox.Unknown")
        << "a key no file has still shows as a key";
}

TEST_F(EngineTest, EmptyLanguageNameTriesDefaultThenEndsAtEnglish) {
    TKTEngine& engine = Start();
    engine.Loaded();
    WriteLanguage("Default.lan", "[AppRes]\r\nAppName=FromDefault\r\n");
    engine.SetLanguage("");
    EXPECT_EQ(engine.Language(), "Default");
    EXPECT_EQ(engine.GetAppName(), "FromDefault");
    std::remove((Env.Dir.Path() + "/prog/lang/Default.lan").c_str());
    engine.SetLanguage("English");
    engine.SetLanguage("");
    EXPECT_EQ(engine.Language(), "English");
}

TEST_F(EngineTest, UnreadableLanguageFileCountsAsMissing) {
    Env.Dir.Sub("prog/lang/Broken.lan/.keep");  // a folder where the file should be
    WriteLanguage("German.lan", "[AppRes]\r\nAppName=Verhuller\r\n");
    TKTEngine& engine = Start("Language=German\r\n");
    engine.Loaded();
    ASSERT_EQ(engine.Language(), "German");
    ScopedLogCapture log;
    engine.SetLanguage("Broken");
    EXPECT_EQ(engine.Language(), "English");
    EXPECT_EQ(engine.GetAppName(), "Cloakline");
    bool logged = false;
    for (const auto& entry : log.Sink->Entries()) {
        logged = logged || (entry.Tag == "KTEngine" && entry.Message.rfind("Language file refused", 0) == 0);
    }
    EXPECT_TRUE(logged);
}

TEST_F(EngineTest, LanguageMenuSwitchesOnClick) {
    WriteLanguage("German.lan", "[AppRes]\r\nAppName=Verhuller\r\n");
    TKTEngine& engine = Start();
    QMenu menu;
    engine.SetLanguageMenuItem(&menu);
    engine.Loaded();
    const QList<QAction*> items = menu.actions();
    ASSERT_EQ(items.size(), 2);
    EXPECT_TRUE(items[0]->isChecked());
    items[1]->trigger();
    EXPECT_EQ(engine.Language(), "German");
    EXPECT_FALSE(items[0]->isChecked());
    EXPECT_TRUE(items[1]->isChecked());
}

TEST_F(EngineTest, SkinStringsFollowTheLanguageAndSurviveASkinSwitch) {
    WriteLanguage("German.lan", "[SkinRes]\r\nMSG_CAP_SHOWFLAG=Nicht mehr anzeigen\r\nSKIN_NAME=Haut\r\n");
    WriteLanguage("French.lan", "[SkinRes]\r\nMSG_CAP_SHOWFLAG=Ne plus afficher\r\n");
    WriteLanguage("Plain.lan", "[AppRes]\r\nAppName=Plain\r\n");
    WriteSkin("Blue.skn", Skin("x", {"SKIN_NAME=Blue"}));
    TKTEngine& engine = Start("Language=German\r\n");
    engine.Loaded();
    EXPECT_EQ(SkinData->ResourceStrings().Value("MSG_CAP_SHOWFLAG"), "Nicht mehr anzeigen");

    engine.SetLanguage("French");
    EXPECT_EQ(SkinData->ResourceStrings().Value("MSG_CAP_SHOWFLAG"), "Ne plus afficher")
        << "the language before leaves nothing behind";

    engine.SetSkin("Blue");
    EXPECT_EQ(SkinData->ResourceStrings().Value("MSG_CAP_SHOWFLAG"), "Ne plus afficher")
        << "a new skin keeps the language's strings";
    engine.SetLanguage("German");
    EXPECT_EQ(SkinData->ResourceStrings().Value("SKIN_NAME"), "Blue") << "the skin's own strings win";

    engine.SetLanguage("Plain");
    EXPECT_FALSE(SkinData->ResourceStrings().HasName("MSG_CAP_SHOWFLAG"));
}

// Title -------------------------------------------------------------------------

TEST_F(EngineTest, TitleCarriesNameAndVersionUnlessToldOtherwise) {
    TKTEngine& engine = Start("App.Ver=2.1\r\n");
    engine.Loaded();
    EXPECT_EQ(engine.AppTitle(), "Cloakline  2.1");
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Cloakline  2.1"));
    EXPECT_EQ(ApplicationTitle(), QStringLiteral("Cloakline  2.1"));
    EXPECT_NE(QGuiApplication::applicationDisplayName(), QStringLiteral("Cloakline  2.1"))
        << "Qt would append its display name to every dialog's caption";
    engine.SetTitleIncludeVer(false);
    EXPECT_EQ(engine.AppTitle(), "Cloakline");
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Cloakline"));
}

TEST_F(EngineTest, NoAutoTitleLeavesTheCaptionAlone) {
    TKTEngine& engine = Start("App.Ver=2.1\r\nApp.NoAutoTitle=1\r\n");
    Form->setWindowTitle(QStringLiteral("Mine"));
    int fired = 0;
    engine.SetOnTitleChange([&](TKTEngine&) { ++fired; });
    engine.Loaded();
    QCoreApplication::processEvents();
    EXPECT_EQ(engine.AppTitle(), "Cloakline  2.1");
    EXPECT_EQ(Form->windowTitle(), QStringLiteral("Mine"));
    EXPECT_EQ(fired, 0);
}

// Message boxes -----------------------------------------------------------------

// What the next message box showed, and how it was answered.
struct SeenBox {
    bool Shown = false;
    QString Title;
    QString Text;
    QMessageBox::Icon Icon = QMessageBox::NoIcon;
    bool HasCheckBox = false;
    QString CheckText;
    int Buttons = 0;
};

// Answers every message box that comes up while it lives: ticks the check box
// when told to and presses the given button.
class BoxAnswerer {
  public:
    BoxAnswerer(bool tick, QMessageBox::StandardButton press) {
        FTimer.setInterval(5);
        QObject::connect(&FTimer, &QTimer::timeout, [this, tick, press] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                return;
            }
            Seen.Shown = true;
            Seen.Title = box->windowTitle();
            Seen.Text = box->text();
            Seen.Icon = box->icon();
            Seen.HasCheckBox = box->checkBox() != nullptr;
            Seen.CheckText = Seen.HasCheckBox ? box->checkBox()->text() : QString();
            Seen.Buttons = static_cast<int>(box->buttons().size());
            if (tick && box->checkBox() != nullptr) {
                box->checkBox()->setChecked(true);
            }
            if (QAbstractButton* button = box->button(press)) {
                button->click();
            } else {
                box->reject();
            }
        });
        FTimer.start();
    }

    SeenBox Seen;

  private:
    QTimer FTimer;
};

TEST_F(EngineTest, ShownAgainNumberRemembersTheTickedAnswer) {
    TKTEngine& engine = Start();
    engine.Loaded();
    TKTSettings& settings = GlobalSettings();
    {
        BoxAnswerer answer(true, QMessageBox::Ok);
        EXPECT_EQ(
            engine.ShowMessageEx("MSGBox_ACTIONFAST", {}, 6, mtInformation, MsgDlgButtons({mbOK}), 0, false),
            mrOk);
        EXPECT_TRUE(answer.Seen.Shown);
        EXPECT_TRUE(answer.Seen.HasCheckBox);
        EXPECT_EQ(answer.Seen.CheckText, QStringLiteral("Do not display this message again"));
        EXPECT_EQ(answer.Seen.Title, QStringLiteral("Cloakline"));
        EXPECT_EQ(answer.Seen.Text, QStringLiteral("[AppRes]MSGBox_ACTIONFAST"));
        EXPECT_EQ(answer.Seen.Icon, QMessageBox::Information);
    }
    EXPECT_FALSE(settings.GetMessageShowAgainFlag(6));
    EXPECT_EQ(settings.GetMessageShowAgainResult(6), mrOk);
    {
        BoxAnswerer answer(false, QMessageBox::Ok);
        EXPECT_EQ(
            engine.ShowMessageEx("MSGBox_ACTIONFAST", {}, 6, mtInformation, MsgDlgButtons({mbOK}), 0, false),
            mrOk);
        EXPECT_FALSE(answer.Seen.Shown) << "returns at once";
        EXPECT_EQ(
            engine.ShowMessageEx("MSGBox_ACTIONFAST", {}, 6, mtInformation, MsgDlgButtons({mbOK}), 7, false),
            7)
            << "the caller's default result goes first";
        EXPECT_FALSE(answer.Seen.Shown);
    }
    settings.ClearShowAgainFlag();
    {
        BoxAnswerer answer(false, QMessageBox::Ok);
        EXPECT_EQ(
            engine.ShowMessageEx("MSGBox_ACTIONFAST", {}, 6, mtInformation, MsgDlgButtons({mbOK}), 0, false),
            mrOk);
        EXPECT_TRUE(answer.Seen.Shown) << "shows again once the memory is cleared";
    }
    EXPECT_TRUE(settings.GetMessageShowAgainFlag(6)) << "an unticked box remembers nothing";
}

TEST_F(EngineTest, RememberedAnswerIsTheButtonPressed) {
    TKTEngine& engine = Start();
    engine.Loaded();
    {
        BoxAnswerer answer(true, QMessageBox::No);
        EXPECT_EQ(engine.ShowMessageEx("MSGBox.CloseNotify", {}, 1, mtConfirmation,
                                       MsgDlgButtons({mbYes, mbNo}), 0, false),
                  mrNo);
        EXPECT_EQ(answer.Seen.Buttons, 2);
        EXPECT_EQ(answer.Seen.Icon, QMessageBox::Question);
    }
    BoxAnswerer untouched(false, QMessageBox::Yes);
    EXPECT_EQ(engine.ShowMessageEx("MSGBox.CloseNotify", {}, 1, mtConfirmation, MsgDlgButtons({mbYes, mbNo}),
                                   0, false),
              mrNo);
    EXPECT_FALSE(untouched.Seen.Shown);
}

TEST_F(EngineTest, NumberZeroNeverTouchesTheMemory) {
    TKTEngine& engine = Start();
    engine.Loaded();
    TKTSettings& settings = GlobalSettings();
    settings.SetMessageShowAgainFlag(0, false);
    settings.SetMessageShowAgainResult(0, mrNo);
    ASSERT_TRUE(settings.UpdateSettingINI());
    const std::string before = Env.Dir.ReadFile(Env.UserFolder() + "/setting.dat");
    {
        BoxAnswerer answer(true, QMessageBox::Ok);
        EXPECT_EQ(engine.ShowMessageEx("MSGBox.FFPath", {}, 0, mtWarning, MsgDlgButtons({mbOK}), 0, false),
                  mrOk);
        EXPECT_TRUE(answer.Seen.Shown) << "a stored \"do not show\" for 0 is not read";
        EXPECT_FALSE(answer.Seen.HasCheckBox);
        EXPECT_EQ(answer.Seen.Text, QStringLiteral("[AppRes]MSGBox.FFPath"));
    }
    EXPECT_EQ(Env.Dir.ReadFile(Env.UserFolder() + "/setting.dat"), before);
}

TEST_F(EngineTest, MessageTextsComeFromTheLanguageAndStayPlain) {
    WriteLanguage("German.lan",
                  "[AppRes]\r\nAppName=Verhuller\r\nMSGBox.FFPath=Pfad {1} fehlt\r\n"
                  "[LibRes]\r\nUpdate.NetError=Netz <b>weg</b>\r\n"
                  "[SkinRes]\r\nMSG_CAP_SHOWFLAG=Nicht mehr zeigen\r\n");
    TKTEngine& engine = Start("Language=German\r\n");
    engine.Loaded();
    {
        BoxAnswerer answer(false, QMessageBox::Ok);
        engine.ShowErrorMessage("MSGBox.FFPath", "/opt/ff", false);
        EXPECT_EQ(answer.Seen.Text, QStringLiteral("Pfad /opt/ff fehlt"));
        EXPECT_EQ(answer.Seen.Title, QStringLiteral("Verhuller"));
        EXPECT_EQ(answer.Seen.Icon, QMessageBox::Critical);
        EXPECT_EQ(answer.Seen.Buttons, 1);
        EXPECT_FALSE(answer.Seen.HasCheckBox);
    }
    {
        BoxAnswerer answer(false, QMessageBox::Ok);
        engine.ShowMessageEx("Update.NetError", {}, 3, mtWarning, MsgDlgButtons({mbOK}), 0, true);
        EXPECT_EQ(answer.Seen.CheckText, QStringLiteral("Nicht mehr zeigen"))
            << "the language translates the box";
        EXPECT_EQ(answer.Seen.Text, QStringLiteral("Netz <b>weg</b>"));
    }
    EXPECT_EQ(engine.GetMessageDlg()->textFormat(), Qt::PlainText);
}

TEST_F(EngineTest, ClosingTheBoxWithoutAButtonCountsAsCancel) {
    TKTEngine& engine = Start();
    engine.Loaded();
    BoxAnswerer answer(true, QMessageBox::NoButton);
    EXPECT_EQ(
        engine.ShowMessageEx("MSGBox.X", {}, 5, mtWarning, MsgDlgButtons({mbYes, mbNo, mbCancel}), 0, false),
        mrCancel);
    EXPECT_EQ(GlobalSettings().GetMessageShowAgainResult(5), mrCancel);
}

// About box and splash -----------------------------------------------------------

TEST_F(EngineTest, AboutBoxIsCreatedOnceAndSplashClosesOnce) {
    TKTEngine& engine = Start();
    int created = 0;
    QPointer<QDialog> made;
    engine.SetAboutFactory([&](QWidget* owner) {
        ++created;
        made = new QDialog(owner);
        return made.data();
    });
    int shown = 0;
    QTimer closer;
    closer.setInterval(5);
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (made && made->isVisible()) {
            ++shown;
            made->accept();
        }
    });
    closer.start();
    engine.AppAbout();
    engine.AppAbout();
    EXPECT_EQ(created, 1);
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(made->parent(), Form) << "owned by the engine's owner";

    QPointer<QWidget> splash = new QWidget;
    splash->show();
    SetSplashWindow(splash);
    engine.SplashClose();
    EXPECT_TRUE(splash.isNull());
    EXPECT_EQ(SplashWindow(), nullptr);
    engine.SplashClose();
}

}  // namespace
}  // namespace cloakline::test
