#include "core/proxy/HideRules.h"

#include <cctype>

#include "core/proxy/ProxyText.h"
#include "core/support/DateTimeUtils.h"
#include "core/support/PathUtils.h"
#include "core/support/TextEncoding.h"

namespace cloakline {

bool ActionTooFast(TDateTime now, TDateTime lastAction) {
    return SecondsBetween(now, lastAction) == 0;
}

bool ChangeIPDue(TDateTime now, TDateTime lastChange, std::int32_t changeMinutes) {
    return MinutesBetween(now, lastChange) >= changeMinutes;
}

bool TouchDue(TDateTime now, TDateTime lastTouch, bool isSuper) {
    return isSuper && MinutesBetween(now, lastTouch) > kTouchMinutes;
}

bool IsUsableProxyChoice(const TProxyRec& choice) {
    return choice.HasAddress() && IsValidProxyText(choice.ProxyText());
}

std::uint32_t HidingTextColor(std::string_view productId) {
    return productId == "ORV" ? 0xCCCCCCu : 0u;
}

std::uint32_t StartTextColor(std::string_view appName) {
    return SameTextAscii(appName, "Orvelle") ? 0xFFFFFFu : 0u;
}

bool IsRefusedLocalCountry(std::string_view countryShort) {
    return SameTextAscii(countryShort, "CN");
}

std::string TargetFlagReference(std::string_view appPath,
                                std::string_view localFlagFolder,
                                std::string_view userDataPath,
                                std::string_view serverFlagPrefix,
                                std::string_view code,
                                const std::function<bool(const std::string&)>& fileExists) {
    if (!IsPlainFileStem(code)) {
        return {};
    }
    const std::string name = std::string(code) + ".PNG";
    std::string path = CombinePath(appPath, std::string(localFlagFolder) + name);
    if (fileExists(path)) {
        return path;
    }
    path = CombinePath(userDataPath, name);
    if (fileExists(path)) {
        return path;
    }
    return std::string(serverFlagPrefix) + name;
}

std::string LocalFlagReference(std::string_view appPath,
                               std::string_view localFlagFolder,
                               std::string_view serverFlagPrefix,
                               std::string_view code,
                               const std::function<bool(const std::string&)>& fileExists) {
    if (!IsPlainFileStem(code)) {
        return {};
    }
    const std::string name = std::string(code) + ".PNG";
    const std::string path = CombinePath(appPath, std::string(localFlagFolder) + name);
    return fileExists(path) ? path : std::string(serverFlagPrefix) + name;
}

TSmallFlagSource SmallFlagSource(std::string_view appPath,
                                 std::string_view userDataPath,
                                 std::string_view serverFlagPrefix,
                                 std::string_view code,
                                 const std::function<bool(const std::string&)>& fileExists) {
    TSmallFlagSource source;
    if (!IsPlainFileStem(code)) {
        return source;
    }
    const std::string name = std::string(code) + ".PNG";
    source.Path = CombinePath(appPath, "res\\flag_short\\" + name);
    if (fileExists(source.Path)) {
        source.Kind = TSmallFlagSource::TKind::File;
        return source;
    }
    source.Path = CombinePath(userDataPath, name);
    if (fileExists(source.Path)) {
        source.Kind = TSmallFlagSource::TKind::File;
        return source;
    }
    // The server's names are all upper case; the stored file keeps the code as given.
    std::string upper = std::string(code) + ".png";
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    source.Kind = TSmallFlagSource::TKind::Download;
    source.URL = std::string(serverFlagPrefix) + upper;
    return source;
}

std::string DownloadedFlagFile(std::string_view userDataPath, std::string_view flagAddress) {
    const std::size_t scheme = flagAddress.find("://");
    if (scheme == std::string_view::npos || scheme == 0) {
        return {};
    }
    std::string_view name = flagAddress.substr(flagAddress.rfind('/') + 1);
    constexpr std::string_view ext = ".png";
    if (name.size() <= ext.size() || !SameTextAscii(name.substr(name.size() - ext.size()), ext)) {
        return {};
    }
    name.remove_suffix(ext.size());
    if (!IsPlainFileStem(name)) {
        return {};
    }
    return CombinePath(userDataPath, std::string(name) + ".PNG");
}

}  // namespace cloakline
