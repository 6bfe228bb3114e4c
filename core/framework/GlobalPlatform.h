#pragma once

#include "platform/api/Platform.h"

namespace cloakline {

// The system services the process uses, installed once at start (tests install fakes).
void SetGlobalPlatform(Platform* platform);
Platform& GlobalPlatform();
bool HasGlobalPlatform();

}  // namespace cloakline
