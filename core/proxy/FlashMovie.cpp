#include "core/proxy/FlashMovie.h"

#include <algorithm>

#include "core/framework/IniDocument.h"
#include "core/support/TextUtils.h"

namespace cloakline {

// The movie file "res\shroud.dat" is an INI text of our own:
//
//   [Movie]    Width, Height  the size the panel is laid out for (pixels)
//              Font           the font family of every text
//   [Colors]   BackgroundTop, BackgroundBottom (the gradient behind
//              everything), Accent (focus ring and arrow), Card, CardBorder,
//              Caption (card titles), Text, Muted (a card not on display),
//              Link, Logo, StatusBack (the strip behind the status lines):
//              "#RRGGBB" or "#AARRGGBB"
//   [Texts]    LogoText, LocalCaption, TargetCaption, CheckCaption
//   [Timing]   AlphaMs (a card's alpha and scale), FadeMs, TurnMs:
//              milliseconds, 0 for no animation
//
// The status lines take their colours from the commands, so the card and
// strip colours should stay light enough for black, blue and dark red text.

namespace {

std::uint32_t ReadColour(const TIniDocument& ini, std::string_view key, std::uint32_t fallback) {
    const std::string* value = ini.Find("Colors", key);
    if (!value || value->size() < 2 || (*value)[0] != '#') {
        return fallback;
    }
    const std::string_view digits = std::string_view(*value).substr(1);
    if (digits.size() != 6 && digits.size() != 8) {
        return fallback;
    }
    std::uint32_t colour = 0;
    for (char c : digits) {
        const int digit = HexDigitValue(c);
        if (digit < 0) {
            return fallback;
        }
        colour = (colour << 4) | static_cast<std::uint32_t>(digit);
    }
    return digits.size() == 6 ? (0xFF000000u | colour) : colour;
}

int ReadNumber(const TIniDocument& ini,
               std::string_view section,
               std::string_view key,
               int fallback,
               int low,
               int high) {
    const std::string* value = ini.Find(section, key);
    if (!value) {
        return fallback;
    }
    constexpr std::int32_t kUnreadable = -1;
    const std::int32_t number = TextToIntDef(*value, kUnreadable);
    return number < low ? fallback : std::min<int>(number, high);
}

void ReadText(const TIniDocument& ini, std::string_view key, std::string& text) {
    if (const std::string* value = ini.Find("Texts", key)) {
        text = *value;
    }
}

}  // namespace

TFlashMovie ReadFlashMovie(std::string_view bytes) {
    TIniDocument ini;
    ini.LoadFromBytes(bytes);
    TFlashMovie movie;
    movie.Width = ReadNumber(ini, "Movie", "Width", movie.Width, 1, 4096);
    movie.Height = ReadNumber(ini, "Movie", "Height", movie.Height, 1, 4096);
    if (const std::string* font = ini.Find("Movie", "Font"); font && !font->empty()) {
        movie.Font = *font;
    }
    movie.BackgroundTop = ReadColour(ini, "BackgroundTop", movie.BackgroundTop);
    movie.BackgroundBottom = ReadColour(ini, "BackgroundBottom", movie.BackgroundBottom);
    movie.Accent = ReadColour(ini, "Accent", movie.Accent);
    movie.Card = ReadColour(ini, "Card", movie.Card);
    movie.CardBorder = ReadColour(ini, "CardBorder", movie.CardBorder);
    movie.Caption = ReadColour(ini, "Caption", movie.Caption);
    movie.Text = ReadColour(ini, "Text", movie.Text);
    movie.Muted = ReadColour(ini, "Muted", movie.Muted);
    movie.Link = ReadColour(ini, "Link", movie.Link);
    movie.Logo = ReadColour(ini, "Logo", movie.Logo);
    movie.StatusBack = ReadColour(ini, "StatusBack", movie.StatusBack);
    ReadText(ini, "LogoText", movie.LogoText);
    ReadText(ini, "LocalCaption", movie.LocalCaption);
    ReadText(ini, "TargetCaption", movie.TargetCaption);
    ReadText(ini, "CheckCaption", movie.CheckCaption);
    constexpr int kLongestAnimationMs = 10000;
    movie.AlphaMs = ReadNumber(ini, "Timing", "AlphaMs", movie.AlphaMs, 0, kLongestAnimationMs);
    movie.FadeMs = ReadNumber(ini, "Timing", "FadeMs", movie.FadeMs, 0, kLongestAnimationMs);
    movie.TurnMs = ReadNumber(ini, "Timing", "TurnMs", movie.TurnMs, 0, kLongestAnimationMs);
    return movie;
}

}  // namespace cloakline
