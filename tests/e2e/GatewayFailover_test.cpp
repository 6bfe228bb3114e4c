#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QToolButton>
#include <algorithm>

#include "platform/linux/GnomeProxySettings.h"
#include "tests/e2e/ChromiumTabs.h"
#include "tests/e2e/LoopbackProduct.h"
#include "tests/support/ModalBoxRecorder.h"
#include "ui/KTEngine.h"

namespace cloakline::test {
namespace {

// Two ordinary proxies in the United States, so that the gateway has a
// standby of the same country when the current one dies, and one in Germany
// that it must never fall back to.
class GatewayFailoverTest : public LoopbackProductTest {
  protected:
    std::vector<TDemoProxy> DemoProxies() const override {
        std::vector<TDemoProxy> proxies;
        proxies.push_back({"US", "United States", "Washington", "127.0.0.21", false, 0, nullptr});
        proxies.push_back({"US", "United States", "New York", "127.0.0.22", false, 0, nullptr});
        proxies.push_back({"DE", "Germany", "Berlin", "127.0.0.23", false, 0, nullptr});
        return proxies;
    }

    TDemoProxy& OtherAmerican(const TDemoProxy& one) { return &one == &Proxies[0] ? Proxies[1] : Proxies[0]; }

    // The start of a page, for a failure message (error pages are long).
    static std::string Brief(const TTabView& tab) { return tab.Url + "\n" + tab.Html.substr(0, 600); }

