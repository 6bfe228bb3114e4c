#include "platform/linux/LinuxAutoRun.h"

#include <unistd.h>

#include <vector>

#include "core/support/PathUtils.h"
#include "platform/linux/LinuxDataFolders.h"
#include "platform/linux/LinuxFileSystem.h"
#include "platform/linux/NativePath.h"

namespace cloakline {

namespace {

bool IsControl(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
}

std::string SanitisedEntryName(std::string_view entry) {
    std::string name(entry);
    for (char& c : name) {
        if (c == '/' || IsControl(c)) {
            c = '_';
        }
    }
    return name;
}

// String values may hold no control characters at all.
std::string DisplayName(std::string_view entry) {
    std::string name(entry);
    for (char& c : name) {
        if (IsControl(c)) {
            c = '_';
        }
    }
    return name;
}

bool NeedsQuoting(std::string_view argument) {
    static constexpr std::string_view kReserved = " \t\n\"'\\><~|&;$*?#`()";
    return argument.empty() || argument.find_first_of(kReserved) != std::string_view::npos;
}

// One argument by the Exec quoting rule: a literal "%" is "%%" whether quoted
// or not, and inside quotes '"', '`', '$' and '\' take a backslash.
std::string QuoteExecArgument(std::string_view argument) {
    std::string out;
    const bool quoted = NeedsQuoting(argument);
    if (quoted) {
        out += '"';
    }
    for (char c : argument) {
        if (c == '%') {
            out += "%%";
            continue;
        }
        if (quoted && (c == '"' || c == '`' || c == '$' || c == '\\')) {
            out += '\\';
        }
        out += c;
    }
    if (quoted) {
        out += '"';
    }
    return out;
}

// The general escapes of string values, applied on top of the Exec quoting.
std::string EscapeDesktopString(std::string_view value) {
    std::string out;
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void SplitCommand(std::string_view command, std::string& program, std::vector<std::string>& arguments) {
    if (!command.empty() && command.front() == '"') {
        const auto close = command.find('"', 1);
        if (close != std::string_view::npos) {
            program = ToNativePath(command.substr(1, close - 1));
            for (const std::string& argument : ParseCommandLineArguments(command.substr(close + 1))) {
                arguments.push_back(argument);
            }
            return;
        }
    }
    // Unquoted, the whole command is the program's path, spaces and all.
    program = ToNativePath(command);
}

}  // namespace

std::string DesktopExecValue(const std::string& program, const std::vector<std::string>& arguments) {
    std::string exec = QuoteExecArgument(program);
    for (const std::string& argument : arguments) {
        exec += ' ';
        exec += QuoteExecArgument(argument);
    }
    return EscapeDesktopString(exec);
}

LinuxAutoRun::LinuxAutoRun(EnvLookup env) : FEnv(std::move(env)) {}

std::string LinuxAutoRun::EntryPath(std::string_view entryName) const {
    const std::string config = UserConfigHome(FEnv);
    if (config.empty() || entryName.empty()) {
        return {};
    }
    return config + "/autostart/" + SanitisedEntryName(entryName) + ".desktop";
}

void LinuxAutoRun::SetAutoRun(bool enable, std::string_view entryName, std::string_view command) {
    const std::string path = EntryPath(entryName);
    if (path.empty()) {
        return;
    }
    if (!enable) {
        ::unlink(path.c_str());
        return;
    }
    std::string program;
    std::vector<std::string> arguments;
    SplitCommand(command, program, arguments);
    if (program.empty()) {
        return;
    }
    const std::string text =
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=" +
        EscapeDesktopString(DisplayName(entryName)) +
        "\n"
        "Exec=" +
        DesktopExecValue(program, arguments) +
        "\n"
        "Terminal=false\n"
        "X-GNOME-Autostart-enabled=true\n";
    LinuxFileSystem files;
    const std::string folder = path.substr(0, path.rfind('/'));
    if (files.ForceDirectories(ToProgramPath(folder))) {
        files.ReplaceFile(ToProgramPath(path), text);
    }
}

}  // namespace cloakline
