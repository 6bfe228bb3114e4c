#include "platform/win32/Win32Processes.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/win32/Win32Api.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32Text.h"
#include "tests/win32/Win32TestSupport.h"

namespace cloakline {
namespace {

using namespace std::chrono_literals;
using test::DecodeArguments;
using test::ReadWholeFile;
using test::TSavedValue;
using test::TScratchFolder;
using test::WaitFor;

// The arguments that the child received, as its runtime split them.
std::vector<std::string> SpawnAndRead(const TStringList& extra, const std::string& file) {
    TStringList arguments;
    arguments.Add("--child");
    arguments.Add("args");
    arguments.Add(file);
    for (const std::string& argument : extra) {
        arguments.Add(argument);
    }
    Win32Processes processes;
    if (!processes.Spawn(test::ThisProgram(), arguments, "", true, 60000)) {
        return {"<not started>"};
    }
    const auto bytes = ReadWholeFile(file);
    return bytes ? DecodeArguments(*bytes) : std::vector<std::string>{"<no answer>"};
}

TEST(Win32Processes, EveryArgumentArrivesExactlyAsGiven) {
    TScratchFolder folder;
    const std::vector<std::string> tricky = {
        "plain",
        "with space",
        "",
        "quote\"inside",
        "\"quoted\"",
        "trailing\\",
        "C:\\Program Files\\",
        "back\\\\\"slashes",
        "tab\there",
        "gr\xC3\xBC\xC3\x9F"
        "e \xE6\x97\xA5",
        "-silent -nosplash",
    };
    TStringList extra;
    for (const std::string& argument : tricky) {
        extra.Add(argument);
    }
    EXPECT_EQ(SpawnAndRead(extra, folder.File("args.txt")), tricky);
}

TEST(Win32Processes, QuotingFollowsTheRuntimesRules) {
    EXPECT_EQ(QuoteArgument(L"simple"), L"simple");
    EXPECT_EQ(QuoteArgument(L""), L"\"\"");
    EXPECT_EQ(QuoteArgument(L"a b"), L"\"a b\"");
    EXPECT_EQ(QuoteArgument(L"a\"b"), L"\"a\\\"b\"");
    EXPECT_EQ(QuoteArgument(L"a b\\"), L"\"a b\\\\\"");
    EXPECT_EQ(QuoteArgument(L"a\\b c"), L"\"a\\b c\"");
    EXPECT_EQ(BuildCommandLine(L"C:\\A B\\p.exe", {L"x", L"y z"}), L"\"C:\\A B\\p.exe\" x \"y z\"");
}

TEST(Win32Processes, AProgramThatCannotStartIsReported) {
    Win32Processes processes;
    EXPECT_FALSE(processes.Spawn("C:\\no\\such\\program.exe", {}, "", false, 0));
    EXPECT_FALSE(processes.Spawn("", {}, "", false, 0));
}

TEST(Win32Processes, TheAddressGoesIntoTheRegisteredCommandWithoutBreakingOut) {
    EXPECT_EQ(CommandWithURL("\"C:\\b.exe\" -url \"%1\"", "http://x/?a=1"),
              "\"C:\\b.exe\" -url \"http://x/?a=1\"");
    EXPECT_EQ(CommandWithURL("\"C:\\b.exe\"", "http://x/"), "\"C:\\b.exe\"  \"http://x/\"");
    EXPECT_EQ(CommandWithURL("b.exe \"%1\" \"%1\"", "http://x/%1"), "b.exe \"http://x/%1\" \"http://x/%1\"");
    EXPECT_EQ(CommandWithURL("b.exe \"%1\"", "http://x/\" -evil \"y"),
              "b.exe \"http://x/%22%20-evil%20%22y\"");
    EXPECT_TRUE(HasURLScheme("https://example.com/"));
    EXPECT_FALSE(HasURLScheme("-new-window"));
    EXPECT_FALSE(HasURLScheme("://x"));
    EXPECT_FALSE(HasURLScheme("no scheme"));
}

// HKEY_CLASSES_ROOT shows the machine's classes; Wine's prefix keeps "http"
// there, so that is where the test's browser is registered for a while.
constexpr const char* kMachineWebCommand = "Software\\Classes\\HTTP\\shell\\open\\command";

TEST(Win32Processes, OpenURLStartsTheRegisteredBrowserWithTheWholeAddress) {
    TScratchFolder folder;
    const std::string file = folder.File("opened.txt");
    const TSavedValue saved(HKEY_LOCAL_MACHINE, kMachineWebCommand, "");
    ASSERT_TRUE(RegWriteString(HKEY_LOCAL_MACHINE, kMachineWebCommand, "",
                               "\"" + test::ThisProgram() + "\" --child args \"" + file + "\" \"%1\""));
    ASSERT_EQ(RegReadString(HKEY_CLASSES_ROOT, kWebOpenCommandKey, "", ""),
              "\"" + test::ThisProgram() + "\" --child args \"" + file + "\" \"%1\"");
    Win32Processes processes;
    const std::string url = "http://127.0.0.1/page?q=\"a b\"&x=%1";
    ASSERT_TRUE(processes.OpenURL(url));
    ASSERT_TRUE(
        WaitFor([&] { return ReadWholeFile(file).has_value() && !ReadWholeFile(file)->empty(); }, 30s));
    // Wait until the child has closed the file it writes in one go.
    std::vector<std::string> received;
    WaitFor(
        [&] {
            received = DecodeArguments(ReadWholeFile(file).value_or(""));
            return received.size() == 1;
        },
        10s);
    EXPECT_EQ(received, std::vector<std::string>{"http://127.0.0.1/page?q=%22a%20b%22&x=%1"});
    EXPECT_FALSE(processes.OpenURL("-no-remote"));
}

}  // namespace
}  // namespace cloakline
