#include "guard/GuardProtocol.h"

namespace cloakline {

namespace {

std::string Escape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else {
            out += c;
        }
    }
    return out;
}

std::optional<std::string> Unescape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) {
            return std::nullopt;
        }
        switch (text[i]) {
            case '\\':
                out += '\\';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            default:
                return std::nullopt;
        }
    }
    return out;
}

bool TakePrefix(std::string_view& line, std::string_view prefix) {
    if (line.substr(0, prefix.size()) != prefix) {
        return false;
    }
    line.remove_prefix(prefix.size());
    return true;
}

}  // namespace

std::string GuardTitleLine(std::string_view title) {
    return "title " + Escape(title) + "\n";
}

std::string GuardBodyLine(std::string_view body) {
    return "body " + Escape(body) + "\n";
}

std::string GuardBlockLine(bool on) {
    return on ? "block on\n" : "block off\n";
}

std::string GuardReleaseLine() {
    return "release\n";
}

std::optional<TGuardMessage> ParseGuardLine(std::string_view line) {
    TGuardMessage message;
    if (line == "release") {
        message.Kind = TGuardMessage::TKind::Release;
        return message;
    }
    if (line == "block on" || line == "block off") {
        message.Kind = TGuardMessage::TKind::Block;
        message.On = line == "block on";
        return message;
    }
    const bool title = TakePrefix(line, "title ");
    if (!title && !TakePrefix(line, "body ")) {
        return std::nullopt;
    }
    std::optional<std::string> text = Unescape(line);
    if (!text) {
        return std::nullopt;
    }
    message.Kind = title ? TGuardMessage::TKind::Title : TGuardMessage::TKind::Body;
    message.Text = std::move(*text);
    return message;
}

}  // namespace cloakline
