#include "platform/win32/Win32Registry.h"

#include <algorithm>
#include <cwchar>
#include <vector>

#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr int kQueryTries = 4;

bool IsStringType(DWORD type) {
    return type == REG_SZ || type == REG_EXPAND_SZ;
}

TRegKey CreateKeyForWriting(HKEY root, std::string_view key) {
    const std::wstring path = KeyPath(key);
    HKEY opened = nullptr;
    for (const REGSAM access : {static_cast<REGSAM>(KEY_ALL_ACCESS), static_cast<REGSAM>(KEY_SET_VALUE)}) {
        const LSTATUS rc = ::RegCreateKeyExW(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                             nullptr, &opened, nullptr);
        if (rc == ERROR_SUCCESS) {
            return TRegKey(opened);
        }
        if (rc != ERROR_ACCESS_DENIED) {
            break;
        }
    }
    return {};
}

TRegKey OpenKeyForChanging(HKEY root, std::string_view key) {
    const std::wstring path = KeyPath(key);
    HKEY opened = nullptr;
    for (const REGSAM access : {static_cast<REGSAM>(KEY_ALL_ACCESS), static_cast<REGSAM>(KEY_SET_VALUE)}) {
        const LSTATUS rc = ::RegOpenKeyExW(root, path.c_str(), 0, access, &opened);
        if (rc == ERROR_SUCCESS) {
            return TRegKey(opened);
        }
        if (rc != ERROR_ACCESS_DENIED) {
            break;
        }
    }
    return {};
}

}  // namespace

TRegKey& TRegKey::operator=(TRegKey&& other) noexcept {
    if (this != &other) {
        Close();
        FKey = other.FKey;
        other.FKey = nullptr;
    }
    return *this;
}

void TRegKey::Close() {
    if (FKey != nullptr) {
        ::RegCloseKey(FKey);
        FKey = nullptr;
    }
}

std::wstring KeyPath(std::string_view key) {
    while (!key.empty() && key.front() == '\\') {
        key.remove_prefix(1);
    }
    return Widen(key);
}

TRegKey OpenKeyForReading(HKEY root, std::string_view key, REGSAM view) {
    const std::wstring path = KeyPath(key);
    HKEY opened = nullptr;
    for (const REGSAM access : {static_cast<REGSAM>(KEY_ALL_ACCESS), static_cast<REGSAM>(KEY_READ)}) {
        const LSTATUS rc = ::RegOpenKeyExW(root, path.c_str(), 0, access | view, &opened);
        if (rc == ERROR_SUCCESS) {
            return TRegKey(opened);
        }
        if (rc != ERROR_ACCESS_DENIED) {
            break;
        }
    }
    return {};
}

std::optional<std::wstring> QueryStringValue(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS rc = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, nullptr, &size);
    if (rc != ERROR_SUCCESS || !IsStringType(type)) {
        return std::nullopt;
    }
    // The value may grow between the two calls; a few tries are plenty.
    for (int i = 0; i < kQueryTries; ++i) {
        // One unit more than asked for, so that a value stored without its
        // terminating zero still ends in one.
        std::vector<wchar_t> buffer(size / sizeof(wchar_t) + 2, L'\0');
        DWORD got = static_cast<DWORD>((buffer.size() - 1) * sizeof(wchar_t));
        rc = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()),
                                &got);
        if (rc == ERROR_MORE_DATA) {
            size = got;
            continue;
        }
        if (rc != ERROR_SUCCESS || !IsStringType(type)) {
            return std::nullopt;
        }
        const std::size_t units = std::min<std::size_t>(got / sizeof(wchar_t), buffer.size() - 1);
        return std::wstring(buffer.data(), ::wcsnlen(buffer.data(), units));
    }
    return std::nullopt;
}

std::string RegReadString(HKEY root,
                          std::string_view key,
                          std::string_view name,
                          std::string_view def,
                          REGSAM view) {
    const TRegKey opened = OpenKeyForReading(root, key, view);
    if (!opened.Valid()) {
        return std::string(def);
    }
    const auto value = QueryStringValue(opened.Get(), Widen(name));
    return value ? Narrow(*value) : std::string(def);
}

bool RegWriteString(HKEY root, std::string_view key, std::string_view name, std::string_view text) {
    const TRegKey opened = CreateKeyForWriting(root, key);
    if (!opened.Valid()) {
        return false;
    }
    const std::wstring wide = Widen(text);
    const auto bytes = static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t));
    return ::RegSetValueExW(opened.Get(), Widen(name).c_str(), 0, REG_SZ,
                            reinterpret_cast<const BYTE*>(wide.c_str()), bytes) == ERROR_SUCCESS;
}

bool RegDeleteValue(HKEY root, std::string_view key, std::string_view name) {
    const TRegKey opened = OpenKeyForChanging(root, key);
    return opened.Valid() && ::RegDeleteValueW(opened.Get(), Widen(name).c_str()) == ERROR_SUCCESS;
}

bool RegWriteDword(HKEY root, std::string_view key, std::string_view name, std::uint32_t value) {
    const TRegKey opened = CreateKeyForWriting(root, key);
    const DWORD data = value;
    return opened.Valid() &&
           ::RegSetValueExW(opened.Get(), Widen(name).c_str(), 0, REG_DWORD,
                            reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

std::optional<std::uint32_t> RegReadDword(HKEY root, std::string_view key, std::string_view name) {
    const TRegKey opened = OpenKeyForReading(root, key);
    if (!opened.Valid()) {
        return std::nullopt;
    }
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    if (::RegQueryValueExW(opened.Get(), Widen(name).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&data),
                           &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof data) {
        return std::nullopt;
    }
    return data;
}

bool RegKeyExists(HKEY root, std::string_view key, REGSAM view) {
    return OpenKeyForReading(root, key, view).Valid();
}

}  // namespace cloakline
