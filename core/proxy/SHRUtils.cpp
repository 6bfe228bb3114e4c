#include "core/proxy/SHRUtils.h"

#include <vector>

#include "core/proxy/BrowserProxyTexts.h"
#include "core/proxy/ProxyText.h"
#include "core/support/ShellUtils.h"

namespace cloakline {

namespace {

// Opera's preference files are small; anything larger is not one.
constexpr std::size_t kMaxPreferenceFileSize = 16u << 20;

bool IsAcceptable(std::string_view proxy) {
    return proxy.empty() || IsValidProxyText(proxy);
}

// The text to apply: the empty text when the browser's switch is off.
std::string_view Effective(const TSwitchServices& with, std::string_view switchName, std::string_view proxy) {
    return with.Settings.GetSettingBool(switchName) ? proxy : std::string_view();
}

bool IsExistingFile(const Platform& system, const std::string& path) {
    return !path.empty() && system.Files && system.Files->FileExists(path) &&
           !system.Files->DirectoryExists(path);
}

}  // namespace

bool SwitchIEProxy(const TSwitchServices& with, std::string_view proxy) {
    if (!IsAcceptable(proxy) || !with.System.SystemProxy) {
        return false;
    }
    return with.System.SystemProxy->ApplyProxy(Effective(with, "SWITCH.IE", proxy));
}

std::string OperaPreferenceFile(const TSwitchServices& with) {
    Platform& system = with.System;
    std::vector<std::string> candidates =
        OperaPreferenceFiles(system.Folders ? system.Folders->GetShellFolder("AppData") : std::string());
    if (system.Opera) {
        for (std::string& path : system.Opera->ExtraPreferenceFiles()) {
            candidates.push_back(std::move(path));
        }
    }
    for (std::string& path : candidates) {
        if (IsExistingFile(system, path)) {
            return std::move(path);
        }
    }
    return {};
}

bool OperaHoldsProxy(const TSwitchServices& with, std::string_view proxy) {
    const std::string path = OperaPreferenceFile(with);
    if (path.empty()) {
        return false;
    }
    const auto bytes = with.System.Files->ReadFile(path, kMaxPreferenceFileSize);
    // Writing the proxy would change nothing.
    return bytes && ApplyOperaProxy(*bytes, proxy) == *bytes;
}

bool SwitchOperaProxy(const TSwitchServices& with, std::string_view proxy) {
    if (!IsAcceptable(proxy)) {
        return false;
    }
    const std::string_view effective = Effective(with, "SWITCH.OPERA", proxy);
    const std::string path = OperaPreferenceFile(with);
    if (path.empty()) {
        return true;
    }
    IFileSystem& files = *with.System.Files;
    const auto bytes = files.ReadFile(path, kMaxPreferenceFileSize);
    // A linked preference file is written where the link points; the link stays.
    const std::string target = with.System.Opera ? with.System.Opera->WritablePreferenceFile(path) : path;
    return bytes && files.ReplaceFile(target, ApplyOperaProxy(*bytes, effective));
}

bool SwitchFirefoxProxy(const TSwitchServices& with, std::string_view proxy) {
    if (!IsAcceptable(proxy)) {
        return false;
    }
    const std::string_view effective = Effective(with, "SWITCH.FF", proxy);
    const std::string program = GetFirefoxPath(with);
    if (program.empty()) {
        return true;
    }
    return with.System.Firefox && with.System.Firefox->ApplyProxy(program, effective);
}

TSwitchReport SwitchAllBrowsers(const TSwitchServices& with, std::string_view proxy) {
    TSwitchReport report;
    const auto note = [&](bool ok, bool present, std::string_view switchName, const char* nameKey) {
        if (!present) {
            return;
        }
        if (!ok) {
            report.Failed.emplace_back(nameKey);
        } else if (proxy.empty() || with.Settings.GetSettingBool(switchName)) {
            report.AnySwitched = true;
        }
    };
    // A system with a backend for them always has the desktop's settings.
    note(SwitchIEProxy(with, proxy), with.System.SystemProxy != nullptr, "SWITCH.IE", "Browser.System");
    const bool firefox = IsFirefoxInstalled(with);
    note(SwitchFirefoxProxy(with, proxy), firefox, "SWITCH.FF", "Browser.Firefox");
    const bool opera = !OperaPreferenceFile(with).empty();
    note(SwitchOperaProxy(with, proxy), opera, "SWITCH.OPERA", "Browser.Opera");
    // WebRTC of Chromium-based browsers kept on the proxy that the desktop's
    // settings give them; where the policy cannot be written, the list of
    // hidden browsers names the risk.
    if (with.System.ChromiumPolicy) {
        with.System.ChromiumPolicy->Apply(!proxy.empty() && with.Settings.GetSettingBool("SWITCH.IE"));
    }
    return report;
}

TSwitchReport TidyOwnLeftovers(const TSwitchServices& with) {
    TSwitchReport report;
    if (IsFirefoxInstalled(with)) {
        if (SwitchFirefoxProxy(with, "")) {
            report.AnySwitched = true;
        } else {
            report.Failed.emplace_back("Browser.Firefox");
        }
    }
    if (with.System.ChromiumPolicy) {
        with.System.ChromiumPolicy->Apply(false);
    }
    return report;
}

std::string GetFirefoxPath(const TSwitchServices& with) {
    std::string result = with.Settings.GetSettingString("FireFoxPath");
    if (IsExistingFile(with.System, result)) {
        return result;
    }
    if (with.System.Firefox) {
        std::string found = with.System.Firefox->FindInstalledProgram();
        if (!found.empty()) {
            result = std::move(found);
        }
    }
    if (IsExistingFile(with.System, result)) {
        with.Settings.SetSettingstring("FireFoxPath", result);
    }
    return result;
}

bool IsFirefoxInstalled(const TSwitchServices& with) {
    return !GetFirefoxPath(with).empty();
}

bool IsFirefoxRunning(const TSwitchServices& with) {
    return with.System.Firefox && with.System.Firefox->IsRunning();
}

bool InstallFirefoxExtension(const TSwitchServices& with) {
    const std::string program = GetFirefoxPath(with);
    if (program.empty() || !with.System.Firefox) {
        return false;
    }
    const std::string package = GetAppPath(with.System) + std::string(kFirefoxExtensionPackage);
    return with.System.Firefox->InstallExtension(program, package);
}

}  // namespace cloakline
