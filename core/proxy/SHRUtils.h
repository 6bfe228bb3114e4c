#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/framework/KTSettings.h"
#include "platform/api/Platform.h"

namespace cloakline {

// Points the installed browsers at a proxy text (host ":" port) or, for the
// empty text, back at a direct connection. Settings "SWITCH.IE", "SWITCH.FF"
// and "SWITCH.OPERA" turn every call for that browser into a clear.
//
// Each switch answers true when nothing went wrong, a browser that is not
// there included; false when the text is not a well-formed proxy text (then
// nothing at all is written for that browser) or when a write failed.
// Main thread only.

// What the routines read and write.
struct TSwitchServices {
    TKTSettings& Settings;
    Platform& System;
};

// The desktop's proxy settings, which Internet Explorer and everything that
// uses the system's proxy follow.
bool SwitchIEProxy(const TSwitchServices& with, std::string_view proxy);
// Section "Proxy" of the first Opera preference file that exists.
bool SwitchOperaProxy(const TSwitchServices& with, std::string_view proxy);
// The Opera preference file that SwitchOperaProxy writes; empty when none exists.
std::string OperaPreferenceFile(const TSwitchServices& with);
// Opera's preference file already holds this proxy text (a write would
// change nothing); false when there is no such file.
bool OperaHoldsProxy(const TSwitchServices& with, std::string_view proxy);
// Firefox, when one is installed.
bool SwitchFirefoxProxy(const TSwitchServices& with, std::string_view proxy);

// What a switch of every browser did. Failed holds the language keys of the
// names of the browsers that are there and whose switch answered false ("Browser.System",
// "Browser.Firefox", "Browser.Opera"), in switching order. AnySwitched: a
// browser that is there, with its switch setting on, took the proxy (for a
// clear: took the direct connection).
struct TSwitchReport {
    std::vector<std::string> Failed;
    bool AnySwitched = false;
};

// SwitchIEProxy, SwitchFirefoxProxy and SwitchOperaProxy in that order, each
// run whatever the others answered; then the WebRTC policy of Chromium-based
// browsers, while the desktop's settings carry the proxy.
TSwitchReport SwitchAllBrowsers(const TSwitchServices& with, std::string_view proxy);

// Takes away what only the program ever writes, where a run left it behind:
// its block in Firefox profiles (with what Firefox copied from it) and the
// Chromium policy file. The desktop's and Opera's settings, which belong to
// the user too, are left alone.
TSwitchReport TidyOwnLeftovers(const TSwitchServices& with);

// Setting "FireFoxPath" when it names an existing file; else the program the
// system has installed, remembered in the setting. When nothing is found,
// the setting's value as it is, possibly empty.
std::string GetFirefoxPath(const TSwitchServices& with);
bool IsFirefoxInstalled(const TSwitchServices& with);
bool IsFirefoxRunning(const TSwitchServices& with);
// Hands the extension package beside the program to Firefox; false without Firefox.
bool InstallFirefoxExtension(const TSwitchServices& with);

}  // namespace cloakline
