#include <gtest/gtest.h>

#include <QToolButton>
#include <filesystem>

#include "platform/linux/KdeProxySettings.h"
#include "tests/e2e/LoopbackProduct.h"
#include "tests/support/ModalBoxRecorder.h"

namespace cloakline::test {
namespace {

namespace fs = std::filesystem;

// A KDE session on a home that has never had KDE's proxy settings file;
// Chromium in KDE mode reads only that file.
class ChromiumKdeFollowsHideTest : public LoopbackProductTest {
  protected:
    std::vector<TDemoProxy> DemoProxies() const override {
        std::vector<TDemoProxy> proxies;
        proxies.push_back({"US", "United States", "Washington", "127.0.0.71", false, 0, nullptr});
        return proxies;
    }
};

TEST_F(ChromiumKdeFollowsHideTest, TheSettingsFileIsMadeAtHideAndStopLeavesChromiumDirect) {
    ASSERT_STREQ(std::getenv("XDG_CURRENT_DESKTOP"), "KDE");
    ASSERT_STREQ(std::getenv("KDE_SESSION_VERSION"), "5");
    const fs::path kioslaverc = fs::path(std::getenv("XDG_CONFIG_HOME")) / "kioslaverc";
    ModalBoxRecorder boxes;
    TfrmMain& main = Start();
    ASSERT_NO_FATAL_FAILURE(WaitUntilReady(main));
    EXPECT_FALSE(fs::exists(kioslaverc)) << "the start's Stop has nothing to clear";
    TCheckIpView page = Browse();
    EXPECT_EQ(page.IP, "127.0.0.1") << page.Page;

    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_TRUE(main.Hider().IsHiding()) << boxes.Texts.join(" | ").toStdString();
    const TProxyRec target = main.ProxyManager()->TargetProxy();
    EXPECT_EQ(ReadKdeProxy(SystemGetenv), target.ProxyText());
    page = Browse();
    EXPECT_EQ(page.IP, Proxies.front().Outgoing) << page.Page;

    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_FALSE(main.Hider().IsHiding());
    // The user had no such file: Stop takes away the one Hide made.
    EXPECT_EQ(ReadKdeProxy(SystemGetenv), std::nullopt);
    EXPECT_FALSE(fs::exists(kioslaverc));
    page = Browse();
    EXPECT_EQ(page.IP, "127.0.0.1") << page.Page;
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace cloakline::test
