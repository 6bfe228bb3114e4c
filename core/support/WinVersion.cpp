#include "core/support/WinVersion.h"

#include <optional>
#include <string_view>

#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace {

TWindowsProductVersion MakeVersion(std::int32_t major, std::int32_t minor) {
    return {std::to_string(major) + "." + std::to_string(minor), major, minor};
}

bool Has(std::uint16_t suite, std::uint16_t flag) {
    return (suite & flag) != 0;
}

// The second character of the service-pack text, which marks the later
// releases of Windows 95 and 98; 0 when the text is shorter.
char16_t SecondCharacter(std::string_view text) {
    const std::u16string units = Utf8ToUtf16(text);
    return units.size() > 1 ? units[1] : u'\0';
}

void DescribeWin9x(const TWindowsVersionInfo& info, TWindowsTypeEx& rec) {
    rec.Kind.AsType = TWindowsProductType::wptWorkstation;
    rec.ServicePack = info.CSDVersion;
    const char16_t mark = SecondCharacter(info.CSDVersion);
    if (info.MajorVersion == 4 && info.MinorVersion == 0) {
        rec.Product = "Microsoft Windows 95";
        rec.OSKind = TWindowsType::win95;
        if (mark == u'B' || mark == u'C') {
            rec.Kind.AsString = "OSR2";
            rec.OSKind = TWindowsType::win95OSR2;
        }
        rec.Full = rec.Product + " " + rec.Kind.AsString;
    } else if (info.MajorVersion == 4 && info.MinorVersion == 10) {
        rec.Product = "Microsoft Windows 98";
        rec.OSKind = TWindowsType::win98;
        if (mark == u'A') {
            rec.Kind.AsString = "SE";
            rec.OSKind = TWindowsType::win98se;
        }
        rec.Full = rec.Product + " " + rec.Kind.AsString;
    } else if (info.MajorVersion == 4 && info.MinorVersion == 90) {
        rec.Product = "Microsoft Windows Millennium Edition";
        rec.OSKind = TWindowsType::winME;
        rec.Full = rec.Product;
    }
}

bool Is64BitArchitecture(std::uint16_t architecture) {
    return architecture == kProcessorArchitectureAmd64 || architecture == kProcessorArchitectureIa64 ||
           architecture == kProcessorArchitectureIa32OnWin64;
}

std::string ServerEdition(const TWindowsVersionInfo& info,
                          std::optional<std::uint16_t> architecture,
                          TWindowsTypeEx& rec) {
    const std::uint32_t major = info.MajorVersion;
    const std::uint32_t minor = info.MinorVersion;
    const std::uint16_t suite = info.SuiteMask;
    if (major == 5 && minor == 2) {
        if (architecture == kProcessorArchitectureIa64) {
            if (Has(suite, kVerSuiteDatacenter)) {
                return "Datacenter Edition for Itanium-based Systems";
            }
            if (Has(suite, kVerSuiteEnterprise)) {
                return "Enterprise Edition for Itanium-based Systems";
            }
            return {};
        }
        if (architecture == kProcessorArchitectureAmd64) {
            if (Has(suite, kVerSuiteDatacenter)) {
                return "Datacenter x64 Edition";
            }
            if (Has(suite, kVerSuiteEnterprise)) {
                return "Enterprise x64 Edition";
            }
            return "Standard x64 Edition";
        }
        if (Has(suite, kVerSuiteDatacenter)) {
            return "Datacenter Edition";
        }
        if (Has(suite, kVerSuiteEnterprise)) {
            return "Enterprise Edition";
        }
        if (Has(suite, kVerSuiteBlade)) {
            return "Web Edition";
        }
        if (Has(suite, kVerSuiteSmallBusiness)) {
            return "Small Business Server";
        }
        if (Has(suite, kVerSuiteSmallBusinessRestricted)) {
            return "Small Business Server ( Restricted )";
        }
        return "Standard Edition";
    }
    if (major == 5 && minor == 0) {
        rec.Product = "Microsoft Windows Server 2000 family";
        if (Has(suite, kVerSuiteDatacenter)) {
            return "Datacenter Server";
        }
        if (Has(suite, kVerSuiteEnterprise)) {
            return "Advanced Server";
        }
        return "Server";
    }
    // These names belong to Windows NT 4.0; a later server that no rule above
    // knows gets no edition rather than a wrong version number.
    if (major == 4) {
        return Has(suite, kVerSuiteEnterprise) ? "Server 4.0 Enterprise Edition" : "Server 4.0";
    }
    return {};
}

// Windows NT 4.0 before service pack 6 names its edition only in the registry.
void EditionFromRegistry(const TWindowsVersionInfo& info, TWindowsTypeEx& rec) {
    const std::string_view productType = info.RegistryProductType;
    std::string edition;
    if (SameTextAscii(productType, "WINNT")) {
        edition = "Workstation";
    } else if (SameTextAscii(productType, "LANMANNT") || SameTextAscii(productType, "SERVERNT")) {
        edition = SameTextAscii(productType, "LANMANNT") ? "Server" : "Advanced Server";
        rec.Server = true;
        rec.Kind.AsType = TWindowsProductType::wptServer;
    }
    rec.Kind.AsString =
        edition + " " + std::to_string(info.MajorVersion) + "." + std::to_string(info.MinorVersion) + " ";
}

