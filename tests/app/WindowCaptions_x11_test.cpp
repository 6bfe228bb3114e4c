// The program's windows on a real X server with a window manager: the
// captions the window manager is given and the main window's stored size,
// frame included.

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMessageBox>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "app/uMain.h"
#include "core/framework/GlobalPlatform.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/ModalBoxRecorder.h"
#include "tests/support/RecordingBrowsers.h"
#include "tests/support/RecordingInfoFetcher.h"
#include "tests/support/RecordingProcesses.h"
#include "tests/support/XDesktop.h"
#include "ui/KTAboutForm.h"
#include "ui/KTUpdateForm.h"

namespace cloakline::test {
namespace {

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

bool WaitFor(const std::function<bool()>& done, int ms = 5000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return done();
}

QSize FramedSize(const TXWindowInfo& x, QWidget& widget) {
    const auto size = x.FramedSize(widget.winId());
    return size ? QSize(size->first, size->second) : QSize();
}

// The caption the window manager shows for widget, once it is mapped and framed.
std::string Caption(const TXWindowInfo& x, QWidget& widget) {
    EXPECT_TRUE(WaitFor([&] { return widget.isVisible() && FramedSize(x, widget).isValid(); }))
        << widget.objectName().toStdString() << " was never framed";
    return x.NetWmName(widget.winId()).value_or("<no _NET_WM_NAME>");
}

TEST(WindowCaptionsTest, EachWindowCarriesExactlyItsOwnCaptionAndTheStoredSizeIsTheFramedOne) {
    SettingsTestPlatform env;
    env.P.Processes = std::make_unique<RecordingProcesses>();
    env.P.SystemProxy = std::make_unique<RecordingSystemProxy>();
    env.P.Firefox = std::make_unique<RecordingFirefox>();
    env.P.Opera = std::make_unique<FixedOperaPreferences>();
    SetGlobalPlatform(&env.P);
    std::filesystem::copy(CLOAKLINE_SOURCE_DIR "/data/lang", env.Dir.Sub("prog/lang"));
    env.Dir.WriteFile("prog/res/shroud.dat", ReadBytes(CLOAKLINE_SOURCE_DIR "/data/res/shroud.dat"));
    env.WriteConst(ReadBytes(CLOAKLINE_SOURCE_DIR "/data/const.dat"));
    GlobalSettings().SetSettingInteger("MainForm.Width", 520);
    GlobalSettings().SetSettingInteger("MainForm.Height", 300);
    // No update check, no downloads: nothing leaves the test.
    GlobalSettings().SetSettingBool("Update.BeginAuto", false);
    {
        RecordingInfoFetcher fetcher;
        TNoInstanceChannel channel;
        const TCommandLineSwitches switches({}, true);
        const TDownloaderContext downloads{};
        const TAppContext context{env.P, GlobalSettings(), channel, switches, fetcher, downloads};
        TMainFormHooks hooks;
        hooks.Quit = [] {};
        TfrmMain main(context, nullptr, std::move(hooks));
        const TXWindowInfo x(qEnvironmentVariable("DISPLAY").toStdString());
        main.show();
        const std::string version = GlobalSettings().GetSettingString("App.Ver");
        ASSERT_FALSE(version.empty());
        EXPECT_EQ(Caption(x, main), "Cloakline  " + version) << "name, two spaces, version";
        EXPECT_TRUE(WaitFor([&] { return FramedSize(x, main) == QSize(520, 300); }))
            << "MainForm.Width and MainForm.Height size the whole window; framed it is "
            << FramedSize(x, main).width() << " x " << FramedSize(x, main).height();

        std::string about;
        OnNextModal<TfrmKTAboutForm>([&](TfrmKTAboutForm& box) {
            about = Caption(x, box);
            box.accept();
        });
        main.actAboutExecute();
        EXPECT_EQ(about, "About Cloakline");

        TfrmKTUpdateForm update(&main, downloads);
        update.show();
        EXPECT_EQ(Caption(x, update), "Check for Updates");
        update.hide();

        std::string message;
        OnNextModal<QMessageBox>([&](QMessageBox& box) {
            message = Caption(x, box);
            box.button(QMessageBox::Ok)->click();
        });
        main.Engine()->ShowMessageEx("MSGBox.FFRestart", {}, 0, mtInformation, MsgDlgButtons({mbOK}), 0,
                                     false);
        EXPECT_EQ(message, "Cloakline") << "a message box carries the application's name";

        main.Engine()->SetLanguage("German");
        EXPECT_EQ(Caption(x, main), "Cloakline  " + version);
    }
    ReleaseGlobalSettings();
    SetGlobalPlatform(nullptr);
}

}  // namespace
}  // namespace cloakline::test

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    cloakline::test::TXDesktop desktop;
    if (desktop.Display().empty() || !desktop.WaitForWindowManager(std::chrono::seconds(10))) {
        std::fprintf(stderr, "no X server with a window manager (Xvfb, openbox)\n");
        return 1;
    }
    setenv("DISPLAY", desktop.Display().c_str(), 1);
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
