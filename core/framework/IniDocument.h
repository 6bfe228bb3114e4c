#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/support/TextEncoding.h"

namespace cloakline {

// Hashing and comparing that ignore ASCII letter case, usable with string_view keys.
struct AsciiCaseInsensitiveHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view text) const noexcept;
};
struct AsciiCaseInsensitiveEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept;
};
template <class T>
using AsciiCaseInsensitiveMap =
    std::unordered_map<std::string, T, AsciiCaseInsensitiveHash, AsciiCaseInsensitiveEqual>;

// A whole INI file in memory. Sections and keys compare without regard to
// ASCII case; lookups are hashed, so a read never scans the document.
class TIniDocument {
  public:
    TIniDocument() = default;

    // One line of a section as it was read or written: stripped of spaces and
    // control characters at both ends. An entry has "=" and a key before it.
    struct Line {
        std::string Text;
        bool IsEntry = false;
        std::string Key;    // stripped text before the first "="
        std::string Value;  // stripped text after the first "="
    };

    // Replaces the content with the file's bytes (any byte-order mark honoured).
    void LoadFromBytes(std::string_view bytes);
    // Replaces the content with text that is already decoded; the encoding is kept.
    void LoadFromText(std::string_view text);
    // The document as the file should hold it, in the encoding it was read in.
    std::string SaveToBytes() const;
    void Clear();

    TextFileEncoding Encoding() const { return FEncoding; }

    bool SectionExists(std::string_view section) const;
    bool ValueExists(std::string_view section, std::string_view key) const;
    // A key present with an empty value counts as present.
    std::string ReadString(std::string_view section,
                           std::string_view key,
                           std::string_view defaultValue) const;
    // The value, or nullptr when the key is absent.
    const std::string* Find(std::string_view section, std::string_view key) const;
    // Replaces the value in place, or appends key=value to the section, or the
    // section to the document.
    void WriteString(std::string_view section, std::string_view key, std::string_view value);
    // Adds the line, stripped, at the end of the section (appended when
    // missing). An entry whose key the section already has stays unreachable,
    // as a repeated key in a file does.
    void AppendLine(std::string_view section, std::string_view text);
    // Removes every section of that name.
    void EraseSection(std::string_view section);

    // Sections in file order; a name that the file repeats occurs as often.
    std::size_t SectionCount() const { return FSections.size(); }
    const std::string& SectionName(std::size_t index) const { return FSections[index].Name; }
    const std::vector<Line>& SectionLines(std::size_t index) const { return FSections[index].Lines; }
    // The lines of the first section of that name, or nullptr.
    const std::vector<Line>* FindSectionLines(std::string_view section) const;

  private:
    struct Section {
        std::string Name;
        std::vector<Line> Lines;
        AsciiCaseInsensitiveMap<std::size_t> Index;  // key -> its first line
    };

    Section* FindSection(std::string_view name);
    const Section* FindSection(std::string_view name) const;
    Section& AddSection(std::string name);
    static void AddLine(Section& section, std::string_view text);
    void RebuildSectionIndex();

    std::vector<Section> FSections;
    AsciiCaseInsensitiveMap<std::size_t> FSectionIndex;  // name -> its first section
    TextFileEncoding FEncoding = TextFileEncoding::Utf8;
};

}  // namespace cloakline
