// The server's update answer, read and applied to a settings store. Whatever
// the answer says, the settings it may not touch keep their values.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/framework/KTSettings.h"
#include "core/framework/KTUpdateRules.h"
#include "core/support/TextUtils.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/MemoryPlatform.h"

using namespace cloakline;

namespace {

constexpr std::string_view kMagicWord = "fuzzmagic";
constexpr std::array<std::string_view, 11> kGuarded = {
    "FireFoxPath", "URL.LocalFlagPath", "FLS.Background", "FLS.Logo",          "App.ConfigPath", "App.GUID",
    "App.ID",      "App.MagicWord",     "Path.Flags",     "Setting.NoAllUser", "path.anything",
};

std::string Constants() {
    std::string text = "[setting]\r\nApp.MagicWord=" + std::string(kMagicWord) + "\r\n";
    for (std::string_view name : kGuarded) {
        if (name != "App.MagicWord") {
            text += std::string(name) + "=shipped\r\n";
        }
    }
    return text + "NORMAL_IPS=10.0.0.1:80|Germany|DE|10|50\r\n";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    fuzz::MemoryPlatform platform;
    platform.Files->Files[std::string(fuzz::MemoryPlatform::kConstPath)] = Constants();
    TKTSettings settings(platform.P, {});

    std::array<std::string, kGuarded.size()> before;
    for (std::size_t i = 0; i < kGuarded.size(); ++i) {
        before[i] = settings.GetSettingString(kGuarded[i]);
    }

    const TUpdateAnswer answer = ReadUpdateAnswer(input, settings.GetSettingString("App.MagicWord"));
    FUZZ_CHECK(answer.Accepted || (answer.Pushes.empty() && answer.Refused.empty()));
    FUZZ_CHECK(input.size() <= kMaxUpdateAnswerBytes || !answer.Accepted);
    for (const TSettingPush& push : answer.Pushes) {
        FUZZ_CHECK(StartsWithText(push.Name, kBannerPrefix) || !IsProtectedFromUpdate(push.Name));
    }
    ApplyUpdateAnswer(answer, settings);

    for (std::size_t i = 0; i < kGuarded.size(); ++i) {
        FUZZ_CHECK(settings.GetSettingString(kGuarded[i]) == before[i]);
    }
    return 0;
}
