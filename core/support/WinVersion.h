#pragma once

#include <cstdint>
#include <string>

namespace cloakline {

// The running Windows described by product, edition, version, build and
// service pack. The description is worked out here from what the system
// reports; reading the system is the platform backend's part.

enum class TWindowsType {
    winUnknown,
    win31,
    win95,
    win95OSR2,
    winNT,
    win98,
    win98se,
    winME,
    win2000,
    winXP,
    winXPx64,
    win2003,
    win2003R2,
    winVista,
    winVista64,
    winLonghorn,
};

enum class TWindowsProductType { wptWorkstation = 0, wptServer = 1 };

struct TWindowsProductKind {
    std::string AsString;
    TWindowsProductType AsType = TWindowsProductType::wptWorkstation;
    friend bool operator==(const TWindowsProductKind&, const TWindowsProductKind&) = default;
};

struct TWindowsProductVersion {
    std::string AsString;  // "major.minor"
    std::int32_t Major = 0;
    std::int32_t Minor = 0;
    friend bool operator==(const TWindowsProductVersion&, const TWindowsProductVersion&) = default;
};

struct TWindowsTypeEx {
    std::string Full;  // product and edition
    std::string Product;
    TWindowsProductKind Kind;
    TWindowsType OSKind = TWindowsType::winUnknown;
    TWindowsProductVersion OSVersion;
    std::int32_t OSBuild = 0;
    bool Server = false;  // a server or a domain controller
    std::string ServicePack;
    TWindowsProductVersion ServicePackVersion;
    friend bool operator==(const TWindowsTypeEx&, const TWindowsTypeEx&) = default;
};

// The published Windows values the description tests. Named apart from the
// SDK's macros so that this header can sit beside <windows.h>.
inline constexpr std::uint32_t kVerPlatformWin32s = 0;
inline constexpr std::uint32_t kVerPlatformWin32Windows = 1;
inline constexpr std::uint32_t kVerPlatformWin32NT = 2;
inline constexpr std::uint8_t kVerNtWorkstation = 1;
inline constexpr std::uint8_t kVerNtDomainController = 2;
inline constexpr std::uint8_t kVerNtServer = 3;
inline constexpr std::uint16_t kVerSuiteSmallBusiness = 0x0001;
inline constexpr std::uint16_t kVerSuiteEnterprise = 0x0002;
inline constexpr std::uint16_t kVerSuiteSmallBusinessRestricted = 0x0020;
inline constexpr std::uint16_t kVerSuiteDatacenter = 0x0080;
inline constexpr std::uint16_t kVerSuitePersonal = 0x0200;
inline constexpr std::uint16_t kVerSuiteBlade = 0x0400;
inline constexpr std::uint16_t kProcessorArchitectureIntel = 0;
inline constexpr std::uint16_t kProcessorArchitectureIa64 = 6;
inline constexpr std::uint16_t kProcessorArchitectureAmd64 = 9;
inline constexpr std::uint16_t kProcessorArchitectureIa32OnWin64 = 10;
inline constexpr int kSmServerR2 = 89;

// What the system answers: GetVersionExW, IsWow64Process,
// GetNativeSystemInfo, GetSystemMetrics(SM_SERVERR2) and two registry reads.
struct TWindowsVersionInfo {
    bool HasVersion = false;   // GetVersionExW answered at all
    bool HasExtended = false;  // and with the extended structure
    std::uint32_t MajorVersion = 0;
    std::uint32_t MinorVersion = 0;
    std::uint32_t BuildNumber = 0;
    std::uint32_t PlatformId = 0;
    std::string CSDVersion;  // the service-pack text
    // Meaningful only with HasExtended.
    std::uint16_t ServicePackMajor = 0;
    std::uint16_t ServicePackMinor = 0;
    std::uint16_t SuiteMask = 0;
    std::uint8_t ProductType = 0;

    bool IsWow64 = false;
    bool HasNativeSystemInfo = false;  // GetNativeSystemInfo exists
    std::uint16_t NativeProcessorArchitecture = kProcessorArchitectureIntel;
    std::int32_t ServerR2Metric = 0;  // GetSystemMetrics(SM_SERVERR2)
    // "ProductType" of HKLM\SYSTEM\CurrentControlSet\Control\ProductOptions; empty when unreadable.
    std::string RegistryProductType;
    // HKLM\SOFTWARE\Microsoft\Windows NT\CurrentVersion\Hotfix\Q246009 exists.
    bool HasHotfixQ246009 = false;
};

// Fills rec, which the caller passes empty, from the system's answers; leaves
// it unchanged when the system gave no version.
void DescribeWindowsVersion(const TWindowsVersionInfo& info, TWindowsTypeEx& rec);

// Bit n (0 to 31) of the suite mask is set; false for any other n.
bool HasSuiteBit(std::uint32_t mask, int n);

}  // namespace cloakline
