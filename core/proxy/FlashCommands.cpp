#include "core/proxy/FlashCommands.h"

#include <algorithm>
#include <vector>

#include "core/framework/IniDocument.h"
#include "core/support/TextUtils.h"

namespace cloakline {

namespace FlashCommandText {

std::string SetBackground(std::string_view aBGFileName) {
    return "Background," + std::string(aBGFileName);
}

std::string SetLogo(std::string_view aLogoFileName) {
    return "Logo," + std::string(aLogoFileName);
}

std::string SetIPInfo(std::string_view aPosition,
                      std::string_view aDisplay,
                      std::string_view aFlagURL,
                      std::string_view aIP,
                      std::string_view aCountryName,
                      std::string_view aCity,
                      std::string_view aAlpha,
                      std::string_view aScale) {
    std::string country(aCountryName);
    std::replace(country.begin(), country.end(), ',', ' ');
    std::string text(aPosition);
    for (std::string_view field :
         {aDisplay, aFlagURL, aIP, std::string_view(country), aCity, aAlpha, aScale}) {
        text += ',';
        text += field;
    }
    return text;
}

std::string SetIPInfoA(std::string_view aPosition, std::string_view aAlpha, std::string_view aScale) {
    return std::string(aPosition) + "A," + std::string(aAlpha) + "," + std::string(aScale);
}

std::string SetTextInfo(std::string_view aInfoText, std::int32_t aColor) {
    return "Info_Text," + std::string(aInfoText) + "," + std::to_string(aColor);
}

std::string SetTextInfo2(std::string_view aInfoText, std::int32_t aColor) {
    return "Info_Text2," + std::string(aInfoText) + "," + std::to_string(aColor);
}

std::string Fade(std::string_view Obj, bool FadeIn, std::int32_t FadeMax) {
    return "Fade," + std::string(Obj) + (FadeIn ? ",in," : ",out,") + std::to_string(FadeMax);
}

std::string TurnLocal() {
    return "Turn,Local";
}

std::string TurnTarget() {
    return "Turn,Target";
}

}  // namespace FlashCommandText

namespace {

using Fields = std::vector<std::string_view>;

Fields SplitFields(std::string_view text) {
    Fields fields;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        if (comma == std::string_view::npos) {
            fields.push_back(text.substr(start));
            return fields;
        }
        fields.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
}

std::string_view FieldAt(const Fields& fields, std::size_t index) {
    return index < fields.size() ? fields[index] : std::string_view{};
}

// Fields [first, last) with the commas put back between them.
std::string JoinFields(const Fields& fields, std::size_t first, std::size_t last) {
    std::string text;
    for (std::size_t i = first; i < last && i < fields.size(); ++i) {
        if (i > first) {
            text += ',';
        }
        text += fields[i];
    }
    return text;
}

bool SameText(std::string_view a, std::string_view b) {
    return AsciiCaseInsensitiveEqual{}(a, b);
}

// A decimal integer with an optional sign, saturated far outside any range
// the panel uses; nothing for anything else.
std::optional<long long> ReadInteger(std::string_view text) {
    text = TrimText(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    constexpr long long kSaturated = 1LL << 40;
    long long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = std::min(value * 10 + (c - '0'), kSaturated);
    }
    return negative ? -value : value;
}

std::optional<int> ReadPercent(std::string_view text) {
    const std::optional<long long> value = ReadInteger(text);
    if (!value) {
        return std::nullopt;
    }
    return static_cast<int>(std::clamp(*value, 0LL, 100LL));
}

// A colour must be a 32-bit value, signed or not; the panel uses its low 24 bits.
std::optional<std::uint32_t> ReadColor(std::string_view text) {
    const std::optional<long long> value = ReadInteger(text);
    if (!value || *value < -(1LL << 31) || *value > 0xFFFFFFFFLL) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(*value) & 0xFFFFFFu;
}

std::optional<TFlashCard> ReadCard(std::string_view text) {
    if (SameText(text, "Local")) {
        return TFlashCard::Local;
    }
    if (SameText(text, "Target")) {
        return TFlashCard::Target;
    }
    return std::nullopt;
}

bool IsDottedAddress(std::string_view text) {
    int parts = 0;
    std::size_t start = 0;
    for (;;) {
        const std::size_t dot = text.find('.', start);
        const std::string_view part = text.substr(start, dot == std::string_view::npos ? dot : dot - start);
        if (part.empty() || part.size() > 3 ||
            !std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; })) {
            return false;
        }
        ++parts;
        if (dot == std::string_view::npos) {
            return parts == 4;
        }
        start = dot + 1;
    }
}

