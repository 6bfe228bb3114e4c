#pragma once

#include <boost/beast/http/fields.hpp>
#include <boost/beast/http/message.hpp>
#include <cstddef>
#include <string>
#include <string_view>

#include "gateway/Target.h"

// What a browser asks of an HTTP proxy, read from the request head alone.
namespace cloakline::gateway {

enum class TRequestKind {
    // CONNECT host:port: a tunnel.
    Connect,
    // An absolute-form http:// request to forward.
    Forward,
    // Anything a proxy cannot serve: answered with 400.
    Bad,
};

struct TProxyRequest {
    TRequestKind Kind = TRequestKind::Bad;
    TTarget Target;
    // For Forward: the path and query, and the whole http:// address.
    std::string OriginForm;
    std::string AbsoluteForm;
};

using TRequestHead = boost::beast::http::request_header<>;
using TResponseHead = boost::beast::http::response_header<>;

TProxyRequest ClassifyRequest(const TRequestHead& head);

// Removes what belongs to one hop only: Connection and the headers it names,
// Keep-Alive, Proxy-Connection, Proxy-Authorization, Proxy-Authenticate, TE,
// Trailer and Upgrade. The framing (Content-Length, Transfer-Encoding) stays,
// because the body is passed on as it came.
void StripHopByHop(boost::beast::http::fields& fields);

// Rewrites a Forward request for the next hop: the target in absolute form
// (towards an HTTP proxy) or origin form, Host from the address, one hop's
// headers gone, and Proxy-Authorization only when proxyAuthorization is not
// empty.
void PrepareForward(TRequestHead& head,
                    const TProxyRequest& request,
                    bool absoluteForm,
                    const std::string& proxyAuthorization);

enum class THeadState { NeedMore, TooLarge, Bad, Done };

struct THeadParse {
    THeadState State = THeadState::NeedMore;
    TProxyRequest Request;
    // Bytes the head took.
    std::size_t Used = 0;
};

// The head at the start of bytes, read by the same parser the connections use.
THeadParse ParseRequestHead(std::string_view bytes, std::size_t maxHeadBytes);

}  // namespace cloakline::gateway
