// What a client sends the server before any answer: a request head, fed to
// Beast's parser in two pieces as two reads would bring it, then judged by the
// server's own rules. A request that is served must be one the server claims
// to serve; a refused one gets one of the refusals it documents.
#include <algorithm>
#include <boost/asio/buffer.hpp>
#include <boost/beast/http/error.hpp>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "fuzz/support/FuzzCheck.h"
#include "server/core/RequestHead.h"

using namespace cloakline::server;
namespace http = boost::beast::http;

namespace {

bool IsDocumentedRefusal(int status) {
    return status == 400 || status == 405 || status == 413 || status == 414;
}

// Puts bytes into the parser as far as it takes them; what it did not take
// stays in front of rest.
boost::system::error_code Feed(TRequestHeadParser& parser, std::string_view bytes, std::size_t& taken) {
    boost::system::error_code ec;
    while (!parser.is_header_done() && taken < bytes.size()) {
        const std::size_t used =
            parser.put(boost::asio::buffer(bytes.data() + taken, bytes.size() - taken), ec);
        taken += used;
        if (ec == http::error::need_more) {
            ec = {};
            if (used == 0) {
                break;
            }
            continue;
        }
        if (ec) {
            break;
        }
    }
    return ec;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte says where the first read ends.
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::size_t split = std::min<std::size_t>(data[0] * 64u, input.size());

    TRequestHeadParser parser;
    PrepareRequestHeadParser(parser);
    std::size_t taken = 0;
    boost::system::error_code ec = Feed(parser, input.substr(0, split), taken);
    if (!ec && !parser.is_header_done()) {
        ec = Feed(parser, input, taken);
    }
    if (ec) {
        const THeadVerdict verdict = JudgeUnreadHead(ec, input.substr(taken));
        FUZZ_CHECK(IsDocumentedRefusal(verdict.Status) && !verdict.Reason.empty());
        return 0;
    }
    if (!parser.is_header_done()) {
        return 0;
    }
    FUZZ_CHECK(taken <= input.size());
    const THeadVerdict verdict = JudgeRequestHead(parser);
    if (verdict.Refused()) {
        FUZZ_CHECK(IsDocumentedRefusal(verdict.Status) && !verdict.Reason.empty());
        return 0;
    }
    // Served: GET or HEAD, within the limits, and with no body that could
    // pose as the next request.
    const auto& head = parser.get();
    FUZZ_CHECK(head.method() == http::verb::get || head.method() == http::verb::head);
    FUZZ_CHECK(head.target().size() <= kMaxTargetBytes);
    FUZZ_CHECK(taken <= kMaxHeadBytes + input.substr(0, split).size());
    FUZZ_CHECK(!parser.chunked() && parser.content_length().value_or(0) == 0);
    FUZZ_CHECK(head.count(http::field::transfer_encoding) == 0);
    for (const auto& field : head) {
        FUZZ_CHECK(field.value().size() <= kMaxHeaderLineBytes);
    }
    return 0;
}
