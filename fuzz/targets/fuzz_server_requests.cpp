// What a client puts into a request to the server: the target with its
// parameters, the update request's fields, a flag picture's file name, a
// touch's address and the page actions. Each is read the way the server
// reads it, and what the server accepts must be what it claims to accept.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "core/support/TextEncoding.h"
#include "fuzz/support/FuzzCheck.h"
#include "server/core/Answers.h"
#include "server/core/ProxyEntry.h"
#include "server/core/Requests.h"
#include "server/core/TextFields.h"

using namespace cloakline;
using namespace cloakline::server;

namespace {

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

// Every byte as "%XX", so that the text arrives whole whatever it holds.
std::string EncodeEveryByte(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        out += '%';
        out += kHex[b >> 4];
        out += kHex[b & 0xF];
    }
    return out;
}

char UpperAscii(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsUpperLetter(char c) {
    return c >= 'A' && c <= 'Z';
}

bool IsHostCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.';
}

void CheckDecoding(std::string_view input) {
    if (const auto decoded = PercentDecode(input)) {
        FUZZ_CHECK(decoded->size() <= input.size());
        if (input.find_first_of("%+") == std::string_view::npos) {
            FUZZ_CHECK(*decoded == input);
        }
    }
    const auto whole = PercentDecode(EncodeEveryByte(input));
    FUZZ_CHECK(whole && *whole == input);
}

// The input as a target of its own: whatever the query holds is free of the
// characters that would split a log line or an answer line.
void CheckTarget(std::string_view target) {
    const auto query = TQuery::Parse(target);
    if (!query) {
        return;
    }
    std::size_t pieces = 1;
    for (const char c : target) {
        pieces += c == '&' ? 1 : 0;
    }
    FUZZ_CHECK(query->Size() <= pieces);
    for (const std::string_view name : {"ACTION", "PID", "VER", "MagicWord", "ip", "action"}) {
        if (const auto value = query->Get(name)) {
            FUZZ_CHECK(!HasLineBreakOrNul(*value));
        }
    }

    std::string reason;
    if (const auto update = ReadUpdateRequest(*query, reason)) {
        FUZZ_CHECK(SameTextAscii(query->Get("ACTION").value_or(""), "Update"));
        const std::string version = query->Get("VER").value_or("");
        char hex[9];
        std::snprintf(hex, sizeof hex, "%08X", update->ClientVersion);
        FUZZ_CHECK(version.size() == 8);
        for (std::size_t i = 0; i < 8; ++i) {
            FUZZ_CHECK(UpperAscii(version[i]) == hex[i]);
        }
        FUZZ_CHECK(!update->Product.empty() && update->Product.size() <= 64);
        FUZZ_CHECK(query->Get("PID") == update->Product);
    } else {
        FUZZ_CHECK(!reason.empty());
    }
}

// The input carried as one parameter among others arrives unchanged, or the
// whole target is refused when it holds a line break or a NUL.
void CheckCarried(std::string_view input) {
    const std::string encoded = EncodeEveryByte(input);
    const auto query = TQuery::Parse("/update?first=1&fuzz=" + encoded + "&last=2#" + encoded);
    FUZZ_CHECK(query.has_value() == !HasLineBreakOrNul(input));
    if (query) {
        FUZZ_CHECK(query->Get("FUZZ") == input);
        FUZZ_CHECK(query->Get("first") == "1" && query->Get("last") == "2");
        FUZZ_CHECK(query->Size() == 3);
    }

    // The same text as the product of an update request.
    const std::string_view product = input.substr(0, 80);
    const auto request = TQuery::Parse("/update?ACTION=Update&VER=0A0B0C0D&PID=" + EncodeEveryByte(product));
    FUZZ_CHECK(request.has_value() == !HasLineBreakOrNul(product));
    std::string reason;
    if (const auto update = request ? ReadUpdateRequest(*request, reason) : std::nullopt) {
        FUZZ_CHECK(!product.empty() && product.size() <= 64 && update->Product == product);
        FUZZ_CHECK(update->ClientVersion == 0x0A0B0C0Du);
    } else if (request) {
        FUZZ_CHECK((product.empty() || product.size() > 64) && !reason.empty());
    }
}

void CheckFlagName(std::string_view name) {
    const std::string code = FlagCodeOfFileName(name);
    std::string upper;
    for (const char c : name) {
        upper += UpperAscii(c);
    }
    const bool shaped =
        upper.size() == 6 && IsUpperLetter(upper[0]) && IsUpperLetter(upper[1]) && upper.substr(2) == ".PNG";
    FUZZ_CHECK(shaped == !code.empty());
    if (!code.empty()) {
        // The picture read is named by the code alone: nothing of the name can climb out of the folder.
        FUZZ_CHECK(code + ".PNG" == upper);
    }
}

void CheckTouchTarget(std::string_view text) {
    const auto target = ReadTouchTarget(text);
    if (!target) {
        return;
    }
    FUZZ_CHECK(!target->Host.empty() && target->Host.size() <= 253);
    for (const char c : target->Host) {
        FUZZ_CHECK(IsHostCharacter(c));
    }
    FUZZ_CHECK(target->Host.front() != '-' && target->Host.front() != '.');
    if (target->Port) {
        FUZZ_CHECK(*target->Port >= 1);
        FUZZ_CHECK(text == target->Host + ":" + std::to_string(*target->Port));
    } else {
        FUZZ_CHECK(text == target->Host);
    }
    const auto again = ParseHostPort(target->Host + ":" + std::to_string(target->Port.value_or(80)));
    FUZZ_CHECK(again && again->Host == target->Host);
}

void CheckPages(std::string_view action) {
    const std::string page = SitePageOfAction(action);
    if (!page.empty()) {
        FUZZ_CHECK(BuildSitePage(page).starts_with("<!DOCTYPE html>"));
    }
    const std::string escaped = HtmlEscape(action);
    FUZZ_CHECK(escaped.find_first_of("<>\"'") == std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckDecoding(input);
    CheckTarget(input);
    CheckTarget("/update?" + std::string(input));
    CheckCarried(input);
    CheckFlagName(input);
    CheckTouchTarget(input);

    // What the touch and redirect pages are given, as the server decodes it.
    if (const auto query = TQuery::Parse("/touch?ip=" + std::string(input))) {
        CheckTouchTarget(query->Get("ip").value_or(""));
        CheckPages(query->Get("ip").value_or(""));
    }
    CheckPages(input);
    return 0;
}
