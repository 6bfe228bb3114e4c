#include "app/uMain.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

#include "app/uChooseIPCountry.h"
#include "app/uIPsTesting.h"
#include "app/uSettings.h"
#include "core/proxy/HideRules.h"
#include "core/proxy/SHRUtils.h"
#include "core/support/PathUtils.h"
#include "core/support/ShellUtils.h"
#include "journal/RestoreJournal.h"
#include "net/SingleDownloader.h"
#include "ui/FitToText.h"
#include "ui/KTAboutForm.h"
#include "ui/KTForm.h"
#include "ui/KTFormRegistry.h"
#include "ui/KTSkinData.h"
#include "ui/QtMultiLang.h"
#include "ui/QtPaths.h"
#include "ui/WindowUtils.h"

namespace cloakline {

namespace {

struct TActionText {
    const char* Name;
    const char* Caption;
};

// The window's actions with their built-in captions.
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

constexpr int kClientWidth = 474;
constexpr int kClientHeight = 236;
constexpr int kFlagSize = 48;
constexpr const char* kRefusedCountryText = "This product is unavailable in this country.";
// How often the window looks for a system tray that came or went.
constexpr int kTrayWatchMs = 1500;
// How long a window started minimised waits to be mapped first.
constexpr int kMapWaitStepMs = 50;
constexpr int kMapWaitTries = 60;
// The show-again numbers of the two close notices.
constexpr std::int32_t kCloseNotifyNumber = 1;
constexpr std::int32_t kCloseNotifyNoTrayNumber = 7;

QString Q(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TfrmMain::TfrmMain(const TAppContext& context, QWidget* parent, TMainFormHooks hooks)
    : QMainWindow(parent), FContext(context), FHooks(std::move(hooks)) {
    if (!FHooks.Quit) {
        // Queued: whatever handler asked for the end runs to its end first.
        FHooks.Quit = [] { QMetaObject::invokeMethod(qApp, &QCoreApplication::quit, Qt::QueuedConnection); };
    }
    CreateComponents();

    FLanguageData = new QtKTMultiLangData(*context.System.Files, UserSectionCollation(), this);
    KTMultiLang1 = new QtKTMultiLang(*this);
    KTMultiLang1->SetLanguageData(FLanguageData);
    // The Hide button and its tray item show the carried action's caption,
    // whatever the language file says for them.
    connect(KTMultiLang1, &QtKTMultiLang::OnChangeLanguage, this, [this] {
        SetHidingAction(FHider != nullptr && FHider->IsHiding());
        if (FHider != nullptr) {
            FHider->LanguageChanged();
        }
        if (FBrowsersView != nullptr) {
            FBrowsersView->Refresh();
        }
        ArrangeControls();
        // A form section may caption the window; the engine's title stands.
        FEngine->UpdateTitle();
    });
    FEngine = new TKTEngine(this, &context.Instances);
    FEngine->SetSkinData(FSkinData);
    FEngine->SetSkinForm(this);
    FEngine->SetLanguageData(FLanguageData);
    FEngine->SetSettingOverwrite(TStringList{});
    FEngine->SetSettingDefault(TStringList{"Path.Skins=skins", "Path.Languages=lang"});
    FEngine->SetParentHWND(0);
    FEngine->SetTitleIncludeVer(true);
    FEngine->SetDownloaderContext(context.Downloader);
    FEngine->SetAboutFactory(CreateKTAboutForm);
    FEngine->Loaded();
    NotifyFormLoaded(*this);
    FormCreate();
}

TfrmMain::~TfrmMain() {
    FormDestroy();
}

QAction* TfrmMain::Action(const char* name) const {
    return findChild<QAction*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly);
}

void TfrmMain::CreateComponents() {
    setObjectName(QStringLiteral("frmMain"));
    const std::string name = FContext.Settings.GetSettingString("App.Name");
    setWindowTitle(Q(name.empty() ? std::string("Cloakline") : name));
    // System menu and minimise only: maximising makes no sense for a fixed layout.
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont tahoma(QStringLiteral("Tahoma"));
    tahoma.setPointSize(8);
    setFont(tahoma);

    FSkinData = new TKTSkinData(this);
    for (const TActionText& text : kActions) {
        auto* action = new QAction(QString::fromUtf8(text.Caption), this);
        action->setObjectName(QString::fromUtf8(text.Name));
    }
    Action("actShroud")->setToolTip(QStringLiteral("Hide IP"));
    Action("actAlwaysOnTop")->setCheckable(true);

    auto* body = new QWidget(this);
    body->setObjectName(QStringLiteral("pnlClient"));
    body->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(body);

    pnlFlash = new QWidget(body);
    pnlFlash->setObjectName(QStringLiteral("pnlFlash"));
    pnlFlash->setGeometry(0, 0, kClientWidth, 180);

    btnHide = new QToolButton(body);
    btnHide->setObjectName(QStringLiteral("btnHide"));
    btnHide->setGeometry(8, 186, 124, 39);
    btnHide->setToolButtonStyle(Qt::ToolButtonTextOnly);

    btnChooseIP = new QPushButton(QStringLiteral("Select &Fake Location"), body);
    btnChooseIP->setObjectName(QStringLiteral("btnChooseIP"));
    btnChooseIP->setGeometry(138, 186, 124, 39);

    imgFL = new QLabel(body);
    imgFL->setObjectName(QStringLiteral("imgFL"));
    imgFL->setGeometry(270, 181, kFlagSize, kFlagSize);
    imgFL->setCursor(Qt::PointingHandCursor);
    imgFL->setToolTip(QStringLiteral("Flag of fake location"));
    imgFL->setAttribute(Qt::WA_TranslucentBackground);
    imgFL->installEventFilter(this);

    // A link by its look; its caption stays plain text for the translators.
    lblOptions = new QLabel(QStringLiteral("Options"), body);
    lblOptions->setObjectName(QStringLiteral("lblOptions"));
    lblOptions->move(414, 211);
    QFont link = lblOptions->font();
    link.setUnderline(true);
    lblOptions->setFont(link);
    lblOptions->setForegroundRole(QPalette::Link);
    lblOptions->setCursor(Qt::PointingHandCursor);
    lblOptions->adjustSize();
    lblOptions->installEventFilter(this);

    tmrInit = new QTimer(this);
    tmrInit->setObjectName(QStringLiteral("tmrInit"));
    tmrInit->setInterval(1000);
    tmrChangeIP = new QTimer(this);
    tmrChangeIP->setObjectName(QStringLiteral("tmrChangeIP"));
    tmrChangeIP->setInterval(10000);
    tmrTouch = new QTimer(this);
    tmrTouch->setObjectName(QStringLiteral("tmrTouch"));
    tmrTouch->setInterval(300000);
    tmrTrayWatch = new QTimer(this);
    tmrTrayWatch->setObjectName(QStringLiteral("tmrTrayWatch"));
    tmrTrayWatch->setInterval(kTrayWatchMs);

    Shroud1 = new QAction(this);
    Shroud1->setObjectName(QStringLiteral("Shroud1"));

    // Items by name; "-" is a separator.
    auto menu = [this](const char* menuName, std::initializer_list<const char*> items) {
        auto* built = new QMenu(this);
        built->setObjectName(QString::fromLatin1(menuName));
        for (const char* item : items) {
            if (std::string_view(item) == "-") {
                built->addSeparator();
            } else {
                built->addAction(findChild<QAction*>(QString::fromLatin1(item), Qt::FindDirectChildrenOnly));
            }
        }
        return built;
    };
    pmSys = menu("pmSys", {"actAlwaysOnTop", "-", "actSettings", "actUpdate", "-", "actHomePage",
                           "actHelpCenter", "actAbout"});
    pmTray = menu("pmTray", {"actOpen", "Shroud1", "actCheckIPInfo", "actChooseIPCountry", "-", "actSettings",
                             "actUpdate", "-", "actHomePage", "actHelpCenter", "actAbout", "actExit"});

    spTrayIcon = new QSystemTrayIcon(this);
    spTrayIcon->setObjectName(QStringLiteral("spTrayIcon"));
    spTrayIcon->setToolTip(QStringLiteral("Cloakline"));
    spTrayIcon->setContextMenu(pmTray);
    spTrayIcon->setIcon(style()->standardIcon(QStyle::SP_ComputerIcon));

    // The caption's system menu of the skinned frame.
    setContextMenuPolicy(Qt::CustomContextMenu);
    connect(this, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { pmSys->popup(mapToGlobal(at)); });

    connect(Action("actChooseIPCountry"), &QAction::triggered, this, [this] { actChooseIPCountryExecute(); });
    connect(Action("actSettings"), &QAction::triggered, this, [this] { actSettingsExecute(); });
    connect(Action("actCheckIPInfo"), &QAction::triggered, this, [this] { actCheckIPInfoExecute(); });
    connect(Action("actHomePage"), &QAction::triggered, this, [this] { actHomePageExecute(); });
    connect(Action("actHelpCenter"), &QAction::triggered, this, [this] { actHelpCenterExecute(); });
    connect(Action("actUpdate"), &QAction::triggered, this, [this] { actUpdateExecute(); });
    connect(Action("actAbout"), &QAction::triggered, this, [this] { actAboutExecute(); });
    connect(Action("actAlwaysOnTop"), &QAction::triggered, this, [this] { actAlwaysOnTopExecute(); });
    connect(Action("actOpen"), &QAction::triggered, this, [this] { actOpenExecute(); });
    connect(Action("actExit"), &QAction::triggered, this, [this] { actExitExecute(); });
    connect(Action("actShroud"), &QAction::triggered, this, [this] { FHider->actShroudExecute(); });
    connect(Action("actStopHide"), &QAction::triggered, this, [this] { FHider->actStopHideExecute(); });
    connect(Shroud1, &QAction::triggered, this, [this] { btnHide->defaultAction()->trigger(); });
    connect(btnChooseIP, &QPushButton::clicked, Action("actChooseIPCountry"), &QAction::trigger);
    connect(spTrayIcon, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::DoubleClick) {
            actOpenExecute();
        }
    });
    connect(tmrInit, &QTimer::timeout, this, [this] { tmrInitTimer(); });
    connect(tmrChangeIP, &QTimer::timeout, this, [this] { FHider->tmrChangeIPTimer(); });
    connect(tmrTouch, &QTimer::timeout, this, [this] { FHider->tmrTouchTimer(); });
    connect(tmrTrayWatch, &QTimer::timeout, this, [this] { WatchTray(); });
    SetHidingAction(false);
}

