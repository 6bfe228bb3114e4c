#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// An ordered list of texts that doubles as a name=value table. A line's name is
// the text before its first "="; names compare without regard to ASCII case.
class TStringList {
  public:
    TStringList() = default;
    TStringList(std::initializer_list<std::string> lines) : FLines(lines) {}

    std::size_t Count() const { return FLines.size(); }
    bool Empty() const { return FLines.empty(); }
    const std::string& operator[](std::size_t i) const { return FLines[i]; }
    std::string& operator[](std::size_t i) { return FLines[i]; }
    const std::vector<std::string>& Lines() const { return FLines; }
    auto begin() const { return FLines.begin(); }
    auto end() const { return FLines.end(); }

    void Add(std::string line) { FLines.push_back(std::move(line)); }
    void Clear() { FLines.clear(); }
    void Delete(std::size_t i) { FLines.erase(FLines.begin() + static_cast<std::ptrdiff_t>(i)); }
    void Assign(const TStringList& other) { FLines = other.FLines; }

    // -1 when no line has that name.
    int IndexOfName(std::string_view name) const;
    bool HasName(std::string_view name) const { return IndexOfName(name) >= 0; }
    // Empty when no line has that name.
    std::string Value(std::string_view name) const;
    // Replaces the value of the named line, appends name=value for a new name,
    // and removes the named line when value is empty.
    void SetValue(std::string_view name, std::string_view value);

    static std::string NameOf(std::string_view line);
    static std::string ValueOf(std::string_view line);

    // Lines joined by "\r\n" (no trailing break); and the reverse, splitting at CR, LF or CR LF.
    std::string Text() const;
    void SetText(std::string_view text);

    friend bool operator==(const TStringList&, const TStringList&) = default;

  private:
    std::vector<std::string> FLines;
};

}  // namespace cloakline
