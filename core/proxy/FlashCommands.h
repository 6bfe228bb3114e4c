#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace cloakline {

// The status panel is driven by short comma-separated texts, all written to
// one movie variable. Fields are sent as they are: no quoting, no escaping.
inline constexpr std::string_view kFlashCommandVariable = "callbackvar";

// The texts the program sends. Numbers are decimal; a colour is 0x00BBGGRR
// written as a signed integer.
namespace FlashCommandText {
std::string SetBackground(std::string_view aBGFileName);
std::string SetLogo(std::string_view aLogoFileName);
// Only the country name loses its commas (each becomes a space).
std::string SetIPInfo(std::string_view aPosition,
                      std::string_view aDisplay,
                      std::string_view aFlagURL,
                      std::string_view aIP,
                      std::string_view aCountryName,
                      std::string_view aCity,
                      std::string_view aAlpha,
                      std::string_view aScale);
std::string SetIPInfoA(std::string_view aPosition, std::string_view aAlpha, std::string_view aScale);
std::string SetTextInfo(std::string_view aInfoText, std::int32_t aColor);
std::string SetTextInfo2(std::string_view aInfoText, std::int32_t aColor);
std::string Fade(std::string_view Obj, bool FadeIn, std::int32_t FadeMax);
std::string TurnLocal();
std::string TurnTarget();
}  // namespace FlashCommandText

enum class TFlashCard { Local, Target };

enum class TFlashCommandKind {
    Unknown,  // not a command of the panel: ignored
    Background,
    Logo,
    IPInfo,
    IPInfoA,
    TextInfo,
    TextInfo2,
    Fade,
    Turn,
};

// One command as the panel understands it. Numbers that are missing or not
// numbers stay empty (the panel keeps what it shows); numbers out of range
// are clamped to 0..100.
struct TFlashCommand {
    TFlashCommandKind Kind = TFlashCommandKind::Unknown;
    TFlashCard Card = TFlashCard::Local;
    // Background and Logo.
    std::string Path;
    // IPInfo.
    bool Display = false;
    std::string Flag;
    std::string IP;
    std::string Country;
    std::string City;
    // IPInfo and IPInfoA.
    std::optional<int> Alpha;
    std::optional<int> Scale;
    // TextInfo and TextInfo2; the colour as 0x00BBGGRR.
    std::string Text;
    std::optional<std::uint32_t> Color;
    // Fade.
    bool FadeIn = false;
    int FadeMax = 0;
};

// Reads a command as the program sends it, and anything else without
// failing. Commas that a sender left inside a field give extra fields; they
// are joined back into the field that may hold them (a status text, a path,
// a city).
TFlashCommand ParseFlashCommand(std::string_view text);

}  // namespace cloakline
