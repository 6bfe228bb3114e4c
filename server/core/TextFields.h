#pragma once

#include <string>
#include <string_view>

#include "core/support/TextUtils.h"

namespace cloakline::server {

// Whether a text may become one field of a proxy line or of an answer line:
// valid UTF-8, not empty, at most maxBytes, no control characters, and none
// of the characters that separate lines, entries or fields ("|", ";") nor the
// backslash that the program reads as an escape.
bool IsSafeField(std::string_view text, std::size_t maxBytes);

// A text for one answer line: valid UTF-8 without control characters (empty allowed).
bool IsOneLineText(std::string_view text, std::size_t maxBytes);

// Two ASCII letters; the result upper-cased, or empty when text is no such code.
std::string CountryCodeOf(std::string_view text);

// A decimal number such as "-13.40" within [-limit, limit]; empty when text is none.
std::string CoordinateOf(std::string_view text, double limit);

}  // namespace cloakline::server
