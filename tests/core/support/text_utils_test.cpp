#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "core/support/TextUtils.h"

namespace cloakline {
namespace {

using Lines = std::vector<std::string>;

TEST(SplitString, ItemsAreCountedExactlyAndNeverTrimmed) {
    struct Row {
        std::string Text;
        std::string Delimiter;
        Lines Expected;
    };
    const std::vector<Row> rows = {
        {"", ";", {}},
        {"a", ";", {"a"}},
        {"a;", ";", {"a", ""}},
        {";;", ";", {"", "", ""}},
        {" a ; b ", ";", {" a ", " b "}},
        {"a;;b", ";", {"a", "", "b"}},
        {"\"a;b\"", ";", {"\"a", "b\""}},
        {"1.2.3", ".", {"1", "2", "3"}},
        // A delimiter of more than one character never matches a character.
        {"a;;b", ";;", {"a;;b"}},
        {"a,b", "", {"a,b"}},
        // One character outside ASCII is still one character.
        {"x\xC3\xA9y\xC3\xA9", "\xC3\xA9", {"x", "y", ""}},
        // Outside the basic plane a character is two units, so it is no delimiter.
        {"a\xF0\x9F\x98\x80"
         "b",
         "\xF0\x9F\x98\x80",
         {"a\xF0\x9F\x98\x80"
          "b"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("text [" + row.Text + "] delimiter [" + row.Delimiter + "]");
        TStringList list;
        SplitString(row.Text, row.Delimiter, list);
        EXPECT_EQ(list.Lines(), row.Expected);
    }
}

TEST(SplitString, AppendsToTheCallersListWithoutClearingIt) {
    TStringList list{"keep"};
    SplitString("", ";", list);
    EXPECT_EQ(list.Lines(), Lines({"keep"}));
    SplitString("a;b", ";", list);
    EXPECT_EQ(list.Lines(), Lines({"keep", "a", "b"}));
}

TEST(TextToIntDef, ReadsDecimalAndHexadecimalOrGivesTheDefault) {
    constexpr std::int32_t kDef = 99;
    struct Row {
        std::string Text;
        std::int32_t Expected;
    };
    const std::vector<Row> rows = {
        {"0", 0},
        {"007", 7},
        {"42", 42},
        {"+5", 5},
        {" -7", -7},
        {"   12", 12},
        {"0x1F", 31},
        {"0X1f", 31},
        {"$1F", 31},
        {"$1f", 31},
        {"x1F", 31},
        {"X1F", 31},
        {"0x0000001F", 31},
        {"-$1F", -31},
        {"+0x10", 16},
        {"2147483647", 2147483647},
        {"-2147483648", std::numeric_limits<std::int32_t>::min()},
        {"$7FFFFFFF", 2147483647},
        {"$80000000", std::numeric_limits<std::int32_t>::min()},
        {"$FFFFFFFF", -1},
        {"2147483648", kDef},
        {"-2147483649", kDef},
        {"99999999999999999999", kDef},
        {"$100000000", kDef},
        {"12abc", kDef},
        {"7 ", kDef},
        {"1e3", kDef},
        {"1.5", kDef},
        {"", kDef},
        {"   ", kDef},
        {"-", kDef},
        {"- 7", kDef},
        {"\t7", kDef},
        {"$", kDef},
        {"0x", kDef},
        {"-$", kDef},
        {"$G", kDef},
        {"0x1G", kDef},
        {"++1", kDef},
        {"abc", kDef},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Text + "]");
        EXPECT_EQ(TextToIntDef(row.Text, kDef), row.Expected);
    }
}

TEST(StartsWithText, ComparesThePrefixIgnoringAsciiCase) {
    struct Row {
        std::string Text;
        std::string Prefix;
        bool Expected;
    };
    const std::vector<Row> rows = {
        {"http://x", "HTTP://", true},
        {"Qvtx:page", "qvtx:", true},
        {"abc", "", true},
        {"", "", true},
        {"", "a", false},
        {"ab", "abc", false},
        {"abc", "abd", false},
        {"abc", "bc", false},
        // Only A to Z fold; other bytes must match exactly.
        {"\xC3\x89t\xC3\xA9", "\xC3\xA9", false},
        {"[x", "{", false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Text + "] [" + row.Prefix + "]");
        EXPECT_EQ(StartsWithText(row.Text, row.Prefix), row.Expected);
    }
}

TEST(ReplaceAll, ReplacesInOnePassWithOrWithoutLetterCase) {
    EXPECT_EQ(ReplaceAll("a<br>b<BR>c", "<br>", "\n"), "a\nb<BR>c");
    EXPECT_EQ(ReplaceAllText("a<br>b<BR>c", "<Br>", "\n"), "a\nb\nc");
    // What a replacement brings in is not searched again.
    EXPECT_EQ(ReplaceAll("xx", "x", "xx"), "xxxx");
    EXPECT_EQ(ReplaceAllText("{APPNAME}", "{AppName}", "{appname}!"), "{appname}!");
    EXPECT_EQ(ReplaceAll("abc", "", "-"), "abc");
    EXPECT_EQ(ReplaceAllText("abc", "", "-"), "abc");
}

TEST(FillPlaceholders, ReplacesEachNumberInTurnOnThePreviousResult) {
    struct Row {
        std::string Template;
        std::vector<std::string> Arguments;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {"{1}-{1}-{2}", {"a", "b"}, "a-a-b"},
        {"{1}-{1}-{2}", {"{2}", "x"}, "x-x-x"},
        {"{1}", {}, "{1}"},
        {"{1} {3}", {"a", "b"}, "a {3}"},
        {"{01}{ 1}{1 }", {"a"}, "{01}{ 1}{1 }"},
        {"{1}{10}", {"a", "2", "3", "4", "5", "6", "7", "8", "9", "ten"}, "aten"},
        // A later argument is never rescanned for its own number.
        {"{2}", {"x", "{2}"}, "{2}"},
        {"none", {"a"}, "none"},
        {"{1}{1}", {""}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Template);
        EXPECT_EQ(FillPlaceholders(row.Template, row.Arguments), row.Expected);
    }
}

TEST(VersionToInt, PacksFourPartsIntoBytes) {
    struct Row {
        std::string Version;
        std::uint32_t Expected;
    };
    const std::vector<Row> rows = {
        {"2.1.0.5", 0x02010005u},
        {"2.1.0.5 beta", 0x02010005u},
        {"256.1.1.1", 0x00010101u},
        {"255.255.255.255", 0xFFFFFFFFu},
        {"1.2.x.4", 0x01020004u},
        {"", 0u},
        {"1.2.3", 0u},
        {"1.2.3.4.5", 0u},
        {"1.2.3.4.", 0u},
        {" 1.2.3.4", 0u},
        {"$A.0x10.0.1", 0x0A100001u},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Version + "]");
        EXPECT_EQ(VersionToInt(row.Version), row.Expected);
    }
}

TEST(TextToHex, GivesTheLowByteOfEachUtf16Unit) {
    struct Row {
        std::string Text;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {"ab", "6162"},
        {"", ""},
        {"\xC3\xA9", "E9"},            // U+00E9
        {"A\xE2\x82\xAC", "41AC"},     // U+20AC keeps only 0xAC
        {"\xF0\x9F\x98\x80", "3D00"},  // U+1F600 is D83D DE00
        {"\n\x7F", "0A7F"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Expected);
        EXPECT_EQ(TextToHex(row.Text), row.Expected);
    }
}

TEST(RectText, WritesFourNumbersAndReadsOnlyFourParts) {
    EXPECT_EQ(RectToStr(TRect{10, 20, 300, 400}), "10,20,300,400");
    EXPECT_EQ(RectToStr(TRect{-5, 0, 2147483647, -2147483647 - 1}), "-5,0,2147483647,-2147483648");

    const TRect before{9, 8, 7, 6};
    struct Row {
        std::string Text;
        TRect Expected;
    };
    const std::vector<Row> rows = {
        {"1,2,3", before},
        {"1,2,3,4,5", before},
        {"", before},
        {"1,2,x,4", {1, 2, 0, 4}},
        {"10,20,300,400", {10, 20, 300, 400}},
        {" 1, -2,$10,4", {1, -2, 16, 4}},
        {"1 ,2,3,4", {0, 2, 3, 4}},
        {",,,", {0, 0, 0, 0}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Text + "]");
        TRect r = before;
        StrToRect(row.Text, r);
        EXPECT_EQ(r, row.Expected);
    }

    TRect back;
    const TRect original{-1, 2, -3, 4};
    StrToRect(RectToStr(original), back);
    EXPECT_EQ(back, original);
}

TEST(FloatToText, GeneralFormatWithFifteenDigits) {
    struct Row {
        double Value;
        char Separator;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {41736.5, '.', "41736.5"},
        {41736.5, ',', "41736,5"},
        {0.1, '.', "0.1"},
        {41736.5123456019, '.', "41736.5123456019"},
        {-2, '.', "-2"},
        {0, '.', "0"},
        {-0.0, '.', "0"},
        {100, ',', "100"},
        {1.0 / 3.0, '.', "0.333333333333333"},
        {2.0 / 3.0, ',', "0,666666666666667"},
        {0.0001, '.', "0.0001"},
        {0.00012345, '.', "0.00012345"},
        {1e-5, '.', "1E-5"},
        {1.5e-7, '.', "1.5E-7"},
        {-1.25e-10, ',', "-1,25E-10"},
        {123456789012345.0, '.', "123456789012345"},
        {1e15, '.', "1E15"},
        {1e20, '.', "1E20"},
        {1.5e300, '.', "1.5E300"},
        // Rounding to fifteen digits may carry into a new exponent.
        {999999999999999.9, '.', "1E15"},
        {std::numeric_limits<double>::infinity(), '.', "INF"},
        {-std::numeric_limits<double>::infinity(), '.', "-INF"},
        {std::numeric_limits<double>::quiet_NaN(), '.', "NAN"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Expected);
        EXPECT_EQ(FloatToText(row.Value, row.Separator), row.Expected);
    }
}

TEST(TextToFloatDef, ReadsOnlyNumbersWithTheGivenSeparator) {
    constexpr double kDef = -999.0;
    struct Row {
        std::string Text;
        char Separator;
        double Expected;
    };
    const std::vector<Row> rows = {
        {"41736.5", '.', 41736.5}, {"41736,5", ',', 41736.5}, {" -2.5e3 ", '.', -2500.0},
        {"\t3\r\n", '.', 3.0},     {"+1", '.', 1.0},          {"1.", '.', 1.0},
        {".5", '.', 0.5},          {"1E-5", '.', 1e-5},       {"1e+2", ',', 100.0},
        {"0", '.', 0.0},           {"41736,5", '.', kDef},    {"41736.5", ',', kDef},
        {"1.2.3", '.', kDef},      {"", '.', kDef},           {"   ", '.', kDef},
        {"abc", '.', kDef},        {"-", '.', kDef},          {".", '.', kDef},
        {"e5", '.', kDef},         {"1e", '.', kDef},         {"1e+", '.', kDef},
        {"1 2", '.', kDef},        {"12abc", '.', kDef},      {"0x10", '.', kDef},
        {"inf", '.', kDef},        {"-infinity", '.', kDef},  {"nan", '.', kDef},
        {"1e400", '.', kDef},      {"--1", '.', kDef},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Text + "] sep " + std::string(1, row.Separator));
        EXPECT_DOUBLE_EQ(TextToFloatDef(row.Text, row.Separator, kDef), row.Expected);
    }
}

TEST(TextToFloatDef, ReadsBackWhatFloatToTextWrote) {
    for (const double value : {41736.5123456019, -0.125, 1e-7, 3.0e21, 12345.0}) {
        for (const char separator : {'.', ','}) {
            SCOPED_TRACE(FloatToText(value, separator));
            const double back = TextToFloatDef(FloatToText(value, separator), separator, std::nan(""));
            EXPECT_NEAR(back, value, std::abs(value) * 1e-14);
        }
    }
}

TEST(TrimText, StripsEveryControlAndSpaceAtBothEnds) {
    struct Row {
        std::string Text;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {"  a b \t\r\n", "a b"},
        {std::string("\x01x\x20\0", 4), "x"},
        {"", ""},
        {" \t ", ""},
        {"\xC3\xA9 ", "\xC3\xA9"},
        {"\x7F", "\x7F"},
        {"x", "x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Expected + "]");
        EXPECT_EQ(TrimText(row.Text), row.Expected);
    }
}

}  // namespace
}  // namespace cloakline
