#include "core/proxy/FirefoxProfiles.h"

#include <algorithm>
#include <cstdlib>

#include "core/framework/IniDocument.h"
#include "core/support/PathUtils.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

constexpr std::string_view kBlockBegin = "// Cloakline proxy: begin";
constexpr std::string_view kBlockEnd = "// Cloakline proxy: end";
constexpr std::string_view kBlockNote =
    " (Cloakline keeps these lines only while it needs them; edit the rest of the file freely)";
// The user's own "prefs.js" line that the block's type 5 makes Firefox drop.
constexpr std::string_view kOwnRecord = "// Cloakline own: ";
// A value an earlier version forced, still to be taken out of "prefs.js".
constexpr std::string_view kEarlierRecord = "// Cloakline earlier: ";
constexpr std::string_view kRecordPrefix = "// Cloakline ";
constexpr std::string_view kProxyPrefPrefix = "user_pref(\"network.proxy.";
constexpr std::string_view kTypePref = "network.proxy.type";

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

// The line break that lines use: a lone "\r" (as often as not a stray one
// inside a line) only where no other is found.
std::string_view UsualBreak(const std::vector<const TLine*>& lines) {
    std::string_view lone;
    for (const TLine* line : lines) {
        if (line->Break == "\r") {
            lone = line->Break;
        } else if (!line->Break.empty()) {
            return line->Break;
        }
    }
    return lone.empty() ? std::string_view("\n") : lone;
}

std::string_view FirstBreak(const std::vector<TLine>& lines) {
    std::vector<const TLine*> all;
    for (const TLine& line : lines) {
        all.push_back(&line);
    }
    return UsualBreak(all);
}

// One user_pref("name", value); line, the value as written.
struct TPref {
    std::string Name;
    std::string Value;

    friend bool operator==(const TPref&, const TPref&) = default;
};

std::optional<TPref> ParsePref(std::string_view line) {
    line = TrimText(line);
    constexpr std::string_view kOpen = "user_pref(\"";
    if (!line.starts_with(kOpen) || !line.ends_with(");")) {
        return std::nullopt;
    }
    line.remove_prefix(kOpen.size());
    line.remove_suffix(2);
    const std::size_t quote = line.find('"');
    if (quote == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view rest = TrimText(line.substr(quote + 1));
    if (!rest.starts_with(',')) {
        return std::nullopt;
    }
    return TPref{std::string(line.substr(0, quote)), std::string(TrimText(rest.substr(1)))};
}

std::optional<int> TypeOf(const TPref& pref) {
    if (pref.Name != kTypePref || pref.Value.empty() ||
        pref.Value.find_first_not_of("0123456789") != std::string::npos || pref.Value.size() > 3) {
        return std::nullopt;
    }
    return std::atoi(pref.Value.c_str());
}

std::string TypeLine(int type) {
    return "user_pref(\"" + std::string(kTypePref) + "\", " + std::to_string(type) + ");";
}

// user.js split into the user's own lines and what our blocks hold.
struct TUserJsParts {
    std::string Rest;
    // The break of the user's own lines, so that the block written among
    // them looks the same at every switch, whatever our lines held before.
    std::string_view Break;
    std::vector<std::string> Own;      // lines of "prefs.js", as recorded
    std::vector<std::string> Earlier;  // pref lines an earlier version forced
    std::vector<std::string> Prefs;    // pref lines inside the blocks
    bool Found = false;                // there was a block
};

bool IsBlockLine(std::string_view trimmed) {
    return trimmed.starts_with(kProxyPrefPrefix) || trimmed.starts_with(kRecordPrefix);
}

// We only ever record whole pref lines, once each; anything else under our
// prefix was mangled by hand and is dropped with the block.
void AddRecord(std::vector<std::string>& records, std::string_view line) {
    if (ParsePref(line) && std::find(records.begin(), records.end(), line) == records.end()) {
        records.emplace_back(line);
    }
}

TUserJsParts SplitUserJs(const std::vector<TLine>& lines) {
    TUserJsParts parts;
    std::vector<const TLine*> kept;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!TrimText(lines[i].Text).starts_with(kBlockBegin)) {
            kept.push_back(&lines[i]);
            continue;
        }
        parts.Found = true;
        std::size_t end = i + 1;
        while (end < lines.size() && TrimText(lines[end].Text) != kBlockEnd) {
            ++end;
        }
        if (end == lines.size()) {
            // The end line is gone: take only what can be ours.
            end = i + 1;
            while (end < lines.size() && IsBlockLine(TrimText(lines[end].Text))) {
                ++end;
            }
        }
        for (std::size_t j = i + 1; j < end; ++j) {
            const std::string_view text = TrimText(lines[j].Text);
            if (text.starts_with(kOwnRecord)) {
                AddRecord(parts.Own, TrimText(text.substr(kOwnRecord.size())));
            } else if (text.starts_with(kEarlierRecord)) {
                AddRecord(parts.Earlier, TrimText(text.substr(kEarlierRecord.size())));
            } else if (text.starts_with(kProxyPrefPrefix)) {
                parts.Prefs.emplace_back(text);
            }
        }
        i = end < lines.size() && TrimText(lines[end].Text) == kBlockEnd ? end : end - 1;
    }
    parts.Break = UsualBreak(kept);
    for (const TLine* line : kept) {
        parts.Rest += line->Text;
        parts.Rest += line->Break.empty() ? parts.Break : line->Break;
    }
    return parts;
}

