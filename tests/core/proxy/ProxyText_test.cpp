#include "core/proxy/ProxyText.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace cloakline {
namespace {

struct Row {
    std::string Text;
    const char* Why;
};

TEST(ProxyTextTest, WellFormedTextsGiveHostAndPort) {
    struct Good {
        std::string Text;
        std::string Host;
        std::uint16_t Port;
    };
    const std::vector<Good> rows = {
        {"1.2.3.4:8080", "1.2.3.4", 8080},
        {"proxy.example.com:3128", "proxy.example.com", 3128},
        {"my_proxy-2.lan:1", "my_proxy-2.lan", 1},
        {"Proxy.Example:65535", "Proxy.Example", 65535},
        {"[::1]:8080", "[::1]", 8080},
        {"[2001:db8::7]:80", "[2001:db8::7]", 80},
        {"[::ffff:1.2.3.4]:443", "[::ffff:1.2.3.4]", 443},
        {std::string(255, 'a') + ":80", std::string(255, 'a'), 80},
    };
    for (const Good& row : rows) {
        SCOPED_TRACE(row.Text);
        const auto parsed = ParseProxyText(row.Text);
        ASSERT_TRUE(parsed.has_value());
        EXPECT_EQ(parsed->Host, row.Host);
        EXPECT_EQ(parsed->Port, row.Port);
        EXPECT_TRUE(IsValidProxyText(row.Text));
    }
}

TEST(ProxyTextTest, AnythingElseIsRefused) {
    const std::vector<Row> rows = {
        {"", "the empty text is a clear, not a proxy"},
        {"1.2.3.4", "no colon"},
        {"1.2.3.4:", "no port"},
        {":8080", "no host"},
        {"1.2.3.4:80a", "port not numeric"},
        {"1.2.3.4:+80", "sign"},
        {"1.2.3.4:-80", "sign"},
        {"1.2.3.4: 80", "space before the port"},
        {"1.2.3.4:80 ", "trailing space"},
        {" 1.2.3.4:80", "leading space"},
        {"1.2.3.4:0", "port 0"},
        {"1.2.3.4:65536", "port too large"},
        {"1.2.3.4:99999", "port too large"},
        {"1.2.3.4:4294967376", "port that wraps 32 bits to 80"},
        {"1.2.3.4:080", "leading zero"},
        {"1.2.3.4:8080:1", "second colon"},
        {"a b:80", "space in the host"},
        {"host;x:80", "semicolon"},
        {"http=host:80", "equals sign"},
        {"ho\"st:80", "quote"},
        {"ho'st:80", "apostrophe"},
        {"ho\\st:80", "backslash"},
        {"host\n:80", "line break"},
        {"host:80\r\n", "line break after the port"},
        {std::string("ho\0st:80", 8), "NUL"},
        {"ho\tst:80", "tab"},
        {"ho\x7fst:80", "DEL"},
        {"h\xc3\xa9st:80", "non-ASCII letter"},
        {"-host:80", "leading hyphen"},
        {".host:80", "leading dot"},
        {"http://host:80", "a URL"},
        {"user@host:80", "credentials"},
        {"host/x:80", "slash"},
        {"[::1:80", "unclosed bracket"},
        {"[::1]80", "no colon after the bracket"},
        {"[]:80", "empty brackets"},
        {"[zz::1]:80", "not hexadecimal"},
        {"[1.2.3.4]:80", "brackets without IPv6"},
        {"::1:80", "IPv6 without brackets"},
        {std::string(256, 'a') + ":80", "host longer than any DNS name"},
        {std::string(10000, 'a') + ":80", "ten thousand characters"},
        {"1.2.3.4:" + std::string(10000, '8'), "ten thousand digits"},
        {std::string(10000, ':'), "ten thousand colons"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Why);
        EXPECT_FALSE(IsValidProxyText(row.Text)) << row.Text.substr(0, 40);
        EXPECT_FALSE(ParseProxyText(row.Text).has_value());
    }
}

TEST(ProxyTextTest, SplitTakesTheFirstColon) {
    EXPECT_EQ(SplitProxyText("1.2.3.4:8080").Host, "1.2.3.4");
    EXPECT_EQ(SplitProxyText("1.2.3.4:8080").Port, "8080");
    // Without ":" the whole text is the port and the host is empty.
    EXPECT_EQ(SplitProxyText("8080").Host, "");
    EXPECT_EQ(SplitProxyText("8080").Port, "8080");
    EXPECT_EQ(SplitProxyText("a:b:c").Host, "a");
    EXPECT_EQ(SplitProxyText("a:b:c").Port, "b:c");
    EXPECT_EQ(SplitProxyText("host:").Port, "");
    // A bracketed host keeps its colons.
    EXPECT_EQ(SplitProxyText("[::1]:8080").Host, "[::1]");
    EXPECT_EQ(SplitProxyText("[::1]:8080").Port, "8080");
    EXPECT_EQ(SplitProxyText("").Host, "");
    EXPECT_EQ(SplitProxyText("").Port, "");
}

}  // namespace
}  // namespace cloakline
