#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "tests/platform/linux/TempDesktop.h"

namespace cloakline::test {

// A desktop in a temporary folder whose user has set up proxies of their own
// in every place the switches write: GNOME in PAC mode with a SOCKS host,
// exceptions and separate proxies per scheme; Opera with a proxy section;
// a Firefox profile set to a manual proxy; a KDE session without kioslaverc.
struct UsersDesktop {
    static constexpr const char* kUserJs = "home/.mozilla/firefox/abc.default/user.js";
    static constexpr const char* kPrefsJs = "home/.mozilla/firefox/abc.default/prefs.js";
    static constexpr const char* kOperaPrefs = "home/.opera/operaprefs.ini";
    static constexpr const char* kKioslaverc = "cfg/kioslaverc";
    inline static const std::string kUserJsStart = "user_pref(\"browser.startup.page\", 3);";
    inline static const std::string kPrefsJsStart =
        "// Mozilla User Preferences\n\nuser_pref(\"network.proxy.http\", \"web.corp\");\n"
        "user_pref(\"network.proxy.type\", 1);\n";
    inline static const std::string kOperaStart =
        "Opera Preferences version 2.1\r\n\r\n[User Prefs]\r\nHome URL=about:blank\r\n\r\n[Proxy]\r\n"
        "HTTP server=corp:8080\r\nUse HTTP=1\r\nNo Proxy Servers=intra\r\n\r\n[Other]\r\nX=\xe4";

    UsersDesktop() {
        Desktop.Env["XDG_CURRENT_DESKTOP"] = "ubuntu:KDE";
        Desktop.Env["CLOAKLINE_COMMON_APPDATA"] = Desktop.Dir.Path() + "/common";
        Desktop.Env["PATH"] = Desktop.Dir.Path() + "/bin:" + Desktop.Env["PATH"];
        Desktop.Dir.WriteFile("bin/firefox", "#!/bin/sh\nexit 0\n");
        std::filesystem::permissions(Desktop.Dir.Path() + "/bin/firefox", std::filesystem::perms::owner_all);
        Desktop.Dir.WriteFile("home/.mozilla/firefox/profiles.ini",
                              "[Profile0]\nName=default\nIsRelative=1\nPath=abc.default\nDefault=1\n");
        Desktop.Dir.WriteFile(kUserJs, kUserJsStart);
        Desktop.Dir.WriteFile(kPrefsJs, kPrefsJsStart);
        Desktop.Dir.WriteFile(kOperaPrefs, kOperaStart);
    }

    // False when gsettings or the schemas are missing.
    bool SetUpGnome() const {
        if (!Desktop.HasGnomeProxySchema()) {
            return false;
        }
        const std::string p = "org.gnome.system.proxy";
        return Desktop.GSettingsSet(p, "mode", "auto") &&
               Desktop.GSettingsSet(p, "autoconfig-url", "http://pac.corp/proxy.pac?a=1&b='2'") &&
               Desktop.GSettingsSet(p, "ignore-hosts", "['localhost', '*.corp', '10.0.0.0/8']") &&
               Desktop.GSettingsSet(p, "use-same-proxy", "false") &&
               Desktop.GSettingsSet(p + ".socks", "host", "socks.corp") &&
               Desktop.GSettingsSet(p + ".socks", "port", "1080") &&
               Desktop.GSettingsSet(p + ".http", "host", "web.corp") &&
               Desktop.GSettingsSet(p + ".http", "port", "3128") &&
               Desktop.GSettingsSet(p + ".http", "authentication-user", "me \"quoted\" \\ ü");
    }

    // The keyfile backend's values, group -> key -> value; empty groups and
    // the order of lines do not count.
    std::map<std::string, std::map<std::string, std::string>> GnomeValues() const {
        std::map<std::string, std::map<std::string, std::string>> values;
        const std::string text = Desktop.Dir.Exists("cfg/glib-2.0/settings/keyfile") ? Desktop.KeyFile() : "";
        std::string group;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            end = end == std::string::npos ? text.size() : end;
            const std::string line = text.substr(start, end - start);
            start = end + 1;
            if (line.starts_with('[')) {
                group = line;
            } else if (const std::size_t eq = line.find('='); eq != std::string::npos) {
                values[group][line.substr(0, eq)] = line.substr(eq + 1);
            }
        }
        return values;
    }

    TempDesktop Desktop;
};

}  // namespace cloakline::test
