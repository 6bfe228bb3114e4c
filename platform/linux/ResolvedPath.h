#pragma once

#include <cstdlib>
#include <string>

#include "platform/linux/NativePath.h"

namespace cloakline {

// The file a program-form path ends at after following symbolic links, so
// that replacing another program's file keeps the link the user made; the
// path unchanged when it cannot be resolved (it does not exist yet).
inline std::string ResolvedProgramPath(const std::string& programPath) {
    char* real = ::realpath(ToNativePath(programPath).c_str(), nullptr);
    if (real == nullptr) {
        return programPath;
    }
    std::string resolved = ToProgramPath(real);
    std::free(real);
    return resolved;
}

}  // namespace cloakline
