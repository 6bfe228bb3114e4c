#pragma once

#include <map>
#include <string>

#include "platform/linux/EnvLookup.h"

namespace cloakline::test {

// An environment a test writes down, handed to a class instead of the process's.
class FakeEnv {
  public:
    FakeEnv() = default;
    FakeEnv(std::initializer_list<std::pair<const std::string, std::string>> values) : FValues(values) {}

    void Set(const std::string& name, const std::string& value) { FValues[name] = value; }
    // The lookup refers to this object, which must outlive it.
    EnvLookup Lookup() const {
        return [this](const char* name) -> const char* {
            auto it = FValues.find(name);
            return it == FValues.end() ? nullptr : it->second.c_str();
        };
    }

  private:
    std::map<std::string, std::string> FValues;
};

}  // namespace cloakline::test
