#include "platform/win32/Win32Clock.h"

#include "core/support/ShellUtils.h"
#include "platform/win32/Win32Api.h"

namespace cloakline {

TDateTime Win32Clock::Now() const {
    SYSTEMTIME local{};
    ::GetLocalTime(&local);
    // The calendar fields counted as a file time are only a conversion of
    // the date: the value stays local time.
    FILETIME counted{};
    if (!::SystemTimeToFileTime(&local, &counted)) {
        return 0.0;
    }
    return FileTimeToDateTime((static_cast<TFileTime>(counted.dwHighDateTime) << 32) | counted.dwLowDateTime);
}

std::uint32_t Win32Clock::TickCount() const {
    return ::GetTickCount();
}

}  // namespace cloakline