void TfrmMain::FormCreate() {
    Platform& system = FContext.System;
    TKTSettings& settings = FContext.Settings;
    const std::string icon = CombinePath(GetAppPath(system), "res\\icon.ico");
    if (system.Files->FileExists(icon)) {
        const QIcon picture(NativePathFromProgramPath(icon));
        if (!picture.isNull()) {
            spTrayIcon->setIcon(picture);
        }
    }
    ApplyTray(QSystemTrayIcon::isSystemTrayAvailable());
    tmrTrayWatch->start();

    FTextColor = StartTextColor(settings.GetSettingString("App.Name"));

    IProxyRandom* random = FHooks.Random;
    if (random == nullptr) {
        FOwnRandom = std::make_unique<TClockSeededRandom>(*system.Clock);
        random = FOwnRandom.get();
    }
    FProxyManager = std::make_unique<TProxyManager>(settings, FContext.InfoFetcher, *random);
    FProxyManager->SetOnGetCurrentLocalInfo([this](TProxyManager&) { LocalInfoArrived(); });
    if (FContext.Gateway) {
        // The gateway's I/O thread must never wait for the main thread.
        const std::weak_ptr<IMainThreadDispatcher> dispatcher = FContext.Downloader.Dispatcher;
        FGateway = FContext.Gateway([dispatcher](std::function<void()> task) {
            if (const auto target = dispatcher.lock()) {
                target->Post(std::move(task));
            }
        });
    }
    const std::string journalPath = settings.UserDataFolder() + std::string(kRestoreJournalName);
    FJournal = std::make_unique<TSettingsJournal>(system, journalPath);
    FGuard = std::make_unique<TGuardLink>(system.GuardLauncher.get(), GetGuardProgram(system), journalPath);
    const auto hidingChanged = [this](bool hiding) {
        SetHidingAction(hiding);
        if (FKeeper) {
            FKeeper->HidingChanged(hiding);
        }
        if (FBrowsersView != nullptr) {
            FBrowsersView->Refresh();
        }
    };
    FHider = std::make_unique<THideController>(THideParts{*system.Clock, TSwitchServices{settings, system},
                                                          *FProxyManager, *tmrChangeIP, *tmrTouch,
                                                          hidingChanged, FGateway.get(), FJournal.get()});
    FKeeper = std::make_unique<TSettingsKeeper>(
        TSettingsKeeperParts{TSwitchServices{settings, system}, [this] { return FHider->BrowsersProxy(); }});
    FBrowsersView = new THiddenBrowsersView(
        *centralWidget(),
        {system, *FHider, *FProxyManager, FGateway.get(), *spTrayIcon, [this] { ArrangeControls(); }});

    sdFlag = std::make_unique<TSingleDownloader>(FContext.Downloader);
    sdFlag->AcceptTypes = "*/*";
    sdFlag->BinaryData = true;
    sdFlag->UseCache = false;
    sdFlag->WaitThread = false;
    sdFlag->OnDoneFile = [this](TSingleDownloader&, const std::string& strFileName, std::int32_t) {
        sdFlagDoneFile(strFileName);
    };

    PlaceFlashForm(pnlFlash);
    FHider->actStopHideExecute();
    FHider->SetLocalInfoGot(false);
    FProxyManager->GetCurrentLocalInfo();
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetTextInfo(FEngine->GetAppString("FLSMsg.Verifing"), static_cast<std::int32_t>(FTextColor));
    }

    const TSwitchServices switches{settings, system};
    if (IsFirefoxInstalled(switches) && !settings.GetSettingBool("FFEXT.INSTALLED")) {
        InstallFirefoxExtension(switches);
        // Marked done even when Firefox could not be started: the options can reinstall it.
        settings.SetSettingBool("FFEXT.INSTALLED", true);
        if (IsFirefoxRunning(switches)) {
            FEngine->ShowMessageEx("MSGBox.FFRestart", {}, 0, mtInformation, MsgDlgButtons({mbOK}), 0, false);
        }
    }
    SetAOT();
    FHider->ResetChangeIPTime();
    FHider->MarkActionTime();
    LoadFlagPNGList();

    FStoredWidth = settings.GetSettingInteger("MainForm.Width");
    FStoredHeight = settings.GetSettingInteger("MainForm.Height");
    ArrangeControls();
    tmrInit->start();
}

