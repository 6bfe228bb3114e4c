#include "gateway/ProxyRequest.h"

#include <boost/asio/buffer.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/parser.hpp>
#include <vector>

#include "core/support/TextUtils.h"

namespace cloakline::gateway {

namespace http = boost::beast::http;

namespace {

bool SameNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i];
        char y = b[i];
        x = x >= 'A' && x <= 'Z' ? static_cast<char>(x - 'A' + 'a') : x;
        y = y >= 'A' && y <= 'Z' ? static_cast<char>(y - 'A' + 'a') : y;
        if (x != y) {
            return false;
        }
    }
    return true;
}

}  // namespace

TProxyRequest ClassifyRequest(const TRequestHead& head) {
    TProxyRequest request;
    const std::string_view target(head.target().data(), head.target().size());
    if (head.method() == http::verb::connect) {
        if (const auto authority = ParseAuthority(target)) {
            request.Kind = TRequestKind::Connect;
            request.Target = *authority;
        }
        return request;
    }
    const auto url = ParseHttpUrl(target);
    if (!url) {
        return request;
    }
    request.Kind = TRequestKind::Forward;
    request.Target = url->Target;
    request.OriginForm = url->OriginForm;
    request.AbsoluteForm = "http://" + url->Target.Authority() + url->OriginForm;
    return request;
}

void StripHopByHop(http::fields& fields) {
    std::vector<std::string> named;
    for (auto it = fields.find(http::field::connection);
         it != fields.end() && it->name() == http::field::connection; ++it) {
        std::string_view value(it->value().data(), it->value().size());
        while (!value.empty()) {
            const std::size_t comma = value.find(',');
            const std::string_view token = Trimmed(value.substr(0, comma));
            if (!token.empty()) {
                named.emplace_back(token);
            }
            value = comma == std::string_view::npos ? std::string_view() : value.substr(comma + 1);
        }
    }
    for (const std::string& name : named) {
        // The framing is never dropped, whatever Connection names.
        if (SameNoCase(name, "content-length") || SameNoCase(name, "transfer-encoding")) {
            continue;
        }
        fields.erase(name);
    }
    for (const http::field field :
         {http::field::connection, http::field::keep_alive, http::field::proxy_connection,
          http::field::proxy_authorization, http::field::proxy_authenticate, http::field::te,
          http::field::trailer, http::field::upgrade}) {
        fields.erase(field);
    }
}

void PrepareForward(TRequestHead& head,
                    const TProxyRequest& request,
                    bool absoluteForm,
                    const std::string& proxyAuthorization) {
    StripHopByHop(head);
    head.target(absoluteForm ? request.AbsoluteForm : request.OriginForm);
    head.set(http::field::host, request.Target.HostHeader());
    if (!proxyAuthorization.empty()) {
        head.set(http::field::proxy_authorization, proxyAuthorization);
    }
}

THeadParse ParseRequestHead(std::string_view bytes, std::size_t maxHeadBytes) {
    THeadParse result;
    http::request_parser<http::empty_body> parser;
    parser.header_limit(static_cast<std::uint32_t>(maxHeadBytes));
    parser.eager(false);
    boost::beast::error_code ec;
    std::size_t used = 0;
    while (!parser.is_header_done()) {
        const std::size_t n = parser.put(boost::asio::buffer(bytes.data() + used, bytes.size() - used), ec);
        used += n;
        if (ec == http::error::need_more) {
            return result;
        }
        if (ec == http::error::header_limit) {
            result.State = THeadState::TooLarge;
            return result;
        }
        if (ec) {
            result.State = THeadState::Bad;
            return result;
        }
        if (n == 0) {
            return result;
        }
    }
    result.State = THeadState::Done;
    result.Used = used;
    result.Request = ClassifyRequest(parser.get());
    return result;
}

}  // namespace cloakline::gateway
