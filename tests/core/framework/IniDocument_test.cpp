#include "core/framework/IniDocument.h"

#include <gtest/gtest.h>

namespace cloakline {
namespace {

TEST(IniDocumentTest, SetReplacesInPlaceAppendsToSectionAndAppendsSections) {
    TIniDocument doc;
    doc.LoadFromBytes("[setting]\r\nA=1\r\nB=2\r\n\r\n[Other]\r\nX=9\r\n");
    doc.WriteString("setting", "a", "one");
    doc.WriteString("setting", "C", "3");
    doc.WriteString("New", "K", "v");
    EXPECT_EQ(doc.SaveToBytes(),
              "[setting]\r\na=one\r\nB=2\r\nC=3\r\n\r\n[Other]\r\nX=9\r\n\r\n[New]\r\nK=v\r\n\r\n");
}

TEST(IniDocumentTest, ReadRules) {
    TIniDocument doc;
    doc.LoadFromBytes(
        "orphan=1\n"
        "[S]\n"
        "; comment=1\n"
        "Key = spaced value \n"
        "Empty=\n"
        "NoEquals\n"
        "Dup=first\n"
        "Dup=second\n"
        "Eq=a=b\n");
    EXPECT_FALSE(doc.ValueExists("S", "orphan"));
    EXPECT_FALSE(doc.ValueExists("S", "; comment"));
    EXPECT_EQ(doc.ReadString("s", "KEY", "?"), "spaced value");
    EXPECT_TRUE(doc.ValueExists("S", "Empty"));
    EXPECT_EQ(doc.ReadString("S", "Empty", "?"), "");
    EXPECT_FALSE(doc.ValueExists("S", "NoEquals"));
    EXPECT_EQ(doc.ReadString("S", "Dup", "?"), "first");
    EXPECT_EQ(doc.ReadString("S", "Eq", "?"), "a=b");
    EXPECT_EQ(doc.ReadString("Missing", "Key", "dflt"), "dflt");
    // Lines stay as they were read (stripped), comments and orphans do not.
    EXPECT_EQ(doc.SaveToBytes(),
              "[S]\r\nKey = spaced value\r\nEmpty=\r\nNoEquals\r\nDup=first\r\nDup=second\r\nEq=a=b\r\n\r\n");
}

TEST(IniDocumentTest, EraseSectionRemovesEveryEntry) {
    TIniDocument doc;
    doc.LoadFromBytes("[A]\nx=1\n[B]\ny=2\n[a]\nz=3\n");
    doc.EraseSection("A");
    EXPECT_FALSE(doc.SectionExists("a"));
    EXPECT_EQ(doc.ReadString("B", "y", ""), "2");
    EXPECT_EQ(doc.SaveToBytes(), "[B]\r\ny=2\r\n\r\n");
}

TEST(IniDocumentTest, EncodingsRoundTrip) {
    struct Row {
        const char* name;
        std::string bytes;
        TextFileEncoding encoding;
    };
    auto utf16 = [](bool be) {
        std::string out = be ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t u : std::u16string(u"[S]\r\nK=\u20AC\r\n\r\n")) {
            const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
            out.push_back(be ? hi : lo);
            out.push_back(be ? lo : hi);
        }
        return out;
    };
    const Row rows[] = {
        {"UTF-8 without mark", "[S]\r\nK=\xE2\x82\xAC\r\n\r\n", TextFileEncoding::Utf8},
        {"UTF-8 with mark", "\xEF\xBB\xBF[S]\r\nK=\xE2\x82\xAC\r\n\r\n", TextFileEncoding::Utf8Bom},
        {"UTF-16LE", utf16(false), TextFileEncoding::Utf16LE},
        {"UTF-16BE", utf16(true), TextFileEncoding::Utf16BE},
        {"Windows-1252", "[S]\r\nK=\x80\r\n\r\n", TextFileEncoding::Ansi},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TIniDocument doc;
        doc.LoadFromBytes(row.bytes);
        EXPECT_EQ(doc.Encoding(), row.encoding);
        EXPECT_EQ(doc.ReadString("S", "K", ""), "\xE2\x82\xAC");
        EXPECT_EQ(doc.SaveToBytes(), row.bytes);
    }
}

TEST(IniDocumentTest, CharactersOutsideTheCodePageBecomeQuestionMarks) {
    TIniDocument doc;
    doc.LoadFromBytes("[S]\r\nK=\xE9\r\n");
    ASSERT_EQ(doc.Encoding(), TextFileEncoding::Ansi);
    doc.WriteString("S", "K", "\xE4\xB8\xAD");
    EXPECT_EQ(doc.SaveToBytes(), "[S]\r\nK=?\r\n\r\n");
}

}  // namespace
}  // namespace cloakline
