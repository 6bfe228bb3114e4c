#include <gtest/gtest.h>

#include <QLabel>
#include <QSystemTrayIcon>
#include <QToolButton>

#include "tests/e2e/ChromiumTabs.h"
#include "tests/e2e/LoopbackProduct.h"
#include "tests/support/ModalBoxRecorder.h"

namespace cloakline::test {
namespace {

class HiddenBrowsersTest : public LoopbackProductTest {
  protected:
    std::vector<TDemoProxy> DemoProxies() const override {
        std::vector<TDemoProxy> proxies;
        proxies.push_back({"US", "United States", "Washington", "127.0.0.31", false, 0, nullptr});
        proxies.push_back({"US", "United States", "New York", "127.0.0.32", false, 0, nullptr});
        return proxies;
    }

    static std::string Lines(const TfrmMain& main) {
        std::string all;
        for (const TBrowserLine& line : main.BrowsersView()->Shown().Lines) {
            all += line.Text + "\n";
        }
        return all;
    }
};

// Hiding through the gateway, a headless Chromium that loads a page through
// it is listed as sending through the gateway's upstream; the list and the
// tooltip go with Stop.
TEST_F(HiddenBrowsersTest, ARunningChromiumIsListedAsGoingThroughTheGateway) {
    ModalBoxRecorder boxes;
    TKTSettings& settings = GlobalSettings();
    settings.SetSettingBool("Gateway.Enabled", true);
    settings.SetSettingInteger("Gateway.Port", FreeLoopbackPort());
    GatewayFactory = LocalGatewayFactory();
    TfrmMain& main = Start();
    ASSERT_NO_FATAL_FAILURE(WaitUntilReady(main));
    auto& list = *main.findChild<QLabel*>("lblHiddenBrowsers");
    auto& tray = *main.findChild<QSystemTrayIcon*>("spTrayIcon");
    const QString trayText = tray.toolTip();
    EXPECT_FALSE(list.isVisible());

    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_TRUE(WaitUntil([&] { return main.Hider().IsHiding(); }, 20000))
        << boxes.Texts.join(" | ").toStdString();
    ASSERT_TRUE(main.Hider().HidingThroughGateway());
    ASSERT_TRUE(WaitUntil([&] { return list.isVisible(); }, 2000));
    EXPECT_NE(Lines(main).find("Chromium: hidden (follows the system proxy settings)"), std::string::npos)
        << Lines(main);
    EXPECT_NE(tray.toolTip(), trayText);
    EXPECT_TRUE(tray.toolTip().startsWith(trayText)) << tray.toolTip().toStdString();

    // Chromium keeps its connection to the proxy open for the next page.
    TRunningChromium chromium(Chromium, Work.Sub("chromium/running"), Work.Sub("chromium/running.log"));
    ASSERT_TRUE(chromium.WaitReady(30000)) << chromium.Log();
    // On a busy machine a check may fail and the gateway fail closed for a
    // moment: only a page that came through a proxy counts.
    bool through = false;
    std::string expected;
    for (int attempt = 0; attempt < 10 && !through; ++attempt) {
        const TTabView tab = chromium.Open(CheckIpUrl, 30000);
        ASSERT_TRUE(tab.Loaded) << tab.Failure;
        if (tab.IP.empty()) {
            PumpFor(500);
            continue;
        }
        main.BrowsersView()->RefreshNow();
        expected = "Chromium: through " + main.ProxyManager()->TargetProxy().IP + " (United States)";
        through = Lines(main).find(expected) != std::string::npos;
    }
    EXPECT_TRUE(through) << expected << "\n" << Lines(main);
    EXPECT_TRUE(main.BrowsersView()->Shown().Lines.front().Hidden);
    EXPECT_EQ(list.text().count(QStringLiteral("<br>")) + 1,
              static_cast<qsizetype>(main.BrowsersView()->Shown().Lines.size()));

    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_TRUE(WaitUntil([&] { return !main.Hider().IsHiding() && !list.isVisible(); }, 5000));
    EXPECT_EQ(tray.toolTip(), trayText);
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace cloakline::test
