#include "platform/win32/Win32SystemProxy.h"

#include <vector>

#include "core/proxy/BrowserProxyTexts.h"
#include "core/proxy/ProxyText.h"
#include "core/support/TextEncoding.h"
#include "platform/win32/Win32InetApi.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

#if !defined(_WIN64)
static_assert(sizeof(INTERNET_PER_CONN_OPTION_LISTW) == kPerConnOptionListSize);
#endif

bool SetWinInetProxy(bool on, std::string_view bypass, std::string_view server) {
    const TPerConnOptionList list = WinInetProxyOptions(on, bypass, server);
    // The texts live here while the call reads them; an empty one is an
    // empty string, never a null pointer.
    std::vector<std::wstring> texts;
    texts.reserve(list.Options.size());
    std::vector<INTERNET_PER_CONN_OPTIONW> options(list.Options.size());
    for (std::size_t i = 0; i < list.Options.size(); ++i) {
        const TPerConnOption& option = list.Options[i];
        options[i].dwOption = option.Option;
        if (option.IsNumber) {
            options[i].Value.dwValue = option.Number;
        } else {
            texts.push_back(Widen(option.Text));
            options[i].Value.pszValue = texts.back().data();
        }
    }
    std::wstring connection = list.Connection ? Widen(*list.Connection) : std::wstring();
    INTERNET_PER_CONN_OPTION_LISTW optionList{};
    // The structure's own size: 20 bytes in a 32-bit process, more in a 64-bit one.
    optionList.dwSize = sizeof optionList;
    optionList.pszConnection = list.Connection ? connection.data() : nullptr;
    optionList.dwOptionCount = static_cast<DWORD>(options.size());
    optionList.dwOptionError = list.OptionError;
    optionList.pOptions = options.data();
    return ::InternetSetOptionW(nullptr, kWinInetPerConnectionOption, &optionList, sizeof optionList) !=
           FALSE;
}

bool SetIERegistryProxy(std::string_view proxy) {
    const bool server =
        RegWriteString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer", IEProxyServerValue(proxy));
    const bool enable =
        RegWriteDword(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyEnable", IEProxyEnableValue(proxy));
    return server && enable;
}

bool Win32SystemProxy::ApplyProxy(std::string_view proxy) {
    if (!proxy.empty() && !IsValidProxyText(proxy)) {
        return false;
    }
    const bool options = proxy.empty() ? SetWinInetProxy(false, "", "") : SetWinInetProxy(true, "", proxy);
    const bool registry = SetIERegistryProxy(proxy);
    return options && registry;
}

std::string HttpProxyOfServerList(std::string_view proxyServer) {
    if (proxyServer.find('=') == std::string_view::npos) {
        return std::string(Trimmed(proxyServer));
    }
    std::size_t start = 0;
    while (start <= proxyServer.size()) {
        std::size_t end = proxyServer.find(';', start);
        if (end == std::string_view::npos) {
            end = proxyServer.size();
        }
        const std::string_view entry = Trimmed(proxyServer.substr(start, end - start));
        const std::size_t equals = entry.find('=');
        if (equals != std::string_view::npos && SameTextAscii(Trimmed(entry.substr(0, equals)), "http")) {
            return std::string(Trimmed(entry.substr(equals + 1)));
        }
        start = end + 1;
    }
    return {};
}

std::string Win32SystemProxy::CurrentProxy() const {
    const auto enabled = RegReadDword(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyEnable");
    if (!enabled || *enabled != 1) {
        return {};
    }
    return HttpProxyOfServerList(RegReadString(HKEY_CURRENT_USER, kInternetSettingsKey, "ProxyServer", ""));
}

}  // namespace cloakline
