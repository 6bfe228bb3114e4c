#include "core/framework/GlobalPlatform.h"

#include <stdexcept>

namespace cloakline {

namespace {
Platform* gPlatform = nullptr;
}

void SetGlobalPlatform(Platform* platform) {
    gPlatform = platform;
}

Platform& GlobalPlatform() {
    if (gPlatform == nullptr) {
        throw std::logic_error("no platform installed");
    }
    return *gPlatform;
}

bool HasGlobalPlatform() {
    return gPlatform != nullptr;
}

}  // namespace cloakline
