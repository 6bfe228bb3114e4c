#include "core/proxy/BrowserProxyTexts.h"

#include "core/proxy/ProxyText.h"

namespace cloakline {

namespace {

constexpr char kQuote = '"';
constexpr std::string_view kChromeSwitch = "-silent -nosplash -chrome ";
constexpr std::string_view kExtensionPage = "chrome://shroud/content/shroud.xul";

}  // namespace

std::string IEProxyServerValue(std::string_view proxy) {
    std::string value;
    for (std::string_view scheme : {"http=", "ftp=", "https="}) {
        value += scheme;
        value += proxy;
        value += ';';
    }
    return value;
}

std::uint32_t IEProxyEnableValue(std::string_view proxy) {
    return proxy.empty() ? 0u : 1u;
}

TPerConnOptionList WinInetProxyOptions(bool on, std::string_view bypass, std::string_view server) {
    TPerConnOptionList list;
    list.Options = {
        TPerConnOption{kPerConnFlags, true, on ? kProxyTypeProxy : kProxyTypeDirect, {}},
        TPerConnOption{kPerConnProxyBypass, false, 0, std::string(bypass)},
        TPerConnOption{kPerConnProxyServer, false, 0, std::string(server)},
    };
    return list;
}

std::vector<TIniEntry> OperaProxyEntries(std::string_view proxy) {
    const std::string use = proxy.empty() ? "0" : "1";
    const std::string server(proxy);
    return {
        {"Use HTTP", use},        {"Use HTTPS", use},     {"Use FTP", use},         {"HTTP server", server},
        {"HTTPS server", server}, {"FTP server", server}, {"No Proxy Servers", ""},
    };
}

std::vector<std::string> OperaPreferenceFiles(std::string_view appDataFolder) {
    if (appDataFolder.empty()) {
        return {};
    }
    const std::string base(appDataFolder);
    return {base + "\\Opera\\Opera\\profile\\opera6.ini", base + "\\Opera\\Opera\\operaprefs.ini"};
}

std::string ApplyOperaProxy(std::string_view fileBytes, std::string_view proxy) {
    return WriteIniEntries(fileBytes, kOperaProxySection, OperaProxyEntries(proxy));
}

std::string FirefoxSetProxyParams(std::string_view host, std::string_view port) {
    std::string params(kChromeSwitch);
    params += kQuote;
    params += kExtensionPage;
    params += "?ssl=&proxy=";
    params += host;
    params += "&port=";
    params += port;
    params += kQuote;
    return params;
}

std::string FirefoxClearProxyParams() {
    std::string params(kChromeSwitch);
    params += kQuote;
    params += kExtensionPage;
    params += "?clear";
    params += kQuote;
    return params;
}

std::string FirefoxSwitchParams(std::string_view proxy) {
    if (proxy.empty()) {
        return FirefoxClearProxyParams();
    }
    const TProxyTextParts parts = SplitProxyText(proxy);
    return FirefoxSetProxyParams(parts.Host, parts.Port);
}

std::string FirefoxInstallParams(std::string_view appPath) {
    std::string params(1, kQuote);
    params += appPath;
    params += kFirefoxExtensionPackage;
    params += kQuote;
    return params;
}

}  // namespace cloakline
