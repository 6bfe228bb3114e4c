#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <algorithm>
#include <filesystem>

#include "app/FlagPictureList.h"
#include "app/uChooseIPCountry.h"
#include "app/uIPsTesting.h"
#include "app/uSettings.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "core/support/TextEncoding.h"
#include "platform/linux/LinuxAutoRun.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/ModalBoxRecorder.h"
#include "tests/support/RecordingBrowsers.h"
#include "tests/support/RecordingInfoFetcher.h"
#include "tests/support/RecordingProcesses.h"
#include "tests/support/ScriptedRandom.h"
#include "ui/KTEngine.h"
#include "ui/QtMultiLang.h"

namespace cloakline::test {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "dialogs_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

template <class T>
T& Child(QWidget& form, const char* name) {
    T* child = form.findChild<T*>(QString::fromLatin1(name));
    EXPECT_NE(child, nullptr) << name;
    return *child;
}

// An installation with real settings files, a main window with its engine,
// a Firefox the test installs and the autostart folder of a temporary
// XDG_CONFIG_HOME.
class DialogsTest : public ::testing::Test {
  protected:
    DialogsTest() {
        App();
        auto processes = std::make_unique<RecordingProcesses>();
        Env.P.Processes = std::move(processes);
        auto firefox = std::make_unique<RecordingFirefox>();
        Firefox = firefox.get();
        Env.P.Firefox = std::move(firefox);
        XdgHome = Env.Dir.Sub("xdg");
        std::filesystem::create_directories(XdgHome);
        const std::string home = XdgHome;
        Env.P.AutoRun = std::make_unique<LinuxAutoRun>([home](const char* variable) {
            return std::string_view(variable) == "XDG_CONFIG_HOME" ? home.c_str() : nullptr;
        });
        SetGlobalPlatform(&Env.P);
        Env.WriteConst("[setting]\r\nApp.Name=Cloakline\r\nApp.GUID={6F1C-2A7E}\r\n");
        Main = new QWidget;
        Language = new QtKTMultiLangData(*Env.P.Files, CompareTextAscii, Main);
        Engine = new TKTEngine(Main);
        Engine->SetLanguageData(Language);
        Engine->Loaded();
    }
    ~DialogsTest() override {
        delete Main;
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }

    TKTSettings& Settings() { return GlobalSettings(); }
    std::string SettingFile() const { return Env.Dir.ReadFile(Env.UserFolder() + "/setting.dat"); }
    std::string AutostartEntry() const { return XdgHome + "/autostart/Cloakline-6F1C-2A7E.desktop"; }

    SettingsTestPlatform Env;
    RecordingFirefox* Firefox = nullptr;
    std::string XdgHome;
    QWidget* Main = nullptr;
    QtKTMultiLangData* Language = nullptr;
    TKTEngine* Engine = nullptr;
};

// Fake location chooser -------------------------------------------------------

class ChooserTest : public DialogsTest {
  protected:
    ChooserTest() {
        Settings().SetSettingstring(
            "NORMAL_IPS", "1.1.1.1:80|Germany|DE;2.2.2.2:80|United States|US;3.3.3.3:80|germany|DE");
        Settings().SetSettingstring("SUPER_IPS", "4.4.4.4:80|France|Fr;5.5.5.5:80|United States|US");
        Manager.LoadSettings();
        QPixmap red(48, 48);
        red.fill(Qt::red);
        Flags.Add("de", red);
    }

    QStringList Captions(TfrmChooseIPCountry& dialog) {
        auto& list = Child<QListWidget>(dialog, "lvList");
        QStringList captions;
        for (int i = 0; i < list.count(); ++i) {
            captions << list.item(i)->text();
        }
        return captions;
    }
    int SelectedRow(TfrmChooseIPCountry& dialog) {
        auto& list = Child<QListWidget>(dialog, "lvList");
        const auto selected = list.selectedItems();
        return selected.isEmpty() ? -1 : list.row(selected.front());
    }

