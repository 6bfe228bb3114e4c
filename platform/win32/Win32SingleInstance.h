#pragma once

#include "platform/api/SingleInstance.h"

namespace cloakline {

// A named system mutex ("Global\..." for every session), never owned and
// never closed once created: the system drops it with the last process
// that has it open.
class Win32SingleInstance : public ISingleInstance {
  public:
    bool CreateUniqueMutex(std::string_view name) override;
};

}  // namespace cloakline
