#include <gtest/gtest.h>

#include "platform/api/WindowsVersion.h"

namespace cloakline {
namespace {

TEST(LinuxWindowsVersion, ThereIsNoWindowsToDescribe) {
    EXPECT_FALSE(ReadWindowsVersionInfo().HasVersion);
    EXPECT_FALSE(IsWow64());
    EXPECT_FALSE(IsWinVista64());

    TWindowsTypeEx empty;
    GetWindowsTypeEx(empty);
    EXPECT_EQ(empty, TWindowsTypeEx{});

    // Whatever the caller passes stays as it is.
    TWindowsTypeEx filled;
    filled.Product = "Microsoft Windows Vista 64 Edition";
    filled.OSKind = TWindowsType::winVista64;
    filled.ServicePack = " SP1 ";
    const TWindowsTypeEx before = filled;
    GetWindowsTypeEx(filled);
    EXPECT_EQ(filled, before);
}

}  // namespace
}  // namespace cloakline
