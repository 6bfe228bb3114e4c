#include "net/InfoGotThread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/net/LoopDispatcher.h"
#include "tests/support/LoopbackHttpServer.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kWait = 5s;

TScriptedResponse Answer(int status, std::string body) {
    TScriptedResponse r;
    r.Status = status;
    r.Body = std::move(body);
    return r;
}

TScriptedResponse Held(std::string body, std::shared_ptr<TGate> gate) {
    TScriptedResponse r = Answer(200, std::move(body));
    r.HoldBeforeHeaders = std::move(gate);
    return r;
}

class InfoGotThreadTest : public ::testing::Test {
  protected:
    InfoGotThreadTest() {
        THttpGetOptions o;
        o.ConnectTimeout = 300ms;
        o.TotalTimeout = 600ms;
        Fetcher = std::make_unique<TInfoFetcher>(Loop, o, Tracker);
    }
    ~InfoGotThreadTest() override {
        // No worker may outlive the test's server, loop and tracker.
        Loop->Close();
        Tracker->AbortAll();
        EXPECT_TRUE(Tracker->WaitAll(kWait));
    }

    // Pumps the loop until every worker has ended.
    bool PumpUntilWorkersEnd() {
        return Loop->RunUntil([this] { return Tracker->LiveCount() == 0; }, kWait);
    }

    TCurlGlobal Curl;
    TLoopbackHttpServer Server;
    std::shared_ptr<TLoopDispatcher> Loop = TLoopDispatcher::Create();
    std::shared_ptr<TWorkerTracker> Tracker = TWorkerTracker::Create();
    std::unique_ptr<TInfoFetcher> Fetcher;
};

