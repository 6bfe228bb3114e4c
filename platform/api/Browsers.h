#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// The installed Firefox, as far as the system knows it. Paths in program form.
class IFirefox {
  public:
    virtual ~IFirefox() = default;
    // The Firefox program the system has installed; empty when none is found.
    virtual std::string FindInstalledProgram() const = 0;
    // A Firefox of this user is running.
    virtual bool IsRunning() const = 0;
    // Points the Firefox at programPath at the proxy (a well-formed host:port
    // text), or at a direct connection for the empty text. A malformed text
    // changes nothing. False when the change could not be handed over.
    virtual bool ApplyProxy(std::string_view programPath, std::string_view proxy) = 0;
    // Makes the browser extension in packagePath available to that Firefox,
    // or on a system where the proxy needs no extension, checks that the
    // proxy can be handed over. True on success.
    virtual bool InstallExtension(std::string_view programPath, std::string_view packagePath) = 0;
};

// Where this system's Opera keeps its preference file.
class IOperaPreferences {
  public:
    virtual ~IOperaPreferences() = default;
    // Candidates tried after the ones under the "AppData" folder, in order.
    virtual std::vector<std::string> ExtraPreferenceFiles() const = 0;
    // The file to write for a preference file found at path: where a link
    // the user made points, so that the link stays; path itself otherwise.
    virtual std::string WritablePreferenceFile(const std::string& path) const { return path; }
};

}  // namespace cloakline
