#pragma once

// GNOME's proxy settings as GLib's key file backend (GSETTINGS_BACKEND=keyfile)
// keeps them on disk, read without GIO so that a test sees what another
// process wrote the moment it is there.
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

namespace cloakline::test {

// "section/key" -> value (GVariant text) for [system/proxy] and its children;
// a key at its default is absent.
inline std::map<std::string, std::string> GnomeProxyKeys(const std::string& keyFile) {
    std::ifstream in(keyFile);
    std::map<std::string, std::string> keys;
    std::string line;
    std::string section;
    while (std::getline(in, line)) {
        if (!line.empty() && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && section.rfind("system/proxy", 0) == 0) {
            keys[section + "/" + line.substr(0, eq)] = line.substr(eq + 1);
        }
    }
    return keys;
}

// The value of key in [section] of an INI-like text (a GLib key file,
// kioslaverc); nullopt when absent.
inline std::optional<std::string> IniSectionValue(const std::string& text,
                                                  const std::string& section,
                                                  const std::string& key) {
    std::istringstream lines(text);
    std::string line;
    bool inSection = false;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.front() == '[') {
            inSection = line == "[" + section + "]";
        } else if (inSection && line.rfind(key + "=", 0) == 0) {
            return line.substr(key.size() + 1);
        }
    }
    return std::nullopt;
}

inline std::string Describe(const std::map<std::string, std::string>& keys) {
    std::ostringstream text;
    for (const auto& [k, v] : keys) {
        text << k << "=" << v << "\n";
    }
    return text.str();
}

// What a user with a company PAC file and a SOCKS tunnel has before Hide.
inline const char* const kUserProxyKeyFile =
    "[system/proxy]\n"
    "mode='auto'\n"
    "autoconfig-url='http://wpad.corp.example/proxy.pac'\n"
    "ignore-hosts=['corp.example', '10.0.0.0/8']\n"
    "\n"
    "[system/proxy/socks]\n"
    "host='socks.corp.example'\n"
    "port=1080\n";

}  // namespace cloakline::test
