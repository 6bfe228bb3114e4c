#include "core/support/PathUtils.h"

namespace cloakline {

namespace {

std::string Backslashed(std::string_view path) {
    std::string out(path);
    for (char& c : out) {
        if (c == '/') {
            c = '\\';
        }
    }
    return out;
}

std::size_t LastNameStart(std::string_view path) {
    const std::size_t at = path.find_last_of("\\:");
    return at == std::string_view::npos ? 0 : at + 1;
}

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string CombinePath(std::string_view base, std::string_view path) {
    if (path.find(':') != std::string_view::npos) {
        return Backslashed(path);
    }
    if (base.starts_with("\\\\")) {
        return Backslashed(path);
    }
    const bool driveBase = base.size() >= 2 && base[1] == ':';
    const bool rootedBase = !base.empty() && base[0] == '\\';
    if (driveBase || rootedBase) {
        const std::string d = Backslashed(path);
        const std::string b = IncludeTrailingBackslash(Backslashed(base));
        if (d.size() >= 2 && d[0] == '\\') {
            // A root-relative path keeps the base's drive; a rooted base has no
            // drive to give, so the path stands on its own.
            return driveBase ? b.substr(0, 2) + d : d;
        }
        return b + d;
    }
    return std::string(path);
}

std::string ExtractBaseName(std::string_view path) {
    const std::string_view name = path.substr(LastNameStart(path));
    const std::size_t dot = name.rfind('.');
    return std::string(dot == std::string_view::npos ? name : name.substr(0, dot));
}

std::string ExtractFilePath(std::string_view path) {
    return std::string(path.substr(0, LastNameStart(path)));
}

std::string ExtractFileName(std::string_view path) {
    return std::string(path.substr(LastNameStart(path)));
}

bool IsPlainFileStem(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (char c : name) {
        const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!letter && !(c >= '0' && c <= '9')) {
            return false;
        }
    }
    return true;
}

bool IsPlainItemName(std::string_view name) {
    if (name.empty() || name.find("..") != std::string_view::npos) {
        return false;
    }
    for (char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '\\' || c == '/' || c == ':' || u < 0x20 || u == 0x7F) {
            return false;
        }
    }
    return true;
}

std::string IncludeTrailingBackslash(std::string_view path) {
    std::string out(path);
    if (out.empty() || out.back() != '\\') {
        out += '\\';
    }
    return out;
}

std::string ExcludeTrailingBackslash(std::string_view path) {
    if (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    return std::string(path);
}

TStringList ParseCommandLineArguments(std::string_view params) {
    TStringList arguments;
    std::string current;
    // Set once the current argument has begun, so that "" yields an empty argument.
    bool started = false;
    bool quoted = false;
    for (std::size_t i = 0; i < params.size(); ++i) {
        const char c = params[i];
        if (quoted) {
            if (c == '\\' && i + 1 < params.size() && params[i + 1] == '"') {
                current += '"';
                ++i;
            } else if (c == '"') {
                quoted = false;
            } else {
                current += c;
            }
        } else if (IsWhiteSpace(c)) {
            if (started) {
                arguments.Add(std::move(current));
                current.clear();
                started = false;
            }
        } else if (c == '"') {
            quoted = true;
            started = true;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) {
        arguments.Add(std::move(current));
    }
    return arguments;
}

}  // namespace cloakline
