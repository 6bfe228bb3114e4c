#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "core/support/WinVersion.h"

namespace cloakline {
namespace {

using Kind = TWindowsType;
constexpr auto kWs = TWindowsProductType::wptWorkstation;
constexpr auto kSrv = TWindowsProductType::wptServer;

// The extended answer of an NT-family system.
TWindowsVersionInfo Nt(std::uint32_t major,
                       std::uint32_t minor,
                       std::uint32_t build,
                       std::uint8_t productType,
                       std::uint16_t suite = 0) {
    TWindowsVersionInfo info;
    info.HasVersion = true;
    info.HasExtended = true;
    info.PlatformId = 2;
    info.MajorVersion = major;
    info.MinorVersion = minor;
    info.BuildNumber = build;
    info.ProductType = productType;
    info.SuiteMask = suite;
    return info;
}

// The plain answer of Windows NT 4.0 before service pack 6, with the registry's product type.
TWindowsVersionInfo NtPlain(std::uint32_t major,
                            std::uint32_t minor,
                            std::uint32_t build,
                            std::string registryProductType) {
    TWindowsVersionInfo info;
    info.HasVersion = true;
    info.PlatformId = 2;
    info.MajorVersion = major;
    info.MinorVersion = minor;
    info.BuildNumber = build;
    info.RegistryProductType = std::move(registryProductType);
    return info;
}

TWindowsVersionInfo Win9x(std::uint32_t minor, std::string csd) {
    TWindowsVersionInfo info;
    info.HasVersion = true;
    info.PlatformId = 1;
    info.MajorVersion = 4;
    info.MinorVersion = minor;
    info.BuildNumber = 0x04000000u | (minor << 16) | 950u;
    info.CSDVersion = std::move(csd);
    return info;
}

TWindowsVersionInfo With(TWindowsVersionInfo info, const std::function<void(TWindowsVersionInfo&)>& change) {
    change(info);
    return info;
}

std::function<void(TWindowsVersionInfo&)> NativeArchitecture(std::uint16_t architecture) {
    return [architecture](TWindowsVersionInfo& i) {
        i.HasNativeSystemInfo = true;
        i.NativeProcessorArchitecture = architecture;
    };
}

TWindowsTypeEx Describe(const TWindowsVersionInfo& info) {
    TWindowsTypeEx rec;
    DescribeWindowsVersion(info, rec);
    return rec;
}

struct Row {
    const char* Name;
    TWindowsVersionInfo Info;
    const char* Product;
    const char* Edition;
    TWindowsProductType AsType;
    TWindowsType OSKind;
    const char* Full;
    bool Server;
};

void ExpectRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        const TWindowsTypeEx rec = Describe(row.Info);
        EXPECT_EQ(rec.Product, row.Product);
        EXPECT_EQ(rec.Kind.AsString, row.Edition);
        EXPECT_EQ(rec.Kind.AsType, row.AsType);
        EXPECT_EQ(rec.OSKind, row.OSKind);
        EXPECT_EQ(rec.Full, row.Full);
        EXPECT_EQ(rec.Server, row.Server);
    }
}

constexpr std::uint16_t kDatacenter = 0x0080;
constexpr std::uint16_t kEnterprise = 0x0002;
constexpr std::uint16_t kBlade = 0x0400;
constexpr std::uint16_t kSmallBusiness = 0x0001;
constexpr std::uint16_t kRestricted = 0x0020;
constexpr std::uint16_t kPersonal = 0x0200;

