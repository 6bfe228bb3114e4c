#pragma once

#include <string>

#include "core/support/WindowsLanguages.h"
#include "platform/api/SystemInfo.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// Language and number format from the POSIX locale variables.
class LinuxSystemInfo : public ISystemInfo {
  public:
    explicit LinuxSystemInfo(EnvLookup env = SystemGetenv);

    // From the first non-empty of LC_ALL, LC_MESSAGES and LANG.
    std::string GetSystemLanguageName() const override;
    std::uint16_t GetSystemLanguageId() const override;
    // From the first non-empty of LC_ALL, LC_NUMERIC and LANG; "." when that locale is unavailable.
    char DecimalSeparator() const override;

    // The locale name that decides the language; empty when none is set.
    std::string MessagesLocaleName() const;

  private:
    WindowsLanguage Language() const;

    EnvLookup FEnv;
};

}  // namespace cloakline
