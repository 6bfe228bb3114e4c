#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/support/TextEncoding.h"

namespace cloakline {
namespace {

const std::string kReplacementUtf8 = "\xEF\xBF\xBD";

TEST(Utf8ToAnsi, MapsToWindows1252WithQuestionMarksForTheRest) {
    struct Row {
        std::string Name;
        std::string Text;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {"ascii", "a b&c/", "a b&c/"},
        {"latin-1 letter", "\xC3\xA9", "\xE9"},
        {"euro sign", "\xE2\x82\xAC", "\x80"},
        {"ligature oe", "\xC5\x92", "\x8C"},
        {"y diaeresis", "\xC5\xB8", "\x9F"},
        {"undefined byte kept as C1 control", "\xC2\x81\xC2\x9D", "\x81\x9D"},
        {"C1 control without a byte", "\xC2\x80", "?"},
        {"chinese", "\xE6\xBC\xA2", "?"},
        {"outside the basic plane", "\xF0\x9F\x98\x80", "?"},
        {"ill-formed",
         "a\xFF"
         "b",
         "a?b"},
        {"empty", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(Utf8ToAnsi(row.Text), row.Expected);
    }
}

TEST(AnsiToUtf8, EveryByteRoundTrips) {
    for (int b = 0; b < 256; ++b) {
        SCOPED_TRACE(b);
        const std::string byte(1, static_cast<char>(b));
        const std::string text = AnsiToUtf8(byte);
        EXPECT_TRUE(IsValidUtf8(text));
        EXPECT_EQ(Utf8ToAnsi(text), byte);
    }
    EXPECT_EQ(AnsiToUtf8("\x80\xE9\x9F\x81"), "\xE2\x82\xAC\xC3\xA9\xC5\xB8\xC2\x81");
}

TEST(Utf16, RoundTripsWellFormedTexts) {
    const std::vector<std::string> texts = {
        "",
        "plain",
        "\xC3\xA9t\xC3\xA9",
        "\xE6\xBC\xA2\xE5\xAD\x97",
        "\xF0\x9F\x98\x80 and \xF4\x8F\xBF\xBF",
        std::string("nul\0inside", 10),
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16(text)), text);
    }
    EXPECT_EQ(Utf8ToUtf16("a\xC3\xA9\xF0\x9F\x98\x80"), std::u16string(u"a\u00E9\U0001F600"));
    EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80").size(), 2u);
}

TEST(Utf16, IllFormedInputBecomesReplacementCharacters) {
    struct Row {
        std::string Name;
        std::string Text;
        std::u16string Expected;
    };
    const std::vector<Row> rows = {
        {"truncated at the end", "a\xC3", u"a\uFFFD"},
        {"truncated before ascii",
         "a\xE2\x82"
         "b",
         u"a\uFFFDb"},
        {"overlong", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"lone continuation", "\x80x", u"\uFFFDx"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_FALSE(IsValidUtf8(row.Text));
        EXPECT_EQ(Utf8ToUtf16(row.Text), row.Expected);
    }
}

TEST(Utf16, UnpairedSurrogatesBecomeReplacementCharacters) {
    struct Row {
        std::string Name;
        std::u16string Text;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {"high alone", std::u16string{0xD800, u'x'}, kReplacementUtf8 + "x"},
        {"low alone", std::u16string{0xDC00}, kReplacementUtf8},
        {"reversed pair", std::u16string{0xDE00, 0xD83D}, kReplacementUtf8 + kReplacementUtf8},
        {"pair", std::u16string{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(Utf16ToUtf8(row.Text), row.Expected);
    }
}

TEST(IsValidUtf8, AcceptsOnlyWellFormedSequences) {
    struct Row {
        std::string Text;
        bool Expected;
    };
    const std::vector<Row> rows = {
        {"", true},
        {"abc", true},
        {"\xC3\xA9", true},
        {"\xEF\xBF\xBD", true},
        {"\xF4\x8F\xBF\xBF", true},
        {"\xE9", false},
        {"\xC3", false},
        {"\xE0\x80\x80", false},
        {"\xF5\x80\x80\x80", false},
        {"\xFE", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.Text));
        EXPECT_EQ(IsValidUtf8(row.Text), row.Expected);
    }
}

TEST(AsciiCase, FoldsOnlyAToZ) {
    EXPECT_EQ(AsciiLower('Q'), 'q');
    EXPECT_EQ(AsciiLower('@'), '@');
    EXPECT_EQ(AsciiLower('['), '[');
    EXPECT_EQ(AsciiLowerCase("AbC-Z\xC3\x89"), "abc-z\xC3\x89");

    struct Row {
        std::string A;
        std::string B;
        bool Expected;
    };
    const std::vector<Row> rows = {
        {"Proxy.Enabled", "PROXY.enabled", true}, {"", "", true},    {"abc", "abcd", false},
        {"\xC3\xA9", "\xC3\x89", false},          {"@", "`", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.A + " vs " + row.B);
        EXPECT_EQ(SameTextAscii(row.A, row.B), row.Expected);
    }
}

TEST(AsciiCase, CompareIgnoresCaseThenFallsBackToByteOrder) {
    struct Row {
        std::string A;
        std::string B;
        int Expected;
    };
    const std::vector<Row> rows = {
        {"apple", "Banana", -1},  // byte order alone would put "B" first
        {"TfrmMain", "TfrmMain", 0},
        {"TfrmMain", "tfrmmain", -1},  // equal but for case: "T" before "t"
        {"tfrmmain", "TfrmMain", 1},
        {"ab", "abc", -1},
        {"", "a", -1},
        {"ab=1", "abc=1", -1},
        {"a\xC3\xA9", "a\xC3\x89", 1},  // non-ASCII letters keep their bytes
        {"[", "a", -1},                 // "[" lies between the capitals and the small letters
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.A + " vs " + row.B);
        EXPECT_EQ(CompareTextAscii(row.A, row.B), row.Expected);
        EXPECT_EQ(CompareTextAscii(row.B, row.A), -row.Expected);
    }
}

TEST(TextFile, DecodingNamesTheEncodingAndEncodingRestoresTheBytes) {
    struct Row {
        const char* Name;
        std::string Bytes;
        TextFileEncoding Encoding;
        std::string Text;
    };
    const std::vector<Row> rows = {
        {"UTF-8 with mark", "\xEF\xBB\xBFk=\xE2\x82\xAC", TextFileEncoding::Utf8Bom, "k=\xE2\x82\xAC"},
        {"UTF-8", "k=\xE2\x82\xAC", TextFileEncoding::Utf8, "k=\xE2\x82\xAC"},
        {"UTF-16LE", std::string("\xFF\xFEk\0=\0\xAC\x20", 8), TextFileEncoding::Utf16LE, "k=\xE2\x82\xAC"},
        {"UTF-16BE", std::string("\xFE\xFF\0k\0=\x20\xAC", 8), TextFileEncoding::Utf16BE, "k=\xE2\x82\xAC"},
        {"Windows-1252", "k=\x80", TextFileEncoding::Ansi, "k=\xE2\x82\xAC"},
        {"empty", "", TextFileEncoding::Utf8, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        TextFileEncoding encoding = TextFileEncoding::Ansi;
        EXPECT_EQ(DecodeTextFile(row.Bytes, encoding), row.Text);
        EXPECT_EQ(encoding, row.Encoding);
        EXPECT_EQ(EncodeTextFile(row.Text, row.Encoding), row.Bytes);
    }
}

}  // namespace
}  // namespace cloakline
