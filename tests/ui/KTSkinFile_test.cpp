#include "ui/KTSkinFile.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace cloakline::test {
namespace {

TSkinBundle Sample() {
    TSkinBundle bundle;
    bundle.StyleSheet = "QPushButton {\n    color: #ff0000;\n}\n/* \xC3\xA9t\xC3\xA9 */\n\n";
    bundle.ResourceStrings = {"MSG_CAP_SHOWFLAG=Ne plus afficher", "SKIN_NAME=Sample=1"};
    return bundle;
}

TEST(SkinFileTest, RoundTripKeepsStyleAndStrings) {
    const TSkinBundle bundle = Sample();
    const std::string bytes = EncodeSkinBundle(bundle);
    ASSERT_EQ(bytes.substr(0, 4), "CLSK");
    const auto decoded = DecodeSkinBundle(bytes);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, bundle);

    TSkinBundle bare;
    const auto empty = DecodeSkinBundle(EncodeSkinBundle(bare));
    ASSERT_TRUE(empty) << "a skin with no strings and no style";
    EXPECT_EQ(*empty, bare);
}

TEST(SkinFileTest, EveryTruncationAndDamageIsRefused) {
    const std::string bytes = EncodeSkinBundle(Sample());
    for (std::size_t n = 0; n < bytes.size(); ++n) {
        std::string error;
        EXPECT_FALSE(DecodeSkinBundle(bytes.substr(0, n), &error)) << "cut at " << n;
        EXPECT_FALSE(error.empty());
    }
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::string damaged = bytes;
        damaged[i] = static_cast<char>(damaged[i] ^ 0x5A);
        EXPECT_FALSE(DecodeSkinBundle(damaged)) << "byte " << i << " flipped";
    }
    EXPECT_FALSE(DecodeSkinBundle(bytes + "x")) << "trailing bytes";
}

TEST(SkinFileTest, LyingSizeHeaderIsRefusedWithoutHugeAllocation) {
    const std::string bytes = EncodeSkinBundle(Sample());
    std::string error;
    std::string huge = bytes;
    huge[5] = '\xFF';  // claims about 4 GiB
    EXPECT_FALSE(DecodeSkinBundle(huge, &error));
    EXPECT_EQ(error, "skin too large");

    std::string smaller = bytes;
    smaller[8] = static_cast<char>(smaller[8] - 1);
    EXPECT_FALSE(DecodeSkinBundle(smaller, &error));
    EXPECT_EQ(error, "skin larger than announced");

    std::string larger = bytes;
    larger[8] = static_cast<char>(larger[8] + 1);
    EXPECT_FALSE(DecodeSkinBundle(larger, &error));
    EXPECT_EQ(error, "skin size does not match its header");
}

TEST(SkinFileTest, ShippedSkinsDecode) {
    for (const char* name : {"Dark.skn", "Light.nsf.skn"}) {
        SCOPED_TRACE(name);
        std::ifstream in(std::string(CLOAKLINE_SKIN_DIR) + "/" + name, std::ios::binary);
        ASSERT_TRUE(in);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        std::string error;
        const auto skin = DecodeSkinBundle(bytes.str(), &error);
        ASSERT_TRUE(skin) << error;
        EXPECT_NE(skin->StyleSheet.find("QPushButton"), std::string::npos);
        EXPECT_TRUE(skin->ResourceStrings.HasName("SKIN_NAME"));
        EXPECT_FALSE(skin->ResourceStrings.HasName("MSG_CAP_SHOWFLAG"))
            << "the check-box text is left to the language";
    }
}

}  // namespace
}  // namespace cloakline::test
