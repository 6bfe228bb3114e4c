#include "platform/win32/Win32FileSystem.h"

#include <algorithm>
#include <vector>

#include "core/support/RandomGenerator.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Handle.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr DWORD kIoBlock = 1u << 20;
constexpr int kTempNameTries = 16;

bool IsSeparator(char c) {
    return c == '\\' || c == '/';
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), kIoBlock));
        DWORD written = 0;
        if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
            return false;
        }
        bytes.remove_prefix(written);
    }
    return true;
}

DWORD Attributes(std::string_view path) {
    return path.empty() ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(Widen(path).c_str());
}

std::string FolderOfMask(std::string_view mask) {
    const std::size_t end = mask.find_last_of("\\/:");
    return end == std::string_view::npos ? std::string() : std::string(mask.substr(0, end + 1));
}

}  // namespace

std::optional<std::string> Win32FileSystem::ReadFile(std::string_view path, std::size_t maxBytes) const {
    TWin32Handle file(::CreateFileW(Widen(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    LARGE_INTEGER size{};
    if (!file.Valid() || !::GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0 ||
        static_cast<std::uint64_t>(size.QuadPart) > maxBytes) {
        return std::nullopt;
    }
    std::string bytes;
    char block[65536];
    for (;;) {
        DWORD got = 0;
        if (!::ReadFile(file.Get(), block, sizeof block, &got, nullptr)) {
            return std::nullopt;
        }
        if (got == 0) {
            return bytes;
        }
        // The file may have grown since its size was read.
        if (got > maxBytes - bytes.size()) {
            return std::nullopt;
        }
        bytes.append(block, got);
    }
}

bool Win32FileSystem::ReplaceFile(std::string_view path, std::string_view bytes) {
    const std::wstring target = Widen(path);
    if (target.empty()) {
        return false;
    }
    RandomGenerator::EnsureSeeded();
    for (int i = 0; i < kTempNameTries; ++i) {
        const std::wstring temp = target + L"." + std::to_wstring(RandomGenerator::Next(0xFFFFF)) + L".new";
        TWin32Handle file(::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            if (::GetLastError() == ERROR_FILE_EXISTS) {
                continue;
            }
            return false;
        }
        const bool written = WriteAll(file.Get(), bytes) && ::FlushFileBuffers(file.Get());
        file.Close();
        if (written &&
            ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            return true;
        }
        ::DeleteFileW(temp.c_str());
        return false;
    }
    return false;
}

bool Win32FileSystem::WriteTextFile(std::string_view bytes, std::string_view path) {
    TWin32Handle file(::CreateFileW(Widen(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.Valid() && WriteAll(file.Get(), bytes);
}

bool Win32FileSystem::RemoveFile(std::string_view path) {
    const std::wstring native = Widen(path);
    if (native.empty() || ::DeleteFileW(native.c_str())) {
        return !native.empty();
    }
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
}

bool Win32FileSystem::RenameFile(std::string_view from, std::string_view to) {
    const std::wstring source = Widen(from);
    const std::wstring target = Widen(to);
    return !source.empty() && !target.empty() &&
           ::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool Win32FileSystem::FileExists(std::string_view path) const {
    return Attributes(path) != INVALID_FILE_ATTRIBUTES;
}

bool Win32FileSystem::DirectoryExists(std::string_view path) const {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::ForceDirectories(std::string_view path) {
    while (path.size() > 1 && IsSeparator(path.back())) {
        path.remove_suffix(1);
    }
    if (path.empty()) {
        return false;
    }
    if (DirectoryExists(path)) {
        return true;
    }
    const std::size_t slash = path.find_last_of("\\/");
    if (slash != std::string_view::npos && slash > 0) {
        const std::string_view parent = path.substr(0, slash);
        // A drive ("C:") or the root of a share needs no making.
        const bool isDrive = parent.size() == 2 && parent[1] == ':';
        const bool isShareRoot = parent.starts_with("\\\\") && parent.find('\\', 2) == std::string_view::npos;
        if (!isDrive && !isShareRoot && !ForceDirectories(parent)) {
            return false;
        }
    }
    ::CreateDirectoryW(Widen(path).c_str(), nullptr);
    return DirectoryExists(path);
}

bool Win32FileSystem::CheckFileAccess(std::uint32_t accessMask, std::string_view path) const {
    const std::wstring wide = Widen(path);
    const SECURITY_INFORMATION wanted =
        OWNER_SECURITY_INFORMATION | GROUP_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION;
    DWORD needed = 0;
    ::GetFileSecurityW(wide.c_str(), wanted, nullptr, 0, &needed);
    if (needed == 0) {
        return false;
    }
    std::vector<BYTE> descriptor(needed);
    if (!::GetFileSecurityW(wide.c_str(), wanted, descriptor.data(), needed, &needed)) {
        return false;
    }
    HANDLE processToken = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY | TOKEN_DUPLICATE | TOKEN_IMPERSONATE,
                            &processToken)) {
        return false;
    }
    const TWin32Handle ownToken(processToken);
    // An impersonation copy of our own token: what the check needs, without
    // changing the identity of the calling thread.
    HANDLE impersonation = nullptr;
    if (!::DuplicateToken(ownToken.Get(), SecurityImpersonation, &impersonation)) {
        return false;
    }
    const TWin32Handle token(impersonation);
    GENERIC_MAPPING mapping{FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
    DWORD desired = accessMask;
    ::MapGenericMask(&desired, &mapping);
    PRIVILEGE_SET privileges{};
    DWORD privilegesSize = sizeof privileges;
    DWORD granted = 0;
    BOOL allowed = FALSE;
    return ::AccessCheck(descriptor.data(), token.Get(), desired, &mapping, &privileges, &privilegesSize,
                         &granted, &allowed) &&
           allowed;
}

bool Win32FileSystem::GetFileCreationTime(std::string_view path, TFileTime& time) const {
    const std::wstring wide = Widen(path);
    TWin32Handle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
        // Folders open only with backup semantics.
        file = TWin32Handle(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                          nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }
    FILETIME creation{};
    if (!file.Valid() || !::GetFileTime(file.Get(), &creation, nullptr, nullptr)) {
        return false;
    }
    time = (static_cast<TFileTime>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    return true;
}

void Win32FileSystem::ListFiles(std::string_view mask, TStringList& list, bool withFolder) const {
    const std::string folder = withFolder ? FolderOfMask(mask) : std::string();
    WIN32_FIND_DATAW found{};
    HANDLE search =
        ::FindFirstFileExW(Widen(mask).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0);
    if (search == INVALID_HANDLE_VALUE) {
        return;
    }
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            list.Add(folder + Narrow(found.cFileName));
        }
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

std::string Win32FileSystem::GetLongPath(std::string_view path) const {
    const std::wstring wide = Widen(path);
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            ::GetLongPathNameW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return std::string(path);
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return Narrow(buffer);
        }
        buffer.resize(length);
    }
}

}  // namespace cloakline
