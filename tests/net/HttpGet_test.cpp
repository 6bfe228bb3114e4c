#include "net/HttpGet.h"

#include <curl/curl.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <map>
#include <optional>
#include <string>
#include <thread>

#include "core/support/TextEncoding.h"
#include "tests/support/LoopbackHttpServer.h"

namespace cloakline::test {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TScriptedResponse Answer(int status, std::string body) {
    TScriptedResponse r;
    r.Status = status;
    r.Body = std::move(body);
    return r;
}

// Short limits, so that the time-out cases end quickly.
THttpGetOptions Quick() {
    THttpGetOptions o;
    o.ConnectTimeout = 300ms;
    o.TotalTimeout = 600ms;
    return o;
}

class HttpGetTest : public ::testing::Test {
  protected:
    TCurlGlobal Curl;
    TLoopbackHttpServer Server;
};

TEST_F(HttpGetTest, ASuccessfulAnswerGivesItsBodyAsSentForAPlainGetOfTheAddress) {
    ASSERT_TRUE(Curl.Ready());
    Server.Script("/getinfo.php", Answer(200, "IP=1.2.3.4\r\nCITY=K\xC3\xB6ln\nX=a=b"));
    const THttpGetResult r = HttpGet(Server.Url("/getinfo.php?MagicWord=w0rd&x=1"));
    ASSERT_TRUE(r.Ok()) << r.Detail;
    EXPECT_EQ(r.Status, 200);
    EXPECT_EQ(r.Body, "IP=1.2.3.4\r\nCITY=K\xC3\xB6ln\nX=a=b");
    const auto requests = Server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Method, "GET");
    EXPECT_EQ(requests[0].Target, "/getinfo.php?MagicWord=w0rd&x=1");
    EXPECT_EQ(requests[0].Header("Host"), "127.0.0.1:" + std::to_string(Server.Port()));
}

TEST_F(HttpGetTest, AnErrorStatusIsAFailureAndItsBodyIsNotKept) {
    for (const int status : {400, 403, 404, 500, 503}) {
        SCOPED_TRACE(status);
        Server.Script("/e", Answer(status, "IP=6.6.6.6"));
        const THttpGetResult r = HttpGet(Server.Url("/e"));
        EXPECT_EQ(r.Error, THttpGetError::KHttpStatus);
        EXPECT_EQ(r.Status, status);
        EXPECT_EQ(r.Body, "");
    }
}

TEST_F(HttpGetTest, AFewRedirectsAreFollowedWithinHttpButNeitherLoopsNorOtherSchemes) {
    TScriptedResponse moved = Answer(302, "moved");
    moved.Headers = {{"Location", "/there"}};
    Server.Script("/here", moved);
    Server.Script("/there", Answer(200, "IP=1.2.3.4"));
    THttpGetResult r = HttpGet(Server.Url("/here"));
    ASSERT_TRUE(r.Ok()) << r.Detail;
    EXPECT_EQ(r.Body, "IP=1.2.3.4") << "the redirect's own body is not part of the answer";

    TScriptedResponse loop = Answer(302, "");
    loop.Headers = {{"Location", "/loop"}};
    Server.Script("/loop", loop);
    r = HttpGet(Server.Url("/loop"));
    EXPECT_EQ(r.Error, THttpGetError::KTooManyRedirects);
    EXPECT_EQ(Server.Requests().size(), 2u + 4u) << "the first request and three redirects";

    TScriptedResponse toFile = Answer(302, "");
    toFile.Headers = {{"Location", "file:///etc/passwd"}};
    Server.Script("/tofile", toFile);
    r = HttpGet(Server.Url("/tofile"));
    EXPECT_FALSE(r.Ok());
    EXPECT_EQ(r.Body, "");

    Server.Script("/nowhere", Answer(302, "IP=6.6.6.6"));
    r = HttpGet(Server.Url("/nowhere"));
    EXPECT_EQ(r.Error, THttpGetError::KHttpStatus) << "a redirect without a target is no answer";
    EXPECT_EQ(r.Status, 302);
    EXPECT_EQ(r.Body, "");
}

TEST_F(HttpGetTest, OnlyHttpAddressesAreFetched) {
    for (const std::string& url :
         {std::string("file:///etc/hostname"), std::string(""),
          "ftp://127.0.0.1:" + std::to_string(Server.Port()) + "/", std::string("not an address")}) {
        SCOPED_TRACE(url);
        const THttpGetResult r = HttpGet(url);
        EXPECT_EQ(r.Error, THttpGetError::KBadAddress) << r.Detail;
        EXPECT_EQ(r.Body, "");
    }
    EXPECT_TRUE(Server.Requests().empty());
}