TEST(WindowsVersionDescription, Win32sAndTheWindows9xRows) {
    TWindowsVersionInfo win32s;
    win32s.HasVersion = true;
    win32s.PlatformId = 0;
    win32s.MajorVersion = 3;
    win32s.MinorVersion = 10;
    win32s.CSDVersion = " B";
    ExpectRows({
        {"Win32s", win32s, "Microsoft Win32s", "", kWs, Kind::win31, "Microsoft Win32s", false},
        {"95", Win9x(0, ""), "Microsoft Windows 95", "", kWs, Kind::win95, "Microsoft Windows 95 ", false},
        {"95 OSR2 (B)", Win9x(0, " B"), "Microsoft Windows 95", "OSR2", kWs, Kind::win95OSR2,
         "Microsoft Windows 95 OSR2", false},
        {"95 OSR2 (C)", Win9x(0, " C"), "Microsoft Windows 95", "OSR2", kWs, Kind::win95OSR2,
         "Microsoft Windows 95 OSR2", false},
        {"95 with A", Win9x(0, " A"), "Microsoft Windows 95", "", kWs, Kind::win95, "Microsoft Windows 95 ",
         false},
        {"95, mark in the first character", Win9x(0, "B"), "Microsoft Windows 95", "", kWs, Kind::win95,
         "Microsoft Windows 95 ", false},
        {"95, lower-case mark", Win9x(0, " b"), "Microsoft Windows 95", "", kWs, Kind::win95,
         "Microsoft Windows 95 ", false},
        {"98", Win9x(10, ""), "Microsoft Windows 98", "", kWs, Kind::win98, "Microsoft Windows 98 ", false},
        {"98 SE", Win9x(10, " A "), "Microsoft Windows 98", "SE", kWs, Kind::win98se,
         "Microsoft Windows 98 SE", false},
        {"98 with B", Win9x(10, " B"), "Microsoft Windows 98", "", kWs, Kind::win98, "Microsoft Windows 98 ",
         false},
        {"Millennium", Win9x(90, " A"), "Microsoft Windows Millennium Edition", "", kWs, Kind::winME,
         "Microsoft Windows Millennium Edition", false},
        {"unknown 9x version", Win9x(50, " A"), "", "", kWs, Kind::winUnknown, "", false},
        {"9x ignores a server product type", With(Win9x(10, ""), [](auto& i) { i.ProductType = 3; }),
         "Microsoft Windows 98", "", kWs, Kind::win98, "Microsoft Windows 98 ", false},
    });
}

TEST(WindowsVersionDescription, Windows9xServicePackIsTheTrimmedSystemText) {
    EXPECT_EQ(Describe(Win9x(0, " B")).ServicePack, "B");
    EXPECT_EQ(Describe(Win9x(10, " A \r\n")).ServicePack, "A");
    EXPECT_EQ(Describe(Win9x(90, "")).ServicePack, "");
    // Win32s reports no service pack at all.
    TWindowsVersionInfo win32s;
    win32s.HasVersion = true;
    win32s.CSDVersion = "Service Pack 1";
    EXPECT_EQ(Describe(win32s).ServicePack, "");
}

