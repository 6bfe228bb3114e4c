// Pictures of the program's windows for the documentation.
//
// Builds a temporary installation from the program folder of the build
// (constants, languages, skins, pictures, the panel's movie), points the
// constants at a loopback server that answers the local information, the
// update and the flags, and drives the real main window: the local card, the
// chooser, Hide, the options dialog, the about box and the splash. Browsers,
// the desktop's proxy, processes and the autostart folder only record, so
// nothing outside the temporary folder is touched.
//
//   cloakline-screenshots <program folder> <output folder> [language]
//
// The language is one of the program folder's language files, English by default.

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLinearGradient>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/uChooseIPCountry.h"
#include "app/uMain.h"
#include "app/uSettings.h"
#include "core/framework/GlobalPlatform.h"
#include "core/support/TextUtils.h"
#include "platform/linux/LinuxAutoRun.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ModalBoxRecorder.h"
#include "tests/support/RecordingBrowsers.h"
#include "tests/support/RecordingProcesses.h"
#include "ui/KTAboutForm.h"
#include "ui/KTSplashForm.h"
#include "ui/QtNetworkRuntime.h"

namespace cloakline::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kLocalInfo =
    "IP=81.2.69.160\r\nCOUNTRY_SHORT=GB\r\nCOUNTRY_LONG=United Kingdom\r\nCITY=London";

// Addresses from the documentation ranges; nothing is ever connected to them.
constexpr const char* kNormalIps =
    "203.0.113.10:8080|United States|US|-77.03|38.89;"
    "203.0.113.11:8080|United States|US|-118.24|34.05;"
    "198.51.100.217:3128|Germany|DE|13.40|52.52;"
    "203.0.113.30:8080|Netherlands|NL|4.89|52.37;"
    "198.51.100.40:8080|Canada|CA|-79.38|43.65;"
    "198.51.100.50:3128|France|FR|2.35|48.85;"
    "198.51.100.60:8080|Japan|JP|139.69|35.69;"
    "198.51.100.70:8080|Sweden|SE|18.06|59.33;"
    "192.0.2.80:8080|Switzerland|CH|8.54|47.37;"
    "192.0.2.90:3128|Singapore|SG|103.85|1.29;"
    "192.0.2.100:8080|Australia|AU|151.21|-33.87;"
    "192.0.2.110:8080|United Arab Emirates|AE|55.27|25.20";

constexpr const char* kFlagCodes[] = {"GB", "US", "DE", "NL", "CA", "FR", "JP", "SE", "CH", "SG", "AU", "UN"};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

TScriptedResponse Answer(std::string body) {
    TScriptedResponse response;
    response.Body = std::move(body);
    return response;
}

void Pump(int ms) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