void TfrmMain::FormDestroy() {
    tmrInit->stop();
    tmrTrayWatch->stop();
    if (FHider) {
        FHider->StopAtEnd();
    }
    ClearAllWindow();
    sdFlag.reset();
    FKeeper.reset();
    delete FBrowsersView;
    FBrowsersView = nullptr;
    FHider.reset();
    FJournal.reset();
    FGateway.reset();
    FProxyManager.reset();
    if (FEngine != nullptr) {
        FEngine->SetSkinForm(nullptr);
    }
}

void TfrmMain::PlaceFlashForm(QWidget* aContainer) {
    auto* panel = new TfrmFlashForm(this, FHooks.Panel, FContext.Downloader);
    SetGlobalFlashForm(panel);
    panel->setWindowFlags(Qt::Widget);
    panel->setParent(aContainer);
    panel->setGeometry(aContainer->rect());
    panel->show();
}

void TfrmMain::ClearAllWindow() {
    TfrmFlashForm* panel = GlobalFlashForm();
    if (panel == nullptr) {
        return;
    }
    panel->setParent(nullptr);
    SetGlobalFlashForm(nullptr);
    delete panel;
}

// The bottom row keeps its design where the texts fit; a longer text (a
// translation) widens its button or label and moves what follows, and the
// window grows when the row no longer fits it.
void TfrmMain::ArrangeControls() {
    const int buttonWidth = 124;
    // Wide enough for Hide and for Stop, so that it does not change with them.
    const int hideWidth = std::max({buttonWidth, WidthForText(*btnHide, Action("actShroud")->iconText()),
                                    WidthForText(*btnHide, Action("actStopHide")->iconText())});
    btnHide->setGeometry(8, 186, hideWidth, 39);
    btnChooseIP->setGeometry(btnHide->geometry().right() + 7, 186, FittedWidth(*btnChooseIP, buttonWidth),
                             39);
    imgFL->move(std::max(270, btnChooseIP->geometry().right() + 9), 181);
    lblOptions->adjustSize();
    const int optionsLeft = imgFL->geometry().right() + 9;
    const int contentWidth = std::max(kClientWidth, optionsLeft + lblOptions->width() + 8);
    // A stored size is the whole window's, frame included.
    const QSize frame = frameGeometry().size() - size();
    const int width = FStoredWidth > 0 ? FStoredWidth - frame.width() : contentWidth;
    const int listHeight = FBrowsersView != nullptr ? FBrowsersView->Height() : 0;
    const int height = (FStoredHeight > 0 ? FStoredHeight - frame.height() : kClientHeight) + listHeight;
    if (listHeight > 0) {
        FBrowsersView->List().move(FBrowsersView->List().x(), height - listHeight);
    }
    lblOptions->move(std::max(optionsLeft, std::min(414, width - 8 - lblOptions->width())), 211);
    pnlFlash->setGeometry(0, 0, std::max(width, kClientWidth), pnlFlash->height());
    if (centralWidget()->size() != QSize(width, height)) {
        centralWidget()->setFixedSize(width, height);
        setMinimumSize(0, 0);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        adjustSize();
        setFixedSize(size());
    }
}

