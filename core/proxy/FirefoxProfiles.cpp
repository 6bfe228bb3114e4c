#include "core/proxy/FirefoxProfiles.h"

#include "core/framework/IniDocument.h"
#include "core/support/PathUtils.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

constexpr std::string_view kBlockBegin = "// Cloakline proxy: begin";
constexpr std::string_view kBlockEnd = "// Cloakline proxy: end";
constexpr std::string_view kBlockNote =
    " (Cloakline rewrites these lines whenever it switches the proxy; edit the rest of the file freely)";
constexpr std::string_view kProxyPrefPrefix = "user_pref(\"network.proxy.";

void AddStringPref(std::string& out,
                   std::string_view name,
                   std::string_view value,
                   std::string_view lineBreak) {
    out += "user_pref(\"";
    out += name;
    out += "\", \"";
    out += value;
    out += "\");";
    out += lineBreak;
}

void AddIntPref(std::string& out, std::string_view name, unsigned value, std::string_view lineBreak) {
    out += "user_pref(\"";
    out += name;
    out += "\", ";
    out += std::to_string(value);
    out += ");";
    out += lineBreak;
}

struct TLine {
    std::string_view Text;
    std::string_view Break;
};

std::vector<TLine> SplitLines(std::string_view text) {
    std::vector<TLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({text.substr(start), {}});
            break;
        }
        const std::size_t breakLength =
            text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        lines.push_back({text.substr(start, end - start), text.substr(end, breakLength)});
        start = end + breakLength;
    }
    return lines;
}

std::string ToProgramSeparators(std::string_view path) {
    std::string s(path);
    for (char& c : s) {
        if (c == '/') {
            c = '\\';
        }
    }
    return s;
}

}  // namespace

std::string FirefoxUserJsBlock(const std::optional<TProxyEndpoint>& proxy, std::string_view lineBreak) {
    // 1 is "manual proxy configuration", 0 "no proxy".
    const std::string host = proxy ? proxy->Host : std::string();
    const unsigned port = proxy ? proxy->Port : 0u;
    std::string out(kBlockBegin);
    out += kBlockNote;
    out += lineBreak;
    AddIntPref(out, "network.proxy.type", proxy ? 1u : 0u, lineBreak);
    for (std::string_view scheme : {"http", "ssl", "ftp"}) {
        const std::string name = "network.proxy." + std::string(scheme);
        AddStringPref(out, name, host, lineBreak);
        AddIntPref(out, name + "_port", port, lineBreak);
    }
    AddStringPref(out, "network.proxy.no_proxies_on", "", lineBreak);
    out += kBlockEnd;
    out += lineBreak;
    return out;
}

std::string ReplaceFirefoxUserJsBlock(std::string_view userJs, const std::optional<TProxyEndpoint>& proxy) {
    const std::vector<TLine> lines = SplitLines(userJs);
    std::string_view lineBreak = "\n";
    for (const TLine& line : lines) {
        if (!line.Break.empty()) {
            lineBreak = line.Break;
            break;
        }
    }

    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!TrimText(lines[i].Text).starts_with(kBlockBegin)) {
            out += lines[i].Text;
            out += lines[i].Break.empty() ? lineBreak : lines[i].Break;
            continue;
        }
        std::size_t end = i + 1;
        while (end < lines.size() && TrimText(lines[end].Text) != kBlockEnd) {
            ++end;
        }
        if (end == lines.size()) {
            // The end line is gone: take only what can be ours.
            end = i + 1;
            while (end < lines.size() && TrimText(lines[end].Text).starts_with(kProxyPrefPrefix)) {
                ++end;
            }
            --end;
        }
        i = end;
    }
    out += FirefoxUserJsBlock(proxy, lineBreak);
    return out;
}

std::vector<std::string> FirefoxProfileFolders(std::string_view profilesIni, std::string_view iniFolder) {
    TIniDocument doc;
    doc.LoadFromBytes(profilesIni);
    std::vector<std::string> folders;
    for (int n = 0;; ++n) {
        const std::string section = "Profile" + std::to_string(n);
        const std::string* isRelative = doc.Find(section, "IsRelative");
        if (isRelative == nullptr) {
            break;
        }
        const std::string* path = doc.Find(section, "Path");
        if (path == nullptr || path->empty()) {
            continue;
        }
        const std::string programPath = ExcludeTrailingBackslash(ToProgramSeparators(*path));
        folders.push_back(*isRelative == "1" ? CombinePath(iniFolder, programPath) : programPath);
    }
    return folders;
}

}  // namespace cloakline
