#pragma once

#include <cstdint>
#include <string_view>

#include "core/support/StringList.h"

namespace cloakline {

inline constexpr std::uint32_t INFINITE_WAIT = 0xFFFFFFFFu;

// Starting other programs. Nothing here goes through a shell.
class IProcesses {
  public:
    virtual ~IProcesses() = default;

    // Hands the address to the desktop's web opener; false when nothing could be started.
    virtual bool OpenURL(std::string_view url) = 0;
    // Starts program (a path, or a name looked up on the search path) with the
    // given arguments (not including the program) in workingFolder (empty: the
    // current one). With hideAndWait the call waits for the end, at most
    // timeoutMs (INFINITE_WAIT: no limit). True when the process was created.
    virtual bool Spawn(std::string_view program,
                       const TStringList& arguments,
                       std::string_view workingFolder,
                       bool hideAndWait,
                       std::uint32_t timeoutMs) = 0;
};

}  // namespace cloakline