    RecordingInfoFetcher Fetcher;
    ScriptedRandom Random;
    TProxyManager Manager{Settings(), Fetcher, Random};
    TFlagPictureList Flags;
};

TEST_F(ChooserTest, ListsEachCountryOnceAfterAutoSelectedWithItsFlag) {
    Manager.SetTargetCountry("un");
    TfrmChooseIPCountry dialog(Manager, Settings(), Flags, Main);
    EXPECT_EQ(Captions(dialog), QStringList({"Auto Selected", "Germany", "United States", "France"}));
    EXPECT_EQ(SelectedRow(dialog), 0) << "\"un\" is any country";

    auto& list = Child<QListWidget>(dialog, "lvList");
    const QImage germany = list.item(1)->icon().pixmap(48, 48).toImage();
    EXPECT_EQ(germany.pixelColor(24, 24), QColor(Qt::red)) << "flag found by code, letter case aside";
    EXPECT_TRUE(list.item(3)->icon().isNull()) << "a country without a flag shows its name only";

    Manager.SetTargetCountry("us");
    TfrmChooseIPCountry again(Manager, Settings(), Flags, Main);
    EXPECT_EQ(SelectedRow(again), 2);
}

TEST(ChooserCaptionTest, NamesWrapBetweenWordsAndAreCutOnlyBeyondTheirLines) {
    App();
    const QFont font;
    const QFontMetrics metrics(font);
    const int width = metrics.horizontalAdvance(QStringLiteral("United States")) + 2;
    EXPECT_EQ(WrapCaption("Bosnia and Herzegovina", font, width, 3),
              QStringList({"Bosnia and", "Herzegovina"}));
    EXPECT_EQ(WrapCaption("Japan", font, width, 3), QStringList({"Japan"}));
    const QStringList cut = WrapCaption("United States Minor Outlying Islands", font, width, 2);
    ASSERT_EQ(cut.size(), 2);
    EXPECT_EQ(cut[0], "United States");
    EXPECT_TRUE(cut[1].endsWith(QChar(0x2026))) << cut[1].toStdString();
    for (const QString& line : WrapCaption("Saint Vincent and the Grenadines", font, width, 4)) {
        EXPECT_LE(metrics.horizontalAdvance(line), width) << line.toStdString();
    }
}

TEST_F(ChooserTest, OkStoresTheChoiceCancelAndNoSelectionKeepIt) {
    Manager.SetTargetCountry("US");
    {
        TfrmChooseIPCountry dialog(Manager, Settings(), Flags, Main);
        Child<QListWidget>(dialog, "lvList").item(3)->setSelected(true);
        Child<QPushButton>(dialog, "btnCancel").click();
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
        EXPECT_EQ(Manager.TargetCountry(), "US");
        EXPECT_FALSE(Settings().GetSettingExists("TARGET_COUNTRY"));
    }
    {
        TfrmChooseIPCountry dialog(Manager, Settings(), Flags, Main);
        Child<QListWidget>(dialog, "lvList").setCurrentRow(3);
        Child<QPushButton>(dialog, "btnOK").click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_EQ(Manager.TargetCountry(), "Fr") << "as the list spells it";
        EXPECT_EQ(Settings().GetSettingString("TARGET_COUNTRY"), "Fr");
    }
    {
        TfrmChooseIPCountry dialog(Manager, Settings(), Flags, Main);
        Child<QListWidget>(dialog, "lvList").setCurrentRow(0);
        Child<QPushButton>(dialog, "btnOK").click();
        EXPECT_EQ(Manager.TargetCountry(), "UN");
        EXPECT_EQ(Settings().GetSettingString("TARGET_COUNTRY"), "UN");
    }
    Manager.SetTargetCountry("JP");
    TfrmChooseIPCountry dialog(Manager, Settings(), Flags, Main);
    EXPECT_EQ(SelectedRow(dialog), -1) << "a choice that is not listed selects nothing";
    Child<QPushButton>(dialog, "btnOK").click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected) << "nothing was chosen";
    EXPECT_EQ(Manager.TargetCountry(), "JP");
    EXPECT_EQ(Settings().GetSettingString("TARGET_COUNTRY"), "UN");
}

