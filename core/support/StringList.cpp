#include "core/support/StringList.h"

#include "core/support/TextEncoding.h"

namespace cloakline {

int TStringList::IndexOfName(std::string_view name) const {
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        const std::string& line = FLines[i];
        const std::size_t eq = line.find('=');
        // A line without "=" has no name, so not even the empty name matches it.
        if (eq != std::string::npos && SameTextAscii(std::string_view(line).substr(0, eq), name)) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

std::string TStringList::Value(std::string_view name) const {
    const int i = IndexOfName(name);
    return i >= 0 ? ValueOf(FLines[static_cast<std::size_t>(i)]) : std::string();
}

void TStringList::SetValue(std::string_view name, std::string_view value) {
    const int i = IndexOfName(name);
    if (value.empty()) {
        if (i >= 0) {
            Delete(static_cast<std::size_t>(i));
        }
        return;
    }
    std::string line;
    line.reserve(name.size() + 1 + value.size());
    line.append(name).append("=").append(value);
    if (i >= 0) {
        FLines[static_cast<std::size_t>(i)] = std::move(line);
    } else {
        FLines.push_back(std::move(line));
    }
}

std::string TStringList::NameOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string() : std::string(line.substr(0, eq));
}

std::string TStringList::ValueOf(std::string_view line) {
    const std::size_t eq = line.find('=');
    return eq == std::string_view::npos ? std::string() : std::string(line.substr(eq + 1));
}

std::string TStringList::Text() const {
    std::string out;
    for (std::size_t i = 0; i < FLines.size(); ++i) {
        if (i > 0) {
            out += "\r\n";
        }
        out += FLines[i];
    }
    return out;
}

void TStringList::SetText(std::string_view text) {
    FLines.clear();
    std::size_t start = 0;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            FLines.emplace_back(text.substr(start, i - start));
            ++i;
            if (c == '\r' && i < text.size() && text[i] == '\n') {
                ++i;
            }
            start = i;
        } else {
            ++i;
        }
    }
    if (start < text.size()) {
        FLines.emplace_back(text.substr(start));
    }
}

}  // namespace cloakline
