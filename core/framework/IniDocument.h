#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

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

enum class TextFileEncoding { Utf8, Utf8Bom, Utf16LE, Utf16BE, Ansi };

// A whole INI file in memory. Sections and keys compare without regard to
// ASCII case; lookups are hashed, so a read never scans the document.
class TIniDocument {
  public:
    TIniDocument() = default;

    // Replaces the content with the file's bytes (any byte-order mark honoured).
    void LoadFromBytes(std::string_view bytes);
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
    void EraseSection(std::string_view section);

    std::size_t SectionCount() const { return FSections.size(); }

  private:
    struct Line {
        std::string Text;
        bool IsEntry = false;  // has "=": Text is key=value
        std::string Value;     // stripped text after the first "="
    };
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
