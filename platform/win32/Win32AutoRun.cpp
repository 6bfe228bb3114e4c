#include "platform/win32/Win32AutoRun.h"

#include "platform/win32/Win32Registry.h"

namespace cloakline {

void Win32AutoRun::SetAutoRun(bool enable, std::string_view entryName, std::string_view command) {
    // An empty name would be the key's default value, which is no entry at all.
    if (entryName.empty()) {
        return;
    }
    if (enable) {
        RegWriteString(HKEY_CURRENT_USER, kRunKey, entryName, command);
    } else {
        RegDeleteValue(HKEY_CURRENT_USER, kRunKey, entryName);
    }
}

}  // namespace cloakline
