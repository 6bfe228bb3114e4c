#include "platform/win32/Win32ProxySettingsRecorder.h"

#include <charconv>
#include <string>
#include <vector>

#include "platform/win32/Win32InetApi.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32SystemProxy.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

struct TRecordedValue {
    std::string_view SubKey;  // below the Internet Settings key
    std::string_view Name;
};

constexpr TRecordedValue kValues[] = {
    {"", "ProxyEnable"},
    {"", "ProxyServer"},
    {"", "ProxyOverride"},
    {"", "AutoConfigURL"},
    {"", "AutoDetect"},
    {"\\Connections", "DefaultConnectionSettings"},
    {"\\Connections", "SavedLegacySettings"},
};

constexpr char kSeparator = '|';
constexpr int kQueryTries = 4;

std::string KeyOf(const TRecordedValue& value) {
    return std::string(kInternetSettingsKey) + std::string(value.SubKey);
}

// false when the value is there but cannot be read.
bool ReadRaw(const std::string& key, std::string_view name, std::optional<std::string>& value) {
    value.reset();
    HKEY opened = nullptr;
    const LSTATUS open =
        ::RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(key).c_str(), 0, KEY_QUERY_VALUE, &opened);
    if (open == ERROR_FILE_NOT_FOUND) {
        return true;
    }
    if (open != ERROR_SUCCESS) {
        return false;
    }
    const TRegKey hold(opened);
    const std::wstring wideName = Widen(name);
    for (int i = 0; i < kQueryTries; ++i) {
        DWORD type = 0;
        DWORD size = 0;
        LSTATUS rc = ::RegQueryValueExW(opened, wideName.c_str(), nullptr, &type, nullptr, &size);
        if (rc == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        if (rc != ERROR_SUCCESS) {
            return false;
        }
        std::string bytes(size, '\0');
        rc = ::RegQueryValueExW(opened, wideName.c_str(), nullptr, &type,
                                reinterpret_cast<BYTE*>(bytes.data()), &size);
        if (rc == ERROR_MORE_DATA) {
            continue;  // grown in between
        }
        if (rc != ERROR_SUCCESS) {
            return false;
        }
        bytes.resize(size);
        value = std::to_string(type) + ":" + bytes;
        return true;
    }
    return false;
}

bool WriteRaw(const std::string& key, std::string_view name, const std::optional<std::string>& value) {
    const std::wstring wideName = Widen(name);
    if (!value) {
        HKEY opened = nullptr;
        const LSTATUS open =
            ::RegOpenKeyExW(HKEY_CURRENT_USER, KeyPath(key).c_str(), 0, KEY_SET_VALUE, &opened);
        if (open == ERROR_FILE_NOT_FOUND) {
            return true;
        }
        if (open != ERROR_SUCCESS) {
            return false;
        }
        const TRegKey hold(opened);
        const LSTATUS rc = ::RegDeleteValueW(opened, wideName.c_str());
        return rc == ERROR_SUCCESS || rc == ERROR_FILE_NOT_FOUND;
    }
    const std::size_t colon = value->find(':');
    DWORD type = 0;
    if (colon == std::string::npos ||
        std::from_chars(value->data(), value->data() + colon, type).ptr != value->data() + colon) {
        return false;
    }
    const std::string_view bytes = std::string_view(*value).substr(colon + 1);
    HKEY opened = nullptr;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, KeyPath(key).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_SET_VALUE, nullptr, &opened, nullptr) != ERROR_SUCCESS) {
        return false;
    }
    const TRegKey hold(opened);
    return ::RegSetValueExW(opened, wideName.c_str(), 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                            static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

}  // namespace

bool Win32ProxySettingsRecorder::Record(std::vector<TRecordedSetting>& settings) const {
    std::vector<TRecordedSetting> found;
    for (const TRecordedValue& value : kValues) {
        TRecordedSetting setting{std::string(kRegistryRecordStore),
                                 KeyOf(value) + kSeparator + std::string(value.Name), std::nullopt};
        if (!ReadRaw(KeyOf(value), value.Name, setting.Value)) {
            return false;
        }
        found.push_back(std::move(setting));
    }
    settings.insert(settings.end(), found.begin(), found.end());
    return true;
}

bool Win32ProxySettingsRecorder::Restore(const std::vector<TRecordedSetting>& settings) {
    bool ok = true;
    bool any = false;
    for (const TRecordedSetting& setting : settings) {
        if (setting.Store != kRegistryRecordStore) {
            continue;
        }
        const std::size_t bar = setting.Key.rfind(kSeparator);
        // Only the values recorded here: a journal names no other key.
        bool known = false;
        for (const TRecordedValue& value : kValues) {
            known = known || setting.Key == KeyOf(value) + kSeparator + std::string(value.Name);
        }
        if (bar == std::string::npos || !known) {
            ok = false;
            continue;
        }
        any = true;
        ok = WriteRaw(setting.Key.substr(0, bar), std::string_view(setting.Key).substr(bar + 1),
                      setting.Value) &&
             ok;
    }
    if (any) {
        // Running programs that use WinInet read the settings again.
        ::InternetSetOptionW(nullptr, INTERNET_OPTION_SETTINGS_CHANGED, nullptr, 0);
        ::InternetSetOptionW(nullptr, INTERNET_OPTION_REFRESH, nullptr, 0);
    }
    return ok;
}

}  // namespace cloakline
