#include <gtest/gtest.h>

#include "platform/linux/NativePath.h"

namespace cloakline {
namespace {

TEST(NativePath, RootedProgramPathBecomesAbsolutePosixPath) {
    EXPECT_EQ(ToNativePath("\\opt\\app\\x"), "/opt/app/x");
    EXPECT_EQ(ToNativePath("\\opt\\app\\"), "/opt/app/");
    EXPECT_EQ(ToNativePath("res\\skins\\blue.skn"), "res/skins/blue.skn");
    EXPECT_EQ(ToNativePath("\\mixed/sep\\x"), "/mixed/sep/x");
    EXPECT_EQ(ToNativePath(""), "");
}

TEST(NativePath, NativePathBecomesProgramForm) {
    EXPECT_EQ(ToProgramPath("/opt/app/x"), "\\opt\\app\\x");
    EXPECT_EQ(ToProgramPath("/tmp/"), "\\tmp\\");
    EXPECT_EQ(ToProgramPath("relative/name"), "relative\\name");
    EXPECT_EQ(ToProgramPath(""), "");
}

TEST(NativePath, RoundTripKeepsEveryOtherByte) {
    const std::string native = "/home/j\xC3\xBCrgen/Daten mit Leerzeichen/a.b;c$(d)";
    EXPECT_EQ(ToNativePath(ToProgramPath(native)), native);
    EXPECT_EQ(ToProgramPath(native).find('/'), std::string::npos);
}

}  // namespace
}  // namespace cloakline
