#include "ui/QtMainThreadDispatcher.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScriptedRandom.h"
#include "ui/QtNetworkRuntime.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWait = 5s;

QApplication& App() {
    static int argc = 1;
    static char name[] = "qt_main_thread_dispatcher_test";
    static char* argv[] = {name, nullptr};
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

// Runs the event loop until done() holds or the time is up.
bool SpinUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = kWait) {
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (done()) {
            loop.quit();
        }
    });
    check.start(2);
    QTimer::singleShot(timeout, &loop, &QEventLoop::quit);
    if (!done()) {
        loop.exec();
    }
    return done();
}

bool WaitForQueued(const TMainThreadHandOver& handOver) {
    const auto deadline = Clock::now() + kWait;
    while (handOver.PendingCount() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    return handOver.PendingCount() > 0;
}

class QtMainThreadDispatcherTest : public ::testing::Test {
  protected:
    QtMainThreadDispatcherTest() { App(); }
};

TEST_F(QtMainThreadDispatcherTest, AWorkersTaskRunsInTheEventLoopOfTheMainThread) {
    auto dispatcher = TQtMainThreadDispatcher::Create();
    QThread* ranIn = nullptr;
    std::atomic<bool> returned{false};
    bool answer = false;
    std::thread worker([&] {
        answer = dispatcher->RunSync([&] { ranIn = QThread::currentThread(); });
        returned = true;
    });
    ASSERT_TRUE(WaitForQueued(*dispatcher));
    EXPECT_FALSE(returned.load());
    EXPECT_TRUE(SpinUntil([&] { return returned.load(); }));
    worker.join();
    EXPECT_TRUE(answer);
    EXPECT_EQ(ranIn, App().thread());
}

TEST_F(QtMainThreadDispatcherTest, OnTheMainThreadTheTaskRunsAtOnce) {
    auto dispatcher = TQtMainThreadDispatcher::Create();
    int runs = 0;
    EXPECT_TRUE(dispatcher->RunSync([&] { ++runs; }));
    EXPECT_EQ(runs, 1);
}

TEST_F(QtMainThreadDispatcherTest, CloseReleasesAWaitingWorkerAndTheLateEventFindsNothing) {
    auto dispatcher = TQtMainThreadDispatcher::Create();
    int runs = 0;
    std::future<bool> answer =
        std::async(std::launch::async, [&] { return dispatcher->RunSync([&] { ++runs; }); });
    ASSERT_TRUE(WaitForQueued(*dispatcher));
    dispatcher->Close();
    ASSERT_EQ(answer.wait_for(kWait), std::future_status::ready);
    EXPECT_FALSE(answer.get());

    // The posted event is still queued; neither a closed nor a destroyed
    // dispatcher may run anything from it.
    dispatcher.reset();
    QCoreApplication::processEvents();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(runs, 0);
}

TEST_F(QtMainThreadDispatcherTest, ATaskThatThrowsDoesNotStopTheLoopOrHoldItsWorker) {
    auto dispatcher = TQtMainThreadDispatcher::Create();
    std::future<bool> throwing = std::async(std::launch::async, [&] {
        return dispatcher->RunSync([] { throw std::runtime_error("an answer handler failed"); });
    });
    ASSERT_TRUE(SpinUntil([&] { return throwing.wait_for(0s) == std::future_status::ready; }));
    EXPECT_TRUE(throwing.get());

    bool ran = false;
    std::future<bool> next =
        std::async(std::launch::async, [&] { return dispatcher->RunSync([&] { ran = true; }); });
    ASSERT_TRUE(SpinUntil([&] { return next.wait_for(0s) == std::future_status::ready; }));
    EXPECT_TRUE(next.get());
    EXPECT_TRUE(ran);
}

TScriptedResponse Answer(std::string body, std::chrono::milliseconds delay = 0ms) {
    TScriptedResponse r;
    r.Body = std::move(body);
    r.DelayBeforeHeaders = delay;
    return r;
}

TEST_F(QtMainThreadDispatcherTest, TheManagersAnswerArrivesThroughTheEventLoop) {
    TLoopbackHttpServer server;
    server.Script("/getinfo.php", Answer("IP=1.2.3.4\r\nCOUNTRY_SHORT=DE"));
    SettingsTestPlatform env;
    env.WriteConst("[setting]\r\nURL.GetInfo=" + server.Url("/getinfo.php") + "\r\nApp.MagicWord=w\r\n");
    TKTSettings settings(env.P, "");
    ScriptedRandom draws;
    const auto tracker = TWorkerTracker::Create();
    {
        TQtNetworkRuntime runtime(kWait, {}, tracker);
        TProxyManager manager(settings, runtime.Fetcher(), draws);
        int notified = 0;
        manager.SetOnGetCurrentLocalInfo([&](TProxyManager&) { ++notified; });
        manager.GetCurrentLocalInfo();
        ASSERT_TRUE(SpinUntil([&] { return notified == 1; }));
        EXPECT_EQ(manager.LocalInfoValue("COUNTRY_SHORT"), "DE");
        EXPECT_EQ(server.Requests().at(0).Target, "/getinfo.php?MagicWord=w");
    }
    EXPECT_EQ(tracker->LiveCount(), 0u);
}

TEST_F(QtMainThreadDispatcherTest, EndingTheRuntimeWithRequestsUnderWayIsQuickAndDeliversNothing) {
    TLoopbackHttpServer server;
    server.Script("/slow", Answer("IP=1.2.3.4", 10s));
    server.Script("/fast", Answer("IP=1.2.3.4"));
    const auto tracker = TWorkerTracker::Create();
    int calls = 0;
    auto runtime = std::make_unique<TQtNetworkRuntime>(kWait, THttpGetOptions{}, tracker);
    // One transfer still running, one answer waiting for a loop that no longer runs.
    runtime->Fetcher().Fetch(server.Url("/slow"), [&](const std::string&) { ++calls; });
    runtime->Fetcher().Fetch(server.Url("/fast"), [&](const std::string&) { ++calls; });
    ASSERT_TRUE(WaitForQueued(*runtime->Dispatcher()));
    ASSERT_TRUE(server.WaitForRequests(2, kWait));

    const auto start = Clock::now();
    runtime.reset();
    EXPECT_LT(Clock::now() - start, 4s);
    EXPECT_EQ(tracker->LiveCount(), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, 0);
}

}  // namespace
}  // namespace cloakline::test
