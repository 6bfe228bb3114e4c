// The server's rules for a request head, on heads read by Beast's parser.
#include "server/core/RequestHead.h"

#include <gtest/gtest.h>

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>

namespace cloakline::server {
namespace {

// The verdict on bytes, fed in reads of 4 KiB as a socket would bring them.
THeadVerdict VerdictOn(const std::string& bytes) {
    TRequestHeadParser parser;
    PrepareRequestHeadParser(parser);
    std::size_t taken = 0;
    std::size_t arrived = 0;
    boost::system::error_code ec;
    while (!parser.is_header_done()) {
        if (arrived == bytes.size()) {
            return {-1, "incomplete"};
        }
        arrived = std::min(bytes.size(), arrived + 4096);
        taken += parser.put(boost::asio::buffer(bytes.data() + taken, arrived - taken), ec);
        if (ec == boost::beast::http::error::need_more) {
            ec = {};
        } else if (ec) {
            return JudgeUnreadHead(ec, std::string_view(bytes).substr(taken));
        }
    }
    return JudgeRequestHead(parser);
}

TEST(RequestHeadTest, ServedHeadsAndEachRefusal) {
    const std::string get = "GET /health HTTP/1.1\r\nHost: x\r\n";
    EXPECT_EQ(VerdictOn(get + "\r\n").Status, 0);
    EXPECT_EQ(VerdictOn("HEAD /health HTTP/1.0\r\n\r\n").Status, 0);
    EXPECT_EQ(VerdictOn(get + "Content-Length: 0\r\n\r\n").Status, 0);

    EXPECT_EQ(VerdictOn("POST /touch HTTP/1.1\r\nContent-Length: 3\r\n\r\nx=1").Status, 405);
    EXPECT_EQ(VerdictOn(get + "Content-Length: 5\r\n\r\n").Status, 400);
    EXPECT_EQ(VerdictOn(get + "Content-Length: 5000\r\n\r\n").Status, 413);
    EXPECT_EQ(VerdictOn(get + "Transfer-Encoding: chunked\r\n\r\n").Status, 400);
    EXPECT_EQ(VerdictOn("GET /x HTTP/9.9.9\r\n\r\n").Status, 400);

    // The target: over 8 KiB, with the line complete and without its end in sight.
    EXPECT_EQ(VerdictOn("GET /" + std::string(9000, 'a') + " HTTP/1.1\r\n\r\n").Status, 414);
    EXPECT_EQ(VerdictOn("GET /" + std::string(40000, 'a')).Status, 414);
    EXPECT_EQ(VerdictOn("GET /" + std::string(8100, 'a') + " HTTP/1.1\r\n\r\n").Status, 0);

    // One line over 8 KiB, and many lines together over 36 KiB.
    EXPECT_EQ(VerdictOn(get + "X-Pad: " + std::string(8200, 'b') + "\r\n\r\n").Status, 400);
    std::string many = get;
    for (int i = 0; i < 10; ++i) {
        many += "X-Pad: " + std::string(4000, 'c') + "\r\n";
    }
    const THeadVerdict tooMuch = VerdictOn(many + "\r\n");
    EXPECT_EQ(tooMuch.Status, 400);
    EXPECT_NE(tooMuch.Reason.find("36864"), std::string::npos) << tooMuch.Reason;
    for (int i = 0; i < 3; ++i) {
        many += "X-Pad: " + std::string(4000, 'c') + "\r\n";
    }
    EXPECT_EQ(VerdictOn(many).Status, 400) << "without an end";
}

TEST(RequestHeadTest, WhatMayStartAProxyProtocolHeader) {
    for (const std::string_view start :
         {std::string_view(""), std::string_view("PRO"), std::string_view("PROXY TCP4 "),
          std::string_view("\r\n\r\n\0\r\n", 7), std::string_view("\r\n\r\n\0\r\nQUIT\n\x21", 13)}) {
        EXPECT_TRUE(MayStartProxyProtocolHeader(start)) << start;
    }
    for (const std::string_view start : {"G", "POST", "PROXYX", "\r\n\r\nGET"}) {
        EXPECT_FALSE(MayStartProxyProtocolHeader(start)) << start;
    }
}

}  // namespace
}  // namespace cloakline::server