    static std::string Joined(const std::vector<std::string>& texts) {
        std::string joined;
        for (const std::string& text : texts) {
            joined += " " + text;
        }
        return joined;
    }
};

TEST_F(GatewayFailoverTest, TheGatewayMovesToTheStandbyOfTheSameCountryAndFailsClosedWhenNoneIsLeft) {
    ModalBoxRecorder boxes;
    TKTSettings& settings = GlobalSettings();
    settings.SetSettingBool("Gateway.Enabled", true);
    // A port of this test's own: other tests may run a gateway beside it.
    const int gatewayPort = FreeLoopbackPort();
    settings.SetSettingInteger("Gateway.Port", gatewayPort);
    GatewayFactory = LocalGatewayFactory();
    TfrmMain& main = Start();
    ASSERT_NO_FATAL_FAILURE(WaitUntilReady(main));
    TProxyManager& manager = *main.ProxyManager();
    ASSERT_EQ(manager.GetcountryListCount("US", true), 2);
    ASSERT_EQ(manager.TargetCountry(), "US");
    auto& btnHide = *main.findChild<QToolButton*>("btnHide");

    // Hide checks the candidate through the gateway before the browsers
    // follow, so it may take a moment.
    WaitPastPaceRule();
    btnHide.click();
    ASSERT_TRUE(WaitUntil([&] { return main.Hider().IsHiding(); }, 20000))
        << boxes.Texts.join(" | ").toStdString();
    const std::string gateway = "127.0.0.1:" + std::to_string(settings.GetSettingInteger("Gateway.Port"));
    EXPECT_EQ(settings.GetSettingInteger("Gateway.Port"), gatewayPort) << "the port was free";
    ASSERT_EQ(ReadGnomeProxy(), gateway) << "the browsers go through the gateway, not the proxy itself";
    const TProxyRec first = manager.TargetProxy();
    ASSERT_EQ(first.Country_Short, "US");
    TDemoProxy& dying = ProxyAt(first);
    TDemoProxy& standby = OtherAmerican(dying);
    EXPECT_EQ(Card(TFlashCard::Target).IP, first.IP);
    EXPECT_EQ(Card(TFlashCard::Target).Country, "United States");

    // One browser for the rest of the hiding: a page loads in a new tab
    // within a fraction of a second, without a browser start each time.
    TRunningChromium chromium(Chromium, Work.Sub("chromium/running"), Work.Sub("chromium/running.log"));
    ASSERT_TRUE(chromium.WaitReady(30000)) << chromium.Log();
    TTabView tab = chromium.Open(CheckIpUrl, 30000);
    ASSERT_TRUE(tab.Loaded) << tab.Failure;
    EXPECT_EQ(tab.IP, dying.Outgoing) << Brief(tab);
    EXPECT_EQ(tab.Country, "US");

    // The current upstream dies: the page comes through the standby within
    // 2 s of the kill, and the window follows, with no action of the user.
    QElapsedTimer sinceKill;
    sinceKill.start();
    ASSERT_TRUE(dying.Process->KillHard()) << "tinyproxy at " << dying.Address() << " did not die";
    std::vector<std::string> seen;
    bool throughStandby = false;
    while (!throughStandby && sinceKill.elapsed() < 2000) {
        tab = chromium.Open(CheckIpUrl, static_cast<int>(std::max<qint64>(2000 - sinceKill.elapsed(), 1)));
        if (tab.Loaded) {
            seen.push_back(tab.IP.empty() ? tab.Url + " (status " + std::to_string(tab.Status) + ")"
                                          : tab.IP);
            throughStandby = tab.IP == standby.Outgoing;
        }
    }
    const qint64 pageAfter = sinceKill.elapsed();
    const bool cardFollowed = WaitUntil([&] { return Card(TFlashCard::Target).IP == standby.Outgoing; },
                                        static_cast<int>(std::max<qint64>(2000 - sinceKill.elapsed(), 0)));
    std::string shown = Joined(seen);
    EXPECT_TRUE(throughStandby) << "pages seen within 2 s of the kill:" << shown << "; last: " << tab.Failure;
    EXPECT_TRUE(cardFollowed) << "the card shows " << Card(TFlashCard::Target).IP << " " << pageAfter
                              << " ms after the kill";
    EXPECT_EQ(std::count(seen.begin(), seen.end(), "127.0.0.1"), 0) << "went direct:" << shown;
    EXPECT_EQ(std::count(seen.begin(), seen.end(), Proxies[2].Outgoing), 0) << "left the country:" << shown;
    EXPECT_EQ(Card(TFlashCard::Target).Country, "United States");
    EXPECT_TRUE(Card(TFlashCard::Target).Display);
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(ReadGnomeProxy(), gateway) << "the browsers' settings stay as they were";

    // Every proxy of the country is gone: the gateway answers with its own
    // 503 page, never through Germany and never direct.
    ASSERT_TRUE(standby.Process->KillHard()) << "tinyproxy at " << standby.Address() << " did not die";
    QElapsedTimer sinceSecondKill;
    sinceSecondKill.start();
    bool failedClosed = false;
    seen.clear();
    while (!failedClosed && sinceSecondKill.elapsed() < 15000) {
        tab = chromium.Open(CheckIpUrl, 10000);
        ASSERT_TRUE(tab.Loaded) << tab.Failure;
        EXPECT_EQ(tab.IP, "") << "a page came through " << tab.IP << " with every American proxy dead";
        seen.push_back(tab.Url + " (status " + std::to_string(tab.Status) + ")");
        failedClosed = tab.Status == 503 && tab.Url == CheckIpUrl;
        if (!failedClosed) {
            PumpFor(100);
        }
    }
    shown = Joined(seen);
    EXPECT_TRUE(failedClosed) << "pages seen:" << shown << "\n" << Brief(tab);
    EXPECT_EQ(tab.Html.find("id=\"ip\""), std::string::npos) << Brief(tab);
    ASSERT_NE(GlobalEngine(), nullptr);
    const std::string title = GlobalEngine()->GetAppString("Gateway.PageTitle");
    EXPECT_FALSE(title.empty());
    EXPECT_NE(tab.Html.find("<title>" + title + "</title>"), std::string::npos)
        << "the gateway's own page, in the program's language: " << Brief(tab);
    EXPECT_TRUE(main.Hider().IsHiding()) << "the gateway fails closed; the user decides when to stop";
    EXPECT_EQ(ReadGnomeProxy(), gateway);

    // Stop: direct again.
    WaitPastPaceRule();
    btnHide.click();
    ASSERT_TRUE(WaitUntil([&] { return !main.Hider().IsHiding(); }, 5000));
    EXPECT_EQ(ReadGnomeProxy(), std::string());
    const TCheckIpView page = Browse();
    EXPECT_EQ(page.IP, "127.0.0.1") << page.Page;
    EXPECT_EQ(page.Country, "NL");
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace cloakline::test
