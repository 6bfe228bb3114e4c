// The gateway's protocol handling against real peers: curl as the browser,
// tinyproxy and microsocks as upstreams, a loopback origin server.
#include "gateway/Gateway.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/gateway/GatewayHarness.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/TinyProxy.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;

class GatewayTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!TTinyProxy::Installed() || !TMicroSocks::Installed()) {
            GTEST_SKIP() << "tinyproxy or microsocks is not installed";
        }
        FOrigin.Script("/page", Page("hello from the origin"));
    }

    void Start(gateway::TGatewayLimits limits = {}) {
        FGateway = std::make_unique<gateway::TGateway>(FMain.Poster(), limits);
        std::string error;
        FPort = FGateway->Listen(0, error);
        ASSERT_NE(FPort, 0) << error;
    }

    std::string Gateway() const { return "http://127.0.0.1:" + std::to_string(FPort); }
    std::string Socks() const { return "127.0.0.1:" + std::to_string(FPort); }

    TempDir FDir;
    TLoopbackHttpServer FOrigin;
    TMainQueue FMain;
    std::unique_ptr<gateway::TGateway> FGateway;
    std::uint16_t FPort = 0;
};

TEST_F(GatewayTest, ListensOnLoopbackOnTheWishedPortOrAFreeOne) {
    gateway::TGateway first(FMain.Poster());
    std::string error;
    const std::uint16_t wished = UnusedLoopbackPort();
    ASSERT_EQ(first.Listen(wished, error), wished) << error;
    EXPECT_EQ(first.Port(), wished);
    EXPECT_EQ(first.Listen(wished + 1, error), wished) << "listening already keeps the port";

    gateway::TGateway second(FMain.Poster());
    const std::uint16_t other = second.Listen(wished, error);
    EXPECT_NE(other, 0) << error;
    EXPECT_NE(other, wished);
    EXPECT_TRUE(WaitLoopbackPort(other, 1s));
}

