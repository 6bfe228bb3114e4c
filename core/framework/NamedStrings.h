#pragma once

#include <span>
#include <string_view>

namespace cloakline {

// A text that the program reads by name from a language file's "SkinRes",
// "LibRes" or "AppRes" section, with its English wording.
struct TNamedString {
    std::string_view Section;
    std::string_view Key;
    std::string_view Text;
};

// Every named string the program and its framework read, in section order.
// The English language file is generated from this table; lookups go through
// the language data only, so a text missing there still shows its key.
std::span<const TNamedString> NamedStrings();

// The table's entry, or nullptr. Section and key without regard to ASCII case.
const TNamedString* FindNamedString(std::string_view section, std::string_view key);

}  // namespace cloakline
