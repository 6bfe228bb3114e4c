#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace cloakline {

// The look of the status panel, as its movie file describes it. Colours are
// 0xAARRGGBB; durations in milliseconds (0 shows the end of an animation at
// once).
struct TFlashMovie {
    int Width = 474;
    int Height = 180;
    std::string Font = "DejaVu Sans";

    std::uint32_t BackgroundTop = 0xFFF4F8FD;
    std::uint32_t BackgroundBottom = 0xFFDCE7F4;
    std::uint32_t Accent = 0xFF2F7FD8;
    std::uint32_t Card = 0xFFFFFFFF;
    std::uint32_t CardBorder = 0xFFC8D4E3;
    std::uint32_t Caption = 0xFF6A7B92;
    std::uint32_t Text = 0xFF18222F;
    std::uint32_t Muted = 0xFF9AA7B8;
    std::uint32_t Link = 0xFF2F7FD8;
    std::uint32_t Logo = 0xFF1D3557;
    std::uint32_t StatusBack = 0x80FFFFFF;

    std::string LogoText = "Cloakline";
    std::string LocalCaption = "Real location";
    std::string TargetCaption = "Fake location";
    std::string CheckCaption = "Check IP details";

    int AlphaMs = 250;
    int FadeMs = 600;
    int TurnMs = 450;
};

// Reads the movie file's text. Any entry that is missing or unreadable keeps
// its default, so a partial file still gives a complete panel.
TFlashMovie ReadFlashMovie(std::string_view bytes);

}  // namespace cloakline
