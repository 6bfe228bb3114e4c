#include "core/proxy/FirefoxProfiles.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>
#include <utility>
#include <vector>

namespace cloakline {
namespace {

constexpr bool kHide = true;
constexpr bool kStop = false;
constexpr bool kInUse = true;
constexpr bool kFree = false;

const std::string kUserLines = "user_pref(\"browser.startup.page\", 3);\n// my own note\n";
const std::string kPrefsStart = "// Mozilla User Preferences\n\nuser_pref(\"browser.startup.page\", 3);\n";
const std::string kManualPrefs =
    "user_pref(\"network.proxy.http\", \"proxy.example\");\n"
    "user_pref(\"network.proxy.http_port\", 3128);\n"
    "user_pref(\"network.proxy.type\", 1);\n";
const char* const kBlockBegin = "// Cloakline proxy: begin";
const char* const kTypeFive = "user_pref(\"network.proxy.type\", 5);\n";

const char* const kBlockEnd = "// Cloakline proxy: end\n";
const char* const kWebRtcGuard =
    "user_pref(\"media.peerconnection.ice.proxy_only_if_behind_proxy\", true);\n";
const char* const kDnsGuard = "user_pref(\"network.proxy.socks_remote_dns\", true);\n";

// Firefox as it starts and ends on the files: it applies prefs.js, then
// user.js (last line wins), and writes back every value that differs from
// the default; only the type (default 5) and the two guarded prefs (default
// false) are modelled, other lines of prefs.js stay as they are.
TFirefoxPrefFiles FirefoxRuns(const TFirefoxPrefFiles& files) {
    const std::vector<std::pair<std::string, std::string>> modelled = {
        {"network.proxy.type", "5"},
        {"media.peerconnection.ice.proxy_only_if_behind_proxy", "false"},
        {"network.proxy.socks_remote_dns", "false"}};
    std::map<std::string, std::string> values;
    std::string prefs;
    for (const std::string* text : {&files.PrefsJs, &files.UserJs}) {
        std::istringstream lines(*text);
        std::string line;
        while (std::getline(lines, line)) {
            bool known = false;
            for (const auto& [name, byDefault] : modelled) {
                const std::string set = "user_pref(\"" + name + "\", ";
                if (line.starts_with(set)) {
                    values[name] = line.substr(set.size(), line.size() - set.size() - 2);
                    known = true;
                }
            }
            if (!known && text == &files.PrefsJs) {
                prefs += line + "\n";
            }
        }
    }
    for (const auto& [name, byDefault] : modelled) {
        if (values.contains(name) && values[name] != byDefault) {
            prefs += "user_pref(\"" + name + "\", " + values[name] + ");\n";
        }
    }
    return {prefs, files.UserJs};
}

TEST(FirefoxPrefFilesTest, AProfileFollowingTheDesktopGetsOnlyTheLeakGuardWhileHiding) {
    for (const std::string& prefs : {std::string(), kPrefsStart}) {
        for (const std::string& user : {std::string(), kUserLines, std::string("// no final break")}) {
            const TFirefoxPrefFiles files{prefs, user};
            for (bool inUse : {kInUse, kFree}) {
                EXPECT_EQ(SwitchFirefoxPrefFiles(files, kStop, inUse), files);
                const TFirefoxPrefFiles hiding = SwitchFirefoxPrefFiles(files, kHide, inUse);
                EXPECT_EQ(hiding.PrefsJs, files.PrefsJs);
                EXPECT_EQ(hiding.UserJs.find("network.proxy.type"), std::string::npos) << hiding.UserJs;
                EXPECT_TRUE(hiding.UserJs.ends_with(std::string(kWebRtcGuard) + kDnsGuard + kBlockEnd))
                    << hiding.UserJs;
            }
        }
    }
    // A user.js line of the user's that asks for the desktop counts too.
    const TFirefoxPrefFiles chosenInUserJs{kPrefsStart + kManualPrefs, kTypeFive};
    const TFirefoxPrefFiles hiding = SwitchFirefoxPrefFiles(chosenInUserJs, kHide, kFree);
    EXPECT_EQ(hiding.UserJs.find(kTypeFive, 1), std::string::npos) << hiding.UserJs;
    EXPECT_EQ(SwitchFirefoxPrefFiles(hiding, kStop, kFree), chosenInUserJs);
}

TEST(FirefoxPrefFilesTest, TheLeakGuardLeavesNothingBehindAndKeepsTheUsersOwnValues) {
    // The user had remote DNS on already and WebRTC at its default.
    const std::string ownDns = "user_pref(\"network.proxy.socks_remote_dns\", true);\n";
    const TFirefoxPrefFiles start{kPrefsStart + ownDns, kUserLines};
    const TFirefoxPrefFiles hiding = SwitchFirefoxPrefFiles(start, kHide, kFree);
    EXPECT_EQ(SwitchFirefoxPrefFiles(hiding, kHide, kFree), hiding) << "a second Hide changes nothing";
    EXPECT_EQ(SwitchFirefoxPrefFiles(hiding, kStop, kFree), start);

    // Firefox ran while hiding and copied the guard into prefs.js.
    const TFirefoxPrefFiles afterRun = FirefoxRuns(hiding);
    ASSERT_NE(afterRun.PrefsJs.find(kWebRtcGuard), std::string::npos) << afterRun.PrefsJs;
    EXPECT_EQ(SwitchFirefoxPrefFiles(afterRun, kHide, kFree), afterRun) << "a proxy change while hiding";
    const TFirefoxPrefFiles stopped = SwitchFirefoxPrefFiles(afterRun, kStop, kFree);
    EXPECT_EQ(stopped.UserJs, kUserLines);
    EXPECT_EQ(stopped.PrefsJs.find("proxy_only_if_behind_proxy"), std::string::npos) << stopped.PrefsJs;
    EXPECT_NE(stopped.PrefsJs.find(ownDns), std::string::npos) << stopped.PrefsJs;

    // Stopped while Firefox runs: its next start gets the defaults back
    // (which it drops), and the next switch finds nothing left to clean.
    const TFirefoxPrefFiles stoppedInUse = SwitchFirefoxPrefFiles(afterRun, kStop, kInUse);
    EXPECT_EQ(stoppedInUse.PrefsJs, afterRun.PrefsJs);
    EXPECT_EQ(SwitchFirefoxPrefFiles(stoppedInUse, kStop, kInUse), stoppedInUse);
    const TFirefoxPrefFiles nextRun = FirefoxRuns(stoppedInUse);
    EXPECT_EQ(nextRun.PrefsJs.find("proxy_only_if_behind_proxy"), std::string::npos) << nextRun.PrefsJs;
    EXPECT_NE(nextRun.PrefsJs.find(ownDns), std::string::npos) << nextRun.PrefsJs;
    EXPECT_EQ(SwitchFirefoxPrefFiles(nextRun, kStop, kFree),
              (TFirefoxPrefFiles{nextRun.PrefsJs, kUserLines}));
    // Firefox never started after that Stop: the next switch cleans prefs.js.
    EXPECT_EQ(SwitchFirefoxPrefFiles({afterRun.PrefsJs, stoppedInUse.UserJs}, kStop, kFree), stopped);
}

TEST(FirefoxPrefFilesTest, AUserSetProfileFollowsTheDesktopWhileHidingAndGetsItsChoiceBack) {
    const TFirefoxPrefFiles start{kPrefsStart + kManualPrefs, kUserLines};
    const TFirefoxPrefFiles hiding = SwitchFirefoxPrefFiles(start, kHide, kFree);
    EXPECT_EQ(hiding.PrefsJs, start.PrefsJs);
    ASSERT_TRUE(hiding.UserJs.starts_with(kUserLines + kBlockBegin)) << hiding.UserJs;
    EXPECT_TRUE(hiding.UserJs.ends_with(std::string(kTypeFive) + kWebRtcGuard + kDnsGuard + kBlockEnd))
        << hiding.UserJs;
    EXPECT_EQ(SwitchFirefoxPrefFiles(hiding, kHide, kFree), hiding) << "a second Hide changes nothing";

    // Stop before Firefox started again: the block goes, nothing else changes.
    EXPECT_EQ(SwitchFirefoxPrefFiles(hiding, kStop, kFree), start);

    // Firefox started while hiding: type 5 is its default, so it dropped the
    // user's line from prefs.js. Stop gives it back.
    const TFirefoxPrefFiles afterRun = FirefoxRuns(hiding);
    ASSERT_EQ(afterRun.PrefsJs.find("network.proxy.type"), std::string::npos);
    EXPECT_EQ(SwitchFirefoxPrefFiles(afterRun, kHide, kFree), afterRun) << "a proxy change while hiding";
    const TFirefoxPrefFiles stopped = SwitchFirefoxPrefFiles(afterRun, kStop, kFree);
    EXPECT_EQ(stopped.UserJs, kUserLines);
    EXPECT_EQ(stopped.PrefsJs, kPrefsStart +
                                   "user_pref(\"network.proxy.http\", \"proxy.example\");\n"
                                   "user_pref(\"network.proxy.http_port\", 3128);\n"
                                   "user_pref(\"network.proxy.type\", 1);\n");
    EXPECT_NE(stopped.PrefsJs.find("user_pref(\"network.proxy.http\", \"proxy.example\");"),
              std::string::npos);

    // Stopped while that Firefox still runs (it writes prefs.js at its end):
    // the choice is handed back through user.js at its next start instead.
    const TFirefoxPrefFiles stoppedInUse = SwitchFirefoxPrefFiles(afterRun, kStop, kInUse);
    EXPECT_EQ(stoppedInUse.PrefsJs, afterRun.PrefsJs);
    const TFirefoxPrefFiles nextRun = FirefoxRuns(stoppedInUse);
    EXPECT_NE(nextRun.PrefsJs.find("user_pref(\"network.proxy.type\", 1);"), std::string::npos);
    EXPECT_EQ(SwitchFirefoxPrefFiles(nextRun, kStop, kFree), (TFirefoxPrefFiles{nextRun.PrefsJs, kUserLines}))
        << "once given back, the block goes";
}

TEST(FirefoxPrefFilesTest, AUsersNoProxyChoiceHandedBackWhileFirefoxRunsIsNotTakenForAnEarlierBlock) {
    // "No proxy" is what earlier versions forced too; the user's own must survive.
    const TFirefoxPrefFiles start{kPrefsStart + "user_pref(\"network.proxy.type\", 0);\n", kUserLines};
    const TFirefoxPrefFiles afterRun = FirefoxRuns(SwitchFirefoxPrefFiles(start, kHide, kFree));
    const TFirefoxPrefFiles stoppedInUse = SwitchFirefoxPrefFiles(afterRun, kStop, kInUse);
    EXPECT_EQ(SwitchFirefoxPrefFiles(stoppedInUse, kStop, kInUse), stoppedInUse) << "the start's Stop";
    const TFirefoxPrefFiles nextRun = FirefoxRuns(stoppedInUse);
    EXPECT_EQ(SwitchFirefoxPrefFiles(nextRun, kStop, kFree),
              (TFirefoxPrefFiles{nextRun.PrefsJs, kUserLines}));
    EXPECT_NE(nextRun.PrefsJs.find("user_pref(\"network.proxy.type\", 0);"), std::string::npos);
}

TEST(FirefoxPrefFilesTest, BlocksOfEarlierVersionsAndWhatFirefoxCopiedFromThemAreRemoved) {
    const std::string noProxyBlock = std::string(kBlockBegin) +
                                     " (Cloakline rewrites these lines whenever it switches the proxy)\n"
                                     "user_pref(\"network.proxy.type\", 0);\n"
                                     "user_pref(\"network.proxy.http\", \"\");\n"
                                     "user_pref(\"network.proxy.http_port\", 0);\n"
                                     "// Cloakline proxy: end\n";
    const std::string manualBlock = std::string(kBlockBegin) +
                                    "\n"
                                    "user_pref(\"network.proxy.type\", 1);\n"
                                    "user_pref(\"network.proxy.http\", \"1.2.3.4\");\n"
                                    "user_pref(\"network.proxy.http_port\", 8080);\n"
                                    "// Cloakline proxy: end\n";
    for (const std::string& block : {noProxyBlock, manualBlock}) {
        SCOPED_TRACE(block);
        const TFirefoxPrefFiles old = FirefoxRuns({kPrefsStart, "// a\n" + block + kUserLines});
        ASSERT_NE(old.PrefsJs.find("network.proxy.type"), std::string::npos);
        const std::string copied = block.find("1.2.3.4") != std::string::npos
                                       ? "user_pref(\"network.proxy.http\", \"1.2.3.4\");\n"
                                       : std::string();
        // The first start's Stop.
        const TFirefoxPrefFiles cleaned =
            SwitchFirefoxPrefFiles({old.PrefsJs + copied, old.UserJs}, kStop, kFree);
        EXPECT_EQ(cleaned, (TFirefoxPrefFiles{kPrefsStart, "// a\n" + kUserLines}));
        // A Hide then writes only the leak guard: the profile follows the desktop again.
        const TFirefoxPrefFiles hiding = SwitchFirefoxPrefFiles(cleaned, kHide, kFree);
        EXPECT_EQ(hiding.PrefsJs, cleaned.PrefsJs);
        EXPECT_EQ(hiding.UserJs.find("network.proxy.type"), std::string::npos) << hiding.UserJs;

        // With Firefox running the block turns to type 5, which that Firefox
        // drops at its next start; the cleaning of prefs.js waits.
        const TFirefoxPrefFiles waiting = SwitchFirefoxPrefFiles(old, kStop, kInUse);
        EXPECT_EQ(waiting.PrefsJs, old.PrefsJs);
        EXPECT_TRUE(waiting.UserJs.ends_with(std::string(kTypeFive) + "// Cloakline proxy: end\n"))
            << waiting.UserJs;
        EXPECT_EQ(SwitchFirefoxPrefFiles(waiting, kStop, kFree),
                  (TFirefoxPrefFiles{kPrefsStart, "// a\n" + kUserLines}));
    }

    // A value the user chose that merely equals ours is the user's.
    const TFirefoxPrefFiles own{kPrefsStart + "user_pref(\"network.proxy.type\", 4);\n", noProxyBlock};
    EXPECT_EQ(SwitchFirefoxPrefFiles(own, kStop, kFree), (TFirefoxPrefFiles{own.PrefsJs, ""}));
}

TEST(FirefoxPrefFilesTest, UserLinesAndLineBreaksAreKept) {
    const TFirefoxPrefFiles start{"user_pref(\"network.proxy.type\", 0);\r\n", "// mine\r\n// also mine"};
    const TFirefoxPrefFiles hiding = SwitchFirefoxPrefFiles(start, kHide, kFree);
    EXPECT_TRUE(hiding.UserJs.starts_with("// mine\r\n// also mine\r\n// Cloakline proxy: begin"))
        << hiding.UserJs;
    EXPECT_EQ(hiding.UserJs.find("\n\n"), std::string::npos);
    EXPECT_EQ(hiding.UserJs.find("\r\r"), std::string::npos);
    EXPECT_EQ(SwitchFirefoxPrefFiles(hiding, kStop, kFree).UserJs, "// mine\r\n// also mine\r\n");

    // A block whose end line was deleted by hand ends at its last line of ours.
    std::string broken = hiding.UserJs.substr(0, hiding.UserJs.find("// Cloakline proxy: end"));
    broken += "user_pref(\"browser.tabs.warnOnClose\", false);\r\n";
    EXPECT_EQ(SwitchFirefoxPrefFiles({start.PrefsJs, broken}, kStop, kFree).UserJs,
              "// mine\r\n// also mine\r\nuser_pref(\"browser.tabs.warnOnClose\", false);\r\n");
}

TEST(FirefoxProfilesIniTest, ListsProfilesInOrderAndResolvesRelativePaths) {
    const std::string ini =
        "[Install4F96D1932A9F858E]\n"
        "Default=abc.default-release\n"
        "Locked=1\n"
        "\n"
        "[Profile1]\n"
        "Name=work\n"
        "IsRelative=0\n"
        "Path=/srv/profiles/work/\n"
        "\n"
        "[Profile0]\n"
        "Name=default-release\n"
        "IsRelative=1\n"
        "Path=Profiles/abc.default-release\n"
        "Default=1\n"
        "\n"
        "[General]\n"
        "StartWithLastProfile=1\n"
        "Version=2\n";
    EXPECT_EQ(FirefoxProfileFolders(ini, "\\home\\u\\.mozilla\\firefox"),
              (std::vector<std::string>{"\\home\\u\\.mozilla\\firefox\\Profiles\\abc.default-release",
                                        "\\srv\\profiles\\work"}));
}

TEST(FirefoxProfilesIniTest, StopsAtTheFirstGapAndSkipsProfilesWithoutPath) {
    const std::string ini =
        "[Profile0]\nIsRelative=1\n"
        "[Profile1]\nIsRelative=1\nPath=b\n"
        "[Profile3]\nIsRelative=1\nPath=unreached\n";
    EXPECT_EQ(FirefoxProfileFolders(ini, "\\r"), (std::vector<std::string>{"\\r\\b"}));
    EXPECT_TRUE(FirefoxProfileFolders("", "\\r").empty());
    EXPECT_TRUE(FirefoxProfileFolders("[Profile0]\nPath=a\n", "\\r").empty()) << "Firefox needs IsRelative";
    EXPECT_TRUE(FirefoxProfileFolders("garbage\x01\x02", "\\r").empty());
}

}  // namespace
}  // namespace cloakline
