#pragma once

#include "platform/api/Browsers.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// Opera for Linux keeps its preferences in "~/.opera": "opera6.ini" up to
// version 10, "operaprefs.ini" since. (Opera built on Chromium follows the
// desktop's proxy instead.)
class LinuxOperaPreferences : public IOperaPreferences {
  public:
    explicit LinuxOperaPreferences(EnvLookup env = SystemGetenv);

    std::vector<std::string> ExtraPreferenceFiles() const override;
    // Follows symbolic links, as user.js and kioslaverc are written.
    std::string WritablePreferenceFile(const std::string& path) const override;

  private:
    EnvLookup FEnv;
};

}  // namespace cloakline