void TfrmMain::SetHidingAction(bool hiding) {
    QAction* carried = Action(hiding ? "actStopHide" : "actShroud");
    // The button keeps every action it was given; a second one would make it a
    // menu button with an arrow and a press-and-hold menu.
    if (QAction* previous = btnHide->defaultAction(); previous != nullptr && previous != carried) {
        btnHide->removeAction(previous);
    }
    btnHide->setDefaultAction(carried);
    Shroud1->setText(carried->text());
    if (FGuard) {
        FGuard->FollowHider(FHider.get(), FContext.Settings);
    }
}

void TfrmMain::tmrInitTimer() {
    if (FProxyManager && FProxyManager->LoadSettings()) {
        tmrInit->stop();
        ResetCountryDisp();
        if (FContext.Settings.GetSettingBool("TestIPfromLocal")) {
            TestIPfromLocal();
        }
    }
}

void TfrmMain::TestIPfromLocal() {
    auto* dialog = new TfrmTesting(*FContext.System.Clock, FHider->LocalInfoGot(), this);
    FTesting = dialog;
    dialog->exec();
    delete dialog;
}

void TfrmMain::ResetCountryDisp() {
    LoadFlag(FProxyManager->TargetCountry());
}

void TfrmMain::LoadFlag(std::string_view aCountryName) {
    TKTSettings& settings = FContext.Settings;
    const IFileSystem& files = *FContext.System.Files;
    const TSmallFlagSource source = SmallFlagSource(
        GetAppPath(FContext.System), settings.UserDataPath(), settings.GetSettingString("URL.FlagPath"),
        aCountryName, [&files](const std::string& path) { return files.FileExists(path); });
    if (source.Kind == TSmallFlagSource::TKind::File) {
        LoadPNG(source.Path);
    } else if (source.Kind == TSmallFlagSource::TKind::Download) {
        sdFlag->FileName = source.Path;
        sdFlag->URL = source.URL;
        sdFlag->GetFile();
    }
}

