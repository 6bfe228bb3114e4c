#pragma once

#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "tests/platform/linux/CommandOutput.h"
#include "tests/platform/linux/ForkedChild.h"
#include "tests/support/TempDir.h"

namespace cloakline::test {

// A user's desktop in a temporary folder: home, config home and GSettings in
// GIO's keyfile backend there. GIO picks its backend and folders once per
// process, at first use, so code that reaches GIO runs in a child whose
// environment is set before that (InChild); the test process itself never
// touches GIO. "gsettings" reads the values back as a process of its own.
class TempDesktop {
  public:
    static constexpr int kTimeoutMs = 20000;

    TempDesktop() {
        Dir.Sub("home/.keep");
        Dir.Sub("cfg/.keep");
        Env["HOME"] = Home();
        Env["XDG_CONFIG_HOME"] = ConfigHome();
        Env["GSETTINGS_BACKEND"] = "keyfile";
        const char* path = std::getenv("PATH");
        Env["PATH"] = path != nullptr ? path : "/usr/bin:/bin";
    }

    std::string Home() const { return Dir.Path() + "/home"; }
    std::string ConfigHome() const { return Dir.Path() + "/cfg"; }

    std::vector<std::string> Environment() const {
        std::vector<std::string> lines;
        for (const auto& [name, value] : Env) {
            lines.push_back(name + "=" + value);
        }
        return lines;
    }

    // body's result in a fresh child with exactly Env (as runAs when not 0);
    // nullopt when it did not end normally in time.
    std::optional<int> InChild(const std::function<int()>& body, uid_t runAs = 0) const {
        ForkedChild child([&] {
            ::clearenv();
            for (const auto& [name, value] : Env) {
                ::setenv(name.c_str(), value.c_str(), 1);
            }
            if (runAs != 0 && (::setgid(runAs) != 0 || ::setuid(runAs) != 0)) {
                return 120;
            }
            return body();
        });
        return child.WaitExit(kTimeoutMs);
    }

    // The value as "gsettings get" prints it.
    std::string GSettingsGet(const std::string& schema, const std::string& key) const {
        const auto out = CommandOutput({"gsettings", "get", schema, key}, Environment(), kTimeoutMs);
        return out ? *out : "<gsettings failed>";
    }
    bool GSettingsSet(const std::string& schema, const std::string& key, const std::string& value) const {
        return CommandOutput({"gsettings", "set", schema, key, value}, Environment(), kTimeoutMs).has_value();
    }
    // Whether gsettings and the GNOME proxy schema are installed.
    bool HasGnomeProxySchema() const {
        return CommandOutput({"gsettings", "list-keys", "org.gnome.system.proxy"}, Environment(), kTimeoutMs)
            .has_value();
    }
    std::string KeyFile() const { return Dir.ReadFile("cfg/glib-2.0/settings/keyfile"); }

    TempDir Dir;
    std::map<std::string, std::string> Env;
};

}  // namespace cloakline::test