TEST_F(HttpGetTest, ARefusedConnectionFails) {
    const THttpGetResult r = HttpGet("http://127.0.0.1:" + std::to_string(UnusedLoopbackPort()) + "/");
    EXPECT_EQ(r.Error, THttpGetError::KConnect) << r.Detail;
    EXPECT_EQ(r.Status, 0);
}

TEST_F(HttpGetTest, TheConnectTimeOutBoundsAHandshakeThatGetsNoAnswer) {
    const TStalledListener stalled;
    if (!stalled.Stalled()) {
        GTEST_SKIP() << "this system answers every handshake on loopback";
    }
    THttpGetOptions o;
    o.ConnectTimeout = 200ms;
    o.TotalTimeout = 10s;
    const auto start = Clock::now();
    const THttpGetResult r = HttpGet("http://127.0.0.1:" + std::to_string(stalled.Port()) + "/", o);
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.Error, THttpGetError::KTimeout) << r.Detail;
    EXPECT_GE(took, 150ms);
    EXPECT_LT(took, 3s) << "the connect limit, not the total one, must end it";
}

TEST_F(HttpGetTest, TheTotalTimeOutBoundsASilentServerAndAStallInTheBody) {
    TScriptedResponse silent = Answer(200, "IP=1.2.3.4");
    silent.DelayBeforeHeaders = 5s;
    Server.Script("/silent", silent);
    TScriptedResponse stalls = Answer(200, "IP=1.2.3.4\r\nCITY=Berlin");
    stalls.SplitAt = 5;
    stalls.DelayMidBody = 5s;
    Server.Script("/stalls", stalls);

    for (const char* path : {"/silent", "/stalls"}) {
        SCOPED_TRACE(path);
        const auto start = Clock::now();
        const THttpGetResult r = HttpGet(Server.Url(path), Quick());
        const auto took = Clock::now() - start;
        EXPECT_EQ(r.Error, THttpGetError::KTimeout) << r.Detail;
        EXPECT_EQ(r.Body, "") << "a partial body is not an answer";
        EXPECT_GE(took, 500ms);
        EXPECT_LT(took, 3s);
    }
}

TEST_F(HttpGetTest, AConnectionClosedBeforeTheAnnouncedEndIsAFailure) {
    TScriptedResponse cut = Answer(200, "IP=1.2.3.4\r\nCITY=Berlin");
    cut.SplitAt = 12;
    cut.CloseMidBody = true;
    Server.Script("/cut", cut);
    const THttpGetResult r = HttpGet(Server.Url("/cut"));
    EXPECT_EQ(r.Error, THttpGetError::KTransfer) << r.Detail;
    EXPECT_EQ(r.Body, "");
}

TEST_F(HttpGetTest, TheBodyIsCappedWhetherItsLengthIsAnnouncedOrNot) {
    THttpGetOptions o;
    o.MaxBodyBytes = 64 * 1024;
    Server.Script("/full", Answer(200, std::string(o.MaxBodyBytes, 'a')));
    THttpGetResult r = HttpGet(Server.Url("/full"), o);
    ASSERT_TRUE(r.Ok()) << r.Detail;
    EXPECT_EQ(r.Body.size(), o.MaxBodyBytes);

    Server.Script("/over", Answer(200, std::string(o.MaxBodyBytes + 1, 'a')));
    r = HttpGet(Server.Url("/over"), o);
    EXPECT_EQ(r.Error, THttpGetError::KTooLarge) << r.Detail;
    EXPECT_EQ(r.Body, "");

    TScriptedResponse endless = Answer(200, std::string(8u << 20, 'x'));
    endless.AnnounceLength = false;
    Server.Script("/endless", endless);
    r = HttpGet(Server.Url("/endless"), o);
    EXPECT_EQ(r.Error, THttpGetError::KTooLarge) << r.Detail;
    EXPECT_EQ(r.Body, "");
}

