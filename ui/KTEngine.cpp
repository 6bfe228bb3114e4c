#include "ui/KTEngine.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTextBrowser>
#include <QUrl>
#include <array>

#include "core/framework/CommandLineSwitches.h"
#include "core/framework/DebugLog.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTEngineUrls.h"
#include "core/framework/KTMultiLang.h"
#include "core/framework/KTSettings.h"
#include "core/framework/KTUpdateRules.h"
#include "core/support/PathUtils.h"
#include "core/support/ShellUtils.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
#include "platform/api/WindowsVersion.h"
#include "ui/KTSkinData.h"
#include "ui/KTUpdateForm.h"
#include "ui/QtMultiLang.h"

namespace cloakline {

namespace {

TKTEngine* gEngine = nullptr;
QPointer<QWidget> gSplash;
QString gApplicationTitle;

constexpr std::string_view kLogTag = "KTEngine";
constexpr std::string_view kShowFlagCaption = "Do not display this message again";

#ifdef Q_OS_WIN
constexpr bool kSlashBeginsPaths = false;
#else
// Absolute paths begin with "/" here; the sending side reads them the same way.
constexpr bool kSlashBeginsPaths = true;
#endif

void Log(const std::string& message) {
    if (DebugLog::Active()) {
        DebugLog::Log(message, kLogTag);
    }
}

// A file of the language folder, named by its file name or pattern.
std::string LanguageFolderFile(std::string_view fileName) {
    return GetAppPath(GlobalPlatform()) + GlobalSettings().GetSettingString("Path.Languages") + "\\" +
           std::string(fileName);
}

bool FileExists(const std::string& path) {
    return HasGlobalPlatform() && GlobalPlatform().Files && GlobalPlatform().Files->FileExists(path);
}

QString MenuCaption(const std::string& name) {
    // A single "&" would turn into a keyboard mnemonic.
    return QString::fromStdString(name).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

struct ButtonSpec {
    TMsgDlgBtn Button;
    QMessageBox::StandardButton Standard;  // NoButton: a button of our own
    const char* Caption;
    std::int32_t Result;
};

constexpr std::array<ButtonSpec, 12> kButtons = {{
    {mbYes, QMessageBox::Yes, nullptr, mrYes},
    {mbNo, QMessageBox::No, nullptr, mrNo},
    {mbOK, QMessageBox::Ok, nullptr, mrOk},
    {mbCancel, QMessageBox::Cancel, nullptr, mrCancel},
    {mbAbort, QMessageBox::Abort, nullptr, mrAbort},
    {mbRetry, QMessageBox::Retry, nullptr, mrRetry},
    {mbIgnore, QMessageBox::Ignore, nullptr, mrIgnore},
    {mbAll, QMessageBox::NoButton, "&All", mrAll},
    {mbNoToAll, QMessageBox::NoToAll, nullptr, mrNoToAll},
    {mbYesToAll, QMessageBox::YesToAll, nullptr, mrYesToAll},
    {mbHelp, QMessageBox::Help, nullptr, mrNone},
    {mbClose, QMessageBox::Close, nullptr, mrClose},
}};

QMessageBox::Icon IconOf(TMsgDlgType type) {
    switch (type) {
        case mtWarning:
            return QMessageBox::Warning;
        case mtError:
            return QMessageBox::Critical;
        case mtInformation:
            return QMessageBox::Information;
        case mtConfirmation:
            return QMessageBox::Question;
        case mtCustom:
            break;
    }
    return QMessageBox::NoIcon;
}

const char* const kResultProperty = "ktModalResult";

}  // namespace

TKTEngine* GlobalEngine() {
    return gEngine;
}

QString ApplicationTitle() {
    return gApplicationTitle.isEmpty() ? QCoreApplication::applicationName() : gApplicationTitle;
}

void SetSplashWindow(QWidget* splash) {
    gSplash = splash;
}

QWidget* SplashWindow() {
    return gSplash;
}

TKTEngine::TKTEngine(QWidget* AOwner, IInstanceChannel* channel) : QObject(AOwner), FForm(AOwner) {
    FTitleIncludeVer = true;
    FHook = new TKTInstanceHook(AOwner, channel, GlobalSettings().GetSettingInteger("App.ID"), std::nullopt);
    FHook->OnInitPost = [this] { InitPost(); };
    FHook->OnBringToFront = [this] {
        if (FSkinForm == nullptr || !FSkinForm->HasTrayIcon()) {
            return false;
        }
        FSkinForm->RestoreFromTray();
        return true;
    };
    FSettingDefault = TStringList{"Path.Skins=skins", "Path.Languages=lang"};
    if (gEngine == nullptr) {
        gEngine = this;
        SetGlobalEngineLayers(this);
        SetGlobalFormEngine(this);
    }
    FDebug = DebugLog::Active();
}

TKTEngine::~TKTEngine() {
    if (gEngine == this) {
        gEngine = nullptr;
        SetGlobalEngineLayers(nullptr);
        SetGlobalFormEngine(nullptr);
    }
    delete FHook.data();
}

QObject* TKTEngine::SkinData() const {
    return FSkinData;
}

void TKTEngine::Loaded() {
    FInLoaded = true;
    try {
        InitSkin();
        InitLanguage();
    } catch (...) {
        FInLoaded = false;
        throw;
    }
    FInLoaded = false;
    FHook->PostInitPost();
}

void TKTEngine::InitPost() {
    if (FOnLanguageChanged) {
        FOnLanguageChanged(*this);
    }
    if (FOnSkinChanged) {
        FOnSkinChanged(*this);
    }
    UpdateTitle();
    if (GlobalSettings().GetSettingBool("Update.BeginAuto")) {
        AppUpdateAuto();
    }
    CheckCmdLineFile();
    FHook->Receiver().FInInited = false;
}

void TKTEngine::AppUpdate(bool bWait) {
    if (!FDownloaderContext.Dispatcher) {
        return;
    }
    auto* form = new TfrmKTUpdateForm(FForm, FDownloaderContext);
    form->StartUpdate(bWait, true, true, false, false);
    if (bWait) {
        delete form;
    }
}

void TKTEngine::AppUpdateAuto() {
    TKTSettings& settings = GlobalSettings();
    if (!FDownloaderContext.Dispatcher ||
        !UpdateCheckDue(GlobalPlatform().Clock->Now(), settings.GetSettingFloat("Update.LastDate"),
                        settings.GetSettingInteger("Update.Days"))) {
        return;
    }
    auto* form = new TfrmKTUpdateForm(FForm, FDownloaderContext);
    const bool report =
        ReportAutomaticCheck(settings.GetSettingBool("Update.AutoCheck"),
                             settings.GetSettingBool("Update.NoAutoCheck"), settings.RunTimes());
    form->StartUpdate(false, false, report, false, settings.GetSettingBool("Update.AutoClose"));
}

bool TKTEngine::AppWaitFirstUpdate() {
    TKTSettings& settings = GlobalSettings();
    if (settings.GetSettingInteger("Update.Times") > 0) {
        return true;
    }
    if (FDownloaderContext.Dispatcher) {
        // Closed, its request answered or aborted: nothing is left for it to do,
        // and a dialog kept for every refused click would pile up.
        const std::unique_ptr<TfrmKTUpdateForm> form =
            std::make_unique<TfrmKTUpdateForm>(FForm, FDownloaderContext);
        form->StartUpdate(true, true, false, true, false);
    }
    return settings.GetSettingInteger("Update.Times") > 0;
}

void TKTEngine::CheckCmdLineFile() {
    std::vector<std::string> arguments;
    const QStringList all = QCoreApplication::arguments();
    for (qsizetype i = 1; i < all.size(); ++i) {
        arguments.push_back(all[i].toStdString());
    }
    CheckCmdLineFile(arguments);
}

void TKTEngine::CheckCmdLineFile(const std::vector<std::string>& arguments) {
    const TCommandLineSwitches switches(arguments, kSlashBeginsPaths);
    if (const std::string* file = switches.ForwardableParameter()) {
        FHook->Receiver().FParamFile = *file;
        InstanceMessage cmdParam;
        cmdParam.Name = std::string(kMsgCmdParam);
        FHook->Post(cmdParam);
    }
}

void TKTEngine::SetOnCmdFile(TOnCmdFile handler) {
    FOnCmdFile = std::move(handler);
    FHook->Receiver().FOnCmdFile = FOnCmdFile;
}

void TKTEngine::SetTitleIncludeVer(bool value) {
    FTitleIncludeVer = value;
    UpdateTitle();
}

bool TKTEngine::SessionEnding() const {
    const std::uint32_t now =
        HasGlobalPlatform() && GlobalPlatform().Clock ? GlobalPlatform().Clock->TickCount() : 0;
    return SessionEndingAt(FHook->QueryEndSessionArrived(), FHook->QueryEndSessionTime(), now);
}

bool TKTEngine::Initialising() const {
    return FHook->Receiver().FInInited;
}

const std::string& TKTEngine::ParamFile() const {
    return FHook->Receiver().FParamFile;
}

// Pages --------------------------------------------------------------------

std::optional<std::string> TKTEngine::SalesChannel() {
    // No registry here: the product constants (or a partner's) carry the channel.
    TKTSettings& settings = GlobalSettings();
    if (!settings.GetSettingExists("App.CHL")) {
        return std::nullopt;
    }
    return settings.GetSettingString("App.CHL");
}

std::string TKTEngine::GetURLParam() {
    Platform& platform = GlobalPlatform();
    TURLSystemValues system;
    system.Now = platform.Clock ? platform.Clock->Now() : 0.0;
    const TSystemVersion version = ReadSystemVersion();
    system.VersionMajor = version.Major;
    system.VersionMinor = version.Minor;
    system.ServicePack = version.ServicePack;
    system.LanguageId = platform.SystemInfo ? platform.SystemInfo->GetSystemLanguageId() : 0;
    system.Channel = SalesChannel();
    return BuildURLParam(GlobalSettings(), system);
}

std::string TKTEngine::GetURL(std::string_view strPage, bool bAddParams) {
    return BuildPageURL(GlobalSettings(), strPage, bAddParams, GetAppDir(GlobalPlatform()),
                        [this] { return GetURLParam(); });
}

void TKTEngine::ShowPage(std::string_view strPage) {
    ShowPageByURL(GetURL(strPage, true));
}

void TKTEngine::ShowPageByURL(std::string_view strURL) {
    Platform& platform = GlobalPlatform();
    if (platform.Processes) {
        platform.Processes->OpenURL(strURL);
    }
}

void TKTEngine::WebBeforeNavigate2(QObject* /*ASender*/, const std::string& URL, bool& Cancel) {
    const std::optional<std::string> page = QvtxCommandPage(URL);
    if (!page) {
        return;
    }
    if (!page->empty()) {
        ShowPage(*page);
    }
    Cancel = true;
}

void TKTEngine::AttachBrowser(QTextBrowser* browser) {
    browser->setOpenLinks(false);
    browser->setOpenExternalLinks(false);
    connect(browser, &QTextBrowser::anchorClicked, this, [this, browser](const QUrl& url) {
        bool cancel = false;
        WebBeforeNavigate2(browser, url.toString(QUrl::FullyEncoded).toStdString(), cancel);
        if (!cancel) {
            browser->setSource(url);
        }
    });
}

// Named strings and messages ------------------------------------------------

std::string TKTEngine::GetNamedString(std::string_view section, std::string_view strName) {
    std::string value;
    if (FLanguageData != nullptr) {
        FLanguageData->Data().GetProp(section, "", strName, value);
    }
    return value;
}

std::string TKTEngine::GetLibString(std::string_view strName) {
    return GetNamedString("LibRes", strName);
}

std::string TKTEngine::GetAppString(std::string_view strName) {
    return GetNamedString("AppRes", strName);
}

std::string TKTEngine::GetLibStringEx(std::string_view strName, const std::vector<std::string>& arguments) {
    return FillPlaceholders(GetLibString(strName), arguments);
}

std::string TKTEngine::GetAppStringEx(std::string_view strName, const std::vector<std::string>& arguments) {
    return FillPlaceholders(GetAppString(strName), arguments);
}

std::string TKTEngine::GetMessageText(std::string_view strName, bool bLib) {
    return MessageTextOrKey(bLib ? GetLibString(strName) : GetAppString(strName), strName, bLib);
}

QMessageBox* TKTEngine::GetMessageDlg() {
    if (!FMessageDlg) {
        FMessageDlg = new QMessageBox(FForm);
        FMessageDlg->setObjectName(QStringLiteral("KTMessageDlg"));
        // Texts come from language files and arguments: never markup.
        FMessageDlg->setTextFormat(Qt::PlainText);
    }
    return FMessageDlg;
}

std::int32_t TKTEngine::ShowMessageEx(std::string_view key,
                                      const std::vector<std::string>& arguments,
                                      std::int32_t showAgainNumber,
                                      TMsgDlgType dialogType,
                                      TMsgDlgButtons buttons,
                                      std::int32_t defaultResult,
                                      bool bLib) {
    const std::string text = FillPlaceholders(GetMessageText(key, bLib), arguments);
    TKTSettings& settings = GlobalSettings();
    if (showAgainNumber != 0 && !settings.GetMessageShowAgainFlag(showAgainNumber)) {
        return defaultResult != 0 ? defaultResult : settings.GetMessageShowAgainResult(showAgainNumber);
    }

    QMessageBox* dlg = GetMessageDlg();
    for (QAbstractButton* old : dlg->buttons()) {
        dlg->removeButton(old);
        delete old;
    }
    dlg->setWindowTitle(QString::fromStdString(GetAppName()));
    dlg->setText(QString::fromStdString(text));
    dlg->setIcon(IconOf(dialogType));
    for (const ButtonSpec& spec : kButtons) {
        if ((buttons & (1u << spec.Button)) == 0) {
            continue;
        }
        QAbstractButton* button =
            spec.Standard != QMessageBox::NoButton
                ? dlg->addButton(spec.Standard)
                : dlg->addButton(QMessageBox::tr(spec.Caption), QMessageBox::AcceptRole);
        button->setProperty(kResultProperty, spec.Result);
    }
    if (dlg->buttons().isEmpty()) {
        dlg->addButton(QMessageBox::Ok)->setProperty(kResultProperty, mrOk);
    }
    QCheckBox* showFlag = nullptr;
    if (showAgainNumber != 0) {
        std::string caption = kShowFlagCaption.data();
        if (FSkinData != nullptr && FSkinData->ResourceStrings().HasName("MSG_CAP_SHOWFLAG")) {
            caption = FSkinData->ResourceStrings().Value("MSG_CAP_SHOWFLAG");
        }
        showFlag = new QCheckBox(QString::fromStdString(caption));
        showFlag->setChecked(false);
    }
    dlg->setCheckBox(showFlag);

    dlg->exec();
    // Closed without a button: as if cancelled.
    std::int32_t result = mrCancel;
    if (QAbstractButton* clicked = dlg->clickedButton()) {
        result = clicked->property(kResultProperty).toInt();
    }
    if (showFlag != nullptr && showFlag->isChecked()) {
        settings.SetMessageShowAgainFlag(showAgainNumber, false);
        settings.SetMessageShowAgainResult(showAgainNumber, result);
    }
    return result;
}

void TKTEngine::ShowErrorMessage(std::string_view strError, std::string_view strErrorParam, bool bLib) {
    ShowMessageEx(strError, {std::string(strErrorParam)}, 0, mtError, MsgDlgButtons({mbOK}), 0, bLib);
}

// Title ----------------------------------------------------------------------

std::string TKTEngine::GetAppName() {
    if (FLanguageData != nullptr) {
        std::string name = FLanguageData->Data().AppName();
        if (!name.empty()) {
            return name;
        }
    }
    return GlobalSettings().GetSettingString("App.Name");
}

void TKTEngine::UpdateTitle() {
    TKTSettings& settings = GlobalSettings();
    FAppTitle = BuildAppTitle(GetAppName(), FTitleIncludeVer,
                              FTitleIncludeVer ? settings.GetSettingString("App.Ver") : std::string());
    if (settings.GetSettingBool("App.NoAutoTitle")) {
        return;
    }
    const QString title = QString::fromStdString(FAppTitle);
    gApplicationTitle = title;
    if (FForm != nullptr) {
        FForm->setWindowTitle(title);
    }
    if (FOnTitleChange) {
        FOnTitleChange(*this);
    }
}

// Skins ----------------------------------------------------------------------

void TKTEngine::InitSkin() {
    if (FSkinData == nullptr) {
        return;
    }
    FDefaultSkin = FSkinData->StoredSkin();
    FDefaultSkinForm = FSkinData->SkinnableForm();
    const std::string name = GlobalSettings().GetSettingString("Skin");
    SetSkin(name.empty() ? std::string("Default") : name);
    if (FSkinMenuItem) {
        BuildSkinMenu();
    }
}

void TKTEngine::SetSkin(std::string_view name) {
    if (FSkinData == nullptr) {
        return;
    }
    const std::string wanted = name.empty() ? std::string("Default") : std::string(name);
    if (wanted == FSkin) {
        return;
    }
    TKTSettings& settings = GlobalSettings();
    const std::string folder = GetAppPath(GlobalPlatform()) + settings.GetSettingString("Path.Skins");
    // A name that would lead out of the skin folder counts as a missing file.
    const bool plain = IsPlainItemName(wanted);
    std::string file = folder + "\\" + wanted + ".skn";
    bool skinnable = true;
    if (plain && !FileExists(file)) {
        file = folder + "\\" + wanted + ".nsf.skn";
        skinnable = false;
    }
    if (!plain) {
        Log("Skin name refused: " + wanted);
    }
    bool loaded = false;
    if (plain && FileExists(file)) {
        std::string error;
        if (FSkinData->LoadFromCompressedFile(file, &error)) {
            FSkinData->SetSkinnableForm(skinnable);
            FSkin = wanted;
            loaded = true;
        } else {
            Log("Skin file refused, built-in skin used: " + file + " (" + error + ")");
        }
    }
    if (!loaded) {
        if (!FSkin.empty()) {
            FSkinData->SetStoredSkin(FDefaultSkin);
            FSkinData->SetSkinnableForm(FDefaultSkinForm);
        }
        FSkin = "Default";
    }
    if (IsWinVista64()) {
        FSkinData->SetShowButtonGlowFrames(false);
        FSkinData->SetShowCaptionButtonGlowFrames(false);
    }
    settings.SetSettingstring("Skin", FSkin);
    TickMenu(FSkinMenuItems, FSkin);
    MergeSkinStrings();
    if (!FInLoaded && FOnSkinChanged) {
        FOnSkinChanged(*this);
    }
}

void TKTEngine::LoadSkinList() {
    TStringList files;
    if (HasGlobalPlatform() && GlobalPlatform().Files) {
        GlobalPlatform().Files->ListFiles(
            GetAppPath(GlobalPlatform()) + GlobalSettings().GetSettingString("Path.Skins") + "\\*.skn", files,
            true);
    }
    FSkinList = std::make_unique<TStringList>(BuildSkinNameList(files));
}

const TStringList& TKTEngine::SkinList() {
    if (!FSkinList) {
        LoadSkinList();
    }
    return *FSkinList;
}

void TKTEngine::BuildSkinMenu() {
    if (!FSkinMenuItem || !FSkinMenuItems.empty()) {
        return;
    }
    const TStringList& names = SkinList();
    if (names.Count() <= 1) {
        FSkinMenuItem->menuAction()->setVisible(false);
        return;
    }
    for (const std::string& name : names) {
        QAction* item = FSkinMenuItem->addAction(MenuCaption(name));
        item->setCheckable(true);
        item->setData(QString::fromStdString(name));
        item->setChecked(SameTextAscii(name, FSkin));
        connect(item, &QAction::triggered, this, [this, item] { SkinMenuItemClick(item); });
        FSkinMenuItems.emplace_back(item);
    }
}

void TKTEngine::SkinMenuItemClick(QAction* item) {
    SetSkin(item->data().toString().toStdString());
    // A click ticks the item by itself; the current skin decides.
    TickMenu(FSkinMenuItems, FSkin);
}

void TKTEngine::MergeSkinStrings() {
    if (FSkinData == nullptr || FLanguageData == nullptr) {
        return;
    }
    // Starts from the skin's own strings each time, so that a language
    // switch or a new skin never keeps the texts of the language before.
    TStringList strings = FSkinData->StoredSkin().ResourceStrings;
    FLanguageData->Data().GetSectionStrings("SkinRes", strings);
    FSkinData->ResourceStrings() = strings;
}

void TKTEngine::TickMenu(const std::vector<QPointer<QAction>>& items, const std::string& current) {
    for (const QPointer<QAction>& item : items) {
        if (item) {
            item->setChecked(SameTextAscii(item->data().toString().toStdString(), current));
        }
    }
}

// Languages ------------------------------------------------------------------

void TKTEngine::InitLanguage() {
    if (FLanguageData == nullptr) {
        return;
    }
    const std::string name = GlobalSettings().GetSettingString("Language");
    SetLanguage(name.empty() ? std::string("English") : name);
    if (FLanguageMenuItem) {
        BuildLanguageMenu();
    }
}

void TKTEngine::SetLanguage(std::string_view name) {
    if (FLanguageData == nullptr) {
        return;
    }
    const std::string wanted = name.empty() ? std::string("Default") : std::string(name);
    if (wanted == FLanguage) {
        return;
    }
    TKTSettings& settings = GlobalSettings();
    const std::string file = LanguageFolderFile(wanted + ".lan");
    // A name that would lead out of the language folder counts as a missing file.
    const bool plain = IsPlainItemName(wanted);
    if (!plain) {
        Log("Language name refused: " + wanted);
    }
    bool loaded = false;
    if (plain && FileExists(file)) {
        try {
            FLanguageData->Data().LoadCurrentFromFile(file);
            FLanguage = wanted;
            loaded = true;
        } catch (const ELanguageFileError& e) {
            // Unreadable counts as missing: the built-in language takes over.
            Log(std::string("Language file refused: ") + e.what());
        }
    }
    if (!loaded) {
        if (!FLanguage.empty()) {
            FLanguageData->Data().ClearCurrentAll();
        }
        FLanguage = "English";
        LoadShippedDefaultLanguage();
    }
    settings.SetSettingstring("Language", FLanguage);
    TickMenu(FLanguageMenuItems, FLanguage);
    MergeSkinStrings();
    if (!FInLoaded && FOnLanguageChanged) {
        FOnLanguageChanged(*this);
    }
    UpdateTitle();
}

void TKTEngine::LoadShippedDefaultLanguage() {
    if (FLanguageData->Data().DefaultData().Count() != 0) {
        return;
    }
    const std::string file = LanguageFolderFile("English.lan");
    if (!FileExists(file)) {
        return;
    }
    try {
        FLanguageData->Data().LoadDefaultFromFile(file);
    } catch (const ELanguageFileError& e) {
        Log(std::string("Language file refused: ") + e.what());
    }
}

void TKTEngine::LoadLanguageList() {
    TStringList files;
    if (HasGlobalPlatform() && GlobalPlatform().Files) {
        GlobalPlatform().Files->ListFiles(LanguageFolderFile("*.lan"), files, true);
    }
    FLanguageList = std::make_unique<TStringList>(BuildLanguageNameList(files));
}

const TStringList& TKTEngine::LanguageList() {
    if (!FLanguageList) {
        LoadLanguageList();
    }
    return *FLanguageList;
}

void TKTEngine::BuildLanguageMenu() {
    if (!FLanguageMenuItem || !FLanguageMenuItems.empty()) {
        return;
    }
    const TStringList& names = LanguageList();
    if (names.Count() <= 1) {
        FLanguageMenuItem->menuAction()->setVisible(false);
        return;
    }
    for (const std::string& name : names) {
        QAction* item = FLanguageMenuItem->addAction(MenuCaption(name));
        item->setCheckable(true);
        item->setData(QString::fromStdString(name));
        item->setChecked(SameTextAscii(name, FLanguage));
        connect(item, &QAction::triggered, this, [this, item] { LanguageMenuItemClick(item); });
        FLanguageMenuItems.emplace_back(item);
    }
}

void TKTEngine::LanguageMenuItemClick(QAction* item) {
    SetLanguage(item->data().toString().toStdString());
    TickMenu(FLanguageMenuItems, FLanguage);
}

// About box and splash -------------------------------------------------------

void TKTEngine::AppAbout() {
    if (!FAboutForm) {
        if (!FAboutFactory) {
            return;
        }
        FAboutForm = FAboutFactory(FForm);
        if (!FAboutForm) {
            return;
        }
    }
    if (FAboutForm->isVisible()) {
        return;
    }
    if (FParentHWND != 0) {
        if (QWidget* parent = QWidget::find(FParentHWND)) {
            FAboutForm->setParent(parent, FAboutForm->windowFlags());
            FAboutForm->move(parent->mapToGlobal(QPoint(0, 0)));
        }
    }
    FAboutForm->exec();
}

void TKTEngine::SplashClose() {
    if (gSplash) {
        gSplash->close();
        delete gSplash.data();
    }
}

}  // namespace cloakline