TEST_F(GatewayTest, ForwardsPlainRequestsAndTunnelsThroughTinyproxy) {
    TTinyProxy tinyproxy(FDir);
    ASSERT_TRUE(tinyproxy.WaitListening(3s));
    Start();
    FGateway->SetUpstreams(HttpUpstream(1, tinyproxy.Port()), std::nullopt);

    const TCurlRun plain = RunCurl(FDir, {"-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(plain.Exit, 0) << plain.Err;
    EXPECT_EQ(plain.Out, "hello from the origin");

    const TCurlRun tunnel = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(tunnel.Exit, 0) << tunnel.Err;
    EXPECT_EQ(tunnel.Out, "hello from the origin");

    const auto requests = FOrigin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const TRecordedRequest& request : requests) {
        EXPECT_EQ(request.Target, "/page");
        EXPECT_EQ(request.Header("Proxy-Connection"), "");
    }
}

TEST_F(GatewayTest, AddsBasicCredentialsTowardsTheUpstreamOnly) {
    TTinyProxy tinyproxy(FDir, TProxyLogin{"ann", "s3cret"});
    ASSERT_TRUE(tinyproxy.WaitListening(3s));
    Start();

    // Without the login tinyproxy refuses: the credentials do make the difference.
    FGateway->SetUpstreams(HttpUpstream(1, tinyproxy.Port()), std::nullopt);
    const TCurlRun refused = RunCurl(FDir, {"-x", Gateway(), "-w", "%{http_code}", FOrigin.Url("/page")});
    EXPECT_EQ(refused.Out.substr(refused.Out.size() - 3), "407");
    EXPECT_EQ(FOrigin.Requests().size(), 0u);

    FGateway->SetUpstreams(HttpUpstream(2, tinyproxy.Port(), "ann", "s3cret"), std::nullopt);
    const TCurlRun plain = RunCurl(FDir, {"-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(plain.Exit, 0) << plain.Err;
    EXPECT_EQ(plain.Out, "hello from the origin");
    const TCurlRun tunnel = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(tunnel.Exit, 0) << tunnel.Err;
    EXPECT_EQ(tunnel.Out, "hello from the origin");

    const auto requests = FOrigin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const TRecordedRequest& request : requests) {
        EXPECT_EQ(request.Header("Proxy-Authorization"), "");
    }
}

TEST_F(GatewayTest, CarriesHttpAndSocksClientsThroughASocks5UpstreamWithLogin) {
    TMicroSocks microsocks(TProxyLogin{"bob", "pa55"});
    ASSERT_TRUE(microsocks.WaitListening(3s));
    Start();
    FGateway->SetUpstreams(SocksUpstream(1, microsocks.Port(), "bob", "pa55"), std::nullopt);

    const TCurlRun plain = RunCurl(FDir, {"-x", Gateway(), FOrigin.Url("/page?a=1")});
    EXPECT_EQ(plain.Exit, 0) << plain.Err;
    EXPECT_EQ(plain.Out, "hello from the origin");
    const TCurlRun tunnel = RunCurl(FDir, {"-p", "-x", Gateway(), FOrigin.Url("/page")});
    EXPECT_EQ(tunnel.Exit, 0) << tunnel.Err;
    // The name stays a name up to the SOCKS5 upstream, which resolves it.
    const std::string byName = "http://localhost:" + std::to_string(FOrigin.Port()) + "/page";
    const TCurlRun socks = RunCurl(FDir, {"--socks5-hostname", Socks(), byName});
    EXPECT_EQ(socks.Exit, 0) << socks.Err;
    EXPECT_EQ(socks.Out, "hello from the origin");

    const auto requests = FOrigin.Requests();
    ASSERT_EQ(requests.size(), 3u);
    // Through SOCKS5 a plain request goes in origin form.
    EXPECT_EQ(requests[0].Target, "/page?a=1");
    EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(FOrigin.Port()));
}

TEST_F(GatewayTest, PassesRequestBodiesIntactAndKeepsTheBrowserConnectionAlive) {
    TTinyProxy tinyproxy(FDir);
    ASSERT_TRUE(tinyproxy.WaitListening(3s));
    Start();
    FGateway->SetUpstreams(HttpUpstream(1, tinyproxy.Port()), std::nullopt);
    FOrigin.Script("/upload", Page("stored"));

    std::string body;
    // Under the origin's 64 KiB limit for bodies of announced length.
    for (int i = 0; i < 30000; ++i) {
        body += static_cast<char>('a' + i % 26);
        body += static_cast<char>(i % 256);
    }
    FDir.WriteFile("body.bin", body);
    const TCurlRun chunked =
        RunCurl(FDir, {"-x", Gateway(), "-H", "Transfer-Encoding: chunked", "--data-binary",
                       "@" + FDir.Path() + "/body.bin", FOrigin.Url("/upload")});
    EXPECT_EQ(chunked.Exit, 0) << chunked.Err;
    EXPECT_EQ(chunked.Out, "stored");
    const TCurlRun sized = RunCurl(
        FDir, {"-x", Gateway(), "--data-binary", "@" + FDir.Path() + "/body.bin", FOrigin.Url("/upload")});
    EXPECT_EQ(sized.Exit, 0) << sized.Err;
    auto requests = FOrigin.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Transfer-Encoding"), "chunked");
    EXPECT_TRUE(requests[0].Body == body) << "chunked body of " << requests[0].Body.size() << " bytes";
    EXPECT_TRUE(requests[1].Body == body) << "sized body of " << requests[1].Body.size() << " bytes";

    // The origin closes after each answer; the browser's connection stays.
    const TCurlRun twice = RunCurl(FDir, {"-v", "-x", Gateway(), FOrigin.Url("/page"), FOrigin.Url("/page")});
    EXPECT_EQ(twice.Exit, 0) << twice.Err;
    EXPECT_EQ(twice.Out, "hello from the originhello from the origin");
    EXPECT_NE(twice.Err.find("Re-using existing connection"), std::string::npos) << twice.Err;
}

TEST_F(GatewayTest, RefusesWhatIsNoProxyRequest) {
    gateway::TGatewayLimits limits;
    limits.MaxHeadBytes = 2048;
    Start(limits);

    const TRawExchange garbage = ExchangeRaw(FPort, "\x16\x03\x01 hello there\r\n\r\n", 3s);
    EXPECT_TRUE(garbage.Reply.starts_with("HTTP/1.1 400 ")) << garbage.Reply;
    EXPECT_TRUE(garbage.Closed);

    const TRawExchange originForm = ExchangeRaw(FPort, "GET /page HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 3s);
    EXPECT_TRUE(originForm.Reply.starts_with("HTTP/1.1 400 ")) << originForm.Reply;
    EXPECT_TRUE(originForm.Closed);

    const TRawExchange huge = ExchangeRaw(
        FPort, "GET http://127.0.0.1/ HTTP/1.1\r\nX-Big: " + std::string(4000, 'x') + "\r\n\r\n", 3s);
    EXPECT_TRUE(huge.Reply.starts_with("HTTP/1.1 431 ")) << huge.Reply;
    EXPECT_TRUE(huge.Closed);

    // SOCKS5: BIND is not served; a client that offers only user/password is turned away.
    const std::string bind("\x05\x01\x00\x05\x02\x00\x01\x7f\x00\x00\x01\x00\x50", 13);
    const TRawExchange bound = ExchangeRaw(FPort, bind, 3s);
    ASSERT_GE(bound.Reply.size(), 4u);
    EXPECT_EQ(bound.Reply.substr(0, 2), std::string("\x05\x00", 2));
    EXPECT_EQ(bound.Reply[3], '\x07');
    EXPECT_TRUE(bound.Closed);
    const TRawExchange loginOnly = ExchangeRaw(FPort, std::string("\x05\x01\x02", 3), 3s);
    EXPECT_EQ(loginOnly.Reply, std::string("\x05\xff", 2));
    EXPECT_TRUE(loginOnly.Closed);
    EXPECT_EQ(FOrigin.Requests().size(), 0u);
}

TEST_F(GatewayTest, ClosesAClientThatStallsOrIdles) {
    TTinyProxy tinyproxy(FDir);
    ASSERT_TRUE(tinyproxy.WaitListening(3s));
    gateway::TGatewayLimits limits;
    limits.RequestHead = 300ms;
    limits.Idle = 300ms;
    Start(limits);
    FGateway->SetUpstreams(HttpUpstream(1, tinyproxy.Port()), std::nullopt);
    // Answered and kept alive, then closed once it idles.
    const TRawExchange idle =
        ExchangeRaw(FPort, "GET " + FOrigin.Url("/page") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 3s);
    EXPECT_TRUE(idle.Reply.starts_with("HTTP/1.1 200 ")) << idle.Reply;
    EXPECT_TRUE(idle.Reply.ends_with("hello from the origin"));
    EXPECT_EQ(idle.Reply.find("Connection: close"), std::string::npos);
    EXPECT_TRUE(idle.Closed);

    // Half a request head, then nothing: closed within 3 s, with nothing sent.
    const TRawExchange http = ExchangeRaw(FPort, "GET http://127.0.0.1/ HTTP/1.1\r\nHost: 127.0.0.1\r\n", 3s);
    EXPECT_TRUE(http.Closed);
    EXPECT_EQ(http.Reply, "");
    const TRawExchange silent = ExchangeRaw(FPort, "", 3s);
    EXPECT_TRUE(silent.Closed);
    const TRawExchange socks = ExchangeRaw(FPort, std::string("\x05\x01", 2), 3s);
    EXPECT_TRUE(socks.Closed);
    EXPECT_EQ(socks.Reply, "");
}

}  // namespace
}  // namespace cloakline::test
