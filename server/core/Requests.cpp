#include "server/core/Requests.h"

#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
#include "server/core/Ipv4.h"
#include "server/core/ProxyEntry.h"

namespace cloakline::server {

namespace {

bool HasLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

}  // namespace

std::optional<std::string> PercentDecode(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out += ' ';
        } else if (c != '%') {
            out += c;
        } else {
            if (i + 2 >= text.size()) {
                return std::nullopt;
            }
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return std::nullopt;
            }
            out += static_cast<char>(high * 16 + low);
            i += 2;
        }
    }
    return out;
}

std::optional<TQuery> TQuery::Parse(std::string_view target) {
    TQuery query;
    const std::size_t mark = target.find('?');
    if (mark == std::string_view::npos) {
        return query;
    }
    std::string_view rest = target.substr(mark + 1);
    const std::size_t hash = rest.find('#');
    if (hash != std::string_view::npos) {
        rest = rest.substr(0, hash);
    }
    std::size_t start = 0;
    while (start <= rest.size()) {
        std::size_t end = rest.find('&', start);
        if (end == std::string_view::npos) {
            end = rest.size();
        }
        const std::string_view piece = rest.substr(start, end - start);
        start = end + 1;
        if (!piece.empty()) {
            const std::size_t eq = piece.find('=');
            auto name = PercentDecode(piece.substr(0, eq));
            auto value = eq == std::string_view::npos ? std::optional<std::string>("")
                                                      : PercentDecode(piece.substr(eq + 1));
            if (!name || !value || HasLineBreakOrNul(*name) || HasLineBreakOrNul(*value)) {
                return std::nullopt;
            }
            query.FParams.emplace_back(std::move(*name), std::move(*value));
        }
        if (end == rest.size()) {
            break;
        }
    }
    return query;
}

std::optional<std::string> TQuery::Get(std::string_view name) const {
    for (const auto& [n, v] : FParams) {
        if (SameTextAscii(n, name)) {
            return v;
        }
    }
    return std::nullopt;
}

std::optional<TUpdateRequest> ReadUpdateRequest(const TQuery& query, std::string& reason) {
    const auto action = query.Get("ACTION");
    if (!action || !SameTextAscii(*action, "Update")) {
        reason = "ACTION is not Update";
        return std::nullopt;
    }
    const auto product = query.Get("PID");
    if (!product || product->empty() || product->size() > 64) {
        reason = "PID is missing";
        return std::nullopt;
    }
    const auto version = query.Get("VER");
    if (!version || version->size() != 8) {
        reason = "VER is not eight hexadecimal digits";
        return std::nullopt;
    }
    std::uint32_t value = 0;
    for (const char c : *version) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            reason = "VER is not eight hexadecimal digits";
            return std::nullopt;
        }
        value = (value << 4) | static_cast<std::uint32_t>(digit);
    }
    return TUpdateRequest{value, *product};
}

std::string FlagCodeOfFileName(std::string_view fileName) {
    if (fileName.size() != 6 || !SameTextAscii(fileName.substr(2), ".png")) {
        return {};
    }
    std::string code;
    for (const char c : fileName.substr(0, 2)) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return {};
        }
        code += AsciiLower(c) == c ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return code;
}

std::optional<TTouchTarget> ReadTouchTarget(std::string_view text) {
    if (const auto address = ParseHostPort(text)) {
        return TTouchTarget{address->Host, address->Port};
    }
    // A host alone: check it the same way by lending it a port.
    if (text.find(':') == std::string_view::npos) {
        if (const auto address = ParseHostPort(std::string(text) + ":1")) {
            return TTouchTarget{address->Host, std::nullopt};
        }
    }
    return std::nullopt;
}

}  // namespace cloakline::server
