#include "platform/win32/Win32Processes.h"

#include "core/framework/DebugLog.h"
#include "core/support/UrlUtils.h"
#include "platform/win32/Win32Handle.h"
#include "platform/win32/Win32Registry.h"
#include "platform/win32/Win32ShellApi.h"
#include "platform/win32/Win32Text.h"

namespace cloakline {

namespace {

bool NeedsQuotes(std::wstring_view argument) {
    return argument.empty() || argument.find_first_of(L" \t\n\v\"") != std::wstring_view::npos;
}

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSchemeChar(char c) {
    return IsAsciiLetter(c) || (c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.';
}

std::string EscapedForArgument(std::string_view url) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string safe;
    for (const char c : url) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7F || c == '"') {
            safe += '%';
            safe += kHex[byte >> 4];
            safe += kHex[byte & 0xF];
        } else {
            safe += c;
        }
    }
    return safe;
}

// The full, normalised path ("." and ".." gone) of an existing file; empty otherwise.
std::string ExistingFullPath(const std::string& path) {
    wchar_t full[32768];
    const DWORD n = ::GetFullPathNameW(Widen(path).c_str(), 32768, full, nullptr);
    if (n == 0 || n >= 32768) {
        return {};
    }
    const DWORD attributes = ::GetFileAttributesW(full);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return {};
    }
    return Narrow(std::wstring_view(full, n));
}

std::string ProgramFolder() {
    wchar_t exe[32768];
    const DWORD n = ::GetModuleFileNameW(nullptr, exe, 32768);
    if (n == 0 || n >= 32768) {
        return {};
    }
    const std::string path = Narrow(std::wstring_view(exe, n));
    return path.substr(0, path.rfind('\\') == std::string::npos ? 0 : path.rfind('\\'));
}

// The address handed on: a web address as it is, a file inside the
// program's folder as its full path; empty when refused.
std::string OpenableAddress(std::string_view url) {
    const TOpenTarget target = ClassifyOpenAddress(url);
    if (target.Kind == TOpenKind::Web) {
        return std::string(url);
    }
    if (target.Kind != TOpenKind::LocalFile) {
        return {};
    }
    const std::string file = ExistingFullPath(target.Path);
    return !file.empty() && IsPathInsideFolder(file, ProgramFolder(), true) ? file : std::string();
}

bool HasFolderPart(std::string_view program) {
    return program.find_first_of("\\/:") != std::string_view::npos;
}

}  // namespace

std::wstring QuoteArgument(std::wstring_view argument) {
    if (!NeedsQuotes(argument)) {
        return std::wstring(argument);
    }
    std::wstring quoted = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t c : argument) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        // Backslashes count only before a quotation mark: there each one is doubled.
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    // Those before the closing mark are doubled too, so that it still closes.
    quoted.append(backslashes * 2, L'\\');
    quoted += L'"';
    return quoted;
}

std::wstring BuildCommandLine(std::wstring_view program, const std::vector<std::wstring>& arguments) {
    // The program's name is read up to the next quotation mark, without
    // escapes; a file name cannot contain one.
    std::wstring line = L"\"" + std::wstring(program) + L"\"";
    for (const std::wstring& argument : arguments) {
        line += L' ';
        line += QuoteArgument(argument);
    }
    return line;
}

bool HasURLScheme(std::string_view url) {
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0 || !IsAsciiLetter(url[0])) {
        return false;
    }
    for (std::size_t i = 1; i < colon; ++i) {
        if (!IsSchemeChar(url[i])) {
            return false;
        }
    }
    return true;
}

std::string CommandWithURL(std::string_view command, std::string_view url) {
    const std::string safe = EscapedForArgument(url);
    if (command.find("%1") == std::string_view::npos) {
        return std::string(command) + "  \"" + safe + "\"";
    }
    // One pass over the command, so that a "%1" inside the address stays as it is.
    std::string result;
    std::size_t start = 0;
    for (std::size_t at = command.find("%1"); at != std::string_view::npos; at = command.find("%1", start)) {
        result.append(command.substr(start, at - start));
        result += safe;
        start = at + 2;
    }
    result.append(command.substr(start));
    return result;
}

bool StartProcess(const std::wstring& application,
                  std::wstring commandLine,
                  const std::wstring& folder,
                  bool hideAndWait,
                  DWORD timeoutMs) {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (hideAndWait) {
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION created{};
    if (!::CreateProcessW(application.empty() ? nullptr : application.c_str(), commandLine.data(), nullptr,
                          nullptr, FALSE, 0, nullptr, folder.empty() ? nullptr : folder.c_str(), &startup,
                          &created)) {
        return false;
    }
    const TWin32Handle process(created.hProcess);
    const TWin32Handle thread(created.hThread);
    if (hideAndWait) {
        ::WaitForSingleObject(process.Get(), timeoutMs);
    }
    return true;
}

bool Win32Processes::OpenURL(std::string_view requested) {
    const std::string url = OpenableAddress(requested);
    if (url.empty()) {
        DebugLog::Log("OpenURL refused: " + std::string(requested), "OpenURL");
        return false;
    }
    const std::string command = RegReadString(HKEY_CLASSES_ROOT, kWebOpenCommandKey, "", "");
    if (command.empty()) {
        ::ShellExecuteW(nullptr, L"open", Widen(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
        return true;
    }
    return StartProcess(L"", Widen(CommandWithURL(command, url)), L"", false, 0);
}

bool Win32Processes::Spawn(std::string_view program,
                           const TStringList& arguments,
                           std::string_view workingFolder,
                           bool hideAndWait,
                           std::uint32_t timeoutMs) {
    if (program.empty()) {
        return false;
    }
    std::vector<std::wstring> wideArguments;
    for (std::size_t i = 0; i < arguments.Count(); ++i) {
        wideArguments.push_back(Widen(arguments[i]));
    }
    const std::wstring wideProgram = Widen(program);
    // A bare name is looked up the system's way; a path is started as it is.
    return StartProcess(HasFolderPart(program) ? wideProgram : std::wstring(),
                        BuildCommandLine(wideProgram, wideArguments), Widen(workingFolder), hideAndWait,
                        timeoutMs);
}

}  // namespace cloakline
