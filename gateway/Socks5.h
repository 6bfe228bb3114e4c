#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "gateway/Target.h"

// The SOCKS5 messages (RFC 1928, user and password after RFC 1929) as pure
// functions over bytes: what a client sends the gateway, and what the gateway
// sends an upstream SOCKS5 proxy and reads back from it.
namespace cloakline::gateway::socks5 {

constexpr std::uint8_t kVersion = 0x05;

// Reply codes.
constexpr std::uint8_t kSucceeded = 0x00;
constexpr std::uint8_t kGeneralFailure = 0x01;
constexpr std::uint8_t kHostUnreachable = 0x04;
constexpr std::uint8_t kConnectionRefused = 0x05;
constexpr std::uint8_t kCommandNotSupported = 0x07;
constexpr std::uint8_t kAddressTypeNotSupported = 0x08;

enum class TState { NeedMore, Bad, Done };

struct TGreeting {
    TState State = TState::NeedMore;
    bool OffersNoAuth = false;
    // Bytes the greeting took.
    std::size_t Used = 0;
};

// Version, method count, methods.
TGreeting ReadGreeting(std::string_view bytes);

// The gateway's answer to a greeting: no authentication, or none acceptable.
std::string MethodChoice(bool accepted);

struct TRequest {
    TState State = TState::NeedMore;
    // The reply to send when State is Bad (and the shape was readable).
    std::uint8_t Failure = kGeneralFailure;
    TTarget Target;
    std::size_t Used = 0;
};

// A CONNECT request; other commands and address types are Bad with the
// matching reply code.
TRequest ReadRequest(std::string_view bytes);

// A reply with the bound address 0.0.0.0:0.
std::string Reply(std::uint8_t code);

// Towards an upstream: the greeting offers user/password only when there is a login.
std::string ClientGreeting(bool withLogin);
// Empty when user or password is longer than 255 bytes.
std::string ClientLogin(std::string_view user, std::string_view password);
// Names go as a domain name (the upstream resolves them), literals as addresses.
std::string ClientConnect(const TTarget& target);

struct TReply {
    TState State = TState::NeedMore;
    std::uint8_t Code = kGeneralFailure;
    std::size_t Used = 0;
};

// The upstream's reply to ClientConnect.
TReply ReadReply(std::string_view bytes);

}  // namespace cloakline::gateway::socks5
