#include "core/support/ShellUtils.h"

#include <algorithm>

#include "core/support/PathUtils.h"
#include "core/support/RandomGenerator.h"

namespace cloakline {

namespace {

constexpr std::uint64_t kTicksPerDay = 864000000000ull;  // 100-ns intervals
constexpr std::uint64_t kTicksPerMs = 10000;
constexpr double kDaysFrom1601To1899 = 109205.0;

std::string UpperHex(std::uint32_t value) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string reversed;
    do {
        reversed += kDigits[value & 0xF];
        value >>= 4;
    } while (value != 0);
    return std::string(reversed.rbegin(), reversed.rend());
}

}  // namespace

std::string GetExeName(const Platform& platform) {
    return platform.Folders ? platform.Folders->GetExeName() : std::string();
}

namespace {

// The program file's folder in its long form, ending with "\".
std::string ExeFolder(const Platform& platform) {
    const std::string exe = GetExeName(platform);
    const std::size_t slash = exe.rfind('\\');
    std::string folder = slash == std::string::npos ? std::string() : exe.substr(0, slash + 1);
    if (platform.Files && !folder.empty()) {
        folder = platform.Files->GetLongPath(folder);
    }
    // Callers glue file names straight onto this, so the separator must be there
    // whatever the long form looks like.
    return IncludeTrailingBackslash(folder);
}

// base ("\usr\bin\") with relative ("..\share\cloakline") applied by text, so
// the result carries no "..": it is shown and compared as it is.
std::string ApplyRelative(std::string base, std::string_view relative) {
    base = ExcludeTrailingBackslash(base);
    std::size_t at = 0;
    while (at <= relative.size()) {
        const std::size_t end = std::min(relative.find('\\', at), relative.size());
        const std::string_view part = relative.substr(at, end - at);
        if (part == "..") {
            const std::size_t slash = base.rfind('\\');
            base.erase(slash == std::string::npos ? 0 : slash);
        } else if (!part.empty() && part != ".") {
            base += '\\';
            base.append(part);
        }
        at = end + 1;
    }
    return IncludeTrailingBackslash(base);
}

}  // namespace

std::string FindShippedFolder(const Platform& platform,
                              std::string_view file,
                              std::string_view installedFolder) {
    const std::string beside = ExeFolder(platform);
    if (!platform.Files || beside.empty() || platform.Files->FileExists(beside + std::string(file))) {
        return beside;
    }
    const std::string installed = ApplyRelative(beside, installedFolder);
    return platform.Files->FileExists(installed + std::string(file)) ? installed : beside;
}

std::string GetAppPath(const Platform& platform) {
    return FindShippedFolder(platform, kShippedMarkerFile, kInstalledDataFolder);
}

std::string GetGuardProgram(const Platform& platform) {
    return FindShippedFolder(platform, kGuardProgram, kInstalledHelperFolder) + std::string(kGuardProgram);
}

std::string GetAppDir(const Platform& platform) {
    std::string path = GetAppPath(platform);
    path.pop_back();
    return path;
}

std::string AutoRunEntryName(std::string_view installationId) {
    std::string name = "Cloakline";
    std::string id;
    for (char c : installationId) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-') {
            id += c;
        }
    }
    if (!id.empty()) {
        name += "-" + id;
    }
    return name;
}

std::string GetTempDir(const Platform& platform) {
    return platform.Folders ? platform.Folders->GetTempDir() : std::string();
}

std::string GetUniqueFileName(const Platform& platform,
                              std::string_view folder,
                              std::string_view prefix,
                              std::string_view extension) {
    RandomGenerator::EnsureSeeded();
    for (;;) {
        std::string name(prefix);
        name += UpperHex(RandomGenerator::Next(0xFFFFF));
        name += '.';
        name += extension;
        std::string path = CombinePath(folder, name);
        if (!platform.Files || !platform.Files->FileExists(path)) {
            return path;
        }
    }
}

bool RunProgram(Platform& platform,
                std::string_view path,
                std::string_view params,
                bool hideAndWait,
                std::uint32_t timeoutMs) {
    if (!platform.Processes) {
        return false;
    }
    if (path.empty()) {
        // The whole command line: its first word names the program.
        TStringList words = ParseCommandLineArguments(params);
        if (words.Empty()) {
            return false;
        }
        const std::string program = words[0];
        words.Delete(0);
        return platform.Processes->Spawn(program, words, "", hideAndWait, timeoutMs);
    }
    const std::string file = CombinePath(GetAppPath(platform), path);
    return platform.Processes->Spawn(file, ParseCommandLineArguments(params), ExtractFilePath(file),
                                     hideAndWait, timeoutMs);
}

void FindFiles(const Platform& platform, std::string_view folder, TStringList& list, std::string_view mask) {
    if (!platform.Files) {
        return;
    }
    std::string f(folder);
    for (char& c : f) {
        if (c == '/') {
            c = '\\';
        }
    }
    f = IncludeTrailingBackslash(f);
    platform.Files->ListFiles(f + std::string(mask), list, true);
}

TDateTime FileTimeToDateTime(TFileTime time) {
    // Whole days and milliseconds kept apart so that the double only ever holds
    // the final sum; calendar fields carry no finer unit than the millisecond.
    const std::uint64_t days = time / kTicksPerDay;
    const std::uint64_t ms = (time % kTicksPerDay) / kTicksPerMs;
    return (static_cast<double>(days) - kDaysFrom1601To1899) + static_cast<double>(ms) / 86400000.0;
}

}  // namespace cloakline
