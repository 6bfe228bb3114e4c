#include "core/framework/CommandLineSwitches.h"

#include "core/support/TextEncoding.h"

namespace cloakline {

TCommandLineSwitches::TCommandLineSwitches(std::vector<std::string> arguments, bool slashBeginsPaths)
    : FArguments(std::move(arguments)), FSlashBeginsPaths(slashBeginsPaths) {}

bool TCommandLineSwitches::Has(char letter) const {
    const char wanted = AsciiLower(letter);
    for (const std::string& argument : FArguments) {
        if (argument.size() == 2 && (argument[0] == '-' || argument[0] == '/') &&
            AsciiLower(argument[1]) == wanted) {
            return true;
        }
    }
    return false;
}

const std::string* TCommandLineSwitches::ForwardableParameter() const {
    if (FArguments.empty() || FArguments.front().empty()) {
        return nullptr;
    }
    const std::string& first = FArguments.front();
    if (first[0] == '-') {
        return nullptr;
    }
    if (first[0] == '/' && (!FSlashBeginsPaths || first.size() <= 2)) {
        return nullptr;
    }
    return &first;
}

bool DecideDebugMode(bool debugEnabledSetting,
                     bool ctrlAndShiftHeld,
                     bool debugDisabledSetting,
                     bool switchD) {
    return ((debugEnabledSetting || ctrlAndShiftHeld) && !debugDisabledSetting) || switchD;
}

}  // namespace cloakline
