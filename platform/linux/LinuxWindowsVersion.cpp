#include "platform/api/WindowsVersion.h"

namespace cloakline {

// Linux is not Windows: there is no version to describe and no 64-bit Windows below.
TWindowsVersionInfo ReadWindowsVersionInfo() {
    return {};
}

bool IsWow64() {
    return false;
}

}  // namespace cloakline
