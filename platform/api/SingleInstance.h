#pragma once

#include <string_view>

namespace cloakline {

class ISingleInstance {
  public:
    virtual ~ISingleInstance() = default;
    // Takes the named system-wide mutex and holds it for the life of the
    // process. False when another living process already holds it.
    virtual bool CreateUniqueMutex(std::string_view name) = 0;
};

}  // namespace cloakline
