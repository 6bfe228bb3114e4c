#pragma once

#include <QMainWindow>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "app/FlagPictureList.h"
#include "app/GuardLink.h"
#include "app/HiddenBrowsersView.h"
#include "app/HideController.h"
#include "app/KTMain.h"
#include "app/SettingsJournal.h"
#include "app/SettingsKeeper.h"
#include "app/uFlashForm.h"
#include "ui/KTEngine.h"

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QSystemTrayIcon;
class QTimer;
class QToolButton;

namespace cloakline {

class TKTSkinData;
class TSingleDownloader;
class TfrmTesting;
class QtKTMultiLang;
class QtKTMultiLangData;

// What the main window does beyond itself, replaceable for the program's checks.
struct TMainFormHooks {
    // How the status panel creates its player.
    TFlashFormHooks Panel;
    // The draws of the proxy choice; the window's own clock-seeded ones when null.
    IProxyRandom* Random = nullptr;
    // Ends the message loop; the window has already closed.
    std::function<void()> Quit;
};

// Commands of the skinned window's caption.
enum class TSkinFormCommand { Close, Maximize, RollUp, Minimize, Other };

// The program's main window: the status panel, Hide/Stop, the fake location
// and its flag, the options link, the tray icon and its menu. It owns the
// engine, the language data, the proxy manager and the status panel.
class TfrmMain : public QMainWindow, public ISkinForm, public IMainForm {
    Q_OBJECT

  public:
    explicit TfrmMain(const TAppContext& context, QWidget* parent = nullptr, TMainFormHooks hooks = {});
    ~TfrmMain() override;

    TKTEngine* Engine() const { return FEngine; }
    TProxyManager* ProxyManager() const { return FProxyManager.get(); }
    IUpstreamGateway* Gateway() const { return FGateway.get(); }
    THideController& Hider() { return *FHider; }
    THiddenBrowsersView* BrowsersView() const { return FBrowsersView; }
    const TFlagPictureList& FlagList() const { return imglstFlag; }
    bool LocalInfoGot() const { return FHider->LocalInfoGot(); }
    // True once the window has been told to end the program.
    bool Ending() const { return FEnding; }
    // The tray icon is shown in a system tray; without one, closing minimises.
    bool TrayShown() const { return FTrayShown; }
    // Shows or takes away the tray icon as a system tray comes or goes.
    void WatchTray();

    void tmrInitTimer();
    void LocalInfoArrived();
    void ResetCountryDisp();
    void LoadFlag(std::string_view aCountryName);
    void LoadPNG(const std::string& aFileName);
    void LoadFlagPNGList();
    std::int32_t GetImageIndex(std::string_view CN) const { return imglstFlag.GetImageIndex(CN); }
    // bCancel keeps the window from carrying the command out.
    void spDynamicSkinFormObjectCommand(TSkinFormCommand Command, bool& bCancel);

    void actChooseIPCountryExecute();
    void actSettingsExecute();
    void actCheckIPInfoExecute();
    void actHomePageExecute();
    void actHelpCenterExecute();
    void actUpdateExecute();
    void actAboutExecute();
    void actAlwaysOnTopExecute();
    void actOpenExecute();
    void actExitExecute();

    // ISkinForm
    bool HasTrayIcon() const override;
    void RestoreFromTray() override;

    // IMainForm
    void ShowAtStart(bool startHidden) override;
    void EndProgram() override;

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void CreateComponents();
    void ArrangeControls();
    void WatchFrame();
    void FormCreate();
    void FormDestroy();
    void PlaceFlashForm(QWidget* aContainer);
    void ClearAllWindow();
    void CheckLocalIP();
    void SetAOT();
    void TestIPfromLocal();
    void sdFlagDoneFile(const std::string& strFileName);
    void SetHidingAction(bool hiding);
    void MinimizeToTray();
    void ApplyTray(bool available);
    // Minimises the window once the window system has mapped it (or gives up waiting).
    void MinimizeOnceMapped(int triesLeft);
    QAction* Action(const char* name) const;

    const TAppContext& FContext;
    TMainFormHooks FHooks;
    std::uint32_t FTextColor = 0;
    bool FEnding = false;
    bool FPlaced = false;
    bool FTrayShown = false;
    // "MainForm.Width" and "MainForm.Height"; 0 or less leaves the design's size.
    int FStoredWidth = 0;
    int FStoredHeight = 0;
    std::unique_ptr<IProxyRandom> FOwnRandom;
    std::unique_ptr<TProxyManager> FProxyManager;
    // Created before the hide controller and freed after it.
    std::unique_ptr<IUpstreamGateway> FGateway;
    // Made before the hide controller, whose Stop at the end releases it.
    std::unique_ptr<TGuardLink> FGuard;
    std::unique_ptr<TSettingsJournal> FJournal;
    std::unique_ptr<THideController> FHider;
    // Keeps the desktop on the proxy while hiding; freed before the hide controller.
    std::unique_ptr<TSettingsKeeper> FKeeper;
    // Below the controls while hiding; a child of the window.
    THiddenBrowsersView* FBrowsersView = nullptr;
    std::unique_ptr<TSingleDownloader> sdFlag;
    TFlagPictureList imglstFlag;
    QPointer<TfrmTesting> FTesting;

    TKTSkinData* FSkinData;
    QtKTMultiLangData* FLanguageData;
    TKTEngine* FEngine = nullptr;
    QtKTMultiLang* KTMultiLang1;
    QWidget* pnlFlash;
    QToolButton* btnHide;
    QPushButton* btnChooseIP;
    QLabel* imgFL;
    QLabel* lblOptions;
    QTimer* tmrInit;
    QTimer* tmrChangeIP;
    QTimer* tmrTouch;
    // Looks for a system tray that comes or goes while the program runs.
    QTimer* tmrTrayWatch;
    QAction* Shroud1;
    QMenu* pmSys;
    QMenu* pmTray;
    QSystemTrayIcon* spTrayIcon;
};

}  // namespace cloakline
