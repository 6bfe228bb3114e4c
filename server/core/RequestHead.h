#pragma once

#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <cstddef>
#include <string>
#include <string_view>

namespace cloakline::server {

// Longest request target.
inline constexpr std::size_t kMaxTargetBytes = 8 * 1024;
// Request line and headers together.
inline constexpr std::size_t kMaxHeadBytes = 36 * 1024;
// One header line, name and value.
inline constexpr std::size_t kMaxHeaderLineBytes = 8 * 1024;
// A body over this gets 413 rather than 400; no body is ever read.
inline constexpr std::size_t kMaxBodyBytes = 4 * 1024;

// A request head only: a body is never read as part of a request.
using TRequestHeadParser = boost::beast::http::request_parser<boost::beast::http::empty_body>;

// Sets the server's limits on a fresh parser.
void PrepareRequestHeadParser(TRequestHeadParser& parser);

// Whether a request is served, or which refusal it gets.
struct THeadVerdict {
    int Status = 0;  // 0: served
    std::string Reason;

    bool Refused() const { return Status != 0; }
};

// A head the parser gave up on with error; buffered is what it had not taken.
THeadVerdict JudgeUnreadHead(const boost::system::error_code& error, std::string_view buffered);

// A head the parser read whole.
THeadVerdict JudgeRequestHead(const TRequestHeadParser& parser);

// Whether bytes may be the start of a PROXY protocol header (either version),
// rather than of an HTTP request. Empty bytes may be either.
bool MayStartProxyProtocolHeader(std::string_view bytes);

}  // namespace cloakline::server