TEST_F(ChooserTest, FlagFolderTakesPngFilesNamedByPlainCodes) {
    QImage blue(48, 48, QImage::Format_ARGB32);
    blue.fill(Qt::blue);
    ASSERT_TRUE(blue.save(QString::fromStdString(Env.Dir.Sub("flags/DE.PNG"))));
    ASSERT_TRUE(blue.save(QString::fromStdString(Env.Dir.Sub("flags/us.png"))));
    ASSERT_TRUE(blue.save(QString::fromStdString(Env.Dir.Sub("flags/x.y.png"))));
    Env.Dir.WriteFile("flags/FR.png", "not a picture");
    Env.Dir.WriteFile("flags/IT.txt", "text");
    TFlagPictureList flags;
    flags.LoadFlagPNGList(Env.P, Env.Dir.ProgramPath("flags"));
    std::vector<std::string> names;
    for (int i = 0; i < flags.Count(); ++i) {
        names.push_back(flags.Name(i));
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"DE", "us"}));
    EXPECT_GE(flags.GetImageIndex("US"), 0);
    EXPECT_EQ(flags.GetImageIndex("../x"), -1);
    EXPECT_EQ(flags.GetImageIndex("UN"), -1);
}

// Options dialog ---------------------------------------------------------------

TEST_F(DialogsTest, CancelLeavesEverySettingAndTheAutostartEntryAlone) {
    Settings().SetSettingBool("AutoRun", true);
    Settings().SetSettingInteger("ChangeIPTime", 0);
    const std::string before = SettingFile();
    TfrmSettings dialog(Settings(), Env.P, Main);
    EXPECT_EQ(Child<QTabWidget>(dialog, "pcSetting").currentIndex(), 0);
    for (const char* box : {"cbAutoRun", "cbAutoUpdate", "cbChangeIP", "cbFF", "cbOpera", "cbGateway",
                            "cbKeepProxy", "cbBlockWeb"}) {
        Child<QCheckBox>(dialog, box).toggle();
    }
    Child<QSpinBox>(dialog, "edtChangeIPTime").setValue(50);
    Child<QPushButton>(dialog, "btnCancel").click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
    EXPECT_EQ(SettingFile(), before);
    EXPECT_FALSE(std::filesystem::exists(AutostartEntry())) << "Cancel writes no autostart entry either";
}

TEST_F(DialogsTest, OkWritesEveryOptionAndMendsTheInterval) {
    TKTSettings& s = Settings();
    s.SetSettingBool("SWITCH.IE", true);
    s.SetSettingBool("SWITCH.FF", true);
    s.SetSettingBool("SWITCH.OPERA", false);
    s.SetSettingBool("Update.AutoCheck", false);
    s.SetSettingBool("ChangeIP", true);
    s.SetSettingInteger("ChangeIPTime", 0);
    s.SetSettingBool("Gateway.Enabled", true);
    s.SetSettingBool("Guard.KeepProxy", true);
    s.SetSettingBool("Guard.BlockWeb", false);
    TfrmSettings dialog(s, Env.P, Main);
    EXPECT_TRUE(Child<QCheckBox>(dialog, "cbIE").isChecked());
    QCheckBox& gateway = Child<QCheckBox>(dialog, "cbGateway");
    EXPECT_TRUE(gateway.isChecked());
    EXPECT_EQ(gateway.parentWidget(), &Child<QWidget>(dialog, "tsBrowser"));
    EXPECT_EQ(gateway.text().toStdString(), "Send browsers through the local gateway (safer)");
    gateway.setChecked(false);
    QCheckBox& keep = Child<QCheckBox>(dialog, "cbKeepProxy");
    QCheckBox& block = Child<QCheckBox>(dialog, "cbBlockWeb");
    EXPECT_EQ(keep.text().toStdString(), "Keep my browsers on the proxy when another program changes it");
    EXPECT_EQ(block.text().toStdString(), "Block the web when Cloakline stops unexpectedly");
    EXPECT_EQ(block.parentWidget(), &Child<QWidget>(dialog, "tsBrowser"));
    EXPECT_TRUE(keep.isChecked());
    EXPECT_FALSE(block.isChecked());
    // Both fit on their page above the button below them.
    EXPECT_LE(block.geometry().bottom(), Child<QPushButton>(dialog, "btnReinstallFF").geometry().top());
    keep.setChecked(false);
    block.setChecked(true);
    EXPECT_FALSE(Child<QCheckBox>(dialog, "cbIE").isEnabled());
    EXPECT_EQ(Child<QSpinBox>(dialog, "edtChangeIPTime").value(), 1) << "a stored 0 shows as 1";
    Child<QCheckBox>(dialog, "cbFF").setChecked(false);
    Child<QCheckBox>(dialog, "cbOpera").setChecked(true);
    Child<QCheckBox>(dialog, "cbAutoUpdate").setChecked(true);
    Child<QCheckBox>(dialog, "cbChangeIP").setChecked(false);
    Child<QPushButton>(dialog, "btnOK").click();
    EXPECT_EQ(dialog.result(), QDialog::Accepted);
    EXPECT_TRUE(s.GetSettingBool("SWITCH.IE"));
    EXPECT_FALSE(s.GetSettingBool("SWITCH.FF"));
    EXPECT_TRUE(s.GetSettingBool("SWITCH.OPERA"));
    EXPECT_TRUE(s.GetSettingBool("Update.AutoCheck"));
    EXPECT_FALSE(s.GetSettingBool("ChangeIP"));
    EXPECT_EQ(s.GetSettingString("ChangeIPTime"), "1") << "saved as 1, not 0";
    EXPECT_FALSE(s.GetSettingBool("Gateway.Enabled"));
    EXPECT_FALSE(s.GetSettingBool("Guard.KeepProxy"));
    EXPECT_TRUE(s.GetSettingBool("Guard.BlockWeb"));

    s.SetSettingInteger("ChangeIPTime", 500);
    TfrmSettings second(s, Env.P, Main);
    Child<QPushButton>(second, "btnOK").click();
    EXPECT_EQ(s.GetSettingInteger("ChangeIPTime"), 120);
}

