#include "core/proxy/HiddenBrowsers.h"

#include <gtest/gtest.h>

#include "core/framework/NamedStrings.h"
#include "core/proxy/SocketTable.h"
#include "core/support/TextUtils.h"

namespace cloakline {
namespace {

// Lines as this kernel writes them: a listener on 127.0.0.1:18765, the
// server's end of an accepted connection (already handed back: inode 0) and
// the client's end; IPv6 on ::1, and a client through an IPv4-mapped address.
const char* const kTcp =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode\n"
    "   0: 00000000:07E8 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 1110 1 "
    "00000000e66c6d20 100 0 0 10 0\n"
    "   1: 0100007F:494D 00000000:0000 0A 00000000:00000001 00:00000000 00000000     0        0 2122816 2 "
    "00000000977fbd09 100 0 0 10 0\n"
    "   2: 0100007F:494D 0100007F:A05C 01 00000000:00000000 00:00000000 00000000     0        0 0 1 "
    "0000000045be4bb8 20 0 0 10 -1\n"
    "   3: 0100007F:A05C 0100007F:494D 01 00000000:00000000 00:00000000 00000000     0        0 2120006 2 "
    "00000000301bfa82 20 0 0 10 -1\n"
    "   4: 0100007F:A05D 0100007F:494D 06 00000000:00000000 03:00000d4f 00000000     0        0 0 3 "
    "0000000000000000\n";
const char* const kTcp6 =
    "  sl  local_address                         remote_address                        st tx_queue rx_queue "
    "tr "
    "tm->when retrnsmt   uid  timeout inode\n"
    "   0: 00000000000000000000000001000000:494E 00000000000000000000000000000000:0000 0A 00000000:00000000 "
    "00:00000000 00000000     0        0 2120007 1 000000008d71044e 100 0 0 10 0\n"
    "   1: 0000000000000000FFFF00000100007F:AAC0 0000000000000000FFFF00000100007F:494D 01 00000000:00000000 "
    "00:00000000 00000000  1000        0 2120008 2 000000008e95be3a 20 0 0 10 -1\n"
    "   2: 00000000000000000000000001000000:494E 00000000000000000000000001000000:AAC0 01 00000000:00000000 "
    "00:00000000 00000000     0        0 2120009 1 0000000064c7411f 20 0 0 10 -1\n";

TEST(SocketTableTest, ReadsTheKernelsTablesAndFindsTheLoopbackClients) {
    const std::vector<TTcpSocket> v4 = ParseTcpTable(kTcp);
    ASSERT_EQ(v4.size(), 5u) << "the heading is no socket";
    EXPECT_EQ(v4[0], (TTcpSocket{"0.0.0.0", 2024, "0.0.0.0", 0, 0x0A, 1110}));
    EXPECT_EQ(v4[3], (TTcpSocket{"127.0.0.1", 41052, "127.0.0.1", 18765, kTcpEstablished, 2120006}));
    EXPECT_EQ(LoopbackClientInodes(v4, 18765), (std::set<std::uint64_t>{2120006}))
        << "not the listener, not the server's end, not a closing socket";

    const std::vector<TTcpSocket> v6 = ParseTcpTable(kTcp6);
    ASSERT_EQ(v6.size(), 3u);
    EXPECT_EQ(v6[0].LocalAddress, "::1");
    EXPECT_EQ(v6[0].RemoteAddress, "::");
    EXPECT_EQ(v6[1].RemoteAddress, "127.0.0.1");
    EXPECT_EQ(LoopbackClientInodes(v6, 18765), (std::set<std::uint64_t>{2120008}));
    EXPECT_TRUE(LoopbackClientInodes(v6, 18766).empty());

    for (const char* broken :
         {"", "   0:", "   0: 0100007F:494D 0100007F:A05C 01 0 0 0 0 0",  // no inode
          "   0: 0100007G:494D 0100007F:A05C 01 00000000:00000000 00:00000000 00000000 0 0 5 1",
          "   0: 0100007F:494D0 0100007F:A05C 01 00000000:00000000 00:00000000 00000000 0 0 5 1",
          "   0: 100007F:494D 0100007F:A05C 01 00000000:00000000 00:00000000 00000000 0 0 5 1",
          "   0: 0100007F:494D 0100007F:A05C 01 00000000:00000000 00:00000000 00000000 0 0 -5 1"}) {
        EXPECT_FALSE(ParseTcpTableLine(broken)) << broken;
    }

    EXPECT_EQ(SocketInodeOfLink("socket:[2120006]"), 2120006u);
    EXPECT_FALSE(SocketInodeOfLink("pipe:[2120006]"));
    EXPECT_FALSE(SocketInodeOfLink("socket:[]"));
    EXPECT_FALSE(SocketInodeOfLink("socket:[12x]"));
}

// The program's English texts.
std::string English(std::string_view key, const std::vector<std::string>& args) {
    const TNamedString* named = FindNamedString("AppRes", key);
    EXPECT_NE(named, nullptr) << key;
    return named == nullptr ? std::string(key)
                            : ReplaceAll(FillPlaceholders(named->Text, args), "{AppName}", "Cloakline");
}

std::vector<std::string> Texts(const THiddenBrowserLines& view) {
    std::vector<std::string> texts;
    for (const TBrowserLine& line : view.Lines) {
        texts.push_back((line.Hidden ? "+ " : "- ") + line.Text);
    }
    return texts;
}

const std::vector<TInstalledBrowser> kFound = {
    {TBrowserKind::ChromiumBased, "Chromium", false, false},
    {TBrowserKind::ChromiumBased, "Brave", false, false},
    {TBrowserKind::FirefoxProfile, "abc.work", true, true},
    {TBrowserKind::FirefoxProfile, "def.default", false, false},
    {TBrowserKind::Flatpak, "org.chromium.Chromium", false, false},
    {TBrowserKind::Snap, "firefox", false, false},
};

TEST(HiddenBrowsersTest, EachBrowserFollowsTheDesktopOrSaysWhyNot) {
    THiddenBrowsersFacts facts;
    facts.Installed = kFound;
    const THiddenBrowserLines view = BuildHiddenBrowsers(facts, English);
    EXPECT_EQ(
        Texts(view),
        (std::vector<std::string>{
            "+ Chromium: hidden (follows the system proxy settings)",
            "+ Brave: hidden (follows the system proxy settings)",
            "+ Firefox (abc.work): hidden after Firefox restarts (it had proxy settings of its own)",
            "+ Firefox (def.default): hidden (follows the system proxy settings)",
            "- org.chromium.Chromium (Flatpak): NOT hidden: this install cannot see the desktop's proxy "
            "settings",
            "- firefox (Snap): NOT hidden: this install cannot see the desktop's proxy settings",
            "- Chromium-based browsers: WebRTC may still reveal your IP address (Cloakline may not set "
            "their browser policy)",
        }));
    EXPECT_EQ(view.Summary,
              "Hidden in 4 of 6 browsers; not hidden: org.chromium.Chromium (Flatpak), firefox (Snap)");

    // With the policy in place and only desktop followers, nothing is left to warn of.
    facts.Installed = {kFound[0], kFound[3]};
    facts.ChromiumPolicyApplied = true;
    const THiddenBrowserLines clean = BuildHiddenBrowsers(facts, English);
    EXPECT_EQ(clean.Lines.size(), 2u);
    EXPECT_EQ(clean.Summary, "Hidden in all 2 browsers found");

    EXPECT_EQ(Texts(BuildHiddenBrowsers({}, English)), (std::vector<std::string>{"- No browsers found"}));
}

TEST(HiddenBrowsersTest, ThroughTheGatewayRunningBrowsersAreJudgedByTheirConnections) {
    THiddenBrowsersFacts facts;
    facts.Installed = {kFound[0], kFound[1], kFound[2], kFound[3]};
    facts.ChromiumPolicyApplied = true;
    facts.ThroughGateway = true;
    facts.UpstreamAddress = "127.0.0.21";
    facts.UpstreamCountry = "United States";
    // Chromium sends through the gateway; Firefox runs (on abc.work) and
    // sends nothing; Google Chrome was found only running.
    facts.Running = {{"Chromium", 3}, {"Firefox", 0}, {"Google Chrome", 1}};
    THiddenBrowserLines view = BuildHiddenBrowsers(facts, English);
    EXPECT_EQ(Texts(view),
              (std::vector<std::string>{
                  "+ Chromium: through 127.0.0.21 (United States)",
                  "+ Brave: hidden (follows the system proxy settings)",
                  "+ Firefox (abc.work): hidden after Firefox restarts (it had proxy settings of "
                  "its own)",
                  "+ Firefox (def.default): hidden (follows the system proxy settings)",
                  "+ Google Chrome: through 127.0.0.21 (United States)",
              }));

    // A profile that follows the desktop in a running Firefox that sends nothing.
    facts.Installed[3].InUse = true;
    view = BuildHiddenBrowsers(facts, English);
    EXPECT_EQ(view.Lines[3].Text,
              "Firefox (def.default): NOT hidden: it runs but sends nothing through Cloakline");
    EXPECT_FALSE(view.Lines[3].Hidden);
    EXPECT_EQ(view.Summary, "Hidden in 4 of 5 browsers; not hidden: Firefox (def.default)");

    // While nothing at all goes through the gateway, a quiet browser is no proof of a leak.
    facts.Running = {{"Chromium", 0}, {"Firefox", 0}};
    view = BuildHiddenBrowsers(facts, English);
    EXPECT_EQ(view.Lines[0].Text, "Chromium: hidden (follows the system proxy settings)");
    EXPECT_EQ(view.Lines[3].Text,
              "Firefox (def.default): hidden (follows the system proxy settings); WebRTC and DNS protection "
              "after Firefox restarts");
}

}  // namespace
}  // namespace cloakline
