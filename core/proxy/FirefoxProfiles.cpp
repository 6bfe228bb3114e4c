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
// A leak guard line that a hiding wrote, still to be taken out of
// "prefs.js" once Firefox has copied it there.
constexpr std::string_view kGuardRecord = "// Cloakline guard: ";
// The user's own "prefs.js" line of a guarded pref, from before the first hiding.
constexpr std::string_view kGuardOwnRecord = "// Cloakline guard own: ";
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
    std::string Break;
    std::vector<std::string> Own;       // lines of "prefs.js", as recorded
    std::vector<std::string> Earlier;   // pref lines an earlier version forced
    std::vector<std::string> Prefs;     // pref lines inside the blocks
    std::vector<std::string> Guard;     // leak guard lines a hiding wrote
    std::vector<std::string> GuardOwn;  // the user's own "prefs.js" lines of those prefs
    bool Found = false;                 // there was a block
};

// The leak guard's prefs, set while hiding: WebRTC only through the proxy,
// and names resolved by a SOCKS proxy rather than by the user's own DNS. Both
// are false by default; a user value equal to the default is dropped by Firefox.
struct TGuardPref {
    std::string_view Name;
    std::string_view Hiding;
    std::string_view Default;
};
constexpr TGuardPref kGuardPrefs[] = {
    {"media.peerconnection.ice.proxy_only_if_behind_proxy", "true", "false"},
    {"network.proxy.socks_remote_dns", "true", "false"},
};

std::string PrefLine(std::string_view name, std::string_view value) {
    return "user_pref(\"" + std::string(name) + "\", " + std::string(value) + ");";
}

const TGuardPref* GuardPrefOf(std::string_view line) {
    const auto pref = ParsePref(line);
    if (!pref) {
        return nullptr;
    }
    for (const TGuardPref& guard : kGuardPrefs) {
        if (pref->Name == guard.Name) {
            return &guard;
        }
    }
    return nullptr;
}