TEST(WindowsVersionDescription, NtProductRows) {
    ExpectRows({
        {"Vista 64 through WOW64", With(Nt(6, 0, 6000, 1, kPersonal), [](auto& i) { i.IsWow64 = true; }),
         "Microsoft Windows Vista 64 Edition", "Home Edition", kWs, Kind::winVista64,
         "Microsoft Windows Vista 64 Edition Home Edition", false},
        {"Vista 64 on AMD64", With(Nt(6, 0, 6000, 1), NativeArchitecture(9)),
         "Microsoft Windows Vista 64 Edition", "Professional", kWs, Kind::winVista64,
         "Microsoft Windows Vista 64 Edition Professional", false},
        {"Vista 64 on IA64", With(Nt(6, 0, 6000, 1), NativeArchitecture(6)),
         "Microsoft Windows Vista 64 Edition", "Professional", kWs, Kind::winVista64,
         "Microsoft Windows Vista 64 Edition Professional", false},
        {"Vista 64, IA32 on Win64", With(Nt(6, 0, 6000, 1), NativeArchitecture(10)),
         "Microsoft Windows Vista 64 Edition", "Professional", kWs, Kind::winVista64,
         "Microsoft Windows Vista 64 Edition Professional", false},
        {"Vista on Intel", With(Nt(6, 0, 6000, 1, kPersonal), NativeArchitecture(0)),
         "Microsoft Windows Vista", "Home Edition", kWs, Kind::winVista,
         "Microsoft Windows Vista Home Edition", false},
        {"Vista, AMD64 without GetNativeSystemInfo",
         With(Nt(6, 0, 6000, 1), [](auto& i) { i.NativeProcessorArchitecture = 9; }),
         "Microsoft Windows Vista", "Professional", kWs, Kind::winVista,
         "Microsoft Windows Vista Professional", false},
        {"Longhorn server, 64-bit", With(Nt(6, 0, 6001, 3), NativeArchitecture(9)),
         "Microsoft Windows Server Longhorn", "", kSrv, Kind::winLonghorn,
         "Microsoft Windows Server Longhorn ", true},
        {"Longhorn domain controller", Nt(6, 0, 6001, 2, kEnterprise), "Microsoft Windows Server Longhorn",
         "", kSrv, Kind::winLonghorn, "Microsoft Windows Server Longhorn ", true},
        {"2003 R2", With(Nt(5, 2, 3790, 3, kEnterprise), [](auto& i) { i.ServerR2Metric = 1; }),
         "Microsoft Windows Server 2003 R2", "Enterprise Edition", kSrv, Kind::win2003R2,
         "Microsoft Windows Server 2003 R2 Enterprise Edition", true},
        {"2003 R2 before XP x64",
         With(With(Nt(5, 2, 3790, 1), NativeArchitecture(9)), [](auto& i) { i.ServerR2Metric = 1; }),
         "Microsoft Windows Server 2003 R2", "", kWs, Kind::win2003R2, "Microsoft Windows Server 2003 R2 ",
         false},
        {"XP x64", With(Nt(5, 2, 3790, 1), NativeArchitecture(9)),
         "Microsoft Windows XP Professional x64 Edition", "", kWs, Kind::winXPx64,
         "Microsoft Windows XP Professional x64 Edition ", false},
        {"5.2 workstation, AMD64 without GetNativeSystemInfo",
         With(Nt(5, 2, 3790, 1), [](auto& i) { i.NativeProcessorArchitecture = 9; }),
         "Microsoft Windows Server 2003 family", "Professional", kWs, Kind::win2003,
         "Microsoft Windows Server 2003 family Professional", false},
        {"2003", Nt(5, 2, 3790, 3), "Microsoft Windows Server 2003 family", "Standard Edition", kSrv,
         Kind::win2003, "Microsoft Windows Server 2003 family Standard Edition", true},
        {"XP", Nt(5, 1, 2600, 1), "Microsoft Windows XP", "Professional", kWs, Kind::winXP,
         "Microsoft Windows XP Professional", false},
        {"XP Home", Nt(5, 1, 2600, 1, kPersonal), "Microsoft Windows XP", "Home Edition", kWs, Kind::winXP,
         "Microsoft Windows XP Home Edition", false},
        {"XP, AMD64 not read for 5.1", With(Nt(5, 1, 2600, 1), NativeArchitecture(9)), "Microsoft Windows XP",
         "Professional", kWs, Kind::winXP, "Microsoft Windows XP Professional", false},
        {"2000", Nt(5, 0, 2195, 1), "Microsoft Windows 2000", "Professional", kWs, Kind::win2000,
         "Microsoft Windows 2000 Professional", false},
        {"NT 4.0 service pack 6", Nt(4, 0, 1381, 1), "Microsoft Windows NT", "Workstation 4.0", kWs,
         Kind::winNT, "Microsoft Windows NT Workstation 4.0", false},
        {"NT 3.51", NtPlain(3, 51, 1057, "WinNT"), "Microsoft Windows NT", "Workstation 3.51 ", kWs,
         Kind::winNT, "Microsoft Windows NT Workstation 3.51 ", false},
        {"7", Nt(6, 1, 7601, 1), "", "Professional", kWs, Kind::winUnknown, " Professional", false},
        {"10 Home", With(Nt(10, 0, 19045, 1, kPersonal), NativeArchitecture(9)), "", "Home Edition", kWs,
         Kind::winUnknown, " Home Edition", false},
        {"Server 2008 R2", Nt(6, 1, 7601, 3, kEnterprise), "", "", kSrv, Kind::winUnknown, " ", true},
        {"6.0 with no product type", Nt(6, 0, 6000, 0), "Microsoft Windows Server Longhorn", "", kWs,
         Kind::winLonghorn, "Microsoft Windows Server Longhorn ", false},
    });
}