TEST_F(DialogsTest, AutorunFollowsTheBoxOnEveryOk) {
    {
        TfrmSettings dialog(Settings(), Env.P, Main);
        Child<QCheckBox>(dialog, "cbAutoRun").setChecked(true);
        Child<QPushButton>(dialog, "btnOK").click();
    }
    EXPECT_TRUE(Settings().GetSettingBool("AutoRun"));
    ASSERT_TRUE(std::filesystem::exists(AutostartEntry()));
    const std::string entry = Env.Dir.ReadFile("xdg/autostart/Cloakline-6F1C-2A7E.desktop");
    EXPECT_NE(entry.find("prog/cloakline"), std::string::npos) << entry;

    // Another tool writes the entry back while the setting says off.
    Settings().SetSettingBool("AutoRun", false);
    std::filesystem::remove(AutostartEntry());
    Env.P.AutoRun->SetAutoRun(true, "Cloakline-6F1C-2A7E", "/usr/bin/other");
    ASSERT_TRUE(std::filesystem::exists(AutostartEntry()));
    TfrmSettings dialog(Settings(), Env.P, Main);
    EXPECT_FALSE(Child<QCheckBox>(dialog, "cbAutoRun").isChecked());
    Child<QPushButton>(dialog, "btnOK").click();
    EXPECT_FALSE(std::filesystem::exists(AutostartEntry()));
}

TEST_F(DialogsTest, AnAppNameInTheSettingsNeverTouchesAnotherProgramsAutostartEntry) {
    Env.Dir.WriteFile("xdg/autostart/firefox.desktop", "[Desktop Entry]\nExec=firefox\n");
    Settings().SetSettingstring("App.Name", "firefox");
    for (const bool on : {true, false}) {
        TfrmSettings dialog(Settings(), Env.P, Main);
        Child<QCheckBox>(dialog, "cbAutoRun").setChecked(on);
        Child<QPushButton>(dialog, "btnOK").click();
        EXPECT_EQ(std::filesystem::exists(AutostartEntry()), on);
        EXPECT_EQ(Env.Dir.ReadFile("xdg/autostart/firefox.desktop"), "[Desktop Entry]\nExec=firefox\n");
    }
}

TEST_F(DialogsTest, ClearShowAgainFlagActsAtOnceAndCancelKeepsIt) {
    Settings().SetMessageShowAgainFlag(1, false);
    Settings().SetMessageShowAgainFlag(7, false);
    TfrmSettings dialog(Settings(), Env.P, Main);
    Child<QPushButton>(dialog, "btnClearShowAgainFlag").click();
    EXPECT_TRUE(Settings().GetMessageShowAgainFlag(1));
    Child<QPushButton>(dialog, "btnCancel").click();
    EXPECT_TRUE(Settings().GetMessageShowAgainFlag(1));
    EXPECT_TRUE(Settings().GetMessageShowAgainFlag(7));
}