void TfrmMain::sdFlagDoneFile(const std::string& strFileName) {
    if (FContext.System.Files->FileExists(strFileName)) {
        LoadPNG(strFileName);
    }
}

void TfrmMain::LoadPNG(const std::string& aFileName) {
    QPixmap picture;
    if (!picture.load(NativePathFromProgramPath(aFileName), "PNG")) {
        return;
    }
    QPixmap canvas = imgFL->pixmap().isNull() ? QPixmap(kFlagSize, kFlagSize) : imgFL->pixmap();
    canvas.fill(Qt::transparent);
    QPainter painter(&canvas);
    painter.drawPixmap(0, 0, picture);
    painter.end();
    imgFL->setPixmap(canvas);
}

void TfrmMain::LoadFlagPNGList() {
    imglstFlag.LoadFlagPNGList(
        FContext.System,
        CombinePath(GetAppPath(FContext.System), FContext.Settings.GetSettingString("URL.LocalFlagPath")));
}

void TfrmMain::LocalInfoArrived() {
    CheckLocalIP();
    const std::string country = FProxyManager->LocalInfoValue("COUNTRY_SHORT");
    TKTSettings& settings = FContext.Settings;
    const IFileSystem& files = *FContext.System.Files;
    const std::string flag =
        LocalFlagReference(GetAppPath(FContext.System), settings.GetSettingString("URL.LocalFlagPath"),
                           settings.GetSettingString("URL.FlagPath"), country,
                           [&files](const std::string& path) { return files.FileExists(path); });
    const std::string ip = FProxyManager->LocalInfoValue("IP");
    const std::string name = FProxyManager->LocalInfoValue("COUNTRY_LONG");
    const std::string city = FProxyManager->LocalInfoValue("CITY");
    if (TfrmFlashForm* panel = GlobalFlashForm()) {
        panel->SetIPInfo("Local", "True", flag, ip, name, city, "100", "100");
        panel->SetIPInfo("Target", "", flag, ip, name, city, "100", "100");
        panel->SetTextInfo("", 0);
        panel->SetTextInfo(FEngine->GetAppString("FLSMsg.Ready"), static_cast<std::int32_t>(kReadyTextColor));
    }
    FHider->SetLocalInfoGot(true);
    if (FTesting) {
        FTesting->LocalInfoArrived();
    }
}