// Position, display, flag, address, country, city, alpha, scale. Extra commas
// can only come from the flag path or the city (the country has none): the
// percentages are the last two fields, and the address, when it is one,
// tells where the flag ends.
void ReadIPInfo(const Fields& f, TFlashCommand& cmd) {
    cmd.Display = SameText(FieldAt(f, 1), "True");
    constexpr std::size_t kFields = 8;
    if (f.size() <= kFields) {
        cmd.Flag = FieldAt(f, 2);
        cmd.IP = FieldAt(f, 3);
        cmd.Country = FieldAt(f, 4);
        cmd.City = FieldAt(f, 5);
        cmd.Alpha = ReadPercent(FieldAt(f, 6));
        cmd.Scale = ReadPercent(FieldAt(f, 7));
        return;
    }
    cmd.Alpha = ReadPercent(f[f.size() - 2]);
    cmd.Scale = ReadPercent(f[f.size() - 1]);
    const Fields middle(f.begin() + 2, f.end() - 2);
    std::size_t ip = 1;
    for (std::size_t i = 1; i + 2 < middle.size(); ++i) {
        if (IsDottedAddress(middle[i])) {
            ip = i;
            break;
        }
    }
    cmd.Flag = JoinFields(middle, 0, ip);
    cmd.IP = middle[ip];
    cmd.Country = middle[ip + 1];
    cmd.City = JoinFields(middle, ip + 2, middle.size());
}

// The colour is the last field; a text without one keeps the colour shown.
void ReadTextInfo(const Fields& f, TFlashCommand& cmd) {
    if (f.size() >= 3) {
        cmd.Color = ReadColor(f.back());
        if (cmd.Color) {
            cmd.Text = JoinFields(f, 1, f.size() - 1);
            return;
        }
    }
    cmd.Text = JoinFields(f, 1, f.size());
}

}  // namespace

TFlashCommand ParseFlashCommand(std::string_view text) {
    TFlashCommand cmd;
    if (text.empty()) {
        return cmd;
    }
    const Fields f = SplitFields(text);
    const std::string_view head = f[0];
    if (SameText(head, "Background") || SameText(head, "Logo")) {
        cmd.Kind = SameText(head, "Logo") ? TFlashCommandKind::Logo : TFlashCommandKind::Background;
        cmd.Path = JoinFields(f, 1, f.size());
    } else if (const std::optional<TFlashCard> card = ReadCard(head)) {
        cmd.Kind = TFlashCommandKind::IPInfo;
        cmd.Card = *card;
        ReadIPInfo(f, cmd);
    } else if (const std::optional<TFlashCard> cardA =
                   head.empty() ? std::nullopt : ReadCard(head.substr(0, head.size() - 1));
               cardA && (head.back() == 'A' || head.back() == 'a')) {
        cmd.Kind = TFlashCommandKind::IPInfoA;
        cmd.Card = *cardA;
        cmd.Alpha = ReadPercent(FieldAt(f, 1));
        cmd.Scale = ReadPercent(FieldAt(f, 2));
    } else if (SameText(head, "Info_Text") || SameText(head, "Info_Text2")) {
        cmd.Kind = SameText(head, "Info_Text") ? TFlashCommandKind::TextInfo : TFlashCommandKind::TextInfo2;
        ReadTextInfo(f, cmd);
    } else if (SameText(head, "Fade")) {
        const std::optional<TFlashCard> target = ReadCard(FieldAt(f, 1));
        const std::string_view direction = FieldAt(f, 2);
        const bool in = SameText(direction, "in");
        if (target && (in || SameText(direction, "out"))) {
            cmd.Kind = TFlashCommandKind::Fade;
            cmd.Card = *target;
            cmd.FadeIn = in;
            // Without a usable limit a fade runs to its natural end.
            cmd.FadeMax = ReadPercent(FieldAt(f, 3)).value_or(in ? 100 : 0);
        }
    } else if (SameText(head, "Turn")) {
        if (const std::optional<TFlashCard> target = ReadCard(FieldAt(f, 1))) {
            cmd.Kind = TFlashCommandKind::Turn;
            cmd.Card = *target;
        }
    }
    return cmd;
}

}  // namespace cloakline
