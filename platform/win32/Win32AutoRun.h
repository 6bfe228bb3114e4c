#pragma once

#include "platform/api/AutoRun.h"

namespace cloakline {

inline constexpr std::string_view kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

// The string value entry = command under the current user's Run key.
class Win32AutoRun : public IAutoRun {
  public:
    void SetAutoRun(bool enable, std::string_view entryName, std::string_view command) override;
};

}  // namespace cloakline