void TfrmMain::CheckLocalIP() {
    if (IsRefusedLocalCountry(FProxyManager->LocalInfoValue("COUNTRY_SHORT"))) {
        QMessageBox::information(nullptr, windowTitle(), QString::fromLatin1(kRefusedCountryText));
        EndProgram();
    }
}

void TfrmMain::EndProgram() {
    FEnding = true;
    close();
    FHooks.Quit();
}

void TfrmMain::SetAOT() {
    const bool on = FContext.Settings.GetSettingBool("AlwaysOnTop");
    Action("actAlwaysOnTop")->setChecked(on);
    SetTopMost(this, on);
}

void TfrmMain::spDynamicSkinFormObjectCommand(TSkinFormCommand Command, bool& bCancel) {
    bCancel = false;
    switch (Command) {
        case TSkinFormCommand::Close:
            if (FEngine->SessionEnding()) {
                return;
            }
            if (FTrayShown) {
                FEngine->ShowMessageEx("MSGBox.CloseNotify", {}, kCloseNotifyNumber, mtInformation,
                                       MsgDlgButtons({mbOK}), 0, false);
                MinimizeToTray();
            } else {
                // Hidden without a tray, nothing would lead back to the window.
                FEngine->ShowMessageEx("MSGBox.CloseNotifyNoTray", {}, kCloseNotifyNoTrayNumber,
                                       mtInformation, MsgDlgButtons({mbOK}), 0, false);
                showMinimized();
            }
            bCancel = true;
            return;
        case TSkinFormCommand::Maximize:
        case TSkinFormCommand::RollUp:
            bCancel = true;
            return;
        case TSkinFormCommand::Minimize:
        case TSkinFormCommand::Other:
            return;
    }
}

