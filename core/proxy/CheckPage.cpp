#include "core/proxy/CheckPage.h"

namespace cloakline {

namespace {

// The text of the element that opens with marker, entities decoded and
// trimmed; nullopt when there is none.
std::optional<std::string> SpanText(std::string_view html, std::string_view marker) {
    const std::size_t start = html.find(marker);
    if (start == std::string_view::npos) {
        return std::nullopt;
    }
    const std::size_t from = start + marker.size();
    const std::size_t end = html.find("</span>", from);
    if (end == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view raw = html.substr(from, end - from);
    std::string text;
    while (!raw.empty()) {
        bool replaced = false;
        for (const auto& [entity, plain] : {std::pair<std::string_view, char>{"&amp;", '&'},
                                            {"&lt;", '<'},
                                            {"&gt;", '>'},
                                            {"&quot;", '"'},
                                            {"&#39;", '\''}}) {
            if (raw.starts_with(entity)) {
                text += plain;
                raw.remove_prefix(entity.size());
                replaced = true;
                break;
            }
        }
        if (!replaced) {
            text += raw.front();
            raw.remove_prefix(1);
        }
    }
    const std::size_t first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return std::string();
    }
    return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

bool LooksLikeAddress(const std::string& text) {
    if (text.empty() || text.size() > 45) {
        return false;
    }
    bool colon = false;
    bool dot = false;
    for (const char c : text) {
        const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
        colon = colon || c == ':';
        dot = dot || c == '.';
        if (!hex && c != ':' && c != '.') {
            return false;
        }
    }
    return colon || dot;
}

}  // namespace

std::optional<TCheckPage> ParseCheckPage(std::string_view html) {
    const auto address = SpanText(html, "<span id=\"ip\">");
    if (!address || !LooksLikeAddress(*address)) {
        return std::nullopt;
    }
    TCheckPage page;
    page.Address = *address;
    const auto country = SpanText(html, "<span id=\"country\">");
    if (country && country->size() == 2) {
        std::string code;
        for (char c : *country) {
            if (c >= 'a' && c <= 'z') {
                c = static_cast<char>(c - 'a' + 'A');
            }
            if (c < 'A' || c > 'Z') {
                code.clear();
                break;
            }
            code += c;
        }
        page.Country = code;
    }
    return page;
}

}  // namespace cloakline
