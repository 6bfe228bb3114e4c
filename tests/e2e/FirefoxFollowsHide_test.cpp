#include <gtest/gtest.h>

#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/e2e/LoopbackProduct.h"
#include "tests/support/LoopbackHttpServer.h"
#include "tests/support/ModalBoxRecorder.h"

namespace cloakline::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kDirect = "127.0.0.1";

std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Firefox as a user has it: a profile of its own that was never told about
// proxies, headless, on a page that reloads every second from a loopback
// server reached by host name, which notes where each request came from.
class FirefoxFollowsHideTest : public LoopbackProductTest {
  protected:
    std::vector<TDemoProxy> DemoProxies() const override {
        std::vector<TDemoProxy> proxies;
        proxies.push_back({"US", "United States", "Washington", "127.0.0.61", false, 0, nullptr});
        return proxies;
    }

    void SetUp() override {
        FirefoxProgram = FindOnPath("firefox-esr");
        if (FirefoxProgram.empty()) {
            GTEST_SKIP() << "needs firefox-esr (scripts/setup.sh installs it)";
        }
        LoopbackProductTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) {
            return;
        }
        TScriptedResponse page;
        page.Body =
            "<!DOCTYPE html><html><head><meta http-equiv=\"refresh\" content=\"1\">"
            "<link rel=\"icon\" href=\"data:,\"></head><body>reloading</body></html>";
        page.Headers = {{"Content-Type", "text/html"}, {"Cache-Control", "no-store"}};
        Page.Script("/page", page);
        // The profile is listed where the program looks for it; Firefox fills it at its first start.
        const fs::path firefox = fs::path(std::getenv("HOME")) / ".mozilla/firefox";
        Profile = (firefox / "e2e.default").string();
        fs::create_directories(Profile);
        std::ofstream(firefox / "profiles.ini") << "[Profile0]\nName=e2e\nIsRelative=1\nPath=e2e.default\n"
                                                   "Default=1\n\n[General]\nStartWithLastProfile=1\n";
    }

    std::unique_ptr<TChildProcess> StartFirefox() {
        const std::string url = "http://" + Host + ":" + std::to_string(Page.Port()) + "/page";
        return std::make_unique<TChildProcess>(
            FirefoxProgram, std::vector<std::string>{"--headless", "--no-remote", "--profile", Profile, url},
            Work.Sub("firefox-" + std::to_string(++Starts) + ".log"));
    }

    // A request that came in after the first `from` ones was sent from address.
    bool ArrivedFrom(const std::string& address, std::size_t from) const {
        const std::vector<TRecordedRequest> requests = Page.Requests();
        for (std::size_t i = from; i < requests.size(); ++i) {
            if (requests[i].Peer == address) {
                return true;
            }
        }
        return false;
    }
    std::size_t RequestCount() const { return Page.Requests().size(); }

    void ClickHideOrStop(TfrmMain& main) {
        WaitPastPaceRule();
        main.findChild<QToolButton*>("btnHide")->click();
    }

    TLoopbackHttpServer Page;
    std::string FirefoxProgram;
    std::string Profile;
    int Starts = 0;
};

TEST_F(FirefoxFollowsHideTest, ARunningFirefoxFollowsHideAndStopAndSoDoesOneRestartedWhileHiding) {
    ModalBoxRecorder boxes;
    TfrmMain& main = Start();
    ASSERT_NO_FATAL_FAILURE(WaitUntilReady(main));
    const std::string outgoing = Proxies.front().Outgoing;
    const std::string userJs = Profile + "/user.js";

    std::unique_ptr<TChildProcess> firefox = StartFirefox();
    ASSERT_TRUE(firefox->Started());
    // A first start on a busy machine takes its time.
    ASSERT_TRUE(WaitUntil([&] { return ArrivedFrom(kDirect, 0); }, 90000)) << firefox->Log();

    std::size_t before = RequestCount();
    ClickHideOrStop(main);
    ASSERT_TRUE(main.Hider().IsHiding()) << boxes.Texts.join(" | ").toStdString();
    EXPECT_TRUE(WaitUntil([&] { return ArrivedFrom(outgoing, before); }, 10000))
        << "the running Firefox did not follow Hide within 10 s";
    // A profile that follows the desktop gets only the leak guard.
    const std::string guard = ReadText(userJs);
    EXPECT_EQ(guard.find("network.proxy.type"), std::string::npos) << guard;
    EXPECT_NE(guard.find("user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", true);"),
              std::string::npos)
        << guard;

    before = RequestCount();
    ClickHideOrStop(main);
    ASSERT_FALSE(main.Hider().IsHiding());
    EXPECT_TRUE(WaitUntil([&] { return ArrivedFrom(kDirect, before); }, 10000))
        << "the running Firefox did not follow Stop within 10 s";

    // Restarted while hiding, it starts on the proxy, and Stop still reaches it.
    ClickHideOrStop(main);
    ASSERT_TRUE(main.Hider().IsHiding());
    firefox.reset();
    before = RequestCount();
    firefox = StartFirefox();
    ASSERT_TRUE(firefox->Started());
    EXPECT_TRUE(WaitUntil([&] { return ArrivedFrom(outgoing, before); }, 90000)) << firefox->Log();
    EXPECT_FALSE(ArrivedFrom(kDirect, before)) << "the restarted Firefox went direct while hiding";

    before = RequestCount();
    ClickHideOrStop(main);
    ASSERT_FALSE(main.Hider().IsHiding());
    EXPECT_TRUE(WaitUntil([&] { return ArrivedFrom(kDirect, before); }, 10000))
        << "the restarted Firefox did not follow Stop within 10 s";
    firefox.reset();
    // Stopped while that Firefox ran: the next switch cleans what it may
    // have copied into prefs.js, and the block goes.
    WaitPastPaceRule();
    main.Hider().actStopHideExecute();
    EXPECT_FALSE(fs::exists(userJs)) << ReadText(userJs);
    EXPECT_EQ(ReadText(Profile + "/prefs.js").find("proxy_only_if_behind_proxy"), std::string::npos);
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace cloakline::test
