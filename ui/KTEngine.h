#pragma once

#include <QAction>
#include <QDialog>
#include <QMenu>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/framework/EngineLayers.h"
#include "core/support/StringList.h"
#include "net/SingleDownloader.h"
#include "platform/api/InstanceChannel.h"
#include "platform/api/SystemVersion.h"
#include "ui/KTForm.h"
#include "ui/KTInstanceHook.h"
#include "ui/KTSkinFile.h"

class QTextBrowser;
class QUrl;

namespace cloakline {

class TKTSkinData;
class QtKTMultiLangData;

// Message dialog types, buttons and modal results as the callers number them.
enum TMsgDlgType : std::int32_t {
    mtWarning = 0,
    mtError = 1,
    mtInformation = 2,
    mtConfirmation = 3,
    mtCustom = 4
};
enum TMsgDlgBtn : std::int32_t {
    mbYes = 0,
    mbNo = 1,
    mbOK = 2,
    mbCancel = 3,
    mbAbort = 4,
    mbRetry = 5,
    mbIgnore = 6,
    mbAll = 7,
    mbNoToAll = 8,
    mbYesToAll = 9,
    mbHelp = 10,
    mbClose = 11,
};
// Bit n for button n.
using TMsgDlgButtons = std::uint16_t;
constexpr TMsgDlgButtons MsgDlgButtons(std::initializer_list<TMsgDlgBtn> buttons) {
    TMsgDlgButtons set = 0;
    for (TMsgDlgBtn b : buttons) {
        set = static_cast<TMsgDlgButtons>(set | (1u << b));
    }
    return set;
}
inline constexpr std::int32_t mrNone = 0;
inline constexpr std::int32_t mrOk = 1;
inline constexpr std::int32_t mrCancel = 2;
inline constexpr std::int32_t mrAbort = 3;
inline constexpr std::int32_t mrRetry = 4;
inline constexpr std::int32_t mrIgnore = 5;
inline constexpr std::int32_t mrYes = 6;
inline constexpr std::int32_t mrNo = 7;
inline constexpr std::int32_t mrAll = 8;
inline constexpr std::int32_t mrNoToAll = 9;
inline constexpr std::int32_t mrYesToAll = 10;
inline constexpr std::int32_t mrClose = 11;

// The skinned window of the main form: its tray icon.
class ISkinForm {
  public:
    virtual ~ISkinForm() = default;
    virtual bool HasTrayIcon() const = 0;
    virtual void RestoreFromTray() = 0;
};

// The application engine: page addresses, named strings and message boxes,
// skins and languages, the title, the setting lists around the settings
// store, and the receiving side of the messages between instances. One per
// program, owned by the main window. Main thread only.
class TKTEngine : public QObject, public IEngineLayers, public IFormEngine {
    Q_OBJECT

  public:
    using TOnCmdFile = std::function<void(const std::string& strFileName)>;
    using TNotifyEvent = std::function<void(TKTEngine& sender)>;
    // Creates the about box when it is first asked for.
    using TAboutFactory = std::function<QDialog*(QWidget* owner)>;

    // AOwner is the main window. With a channel, other instances of the
    // installation can reach the window.
    explicit TKTEngine(QWidget* AOwner, IInstanceChannel* channel = nullptr);
    ~TKTEngine() override;
    TKTEngine(const TKTEngine&) = delete;
    TKTEngine& operator=(const TKTEngine&) = delete;

    // The owner has set the published properties: skin and language are
    // applied without events, and the deferred initialisation is posted.
    void Loaded();
    // The deferred initialisation, run from the message loop.
    void InitPost();
    // Takes a first parameter that is not a switch as the file to open.
    void CheckCmdLineFile();
    void CheckCmdLineFile(const std::vector<std::string>& arguments);

    // Published properties.
    TKTSkinData* GetSkinData() const { return FSkinData; }
    void SetSkinData(TKTSkinData* value) { FSkinData = value; }
    ISkinForm* SkinForm() const { return FSkinForm; }
    void SetSkinForm(ISkinForm* value) { FSkinForm = value; }
    QMenu* SkinMenuItem() const { return FSkinMenuItem; }
    void SetSkinMenuItem(QMenu* value) { FSkinMenuItem = value; }
    void SetOnSkinChanged(TNotifyEvent handler) { FOnSkinChanged = std::move(handler); }
    QtKTMultiLangData* LanguageData() const override { return FLanguageData; }
    void SetLanguageData(QtKTMultiLangData* value) { FLanguageData = value; }
    QMenu* LanguageMenuItem() const { return FLanguageMenuItem; }
    void SetLanguageMenuItem(QMenu* value) { FLanguageMenuItem = value; }
    void SetOnLanguageChanged(TNotifyEvent handler) { FOnLanguageChanged = std::move(handler); }
    const TStringList& SettingOverwrite() const override { return FSettingOverwrite; }
    void SetSettingOverwrite(const TStringList& lines) { FSettingOverwrite.Assign(lines); }
    const TStringList& SettingDefault() const override { return FSettingDefault; }
    void SetSettingDefault(const TStringList& lines) { FSettingDefault.Assign(lines); }
    WId ParentHWND() const { return FParentHWND; }
    void SetParentHWND(WId value) { FParentHWND = value; }
    void SetOnCmdFile(TOnCmdFile handler);
    void SetOnTitleChange(TNotifyEvent handler) { FOnTitleChange = std::move(handler); }
    bool TitleIncludeVer() const { return FTitleIncludeVer; }
    void SetTitleIncludeVer(bool value);

