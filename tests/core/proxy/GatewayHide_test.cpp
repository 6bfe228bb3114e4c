#include "core/proxy/GatewayHide.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/framework/KTSettings.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingGateway.h"
#include "tests/support/RecordingInfoFetcher.h"
#include "tests/support/ScriptedRandom.h"

namespace cloakline::test {
namespace {

constexpr const char* kLocalAddress = "81.2.69.160";

// The sequencing over a recording gateway, a real settings store and proxy
// manager in a temporary folder, and a clock that moves only when told.
class GatewayHideTest : public ::testing::Test {
  protected:
    GatewayHideTest() {
        Env.WriteConst(
            "[setting]\r\nURL.CheckIP=http://127.0.0.1:8480/checkip\r\nURL.GetInfo=http://127.0.0.1:8480/"
            "getinfo\r\n"
            "Gateway.Port=8899\r\nSUPER_IPS=\r\nNORMAL_IPS="
            "10.0.0.1:8080|United States|US;10.0.0.2:8080|United States|US;10.0.0.3:8080|United States|US;"
            "socks5://u:p@10.0.0.4:1080|United States|US;10.0.0.5:8080|United States|US;"
            "10.0.0.6:8080|United States|US;10.0.1.1:8080|Germany|DE\r\n");
        Settings = std::make_unique<TKTSettings>(Env.P, "");
        Manager = std::make_unique<TProxyManager>(*Settings, Fetcher, Draws);
        Manager->LoadSettings();
        Manager->GetCurrentLocalInfo();
        Fetcher.Requests.back().OnInfoGot(std::string("IP=") + kLocalAddress + "\r\nCOUNTRY_SHORT=GB");
        TGatewayHideEvents events;
        events.OnChecking = [this] { Log.push_back("checking"); };
        events.OnUpstream = [this](const TProxyRec& rec, TGatewayUpstreamChange why) {
            static const char* const kWhy[] = {"hide", "move", "failover", "recovered"};
            Log.push_back(std::string(kWhy[static_cast<int>(why)]) + " " + rec.IP);
        };
        events.OnNoUpstream = [this](const TGatewayRejection& last, bool wasHide, bool quiet) {
            Last = last;
            Log.push_back(std::string("none") + (wasHide ? " hide" : "") + (quiet ? " quiet" : ""));
        };
        events.OnFailClosed = [this] { Log.push_back("closed"); };
        Hider = std::make_unique<TGatewayHide>(Gateway, *Manager, *Settings, *Env.Clock, std::move(events));
    }

    // Hides and lets the first candidate and the first standby pass.
    void HideWithStandby() {
        std::string error;
        ASSERT_TRUE(Hider->Hide(error)) << error;
        ASSERT_TRUE(Gateway.Answer(CheckPage("198.51.100.1", "US")));
        ASSERT_TRUE(Gateway.Answer(CheckPage("198.51.100.2", "US")));
        ASSERT_TRUE(Hider->Current() && Hider->Standby());
    }

