#include <gtest/gtest.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>

#include "app/uChooseIPCountry.h"
#include "platform/linux/GnomeProxySettings.h"
#include "tests/e2e/LoopbackProduct.h"
#include "tests/support/ModalBoxRecorder.h"

namespace cloakline::test {
namespace {

// The default demo: one ordinary proxy in the United States and one in
// Germany, a super proxy in Japan.
using BrowserFollowsHideTest = LoopbackProductTest;

TEST_F(BrowserFollowsHideTest, ChromiumGoesThroughTheChosenProxyWhileHidingAndDirectOtherwise) {
    ModalBoxRecorder boxes;
    TfrmMain& main = Start();
    ASSERT_NO_FATAL_FAILURE(WaitUntilReady(main));
    TKTSettings& settings = GlobalSettings();
    EXPECT_GE(settings.GetSettingInteger("Update.Times"), 1);
    EXPECT_NE(settings.GetSettingString("NORMAL_IPS").find(Proxies[0].Address() + "|"), std::string::npos);
    EXPECT_NE(settings.GetSettingString("NORMAL_IPS").find(Proxies[1].Address() + "|"), std::string::npos);
    EXPECT_NE(settings.GetSettingString("SUPER_IPS").find(Proxies[2].Address() + "|"), std::string::npos);
    EXPECT_EQ(settings.GetSettingString("URL.CheckIP"), CheckIpUrl);
    TProxyManager& manager = *main.ProxyManager();
    EXPECT_EQ(manager.GetcountryListCount("US", false), 1);
    EXPECT_EQ(manager.GetcountryListCount("DE", false), 1);
    EXPECT_EQ(manager.GetcountryListCount("JP", false), 0) << "Japan's proxy is a super proxy";
    EXPECT_EQ(manager.GetcountryListCount("JP", true), 1);
    EXPECT_EQ(manager.TargetCountry(), "US");
    EXPECT_TRUE(WaitUntil([&] { return !main.findChild<QLabel*>("imgFL")->pixmap().isNull(); }, 5000))
        << "the flag of the fake location";

    // The real location, from the server's local information.
    EXPECT_EQ(Card(TFlashCard::Local).IP, "127.0.0.1");
    EXPECT_EQ(Card(TFlashCard::Local).Country, "Netherlands");
    EXPECT_EQ(Card(TFlashCard::Local).City, "Amsterdam");
    EXPECT_EQ(ReadGnomeProxy(), std::string()) << "the start points the desktop at a direct connection";

    TCheckIpView page = Browse();
    EXPECT_EQ(page.IP, "127.0.0.1") << page.Page;
    EXPECT_EQ(page.Country, "NL");

    // Hide: the fake location of every start, the United States.
    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_TRUE(main.Hider().IsHiding()) << boxes.Texts.join(" | ").toStdString();
    const TProxyRec american = manager.TargetProxy();
    EXPECT_EQ(american.Country_Short, "US");
    EXPECT_EQ(ReadGnomeProxy(), american.ProxyText());
    EXPECT_TRUE(Card(TFlashCard::Target).Display);
    EXPECT_EQ(Card(TFlashCard::Target).IP, american.IP);
    EXPECT_EQ(Card(TFlashCard::Target).Country, "United States");
    EXPECT_TRUE(Card(TFlashCard::Target).FlagShown);
    EXPECT_EQ(GlobalFlashForm()->FlashPlayer()->Focus(), TFlashCard::Target);
    page = Browse();
    EXPECT_EQ(page.IP, ProxyAt(american).Outgoing) << page.Page;
    EXPECT_EQ(page.Country, "US");

    // Another location through the chooser moves the browser along.
    WaitPastPaceRule();
    bool chosen = false;
    OnNextModal<TfrmChooseIPCountry>([&chosen](TfrmChooseIPCountry& dialog) {
        auto* list = dialog.findChild<QListWidget*>("lvList");
        for (int row = 0; row < list->count(); ++row) {
            if (list->item(row)->text().contains(QStringLiteral("Germany"))) {
                list->setCurrentRow(row);
                chosen = true;
            }
        }
        dialog.findChild<QPushButton*>(chosen ? "btnOK" : "btnCancel")->click();
    });
    main.actChooseIPCountryExecute();
    ASSERT_TRUE(chosen) << "Germany was not offered";
    const TProxyRec german = manager.TargetProxy();
    EXPECT_EQ(german.Country_Short, "DE");
    EXPECT_EQ(Card(TFlashCard::Target).Country, "Germany");
    page = Browse();
    EXPECT_EQ(page.IP, ProxyAt(german).Outgoing) << page.Page;
    EXPECT_EQ(page.Country, "DE");

    // Stop: direct again.
    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_FALSE(main.Hider().IsHiding()) << boxes.Texts.join(" | ").toStdString();
    EXPECT_EQ(ReadGnomeProxy(), std::string());
    page = Browse();
    EXPECT_EQ(page.IP, "127.0.0.1") << page.Page;
    EXPECT_EQ(page.Country, "NL");

    // The end after a Hide leaves the desktop direct too.
    WaitPastPaceRule();
    main.findChild<QToolButton*>("btnHide")->click();
    ASSERT_TRUE(main.Hider().IsHiding());
    Main.reset();
    EXPECT_EQ(ReadGnomeProxy(), std::string());
    EXPECT_TRUE(boxes.Texts.isEmpty()) << boxes.Texts.join(" | ").toStdString();
}

}  // namespace
}  // namespace cloakline::test
