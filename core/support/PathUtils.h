#pragma once

#include <string>
#include <string_view>

#include "core/support/StringList.h"

namespace cloakline {

// Paths inside the program use "\" as the separator. A path that begins with a
// single "\" is rooted (the form POSIX absolute paths take here) and combines
// like a path on a drive.
std::string CombinePath(std::string_view base, std::string_view path);

// File name part without its last extension: C:\a.b\skin.blue.skn gives skin.blue.
std::string ExtractBaseName(std::string_view path);

// Up to and including the last "\" (or ":"); empty when there is none.
std::string ExtractFilePath(std::string_view path);
// After the last "\" or ":".
std::string ExtractFileName(std::string_view path);

// Non-empty and only ASCII letters and digits: a name from outside (a country
// code) that can become a file name without reaching another folder.
bool IsPlainFileStem(std::string_view name);

// A skin or language name that stays inside its folder once it becomes
// folder + "\" + name + extension: non-empty, no "\", "/" or ":" (so no
// drive, root or share), no ".." and no control characters.
bool IsPlainItemName(std::string_view name);

std::string IncludeTrailingBackslash(std::string_view path);
std::string ExcludeTrailingBackslash(std::string_view path);

// Splits a parameter text into arguments: white space separates, double quotes
// group (and are removed), "\"" inside quotes is a literal quote.
TStringList ParseCommandLineArguments(std::string_view params);

}  // namespace cloakline
