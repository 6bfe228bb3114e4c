// The client's address behind a balancer: PROXY protocol headers, trusted
// proxies and X-Forwarded-For.
#include "server/core/ClientAddress.h"

#include <gtest/gtest.h>

#include "server/core/CommandLine.h"

namespace cloakline::server {
namespace {

using enum TProxyProtocolStatus;

std::string Binary(unsigned char versionCommand,
                   unsigned char familyProtocol,
                   const std::vector<unsigned char>& payload) {
    std::string out("\r\n\r\n\0\r\nQUIT\n", 12);
    out += static_cast<char>(versionCommand);
    out += static_cast<char>(familyProtocol);
    out += static_cast<char>(payload.size() >> 8);
    out += static_cast<char>(payload.size() & 0xFF);
    out.append(payload.begin(), payload.end());
    return out;
}

TTrustedProxies Trusted(const std::vector<std::string>& entries) {
    std::string error;
    auto trusted = TTrustedProxies::Parse(entries, error);
    EXPECT_TRUE(trusted) << error;
    return trusted.value_or(TTrustedProxies{});
}

TEST(ProxyProtocolTest, TextHeadersGiveTheSourceAndTheirLength) {
    TProxyProtocolHeader header;
    const std::string v4 = "PROXY TCP4 192.0.2.7 127.0.0.1 51000 8080\r\n";
    EXPECT_EQ(ParseProxyProtocolHeader(v4 + "GET / HTTP/1.1\r\n", header), KComplete);
    EXPECT_EQ(header.SourceAddress, "192.0.2.7");
    EXPECT_EQ(header.Length, v4.size());

    EXPECT_EQ(ParseProxyProtocolHeader("PROXY TCP6 2001:DB8:0:0:0::07 ::1 1 65535\r\n", header), KComplete);
    EXPECT_EQ(header.SourceAddress, "2001:db8::7");
    EXPECT_EQ(ParseProxyProtocolHeader("PROXY TCP6 ::ffff:10.0.0.1 ::1 1 2\r\n", header), KComplete);
    EXPECT_EQ(header.SourceAddress, "::ffff:10.0.0.1");

    EXPECT_EQ(ParseProxyProtocolHeader("PROXY UNKNOWN ffff::1 ::1 1 2\r\nGET", header), KComplete);
    EXPECT_EQ(header.SourceAddress, "");
    EXPECT_EQ(header.Length, 31u);

    for (const char* partial : {"", "P", "PROXY", "PROXY TCP4 192.0.2.7 127.0.0.1 51000 8080\r"}) {
        EXPECT_EQ(ParseProxyProtocolHeader(partial, header), KIncomplete) << partial;
    }
    const std::string tooLong = "PROXY UNKNOWN " + std::string(93, 'x') + "\r\n";
    for (const std::string& bad : {std::string("GET / HTTP/1.1\r\n"), std::string("PRGX"),
                                   std::string("PROXY TCP4 192.0.2.7 127.0.0.1 51000 65536\r\n"),
                                   std::string("PROXY TCP4 192.0.2.7  127.0.0.1 1 2\r\n"),
                                   std::string("PROXY TCP4 2001:db8::7 ::1 1 2\r\n"),
                                   std::string("PROXY TCP6 192.0.2.7 127.0.0.1 1 2\r\n"),
                                   std::string("PROXY TCP6 1::2::3 ::1 1 2\r\n"),
                                   std::string("PROXY TCP4 192.0.2.7 127.0.0.1 01 2\r\n"),
                                   std::string("PROXY TCP4 192.0.2.7 127.0.0.1 1 2 3\r\n"),
                                   std::string("PROXY UDP4 192.0.2.7 127.0.0.1 1 2\r\n"), tooLong,
                                   std::string("PROXY TCP4 192.0.2.7 127.0.0.1 1") + std::string(80, '0')}) {
        EXPECT_EQ(ParseProxyProtocolHeader(bad, header), KInvalid) << bad;
    }
}

TEST(ProxyProtocolTest, BinaryHeadersSkipTheirTlvsAndKeepThePeerForLocal) {
    TProxyProtocolHeader header;
    const std::vector<unsigned char> v4{192, 0, 2, 7, 127, 0, 0, 1, 0xC7, 0x38, 0x1F, 0x90,
                                        // a TLV: type, two length bytes, value
                                        0x04, 0x00, 0x01, 0x00};
    const std::string withTlv = Binary(0x21, 0x11, v4);
    EXPECT_EQ(ParseProxyProtocolHeader(withTlv + "GET", header), KComplete);
    EXPECT_EQ(header.SourceAddress, "192.0.2.7");
    EXPECT_EQ(header.Length, withTlv.size());
    EXPECT_EQ(ParseProxyProtocolHeader(withTlv.substr(0, withTlv.size() - 1), header), KIncomplete);
    EXPECT_EQ(ParseProxyProtocolHeader(withTlv.substr(0, 5), header), KIncomplete);

    std::vector<unsigned char> v6(36, 0);
    v6[0] = 0x20, v6[1] = 0x01, v6[2] = 0x0d, v6[3] = 0xb8, v6[15] = 0x07;
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x21, 0x21, v6), header), KComplete);
    EXPECT_EQ(header.SourceAddress, "2001:db8::7");

    // The balancer's own check, with or without addresses.
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x20, 0x11, v4), header), KComplete);
    EXPECT_EQ(header.SourceAddress, "");
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x20, 0x00, {}), header), KComplete);
    EXPECT_EQ(header.Length, 16u);

    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x11, 0x11, v4), header), KInvalid);  // version 1
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x22, 0x11, v4), header), KInvalid);  // command 2
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x21, 0x41, v4), header), KInvalid);  // family 4
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x21, 0x21, v4), header), KInvalid);  // short for IPv6
    EXPECT_EQ(ParseProxyProtocolHeader(Binary(0x21, 0x11, std::vector<unsigned char>(4096)), header),
              KInvalid);
    EXPECT_EQ(ParseProxyProtocolHeader(std::string("\r\n\r\n\0\r\nQUIX\n", 12), header), KInvalid);
}

