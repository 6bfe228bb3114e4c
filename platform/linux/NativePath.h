#pragma once

#include <string>
#include <string_view>

namespace cloakline {

// The program spells paths with "\"; the system with "/". A rooted program
// path "\opt\app\x" is the absolute path "/opt/app/x".
std::string ToNativePath(std::string_view programPath);
std::string ToProgramPath(std::string_view nativePath);

}  // namespace cloakline