void TfrmMain::MinimizeToTray() {
    const QRect from = frameGeometry();
    hide();
    QScreen* screen = this->screen() != nullptr ? this->screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        return;
    }
    const QRect desk = screen->geometry();
    // A frame that shrinks towards the tray, as the system's caption animation does.
    auto* ghost = new QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                                           Qt::WindowTransparentForInput);
    ghost->setAttribute(Qt::WA_DeleteOnClose);
    ghost->setAttribute(Qt::WA_ShowWithoutActivating);
    ghost->setStyleSheet(QStringLiteral("background: palette(highlight);"));
    ghost->setGeometry(from);
    auto* animation = new QPropertyAnimation(ghost, "geometry", ghost);
    animation->setDuration(250);
    animation->setStartValue(from);
    animation->setEndValue(QRect(desk.right(), desk.bottom(), 1, 1));
    connect(animation, &QPropertyAnimation::finished, ghost, &QWidget::close);
    ghost->show();
    animation->start();
}

void TfrmMain::closeEvent(QCloseEvent* event) {
    if (FEnding) {
        event->accept();
        return;
    }
    bool cancel = false;
    spDynamicSkinFormObjectCommand(TSkinFormCommand::Close, cancel);
    if (cancel) {
        event->ignore();
    } else {
        event->accept();
    }
}

void TfrmMain::changeEvent(QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && windowState().testFlag(Qt::WindowMaximized)) {
        bool cancel = false;
        spDynamicSkinFormObjectCommand(TSkinFormCommand::Maximize, cancel);
        if (cancel) {
            setWindowState(windowState() & ~Qt::WindowMaximized);
        }
    }
    QMainWindow::changeEvent(event);
}

// A stored size counts the window manager's frame in, which is known only
// some time after the window was first shown and can still change while the
// window manager decorates it: the size is checked again until two seconds
// after a frame was first seen (ten seconds at most, for a desktop without
// frames).
void TfrmMain::WatchFrame() {
    if (FStoredWidth <= 0 && FStoredHeight <= 0) {
        return;
    }
    auto* watch = new QTimer(this);
    watch->setInterval(50);
    connect(watch, &QTimer::timeout, this, [this, watch, ticks = 0, framed = 0]() mutable {
        ArrangeControls();
        framed += frameGeometry().size() != size() ? 1 : 0;
        if (framed >= 40 || ++ticks >= 200) {
            watch->stop();
            watch->deleteLater();
        }
    });
    watch->start();
}

