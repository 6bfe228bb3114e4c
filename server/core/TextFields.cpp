#include "server/core/TextFields.h"

#include <charconv>
#include <cmath>

#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"

namespace cloakline::server {

bool IsOneLineText(std::string_view text, std::size_t maxBytes) {
    return text.size() <= maxBytes && IsValidUtf8(text) && !HasControlCharacter(text);
}

bool IsSafeField(std::string_view text, std::size_t maxBytes) {
    return !text.empty() && IsOneLineText(text, maxBytes) &&
           text.find_first_of("|;\\") == std::string_view::npos;
}

std::string CountryCodeOf(std::string_view text) {
    if (text.size() != 2) {
        return {};
    }
    std::string code;
    for (const char c : text) {
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) {
            return {};
        }
        code += static_cast<char>(c >= 'a' ? c - 'a' + 'A' : c);
    }
    return code;
}

std::string CoordinateOf(std::string_view text, double limit) {
    if (text.empty() || text.size() > 16) {
        return {};
    }
    // Digits, one optional point and a leading minus only: no exponent, no "nan".
    std::size_t i = text[0] == '-' ? 1 : 0;
    bool digit = false;
    bool point = false;
    for (; i < text.size(); ++i) {
        if (text[i] >= '0' && text[i] <= '9') {
            digit = true;
        } else if (text[i] == '.' && !point) {
            point = true;
        } else {
            return {};
        }
    }
    if (!digit) {
        return {};
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || std::fabs(value) > limit) {
        return {};
    }
    return std::string(text);
}

}  // namespace cloakline::server