TEST(WindowsVersionDescription, ServerEditionRows) {
    const auto ia64 = NativeArchitecture(6);
    const auto amd64 = NativeArchitecture(9);
    const char* k2003 = "Microsoft Windows Server 2003 family";
    const char* k2000 = "Microsoft Windows Server 2000 family";
    ExpectRows({
        {"IA64 datacenter", With(Nt(5, 2, 3790, 3, kDatacenter | kEnterprise), ia64), k2003,
         "Datacenter Edition for Itanium-based Systems", kSrv, Kind::win2003,
         "Microsoft Windows Server 2003 family Datacenter Edition for Itanium-based Systems", true},
        {"IA64 enterprise", With(Nt(5, 2, 3790, 3, kEnterprise), ia64), k2003,
         "Enterprise Edition for Itanium-based Systems", kSrv, Kind::win2003,
         "Microsoft Windows Server 2003 family Enterprise Edition for Itanium-based Systems", true},
        {"IA64 other", With(Nt(5, 2, 3790, 3, kBlade), ia64), k2003, "", kSrv, Kind::win2003,
         "Microsoft Windows Server 2003 family ", true},
        {"AMD64 datacenter", With(Nt(5, 2, 3790, 3, kDatacenter | kEnterprise), amd64), k2003,
         "Datacenter x64 Edition", kSrv, Kind::win2003,
         "Microsoft Windows Server 2003 family Datacenter x64 Edition", true},
        {"AMD64 enterprise", With(Nt(5, 2, 3790, 2, kEnterprise), amd64), k2003, "Enterprise x64 Edition",
         kSrv, Kind::win2003, "Microsoft Windows Server 2003 family Enterprise x64 Edition", true},
        {"AMD64 standard", With(Nt(5, 2, 3790, 3, kBlade), amd64), k2003, "Standard x64 Edition", kSrv,
         Kind::win2003, "Microsoft Windows Server 2003 family Standard x64 Edition", true},
        {"datacenter", Nt(5, 2, 3790, 3, kDatacenter | kEnterprise | kBlade), k2003, "Datacenter Edition",
         kSrv, Kind::win2003, "Microsoft Windows Server 2003 family Datacenter Edition", true},
        {"enterprise", Nt(5, 2, 3790, 3, kEnterprise | kBlade), k2003, "Enterprise Edition", kSrv,
         Kind::win2003, "Microsoft Windows Server 2003 family Enterprise Edition", true},
        {"web", With(Nt(5, 2, 3790, 2, kBlade | kSmallBusiness), NativeArchitecture(0)), k2003, "Web Edition",
         kSrv, Kind::win2003, "Microsoft Windows Server 2003 family Web Edition", true},
        {"small business", Nt(5, 2, 3790, 3, kSmallBusiness | kRestricted), k2003, "Small Business Server",
         kSrv, Kind::win2003, "Microsoft Windows Server 2003 family Small Business Server", true},
        {"small business restricted", Nt(5, 2, 3790, 3, kRestricted), k2003,
         "Small Business Server ( Restricted )", kSrv, Kind::win2003,
         "Microsoft Windows Server 2003 family Small Business Server ( Restricted )", true},
        {"standard", Nt(5, 2, 3790, 3, kPersonal), k2003, "Standard Edition", kSrv, Kind::win2003,
         "Microsoft Windows Server 2003 family Standard Edition", true},
        {"2000 datacenter", Nt(5, 0, 2195, 3, kDatacenter | kEnterprise), k2000, "Datacenter Server", kSrv,
         Kind::win2000, "Microsoft Windows Server 2000 family Datacenter Server", true},
        {"2000 advanced", Nt(5, 0, 2195, 3, kEnterprise), k2000, "Advanced Server", kSrv, Kind::win2000,
         "Microsoft Windows Server 2000 family Advanced Server", true},
        {"2000 server", Nt(5, 0, 2195, 2), k2000, "Server", kSrv, Kind::win2000,
         "Microsoft Windows Server 2000 family Server", true},
        {"NT 4.0 enterprise", Nt(4, 0, 1381, 3, kEnterprise), "Microsoft Windows NT",
         "Server 4.0 Enterprise Edition", kSrv, Kind::winNT,
         "Microsoft Windows NT Server 4.0 Enterprise Edition", true},
        {"NT 4.0 server", Nt(4, 0, 1381, 2, kDatacenter), "Microsoft Windows NT", "Server 4.0", kSrv,
         Kind::winNT, "Microsoft Windows NT Server 4.0", true},
        {"no product type", Nt(5, 1, 2600, 0, kPersonal), "Microsoft Windows XP", "", kWs, Kind::winXP,
         "Microsoft Windows XP ", false},
    });
}

