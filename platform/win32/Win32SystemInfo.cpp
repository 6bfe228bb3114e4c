#include "platform/win32/Win32SystemInfo.h"

#include <cwchar>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr DWORD kMaxLanguageName = 50;

}  // namespace

std::string Win32SystemInfo::GetSystemLanguageName() const {
    wchar_t name[kMaxLanguageName + 1] = {};
    if (::VerLanguageNameW(::GetSystemDefaultLangID(), name, kMaxLanguageName + 1) == 0) {
        return {};
    }
    // The count returned is not the same on every system; the text ends at its zero.
    return Narrow(std::wstring_view(name, ::wcsnlen(name, kMaxLanguageName)));
}

std::uint16_t Win32SystemInfo::GetSystemLanguageId() const {
    return ::GetSystemDefaultLangID();
}

char Win32SystemInfo::DecimalSeparator() const {
    wchar_t separator[8] = {};
    if (::GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SDECIMAL, separator, 8) <= 0 || separator[0] == L'\0' ||
        separator[0] > 0x7F) {
        return '.';
    }
    return static_cast<char>(separator[0]);
}

}  // namespace cloakline
