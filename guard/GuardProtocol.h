#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace cloakline {

// What the program tells its guard, one line each. Texts are escaped so that
// a line break inside one never starts another message.
struct TGuardMessage {
    enum class TKind { Title, Body, Block, Release };
    TKind Kind = TKind::Release;
    std::string Text;
    bool On = false;
};

// The notification's title and text in the user's language.
std::string GuardTitleLine(std::string_view title);
std::string GuardBodyLine(std::string_view body);
// Block mode: when the program dies, leave the browsers on the dead gateway.
std::string GuardBlockLine(bool on);
// A normal Stop: the program puts everything back itself.
std::string GuardReleaseLine();

// One line without its line break; nullopt for a line it does not know.
std::optional<TGuardMessage> ParseGuardLine(std::string_view line);

}  // namespace cloakline
