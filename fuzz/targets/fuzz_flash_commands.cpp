// Status-panel command texts: anything as a command, and the commands the
// program builds from outside texts (server cities, country names, language
// texts) read back into the fields they were built from.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/proxy/FlashCommands.h"
#include "fuzz/support/FuzzCheck.h"

using namespace cloakline;

namespace {

void CheckAnyCommand(std::string_view text) {
    const TFlashCommand cmd = ParseFlashCommand(text);
    if (cmd.Alpha) {
        FUZZ_CHECK(*cmd.Alpha >= 0 && *cmd.Alpha <= 100);
    }
    if (cmd.Scale) {
        FUZZ_CHECK(*cmd.Scale >= 0 && *cmd.Scale <= 100);
    }
    if (cmd.Color) {
        FUZZ_CHECK(*cmd.Color <= 0xFFFFFFu);
    }
    if (cmd.Kind == TFlashCommandKind::Fade) {
        FUZZ_CHECK(cmd.FadeMax >= 0 && cmd.FadeMax <= 100);
    }
    FUZZ_CHECK(cmd.Path.size() <= text.size() && cmd.Text.size() <= text.size());
}

void CheckBuiltCommands(std::string_view outside, std::int32_t color) {
    const TFlashCommand info = ParseFlashCommand(FlashCommandText::SetTextInfo(outside, color));
    FUZZ_CHECK(info.Kind == TFlashCommandKind::TextInfo);
    FUZZ_CHECK(info.Text == outside);
    FUZZ_CHECK(info.Color.has_value() && *info.Color == (static_cast<std::uint32_t>(color) & 0xFFFFFFu));

    const TFlashCommand info2 = ParseFlashCommand(FlashCommandText::SetTextInfo2(outside, color));
    FUZZ_CHECK(info2.Kind == TFlashCommandKind::TextInfo2 && info2.Text == outside);

    const TFlashCommand background = ParseFlashCommand(FlashCommandText::SetBackground(outside));
    FUZZ_CHECK(background.Kind == TFlashCommandKind::Background && background.Path == outside);

    const std::string ip = "10.20.30.40";
    const TFlashCommand card = ParseFlashCommand(FlashCommandText::SetIPInfo(
        "Target", "True", "C:\\prog\\res\\flags\\DE.PNG", ip, outside, outside, "50", "100"));
    FUZZ_CHECK(card.Kind == TFlashCommandKind::IPInfo && card.Card == TFlashCard::Target);
    FUZZ_CHECK(card.Display && card.IP == ip && card.City == outside);
    FUZZ_CHECK(card.Country.find(',') == std::string::npos && card.Country.size() == outside.size());
    FUZZ_CHECK(card.Alpha == 50 && card.Scale == 100);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckAnyCommand(input);
    if (size >= 4) {
        std::int32_t color = 0;
        std::memcpy(&color, data, sizeof color);
        CheckBuiltCommands(input.substr(4), color);
    }
    return 0;
}
