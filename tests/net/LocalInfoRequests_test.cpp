// The proxy manager's two server requests end to end: the manager, the real
// worker and HTTP client, a loopback server, and the test's thread as the
// main thread.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>

#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "core/support/TextEncoding.h"
#include "net/InfoGotThread.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/net/LoopDispatcher.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ScriptedRandom.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5s;

TScriptedResponse Answer(int status, std::string body) {
    TScriptedResponse r;
    r.Status = status;
    r.Body = std::move(body);
    return r;
}

class LocalInfoRequestsTest : public ::testing::Test {
  protected:
    LocalInfoRequestsTest() {
        THttpGetOptions o;
        o.ConnectTimeout = 300ms;
        o.TotalTimeout = 600ms;
        Fetcher = std::make_unique<TInfoFetcher>(Loop, o, Tracker);
    }
    ~LocalInfoRequestsTest() override {
        Manager.reset();
        Loop->Close();
        Tracker->AbortAll();
        EXPECT_TRUE(Tracker->WaitAll(kWait));
    }

    void Start(const std::string& magicWord = "Zq9-x_Y.~") {
        Env.WriteConst("[setting]\r\nURL.GetInfo=" + Server.Url("/getinfo.php") + "\r\nApp.MagicWord=" +
                       magicWord + "\r\nSUPER_TOUCH=" + Server.Url("/touch.php?ip={1}&again={1}") + "\r\n");
        Settings = std::make_unique<TKTSettings>(Env.P, "");
        Manager = std::make_unique<TProxyManager>(*Settings, *Fetcher, Draws);
        Manager->SetOnGetCurrentLocalInfo([this](TProxyManager& sender) {
            EXPECT_EQ(&sender, Manager.get());
            ++Notified;
        });
    }

    // Pumps the loop until every worker has ended.
    bool PumpUntilWorkersEnd() {
        return Loop->RunUntil([this] { return Tracker->LiveCount() == 0; }, kWait);
    }

    // One local-information request, answered and handled to the end.
    void AskAndWait() {
        Manager->GetCurrentLocalInfo();
        ASSERT_TRUE(PumpUntilWorkersEnd());
    }

    TCurlGlobal Curl;
    TLoopbackHttpServer Server;
    SettingsTestPlatform Env;
    std::unique_ptr<TKTSettings> Settings;
    ScriptedRandom Draws;
    std::shared_ptr<TLoopDispatcher> Loop = TLoopDispatcher::Create();
    std::shared_ptr<TWorkerTracker> Tracker = TWorkerTracker::Create();
    std::unique_ptr<TInfoFetcher> Fetcher;
    std::unique_ptr<TProxyManager> Manager;
    int Notified = 0;
};

TEST_F(LocalInfoRequestsTest, TheServersAnswerBecomesTheLocalInformation) {
    Start();
    Server.Script(
        "/getinfo.php",
        Answer(200, "IP=1.2.3.4\rcountry_short=DE\nCOUNTRY_LONG=Germany\r\nCity=Ber=lin\r\nEXTRA=1"));
    AskAndWait();

    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].Target, "/getinfo.php?MagicWord=Zq9-x_Y.~");
    EXPECT_EQ(Notified, 1);
    EXPECT_EQ(Manager->LocalInfoValue("IP"), "1.2.3.4");
    EXPECT_EQ(Manager->LocalInfoValue("COUNTRY_SHORT"), "DE");
    EXPECT_EQ(Manager->LocalInfoValue("COUNTRY_LONG"), "Germany");
    EXPECT_EQ(Manager->LocalInfoValue("CITY"), "Ber=lin");
    EXPECT_EQ(Manager->LocalInfo().Count(), 5u);

    Server.Script("/getinfo.php", Answer(200, "IP=5.6.7.8\r\nCOUNTRY_SHORT=FR"));
    AskAndWait();
    EXPECT_EQ(Notified, 2);
    EXPECT_EQ(Manager->LocalInfoValue("IP"), "5.6.7.8");
    EXPECT_EQ(Manager->LocalInfoValue("CITY"), "") << "a new answer replaces the old one whole";
}

TEST_F(LocalInfoRequestsTest, AnEmptyMagicWordStillEndsTheAddressWithItsParameter) {
    Start("");
    Server.Script("/getinfo.php", Answer(200, "IP=1.2.3.4"));
    AskAndWait();
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].Target, "/getinfo.php?MagicWord=");
}

