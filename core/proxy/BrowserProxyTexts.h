#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/proxy/IniTextEdit.h"

namespace cloakline {

// The texts that point Internet Explorer, Opera and Firefox at a proxy text P
// (host ":" port) or, for the empty P, at a direct connection. Pure: the
// backends write them where each browser reads them.

// Internet Settings values "ProxyServer" and "ProxyEnable".
std::string IEProxyServerValue(std::string_view proxy);
std::uint32_t IEProxyEnableValue(std::string_view proxy);

// WinInet's numbers, spelled apart from <wininet.h>'s macros so that a
// backend can include both.
inline constexpr std::uint32_t kWinInetPerConnectionOption = 75;  // INTERNET_OPTION_PER_CONNECTION_OPTION
inline constexpr std::uint32_t kPerConnOptionListSize = 20;  // sizeof(INTERNET_PER_CONN_OPTION_LIST), 32-bit
inline constexpr std::uint32_t kPerConnFlags = 1;            // INTERNET_PER_CONN_FLAGS
inline constexpr std::uint32_t kPerConnProxyServer = 2;      // INTERNET_PER_CONN_PROXY_SERVER
inline constexpr std::uint32_t kPerConnProxyBypass = 3;      // INTERNET_PER_CONN_PROXY_BYPASS
inline constexpr std::uint32_t kProxyTypeDirect = 1;         // PROXY_TYPE_DIRECT
inline constexpr std::uint32_t kProxyTypeProxy = 2;          // PROXY_TYPE_PROXY

// One INTERNET_PER_CONN_OPTION: a number (dwValue) or a text (pszValue).
struct TPerConnOption {
    std::uint32_t Option = 0;
    bool IsNumber = false;
    std::uint32_t Number = 0;
    std::string Text;  // passed as a pointer to this text, never as null

    friend bool operator==(const TPerConnOption&, const TPerConnOption&) = default;
};

// One INTERNET_PER_CONN_OPTION_LIST.
struct TPerConnOptionList {
    std::uint32_t Size = kPerConnOptionListSize;
    std::optional<std::string> Connection;  // nullopt: null, the LAN connection
    std::uint32_t OptionError = 0;
    std::vector<TPerConnOption> Options;
};

// What SetWinInetProxy hands to InternetSetOptionW: flags, bypass, server.
TPerConnOptionList WinInetProxyOptions(bool on, std::string_view bypass, std::string_view server);

// Opera's "Proxy" section.
inline constexpr std::string_view kOperaProxySection = "Proxy";

// The section's seven keys, in the order they are written.
std::vector<TIniEntry> OperaProxyEntries(std::string_view proxy);
// Opera for Windows' preference files under the "AppData" folder, in the
// order they are tried; none when the folder is unknown.
std::vector<std::string> OperaPreferenceFiles(std::string_view appDataFolder);
// The preference file's bytes with the proxy entries written and everything
// else kept (WriteIniEntries).
std::string ApplyOperaProxy(std::string_view fileBytes, std::string_view proxy);

// Command lines for Firefox and the browser extension that takes the proxy.
inline constexpr std::string_view kFirefoxExtensionPackage = "ffextension.xpi";

std::string FirefoxSetProxyParams(std::string_view host, std::string_view port);
std::string FirefoxClearProxyParams();
// The set line for P split at its first ":", or the clear line for the empty P.
std::string FirefoxSwitchParams(std::string_view proxy);
// appPath is the program's folder with its trailing "\".
std::string FirefoxInstallParams(std::string_view appPath);

}  // namespace cloakline