    SettingsTestPlatform Env;
    std::unique_ptr<TKTSettings> Settings;
    RecordingInfoFetcher Fetcher;
    ScriptedRandom Draws;
    std::unique_ptr<TProxyManager> Manager;
    RecordingGateway Gateway;
    std::vector<std::string> Log;
    TGatewayRejection Last;
    std::unique_ptr<TGatewayHide> Hider;
};

TEST(GatewayCheckTest, AnAnswerPassesOnlyFromAnotherAddressInTheChosenCountry) {
    EXPECT_EQ(JudgeCheckAnswer(CheckPage("1.2.3.4", "us"), kLocalAddress, "US"), std::nullopt);
    EXPECT_EQ(JudgeCheckAnswer(CheckPage("1.2.3.4", "FR"), kLocalAddress, "UN"), std::nullopt);
    EXPECT_EQ(JudgeCheckAnswer(CheckPage("1.2.3.4", "FR"), kLocalAddress, "un"),
              (TGatewayRejection{"Gateway.OtherCountry", {"FR", "un"}}))
        << "only the exact text UN takes any country";
    EXPECT_EQ(JudgeCheckAnswer(CheckPage(kLocalAddress, "US"), kLocalAddress, "US")->Key,
              "Gateway.OwnAddress");
    EXPECT_EQ(JudgeCheckAnswer(CheckPage("", "US"), kLocalAddress, "US")->Key, "Gateway.NoExitAddress");
    EXPECT_EQ(JudgeCheckAnswer(NoAnswer("timed out"), kLocalAddress, "US"),
              (TGatewayRejection{"Gateway.NoAnswer", {"timed out"}}));

    const std::string page = FailClosedPage("No <proxy>", "Choose \"another\" & retry");
    EXPECT_NE(page.find("<title>No &lt;proxy&gt;</title>"), std::string::npos) << page;
    EXPECT_NE(page.find("Choose &quot;another&quot; &amp; retry"), std::string::npos) << page;
}

TEST_F(GatewayHideTest, RejectedCandidatesStayUsedAndAtMostFiveAreDrawnThenTheReasonIsGiven) {
    std::string error;
    ASSERT_TRUE(Hider->Hide(error));
    EXPECT_EQ(Gateway.Listens, std::vector<std::uint16_t>{8899});
    EXPECT_EQ(Log, std::vector<std::string>{"checking"});
    const std::vector<TCheckAnswer> answers = {NoAnswer("timed out"), CheckPage(kLocalAddress, "US"),
                                               CheckPage("1.1.1.1", "DE"), CheckPage("", "US"),
                                               CheckPage("1.1.1.2", "CA")};
    std::vector<std::string> checked;
    for (const TCheckAnswer& answer : answers) {
        ASSERT_EQ(Gateway.Checks.size(), 1u);
        EXPECT_EQ(Gateway.Checks.front().Url, "http://127.0.0.1:8480/checkip");
        EXPECT_EQ(Gateway.Checks.front().Timeout, std::chrono::milliseconds(3000));
        checked.push_back(Gateway.Checks.front().Upstream.Host);
        Gateway.Answer(answer);
    }
    EXPECT_TRUE(Gateway.Checks.empty()) << "five draws at most";
    EXPECT_EQ(Manager->UsedProxyList().Count(), 5u);
    for (const std::string& host : checked) {
        const auto& used = Manager->UsedProxyList().Lines();
        EXPECT_NE(std::find(used.begin(), used.end(), host), used.end()) << host << " stays used";
    }
    EXPECT_EQ(Log.back(), "none hide");
    EXPECT_EQ(Last, (TGatewayRejection{"Gateway.OtherCountry", {"CA", "US"}}));
    EXPECT_FALSE(Hider->Active());
    EXPECT_TRUE(Gateway.UpstreamCalls.empty()) << "nothing was forwarded";

    // A location without any proxy: no check at all, not even of the proxy
    // that the manager hands back for want of another.
    Manager->SetTargetProxy(ParseProxyLine("10.0.0.1:8080|United States|US", false));
    Manager->SetTargetCountry("FR");
    ASSERT_TRUE(Hider->Hide(error));
    EXPECT_TRUE(Gateway.Checks.empty());
    EXPECT_EQ(Last.Key, "");
}

TEST_F(GatewayHideTest, AnAcceptedUpstreamGetsACheckedStandbyAndATakenPortIsStored) {
    Gateway.FreePort = 9123;
    std::string error;
    ASSERT_TRUE(Hider->Hide(error));
    EXPECT_EQ(Settings->GetSettingInteger("Gateway.Port"), 9123);
    const std::string first = Gateway.CheckedHost();
    ASSERT_TRUE(Gateway.Answer(CheckPage("198.51.100.1", "US")));
    ASSERT_EQ(Gateway.UpstreamCalls.size(), 1u);
    ASSERT_TRUE(Gateway.Current.has_value());
    EXPECT_EQ(Gateway.Current->Address.Host, first);
    EXPECT_FALSE(Gateway.Standby.has_value());
    EXPECT_EQ(Log.back(), "hide " + first);

    // The standby is drawn and checked like the first; a wrong country is passed over.
    ASSERT_EQ(Gateway.Checks.size(), 1u);
    EXPECT_NE(Gateway.CheckedHost(), first);
    Gateway.Answer(CheckPage("198.51.100.2", "DE"));
    const std::string standby = Gateway.CheckedHost();
    Gateway.Answer(CheckPage("198.51.100.3", "US"));
    ASSERT_EQ(Gateway.StandbyCalls.size(), 1u);
    ASSERT_TRUE(Gateway.Standby.has_value());
    EXPECT_EQ(Gateway.Standby->Address.Host, standby);
    EXPECT_NE(Gateway.Standby->Id, Gateway.Current->Id);
    EXPECT_TRUE(Gateway.Checks.empty());
}

TEST_F(GatewayHideTest, FailoverTakesTheStandbyAndWithNothingLeftTheGatewayFailsClosedUntilOnePasses) {
    HideWithStandby();
    const TProxyRec standby = *Hider->Standby();
    Gateway.FailCurrent();
    EXPECT_EQ(Log.back(), "failover " + standby.IP);
    EXPECT_EQ(Hider->Current(), standby);
    EXPECT_FALSE(Hider->Standby().has_value());
    ASSERT_EQ(Gateway.Checks.size(), 1u) << "a new standby is checked";

    // The new current fails before its standby has passed: nothing is left.
    Gateway.FailCurrent();
    EXPECT_EQ(Log.back(), "closed");
    EXPECT_TRUE(Hider->FailingClosed());
    EXPECT_TRUE(Hider->Active());
    ASSERT_EQ(Gateway.Checks.size(), 2u);
    Gateway.Answer(CheckPage("198.51.100.9", "US"));  // the old standby check, now late
    EXPECT_EQ(Log.back(), "closed");
    EXPECT_TRUE(Gateway.StandbyCalls.size() == 1u) << "a late answer sets nothing";

    // A bounded round of draws, then a new round only after the pause.
    for (int i = 0; i < kGatewayDraws; ++i) {
        ASSERT_TRUE(Gateway.Answer(NoAnswer("refused")));
    }
    EXPECT_TRUE(Gateway.Checks.empty());
    Env.Clock->AdvanceSeconds(29);
    Hider->Tick();
    EXPECT_TRUE(Gateway.Checks.empty());
    Env.Clock->AdvanceSeconds(1);
    Hider->Tick();
    ASSERT_EQ(Gateway.Checks.size(), 1u);
    const std::string found = Gateway.CheckedHost();
    Gateway.Answer(CheckPage("198.51.100.4", "US"));
    EXPECT_EQ(Log.back(), "recovered " + found);
    EXPECT_FALSE(Hider->FailingClosed());
    ASSERT_TRUE(Gateway.Current.has_value());
    EXPECT_EQ(Gateway.Current->Address.Host, found);
    EXPECT_FALSE(Gateway.Standby.has_value());
    EXPECT_EQ(Gateway.Checks.size(), 1u) << "and a standby is looked for again";
}

TEST_F(GatewayHideTest, TimedChangeKeepsTheStandbyAndStopOrAnotherHideMakesLateAnswersHarmless) {
    HideWithStandby();
    const std::uint64_t standbyId = Gateway.Standby->Id;
    const TProxyRec before = *Hider->Current();
    Hider->Change(true);
    ASSERT_EQ(Gateway.Checks.size(), 1u);
    const std::string next = Gateway.CheckedHost();
    EXPECT_NE(next, before.IP);
    EXPECT_NE(next, Hider->Standby()->IP) << "neither current nor standby is drawn again";
    Gateway.Answer(CheckPage("198.51.100.5", "US"));
    ASSERT_TRUE(Gateway.Current && Gateway.Standby);
    EXPECT_EQ(Gateway.Current->Address.Host, next);
    EXPECT_EQ(Gateway.Standby->Id, standbyId);
    EXPECT_EQ(Log.back(), "move " + next);

    // A quiet change that finds nothing keeps the current one.
    Hider->Change(true);
    for (int i = 0; i < kGatewayDraws && Gateway.Answer(NoAnswer("refused")); ++i) {
    }
    EXPECT_EQ(Log.back(), "none quiet");
    EXPECT_EQ(Hider->Current()->IP, next);

    // Stop while a check runs: the gateway forwards nothing, the answer changes nothing.
    Hider->Change(false);
    const std::size_t calls = Gateway.UpstreamCalls.size();
    Hider->Stop();
    ASSERT_EQ(Gateway.UpstreamCalls.size(), calls + 1);
    EXPECT_FALSE(Gateway.UpstreamCalls.back().first || Gateway.UpstreamCalls.back().second);
    const std::size_t logged = Log.size();
    Gateway.Answer(CheckPage("198.51.100.6", "US"));
    EXPECT_EQ(Log.size(), logged);
    EXPECT_EQ(Gateway.UpstreamCalls.size(), calls + 1);
    EXPECT_FALSE(Hider->Active());

    // A second Hide while the first one's check runs: only the second counts.
    std::string error;
    Hider->Hide(error);
    Hider->Hide(error);
    ASSERT_EQ(Gateway.Checks.size(), 2u);
    const std::string second = Gateway.CheckedHost();
    Gateway.Answer(CheckPage("198.51.100.7", "US"));
    EXPECT_FALSE(Hider->Active());
    Gateway.Answer(CheckPage("198.51.100.8", "US"));
    EXPECT_EQ(Log.back(), "hide " + second);
}

TEST_F(GatewayHideTest, AGatewayThatCannotListenHidesNothing) {
    Gateway.ListenError = "address in use";
    std::string error;
    EXPECT_FALSE(Hider->Hide(error));
    EXPECT_EQ(error, "address in use");
    EXPECT_TRUE(Gateway.Checks.empty());
    EXPECT_TRUE(Log.empty());
    EXPECT_FALSE(Hider->Active());
    EXPECT_EQ(Settings->GetSettingInteger("Gateway.Port"), 8899);
}

}  // namespace
}  // namespace cloakline::test
