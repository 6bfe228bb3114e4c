#include <gtest/gtest.h>

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "app/KTMain.h"
#include "app/LanguageHarvest.h"
#include "app/uFlashForm.h"
#include "app/uMain.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/IniDocument.h"
#include "core/framework/KTSettings.h"
#include "core/framework/NamedStrings.h"
#include "platform/linux/LinuxInstanceChannel.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingInfoFetcher.h"
#include "ui/FitToText.h"
#include "ui/KTAboutForm.h"
#include "ui/KTEngine.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/KTUpdateForm.h"
#include "ui/QtMultiLang.h"

namespace cloakline::test {

// A form that registers itself the way the program's dialogs do.
class TfrmHarvestProbe : public QWidget {
    Q_OBJECT

  public:
    explicit TfrmHarvestProbe(QWidget& owner) : QWidget(&owner, Qt::Dialog) {
        setObjectName("frmHarvestProbe");
        setWindowTitle("Probe");
        auto* go = new QPushButton("&Go", this);
        go->setObjectName("btnGo");
        go->setToolTip("Starts it");
        auto* blank = new QLabel(this);
        blank->setObjectName("lblBlank");
        auto* act = new QAction("&Run...", this);
        act->setObjectName("actRun");
        (new QtKTMultiLang(*this))->setObjectName("mlProbe");
        NotifyFormLoaded(*this);
    }
};

class TfrmHarvestMain : public QWidget {
    Q_OBJECT
};

namespace {

namespace fs = std::filesystem;

const fs::path kSourceDir = CLOAKLINE_SOURCE_DIR;
const fs::path kLanguageDir = kSourceDir / "data" / "lang";

QApplication& App() {
    static int argc = 1;
    static char name[] = "language_files_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

TIniDocument ReadLanguage(const fs::path& path) {
    TIniDocument doc;
    doc.LoadFromBytes(ReadBytes(path));
    return doc;
}

// "section/key" (keys compared without regard to case) -> value.
std::map<std::string, std::string> Entries(const TIniDocument& doc) {
    std::map<std::string, std::string> out;
    for (std::size_t s = 0; s < doc.SectionCount(); ++s) {
        for (const TIniDocument::Line& line : doc.SectionLines(s)) {
            if (line.IsEntry) {
                out.emplace(AsciiLowerCase(doc.SectionName(s) + "/" + line.Key), line.Value);
            }
        }
    }
    return out;
}

// The placeholders a text takes its arguments through, "{1}" and the like.
std::multiset<std::string> Placeholders(const std::string& text) {
    static const std::regex placeholder(R"(\{[0-9]+\}|\{appname\})", std::regex::icase);
    std::multiset<std::string> out;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), placeholder); it != std::sregex_iterator();
         ++it) {
        out.insert(AsciiLowerCase(it->str()));
    }
    return out;
}

