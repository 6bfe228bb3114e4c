#pragma once

#include <cstdint>
#include <string>

namespace cloakline {

class ISystemInfo {
  public:
    virtual ~ISystemInfo() = default;
    // Display name of the system default language, such as "English (United States)".
    virtual std::string GetSystemLanguageName() const = 0;
    // The matching Windows language identifier, such as 1033.
    virtual std::uint16_t GetSystemLanguageId() const = 0;
    // The user's decimal separator for numbers.
    virtual char DecimalSeparator() const = 0;
};

}  // namespace cloakline