TEST(WindowsVersionDescription, EditionFromTheRegistryWithoutExtendedInformation) {
    ExpectRows({
        {"WINNT", NtPlain(4, 0, 1381, "WINNT"), "Microsoft Windows NT", "Workstation 4.0 ", kWs, Kind::winNT,
         "Microsoft Windows NT Workstation 4.0 ", false},
        {"LanmanNT", NtPlain(4, 0, 1381, "LanmanNT"), "Microsoft Windows NT", "Server 4.0 ", kSrv,
         Kind::winNT, "Microsoft Windows NT Server 4.0 ", true},
        {"ServerNT", NtPlain(4, 0, 1381, "ServerNT"), "Microsoft Windows NT", "Advanced Server 4.0 ", kSrv,
         Kind::winNT, "Microsoft Windows NT Advanced Server 4.0 ", true},
        {"unreadable", NtPlain(4, 0, 1381, ""), "Microsoft Windows NT", " 4.0 ", kWs, Kind::winNT,
         "Microsoft Windows NT  4.0 ", false},
        {"unknown", NtPlain(4, 0, 1381, "Terminal"), "Microsoft Windows NT", " 4.0 ", kWs, Kind::winNT,
         "Microsoft Windows NT  4.0 ", false},
        // The extended fields are not there to be read, whatever the record holds.
        {"extended fields ignored",
         With(NtPlain(4, 0, 1381, "WINNT"),
              [](auto& i) {
                  i.ProductType = 3;
                  i.SuiteMask = kEnterprise;
              }),
         "Microsoft Windows NT", "Workstation 4.0 ", kWs, Kind::winNT,
         "Microsoft Windows NT Workstation 4.0 ", false},
    });
    const TWindowsTypeEx rec = Describe(With(NtPlain(4, 0, 1381, "WINNT"), [](auto& i) {
        i.ServicePackMajor = 5;
        i.ServicePackMinor = 1;
    }));
    EXPECT_EQ(rec.ServicePackVersion.AsString, "0.0");
    EXPECT_EQ(rec.ServicePackVersion.Major, 0);
}

