#include "platform/win32/Win32SingleInstance.h"

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

bool Win32SingleInstance::CreateUniqueMutex(std::string_view name) {
    HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Widen(name).c_str());
    const DWORD error = ::GetLastError();
    if (mutex == nullptr) {
        // Refused access means a mutex of that name exists, made by a process
        // of another user or session: that instance counts too. Any other
        // failure proves nothing, and refusing to start would lock the user out.
        return error != ERROR_ACCESS_DENIED;
    }
    if (error == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return false;
    }
    // Held, deliberately without a close, for the life of the process.
    return true;
}

}  // namespace cloakline
