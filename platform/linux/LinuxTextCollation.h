#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/linux/EnvLookup.h"

namespace cloakline {

// The user's collation order without regard to case, for UTF-8 texts. The
// locale comes from the first non-empty of LC_ALL, LC_COLLATE and LANG; one
// that is not installed gives way to C.UTF-8. Texts that the locale deems
// equal fall back to CompareTextAscii, so that only equal texts compare equal.
// Copies share one locale and may be used from several threads.
class LinuxTextCollation {
  public:
    explicit LinuxTextCollation(EnvLookup env = SystemGetenv);

    // Negative, zero or positive as a sorts before, with or after b.
    int operator()(std::string_view a, std::string_view b) const;

    // The locale in use.
    const std::string& LocaleName() const;

  private:
    class Locale;
    std::shared_ptr<const Locale> FLocale;
};

}  // namespace cloakline