    // Public properties.
    bool Debug() const { return FDebug; }
    std::string AppName() { return GetAppName(); }
    const TStringList& SkinList();
    const std::string& Skin() const { return FSkin; }
    void SetSkin(std::string_view name);
    const TStringList& LanguageList();
    const std::string& Language() const { return FLanguage; }
    void SetLanguage(std::string_view name);
    const std::string& LanguageTranslator() const { return FLanguageTranslator; }
    const std::string& AppTitle() const { return FAppTitle; }
    // An end-session request arrived less than five minutes ago.
    bool SessionEnding() const;
    // True until the deferred initialisation has finished.
    bool Initialising() const;
    const std::string& ParamFile() const;

    // Page addresses.
    std::string GetURL(std::string_view strPage, bool bAddParams);
    std::string GetURLParam();
    void ShowPage(std::string_view strPage);
    void ShowPageByURL(std::string_view strURL);
    // The before-navigation handler of embedded pages: "qvtx:" commands are
    // carried out here and never navigated to.
    void WebBeforeNavigate2(QObject* ASender, const std::string& URL, bool& Cancel);
    // Sends the browser's link clicks through WebBeforeNavigate2.
    void AttachBrowser(QTextBrowser* browser);

    // Named strings of the sections "LibRes" and "AppRes".
    std::string GetLibString(std::string_view strName);
    std::string GetAppString(std::string_view strName);
    std::string GetLibStringEx(std::string_view strName, const std::vector<std::string>& arguments);
    std::string GetAppStringEx(std::string_view strName, const std::vector<std::string>& arguments);
    std::string GetMessageText(std::string_view strName, bool bLib);

    // A message box with the text of key; a show-again number other than 0
    // offers "do not show again" and, once ticked, returns at once from then on.
    std::int32_t ShowMessageEx(std::string_view key,
                               const std::vector<std::string>& arguments,
                               std::int32_t showAgainNumber,
                               TMsgDlgType dialogType,
                               TMsgDlgButtons buttons,
                               std::int32_t defaultResult,
                               bool bLib);
    void ShowErrorMessage(std::string_view strError, std::string_view strErrorParam, bool bLib);
    // The dialog ShowMessageEx shows, created on first use.
    QMessageBox* GetMessageDlg();

    std::string GetAppName();
    void UpdateTitle();

    // What the update checks download with; without a dispatcher there is
    // no check at all.
    void SetDownloaderContext(TDownloaderContext context) { FDownloaderContext = std::move(context); }
    const TDownloaderContext& DownloaderContext() const { return FDownloaderContext; }
    // The user's check; with bWait it returns once the dialog has closed.
    void AppUpdate(bool bWait);
    // The scheduled check: hidden, reporting a new version only where asked to.
    void AppUpdateAuto();
    // True once any answer of the server was ever accepted; otherwise asks now,
    // in a modal compact view, and tells whether that answer was accepted.
    bool AppWaitFirstUpdate();

    void SetAboutFactory(TAboutFactory factory) { FAboutFactory = std::move(factory); }
    void AppAbout();
    void SplashClose();

    TKTInstanceHook* InstanceHook() const { return FHook; }
    QWidget* Form() const { return FForm; }

    // IFormEngine
    QObject* SkinData() const override;
    QWidget* MainForm() const override { return FForm; }

  private:
    void InitSkin();
    void InitLanguage();
    // The shipped English texts answer whatever the chosen language lacks.
    void LoadShippedDefaultLanguage();
    void LoadSkinList();
    void LoadLanguageList();
    void BuildSkinMenu();
    void BuildLanguageMenu();
    void SkinMenuItemClick(QAction* item);
    void LanguageMenuItemClick(QAction* item);
    void TickMenu(const std::vector<QPointer<QAction>>& items, const std::string& current);
    // The language's "SkinRes" strings beside the skin's own.
    void MergeSkinStrings();
    std::string GetNamedString(std::string_view section, std::string_view strName);
    std::optional<std::string> SalesChannel();

    QWidget* FForm;
    QPointer<TKTInstanceHook> FHook;
    bool FDebug = false;
    TStringList FSettingOverwrite;
    TStringList FSettingDefault;
    WId FParentHWND = 0;
    bool FInLoaded = false;
    TOnCmdFile FOnCmdFile;
    TNotifyEvent FOnTitleChange;
    std::string FAppTitle;
    bool FTitleIncludeVer = true;
    std::string FSkin;
    TKTSkinData* FSkinData = nullptr;
    ISkinForm* FSkinForm = nullptr;
    std::unique_ptr<TStringList> FSkinList;
    TSkinBundle FDefaultSkin;
    bool FDefaultSkinForm = true;
    QPointer<QMenu> FSkinMenuItem;
    std::vector<QPointer<QAction>> FSkinMenuItems;
    TNotifyEvent FOnSkinChanged;
    std::string FLanguage;
    std::string FLanguageTranslator;
    QtKTMultiLangData* FLanguageData = nullptr;
    std::unique_ptr<TStringList> FLanguageList;
    QPointer<QMenu> FLanguageMenuItem;
    std::vector<QPointer<QAction>> FLanguageMenuItems;
    TNotifyEvent FOnLanguageChanged;
    QPointer<QMessageBox> FMessageDlg;
    TAboutFactory FAboutFactory;
    QPointer<QDialog> FAboutForm;
    TDownloaderContext FDownloaderContext;
};

// The process-wide engine, or nullptr while no main window has one.
TKTEngine* GlobalEngine();

// The application's title as the engine last set it, the caption of plain
// message boxes; the program's name until then. Qt's display name is not
// used for it: Qt would append that to every window's caption.
QString ApplicationTitle();

// The splash window of the start, which SplashClose closes.
void SetSplashWindow(QWidget* splash);
QWidget* SplashWindow();

}  // namespace cloakline
