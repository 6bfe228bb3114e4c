// Moving to the standby, failing closed, and checking an upstream before use.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "gateway/Gateway.h"
#include "server/core/Answers.h"
#include "tests/gateway/GatewayHarness.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;

struct TFailure {
    std::uint64_t Failed = 0;
    std::optional<std::uint64_t> NowCurrent;
};

class GatewayFailoverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!TTinyProxy::Installed() || !TMicroSocks::Installed()) {
            GTEST_SKIP() << "tinyproxy or microsocks is not installed";
        }
        FOrigin.Script("/page", Page("hello from the origin"));
        gateway::TGatewayLimits limits;
        limits.UpstreamConnect = 400ms;
        FGateway = std::make_unique<gateway::TGateway>(FMain.Poster(), limits);
        FGateway->SetOnUpstreamFailed([this](std::uint64_t failed, std::optional<std::uint64_t> now) {
            FFailures.push_back({failed, now});
        });
        std::string error;
        FPort = FGateway->Listen(0, error);
        ASSERT_NE(FPort, 0) << error;
    }

    std::string Gateway() const { return "http://127.0.0.1:" + std::to_string(FPort); }

    bool WaitFailures(std::size_t count) {
        return FMain.RunUntil([&] { return FFailures.size() >= count; }, 3s);
    }

    TempDir FDir;
    TLoopbackHttpServer FOrigin;
    TMainQueue FMain;
    std::vector<TFailure> FFailures;
    std::unique_ptr<gateway::TGateway> FGateway;
    std::uint16_t FPort = 0;
};

