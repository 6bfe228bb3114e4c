#pragma once

#include "core/support/StringList.h"

namespace cloakline {

// The two setting lists that the engine holds around the settings store's files.
class IEngineLayers {
  public:
    virtual ~IEngineLayers() = default;
    virtual const TStringList& SettingOverwrite() const = 0;
    virtual const TStringList& SettingDefault() const = 0;
};

// The process-wide engine's lists, or nullptr while no engine exists.
IEngineLayers* GlobalEngineLayers();
void SetGlobalEngineLayers(IEngineLayers* layers);

}  // namespace cloakline
