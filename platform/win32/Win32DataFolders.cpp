#include "platform/win32/Win32DataFolders.h"

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

// Paths longer than MAX_PATH exist; the buffer grows until the name fits.
constexpr DWORD kMaxModuleName = 32768;

}  // namespace

std::string Win32DataFolders::GetExeName() const {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return Narrow(buffer);
        }
        if (buffer.size() >= kMaxModuleName) {
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::string Win32DataFolders::GetShellFolder(std::string_view name) const {
    std::string folder = RegReadString(HKEY_CURRENT_USER, kShellFoldersKey, name, "");
    return folder.empty() ? GetCommonShellFolder(name) : folder;
}

std::string Win32DataFolders::GetCommonShellFolder(std::string_view name) const {
    return RegReadString(HKEY_LOCAL_MACHINE, kShellFoldersKey, name, "");
}

std::string Win32DataFolders::GetTempDir() const {
    wchar_t buffer[MAX_PATH + 2] = {};
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, buffer);
    if (length == 0 || length > MAX_PATH + 1) {
        return {};
    }
    std::string folder = Narrow(std::wstring_view(buffer, length));
    // Callers glue names straight onto it.
    if (!folder.empty() && folder.back() != '\\') {
        folder += '\\';
    }
    return folder;
}

}  // namespace cloakline
