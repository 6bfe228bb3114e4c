#include "app/uMain.h"

#include <QLabel>

#include "ui/KTEngine.h"
#include "ui/KTSkinData.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

TfrmMain::TfrmMain(const TAppContext& context, QWidget* parent) : QMainWindow(parent) {
    setObjectName(QStringLiteral("frmMain"));
    const std::string name = context.Settings.GetSettingString("App.Name");
    setWindowTitle(QString::fromStdString(name.empty() ? std::string("Cloakline") : name));
    auto* body = new QLabel(windowTitle(), this);
    body->setAlignment(Qt::AlignCenter);
    setCentralWidget(body);
    setFixedSize(474, 236);

    FSkinData = new TKTSkinData(this);
    FLanguageData = new QtKTMultiLangData(*context.System.Files, CompareTextAscii, this);
    FEngine = new TKTEngine(this, &context.Instances);
    FEngine->SetSkinData(FSkinData);
    FEngine->SetLanguageData(FLanguageData);
    FEngine->SetSettingOverwrite(TStringList{});
    FEngine->SetSettingDefault(TStringList{"Path.Skins=skins", "Path.Languages=lang"});
    FEngine->SetParentHWND(0);
    FEngine->SetTitleIncludeVer(true);
    FEngine->SetDownloaderContext(context.Downloader);
    FEngine->Loaded();
}

// The engine is a child of the window: it stays the process-wide one while
// the window's own clean-up runs.
TfrmMain::~TfrmMain() = default;

}  // namespace cloakline
