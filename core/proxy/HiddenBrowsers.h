#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api/BrowserInventory.h"

namespace cloakline {

// What is known while hiding, for the list of the browsers that are hidden.
struct THiddenBrowsersFacts {
    std::vector<TInstalledBrowser> Installed;
    // Hiding through the local gateway: the browsers that run now, with
    // their connections to it, and the upstream new connections go through.
    bool ThroughGateway = false;
    std::vector<TRunningBrowser> Running;
    std::string UpstreamAddress;
    std::string UpstreamCountry;
    // The WebRTC policy of Chromium-based browsers is in place.
    bool ChromiumPolicyApplied = false;
};

struct TBrowserLine {
    std::string Text;
    // False: this browser shows the user's own address (or may, for a risk).
    bool Hidden = true;

    friend bool operator==(const TBrowserLine&, const TBrowserLine&) = default;
};

struct THiddenBrowserLines {
    // One line per browser, then the remaining risks.
    std::vector<TBrowserLine> Lines;
    // For the tray icon's tooltip.
    std::string Summary;
};

// A language text by key with {1}, {2} filled in.
using TTextLookup = std::function<std::string(std::string_view key, const std::vector<std::string>& args)>;

// The lines and the summary; every text through text.
THiddenBrowserLines BuildHiddenBrowsers(const THiddenBrowsersFacts& facts, const TTextLookup& text);

}  // namespace cloakline
