#include "app/KTMain.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QThread>
#include <cstdio>
#include <cstdlib>
#include <optional>

#include "app/DebugLogSinks.h"
#include "app/EndSignals.h"
#include "core/framework/DebugLog.h"
#include "core/framework/GlobalPlatform.h"
#include "core/framework/KTInstanceClient.h"
#include "core/framework/NamedStrings.h"
#include "core/framework/SystemRegion.h"
#include "core/support/TextUtils.h"
#include "gateway/Gateway.h"
#include "ui/KTEngine.h"
#include "ui/KTSplashForm.h"
#include "ui/QtNetworkRuntime.h"
#include "ui/QtPaths.h"

namespace cloakline {

namespace {

constexpr std::string_view kMainWindowClass = "TfrmMain";
constexpr std::string_view kUnreachableInstanceKey = "MSGBox.InstanceUnreachable";

#ifdef Q_OS_WIN
constexpr bool kSlashBeginsPaths = false;
#else
// Absolute paths begin with "/" here, so "/x" switches must not swallow them.
constexpr bool kSlashBeginsPaths = true;
#endif

std::vector<std::string> ArgumentsOf(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return arguments;
}

bool CtrlAndShiftHeld() {
    const Qt::KeyboardModifiers held = QGuiApplication::queryKeyboardModifiers();
    return held.testFlag(Qt::ControlModifier) && held.testFlag(Qt::ShiftModifier);
}

// A window system that a user sees: message boxes and held keys mean
// something there, and not on the offscreen or minimal platforms.
bool HasWindowSystem() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0') {
        return std::string_view(platform) != "offscreen" && std::string_view(platform) != "minimal";
    }
#ifdef Q_OS_WIN
    return true;
#else
    return std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
#endif
}

// The GUI application can be created: a platform was named, or a display is
// there. Without either Qt aborts the process instead of failing.
bool CanCreateGuiApplication() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    return (platform != nullptr && *platform != '\0') || HasWindowSystem();
}

// In the user's language, read before any engine exists; on stderr always,
// and in a box only where there is a screen to show it on.
void ShowUnreachableInstanceMessage(TKTSettings& settings) {
    const TNamedString* named = FindNamedString("AppRes", kUnreachableInstanceKey);
    std::string name = settings.GetSettingString("App.Name");
    if (name.empty()) {
        name = "Cloakline";
    }
    // Filled in as the language data fills its texts.
    const std::string text =
        ReplaceAllText(settings.SlowGetLanguageString("AppRes", kUnreachableInstanceKey,
                                                      named != nullptr ? named->Text : std::string_view()),
                       "{AppName}", name);
    std::fprintf(stderr, "%s\n", text.c_str());
    if (HasWindowSystem() && qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        QMessageBox::warning(nullptr, QString::fromStdString(name), QString::fromStdString(text),
                             QMessageBox::Ok);
    }
}

}  // namespace

TGatewayFactory LocalGatewayFactory() {
    return [](TMainThreadPoster post) -> std::unique_ptr<IUpstreamGateway> {
        return std::make_unique<gateway::TGateway>(std::move(post));
    };
}

bool CheckSystemRegion(const ISystemInfo& system,
                       const std::function<void(const std::string&)>& showMessage) {
    if (IsRefusedSystemLanguage(system.GetSystemLanguageName())) {
        showMessage(std::string(kRefusedRegionMessage));
        return false;
    }
    return true;
}

void ShowPlainMessage(int argc, char** argv, const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    const QString message = QString::fromStdString(text);
    if (QCoreApplication::instance() != nullptr) {
        QMessageBox::information(nullptr, QString(), message, QMessageBox::Ok);
    } else if (HasWindowSystem()) {
        QApplication app(argc, argv);
        QMessageBox::information(nullptr, QString(), message, QMessageBox::Ok);
    }
}

