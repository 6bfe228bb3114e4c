#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/win32/Win32Api.h"

namespace cloakline {

// Registry values by root, key path and value name. An empty name is the
// key's default value; a leading "\" in a key path is relative to the root
// all the same. view is 0 for the process's own view, or KEY_WOW64_32KEY /
// KEY_WOW64_64KEY. Keys are opened with full access; a read falls back to
// read access where full access is refused, so that keys of the machine stay
// readable for a user who may not change them. No call reports an error.

// The string value (REG_SZ or REG_EXPAND_SZ, unexpanded), else def.
std::string RegReadString(HKEY root,
                          std::string_view key,
                          std::string_view name,
                          std::string_view def,
                          REGSAM view = 0);
// Creates the key when missing; false when the value could not be written.
bool RegWriteString(HKEY root, std::string_view key, std::string_view name, std::string_view text);
// True unless an error occurred (a value that is not there is one).
bool RegDeleteValue(HKEY root, std::string_view key, std::string_view name);

bool RegWriteDword(HKEY root, std::string_view key, std::string_view name, std::uint32_t value);
std::optional<std::uint32_t> RegReadDword(HKEY root, std::string_view key, std::string_view name);
// The key can be opened for reading.
bool RegKeyExists(HKEY root, std::string_view key, REGSAM view = 0);

// An open key, closed when it goes.
class TRegKey {
  public:
    TRegKey() = default;
    explicit TRegKey(HKEY key) : FKey(key) {}
    ~TRegKey() { Close(); }
    TRegKey(TRegKey&& other) noexcept : FKey(other.FKey) { other.FKey = nullptr; }
    TRegKey& operator=(TRegKey&& other) noexcept;
    TRegKey(const TRegKey&) = delete;
    TRegKey& operator=(const TRegKey&) = delete;

    HKEY Get() const { return FKey; }
    bool Valid() const { return FKey != nullptr; }
    void Close();

  private:
    HKEY FKey = nullptr;
};

// Opens without creating: full access first, read access when that is refused.
TRegKey OpenKeyForReading(HKEY root, std::string_view key, REGSAM view = 0);
// The string value of an open key; nullopt when missing or not a string.
std::optional<std::wstring> QueryStringValue(HKEY key, const std::wstring& name);
// "\Software\x" and "Software\x" name the same key below the root.
std::wstring KeyPath(std::string_view key);

}  // namespace cloakline