TEST_F(LocalInfoRequestsTest, NoAnswerLeavesThePreviousInformationAndTellsNobody) {
    Start();
    TScriptedResponse silent = Answer(200, "IP=6.6.6.6");
    silent.DelayBeforeHeaders = 3s;
    TScriptedResponse cut = Answer(200, "IP=6.6.6.6\r\nCITY=Cut");
    cut.SplitAt = 8;
    cut.CloseMidBody = true;
    Server.Script("/getinfo.php", {Answer(200, "IP=1.2.3.4\r\nCITY=Berlin"), Answer(404, "IP=6.6.6.6"),
                                   Answer(500, "IP=6.6.6.6"), Answer(200, ""), silent, cut,
                                   Answer(200, "IP=6.6.6.6\r\n" + std::string(70 * 1024, 'x'))});
    AskAndWait();
    ASSERT_EQ(Manager->LocalInfoValue("IP"), "1.2.3.4");
    for (int failure = 0; failure < 6; ++failure) {
        SCOPED_TRACE(failure);
        AskAndWait();
        EXPECT_EQ(Manager->LocalInfoValue("IP"), "1.2.3.4");
        EXPECT_EQ(Manager->LocalInfoValue("CITY"), "Berlin");
    }
    EXPECT_EQ(Server.Requests().size(), 7u);

    Settings->SetSettingstring("URL.GetInfo", "http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()));
    AskAndWait();
    EXPECT_EQ(Manager->LocalInfoValue("IP"), "1.2.3.4");
    EXPECT_EQ(Notified, 1);
}

TEST_F(LocalInfoRequestsTest, ABinaryAnswerIsReadWithoutHarmAndItsTextLinesStillCount) {
    Start();
    std::string binary;
    for (int b = 0; b < 256; ++b) {
        binary.push_back(static_cast<char>(b));
    }
    Server.Script("/getinfo.php", Answer(200, binary + "\r\nIP=9.9.9.9\r\n" + binary));
    AskAndWait();
    EXPECT_EQ(Notified, 1);
    EXPECT_EQ(Manager->LocalInfoValue("IP"), "9.9.9.9");
    for (const std::string& line : Manager->LocalInfo()) {
        EXPECT_TRUE(IsValidUtf8(line));
    }
}

TEST_F(LocalInfoRequestsTest, ATouchCarriesTheProxyAddressAndItsAnswerIsNotLocalInformation) {
    Start();
    Server.Script("/touch.php", Answer(200, "IP=6.6.6.6"));
    Manager->Touch(ParseProxyLine("8.8.4.4:3128|Germany|DE|0|0", true));
    ASSERT_TRUE(PumpUntilWorkersEnd());
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].Target, "/touch.php?ip=8.8.4.4&again=8.8.4.4");
    EXPECT_EQ(Loop->TasksRun(), 1u) << "the answer reached the main thread";
    EXPECT_TRUE(Manager->LocalInfo().Empty());
    EXPECT_EQ(Notified, 0);

    // The template is read at each touch.
    Settings->SetSettingstring("SUPER_TOUCH", Server.Url("/touch.php?fixed"));
    Manager->Touch(ParseProxyLine("1.1.1.1:80|A|AA|0|0", true));
    ASSERT_TRUE(PumpUntilWorkersEnd());
    ASSERT_EQ(Server.Requests().size(), 2u);
    EXPECT_EQ(Server.Requests()[1].Target, "/touch.php?fixed");
}

TEST_F(LocalInfoRequestsTest, WithSeveralRequestsUnderWayTheAnswerThatArrivesLastWins) {
    Start();
    auto firstGate = std::make_shared<TGate>();
    TScriptedResponse first = Answer(200, "IP=1.1.1.1");
    first.HoldBeforeHeaders = firstGate;
    auto touchGate = std::make_shared<TGate>();
    TScriptedResponse touch = Answer(200, "IP=6.6.6.6");
    touch.HoldBeforeHeaders = touchGate;
    Server.Script("/getinfo.php", {first, Answer(200, "IP=2.2.2.2")});
    Server.Script("/touch.php", touch);

    Manager->GetCurrentLocalInfo();
    ASSERT_TRUE(Server.WaitForRequests(1, kWait));
    Manager->Touch(ParseProxyLine("8.8.4.4:3128|Germany|DE|0|0", true));
    ASSERT_TRUE(Server.WaitForRequests(2, kWait));
    Manager->GetCurrentLocalInfo();

    ASSERT_TRUE(Loop->RunUntil([&] { return Notified == 1; }, kWait));
    EXPECT_EQ(Manager->LocalInfoValue("IP"), "2.2.2.2");
    touchGate->Open();
    firstGate->Open();
    ASSERT_TRUE(Loop->RunUntil([&] { return Notified == 2; }, kWait));
    EXPECT_EQ(Manager->LocalInfoValue("IP"), "1.1.1.1") << "the older request answered last";
    ASSERT_TRUE(PumpUntilWorkersEnd());
    EXPECT_EQ(Notified, 2);
    EXPECT_EQ(Loop->TasksRun(), 3u);
}

TEST_F(LocalInfoRequestsTest, AnAnswerThatArrivesAfterTheManagerIsGoneIsDropped) {
    Start();
    TScriptedResponse slow = Answer(200, "IP=1.2.3.4");
    slow.DelayBeforeHeaders = 200ms;
    Server.Script("/getinfo.php", slow);
    Manager->GetCurrentLocalInfo();
    ASSERT_TRUE(Server.WaitForRequests(1, kWait));
    Manager.reset();

    ASSERT_TRUE(PumpUntilWorkersEnd());
    EXPECT_EQ(Server.Finished(), 1u);
    EXPECT_EQ(Loop->TasksRun(), 1u) << "the answer did reach the main thread";
    EXPECT_EQ(Notified, 0);
}

}  // namespace
}  // namespace cloakline::test
