#include "server/core/RequestHead.h"

#include <algorithm>
#include <boost/beast/http/error.hpp>
#include <cstdint>
#include <limits>

namespace cloakline::server {

namespace http = boost::beast::http;

void PrepareRequestHeadParser(TRequestHeadParser& parser) {
    parser.header_limit(static_cast<std::uint32_t>(kMaxHeadBytes));
    // The body is never read; the length is judged after the head, into 400 or 413.
    parser.body_limit(std::numeric_limits<std::uint64_t>::max());
}

THeadVerdict JudgeUnreadHead(const boost::system::error_code& error, std::string_view buffered) {
    if (error == http::error::header_limit) {
        // Still in the request line: the target is what is too long.
        const std::size_t lineEnd = buffered.find('\n');
        if (lineEnd == std::string_view::npos || lineEnd > kMaxTargetBytes) {
            return {414, "target longer than " + std::to_string(kMaxTargetBytes) + " bytes"};
        }
        return {400, "request head longer than " + std::to_string(kMaxHeadBytes) + " bytes"};
    }
    return {400, "not an HTTP request: " + error.message()};
}

THeadVerdict JudgeRequestHead(const TRequestHeadParser& parser) {
    const auto& head = parser.get();
    if (head.target().size() > kMaxTargetBytes) {
        return {414, "target longer than " + std::to_string(kMaxTargetBytes) + " bytes"};
    }
    // The parser's own limit leaves out what it took early (the request
    // line, say); the head's size as sent, give or take its white space, is
    // what counts.
    std::size_t headBytes = head.method_string().size() + 1 + head.target().size() + 11;
    for (const auto& field : head) {
        const std::size_t line = field.name_string().size() + 2 + field.value().size();
        if (line > kMaxHeaderLineBytes) {
            return {400, "header line longer than " + std::to_string(kMaxHeaderLineBytes) + " bytes"};
        }
        headBytes += line + 2;
    }
    if (headBytes + 2 > kMaxHeadBytes) {
        return {400, "request head longer than " + std::to_string(kMaxHeadBytes) + " bytes"};
    }
    if (head.method() != http::verb::get && head.method() != http::verb::head) {
        return {405, "method " + std::string(head.method_string().substr(0, 16))};
    }
    // The body's bytes would pose as the next request on the connection:
    // refused, and the connection is closed without reading them.
    const auto length = parser.content_length();
    if (length && *length > kMaxBodyBytes) {
        return {413, "body too large"};
    }
    if ((length && *length > 0) || parser.chunked() || head.count(http::field::transfer_encoding) > 0) {
        return {400, "a body on a GET"};
    }
    return {};
}

bool MayStartProxyProtocolHeader(std::string_view bytes) {
    static constexpr std::string_view kVersion1 = "PROXY ";
    static constexpr std::string_view kVersion2("\r\n\r\n\0\r\nQUIT\n", 12);
    const auto startsAs = [bytes](std::string_view signature) {
        const std::size_t n = std::min(bytes.size(), signature.size());
        return bytes.substr(0, n) == signature.substr(0, n);
    };
    return startsAs(kVersion1) || startsAs(kVersion2);
}

}  // namespace cloakline::server
