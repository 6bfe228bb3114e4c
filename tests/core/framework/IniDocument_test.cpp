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

TEST(IniDocumentTest, SectionsAndLinesCanBeWalkedInFileOrder) {
    TIniDocument doc;
    doc.LoadFromText("[A]\n Key = value \nStray\n[B]\nx=1\n[a]\ny=2\n");
    ASSERT_EQ(doc.SectionCount(), 3u);
    EXPECT_EQ(doc.SectionName(0), "A");
    EXPECT_EQ(doc.SectionName(2), "a");
    const std::vector<TIniDocument::Line>& lines = doc.SectionLines(0);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_TRUE(lines[0].IsEntry);
    EXPECT_EQ(lines[0].Text, "Key = value");
    EXPECT_EQ(lines[0].Key, "Key");
    EXPECT_EQ(lines[0].Value, "value");
    EXPECT_FALSE(lines[1].IsEntry);
    EXPECT_EQ(lines[1].Text, "Stray");
    // A repeated name finds its first section.
    ASSERT_NE(doc.FindSectionLines("a"), nullptr);
    EXPECT_EQ(doc.FindSectionLines("a"), &doc.SectionLines(0));
    EXPECT_EQ(doc.FindSectionLines("missing"), nullptr);

    doc.WriteString("A", "KEY", "new");
    EXPECT_EQ(doc.SectionLines(0)[0].Key, "KEY");
    EXPECT_EQ(doc.SectionLines(0)[0].Value, "new");
}

TEST(IniDocumentTest, AppendedLinesBehaveAsReadLines) {
    TIniDocument doc;
    doc.AppendLine("S", "  k = first ");
    doc.AppendLine("s", "K=second");
    doc.AppendLine("S", "no equals");
    doc.AppendLine("T", "t=1");
    EXPECT_EQ(doc.ReadString("S", "k", "?"), "first");
    EXPECT_EQ(doc.SaveToBytes(), "[S]\r\nk = first\r\nK=second\r\nno equals\r\n\r\n[T]\r\nt=1\r\n\r\n");
}

TEST(IniDocumentTest, TextIsParsedWithoutLookingForAMark) {
    TIniDocument doc;
    doc.LoadFromBytes(std::string("\xFF\xFE[\0S\0]\0", 8));
    ASSERT_EQ(doc.Encoding(), TextFileEncoding::Utf16LE);
    doc.LoadFromText("[S]\nk=\xE2\x82\xAC\n");
    EXPECT_EQ(doc.ReadString("S", "k", ""), "\xE2\x82\xAC");
    // The encoding of the bytes read last still decides how they are written.
    EXPECT_EQ(doc.Encoding(), TextFileEncoding::Utf16LE);
}

}  // namespace
}  // namespace cloakline
