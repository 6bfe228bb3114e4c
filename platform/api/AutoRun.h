#pragma once

#include <string_view>

namespace cloakline {

// The per-user entry that starts a program when the user logs in.
class IAutoRun {
  public:
    virtual ~IAutoRun() = default;
    // enable writes or replaces the entry; !enable removes it. Errors are swallowed.
    virtual void SetAutoRun(bool enable, std::string_view entryName, std::string_view command) = 0;
};

}  // namespace cloakline
