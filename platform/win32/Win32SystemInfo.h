#pragma once

#include "platform/api/SystemInfo.h"

namespace cloakline {

// The system default language and the user's number format.
class Win32SystemInfo : public ISystemInfo {
  public:
    // VerLanguageNameW of GetSystemDefaultLangID, at most 50 characters.
    std::string GetSystemLanguageName() const override;
    std::uint16_t GetSystemLanguageId() const override;
    char DecimalSeparator() const override;
};

}  // namespace cloakline