bool IsBlockLine(std::string_view trimmed) {
    return trimmed.starts_with(kProxyPrefPrefix) || trimmed.starts_with(kRecordPrefix) ||
           GuardPrefOf(trimmed) != nullptr;
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
            if (text.starts_with(kGuardRecord)) {
                const std::string_view line = TrimText(text.substr(kGuardRecord.size()));
                if (GuardPrefOf(line) != nullptr) {
                    AddRecord(parts.Guard, line);
                }
            } else if (text.starts_with(kGuardOwnRecord)) {
                const std::string_view line = TrimText(text.substr(kGuardOwnRecord.size()));
                if (GuardPrefOf(line) != nullptr) {
                    AddRecord(parts.GuardOwn, line);
                }
            } else if (GuardPrefOf(text) != nullptr) {
                // Written again from the records below.
            } else if (text.starts_with(kOwnRecord)) {
                AddRecord(parts.Own, TrimText(text.substr(kOwnRecord.size())));
            } else if (text.starts_with(kEarlierRecord)) {
                AddRecord(parts.Earlier, TrimText(text.substr(kEarlierRecord.size())));
            } else if (text.starts_with(kProxyPrefPrefix)) {
                parts.Prefs.emplace_back(text);
            }
        }
        i = end < lines.size() && TrimText(lines[end].Text) == kBlockEnd ? end : end - 1;
    }
    for (const TLine* line : kept) {
        parts.Rest += line->Text;
        parts.Rest += line->Break;
    }
    // Taking a block out can join a lone "\r" before it and a "\n" after it
    // into one break, so the usual break is read from what is left.
    parts.Break = std::string(FirstBreak(SplitLines(parts.Rest)));
    if (!parts.Rest.empty() && !parts.Rest.ends_with('\n') && !parts.Rest.ends_with('\r')) {
        parts.Rest += parts.Break;
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

// "prefs.js" without the values the guard made Firefox copy there (a value
// the user had set the same stays), and with the user's own lines back
// where Firefox replaced them.
std::string WithoutGuard(const std::string& prefsJs,
                         const std::vector<std::string>& guard,
                         const std::vector<std::string>& own,
                         std::string_view lineBreak) {
    std::vector<std::string> forced;
    for (const std::string& line : guard) {
        const auto pref = ParsePref(line);
        if (pref && !ContainsPref(own, *pref)) {
            forced.push_back(line);
        }
    }
    const std::vector<TLine> lines = SplitLines(prefsJs);
    const bool anyForced = std::any_of(lines.begin(), lines.end(), [&forced](const TLine& line) {
        const auto pref = ParsePref(line.Text);
        return pref && ContainsPref(forced, *pref);
    });
    // Untouched, byte for byte, when Firefox copied nothing.
    std::string out = anyForced ? WithoutPrefs(lines, forced, lineBreak) : prefsJs;
    const std::vector<TLine> left = SplitLines(out);
    for (const std::string& line : own) {
        const auto pref = ParsePref(line);
        const bool there = std::any_of(left.begin(), left.end(), [&pref](const TLine& kept) {
            const auto keptPref = ParsePref(kept.Text);
            return keptPref && pref && keptPref->Name == pref->Name;
        });
        if (!there) {
            if (!out.empty() && !out.ends_with('\n') && !out.ends_with('\r')) {
                out += lineBreak;
            }
            out += line;
            out += lineBreak;
        }
    }
    return out;
}

// What a Firefox that runs through a Stop is given at its next start: the
// user's own values, or the defaults, which Firefox then drops from "prefs.js".
std::vector<std::string> GuardGivenBack(const std::vector<std::string>& own) {
    std::vector<std::string> lines;
    for (const TGuardPref& guard : kGuardPrefs) {
        bool found = false;
        for (const std::string& line : own) {
            if (const auto pref = ParsePref(line); pref && pref->Name == guard.Name) {
                lines.push_back(line);
                found = true;
            }
        }
        if (!found) {
            lines.push_back(PrefLine(guard.Name, guard.Default));
        }
    }
    return lines;
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

    // The leak guard, for every profile while hiding. Firefox copies its
    // values into "prefs.js", so its records outlive a Stop while Firefox
    // runs, until a later switch can take them out there.
    const bool guardWas = !parts.Guard.empty();
    if (hiding && !guardWas) {
        for (const TGuardPref& guard : kGuardPrefs) {
            parts.Guard.push_back(PrefLine(guard.Name, guard.Hiding));
            for (const TLine& line : prefsLines) {
                const auto pref = ParsePref(line.Text);
                if (pref && pref->Name == guard.Name) {
                    AddRecord(parts.GuardOwn, TrimText(line.Text));
                }
            }
        }
    } else if (!hiding && !inUse && guardWas) {
        result.PrefsJs = WithoutGuard(result.PrefsJs, parts.Guard, parts.GuardOwn, prefsBreak);
        parts.Guard.clear();
        parts.GuardOwn.clear();
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
    const bool typeLines = pointAtDesktop || !parts.Own.empty() || !parts.Earlier.empty();
    if (!typeLines && parts.Guard.empty()) {
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
    for (const std::string& line : parts.Guard) {
        out += kGuardRecord;
        out += line;
        out += userBreak;
    }
    for (const std::string& line : parts.GuardOwn) {
        out += kGuardOwnRecord;
        out += line;
        out += userBreak;
    }
    if (!typeLines) {
        // The type is the user's own.
    } else if (hiding || parts.Own.empty()) {
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
    if (!parts.Guard.empty()) {
        for (const std::string& line : hiding ? parts.Guard : GuardGivenBack(parts.GuardOwn)) {
            out += line;
            out += userBreak;
        }
    }
    out += kBlockEnd;
    out += userBreak;
    return result;
}

int FirefoxOwnProxyType(const TFirefoxPrefFiles& files) {
    const TUserJsParts parts = SplitUserJs(SplitLines(files.UserJs));
    if (const auto type = LastType(SplitLines(parts.Rest), {})) {
        return *type;
    }
    if (const auto type = LastType(SplitLines(files.PrefsJs), parts.Earlier)) {
        return *type;
    }
    int own = kFirefoxSystemProxyType;
    for (const std::string& line : parts.Own) {
        const auto pref = ParsePref(line);
        own = pref ? TypeOf(*pref).value_or(own) : own;
    }
    return own;
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