bool ContainsPref(const std::vector<std::string>& records, const TPref& pref) {
    for (const std::string& record : records) {
        if (ParsePref(record) == pref) {
            return true;
        }
    }
    return false;
}

// The last type that the lines set, skipping those in skipped.
std::optional<int> LastType(const std::vector<TLine>& lines, const std::vector<std::string>& skipped) {
    std::optional<int> type;
    for (const TLine& line : lines) {
        const auto pref = ParsePref(line.Text);
        if (pref && !ContainsPref(skipped, *pref)) {
            if (const auto value = TypeOf(*pref)) {
                type = value;
            }
        }
    }
    return type;
}

// The "prefs.js" line that sets the type, skipping those in skipped.
std::optional<std::string> TypeLineOf(const std::vector<TLine>& lines,
                                      const std::vector<std::string>& skipped) {
    std::optional<std::string> found;
    for (const TLine& line : lines) {
        const auto pref = ParsePref(line.Text);
        if (pref && TypeOf(*pref) && !ContainsPref(skipped, *pref)) {
            found = std::string(TrimText(line.Text));
        }
    }
    return found;
}

std::string WithoutPrefs(const std::vector<TLine>& lines,
                         const std::vector<std::string>& removed,
                         std::string_view lineBreak) {
    std::string out;
    for (const TLine& line : lines) {
        const auto pref = ParsePref(line.Text);
        if (pref && ContainsPref(removed, *pref)) {
            continue;
        }
        out += line.Text;
        out += line.Break.empty() ? lineBreak : line.Break;
    }
    return out;
}

}  // namespace

