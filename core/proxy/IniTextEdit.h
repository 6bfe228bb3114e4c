#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

struct TIniEntry {
    std::string Key;
    std::string Value;

    friend bool operator==(const TIniEntry&, const TIniEntry&) = default;
};

// Writes the entries into one section of another program's INI file and
// leaves every other byte as that program wrote it: lines before the first
// section (Opera's version line), comments, other sections, the encoding
// (a UTF-8 or UTF-16 byte-order mark) and the line-break style. A key that
// the section has (compared without regard to ASCII case) is replaced in
// place; a new key goes after the section's last entry; a missing section
// is appended. Line breaks inside keys and values become spaces. A file
// without any line break gets defaultLineBreak.
std::string WriteIniEntries(std::string_view fileBytes,
                            std::string_view section,
                            const std::vector<TIniEntry>& entries,
                            std::string_view defaultLineBreak = "\r\n");

// The bytes of the first section of that name (matched as WriteIniEntries
// matches it), from its header line to the next header; nullopt when there
// is none. For 8-bit and UTF-8 files.
std::optional<std::string> ReadIniSection(std::string_view fileBytes, std::string_view section);

// fileBytes with that section (the first of the name) replaced by
// sectionBytes as ReadIniSection gave them, or taken out for nullopt; a
// missing section is appended. Every other byte stays.
std::string ReplaceIniSection(std::string_view fileBytes,
                              std::string_view section,
                              const std::optional<std::string>& sectionBytes);

}  // namespace cloakline
