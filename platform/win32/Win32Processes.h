#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/api/Processes.h"
#include "platform/win32/Win32Api.h"

namespace cloakline {

inline constexpr std::string_view kWebOpenCommandKey = "HTTP\\shell\\open\\command";

// Starts programs with CreateProcessW, never through a shell. Every argument
// is quoted so that the started program's C runtime (CommandLineToArgvW)
// rebuilds exactly the texts that were given.
class Win32Processes : public IProcesses {
  public:
    // The command registered for web addresses with the address in place of
    // its "%1" (or appended quoted), else the shell's "open". Only an
    // "http:" or "https:" address or an existing file inside the program's
    // folder is handed on; anything else is refused with a debug log line.
    bool OpenURL(std::string_view url) override;
    bool Spawn(std::string_view program,
               const TStringList& arguments,
               std::string_view workingFolder,
               bool hideAndWait,
               std::uint32_t timeoutMs) override;
};

// One argument as CommandLineToArgvW reads it back.
std::wstring QuoteArgument(std::wstring_view argument);
// The quoted program followed by the quoted arguments.
std::wstring BuildCommandLine(std::wstring_view program, const std::vector<std::wstring>& arguments);
// The registered command with the address put in. Characters that could end
// the address's argument (quotation marks, white space, control characters)
// are percent-encoded first, as they may not appear in an address anyway.
std::string CommandWithURL(std::string_view command, std::string_view url);
// An address "scheme:...", the scheme a letter then letters, digits, "+", "-", ".".
bool HasURLScheme(std::string_view url);

// CreateProcessW. application may be empty (the command line's first word
// is looked up); folder empty for the current one. With hideAndWait the
// window starts hidden and the call waits at most timeoutMs (INFINITE).
bool StartProcess(const std::wstring& application,
                  std::wstring commandLine,
                  const std::wstring& folder,
                  bool hideAndWait,
                  DWORD timeoutMs);

}  // namespace cloakline
