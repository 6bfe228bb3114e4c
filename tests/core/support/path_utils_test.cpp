#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/support/PathUtils.h"

namespace cloakline {
namespace {

using Lines = std::vector<std::string>;

TEST(CombinePath, ResolvesAgainstDriveRootedAndNetworkBases) {
    struct Row {
        std::string Base;
        std::string Path;
        std::string Expected;
    };
    const std::vector<Row> rows = {
        {"C:\\App\\", "res/x.png", "C:\\App\\res\\x.png"},
        {"C:\\App", "\\res\\x.png", "C:\\res\\x.png"},
        {"C:\\App\\", "D:\\y.png", "D:\\y.png"},
        {"\\\\srv\\share\\", "res\\x.png", "res\\x.png"},
        {"\\\\srv\\share\\", "res/x.png", "res\\x.png"},
        {"C:\\App", "res\\x.png", "C:\\App\\res\\x.png"},
        {"C:/App/", "x", "C:\\App\\x"},
        {"C:\\App\\", "", "C:\\App\\"},
        {"C:\\App\\", "a\\..\\b", "C:\\App\\a\\..\\b"},
        {"C:\\App\\", "/res/x.png", "C:\\res\\x.png"},
        // A single "\" is too short to be root-relative.
        {"C:\\App\\", "\\", "C:\\App\\\\"},
        {"C:\\App\\", "file:x/y", "file:x\\y"},
        {"App\\", "res/x.png", "res/x.png"},
        {"", "res/x.png", "res/x.png"},
        {"\\\\srv\\share\\", "D:/y", "D:\\y"},
        // Rooted bases, the form absolute POSIX paths take in the program.
        {"\\opt\\app\\", "res/x.png", "\\opt\\app\\res\\x.png"},
        {"\\opt\\app", "x", "\\opt\\app\\x"},
        {"\\opt/app", "x", "\\opt\\app\\x"},
        {"\\opt\\app\\", "", "\\opt\\app\\"},
        {"\\opt\\app", "\\etc\\x", "\\etc\\x"},
        {"\\opt\\app", "/etc/x", "\\etc\\x"},
        {"\\opt\\app\\", "C:\\x", "C:\\x"},
        {"\\", "x", "\\x"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE("[" + row.Base + "] + [" + row.Path + "]");
        EXPECT_EQ(CombinePath(row.Base, row.Path), row.Expected);
    }
}

TEST(PathParts, SplitAtTheLastBackslashOrColon) {
    struct Row {
        std::string Path;
        std::string Folder;
        std::string Name;
        std::string Base;
    };
    const std::vector<Row> rows = {
        {"C:\\a.b\\skin.blue.skn", "C:\\a.b\\", "skin.blue.skn", "skin.blue"},
        {"C:\\a.b\\skin", "C:\\a.b\\", "skin", "skin"},
        {"x.y", "", "x.y", "x"},
        {"C:name.txt", "C:", "name.txt", "name"},
        {"\\opt\\app\\.hidden", "\\opt\\app\\", ".hidden", ""},
        {"\\opt\\app\\", "\\opt\\app\\", "", ""},
        {"a/b.c", "", "a/b.c", "a/b"},
        {"", "", "", ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Path);
        EXPECT_EQ(ExtractFilePath(row.Path), row.Folder);
        EXPECT_EQ(ExtractFileName(row.Path), row.Name);
        EXPECT_EQ(ExtractBaseName(row.Path), row.Base);
    }
}

TEST(PathParts, TrailingBackslashIsAddedOrRemovedOnce) {
    struct Row {
        std::string Path;
        std::string Included;
        std::string Excluded;
    };
    const std::vector<Row> rows = {
        {"C:\\App", "C:\\App\\", "C:\\App"},
        {"C:\\App\\", "C:\\App\\", "C:\\App"},
        {"C:\\App\\\\", "C:\\App\\\\", "C:\\App\\"},
        {"\\", "\\", ""},
        {"", "\\", ""},
        {"a/", "a/\\", "a/"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Path);
        EXPECT_EQ(IncludeTrailingBackslash(row.Path), row.Included);
        EXPECT_EQ(ExcludeTrailingBackslash(row.Path), row.Excluded);
    }
}

TEST(IsPlainItemName, OnlyNamesThatStayInTheirFolder) {
    for (const char* name : {"Default", "Light.nsf", "Deutsch (Schweiz)", "x",
                             "Fran\xC3\xA7"
                             "ais"}) {
        EXPECT_TRUE(IsPlainItemName(name)) << name;
    }
    for (const char* name : {"", "..", "..\\x", "a\\b", "a/b", "/etc/x", "\\tmp\\x", "C:x", "\\\\srv\\s",
                             "a..b", "x\n", "tab\there"}) {
        EXPECT_FALSE(IsPlainItemName(name)) << name;
    }
}

TEST(ParseCommandLineArguments, SplitsAtWhiteSpaceAndGroupsQuotes) {
    struct Row {
        std::string Params;
        Lines Expected;
    };
    const std::vector<Row> rows = {
        {"\"a b\" c", {"a b", "c"}},
        {"a  b\tc\r\nd", {"a", "b", "c", "d"}},
        {"\"\"", {""}},
        {"x \"\" y", {"x", "", "y"}},
        {"\"say \\\"hi\\\"\"", {"say \"hi\""}},
        {"C:\\dir\\file.exe -x", {"C:\\dir\\file.exe", "-x"}},
        {"a\"b c\"d", {"ab cd"}},
        {"-url \"http://x/?a=1&b=2\"", {"-url", "http://x/?a=1&b=2"}},
        {"\"unterminated arg", {"unterminated arg"}},
        {"\"C:\\Program Files\\x\\\" tail", {"C:\\Program Files\\x\" tail"}},
        {"", {}},
        {"  \t ", {}},
        {" lead trail ", {"lead", "trail"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Params);
        EXPECT_EQ(ParseCommandLineArguments(row.Params).Lines(), row.Expected);
    }
}

}  // namespace
}  // namespace cloakline
