#include "core/proxy/FirefoxProfiles.h"

#include <gtest/gtest.h>

namespace cloakline {
namespace {

const TProxyEndpoint kProxy{"1.2.3.4", 8080};

const char* const kSetBlock =
    "// Cloakline proxy: begin (Cloakline rewrites these lines whenever it switches the proxy; edit the rest "
    "of the file freely)\n"
    "user_pref(\"network.proxy.type\", 1);\n"
    "user_pref(\"network.proxy.http\", \"1.2.3.4\");\n"
    "user_pref(\"network.proxy.http_port\", 8080);\n"
    "user_pref(\"network.proxy.ssl\", \"1.2.3.4\");\n"
    "user_pref(\"network.proxy.ssl_port\", 8080);\n"
    "user_pref(\"network.proxy.ftp\", \"1.2.3.4\");\n"
    "user_pref(\"network.proxy.ftp_port\", 8080);\n"
    "user_pref(\"network.proxy.no_proxies_on\", \"\");\n"
    "// Cloakline proxy: end\n";

TEST(FirefoxUserJsTest, BlockSetsAManualProxyForEveryScheme) {
    EXPECT_EQ(FirefoxUserJsBlock(kProxy, "\n"), kSetBlock);
}

TEST(FirefoxUserJsTest, ClearingWritesADirectConnectionWithoutTheOldAddress) {
    const std::string block = FirefoxUserJsBlock(std::nullopt, "\n");
    EXPECT_NE(block.find("user_pref(\"network.proxy.type\", 0);\n"), std::string::npos);
    EXPECT_NE(block.find("user_pref(\"network.proxy.http\", \"\");\n"), std::string::npos);
    EXPECT_NE(block.find("user_pref(\"network.proxy.ssl_port\", 0);\n"), std::string::npos);
    EXPECT_EQ(block.find("1.2.3.4"), std::string::npos);
}

TEST(FirefoxUserJsTest, ReplacingKeepsTheUsersLinesAndPutsTheBlockLast) {
    const std::string user =
        "user_pref(\"browser.startup.homepage\", \"about:blank\");\n"
        "user_pref(\"network.proxy.type\", 4);\n";
    const std::string first = ReplaceFirefoxUserJsBlock(user, kProxy);
    EXPECT_EQ(first, user + kSetBlock);

    // A later switch replaces our block and only it, wherever it stands now.
    const std::string edited = first + "user_pref(\"general.smoothScroll\", false);\n";
    const std::string second = ReplaceFirefoxUserJsBlock(edited, TProxyEndpoint{"5.6.7.8", 3128});
    EXPECT_EQ(second.find("1.2.3.4"), std::string::npos);
    EXPECT_EQ(second.rfind("// Cloakline proxy: begin"), second.find("// Cloakline proxy: begin"));
    EXPECT_TRUE(second.starts_with(user + "user_pref(\"general.smoothScroll\", false);\n"));
    EXPECT_TRUE(
        second.ends_with("user_pref(\"network.proxy.no_proxies_on\", \"\");\n// Cloakline proxy: end\n"));
    EXPECT_NE(second.find("user_pref(\"network.proxy.ssl_port\", 3128);"), std::string::npos);

    const std::string cleared = ReplaceFirefoxUserJsBlock(second, std::nullopt);
    EXPECT_EQ(cleared, user + "user_pref(\"general.smoothScroll\", false);\n" +
                           FirefoxUserJsBlock(std::nullopt, "\n"));
}

TEST(FirefoxUserJsTest, EmptyFileAndFilesWithoutAFinalBreak) {
    EXPECT_EQ(ReplaceFirefoxUserJsBlock("", kProxy), kSetBlock);
    EXPECT_EQ(ReplaceFirefoxUserJsBlock("// mine", kProxy), std::string("// mine\n") + kSetBlock);
}

TEST(FirefoxUserJsTest, WindowsLineBreaksAreKept) {
    const std::string result = ReplaceFirefoxUserJsBlock("// mine\r\n", kProxy);
    EXPECT_TRUE(result.starts_with("// mine\r\n// Cloakline proxy: begin"));
    EXPECT_TRUE(result.ends_with("\r\n// Cloakline proxy: end\r\n"));
    EXPECT_EQ(result.find("\n\n"), std::string::npos);
    EXPECT_EQ(ReplaceFirefoxUserJsBlock(result, kProxy), result) << "the same switch twice changes nothing";
}

TEST(FirefoxUserJsTest, DuplicatedAndBrokenBlocksAreRemovedWithoutTakingUserLines) {
    const std::string block = FirefoxUserJsBlock(kProxy, "\n");
    const std::string twice = "// a\n" + block + "// b\n" + block;
    EXPECT_EQ(ReplaceFirefoxUserJsBlock(twice, std::nullopt),
              "// a\n// b\n" + FirefoxUserJsBlock(std::nullopt, "\n"));

    // The end line was deleted by hand: the block ends at its last proxy preference.
    std::string broken = block.substr(0, block.find("// Cloakline proxy: end"));
    broken = "// a\n" + broken + "user_pref(\"browser.tabs.warnOnClose\", false);\n";
    EXPECT_EQ(ReplaceFirefoxUserJsBlock(broken, kProxy),
              "// a\nuser_pref(\"browser.tabs.warnOnClose\", false);\n" + block);
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
