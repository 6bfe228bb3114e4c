#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <map>
#include <optional>

#include "platform/linux/LinuxAutoRun.h"
#include "tests/platform/linux/FakeEnv.h"
#include "tests/support/TempDir.h"

namespace cloakline {
namespace {

namespace fs = std::filesystem;
using test::FakeEnv;
using test::TempDir;

// Reads an Exec value the way a desktop environment does: the string escapes
// first, then the quoting rule, then "%%". nullopt for anything malformed.
std::optional<std::vector<std::string>> ParseExec(const std::string& value) {
    std::string unescaped;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\') {
            unescaped += value[i];
            continue;
        }
        if (++i == value.size()) {
            return std::nullopt;
        }
        switch (value[i]) {
            case 's':
                unescaped += ' ';
                break;
            case 'n':
                unescaped += '\n';
                break;
            case 't':
                unescaped += '\t';
                break;
            case 'r':
                unescaped += '\r';
                break;
            case '\\':
                unescaped += '\\';
                break;
            default:
                return std::nullopt;
        }
    }
    std::vector<std::string> arguments;
    std::string current;
    bool inArgument = false;
    for (std::size_t i = 0; i < unescaped.size(); ++i) {
        const char c = unescaped[i];
        if (c == ' ') {
            if (inArgument) {
                arguments.push_back(current);
                current.clear();
                inArgument = false;
            }
        } else if (c == '"') {
            if (inArgument) {
                return std::nullopt;
            }
            inArgument = true;
            for (++i;; ++i) {
                if (i >= unescaped.size()) {
                    return std::nullopt;
                }
                if (unescaped[i] == '"') {
                    break;
                }
                if (unescaped[i] == '\\') {
                    if (++i >= unescaped.size()) {
                        return std::nullopt;
                    }
                    if (std::string_view("\"`$\\").find(unescaped[i]) == std::string_view::npos) {
                        return std::nullopt;
                    }
                }
                current += unescaped[i];
            }
        } else if (std::string_view("\t\n'\\><~|&;$*?#`()").find(c) != std::string_view::npos) {
            return std::nullopt;  // reserved characters must be quoted
        } else {
            inArgument = true;
            current += c;
        }
    }
    if (inArgument) {
        arguments.push_back(current);
    }
    for (std::string& argument : arguments) {
        std::string plain;
        for (std::size_t i = 0; i < argument.size(); ++i) {
            if (argument[i] == '%') {
                if (i + 1 >= argument.size() || argument[i + 1] != '%') {
                    return std::nullopt;  // a field code we never write
                }
                ++i;
            }
            plain += argument[i];
        }
        argument = plain;
    }
    return arguments;
}

// The keys of the [Desktop Entry] group; the group header must come first.
std::map<std::string, std::string> ReadDesktopEntry(const std::string& text) {
    std::map<std::string, std::string> keys;
    std::size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        auto end = text.find('\n', pos);
        EXPECT_NE(end, std::string::npos) << "the last line has no line break";
        if (end == std::string::npos) {
            end = text.size();
        }
        const std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            EXPECT_EQ(line, "[Desktop Entry]");
            first = false;
            continue;
        }
        const auto eq = line.find('=');
        EXPECT_NE(eq, std::string::npos) << line;
        if (eq != std::string::npos) {
            EXPECT_TRUE(keys.emplace(line.substr(0, eq), line.substr(eq + 1)).second)
                << "repeated key " << line;
        }
    }
    return keys;
}

class LinuxAutoRunTest : public ::testing::Test {
  protected:
    LinuxAutoRunTest()
        : FEnv{{"XDG_CONFIG_HOME", FDir.Path() + "/config"}, {"HOME", FDir.Path() + "/home"}} {}

    std::string EntryFile(const std::string& name) const { return FDir.Path() + "/config/autostart/" + name; }

    TempDir FDir;
    FakeEnv FEnv;
};

TEST_F(LinuxAutoRunTest, EnableWritesAValidAutostartEntry) {
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "Cloakline", "\\opt\\Cloak Line\\cloakline");

    ASSERT_TRUE(fs::exists(EntryFile("Cloakline.desktop")));
    EXPECT_EQ(autoRun.EntryPath("Cloakline"), EntryFile("Cloakline.desktop"));
    const auto keys = ReadDesktopEntry(FDir.ReadFile("config/autostart/Cloakline.desktop"));
    EXPECT_EQ(keys.at("Type"), "Application");
    EXPECT_EQ(keys.at("Name"), "Cloakline");
    EXPECT_EQ(keys.at("X-GNOME-Autostart-enabled"), "true");
    EXPECT_EQ(ParseExec(keys.at("Exec")), std::vector<std::string>{"/opt/Cloak Line/cloakline"});
    EXPECT_EQ(fs::directory_iterator(FDir.Path() + "/config/autostart")->path().filename(),
              "Cloakline.desktop");
}

