#include "gateway/UpstreamCheck.h"

#include "core/proxy/CheckPage.h"
#include "gateway/Asio.h"
#include "gateway/Target.h"
#include "gateway/UpstreamRoute.h"

namespace cloakline::gateway {

namespace asio = boost::asio;
namespace http = boost::beast::http;
using tcp = asio::ip::tcp;

namespace {

// A check page is small; anything bigger is not one.
constexpr std::uint64_t kMaxPage = 256 * 1024;

std::string NoAnswerWithin(const TProxyAddress& upstream, std::chrono::milliseconds timeout) {
    return upstream.Redacted() + ": no answer within " + std::to_string(timeout.count()) + " ms";
}

}  // namespace

asio::awaitable<TCheckAnswer> CheckThrough(TProxyAddress upstream,
                                           std::string checkUrl,
                                           std::chrono::milliseconds timeout,
                                           TGuardRegistry& guards) {
    TCheckAnswer answer;
    const auto url = ParseHttpUrl(checkUrl);
    if (!url) {
        answer.Failure = "the check address is not an http:// address";
        co_return answer;
    }
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const auto executor = co_await asio::this_coro::executor;
    tcp::socket socket(executor);
    TWatchdog watchdog(executor, guards);
    watchdog.Guard(socket);
    const TRoute route = co_await OpenPlain(socket, upstream, url->Target, timeout, guards);
    if (route.State != TRouteState::Open) {
        answer.Failure = route.Failure;
        co_return answer;
    }
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= std::chrono::steady_clock::duration::zero()) {
        answer.Failure = NoAnswerWithin(upstream, timeout);
        co_return answer;
    }
    watchdog.Arm(left);

    const bool viaHttp = upstream.Scheme == TProxyScheme::Http;
    std::string request =
        "GET " + (viaHttp ? "http://" + url->Target.Authority() + url->OriginForm : url->OriginForm) +
        " HTTP/1.1\r\nHost: " + url->Target.HostHeader() + "\r\n";
    if (const std::string authorization = ProxyAuthorizationOf(upstream); !authorization.empty()) {
        request += "Proxy-Authorization: " + authorization + "\r\n";
    }
    request += "Accept: text/html\r\nCache-Control: no-cache\r\nConnection: close\r\n\r\n";
    boost::system::error_code ec;
    co_await asio::async_write(socket, asio::buffer(request), asio::redirect_error(asio::use_awaitable, ec));
    boost::beast::flat_buffer buffer;
    buffer.commit(asio::buffer_copy(buffer.prepare(route.Early.size()), asio::buffer(route.Early)));
    http::response_parser<http::string_body> parser;
    parser.body_limit(kMaxPage);
    if (!ec) {
        co_await http::async_read(socket, buffer, parser, asio::redirect_error(asio::use_awaitable, ec));
    }
    watchdog.Disarm();
    if (ec) {
        answer.Failure =
            watchdog.Fired() ? NoAnswerWithin(upstream, timeout) : upstream.Redacted() + ": " + ec.message();
        co_return answer;
    }
    const unsigned status = parser.get().result_int();
    if (status / 100 != 2) {
        answer.Failure = upstream.Redacted() + " answered " + std::to_string(status);
        co_return answer;
    }
    answer.Answered = true;
    if (const auto page = ParseCheckPage(parser.get().body())) {
        answer.ExitAddress = page->Address;
        answer.Country = page->Country;
    } else {
        answer.Failure = "the check page names no address";
    }
    co_return answer;
}

}  // namespace cloakline::gateway