TEST_F(DialogsTest, ReinstallFirefoxExtension) {
    std::vector<std::string> asked;
    auto picker = [&asked](std::string answer) {
        return [&asked, answer](QWidget*, std::string_view initial, std::string_view title) {
            asked.push_back(std::string(initial) + "|" + std::string(title));
            return answer;
        };
    };
    {
        ModalBoxRecorder boxes;
        TfrmSettings dialog(Settings(), Env.P, Main);
        dialog.SetFirefoxPicker(picker("unused"));
        Child<QPushButton>(dialog, "btnReinstallFF").click();
        ASSERT_EQ(boxes.Texts.size(), 1);
        EXPECT_TRUE(boxes.Texts[0].contains("MSGBox.FFUninstalled")) << boxes.Texts[0].toStdString();
        EXPECT_TRUE(Firefox->Installs.empty());
        EXPECT_TRUE(asked.empty());
    }

    Env.Dir.WriteFile("ff/firefox", "");
    Env.Dir.WriteFile("mine/firefox", "");
    const std::string found = Env.Dir.ProgramPath("ff/firefox");
    const std::string chosen = Env.Dir.ProgramPath("mine/firefox");
    Firefox->Installed = found;
    Firefox->InstallResult = false;
    Firefox->Running = true;
    {
        ModalBoxRecorder boxes;
        TfrmSettings dialog(Settings(), Env.P, Main);
        dialog.SetFirefoxPicker(picker(chosen));
        Child<QPushButton>(dialog, "btnReinstallFF").click();
        ASSERT_EQ(boxes.Texts.size(), 2);
        EXPECT_TRUE(boxes.Texts[0].contains("MSGBox.FFPath"));
        EXPECT_TRUE(boxes.Texts[1].contains("MSGBox.FFRestart"));
        EXPECT_EQ(asked, (std::vector<std::string>{found + "|Choose Firefox Path"}));
        EXPECT_EQ(Settings().GetSettingString("FireFoxPath"), chosen);
        ASSERT_EQ(Firefox->Installs.size(), 2u);
        EXPECT_EQ(Firefox->Installs[1].Program, chosen) << "the second try uses the program picked";
    }

    // A cancelled picker keeps the known location and does not try again.
    Firefox->Installs.clear();
    Firefox->Running = false;
    ModalBoxRecorder boxes;
    TfrmSettings dialog(Settings(), Env.P, Main);
    dialog.SetFirefoxPicker(picker(""));
    Child<QPushButton>(dialog, "btnReinstallFF").click();
    EXPECT_EQ(boxes.Texts.size(), 1);
    EXPECT_EQ(Settings().GetSettingString("FireFoxPath"), chosen);
    EXPECT_EQ(Firefox->Installs.size(), 1u);
}

// Verifying dialog --------------------------------------------------------------

void RunEventsFor(int ms) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (elapsed.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

TEST_F(DialogsTest, VerifyingClosesOnTheLocalInformationOrAfterThirtySeconds) {
    {
        TfrmTesting dialog(*Env.Clock, false, Main);
        dialog.show();
        Env.Clock->AdvanceMs(TfrmTesting::kMaxWaitMs - 1);
        RunEventsFor(3 * TfrmTesting::kCheckIntervalMs);
        EXPECT_TRUE(dialog.isVisible()) << "still waiting";
        dialog.LocalInfoArrived();
        EXPECT_FALSE(dialog.isVisible());
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    {
        TfrmTesting dialog(*Env.Clock, false, Main);
        dialog.show();
        Env.Clock->AdvanceMs(TfrmTesting::kMaxWaitMs);
        RunEventsFor(3 * TfrmTesting::kCheckIntervalMs);
        EXPECT_FALSE(dialog.isVisible()) << "gave up after 30 s";
        EXPECT_EQ(dialog.result(), QDialog::Rejected);
    }
    // Information already there: exec returns by itself.
    TfrmTesting dialog(*Env.Clock, true, Main);
    EXPECT_EQ(dialog.exec(), QDialog::Accepted);
}

}  // namespace
}  // namespace cloakline::test
