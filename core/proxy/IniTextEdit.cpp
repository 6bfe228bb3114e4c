#include "core/proxy/IniTextEdit.h"

#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";

struct TLine {
    std::string Text;
    std::string Break;  // "\r\n", "\n", "\r" or empty for a last line without one
};

std::vector<TLine> SplitLines(std::string_view text) {
    std::vector<TLine> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.push_back({std::string(text.substr(start)), {}});
            break;
        }
        const std::size_t breakLength =
            text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n' ? 2 : 1;
        lines.push_back(
            {std::string(text.substr(start, end - start)), std::string(text.substr(end, breakLength))});
        start = end + breakLength;
    }
    return lines;
}

bool IsSectionHeader(std::string_view line, std::string_view* name) {
    const std::string_view t = TrimText(line);
    if (t.size() < 2 || t.front() != '[' || t.back() != ']') {
        return false;
    }
    *name = TrimText(t.substr(1, t.size() - 2));
    return true;
}

bool IsEntryOf(std::string_view line, std::string_view key) {
    const std::size_t eq = line.find('=');
    return eq != std::string_view::npos && SameTextAscii(TrimText(line.substr(0, eq)), TrimText(key));
}

bool IsEntry(std::string_view line) {
    const std::string_view t = TrimText(line);
    return !t.empty() && t.front() != ';' && t.front() != '#' && t.find('=') != std::string_view::npos;
}

std::string EditUtf8(std::string_view text,
                     std::string_view section,
                     const std::vector<TIniEntry>& entries,
                     std::string_view defaultLineBreak) {
    std::vector<TLine> lines = SplitLines(text);
    std::string lineBreak(defaultLineBreak);
    for (const TLine& line : lines) {
        if (!line.Break.empty()) {
            lineBreak = line.Break;
            break;
        }
    }

    // The section runs from its header to the next header.
    std::size_t header = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (IsSectionHeader(lines[i].Text, &name) && SameTextAscii(name, section)) {
            header = i;
            break;
        }
    }
    if (header == lines.size()) {
        if (!lines.empty()) {
            if (lines.back().Break.empty()) {
                lines.back().Break = lineBreak;
            }
            if (!TrimText(lines.back().Text).empty()) {
                lines.push_back({"", lineBreak});
            }
        }
        header = lines.size();
        lines.push_back({"[" + LineBreaksToSpaces(section) + "]", lineBreak});
    }

    for (const TIniEntry& entry : entries) {
        const std::string entryLine = LineBreaksToSpaces(entry.Key) + "=" + LineBreaksToSpaces(entry.Value);
        std::size_t insertAt = header + 1;
        bool replaced = false;
        for (std::size_t i = header + 1; i < lines.size(); ++i) {
            std::string_view name;
            if (IsSectionHeader(lines[i].Text, &name)) {
                break;
            }
            if (IsEntryOf(lines[i].Text, entry.Key)) {
                lines[i].Text = entryLine;
                replaced = true;
                break;
            }
            if (IsEntry(lines[i].Text)) {
                insertAt = i + 1;
            }
        }
        if (!replaced) {
            if (insertAt == lines.size() && !lines.empty() && lines.back().Break.empty()) {
                lines.back().Break = lineBreak;
            }
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(insertAt), TLine{entryLine, lineBreak});
        }
    }

    std::string out;
    for (const TLine& line : lines) {
        out += line.Text;
        out += line.Break;
    }
    return out;
}

// [begin, end) of the section's lines; begin == lines.size() when there is none.
std::pair<std::size_t, std::size_t> SectionLines(const std::vector<TLine>& lines, std::string_view section) {
    std::size_t begin = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        std::string_view name;
        if (IsSectionHeader(lines[i].Text, &name) && SameTextAscii(name, section)) {
            begin = i;
            break;
        }
    }
    std::size_t end = begin == lines.size() ? begin : begin + 1;
    std::string_view name;
    while (end < lines.size() && !IsSectionHeader(lines[end].Text, &name)) {
        ++end;
    }
    return {begin, end};
}

std::string Joined(const std::vector<TLine>& lines, std::size_t begin, std::size_t end) {
    std::string out;
    for (std::size_t i = begin; i < end; ++i) {
        out += lines[i].Text;
        out += lines[i].Break;
    }
    return out;
}

}  // namespace

std::optional<std::string> ReadIniSection(std::string_view fileBytes, std::string_view section) {
    const std::vector<TLine> lines = SplitLines(fileBytes);
    const auto [begin, end] = SectionLines(lines, section);
    if (begin == lines.size()) {
        return std::nullopt;
    }
    return Joined(lines, begin, end);
}

std::string ReplaceIniSection(std::string_view fileBytes,
                              std::string_view section,
                              const std::optional<std::string>& sectionBytes) {
    const std::vector<TLine> lines = SplitLines(fileBytes);
    const auto [begin, end] = SectionLines(lines, section);
    std::string lineBreak = "\n";
    for (const TLine& line : lines) {
        if (!line.Break.empty()) {
            lineBreak = line.Break;
            break;
        }
    }
    std::string out = Joined(lines, 0, begin);
    if (sectionBytes && !sectionBytes->empty()) {
        if (!out.empty() && out.back() != '\n' && out.back() != '\r') {
            out += lineBreak;
        }
        out += *sectionBytes;
        if (end < lines.size() && out.back() != '\n' && out.back() != '\r') {
            out += lineBreak;
        }
    }
    out += Joined(lines, end, lines.size());
    return out;
}

std::string WriteIniEntries(std::string_view fileBytes,
                            std::string_view section,
                            const std::vector<TIniEntry>& entries,
                            std::string_view defaultLineBreak) {
    if (fileBytes.starts_with(kUtf16LEBom) || fileBytes.starts_with(kUtf16BEBom)) {
        const bool bigEndian = fileBytes.starts_with(kUtf16BEBom);
        const std::string text = Utf16ToUtf8(Utf16FromBytes(fileBytes.substr(2), bigEndian));
        const std::string edited = EditUtf8(text, section, entries, defaultLineBreak);
        return std::string(fileBytes.substr(0, 2)) + Utf16ToBytes(Utf8ToUtf16(edited), bigEndian);
    }
    if (fileBytes.starts_with(kUtf8Bom)) {
        return std::string(kUtf8Bom) +
               EditUtf8(fileBytes.substr(kUtf8Bom.size()), section, entries, defaultLineBreak);
    }
    // Other 8-bit files are edited as bytes: the entries are ASCII.
    return EditUtf8(fileBytes, section, entries, defaultLineBreak);
}

}  // namespace cloakline