TEST(TrustedProxiesTest, AddressesAndBlocksOfBothFamilies) {
    const TTrustedProxies trusted = Trusted(
        {"127.0.0.1", "10.0.0.0/8", "192.168.1.77/24", "2001:db8::/32", "::1", "::ffff:172.16.0.0/108"});
    EXPECT_FALSE(trusted.Empty());
    for (const char* inside : {"127.0.0.1", "::ffff:127.0.0.1", "10.255.0.1", "192.168.1.1",
                               "2001:db8:ffff::1", "::1", "172.16.9.9", "::FFFF:172.31.255.255"}) {
        EXPECT_TRUE(trusted.Contains(inside)) << inside;
    }
    for (const char* outside : {"127.0.0.2", "11.0.0.1", "192.168.2.1", "2001:db9::1", "::2", "172.32.0.1",
                                "::127.0.0.1", "", "localhost"}) {
        EXPECT_FALSE(trusted.Contains(outside)) << outside;
    }
    EXPECT_TRUE(Trusted({"0.0.0.0/0"}).Contains("203.0.113.9"));
    EXPECT_FALSE(Trusted({"0.0.0.0/0"}).Contains("2001:db8::1"));
    EXPECT_TRUE(Trusted({"fe80::/10"}).Contains("fe80::1%eth0"));
    EXPECT_TRUE(Trusted({}).Empty());

    for (const char* bad : {"", "127.0.0.1/33", "::1/129", "10.0.0.0/", "10.0.0.0/08", "10.0.0.0/x",
                            "host.example", "::ffff:10.0.0.0/95", "1.2.3.4 "}) {
        std::string error;
        EXPECT_FALSE(TTrustedProxies::Parse({"127.0.0.1", bad}, error)) << bad;
        EXPECT_NE(error.find("\"" + std::string(bad) + "\""), std::string::npos) << error;
    }
}

TEST(TrustedProxiesTest, TheServerFlagRefusesAWrongEntryAtStart) {
    std::string error;
    const auto good = ParseServerOptions(
        {"--db", "s.db", "--trusted-proxy", "10.0.0.0/8", "--trusted-proxy", "::1"}, error);
    ASSERT_TRUE(good) << error;
    EXPECT_EQ(good->TrustedProxies, (std::vector<std::string>{"10.0.0.0/8", "::1"}));
    EXPECT_FALSE(ParseServerOptions(
        {"--db", "s.db", "--trusted-proxy", "::1", "--trusted-proxy", "10.0.0.0/40"}, error));
    EXPECT_NE(error.find("--trusted-proxy"), std::string::npos) << error;
    EXPECT_NE(error.find("10.0.0.0/40"), std::string::npos) << error;
}

TEST(ClientAddressOfTest, TheRightMostUntrustedHopOfATrustedPeer) {
    const TTrustedProxies trusted = Trusted({"127.0.0.1", "10.0.0.0/8"});
    // An untrusted peer's word is not taken.
    EXPECT_EQ(ClientAddressOf("127.0.0.9", "192.0.2.7", trusted), "127.0.0.9");
    EXPECT_EQ(ClientAddressOf("127.0.0.1", std::nullopt, trusted), "127.0.0.1");
    EXPECT_EQ(ClientAddressOf("127.0.0.1", "192.0.2.7", trusted), "192.0.2.7");
    EXPECT_EQ(ClientAddressOf("::ffff:127.0.0.1", "192.0.2.7", trusted), "192.0.2.7");
    // A client can put anything on the left; only what our proxies added counts.
    EXPECT_EQ(ClientAddressOf("127.0.0.1", "1.1.1.1, 192.0.2.7 ,\t10.1.2.3", trusted), "192.0.2.7");
    EXPECT_EQ(ClientAddressOf("127.0.0.1", "2001:DB8::0:7,10.0.0.1", trusted), "2001:db8::7");
    EXPECT_EQ(ClientAddressOf("127.0.0.1", "10.0.0.2, 10.0.0.1", trusted), "10.0.0.2");
    for (const char* bad : {"", " ", "192.0.2.7,", "192.0.2.7,,10.0.0.1", "unknown", "192.0.2.7:80", "[::1]",
                            "192.0.2.7 10.0.0.1"}) {
        EXPECT_EQ(ClientAddressOf("127.0.0.1", bad, trusted), "127.0.0.1") << bad;
    }
}

}  // namespace
}  // namespace cloakline::server
