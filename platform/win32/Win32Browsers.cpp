#include "platform/win32/Win32Browsers.h"

#include "core/proxy/BrowserProxyTexts.h"
#include "core/proxy/ProxyText.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Processes.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

// The registry view that this process does not see by default.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;

std::string InstallerFirefox(REGSAM view) {
    const std::string version =
        RegReadString(HKEY_LOCAL_MACHINE, kMozillaFirefoxKey, "CurrentVersion", "", view);
    if (version.empty()) {
        return {};
    }
    const std::string main = std::string(kMozillaFirefoxKey) + "\\" + version + "\\Main";
    return RegReadString(HKEY_LOCAL_MACHINE, main, "PathToExe", "", view);
}

}  // namespace

bool RunProgramWithParams(std::string_view program, std::string_view params) {
    if (program.empty()) {
        return false;
    }
    const std::wstring file = Widen(program);
    const std::size_t slash = file.find_last_of(L"\\/");
    const std::wstring folder = slash == std::wstring::npos ? std::wstring() : file.substr(0, slash + 1);
    return StartProcess(file, L"\"" + file + L"\" " + Widen(params), folder, false, INFINITE);
}

std::string Win32Firefox::FindInstalledProgram() const {
    std::string result = InstallerFirefox(0);
    if (result.empty()) {
        result = InstallerFirefox(kOtherView);
    }
    const std::string portable = RegReadString(HKEY_CURRENT_USER, kPortableFirefoxKey, "", "");
    if (!portable.empty()) {
        result = portable + std::string(kPortableFirefoxProgram);
    }
    return result;
}

bool Win32Firefox::IsRunning() const {
    // The first class is the one of the Firefox releases the extension was
    // made for; later releases name their windows with the second.
    return ::FindWindowW(L"MozillaUIWindowClass", nullptr) != nullptr ||
           ::FindWindowW(L"MozillaWindowClass", nullptr) != nullptr;
}

bool Win32Firefox::ApplyProxy(std::string_view programPath, std::string_view proxy) {
    if (!proxy.empty() && !IsValidProxyText(proxy)) {
        return false;
    }
    return RunProgramWithParams(programPath, FirefoxSwitchParams(proxy));
}

bool Win32Firefox::InstallExtension(std::string_view programPath, std::string_view packagePath) {
    return RunProgramWithParams(programPath, "\"" + std::string(packagePath) + "\"");
}

}  // namespace cloakline
