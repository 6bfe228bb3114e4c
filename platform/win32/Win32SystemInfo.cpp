#include "platform/win32/Win32SystemInfo.h"

#include <algorithm>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

constexpr DWORD kMaxLanguageName = 50;

}  // namespace

std::string Win32SystemInfo::GetSystemLanguageName() const {
    wchar_t name[kMaxLanguageName + 1] = {};
    const DWORD length = ::VerLanguageNameW(::GetSystemDefaultLangID(), name, kMaxLanguageName + 1);
    return Narrow(std::wstring_view(name, std::min<DWORD>(length, kMaxLanguageName)));
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