bool WaitFor(const std::function<bool()>& done, int ms = 8000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

class Shots {
  public:
    Shots(const fs::path& programFolder, const fs::path& out, const std::string& language) : FOut(out) {
        auto processes = std::make_unique<RecordingProcesses>();
        Env.P.Processes = std::move(processes);
        Env.P.SystemProxy = std::make_unique<RecordingSystemProxy>();
        Env.P.Firefox = std::make_unique<RecordingFirefox>();
        Env.P.Opera = std::make_unique<FixedOperaPreferences>();
        XdgHome = Env.Dir.Sub("xdg");
        fs::create_directories(XdgHome);
        Env.P.AutoRun = std::make_unique<LinuxAutoRun>([this](const char* variable) {
            return std::string_view(variable) == "XDG_CONFIG_HOME" ? XdgHome.c_str() : nullptr;
        });
        SetGlobalPlatform(&Env.P);

        // The program folder as the build lays it out, the constants on the loopback server.
        const fs::path prog = Env.Dir.Sub("prog");
        for (const char* part : {"lang", "res", "skins"}) {
            if (fs::exists(programFolder / part)) {
                fs::copy(programFolder / part, prog / part, fs::copy_options::recursive);
            }
        }
        const std::string port = std::to_string(Server.Port());
        Env.WriteConst(
            ReplaceAll(ReadFile(programFolder / "const.dat"), "127.0.0.1:8480", "127.0.0.1:" + port));

        Server.Script("/getinfo", Answer(kLocalInfo));
        Server.Script("/touch", Answer("OK"));
        Server.Script("/update", Answer("magicword=cloakline-reference\r\nResult=0"));
        for (const char* code : kFlagCodes) {
            const fs::path flag = programFolder / "res" / "flags" / (std::string(code) + ".PNG");
            if (fs::exists(flag)) {
                Server.Script("/flags/" + std::string(code) + ".PNG", Answer(ReadFile(flag)));
            }
        }

        TKTSettings& settings = GlobalSettings();
        settings.SetSettingstring("NORMAL_IPS", kNormalIps);
        settings.SetSettingstring("SUPER_IPS", "");
        settings.SetSettingInteger("Update.Times", 1);
        settings.SetSettingBool("Update.BeginAuto", false);
        settings.SetSettingBool("FFEXT.INSTALLED", true);
        settings.SetSettingstring("Language", language);

        Network = std::make_unique<TQtNetworkRuntime>(std::chrono::seconds(5), THttpGetOptions{},
                                                      TWorkerTracker::Create());
        Downloads = Network->DownloaderContext(Env.P);
    }
    ~Shots() {
        if (Main) {
            Env.Clock->AdvanceSeconds(5);
            Main.reset();
        }
        Network.reset();
        ReleaseGlobalSettings();
        SetGlobalPlatform(nullptr);
    }

    int Run() {
        Context = std::make_unique<TAppContext>(
            TAppContext{Env.P, GlobalSettings(), Channel, Switches, Network->Fetcher(), Downloads});
        TMainFormHooks hooks;
        hooks.Quit = [] {};
        Main = std::make_unique<TfrmMain>(*Context, nullptr, std::move(hooks));
        TfrmMain& main = *Main;
        main.show();
        if (!WaitFor([&main] { return main.LocalInfoGot(); })) {
            return Fail("the local information never came");
        }
        main.tmrInitTimer();
        Env.Clock->AdvanceSeconds(2);
        WaitFor([&main] { return !main.findChild<QLabel*>("imgFL")->pixmap().isNull(); }, 3000);
        Pump(2500);
        Save(main.grab(), "main-local.png");

        // The chooser, Germany picked; OK hides behind it.
        bool chosen = false;
        OnNextModal<TfrmChooseIPCountry>([this, &chosen](TfrmChooseIPCountry& dialog) {
            auto* list = dialog.findChild<QListWidget*>("lvList");
            for (int row = 0; row < list->count(); ++row) {
                if (list->item(row)->text().contains(QStringLiteral("Germany"))) {
                    list->setCurrentRow(row);
                }
            }
            Pump(300);
            Save(dialog.grab(), "chooser.png");
            chosen = true;
            dialog.findChild<QPushButton*>("btnOK")->click();
        });
        main.actChooseIPCountryExecute();
        if (!chosen) {
            return Fail("the chooser did not open");
        }
        Pump(2500);
        Save(main.grab(), "main-hiding.png");

        OnNextModal<TfrmSettings>([this](TfrmSettings& dialog) {
            Pump(300);
            Save(dialog.grab(), "options.png");
            dialog.reject();
        });
        main.actSettingsExecute();

        OnNextModal<TfrmKTAboutForm>([this](TfrmKTAboutForm& dialog) {
            Pump(300);
            Save(dialog.grab(), "about.png");
            dialog.reject();
        });
        main.actAboutExecute();

        auto* splash = new TfrmKTSplashForm;
        splash->show();
        Pump(300);
        SaveOverDesktop(splash->grab(), "splash.png");
        splash->close();
        Pump(100);

        // Stop before the end, as a user would: the resting state.
        Env.Clock->AdvanceSeconds(2);
        main.findChild<QToolButton*>("btnHide")->click();
        Pump(1500);
        Save(main.grab(), "main-stopped.png");
        return FFailed ? 1 : 0;
    }

  private:
    void Save(const QPixmap& picture, const char* name) {
        const QString path = QString::fromStdString((FOut / name).string());
        if (picture.isNull() || !picture.save(path, "PNG")) {
            Fail(std::string("cannot write ") + name);
            return;
        }
        std::printf("%s %dx%d\n", path.toLocal8Bit().constData(), picture.width(), picture.height());
    }
    // A picture with per-pixel alpha over a neutral, desktop-like background.
    void SaveOverDesktop(const QPixmap& picture, const char* name) {
        const int margin = 48;
        QPixmap canvas(picture.width() + 2 * margin, picture.height() + 2 * margin);
        QPainter painter(&canvas);
        QLinearGradient gradient(0, 0, canvas.width(), canvas.height());
        gradient.setColorAt(0, QColor(0x3a, 0x4a, 0x5c));
        gradient.setColorAt(1, QColor(0x1f, 0x2a, 0x36));
        painter.fillRect(canvas.rect(), gradient);
        painter.drawPixmap(margin, margin, picture);
        painter.end();
        Save(canvas, name);
    }
    int Fail(const std::string& why) {
        std::fprintf(stderr, "screenshots: %s\n", why.c_str());
        FFailed = true;
        return 1;
    }

    fs::path FOut;
    bool FFailed = false;
    SettingsTestPlatform Env;
    TLoopbackHttpServer Server;
    std::string XdgHome;
    TNoInstanceChannel Channel;
    TCommandLineSwitches Switches{{}, true};
    std::unique_ptr<TQtNetworkRuntime> Network;
    TDownloaderContext Downloads;
    std::unique_ptr<TAppContext> Context;
    std::unique_ptr<TfrmMain> Main;
};

}  // namespace
}  // namespace cloakline::test

int main(int argc, char** argv) {
    if (argc != 3 && argc != 4) {
        std::fprintf(stderr, "usage: %s <program folder> <output folder> [language]\n", argv[0]);
        return 2;
    }
    QApplication app(argc, argv);
    std::filesystem::create_directories(argv[2]);
    int result = 0;
    {
        cloakline::test::Shots shots(argv[1], argv[2], argc == 4 ? argv[3] : "English");
        result = shots.Run();
    }
    return result;
}
