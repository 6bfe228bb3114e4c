#include "core/proxy/IniTextEdit.h"

#include <gtest/gtest.h>

#include "core/support/TextEncoding.h"

namespace cloakline {
namespace {

const std::vector<TIniEntry> kTwo = {{"A", "1"}, {"B", "2"}};

TEST(IniTextEditTest, NewSectionIsAppendedAfterABlankLine) {
    EXPECT_EQ(WriteIniEntries("", "S", kTwo), "[S]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(WriteIniEntries("", "S", kTwo, "\n"), "[S]\nA=1\nB=2\n");
    EXPECT_EQ(WriteIniEntries("[T]\r\n", "S", kTwo, "\n"), "[T]\r\n\r\n[S]\r\nA=1\r\nB=2\r\n")
        << "the file's own breaks win";
    EXPECT_EQ(WriteIniEntries("[T]\nx=1\n", "S", kTwo), "[T]\nx=1\n\n[S]\nA=1\nB=2\n");
    // A last line without a break gets one, in the file's own style.
    EXPECT_EQ(WriteIniEntries("[T]\r\nx=1", "S", kTwo), "[T]\r\nx=1\r\n\r\n[S]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(WriteIniEntries("[T]\nx=1\n\n", "S", kTwo), "[T]\nx=1\n\n[S]\nA=1\nB=2\n");
}

TEST(IniTextEditTest, KeysAreReplacedInPlaceWhateverTheirCase) {
    EXPECT_EQ(WriteIniEntries("[s]\n b = old \nother=x\n", "S", kTwo), "[s]\nB=2\nother=x\nA=1\n");
    EXPECT_EQ(WriteIniEntries("[S]\na=old\n[T]\nB=keep\n", "S", kTwo), "[S]\nA=1\nB=2\n[T]\nB=keep\n");
}

TEST(IniTextEditTest, NewKeysFollowTheSectionsLastEntry) {
    // Blank lines and comments after the last entry stay where they are.
    EXPECT_EQ(WriteIniEntries("[S]\nx=1\n; note\n\n[T]\n", "S", kTwo), "[S]\nx=1\nA=1\nB=2\n; note\n\n[T]\n");
    EXPECT_EQ(WriteIniEntries("[S]", "S", kTwo), "[S]\r\nA=1\r\nB=2\r\n");
    EXPECT_EQ(WriteIniEntries("[S]\n", "S", kTwo), "[S]\nA=1\nB=2\n");
}

TEST(IniTextEditTest, CommentsAndLinesBeforeTheFirstSectionAreKept) {
    const std::string before = "Opera Preferences version 2.1\n# A=commented\n; B=commented\n[S]\n# A=0\n";
    EXPECT_EQ(WriteIniEntries(before, "S", kTwo),
              "Opera Preferences version 2.1\n# A=commented\n; B=commented\n[S]\nA=1\nB=2\n# A=0\n");
}

TEST(IniTextEditTest, EncodingIsKept) {
    const std::string bom = "\xEF\xBB\xBF";
    EXPECT_EQ(WriteIniEntries(bom + "[S]\nA=\xC3\xA9\n", "S", kTwo), bom + "[S]\nA=1\nB=2\n");

    const std::string utf16 = "\xFF\xFE" + Utf16ToBytes(u"[S]\r\nName=\u00e9t\u00e9\r\n", false);
    const std::string written = WriteIniEntries(utf16, "S", kTwo);
    EXPECT_EQ(written, "\xFF\xFE" + Utf16ToBytes(u"[S]\r\nName=\u00e9t\u00e9\r\nA=1\r\nB=2\r\n", false));
    const std::string utf16be = "\xFE\xFF" + Utf16ToBytes(u"[S]\r\n", true);
    EXPECT_EQ(WriteIniEntries(utf16be, "S", kTwo), "\xFE\xFF" + Utf16ToBytes(u"[S]\r\nA=1\r\nB=2\r\n", true));

    // Bytes of another code page pass through untouched.
    EXPECT_EQ(WriteIniEntries("[S]\nN=caf\xE9\n", "S", kTwo), "[S]\nN=caf\xE9\nA=1\nB=2\n");
}

TEST(IniTextEditTest, LineBreaksInKeysAndValuesCannotAddLines) {
    EXPECT_EQ(WriteIniEntries("", "S", {{"A", "1\r\n[Evil]\nx=1"}}), "[S]\r\nA=1  [Evil] x=1\r\n");
}

}  // namespace
}  // namespace cloakline
