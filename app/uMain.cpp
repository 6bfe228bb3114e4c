#include "app/uMain.h"

#include <QAction>
#include <QLabel>

#include "ui/KTEngine.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/KTSkinData.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

struct TActionText {
    const char* Name;
    const char* Caption;
};

// The window's actions with their built-in captions; buttons and menus that
// carry them, and their commands, are bound where those are built.
constexpr TActionText kActions[] = {
    {"actShroud", "&Hide IP"},
    {"actStopHide", "&Stop Hide"},
    {"actChooseIPCountry", "Choose &IP Country"},
    {"actSettings", "Se&ttings"},
    {"actCheckIPInfo", "Check IP I&nfo"},
    {"actHelpCenter", "&Help Center"},
    {"actHomePage", "Ho&me Page"},
    {"actExit", "&Exit"},
    {"actOpen", "&Open..."},
    {"actAlwaysOnTop", "Always on top"},
    {"actUpdate", "Update..."},
    {"actAbout", "About..."},
};

}  // namespace

TfrmMain::TfrmMain(const TAppContext& context, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    const std::string name = context.Settings.GetSettingString("App.Name");
    setWindowTitle(QString::fromStdString(name.empty() ? std::string("Cloakline") : name));
    auto* body = new QLabel(windowTitle(), this);
    body->setAlignment(Qt::AlignCenter);
    setCentralWidget(body);
    setFixedSize(474, 236);

    FSkinData = new TKTSkinData(this);
    for (const TActionText& text : kActions) {
        auto* action = new QAction(QString::fromUtf8(text.Caption), this);
        action->setObjectName(QString::fromUtf8(text.Name));
    }
    findChild<QAction*>(QStringLiteral("actShroud"))->setToolTip(QStringLiteral("Hide IP"));
    findChild<QAction*>(QStringLiteral("actAlwaysOnTop"))->setCheckable(true);

    FLanguageData = new QtKTMultiLangData(*context.System.Files, UserSectionCollation(), this);
    auto* translation = new QtKTMultiLang(*this);
    translation->SetLanguageData(FLanguageData);
    FEngine = new TKTEngine(this, &context.Instances);
    FEngine->SetSkinData(FSkinData);
    FEngine->SetLanguageData(FLanguageData);
    FEngine->SetSettingOverwrite(TStringList{});
    FEngine->SetSettingDefault(TStringList{"Path.Skins=skins", "Path.Languages=lang"});
    FEngine->SetParentHWND(0);
    FEngine->SetTitleIncludeVer(true);
    FEngine->SetDownloaderContext(context.Downloader);
    FEngine->Loaded();
    NotifyFormLoaded(*this);
}

// The engine is a child of the window: it stays the process-wide one while
// the window's own clean-up runs.
TfrmMain::~TfrmMain() = default;

}  // namespace cloakline