TEST_F(GatewayFailoverTest, MovesToTheStandbyWhenTheCurrentUpstreamIsKilled) {
    TTinyProxy first(FDir);
    TTinyProxy second(FDir);
    ASSERT_TRUE(first.WaitListening(3s) && second.WaitListening(3s));
    FGateway->SetUpstreams(HttpUpstream(11, first.Port()), HttpUpstream(22, second.Port()));
    EXPECT_EQ(RunCurl(FDir, {"-x", Gateway(), FOrigin.Url("/page")}).Out, "hello from the origin");
    EXPECT_TRUE(FFailures.empty());

    first.Kill();
    const TCurlRun plain = RunCurl(FDir, {"-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(plain.Exit, 0) << plain.Err;
    EXPECT_EQ(plain.Out, "hello from the origin");
    ASSERT_TRUE(WaitFailures(1));
    EXPECT_EQ(FFailures[0].Failed, 11u);
    EXPECT_EQ(FFailures[0].NowCurrent, std::optional<std::uint64_t>(22));

    const TCurlRun tunnel = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(tunnel.Exit, 0) << tunnel.Err;
    EXPECT_EQ(FFailures.size(), 1u);
}

TEST_F(GatewayFailoverTest, MovesToTheStandbyWhenTheCurrentUpstreamDoesNotAnswer) {
    TStalledListener stalled;
    if (!stalled.Stalled()) {
        GTEST_SKIP() << "the system accepts every connection, nothing hangs";
    }
    TMicroSocks standby;
    ASSERT_TRUE(standby.WaitListening(3s));
    FGateway->SetUpstreams(HttpUpstream(1, stalled.Port()), SocksUpstream(2, standby.Port()));
    const TCurlRun tunnel = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(tunnel.Exit, 0) << tunnel.Err;
    EXPECT_EQ(tunnel.Out, "hello from the origin");
    ASSERT_TRUE(WaitFailures(1));
    EXPECT_EQ(FFailures[0].Failed, 1u);
    EXPECT_EQ(FFailures[0].NowCurrent, std::optional<std::uint64_t>(2));
}

TEST_F(GatewayFailoverTest, MovesOnAfterTwoRefusedTunnelsInARow) {
    // Wrong credentials: tinyproxy answers every CONNECT with 407.
    TTinyProxy guarded(FDir, TProxyLogin{"ann", "right"});
    TTinyProxy open(FDir);
    ASSERT_TRUE(guarded.WaitListening(3s) && open.WaitListening(3s));
    FGateway->SetUpstreams(HttpUpstream(5, guarded.Port(), "ann", "wrong"), HttpUpstream(6, open.Port()));
    const TCurlRun refused = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_NE(refused.Exit, 0);
    EXPECT_FALSE(FMain.RunUntil([&] { return !FFailures.empty(); }, 200ms));
    // The second refusal in a row moves this very tunnel to the standby.
    const TCurlRun moved = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(moved.Exit, 0) << moved.Err;
    ASSERT_TRUE(WaitFailures(1));
    EXPECT_EQ(FFailures[0].Failed, 5u);
    EXPECT_EQ(FFailures[0].NowCurrent, std::optional<std::uint64_t>(6));
}

TEST_F(GatewayFailoverTest, KeepsOpenTunnelsOnTheirUpstreamWhenTheCurrentChanges) {
    TTinyProxy first(FDir);
    ASSERT_TRUE(first.WaitListening(3s));
    FGateway->SetUpstreams(HttpUpstream(1, first.Port()), std::nullopt);
    TTunnelClient tunnel(FPort);
    const std::string authority = "127.0.0.1:" + std::to_string(FOrigin.Port());
    ASSERT_TRUE(tunnel.Send("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
    EXPECT_TRUE(tunnel.ReceiveUntil("\r\n\r\n", 3s).starts_with("HTTP/1.1 200 Connection established"));

    // New connections now go nowhere; the open tunnel keeps its upstream.
    FGateway->SetUpstreams(HttpUpstream(2, UnusedLoopbackPort()), std::nullopt);
    ASSERT_TRUE(tunnel.Send("GET /page HTTP/1.1\r\nHost: " + authority + "\r\n\r\n"));
    EXPECT_NE(tunnel.ReceiveUntil("hello from the origin", 3s).find("hello from the origin"),
              std::string::npos);
}

TEST_F(GatewayFailoverTest, FailsClosedWithoutAnUpstream) {
    FGateway->SetFailClosedPage("<p>Kein Proxy f\xc3\xbcr DE</p>");
    const TCurlRun plain = RunCurl(FDir, {"-x", Gateway(), "-D", "-", FOrigin.Url("/page")});
    EXPECT_TRUE(plain.Out.starts_with("HTTP/1.1 503 ")) << plain.Out;
    EXPECT_NE(plain.Out.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    EXPECT_TRUE(plain.Out.ends_with("<p>Kein Proxy f\xc3\xbcr DE</p>"));

    const TCurlRun tunnel = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_NE(tunnel.Exit, 0);
    EXPECT_NE(tunnel.Err.find("503"), std::string::npos) << tunnel.Err;

    const TRawExchange socks =
        ExchangeRaw(FPort,
                    std::string("\x05\x01\x00\x05\x01\x00\x01\x7f\x00\x00\x01", 11) +
                        static_cast<char>(FOrigin.Port() >> 8) + static_cast<char>(FOrigin.Port() & 0xff),
                    3s);
    ASSERT_GE(socks.Reply.size(), 4u);
    EXPECT_EQ(socks.Reply[3], '\x01');
    EXPECT_EQ(FOrigin.Requests().size(), 0u);
}

TEST_F(GatewayFailoverTest, FailsClosedWhenEveryUpstreamIsDead) {
    FGateway->SetUpstreams(HttpUpstream(1, UnusedLoopbackPort()), SocksUpstream(2, UnusedLoopbackPort()));
    const TCurlRun plain = RunCurl(FDir, {"-x", Gateway(), "-D", "-", FOrigin.Url("/page")});
    EXPECT_TRUE(plain.Out.starts_with("HTTP/1.1 503 ")) << plain.Out;
    EXPECT_NE(plain.Out.find("<!DOCTYPE html>"), std::string::npos) << "the plain page when none was set";
    const TCurlRun socks =
        RunCurl(FDir, {"--socks5-hostname", "127.0.0.1:" + std::to_string(FPort), FOrigin.Url("/page")});
    EXPECT_NE(socks.Exit, 0);
    ASSERT_TRUE(WaitFailures(2));
    EXPECT_EQ(FFailures[0].Failed, 1u);
    EXPECT_EQ(FFailures[0].NowCurrent, std::optional<std::uint64_t>(2));
    EXPECT_EQ(FFailures[1].Failed, 2u);
    EXPECT_EQ(FFailures[1].NowCurrent, std::nullopt);
    EXPECT_EQ(FOrigin.Requests().size(), 0u);
}

class GatewayCheckTest : public GatewayFailoverTest {
  protected:
    TCheckAnswer Check(const TProxyAddress& upstream, std::chrono::milliseconds timeout) {
        std::optional<TCheckAnswer> answer;
        FGateway->CheckUpstream(upstream, FOrigin.Url("/check"), timeout,
                                [&answer](TCheckAnswer a) { answer = std::move(a); });
        EXPECT_TRUE(FMain.RunUntil([&] { return answer.has_value(); }, timeout + 2s));
        return answer.value_or(TCheckAnswer{});
    }
};

TEST_F(GatewayCheckTest, ReadsTheExitAddressAndCountryThroughEveryKindOfUpstream) {
    FOrigin.Script("/check",
                   Page(server::BuildCheckIpPage("203.0.113.9", server::TAddressPlace{"DE", "Germany", ""})));
    TTinyProxy plain(FDir);
    TTinyProxy guarded(FDir, TProxyLogin{"ann", "s3cret"});
    TMicroSocks socks(TProxyLogin{"bob", "pa55"});
    ASSERT_TRUE(plain.WaitListening(3s) && guarded.WaitListening(3s) && socks.WaitListening(3s));
    for (const TGatewayUpstream& upstream :
         {HttpUpstream(1, plain.Port()), HttpUpstream(2, guarded.Port(), "ann", "s3cret"),
          SocksUpstream(3, socks.Port(), "bob", "pa55")}) {
        const TCheckAnswer answer = Check(upstream.Address, 3s);
        EXPECT_TRUE(answer.Answered) << upstream.Address.Redacted() << ": " << answer.Failure;
        EXPECT_EQ(answer.ExitAddress, "203.0.113.9");
        EXPECT_EQ(answer.Country, "DE");
    }
    ASSERT_EQ(FOrigin.Requests().size(), 3u);
    EXPECT_EQ(FOrigin.Requests()[2].Target, "/check");
}

TEST_F(GatewayCheckTest, ReportsAFailureWithinTheTimeoutAndNeverTheCredentials) {
    FOrigin.Script("/check", Page(server::BuildCheckIpPage("203.0.113.9", std::nullopt)));
    TTinyProxy guarded(FDir, TProxyLogin{"ann", "s3cret"});
    TMicroSocks socks(TProxyLogin{"bob", "pa55"});
    ASSERT_TRUE(guarded.WaitListening(3s) && socks.WaitListening(3s));

    const TCheckAnswer wrongHttp = Check(HttpUpstream(1, guarded.Port(), "annuser", "wrongpass").Address, 3s);
    EXPECT_FALSE(wrongHttp.Answered);
    // tinyproxy asks again for the login (401 or 407, depending on its version).
    EXPECT_NE(wrongHttp.Failure.find(" answered 40"), std::string::npos) << wrongHttp.Failure;
    const TCheckAnswer wrongSocks = Check(SocksUpstream(2, socks.Port(), "bobuser", "wrongpass").Address, 3s);
    EXPECT_FALSE(wrongSocks.Answered);
    for (const TCheckAnswer& answer : {wrongHttp, wrongSocks}) {
        EXPECT_FALSE(answer.Failure.empty());
        EXPECT_EQ(answer.Failure.find("wrongpass"), std::string::npos) << answer.Failure;
        EXPECT_EQ(answer.Failure.find("annuser"), std::string::npos) << answer.Failure;
        EXPECT_EQ(answer.Failure.find("bobuser"), std::string::npos) << answer.Failure;
    }

    const TCheckAnswer refused = Check(HttpUpstream(3, UnusedLoopbackPort()).Address, 1s);
    EXPECT_FALSE(refused.Answered);
    EXPECT_FALSE(refused.Failure.empty());
    TStalledListener stalled;
    if (stalled.Stalled()) {
        const TCheckAnswer silent = Check(HttpUpstream(4, stalled.Port()).Address, 500ms);
        EXPECT_FALSE(silent.Answered);
        EXPECT_NE(silent.Failure.find("500 ms"), std::string::npos) << silent.Failure;
    }
    // A page that names no country still answers, with the address alone.
    const TCheckAnswer noCountry = Check(SocksUpstream(5, socks.Port(), "bob", "pa55").Address, 3s);
    EXPECT_TRUE(noCountry.Answered) << noCountry.Failure;
    EXPECT_EQ(noCountry.ExitAddress, "203.0.113.9");
    EXPECT_EQ(noCountry.Country, "");
}

}  // namespace
}  // namespace cloakline::test