std::vector<fs::path> ShippedLanguages() {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(kLanguageDir)) {
        if (entry.path().extension() == ".lan") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

TEST(ShippedLanguagesTest, EveryLanguageHasEveryKeyWithItsPlaceholdersAndNoStaleOnes) {
    const std::vector<fs::path> files = ShippedLanguages();
    ASSERT_GE(files.size(), 2u) << "English and at least one translation ship";
    std::map<std::string, std::string> english = Entries(ReadLanguage(kLanguageDir / "English.lan"));
    for (const TNamedString& named : NamedStrings()) {
        EXPECT_TRUE(english.count(AsciiLowerCase(std::string(named.Section) + "/" + std::string(named.Key))))
            << named.Section << "/" << named.Key << " is read by the program but not harvested";
    }

    for (const fs::path& file : files) {
        SCOPED_TRACE(file.filename().string());
        const TIniDocument doc = ReadLanguage(file);
        EXPECT_TRUE(IsValidUtf8(ReadBytes(file))) << "shipped files are UTF-8";
        EXPECT_EQ(doc.ReadString("Info", "Language", ""), file.stem().string());
        EXPECT_TRUE(doc.ValueExists("Info", "Translator"));
        EXPECT_EQ(doc.ReadString("Info", "Version", ""), "1.0");
        const std::map<std::string, std::string> entries = Entries(doc);
        for (const auto& [key, value] : english) {
            const auto it = entries.find(key);
            if (it == entries.end()) {
                ADD_FAILURE() << "missing " << key;
            } else if (key.rfind("info/", 0) != 0) {
                EXPECT_FALSE(it->second.empty()) << key;
                EXPECT_EQ(Placeholders(it->second), Placeholders(value)) << key << "=" << it->second;
            }
        }
        for (const auto& [key, value] : entries) {
            EXPECT_TRUE(english.count(key)) << "stale " << key << " (English has no such key)";
        }
    }
}

// Keys that the code passes literally to the engine's string and message calls.
TEST(ShippedLanguagesTest, EveryNamedStringTheCodeReadsIsInTheTable) {
    static const std::regex call(
        R"re(\b(GetLibString|GetAppString|GetLibStringEx|GetAppStringEx|GetMessageText|ShowMessageEx|ShowErrorMessage|SetTextInfo)\s*\(\s*"([^"]+)")re");
    std::size_t seen = 0;
    for (const char* folder : {"app", "ui", "core", "net"}) {
        for (const fs::directory_entry& entry : fs::recursive_directory_iterator(kSourceDir / folder)) {
            const std::string ext = entry.path().extension().string();
            if (ext != ".cpp" && ext != ".h") {
                continue;
            }
            const std::string text = ReadBytes(entry.path());
            for (auto it = std::sregex_iterator(text.begin(), text.end(), call); it != std::sregex_iterator();
                 ++it) {
                const std::string key = (*it)[2];
                ++seen;
                EXPECT_TRUE(FindNamedString("LibRes", key) != nullptr ||
                            FindNamedString("AppRes", key) != nullptr)
                    << entry.path().string() << " reads " << key << ", which the named strings lack";
            }
        }
    }
    RecordProperty("literal_keys", static_cast<int>(seen));
}

struct ProbeRecord {
    QWidget* Owner = nullptr;
    QPointer<QWidget> Created;
} gProbe;

const TFormRegistration kProbeRegistration("TfrmHarvestProbe", [](QWidget& owner) {
    auto form = std::make_unique<TfrmHarvestProbe>(owner);
    gProbe.Owner = form->parentWidget();
    gProbe.Created = form.get();
    return std::unique_ptr<QWidget>(std::move(form));
});

TEST(LanguageHarvestTest, CollectsTheMainWindowRegisteredFormsAndNamedStrings) {
    App();
    SettingsTestPlatform env;
    QtKTMultiLangData own(*env.P.Files, CompareTextAscii, nullptr);
    TfrmHarvestMain main;
    main.setObjectName("frmHarvestMain");
    main.setWindowTitle("Main");
    auto* client = new QtKTMultiLang(main);
    client->SetLanguageData(&own);

    QtKTMultiLangData harvest(*env.P.Files, CompareTextAscii, nullptr);
    HarvestLanguage(main, harvest);
    TKTMultiLangData& data = harvest.Data();

    EXPECT_EQ(client->LanguageData(), &own) << "the form keeps its own language data";
    EXPECT_EQ(gProbe.Owner, &main) << "registered forms are created with the main window as owner";
    EXPECT_TRUE(gProbe.Created.isNull()) << "and freed after the harvest";
    EXPECT_EQ(data.CurrentLanguage(), "English");

    std::string value;
    EXPECT_TRUE(data.GetProp("TfrmHarvestMain", "frmHarvestMain", "Caption", value));
    EXPECT_EQ(value, "Main");
    EXPECT_TRUE(data.GetProp("TfrmHarvestProbe", "btnGo", "Caption", value));
    EXPECT_EQ(value, "&Go");
    EXPECT_TRUE(data.GetProp("TfrmHarvestProbe", "btnGo", "Hint", value))
        << "a hint that was set is harvested";
    EXPECT_TRUE(data.GetProp("TfrmHarvestProbe", "actRun", "Caption", value));
    value = "untouched";
    EXPECT_FALSE(data.GetProp("TfrmHarvestProbe", "actRun", "Hint", value))
        << "a hint Qt derives from the caption must follow a translated caption";
    EXPECT_FALSE(data.GetProp("TfrmHarvestProbe", "lblBlank", "Caption", value))
        << "empty texts are left out";
    EXPECT_FALSE(data.GetProp("TfrmHarvestProbe", "frmHarvestProbe", "styleSheet", value));
    for (const TNamedString& named : NamedStrings()) {
        std::string text;
        EXPECT_TRUE(data.GetProp(named.Section, "", named.Key, text)) << named.Key;
        if (named.Key != "AppName") {
            continue;
        }
        EXPECT_EQ(text, named.Text);
    }
}

// The program over an installation that ships the real language files and
// the panel's movie, with its main window.
class TShippedProgram {
  public:
    TShippedProgram() {
        App();
        Env.WriteConst("[setting]\r\nApp.Name=Cloakline\r\nApp.GUID={LANG-TEST}\r\n");
        for (const fs::path& file : ShippedLanguages()) {
            Env.Dir.WriteFile("prog/lang/" + file.filename().string(), ReadBytes(file));
        }
        Env.Dir.Sub("run/.keep");
        Env.Dir.WriteFile("prog/res/shroud.dat", ReadBytes(kSourceDir / "data" / "res" / "shroud.dat"));
        SetGlobalPlatform(&Env.P);
        Channel = std::make_unique<LinuxInstanceChannel>(
            "{LANG-TEST}", [run = Env.Dir.Path() + "/run"](const char* name) {
                return std::string_view(name) == "XDG_RUNTIME_DIR" ? run.c_str() : nullptr;
            });
        Context = std::make_unique<TAppContext>(
            TAppContext{Env.P, GlobalSettings(), *Channel, Switches, Fetcher, Downloads});
        Main = std::make_unique<TfrmMain>(*Context);
    }
    ~TShippedProgram() {
        Main.reset();
        Channel.reset();
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }

    SettingsTestPlatform Env;
    std::unique_ptr<LinuxInstanceChannel> Channel;
    const TCommandLineSwitches Switches{{}, true};
    RecordingInfoFetcher Fetcher;
    const TDownloaderContext Downloads{};
    std::unique_ptr<TAppContext> Context;
    std::unique_ptr<TfrmMain> Main;
};

TEST(LanguageHarvestTest, SwitchingTheProgramToGermanRetranslatesTheMainWindowAndBack) {
    TShippedProgram program;
    {
        TfrmMain& main = *program.Main;
        TKTEngine& engine = *main.Engine();
        EXPECT_EQ(engine.LanguageList(), (TStringList{"English", "German"}));

        const TIniDocument german = ReadLanguage(kLanguageDir / "German.lan");
        const TIniDocument english = ReadLanguage(kLanguageDir / "English.lan");
        auto* hide = main.findChild<QAction*>("actShroud");
        ASSERT_NE(hide, nullptr);
        engine.SetLanguage("German");
        EXPECT_EQ(hide->text().toStdString(), german.ReadString("TfrmMain", "actShroud.Caption", ""));
        EXPECT_EQ(engine.GetAppString("FLSMsg.Ready"), german.ReadString("AppRes", "FLSMsg.Ready", ""));
        engine.SetLanguage("English");
        EXPECT_EQ(hide->text().toStdString(), english.ReadString("TfrmMain", "actShroud.Caption", ""))
            << "the English file brings the built-in captions back";
    }
}

// Layout ----------------------------------------------------------------------

QString TextOf(const QWidget& control) {
    if (const auto* button = qobject_cast<const QAbstractButton*>(&control)) {
        return button->text();
    }
    const auto* label = qobject_cast<const QLabel*>(&control);
    return label != nullptr ? label->text() : QString();
}

// Every text control of form as it shows now that does not fit: its text is
// cut, it leaves its parent, or it overlaps a sibling (a spin edit may sit
// only in the blank run a check box's caption leaves for it).
QStringList LayoutFaults(QWidget& form) {
    QStringList faults;
    for (QWidget* control : form.findChildren<QWidget*>()) {
        const QString text = TextOf(*control);
        if (text.isEmpty() || !control->isVisibleTo(&form)) {
            continue;
        }
        const QString name = control->objectName() + " \"" + text + "\"";
        if (TextShortfall(*control) > 0) {
            faults << name + " is cut";
        }
        QWidget* parent = control->parentWidget();
        if (!parent->rect().contains(control->geometry())) {
            faults << name + " leaves " + parent->objectName();
        }
        for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
            if (sibling == control || !sibling->isVisibleTo(&form) ||
                sibling->objectName().startsWith("qt_") ||
                !sibling->geometry().intersects(control->geometry())) {
                continue;
            }
            const auto* box = qobject_cast<const QCheckBox*>(control);
            const QRect gap = box != nullptr ? CaptionGap(*box).translated(control->pos()) : QRect();
            const QRect at = sibling->geometry();
            if (qobject_cast<QAbstractSpinBox*>(sibling) == nullptr || at.left() < gap.left() ||
                at.right() > gap.right()) {
                faults << name + " overlaps " + sibling->objectName();
            }
        }
    }
    return faults;
}

// Each page of the form's tab widgets in turn; the faults one to a line.
std::string FormFaults(QWidget& form) {
    form.show();
    QApplication::processEvents();
    QStringList faults = LayoutFaults(form);
    for (QTabWidget* tabs : form.findChildren<QTabWidget*>()) {
        for (int page = 0; page < tabs->count(); ++page) {
            tabs->setCurrentIndex(page);
            QApplication::processEvents();
            faults << LayoutFaults(form);
        }
    }
    faults.removeDuplicates();
    return faults.join('\n').toStdString();
}

TEST(LanguageLayoutTest, EveryShippedLanguageFitsEveryFormAndThePanel) {
    TShippedProgram program;
    TfrmMain& main = *program.Main;
    TKTEngine& engine = *main.Engine();
    ASSERT_GE(engine.LanguageList().Count(), 2u);
    for (const std::string& language : engine.LanguageList()) {
        SCOPED_TRACE(language);
        engine.SetLanguage(language);
        EXPECT_EQ(FormFaults(main), "") << "TfrmMain";
        for (const TTranslatableForm& entry : TranslatableForms()) {
            // This test's own probe of the harvest is no form of the program.
            if (entry.ClassName == "TfrmHarvestProbe") {
                continue;
            }
            if (std::unique_ptr<QWidget> form = entry.Create(main)) {
                EXPECT_EQ(FormFaults(*form), "") << entry.ClassName;
            }
        }
        TfrmKTAboutForm about(&main);
        EXPECT_EQ(FormFaults(about), "") << "TfrmKTAboutForm";
        TfrmKTUpdateForm update(&main, program.Downloads);
        EXPECT_EQ(FormFaults(update), "") << "TfrmKTUpdateForm";

        // The panel draws its texts itself, from the language file.
        const TShockwaveFlash& player = *GlobalFlashForm()->FlashPlayer();
        const TIniDocument file = ReadLanguage(kLanguageDir / (language + ".lan"));
        EXPECT_EQ(player.Caption(TFlashCard::Local).toStdString(),
                  QString::fromStdString(file.ReadString("TfrmFlashForm", "frmFlashForm.LocalCaption", ""))
                      .toUpper()
                      .toStdString());
        EXPECT_EQ(player.Caption(TFlashCard::Target).toStdString(),
                  QString::fromStdString(file.ReadString("TfrmFlashForm", "frmFlashForm.TargetCaption", ""))
                      .toUpper()
                      .toStdString());
        EXPECT_EQ(player.CheckCaption().toStdString(),
                  file.ReadString("TfrmFlashForm", "frmFlashForm.CheckCaption", ""));
        EXPECT_EQ(player.CutTexts().join(", ").toStdString(), "");
    }
}

}  // namespace
}  // namespace cloakline::test

#include "LanguageFiles_test.moc"
