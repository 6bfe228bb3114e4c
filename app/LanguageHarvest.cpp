#include "app/LanguageHarvest.h"

#include <QAction>
#include <QApplication>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>

#include "app/KTMain.h"
#include "app/uMain.h"
#include "core/framework/CommandLineSwitches.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTSettings.h"
#include "core/framework/NamedStrings.h"
#include "ui/KTFormRegistry.h"
#include "ui/QtComponentReflection.h"
#include "ui/QtMultiLang.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

// Bumped when keys are renamed, so that translators see their file is behind.
constexpr std::string_view kLanguageVersion = "1.0";

// Qt properties that hold no text for people.
const char* const kHarvestExcludes[] = {".styleSheet", ".windowFilePath", ".windowIconText", ".inputMask"};

// An action's hint and icon text follow its caption until they are set;
// harvested, they would be pinned and stop following a translated caption.
TStringList DerivedActionTexts(QWidget& form) {
    TStringList patterns;
    for (QObject* object : FormComponents(form)) {
        auto* action = qobject_cast<QAction*>(object);
        if (action == nullptr || action->objectName().isEmpty()) {
            continue;
        }
        const QAction plain(action->text());
        const std::string name = action->objectName().toStdString();
        if (action->toolTip() == plain.toolTip()) {
            patterns.Add(name + "..Hint");
        }
        if (action->iconText() == plain.iconText()) {
            patterns.Add(name + "..iconText");
        }
    }
    return patterns;
}

// The program and the user's data in a temporary folder.
class THarvestFolders : public IDataFolders {
  public:
    explicit THarvestFolders(std::string root) : FRoot(std::move(root)) {}
    std::string GetExeName() const override { return FRoot + "\\prog\\cloakline"; }
    std::string GetShellFolder(std::string_view) const override { return FRoot + "\\user"; }
    std::string GetCommonShellFolder(std::string_view) const override { return FRoot + "\\common"; }
    std::string GetTempDir() const override { return FRoot + "\\"; }

  private:
    std::string FRoot;
};

// The system services that would reach beyond the harvest do nothing.
class TNoAutoRun : public IAutoRun {
  public:
    void SetAutoRun(bool, std::string_view, std::string_view) override {}
};

class TNoProcesses : public IProcesses {
  public:
    bool OpenURL(std::string_view) override { return false; }
    bool Spawn(std::string_view, const TStringList&, std::string_view, bool, std::uint32_t) override {
        return false;
    }
};

class TNoSingleInstance : public ISingleInstance {
  public:
    bool CreateUniqueMutex(std::string_view) override { return true; }
};

class TNoSystemProxy : public ISystemProxy {
  public:
    // Nothing is switched, so nothing is left on a proxy.
    bool ApplyProxy(std::string_view) override { return true; }
};

class TNoFirefox : public IFirefox {
  public:
    std::string FindInstalledProgram() const override { return {}; }
    bool IsRunning() const override { return false; }
    bool ApplyProxy(std::string_view, std::string_view) override { return false; }
    bool InstallExtension(std::string_view, std::string_view) override { return false; }
};

class TNoOpera : public IOperaPreferences {
  public:
    std::vector<std::string> ExtraPreferenceFiles() const override { return {}; }
};

class TNoInfoFetcher : public IInfoFetcher {
  public:
    void Fetch(const std::string&, TOnInfoGot) override {}
};

std::unique_ptr<Platform> HarvestPlatform(const std::string& root) {
    std::unique_ptr<Platform> platform = CreateSystemPlatform();
    platform->Folders = std::make_unique<THarvestFolders>(root);
    platform->AutoRun = std::make_unique<TNoAutoRun>();
    platform->Processes = std::make_unique<TNoProcesses>();
    platform->SingleInstance = std::make_unique<TNoSingleInstance>();
    platform->SystemProxy = std::make_unique<TNoSystemProxy>();
    platform->Firefox = std::make_unique<TNoFirefox>();
    platform->Opera = std::make_unique<TNoOpera>();
    platform->MakeInstanceChannel = [](const std::string&) -> std::unique_ptr<IInstanceChannel> {
        return std::make_unique<TNoInstanceChannel>();
    };
    return platform;
}

}  // namespace

