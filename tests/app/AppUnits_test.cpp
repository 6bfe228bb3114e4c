#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <chrono>
#include <map>
#include <thread>

#include "app/DebugLogSinks.h"
#include "ui/KTInstanceHook.h"
#include "app/KTMain.h"
#include "core/framework/KTInstanceClient.h"
#include "core/framework/SystemRegion.h"
#include "platform/linux/LinuxInstanceChannel.h"
#include "platform/linux/LinuxSystemInfo.h"
#include "tests/support/TempDir.h"
#include "ui/WindowUtils.h"

namespace cloakline::test {
namespace {

QApplication& App() {
    static int argc = 1;
    static char name[] = "app_units_test";
    static char* argv[] = {name, nullptr};
    // Widget tests never need a screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

EnvLookup EnvFrom(std::map<std::string, std::string> values) {
    return [values = std::move(values)](const char* name) -> const char* {
        auto it = values.find(name);
        return it == values.end() ? nullptr : it->second.c_str();
    };
}

TEST(SystemRegionTest, RefusesOnlyTheOneRegionInAnyLetterCase) {
    struct Row {
        std::map<std::string, std::string> env;
        bool runs;
    };
    const Row rows[] = {
        {{{"LANG", "zh_CN.UTF-8"}}, false},
        {{{"LANG", "en_US.UTF-8"}, {"LC_ALL", "zh_CN.GB2312"}}, false},
        {{{"LANG", "zh_CN.UTF-8"}, {"LC_ALL", "en_US.UTF-8"}}, true},
        {{{"LANG", "zh_TW.UTF-8"}}, true},
        {{{"LANG", "zh_SG.UTF-8"}}, true},
        {{}, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.env.empty() ? "(no locale)" : row.env.begin()->second);
        LinuxSystemInfo info(EnvFrom(row.env));
        std::vector<std::string> shown;
        EXPECT_EQ(CheckSystemRegion(info, [&](const std::string& t) { shown.push_back(t); }), row.runs);
        if (row.runs) {
            EXPECT_TRUE(shown.empty());
        } else {
            EXPECT_EQ(shown, std::vector<std::string>{"This product is unavailable in this country."});
        }
    }
    EXPECT_TRUE(IsRefusedSystemLanguage("chinese (SIMPLIFIED, prc)"));
    EXPECT_FALSE(IsRefusedSystemLanguage("Chinese (Simplified, PRC) "));
}

TEST(WindowUtilsTest, ForceForegroundRestoresAMinimisedWindow) {
    App();
    QWidget w;
    w.showMinimized();
    QCoreApplication::processEvents();
    EXPECT_TRUE(ForceForeground(&w));
    EXPECT_TRUE(w.isVisible());
    EXPECT_FALSE(w.isMinimized());
    EXPECT_FALSE(ForceForeground(nullptr));
}

TEST(WindowUtilsTest, TopMostKeepsTheWindowShown) {
    App();
    QWidget w;
    w.show();
    SetTopMost(&w, true);
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(w.isVisible());
    SetTopMost(&w, false);
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(w.isVisible());
}

// Answers the folder picker from the event loop the dialog runs.
std::string PickFolder(const std::string& initial, bool accept) {
    QTimer::singleShot(100, [accept] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowTitle(), QStringLiteral("Choose a folder"));
        QDialog* asDialog = dialog;  // accept() is public on QDialog
        accept ? asDialog->accept() : asDialog->reject();
    });
    return BrowseForFolder(nullptr, initial, "Choose a folder");
}

TEST(WindowUtilsTest, BrowseForFolderStartsInTheFolderAndAnswersInProgramForm) {
    App();
    TempDir dir;
    dir.Sub("chosen/.keep");
    const std::string chosen = ToProgramForm(dir.Path() + "/chosen");
    EXPECT_EQ(PickFolder(chosen, true), chosen);
    EXPECT_EQ(PickFolder(chosen, false), "") << "cancel gives nothing";
}

// The hook answers another instance from the event loop of this thread while
// the client waits on another thread.
class InstanceHookTest : public ::testing::Test {
  protected:
    InstanceHookTest()
        : FRuntime((Dir.Sub("run/.keep"), Dir.Path() + "/run")),
          FChannel("{HOOK-TEST}", EnvFrom({{"XDG_RUNTIME_DIR", FRuntime}})) {}

    // Runs the client call on a thread and the event loop here until it is done.
    template <class F>
    auto WithEventLoop(F call) {
        std::atomic<bool> done{false};
        decltype(call()) result{};
        std::thread t([&] {
            result = call();
            done = true;
        });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done && std::chrono::steady_clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        }
        t.join();
        return result;
    }

    TempDir Dir;
    std::string FRuntime;
    LinuxInstanceChannel FChannel;
};

TEST_F(InstanceHookTest, AnswersTheProtocolOnTheMainThread) {
    App();
    QWidget form;
    auto* hook = new TKTInstanceHook(&form, FChannel, 515, 60000);
    ASSERT_TRUE(hook->Listening());
    std::string received;
    hook->Receiver().FOnCmdFile = [&](const std::string& f) { received = f; };
    bool initPostRan = false;
    hook->OnInitPost = [&] { initPostRan = true; };

    const TInstanceClient client(FChannel, 515, 3000);
    const auto found = WithEventLoop([&] { return client.FindRunningInstance("QWidget"); });
    ASSERT_TRUE(found);
    const TInstanceClient stranger(FChannel, 516, 3000);
    EXPECT_FALSE(WithEventLoop([&] { return stranger.FindRunningInstance("QWidget"); })) << "another App.ID";

    InstanceMessage ifBusy;
    ifBusy.Name = std::string(kMsgIfBusy);
    EXPECT_EQ(WithEventLoop([&] { return FChannel.Send(*found, ifBusy, 3000); }), 1)
        << "initialisation is delayed";

    form.hide();
    WithEventLoop([&] {
        client.ActivateRunningInstance("QWidget");
        return 0;
    });
    EXPECT_FALSE(form.isVisible()) << "a busy window is left alone";

    InstanceMessage initPost;
    initPost.Name = std::string(kMsgInitPost);
    hook->Post(initPost);
    QCoreApplication::processEvents();
    EXPECT_TRUE(initPostRan);
    EXPECT_FALSE(hook->Receiver().FInInited);

    WithEventLoop([&] {
        client.ActivateRunningInstance("QWidget");
        client.SendToRunningInstance("QWidget", "/srv/files/\xC3\xA9t\xC3\xA9 2026.txt");
        return 0;
    });
    QCoreApplication::processEvents();
    EXPECT_TRUE(form.isVisible()) << "an idle window without tray is forced to the front";
    EXPECT_EQ(received, "/srv/files/\xC3\xA9t\xC3\xA9 2026.txt");
}

TEST(DebugLogSinkTest, WritesTaggedLinesToTheFile) {
    TempDir dir;
    const QString path = QString::fromStdString(dir.Path() + "/debug.log");
    {
        TStderrAndFileLogSink sink(path);
        sink.Write("Enter Debug Mode...", "");
        sink.Write("Setting Not Found :URL.help", "KTSettings");
    }
    const std::string text = dir.ReadFile("debug.log");
    EXPECT_NE(text.find(" Enter Debug Mode...\n"), std::string::npos);
    EXPECT_NE(text.find(" [KTSettings] Setting Not Found :URL.help\n"), std::string::npos);
}

}  // namespace
}  // namespace cloakline::test
