#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/support/StringList.h"

namespace cloakline {
namespace {

using Lines = std::vector<std::string>;

TEST(StringList, NamesAreTheTextBeforeTheFirstEqualsSign) {
    struct Row {
        std::string Line;
        std::string Name;
        std::string Value;
    };
    const std::vector<Row> rows = {
        {"a=b", "a", "b"}, {"a=b=c", "a", "b=c"}, {"=x", "", "x"},
        {"k=", "k", ""},   {"plain", "", ""},     {"", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Line);
        EXPECT_EQ(TStringList::NameOf(row.Line), row.Name);
        EXPECT_EQ(TStringList::ValueOf(row.Line), row.Value);
    }
}

TEST(StringList, LooksNamesUpWithoutRegardToAsciiCase) {
    const TStringList list{"plain", "Host=a", "PORT=80", "host=b", "=empty"};
    struct Row {
        std::string Name;
        int Index;
        std::string Value;
    };
    const std::vector<Row> rows = {
        {"host", 1, "a"},
        {"HOST", 1, "a"},
        {"port", 2, "80"},
        {"", 4, "empty"},
        // A line without "=" has no name at all.
        {"plain", -1, ""},
        {"missing", -1, ""},
        {"hos", -1, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Name);
        EXPECT_EQ(list.IndexOfName(row.Name), row.Index);
        EXPECT_EQ(list.HasName(row.Name), row.Index >= 0);
        EXPECT_EQ(list.Value(row.Name), row.Value);
    }
}

TEST(StringList, SetValueReplacesAppendsAndRemoves) {
    TStringList list{"a=1", "B=2", "c=3"};

    list.SetValue("b", "20");
    EXPECT_EQ(list.Lines(), Lines({"a=1", "b=20", "c=3"}));

    list.SetValue("d", "4");
    EXPECT_EQ(list.Lines(), Lines({"a=1", "b=20", "c=3", "d=4"}));

    list.SetValue("A", "");
    EXPECT_EQ(list.Lines(), Lines({"b=20", "c=3", "d=4"}));

    list.SetValue("missing", "");
    EXPECT_EQ(list.Lines(), Lines({"b=20", "c=3", "d=4"}));

    list.SetValue("c", "x=y");
    EXPECT_EQ(list.Value("C"), "x=y");
    EXPECT_EQ(list.Count(), 3u);
}

TEST(StringList, SetValueTouchesOnlyTheFirstLineOfAName) {
    TStringList list{"k=1", "K=2"};
    list.SetValue("k", "");
    EXPECT_EQ(list.Lines(), Lines({"K=2"}));
    list.SetValue("k", "3");
    EXPECT_EQ(list.Lines(), Lines({"k=3"}));
}

TEST(StringList, TextJoinsWithCrLfAndNoTrailingBreak) {
    EXPECT_EQ(TStringList{}.Text(), "");
    EXPECT_EQ(TStringList({"a"}).Text(), "a");
    EXPECT_EQ(TStringList({"a", "", "b"}).Text(), "a\r\n\r\nb");
}

TEST(StringList, SetTextSplitsAtEveryKindOfLineBreak) {
    struct Row {
        std::string Text;
        Lines Expected;
    };
    const std::vector<Row> rows = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\nb\rc", {"a", "b", "c"}},
        {"a\r\n", {"a"}},
        {"a\n", {"a"}},
        {"\r\n", {""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"a\n\r", {"a", ""}},
        {" x = 1 \r\n", {" x = 1 "}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(::testing::PrintToString(row.Text));
        TStringList list{"old"};
        list.SetText(row.Text);
        EXPECT_EQ(list.Lines(), row.Expected);
    }

    TStringList list;
    const TStringList original{"one", "", "three=3"};
    list.SetText(original.Text());
    EXPECT_EQ(list, original);
}

}  // namespace
}  // namespace cloakline