void TfrmMain::showEvent(QShowEvent* event) {
    if (!FPlaced) {
        FPlaced = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        WatchFrame();
    }
    QMainWindow::showEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == imgFL || watched == lblOptions) && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        if (watched == imgFL) {
            actChooseIPCountryExecute();
        } else {
            actSettingsExecute();
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

bool TfrmMain::HasTrayIcon() const {
    return FTrayShown;
}

void TfrmMain::ShowAtStart(bool startHidden) {
    if (!startHidden) {
        show();
    } else if (!FTrayShown) {
        // Hidden without a tray icon the program could not be reached. Some
        // window managers map a window that asks to start minimised as a
        // normal one; a mapped window is minimised by every one.
        show();
        MinimizeOnceMapped(kMapWaitTries);
    }
}

void TfrmMain::MinimizeOnceMapped(int triesLeft) {
    if (windowHandle() != nullptr && windowHandle()->isExposed()) {
        showMinimized();
    } else if (triesLeft > 0) {
        QTimer::singleShot(kMapWaitStepMs, this, [this, triesLeft] { MinimizeOnceMapped(triesLeft - 1); });
    } else {
        showMinimized();
    }
}

void TfrmMain::WatchTray() {
    const bool available = QSystemTrayIcon::isSystemTrayAvailable();
    if (available == FTrayShown) {
        return;
    }
    ApplyTray(available);
    if (!available && !isVisible() && !FEnding) {
        // The tray went away with the window in it.
        show();
        MinimizeOnceMapped(kMapWaitTries);
    }
}

void TfrmMain::ApplyTray(bool available) {
    FTrayShown = available;
    // Shown anew, so that a tray that came later embeds the icon.
    spTrayIcon->setVisible(false);
    spTrayIcon->setVisible(available);
    // Without a tray its menu, and Exit in it, is out of reach: the window's
    // own menu carries Exit then.
    QAction* exit = Action("actExit");
    const qsizetype at = pmSys->actions().indexOf(exit);
    if (!available && at < 0) {
        pmSys->addSeparator();
        pmSys->addAction(exit);
    } else if (available && at > 0) {
        QAction* separator = pmSys->actions().at(at - 1);
        pmSys->removeAction(exit);
        pmSys->removeAction(separator);
        delete separator;
    }
}

void TfrmMain::RestoreFromTray() {
    ForceForeground(this);
}

// Commands -------------------------------------------------------------------

void TfrmMain::actChooseIPCountryExecute() {
    if (FEngine->AppWaitFirstUpdate() && FHider->LocalInfoGot()) {
        TfrmChooseIPCountry chooser(*FProxyManager, FContext.Settings, imglstFlag, this);
        if (chooser.exec() == QDialog::Accepted) {
            ResetCountryDisp();
            FHider->actShroudExecute();
        }
        return;
    }
    FEngine->ShowMessageEx("MSGBox.CHKNET", {}, 0, mtError, MsgDlgButtons({mbOK}), 0, false);
    FProxyManager->GetCurrentLocalInfo();
}

void TfrmMain::actSettingsExecute() {
    {
        TfrmSettings options(FContext.Settings, FContext.System, this);
        options.exec();
    }
    FHider->UpdateGatewayAvailability();
    FHider->ResetChangeIPTime();
    FGuard->FollowHider(FHider.get(), FContext.Settings);
}

void TfrmMain::actCheckIPInfoExecute() {
    FEngine->ShowPageByURL(FContext.Settings.GetSettingString("URL.CheckIP"));
}

void TfrmMain::actHomePageExecute() {
    FEngine->ShowPage("home");
}

void TfrmMain::actHelpCenterExecute() {
    FEngine->ShowPage("help");
}

void TfrmMain::actUpdateExecute() {
    FEngine->AppUpdate(true);
}

void TfrmMain::actAboutExecute() {
    FEngine->AppAbout();
}

void TfrmMain::actAlwaysOnTopExecute() {
    TKTSettings& settings = FContext.Settings;
    settings.SetSettingBool("AlwaysOnTop", !settings.GetSettingBool("AlwaysOnTop"));
    SetAOT();
}

void TfrmMain::actOpenExecute() {
    RestoreFromTray();
}

void TfrmMain::actExitExecute() {
    EndProgram();
}

}  // namespace cloakline
