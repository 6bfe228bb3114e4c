#pragma once

#include <string>
#include <vector>

#include "platform/api/AutoRun.h"
#include "platform/linux/EnvLookup.h"

namespace cloakline {

// The per-user autorun entry as an XDG autostart desktop file in
// $XDG_CONFIG_HOME/autostart.
class LinuxAutoRun : public IAutoRun {
  public:
    explicit LinuxAutoRun(EnvLookup env = SystemGetenv);

    // command is a program path (program or native form), or a quoted path
    // followed by arguments.
    void SetAutoRun(bool enable, std::string_view entryName, std::string_view command) override;

    // Native path of the entry's file; empty when no config folder is known.
    std::string EntryPath(std::string_view entryName) const;

  private:
    EnvLookup FEnv;
};

// The Exec value for a program and its arguments, quoted and escaped for a desktop file.
std::string DesktopExecValue(const std::string& program, const std::vector<std::string>& arguments);

}  // namespace cloakline