TEST_F(LinuxAutoRunTest, PlainPathsStayUnquoted) {
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "Cloakline", "/usr/bin/cloakline");
    EXPECT_EQ(ReadDesktopEntry(FDir.ReadFile("config/autostart/Cloakline.desktop")).at("Exec"),
              "/usr/bin/cloakline");
}

TEST_F(LinuxAutoRunTest, AQuotedProgramMayCarryArguments) {
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "Cloakline", "\"\\opt\\app dir\\cloakline\" -h /a");
    const auto keys = ReadDesktopEntry(FDir.ReadFile("config/autostart/Cloakline.desktop"));
    EXPECT_EQ(ParseExec(keys.at("Exec")), (std::vector<std::string>{"/opt/app dir/cloakline", "-h", "/a"}));
}

TEST_F(LinuxAutoRunTest, DisableRemovesOnlyTheEntry) {
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "Cloakline", "/usr/bin/cloakline");
    autoRun.SetAutoRun(true, "Other", "/usr/bin/other");
    autoRun.SetAutoRun(false, "Cloakline", "");
    EXPECT_FALSE(fs::exists(EntryFile("Cloakline.desktop")));
    EXPECT_TRUE(fs::exists(EntryFile("Other.desktop")));
    // Removing what is not there is no error and creates nothing.
    autoRun.SetAutoRun(false, "Cloakline", "");
    EXPECT_FALSE(fs::exists(EntryFile("Cloakline.desktop")));
}

TEST_F(LinuxAutoRunTest, EnableAgainReplacesTheCommand) {
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "Cloakline", "/old/cloakline");
    ASSERT_EQ(::chmod(EntryFile("Cloakline.desktop").c_str(), 0600), 0);
    autoRun.SetAutoRun(true, "Cloakline", "/new/cloakline");
    const auto keys = ReadDesktopEntry(FDir.ReadFile("config/autostart/Cloakline.desktop"));
    EXPECT_EQ(ParseExec(keys.at("Exec")), std::vector<std::string>{"/new/cloakline"});
    EXPECT_EQ(fs::status(EntryFile("Cloakline.desktop")).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(
        std::distance(fs::directory_iterator(FDir.Path() + "/config/autostart"), fs::directory_iterator()),
        1);
}

TEST_F(LinuxAutoRunTest, EntryNamesCannotLeaveTheAutostartFolder) {
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "../evil/name\x01x", "/usr/bin/cloakline");
    EXPECT_TRUE(fs::exists(EntryFile(".._evil_name_x.desktop")));
    EXPECT_FALSE(fs::exists(FDir.Path() + "/config/evil"));
    const auto keys = ReadDesktopEntry(FDir.ReadFile("config/autostart/.._evil_name_x.desktop"));
    EXPECT_EQ(keys.at("Name"), "../evil/name_x");
}

TEST_F(LinuxAutoRunTest, WithoutConfigHomeTheHomeFolderIsUsed) {
    FakeEnv homeOnly{{"HOME", FDir.Path() + "/home"}};
    LinuxAutoRun(homeOnly.Lookup()).SetAutoRun(true, "Cloakline", "/usr/bin/cloakline");
    EXPECT_TRUE(fs::exists(FDir.Path() + "/home/.config/autostart/Cloakline.desktop"));
}

TEST_F(LinuxAutoRunTest, ErrorsAreSwallowed) {
    FDir.WriteFile("config", "a file where the folder should be");
    LinuxAutoRun autoRun(FEnv.Lookup());
    autoRun.SetAutoRun(true, "Cloakline", "/usr/bin/cloakline");
    autoRun.SetAutoRun(false, "Cloakline", "");
    EXPECT_EQ(FDir.ReadFile("config"), "a file where the folder should be");
    FakeEnv nothing{{"HOME", ""}};
    LinuxAutoRun(nothing.Lookup()).SetAutoRun(true, "", "/usr/bin/cloakline");
}

TEST(DesktopExecValue, EveryArgumentSurvivesTheDesktopParser) {
    const std::string program = "/opt/odd \"dir\"/$HOME/`x`/back\\slash/100%/prog";
    const std::vector<std::string> arguments{
        "-h",   "with space", "100%",  "semi;colon", "$(touch x)", "tab\there", "new\nline",  "back\\slash",
        "it's", "a>b<c|d&e",  "~user", "#hash",      "star*?",     "(paren)",   "plain-value"};
    const std::string exec = DesktopExecValue(program, arguments);
    EXPECT_EQ(exec.find('\n'), std::string::npos);
    std::vector<std::string> expected{program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(ParseExec(exec), expected) << exec;
}

TEST(DesktopExecValue, ProgramWithoutReservedCharactersIsWrittenAsIs) {
    EXPECT_EQ(DesktopExecValue("/usr/bin/cloakline", {"-h"}), "/usr/bin/cloakline -h");
    EXPECT_EQ(ParseExec(DesktopExecValue("/usr/bin/cloakline", {""})),
              (std::vector<std::string>{"/usr/bin/cloakline", ""}));
}

}  // namespace
}  // namespace cloakline
