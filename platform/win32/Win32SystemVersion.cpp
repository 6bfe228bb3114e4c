#include <cwchar>

#include "platform/api/SystemVersion.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

TSystemVersion ReadSystemVersion() {
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!::GetVersionExW(&version)) {
        return {};
    }
    TSystemVersion result;
    result.Major = version.dwMajorVersion;
    result.Minor = version.dwMinorVersion;
    result.ServicePack =
        Narrow(std::wstring_view(version.szCSDVersion, ::wcsnlen(version.szCSDVersion, 128)));
    return result;
}

}  // namespace cloakline