TFirefoxPrefFiles SwitchFirefoxPrefFiles(const TFirefoxPrefFiles& files, bool hiding, bool inUse) {
    const std::vector<TLine> userLines = SplitLines(files.UserJs);
    TUserJsParts parts = SplitUserJs(userLines);
    const std::string_view userBreak = parts.Break;

    // A block of an earlier version set a fixed proxy or none at all. The
    // lines that give the user's own setting back (a Stop while Firefox ran)
    // are ours: taken for an earlier version's, that setting would be
    // cleaned out of "prefs.js" at the next switch.
    std::vector<std::string> forced;
    bool earlierBlock = false;
    for (const std::string& line : parts.Prefs) {
        const auto pref = ParsePref(line);
        if (pref && ContainsPref(parts.Own, *pref)) {
            continue;
        }
        forced.push_back(line);
        earlierBlock = earlierBlock || (pref && TypeOf(*pref) && TypeOf(*pref) != kFirefoxSystemProxyType);
    }
    if (earlierBlock) {
        for (const std::string& line : forced) {
            AddRecord(parts.Earlier, line);
        }
    }

    TFirefoxPrefFiles result{files.PrefsJs, {}};
    const std::vector<TLine> prefsLines = SplitLines(files.PrefsJs);
    const std::string_view prefsBreak = FirstBreak(prefsLines);
    const std::optional<std::string> prefsType = TypeLineOf(prefsLines, parts.Earlier);
    if (!inUse) {
        if (!parts.Earlier.empty()) {
            result.PrefsJs = WithoutPrefs(prefsLines, parts.Earlier, prefsBreak);
            parts.Earlier.clear();
        }
        if (prefsType) {
            // Given back already, or the user has chosen anew.
            parts.Own.clear();
        } else if (!hiding && !parts.Own.empty()) {
            if (!result.PrefsJs.empty() && !result.PrefsJs.ends_with('\n') &&
                !result.PrefsJs.ends_with('\r')) {
                result.PrefsJs += prefsBreak;
            }
            for (const std::string& line : parts.Own) {
                result.PrefsJs += line;
                result.PrefsJs += prefsBreak;
            }
            parts.Own.clear();
        }
    }

    // What the profile would use without us: the user's own lines of
    // user.js win over prefs.js, whose type line we may have made Firefox drop.
    int own = kFirefoxSystemProxyType;
    if (const auto type = LastType(SplitLines(parts.Rest), {})) {
        own = *type;
    } else if (prefsType) {
        own = TypeOf(*ParsePref(*prefsType)).value_or(own);
    } else {
        for (const std::string& line : parts.Own) {
            const auto pref = ParsePref(line);
            own = pref ? TypeOf(*pref).value_or(own) : own;
        }
    }
    if (hiding && parts.Own.empty() && prefsType && own != kFirefoxSystemProxyType) {
        parts.Own.push_back(*prefsType);
    }

    result.UserJs = parts.Rest;
    const bool pointAtDesktop = hiding && own != kFirefoxSystemProxyType;
    if (!pointAtDesktop && parts.Own.empty() && parts.Earlier.empty()) {
        if (!parts.Found) {
            result.UserJs = files.UserJs;  // not a byte of it is ours
        }
        return result;
    }
    std::string& out = result.UserJs;
    out += kBlockBegin;
    out += kBlockNote;
    out += userBreak;
    for (const std::string& line : parts.Own) {
        out += kOwnRecord;
        out += line;
        out += userBreak;
    }
    for (const std::string& line : parts.Earlier) {
        out += kEarlierRecord;
        out += line;
        out += userBreak;
    }
    if (hiding || parts.Own.empty()) {
        // Following the desktop; or, for what an earlier version left in a
        // running Firefox, dropped by that Firefox at its next start.
        out += TypeLine(kFirefoxSystemProxyType);
        out += userBreak;
    } else {
        // Given back at that Firefox's next start.
        for (const std::string& line : parts.Own) {
            out += line;
            out += userBreak;
        }
    }
    out += kBlockEnd;
    out += userBreak;
    return result;
}

bool HasFirefoxProxyBlock(std::string_view userJs) {
    for (const TLine& line : SplitLines(userJs)) {
        if (TrimText(line.Text).starts_with(kBlockBegin)) {
            return true;
        }
    }
    return false;
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
        std::string programPath(*path);
        for (char& c : programPath) {
            if (c == '/') {
                c = '\\';
            }
        }
        programPath = ExcludeTrailingBackslash(programPath);
        if (programPath.empty()) {
            continue;  // "/" is never a profile: its user.js would be a file at the root
        }
        folders.push_back(*isRelative == "1" ? CombinePath(iniFolder, programPath) : programPath);
    }
    return folders;
}

}  // namespace cloakline