int RunApplication(int argc,
                   char** argv,
                   const MainFormFactory& createMainForm,
                   const std::function<bool()>& preStart) {
    MaskFloatingPointExceptions();
    DebugLog::SetActive(false);

    const TCommandLineSwitches switches(ArgumentsOf(argc, argv), kSlashBeginsPaths);
    if (switches.Has('i') || switches.Has('u')) {
        return 0;
    }

    Platform& system = GlobalPlatform();
    TKTSettings& settings = GlobalSettings();
    const std::unique_ptr<IInstanceChannel> channel =
        system.MakeInstanceChannel(settings.GetSettingString("App.GUID"));
    const TInstanceClient instances(*channel, settings.GetSettingInteger("App.ID"), kInstanceReplyTimeoutMs);

    if (switches.Has('s')) {
        instances.CloseRunningInstance(kMainWindowClass);
        ReleaseGlobalSettings();
        return 0;
    }
    if (switches.Has('r')) {
        instances.CloseRunningInstance(kMainWindowClass);
        QThread::msleep(2000);
    }

    // The application object is made only where a window system is there:
    // the switches that end the start early must work without a display. The
    // keyboard can only be asked once it exists; without a window system no
    // key is held.
    std::optional<QApplication> app;
    bool keysHeld = false;
    if (HasWindowSystem()) {
        app.emplace(argc, argv);
        keysHeld = CtrlAndShiftHeld();
    }
    const bool debug = DecideDebugMode(settings.GetSettingBool("Debug.Enabled"), keysHeld,
                                       settings.GetSettingBool("Debug.Disabled"), switches.Has('d'));
    if (debug) {
        DebugLog::SetSink(std::make_shared<TStderrAndFileLogSink>(
            NativePathFromProgramPath(settings.UserDataPath() + "debug.log")));
        DebugLog::SetActive(true);
        DebugLog::Log("Enter Debug Mode...");
    }

    int exitCode = 0;
    const bool goOn = [&] {
        if (switches.Has('a') && !settings.GetSettingBool("App.Autorun")) {
            return false;
        }
        if (preStart && !preStart()) {
            return false;
        }
        if (!settings.GetSettingBool("App.Multiple") &&
            !system.SingleInstance->CreateUniqueMutex("Global\\" + settings.GetSettingString("App.GUID"))) {
            if (!instances.ActivateRunningInstance(kMainWindowClass)) {
                // The lock is held, yet nothing answers: a hung copy or one
                // the user cannot see. Ending without a word would look like
                // a program that does not start.
                ShowUnreachableInstanceMessage(settings);
            } else if (const std::string* text = switches.ForwardableParameter()) {
                instances.SendToRunningInstance(kMainWindowClass, *text);
            }
            return false;
        }
        if (!app && !CanCreateGuiApplication()) {
            std::fprintf(stderr, "%s: no display to show the window on (DISPLAY is not set)\n",
                         argc > 0 ? argv[0] : "cloakline");
            exitCode = 1;
            return false;
        }
        return true;
    }();

    if (goOn) {
        if (!app) {
            app.emplace(argc, argv);
        }
        // From here on the desktop may be pointed at a proxy: the end by a
        // signal must go through the window's Exit, which points it back.
        std::unique_ptr<QWidget> mainForm;
        bool endRequested = false;
        const TEndSignals endSignals([&](int) {
            endRequested = true;
            if (auto* form = dynamic_cast<IMainForm*>(mainForm.get())) {
                form->EndProgram();
            }
            // Leaves every loop, a modal dialog's too.
            QCoreApplication::exit(0);
        });
        // Outlives the main window: requests still under way are let go and
        // waited for only once nothing can receive their answers.
        TQtNetworkRuntime network;
        const TDownloaderContext downloader = network.DownloaderContext(system);
        TAppContext context{system, settings, *channel, switches, network.Fetcher(), downloader};
        context.Gateway = LocalGatewayFactory();
        QPointer<TfrmKTSplashForm> splash;
        if (settings.GetSettingBool("App.Splash")) {
            // Frees itself once closed.
            splash = new TfrmKTSplashForm;
            splash->show();
            splash->repaint();
            SetSplashWindow(splash);
        }
        mainForm = createMainForm(context);
        if (auto* form = dynamic_cast<IMainForm*>(mainForm.get())) {
            form->ShowAtStart(switches.Has('h'));
        } else if (!switches.Has('h')) {
            mainForm->show();
        }
        if (mainForm->isVisible() && !mainForm->isMinimized()) {
            // Active, the splash sees it and goes, with a window manager or without.
            mainForm->activateWindow();
        } else if (splash) {
            splash->close();
        }
        if (!endRequested) {
            exitCode = app->exec();
        }
        mainForm.reset();
    }
    DebugLog::SetActive(false);
    DebugLog::SetSink(nullptr);
    ReleaseGlobalSettings();
    return exitCode;
}

}  // namespace cloakline