void DescribeWinNT(const TWindowsVersionInfo& info, TWindowsTypeEx& rec) {
    const std::uint32_t major = info.MajorVersion;
    const std::uint32_t minor = info.MinorVersion;
    const std::uint8_t productType = info.HasExtended ? info.ProductType : 0;
    const bool workstation = productType == kVerNtWorkstation;
    // Only Windows Server 2003 and XP x64 tell their editions apart by processor.
    std::optional<std::uint16_t> architecture;
    if (major == 5 && minor == 2 && info.HasNativeSystemInfo) {
        architecture = info.NativeProcessorArchitecture;
    }
    const bool amd64 = architecture == kProcessorArchitectureAmd64;

    if (major == 6 && minor == 0) {
        const bool is64 = info.IsWow64 ||
                          (info.HasNativeSystemInfo && Is64BitArchitecture(info.NativeProcessorArchitecture));
        if (workstation && is64) {
            rec.Product = "Microsoft Windows Vista 64 Edition";
            rec.OSKind = TWindowsType::winVista64;
        } else if (workstation) {
            rec.Product = "Microsoft Windows Vista";
            rec.OSKind = TWindowsType::winVista;
        } else {
            rec.Product = "Microsoft Windows Server Longhorn";
            rec.OSKind = TWindowsType::winLonghorn;
        }
    } else if (major == 5 && minor == 2) {
        if (info.ServerR2Metric != 0) {
            rec.Product = "Microsoft Windows Server 2003 R2";
            rec.OSKind = TWindowsType::win2003R2;
        } else if (workstation && amd64) {
            rec.Product = "Microsoft Windows XP Professional x64 Edition";
            rec.OSKind = TWindowsType::winXPx64;
        } else {
            rec.Product = "Microsoft Windows Server 2003 family";
            rec.OSKind = TWindowsType::win2003;
        }
    } else if (major == 5 && minor == 1) {
        rec.Product = "Microsoft Windows XP";
        rec.OSKind = TWindowsType::winXP;
    } else if (major == 5 && minor == 0) {
        rec.Product = "Microsoft Windows 2000";
        rec.OSKind = TWindowsType::win2000;
    } else if (major <= 4) {
        rec.Product = "Microsoft Windows NT";
        rec.OSKind = TWindowsType::winNT;
    }

    if (info.HasExtended) {
        if (workstation && !amd64) {
            rec.Kind.AsType = TWindowsProductType::wptWorkstation;
            if (major == 4) {
                rec.Kind.AsString = "Workstation 4.0";
            } else if (Has(info.SuiteMask, kVerSuitePersonal)) {
                rec.Kind.AsString = "Home Edition";
            } else {
                rec.Kind.AsString = "Professional";
            }
        } else if (productType == kVerNtServer || productType == kVerNtDomainController) {
            rec.Server = true;
            rec.Kind.AsType = TWindowsProductType::wptServer;
            rec.Kind.AsString = ServerEdition(info, architecture, rec);
        }
    } else {
        EditionFromRegistry(info, rec);
    }

    const std::string build = std::to_string(info.BuildNumber & 0xFFFFu);
    if (major == 4 && SameTextAscii(info.CSDVersion, "Service Pack 6") && info.HasHotfixQ246009) {
        rec.ServicePack = "Service Pack 6a (Build " + build + ") \r\n";
    } else {
        rec.ServicePack = info.CSDVersion + " (Build " + build + ") \r\n";
    }
    rec.Full = rec.Product + " " + rec.Kind.AsString;
}

}  // namespace

void DescribeWindowsVersion(const TWindowsVersionInfo& info, TWindowsTypeEx& rec) {
    if (!info.HasVersion) {
        return;
    }
    rec.OSVersion = MakeVersion(static_cast<std::int32_t>(info.MajorVersion),
                                static_cast<std::int32_t>(info.MinorVersion));
    rec.ServicePackVersion =
        info.HasExtended ? MakeVersion(info.ServicePackMajor, info.ServicePackMinor) : MakeVersion(0, 0);
    rec.Server = false;
    rec.OSBuild = static_cast<std::int32_t>(info.BuildNumber);

    switch (info.PlatformId) {
        case kVerPlatformWin32s:
            rec.Product = "Microsoft Win32s";
            rec.Kind.AsType = TWindowsProductType::wptWorkstation;
            rec.Full = rec.Product;
            rec.OSKind = TWindowsType::win31;
            break;
        case kVerPlatformWin32Windows:
            DescribeWin9x(info, rec);
            break;
        case kVerPlatformWin32NT:
            DescribeWinNT(info, rec);
            break;
        default:
            break;
    }
    rec.ServicePack = std::string(TrimText(rec.ServicePack));
}

bool HasSuiteBit(std::uint32_t mask, int n) {
    return n >= 0 && n < 32 && ((mask >> n) & 1u) != 0;
}

}  // namespace cloakline
