// What a client sends the local gateway first: an HTTP proxy request head,
// or a SOCKS5 greeting and CONNECT request; and the addresses inside them.
// Every input goes through each reader, and what a reader accepts must
// survive being written out and read again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/support/FuzzCheck.h"
#include "gateway/ProxyRequest.h"
#include "gateway/Socks5.h"
#include "gateway/Target.h"

using namespace cloakline::gateway;

namespace {

bool HasLineBreak(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

void CheckTarget(const TTarget& target) {
    FUZZ_CHECK(!target.Host.empty() && target.Port != 0);
    FUZZ_CHECK(!HasLineBreak(target.Host) && target.Host.find(' ') == std::string::npos);
    const auto again = ParseAuthority(target.Authority());
    FUZZ_CHECK(again && *again == target);
}

void CheckHead(std::string_view input) {
    constexpr std::size_t kMaxHead = 4096;
    const THeadParse parsed = ParseRequestHead(input, kMaxHead);
    if (parsed.State != THeadState::Done) {
        return;
    }
    FUZZ_CHECK(parsed.Used > 0 && parsed.Used <= input.size());
    // Everything before the end of the head was not yet a head.
    FUZZ_CHECK(ParseRequestHead(input.substr(0, parsed.Used - 1), kMaxHead).State != THeadState::Done);
    const TProxyRequest& request = parsed.Request;
    switch (request.Kind) {
        case TRequestKind::Connect:
            CheckTarget(request.Target);
            break;
        case TRequestKind::Forward: {
            CheckTarget(request.Target);
            FUZZ_CHECK(request.OriginForm.starts_with("/"));
            FUZZ_CHECK(!HasLineBreak(request.OriginForm) && !HasLineBreak(request.AbsoluteForm));
            const auto url = ParseHttpUrl(request.AbsoluteForm);
            FUZZ_CHECK(url && url->Target == request.Target && url->OriginForm == request.OriginForm);
            break;
        }
        case TRequestKind::Bad:
            break;
    }
}

void CheckSocks(std::string_view input) {
    const socks5::TGreeting greeting = socks5::ReadGreeting(input);
    if (greeting.State == socks5::TState::Done) {
        FUZZ_CHECK(greeting.Used <= input.size() &&
                   greeting.Used == 2u + static_cast<std::uint8_t>(input[1]));
    }
    // The request as it follows a greeting, and on its own.
    for (const std::string_view bytes :
         {input, greeting.State == socks5::TState::Done ? input.substr(greeting.Used) : std::string_view()}) {
        const socks5::TRequest request = socks5::ReadRequest(bytes);
        if (request.State != socks5::TState::Done) {
            continue;
        }
        FUZZ_CHECK(request.Used <= bytes.size());
        CheckTarget(request.Target);
        // What the gateway sends an upstream SOCKS5 proxy names the same place.
        const std::string forwarded = socks5::ClientConnect(request.Target);
        const socks5::TRequest again = socks5::ReadRequest(forwarded);
        FUZZ_CHECK(again.State == socks5::TState::Done && again.Target == request.Target &&
                   again.Used == forwarded.size());
    }
    const socks5::TReply reply = socks5::ReadReply(input);
    FUZZ_CHECK(reply.State != socks5::TState::Done || reply.Used <= input.size());
}

void CheckAddresses(std::string_view input) {
    if (const auto target = ParseAuthority(input)) {
        CheckTarget(*target);
    }
    if (const auto url = ParseHttpUrl(input)) {
        CheckTarget(url->Target);
        const auto again = ParseHttpUrl("http://" + url->Target.Authority() + url->OriginForm);
        FUZZ_CHECK(again && again->Target == url->Target && again->OriginForm == url->OriginForm);
    }
    const std::size_t colon = input.find(':');
    const std::string_view user = input.substr(0, colon);
    const std::string_view password =
        colon == std::string_view::npos ? std::string_view() : input.substr(colon + 1);
    const std::string basic = BasicCredentials(user, password);
    FUZZ_CHECK(basic.size() == 6 + (user.size() + 1 + password.size() + 2) / 3 * 4);
    FUZZ_CHECK(basic.find_first_of("\r\n :") == 5);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckHead(input);
    CheckSocks(input);
    CheckAddresses(input);
    return 0;
}