TEST_F(InfoGotThreadTest, TheAnswerReachesTheMainThreadWhileItsWorkerWaits) {
    Server.Script("/info", Answer(200, "IP=1.2.3.4"));
    std::vector<std::string> answers;
    std::thread::id ranOn;
    Fetcher->Fetch(Server.Url("/info"), [&](const std::string& aRet) {
        answers.push_back(aRet);
        ranOn = std::this_thread::get_id();
    });
    const auto deadline = Clock::now() + kWait;
    while (Loop->PendingCount() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(Loop->PendingCount(), 1u);
    EXPECT_EQ(Tracker->LiveCount(), 1u) << "the worker waits for the main thread";
    EXPECT_TRUE(answers.empty()) << "nothing runs before the main thread takes it";

    ASSERT_TRUE(PumpUntilWorkersEnd());
    EXPECT_EQ(answers, std::vector<std::string>{"IP=1.2.3.4"});
    EXPECT_EQ(ranOn, std::this_thread::get_id());
}

TEST_F(InfoGotThreadTest, FailuresAndEmptyAnswersReachNobody) {
    TScriptedResponse silent = Answer(200, "IP=1.2.3.4");
    silent.DelayBeforeHeaders = 3s;
    Server.Script("/404", Answer(404, "IP=6.6.6.6"));
    Server.Script("/500", Answer(500, "IP=6.6.6.6"));
    Server.Script("/silent", silent);
    Server.Script("/empty", Answer(200, ""));
    Server.Script("/nocontent", Answer(204, ""));
    struct Row {
        std::string Url;
        // A successful but empty transfer is handed over; DeliverAnswer drops it.
        std::size_t HandOvers;
    };
    const Row rows[] = {
        {Server.Url("/404"), 0},    {Server.Url("/500"), 0},
        {Server.Url("/silent"), 0}, {"http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/", 0},
        {Server.Url("/empty"), 1},  {Server.Url("/nocontent"), 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Url);
        const std::size_t before = Loop->TasksRun();
        int calls = 0;
        Fetcher->Fetch(row.Url, [&](const std::string&) { ++calls; });
        ASSERT_TRUE(PumpUntilWorkersEnd());
        EXPECT_EQ(calls, 0);
        EXPECT_EQ(Loop->TasksRun() - before, row.HandOvers);
    }
}

TEST_F(InfoGotThreadTest, RequestsUnderWayAtOnceAreHandledInTheOrderTheirAnswersArrive) {
    std::vector<std::shared_ptr<TGate>> gates;
    for (int i = 0; i < 3; ++i) {
        gates.push_back(std::make_shared<TGate>());
        Server.Script("/r" + std::to_string(i), Held("answer " + std::to_string(i), gates.back()));
    }
    std::vector<std::string> order;
    for (int i = 0; i < 3; ++i) {
        Fetcher->Fetch(Server.Url("/r" + std::to_string(i)),
                       [&](const std::string& aRet) { order.push_back(aRet); });
    }
    ASSERT_TRUE(Server.WaitForRequests(3, kWait));
    EXPECT_EQ(Tracker->LiveCount(), 3u);
    for (int i = 2; i >= 0; --i) {
        gates[static_cast<std::size_t>(i)]->Open();
        const std::size_t want = static_cast<std::size_t>(3 - i);
        ASSERT_TRUE(Loop->RunUntil([&] { return order.size() == want; }, kWait));
    }
    EXPECT_EQ(order, (std::vector<std::string>{"answer 2", "answer 1", "answer 0"}));
    EXPECT_TRUE(PumpUntilWorkersEnd());
}

TEST_F(InfoGotThreadTest, ClosingTheDispatcherLetsAWaitingWorkerEndWithoutItsAnswer) {
    Server.Script("/info", Answer(200, "IP=1.2.3.4"));
    int calls = 0;
    Fetcher->Fetch(Server.Url("/info"), [&](const std::string&) { ++calls; });
    const auto deadline = Clock::now() + kWait;
    while (Loop->PendingCount() == 0 && Clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(Loop->PendingCount(), 1u);
    Loop->Close();
    EXPECT_TRUE(Tracker->WaitAll(kWait));
    EXPECT_EQ(Loop->RunPending(), 0u);
    EXPECT_EQ(calls, 0);
}

TEST_F(InfoGotThreadTest, AbortAllCutsSlowTransfersShortAndStartsNothingAfterwards) {
    TScriptedResponse slow = Answer(200, "IP=1.2.3.4");
    slow.DelayBeforeHeaders = 10s;
    Server.Script("/slow", slow);
    THttpGetOptions patient;
    patient.TotalTimeout = 30s;
    TInfoFetcher fetcher(Loop, patient, Tracker);
    int calls = 0;
    fetcher.Fetch(Server.Url("/slow"), [&](const std::string&) { ++calls; });
    fetcher.Fetch(Server.Url("/slow"), [&](const std::string&) { ++calls; });
    ASSERT_TRUE(Server.WaitForRequests(2, kWait));

    const auto start = Clock::now();
    Tracker->AbortAll();
    EXPECT_TRUE(Tracker->WaitAll(kWait));
    EXPECT_LT(Clock::now() - start, 4s);
    EXPECT_EQ(Loop->RunPending(), 0u) << "an aborted transfer hands nothing over";

    fetcher.Fetch(Server.Url("/slow"), [&](const std::string&) { ++calls; });
    EXPECT_EQ(Tracker->LiveCount(), 0u) << "no worker starts once the program is ending";
    EXPECT_EQ(calls, 0);
}

TEST_F(InfoGotThreadTest, DeliverAnswerNeedsABodyAndAReceiverAndReleasesTheReceiverOnTheMainThread) {
    Server.Script("/info", Answer(200, "IP=1.2.3.4"));
    Server.Script("/empty", Answer(200, ""));

    // Executed right here, the main thread: the hand-over runs inline.
    TInfoGotThread withoutReceiver(Loop, Tracker);
    withoutReceiver.FURL = Server.Url("/info");
    withoutReceiver.Execute();
    EXPECT_EQ(withoutReceiver.FRet, "IP=1.2.3.4");

    struct Witness {
        std::thread::id* ReleasedOn;
        ~Witness() { *ReleasedOn = std::this_thread::get_id(); }
    };
    std::thread::id releasedOn;
    int calls = 0;
    {
        const std::shared_ptr<Witness> witness(new Witness{&releasedOn});
        Fetcher->Fetch(Server.Url("/info"), [&calls, witness](const std::string&) { ++calls; });
    }
    ASSERT_TRUE(PumpUntilWorkersEnd());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(releasedOn, std::this_thread::get_id());

    TInfoGotThread emptyAnswer(Loop, Tracker);
    emptyAnswer.FURL = Server.Url("/empty");
    emptyAnswer.FOnInfoGot = [&](const std::string&) { ++calls; };
    emptyAnswer.Execute();
    EXPECT_EQ(emptyAnswer.FRet, "");
    EXPECT_EQ(calls, 1);
}

}  // namespace
}  // namespace cloakline::test