void HarvestForm(QWidget& form, QtKTMultiLangData& data) {
    TKTMultiLangData& lang = data.Data();
    const TStringList excludes = lang.ExcludeProps();
    TStringList withDerived = excludes;
    for (const std::string& pattern : DerivedActionTexts(form)) {
        withDerived.Add(pattern);
    }
    lang.SetExcludeProps(withDerived);
    for (QObject* object : FormComponents(form)) {
        auto* client = qobject_cast<QtKTMultiLang*>(object);
        if (client == nullptr) {
            continue;
        }
        QtKTMultiLangData* own = client->LanguageData();
        client->SetLanguageData(&data);
        client->Client().UpdateData();
        client->SetLanguageData(own);
    }
    lang.SetExcludeProps(excludes);
}

void HarvestLanguage(QWidget& mainForm, QtKTMultiLangData& data) {
    TKTMultiLangData& lang = data.Data();
    lang.SetExcludeEmptyProp(true);
    TStringList excludes = TKTMultiLangData::DefaultExcludeProps();
    for (const char* pattern : kHarvestExcludes) {
        excludes.Add(pattern);
    }
    lang.SetExcludeProps(excludes);

    lang.SetProp("Info", "", "Language", "English");
    lang.SetProp("Info", "", "Translator", "");
    lang.SetProp("Info", "", "Version", kLanguageVersion);

    HarvestForm(mainForm, data);
    for (const TTranslatableForm& entry : TranslatableForms()) {
        // A form that needs services the harvest's installation lacks is left out.
        if (std::unique_ptr<QWidget> form = entry.Create(mainForm)) {
            HarvestForm(*form, data);
        }
    }
    for (const TNamedString& named : NamedStrings()) {
        lang.SetProp(named.Section, "", named.Key, named.Text);
    }
}

int RunLanguageHarvest(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.lan\n", argc > 0 ? argv[0] : "cloakline-harvest");
        return 2;
    }
    // The forms are built off screen: the harvest needs no display.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    MaskFloatingPointExceptions();
    QApplication app(argc, argv);
    QTemporaryDir root;
    if (!root.isValid()) {
        std::fprintf(stderr, "no temporary folder for the harvest\n");
        return 1;
    }
    const std::string rootPath = ProgramPathFromNative(root.path());
    const std::unique_ptr<Platform> system = HarvestPlatform(rootPath);
    // The window keeps the caption it was built with rather than the engine's title.
    if (!system->Files->ForceDirectories(rootPath + "\\prog") ||
        !system->Files->ReplaceFile(rootPath + "\\prog\\const.dat", "[setting]\r\nApp.NoAutoTitle=1\r\n") ||
        // The status panel asks for its movie file with a box that no one would close.
        !system->Files->ForceDirectories(rootPath + "\\prog\\res") ||
        !system->Files->ReplaceFile(rootPath + "\\prog\\res\\shroud.dat", "")) {
        std::fprintf(stderr, "no temporary installation for the harvest\n");
        return 1;
    }
    SetGlobalPlatform(system.get());
    int exitCode = 0;
    {
        TKTSettings& settings = GlobalSettings();
        const std::unique_ptr<IInstanceChannel> channel = system->MakeInstanceChannel("");
        const TCommandLineSwitches switches({}, true);
        TNoInfoFetcher fetcher;
        // No dispatcher and no system: a transfer that a form might start fails at once.
        const TDownloaderContext downloads{};
        const TAppContext context{*system, settings, *channel, switches, fetcher, downloads};
        TfrmMain mainForm(context);
        QtKTMultiLangData data(*system->Files, FixedSectionCollation(), nullptr);
        HarvestLanguage(mainForm, data);
        try {
            data.Data().SaveCurrentToFile(
                ProgramPathFromNative(QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath()));
        } catch (const ELanguageFileError& error) {
            std::fprintf(stderr, "%s\n", error.what());
            exitCode = 1;
        }
    }
    ReleaseGlobalSettings();
    SetGlobalPlatform(nullptr);
    return exitCode;
}

}  // namespace cloakline
