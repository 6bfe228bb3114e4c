#include "platform/api/WindowsVersion.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);
using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);

// Looked up at run time: the oldest systems the program knows lack them.
template <typename Fn>
Fn Kernel32Function(const char* name) {
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(kernel, name)));
}

bool ReadVersion(TWindowsVersionInfo& info) {
    OSVERSIONINFOEXW extended{};
    extended.dwOSVersionInfoSize = sizeof extended;
    if (::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
        info.HasExtended = true;
        info.ServicePackMajor = extended.wServicePackMajor;
        info.ServicePackMinor = extended.wServicePackMinor;
        info.SuiteMask = extended.wSuiteMask;
        info.ProductType = extended.wProductType;
    } else {
        extended = {};
        extended.dwOSVersionInfoSize = sizeof(OSVERSIONINFOW);
        if (!::GetVersionExW(reinterpret_cast<OSVERSIONINFOW*>(&extended))) {
            return false;
        }
    }
    info.HasVersion = true;
    info.MajorVersion = extended.dwMajorVersion;
    info.MinorVersion = extended.dwMinorVersion;
    info.BuildNumber = extended.dwBuildNumber;
    info.PlatformId = extended.dwPlatformId;
    info.CSDVersion = Narrow(std::wstring_view(extended.szCSDVersion, ::wcsnlen(extended.szCSDVersion, 128)));
    return true;
}

}  // namespace

bool IsWow64() {
    const auto isWow64Process = Kernel32Function<IsWow64ProcessFn>("IsWow64Process");
    BOOL wow64 = FALSE;
    return isWow64Process != nullptr && isWow64Process(::GetCurrentProcess(), &wow64) && wow64;
}

TWindowsVersionInfo ReadWindowsVersionInfo() {
    TWindowsVersionInfo info;
    if (!ReadVersion(info)) {
        return info;
    }
    info.IsWow64 = IsWow64();
    if (const auto nativeInfo = Kernel32Function<GetNativeSystemInfoFn>("GetNativeSystemInfo")) {
        SYSTEM_INFO system{};
        nativeInfo(&system);
        info.HasNativeSystemInfo = true;
        info.NativeProcessorArchitecture = system.wProcessorArchitecture;
    }
    info.ServerR2Metric = ::GetSystemMetrics(kSmServerR2);
    info.RegistryProductType = RegReadString(
        HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\ProductOptions", "ProductType", "");
    info.HasHotfixQ246009 =
        RegKeyExists(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Hotfix\\Q246009");
    return info;
}

}  // namespace cloakline