TEST(WindowsVersionDescription, NtServicePackText) {
    struct Case {
        const char* Name;
        TWindowsVersionInfo Info;
        const char* ServicePack;
    };
    const auto csd = [](const char* text, bool hotfix = false) {
        return [text, hotfix](TWindowsVersionInfo& i) {
            i.CSDVersion = text;
            i.HasHotfixQ246009 = hotfix;
        };
    };
    const std::vector<Case> cases = {
        {"XP SP3", With(Nt(5, 1, 2600, 1), csd("Service Pack 3")), "Service Pack 3 (Build 2600)"},
        {"NT 4.0 SP6a", With(Nt(4, 0, 1381, 1), csd("Service Pack 6", true)), "Service Pack 6a (Build 1381)"},
        {"NT 4.0 SP6a, other case", With(NtPlain(4, 0, 1381, "WINNT"), csd("SERVICE PACK 6", true)),
         "Service Pack 6a (Build 1381)"},
        {"NT 4.0 SP6 without the hotfix", With(Nt(4, 0, 1381, 1), csd("Service Pack 6")),
         "Service Pack 6 (Build 1381)"},
        {"NT 4.0 SP5 with the hotfix", With(Nt(4, 0, 1381, 1), csd("Service Pack 5", true)),
         "Service Pack 5 (Build 1381)"},
        {"2000 named SP6 with the hotfix", With(Nt(5, 0, 2195, 1), csd("Service Pack 6", true)),
         "Service Pack 6 (Build 2195)"},
        {"no service pack", Nt(5, 1, 2600, 1), "(Build 2600)"},
        {"build's low 16 bits", With(Nt(5, 1, 0x0A280105u, 1), csd("Service Pack 1")),
         "Service Pack 1 (Build 261)"},
        {"spaces around the system text", With(Nt(5, 1, 2600, 1), csd("  Service Pack 2 ")),
         "Service Pack 2  (Build 2600)"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        EXPECT_EQ(Describe(c.Info).ServicePack, c.ServicePack);
    }
}

TEST(WindowsVersionDescription, VersionNumbersAndBuild) {
    TWindowsVersionInfo xp = Nt(5, 1, 2600, 1);
    xp.CSDVersion = "Service Pack 3";
    xp.ServicePackMajor = 3;
    const TWindowsTypeEx rec = Describe(xp);
    EXPECT_EQ(rec.Full, "Microsoft Windows XP Professional");
    EXPECT_EQ(rec.ServicePack, "Service Pack 3 (Build 2600)");
    EXPECT_EQ(rec.OSVersion, (TWindowsProductVersion{"5.1", 5, 1}));
    EXPECT_EQ(rec.ServicePackVersion, (TWindowsProductVersion{"3.0", 3, 0}));
    EXPECT_EQ(rec.OSBuild, 2600);

    const TWindowsTypeEx me = Describe(Win9x(90, ""));
    EXPECT_EQ(me.OSVersion, (TWindowsProductVersion{"4.90", 4, 90}));
    EXPECT_EQ(me.ServicePackVersion, (TWindowsProductVersion{"0.0", 0, 0}));
    // The build as the system reports it, high word included.
    EXPECT_EQ(me.OSBuild, 0x045A03B6);

    TWindowsVersionInfo other;
    other.HasVersion = true;
    other.PlatformId = 3;
    other.MajorVersion = 5;
    other.MinorVersion = 2;
    const TWindowsTypeEx unknown = Describe(other);
    EXPECT_EQ(unknown.OSKind, TWindowsType::winUnknown);
    EXPECT_EQ(unknown.Product, "");
    EXPECT_EQ(unknown.OSVersion.AsString, "5.2");
}

TEST(WindowsVersionDescription, TheVistaEdgeCases) {
    const TWindowsVersionInfo homePremium = Nt(6, 0, 6002, 1, kPersonal);
    const TWindowsTypeEx on32 = Describe(With(homePremium, NativeArchitecture(0)));
    EXPECT_EQ(on32.Product, "Microsoft Windows Vista");
    EXPECT_EQ(on32.Kind.AsString, "Home Edition");
    EXPECT_NE(on32.OSKind, TWindowsType::winVista64);
    const TWindowsTypeEx on64 = Describe(With(homePremium, NativeArchitecture(9)));
    EXPECT_EQ(on64.Product, "Microsoft Windows Vista 64 Edition");
    EXPECT_EQ(on64.Kind.AsString, "Home Edition");
    EXPECT_EQ(on64.OSKind, TWindowsType::winVista64);
}

TEST(WindowsVersionDescription, NoAnswerLeavesTheRecordAsItWas) {
    TWindowsTypeEx rec;
    rec.Full = "kept";
    rec.OSKind = TWindowsType::winXP;
    rec.Server = true;
    const TWindowsTypeEx before = rec;
    TWindowsVersionInfo none = Nt(5, 1, 2600, 1);
    none.HasVersion = false;
    DescribeWindowsVersion(none, rec);
    EXPECT_EQ(rec, before);

    // An answer, by contrast, resets the server flag that the caller passed.
    DescribeWindowsVersion(Win9x(10, ""), rec);
    EXPECT_FALSE(rec.Server);
}

TEST(WindowsVersionDescription, HasSuiteBit) {
    EXPECT_TRUE(HasSuiteBit(0x0001, 0));
    EXPECT_TRUE(HasSuiteBit(0x0200, 9));
    EXPECT_FALSE(HasSuiteBit(0x0200, 8));
    EXPECT_FALSE(HasSuiteBit(0x0200, 10));
    EXPECT_TRUE(HasSuiteBit(0x80000000u, 31));
    EXPECT_FALSE(HasSuiteBit(0xFFFFFFFFu, 32));
    EXPECT_FALSE(HasSuiteBit(0xFFFFFFFFu, -1));
}

}  // namespace
}  // namespace cloakline
