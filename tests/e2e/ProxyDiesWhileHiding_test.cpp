#include <gtest/gtest.h>

#include <QAction>
#include <QTimer>
#include <QToolButton>

#include "platform/linux/GnomeProxySettings.h"
#include "tests/e2e/LoopbackProduct.h"
#include "tests/support/ModalBoxRecorder.h"

namespace cloakline::test {
namespace {

// Two ordinary proxies in the United States, so that the timed change has
// somewhere to go when one dies, and one in Germany that it must not take.
class ProxyDiesWhileHidingTest : public LoopbackProductTest {
  protected:
    std::vector<TDemoProxy> DemoProxies() const override {
        std::vector<TDemoProxy> proxies;
        proxies.push_back({"US", "United States", "Washington", "127.0.0.51", false, 0, nullptr});
        proxies.push_back({"US", "United States", "New York", "127.0.0.52", false, 0, nullptr});
        proxies.push_back({"DE", "Germany", "Berlin", "127.0.0.53", false, 0, nullptr});
        return proxies;
    }

    // A queued call comes back: the main thread's event loop still runs.
    static bool EventLoopAnswers() {
        bool answered = false;
        QTimer::singleShot(0, [&answered] { answered = true; });
        return WaitUntil([&answered] { return answered; }, 5000);
    }
};

TEST_F(ProxyDiesWhileHidingTest, TheTimedChangeMovesOnToALiveProxyOfTheSameCountry) {
    ModalBoxRecorder boxes;
    TfrmMain& main = Start();
    ASSERT_NO_FATAL_FAILURE(WaitUntilReady(main));
    TProxyManager& manager = *main.ProxyManager();
    ASSERT_EQ(manager.GetcountryListCount("US", true), 2);
    ASSERT_EQ(manager.GetcountryListCount("DE", true), 1);
    ASSERT_EQ(manager.TargetCountry(), "US");

    // The real timer drives the change, ticking every 1.5 s instead of 10 s;
    // with ten minutes between changes its ticks leave the proxy alone.
    TKTSettings& settings = GlobalSettings();
    settings.SetSettingBool("ChangeIP", true);
    settings.SetSettingInteger("ChangeIPTime", 10);
    auto& tmrChangeIP = *main.findChild<QTimer*>("tmrChangeIP");
    tmrChangeIP.setInterval(1500);
    auto& btnHide = *main.findChild<QToolButton*>("btnHide");

    WaitPastPaceRule();
    btnHide.click();
    ASSERT_TRUE(main.Hider().IsHiding()) << boxes.Texts.join(" | ").toStdString();
    EXPECT_TRUE(tmrChangeIP.isActive());
    const TProxyRec first = manager.TargetProxy();
    ASSERT_EQ(first.Country_Short, "US");
    TDemoProxy& dying = ProxyAt(first);
    ASSERT_EQ(ReadGnomeProxy(), first.ProxyText());
    TCheckIpView page = Browse();
    EXPECT_EQ(page.IP, dying.Outgoing) << page.Page;

    // The chosen proxy dies; the browser now has nowhere to go.
    ASSERT_TRUE(dying.Process->KillHard()) << "tinyproxy at " << dying.Address() << " did not die";
    page = Browse();
    EXPECT_EQ(page.IP, "") << "a page came through a dead proxy: " << page.Page;
    EXPECT_NE(page.Errors.find("ERR_PROXY_CONNECTION_FAILED"), std::string::npos) << page.Errors;
    EXPECT_EQ(manager.TargetProxy(), first) << "no change is due yet";
    EXPECT_EQ(ReadGnomeProxy(), first.ProxyText());

    // The change falls due: the next tick moves on.
    settings.SetSettingInteger("ChangeIPTime", 0);
    const bool moved = WaitUntil([&] { return !(manager.TargetProxy() == first); }, 10000);
    settings.SetSettingInteger("ChangeIPTime", 10);
    ASSERT_TRUE(moved) << "the timed change never left the dead proxy; "
                       << boxes.Texts.join(" | ").toStdString();

    EXPECT_TRUE(EventLoopAnswers());
    EXPECT_TRUE(main.isVisible());
    EXPECT_TRUE(main.Hider().IsHiding());
    EXPECT_EQ(btnHide.defaultAction()->objectName(), "actStopHide");
    const TProxyRec second = manager.TargetProxy();
    EXPECT_EQ(second.Country_Short, "US") << "the country asked for";
    EXPECT_NE(second.IP, first.IP);
    TDemoProxy& replacement = ProxyAt(second);
    EXPECT_TRUE(replacement.Process->Running());
    EXPECT_EQ(ReadGnomeProxy(), second.ProxyText());
    EXPECT_TRUE(Card(TFlashCard::Target).Display);
    EXPECT_EQ(Card(TFlashCard::Target).IP, second.IP);
    EXPECT_EQ(Card(TFlashCard::Target).Country, "United States");
    EXPECT_EQ(GlobalFlashForm()->FlashPlayer()->Focus(), TFlashCard::Target);

    page = Browse();
    EXPECT_EQ(page.IP, replacement.Outgoing) << page.Page;
    EXPECT_EQ(page.Country, "US");
    EXPECT_EQ(manager.TargetProxy(), second) << "the ticks meanwhile, with no change due, kept it";

    // The window still does what the user asks.
    WaitPastPaceRule();
    btnHide.click();
    EXPECT_FALSE(main.Hider().IsHiding());
    EXPECT_FALSE(tmrChangeIP.isActive());
    EXPECT_EQ(ReadGnomeProxy(), std::string());
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace cloakline::test
