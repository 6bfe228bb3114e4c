#include "platform/linux/NativePath.h"

#include <algorithm>

namespace cloakline {

std::string ToNativePath(std::string_view programPath) {
    std::string path(programPath);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string ToProgramPath(std::string_view nativePath) {
    std::string path(nativePath);
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

}  // namespace cloakline
