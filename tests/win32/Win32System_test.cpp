#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "core/support/WinVersion.h"
#include "platform/api/SystemVersion.h"
#include "platform/api/WindowsVersion.h"
#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Clock.h"
#include "platform/win32/Win32SystemInfo.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {
namespace {

// The version as the kernel reports it, past any compatibility layer.
OSVERSIONINFOEXW KernelVersion() {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof version;
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOEXW*);
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion")));
    if (rtlGetVersion != nullptr) {
        rtlGetVersion(&version);
    }
    return version;
}

TEST(Win32WindowsVersion, TheRecordDescribesTheRunningSystem) {
    const TWindowsVersionInfo info = ReadWindowsVersionInfo();
    ASSERT_TRUE(info.HasVersion);
    EXPECT_TRUE(info.HasExtended);
    EXPECT_EQ(info.PlatformId, kVerPlatformWin32NT);
    const OSVERSIONINFOEXW kernel = KernelVersion();
    ASSERT_NE(kernel.dwMajorVersion, 0u);
    EXPECT_EQ(info.MajorVersion, kernel.dwMajorVersion);
    EXPECT_EQ(info.MinorVersion, kernel.dwMinorVersion);
    EXPECT_EQ(info.BuildNumber, kernel.dwBuildNumber);
    EXPECT_EQ(info.ProductType, kernel.wProductType);
    EXPECT_TRUE(info.HasNativeSystemInfo);
    if (sizeof(void*) == 8) {
        EXPECT_EQ(info.NativeProcessorArchitecture, kProcessorArchitectureAmd64);
        EXPECT_FALSE(info.IsWow64);
    }
    EXPECT_EQ(info.IsWow64, IsWow64());

    TWindowsTypeEx rec;
    GetWindowsTypeEx(rec);
    EXPECT_EQ(rec.OSVersion.Major, static_cast<std::int32_t>(kernel.dwMajorVersion));
    EXPECT_EQ(rec.OSVersion.AsString,
              std::to_string(kernel.dwMajorVersion) + "." + std::to_string(kernel.dwMinorVersion));
    EXPECT_EQ(rec.OSBuild, static_cast<std::int32_t>(kernel.dwBuildNumber));
    EXPECT_EQ(rec.Server, kernel.wProductType != kVerNtWorkstation);
    // The service-pack text ends trimmed, with the build in it.
    EXPECT_NE(rec.ServicePack.find("(Build " + std::to_string(kernel.dwBuildNumber & 0xFFFF) + ")"),
              std::string::npos);
    EXPECT_FALSE(rec.ServicePack.ends_with(" ") || rec.ServicePack.ends_with("\n"));
    if (kernel.dwMajorVersion > 6 || (kernel.dwMajorVersion == 6 && kernel.dwMinorVersion > 0)) {
        EXPECT_EQ(rec.OSKind, TWindowsType::winUnknown);
        EXPECT_EQ(rec.Product, "");
        EXPECT_FALSE(IsWinVista64());
    }
    const TSystemVersion told = ReadSystemVersion();
    EXPECT_EQ(told.Major, kernel.dwMajorVersion);
    EXPECT_EQ(told.Minor, kernel.dwMinorVersion);
    EXPECT_EQ(told.ServicePack, Narrow(kernel.szCSDVersion));
}

// tests/win32/wine-run.sh starts Wine with LANG=C.UTF-8, which Wine takes
// for English (United States). Windows names the
// language "English (United States)", Wine only "English".
TEST(Win32SystemInfo, TheDefaultLanguageIsNamedByTheSystem) {
    Win32SystemInfo system;
    ASSERT_EQ(system.GetSystemLanguageId(), 0x0409);
    const std::string name = system.GetSystemLanguageName();
    EXPECT_TRUE(name == "English (United States)" || name == "English") << name;
    EXPECT_EQ(name.find('\0'), std::string::npos);
    EXPECT_EQ(system.DecimalSeparator(), '.');
}

TEST(Win32Clock, NowIsTheLocalCalendarTime) {
    Win32Clock clock;
    SYSTEMTIME before{};
    ::GetLocalTime(&before);
    const TDateTime now = clock.Now();
    // Days since 1899-12-30: whole days of the local date, then the time of day.
    const int days = static_cast<int>(std::floor(now));
    FILETIME counted{};
    SYSTEMTIME midnight = before;
    midnight.wHour = midnight.wMinute = midnight.wSecond = midnight.wMilliseconds = 0;
    ASSERT_TRUE(::SystemTimeToFileTime(&midnight, &counted));
    const auto ticks = (static_cast<std::uint64_t>(counted.dwHighDateTime) << 32) | counted.dwLowDateTime;
    const auto expectedDays = static_cast<int>(ticks / 864000000000ull) - 109205;
    EXPECT_TRUE(days == expectedDays || days == expectedDays + 1) << days << " vs " << expectedDays;
    // The same counter as the system's, which wraps at 2^32.
    const std::uint32_t system = ::GetTickCount();
    EXPECT_LT(clock.TickCount() - system, 60000u);
}

}  // namespace
}  // namespace cloakline
