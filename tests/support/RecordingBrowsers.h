#pragma once

#include <string>
#include <vector>

#include "platform/api/Browsers.h"
#include "platform/api/SystemProxy.h"

namespace cloakline::test {

// Applies nothing; remembers every proxy text it was given.
class RecordingSystemProxy : public ISystemProxy {
  public:
    std::vector<std::string> Applied;
    bool Result = true;

    bool ApplyProxy(std::string_view proxy) override {
        Applied.emplace_back(proxy);
        return Result;
    }
};

// A Firefox that a test installs by naming its program file.
class RecordingFirefox : public IFirefox {
  public:
    struct Call {
        std::string Program;
        std::string Argument;  // the proxy text, or the package path

        friend bool operator==(const Call&, const Call&) = default;
    };

    std::string Installed;  // what FindInstalledProgram answers
    bool Running = false;
    bool ApplyResult = true;
    bool InstallResult = true;
    mutable int Lookups = 0;
    std::vector<Call> Applied;
    std::vector<Call> Installs;

    std::string FindInstalledProgram() const override {
        ++Lookups;
        return Installed;
    }
    bool IsRunning() const override { return Running; }
    bool ApplyProxy(std::string_view programPath, std::string_view proxy) override {
        Applied.push_back({std::string(programPath), std::string(proxy)});
        return ApplyResult;
    }
    bool InstallExtension(std::string_view programPath, std::string_view packagePath) override {
        Installs.push_back({std::string(programPath), std::string(packagePath)});
        return InstallResult;
    }
};

class FixedOperaPreferences : public IOperaPreferences {
  public:
    std::vector<std::string> Extra;
    std::vector<std::string> ExtraPreferenceFiles() const override { return Extra; }
};

}  // namespace cloakline::test
