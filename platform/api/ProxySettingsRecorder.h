#pragma once

#include <optional>
#include <string>
#include <vector>

namespace cloakline {

// One setting as the user had it before the program changed anything. Store
// names where it lives in the backend's own terms (a GSettings schema, a
// file and section, a registry key); Value nullopt means it was not there
// (a key at its default, a missing section or file).
struct TRecordedSetting {
    std::string Store;
    std::string Key;
    std::optional<std::string> Value;

    friend bool operator==(const TRecordedSetting&, const TRecordedSetting&) = default;
};

// Everything that pointing the browsers at a proxy may change, read and put
// back exactly. Needs no display: the guard restores through it too.
class IProxySettingsRecorder {
  public:
    virtual ~IProxySettingsRecorder() = default;
    // What is there now, for every store this user's system has. False when a
    // store that is there could not be read: then nothing may be changed.
    virtual bool Record(std::vector<TRecordedSetting>& settings) const = 0;
    // Puts the recorded values back (nullopt: resets the key, removes the
    // section or file). Stores missing from the record are left alone. False
    // when a store refused; the others are still restored.
    virtual bool Restore(const std::vector<TRecordedSetting>& settings) = 0;
};

}  // namespace cloakline
