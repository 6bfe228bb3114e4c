#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cloakline {

// The run routine's switches: a parameter "-x" or "/x" (any case) is switch x.
class TCommandLineSwitches {
  public:
    // arguments excludes the program itself. Where absolute paths begin with
    // "/" (slashBeginsPaths), only a two-character "/x" is a switch, so that a
    // path given as the first parameter is still handed on.
    explicit TCommandLineSwitches(std::vector<std::string> arguments, bool slashBeginsPaths = false);

    bool Has(char letter) const;
    const std::vector<std::string>& Arguments() const { return FArguments; }
    // The first parameter when it is not a switch: a text to hand to a running instance.
    const std::string* ForwardableParameter() const;

  private:
    std::vector<std::string> FArguments;
    bool FSlashBeginsPaths;
};

// Debug mode: asked for by settings or the keyboard unless disabled, or forced by "d".
bool DecideDebugMode(bool debugEnabledSetting,
                     bool ctrlAndShiftHeld,
                     bool debugDisabledSetting,
                     bool switchD);

}  // namespace cloakline