TEST_F(HttpGetTest, BytesThatAreNotUtf8AreReadAsWindows1252) {
    Server.Script("/ansi", Answer(200, "CITY=M\xFCnchen\r\nX=\x80\x9F"));
    THttpGetResult r = HttpGet(Server.Url("/ansi"));
    ASSERT_TRUE(r.Ok()) << r.Detail;
    EXPECT_EQ(r.Body, "CITY=M\xC3\xBCnchen\r\nX=\xE2\x82\xAC\xC5\xB8");

    Server.Script("/bom", Answer(200, "\xEF\xBB\xBFIP=1.2.3.4"));
    r = HttpGet(Server.Url("/bom"));
    EXPECT_EQ(r.Body, "IP=1.2.3.4");

    std::string binary;
    for (int round = 0; round < 4; ++round) {
        for (int b = 0; b < 256; ++b) {
            binary.push_back(static_cast<char>(b));
        }
    }
    Server.Script("/binary", Answer(200, binary));
    r = HttpGet(Server.Url("/binary"));
    ASSERT_TRUE(r.Ok()) << r.Detail;
    EXPECT_TRUE(IsValidUtf8(r.Body));
    EXPECT_EQ(r.Body, AnsiToUtf8(binary)) << "every byte is kept, NUL included";
}

TEST_F(HttpGetTest, TheAbortFlagCutsATransferShortAndStopsOneBeforeItStarts) {
    TScriptedResponse slow = Answer(200, "IP=1.2.3.4");
    slow.DelayBeforeHeaders = 10s;
    Server.Script("/slow", slow);
    std::atomic<bool> abort{false};
    THttpGetOptions o;
    o.Abort = &abort;

    std::optional<THttpGetResult> r;
    const auto start = Clock::now();
    std::thread worker([&] { r = HttpGet(Server.Url("/slow"), o); });
    ASSERT_TRUE(Server.WaitForRequests(1, 5s));
    abort = true;
    worker.join();
    EXPECT_LT(Clock::now() - start, 4s);
    ASSERT_TRUE(r.has_value());
    EXPECT_EQ(r->Error, THttpGetError::KAborted) << r->Detail;

    Server.Script("/other", Answer(200, "IP=1.2.3.4"));
    EXPECT_EQ(HttpGet(Server.Url("/other"), o).Error, THttpGetError::KAborted);
    EXPECT_EQ(Server.Requests().size(), 1u) << "an aborted client sends nothing";
}

// Sets environment variables for the scope and puts the old values back.
class ScopedEnv {
  public:
    explicit ScopedEnv(const std::map<std::string, std::string>& values) {
        for (const auto& [name, value] : values) {
            const char* old = std::getenv(name.c_str());
            FOld[name] = old ? std::optional<std::string>(old) : std::nullopt;
            setenv(name.c_str(), value.c_str(), 1);
        }
    }
    ~ScopedEnv() {
        for (const auto& [name, old] : FOld) {
            if (old) {
                setenv(name.c_str(), old->c_str(), 1);
            } else {
                unsetenv(name.c_str());
            }
        }
    }

  private:
    std::map<std::string, std::optional<std::string>> FOld;
};

// What a client that follows the environment does: it sends the request to the proxy.
std::string PlainCurlGet(const std::string& url) {
    CURL* h = curl_easy_init();
    curl_easy_setopt(h, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, 5000L);
    curl_easy_setopt(
        h, CURLOPT_WRITEFUNCTION,
        +[](char*, std::size_t size, std::size_t count, void*) { return size * count; });
    const CURLcode code = curl_easy_perform(h);
    curl_easy_cleanup(h);
    return curl_easy_strerror(code);
}

TEST_F(HttpGetTest, NeverGoesThroughTheProxyThatTheEnvironmentNames) {
    TLoopbackHttpServer proxy;
    proxy.Script("/info", Answer(200, "IP=6.6.6.6"));
    Server.Script("/info", Answer(200, "IP=1.2.3.4"));
    const std::string proxyUrl = proxy.Url("");
    const ScopedEnv env({{"http_proxy", proxyUrl},
                         {"HTTP_PROXY", proxyUrl},
                         {"https_proxy", proxyUrl},
                         {"ALL_PROXY", proxyUrl},
                         {"all_proxy", proxyUrl},
                         {"no_proxy", ""},
                         {"NO_PROXY", ""}});

    // The proxy set-up is real: a client that follows the environment uses it.
    PlainCurlGet(Server.Url("/info"));
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].Target, Server.Url("/info"));
    ASSERT_TRUE(Server.Requests().empty());

    const THttpGetResult r = HttpGet(Server.Url("/info"));
    ASSERT_TRUE(r.Ok()) << r.Detail;
    EXPECT_EQ(r.Body, "IP=1.2.3.4");
    EXPECT_EQ(proxy.Requests().size(), 1u);
    ASSERT_EQ(Server.Requests().size(), 1u);
    EXPECT_EQ(Server.Requests()[0].Target, "/info");
}

}  // namespace
}  // namespace cloakline::test
