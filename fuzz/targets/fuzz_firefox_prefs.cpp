// A Firefox profile's "prefs.js" and "user.js" as the user, Firefox or an
// earlier version left them, and "profiles.ini". The input is the two
// preference files split at the first NUL byte; the profile list reads the
// whole input.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/proxy/FirefoxProfiles.h"
#include "fuzz/support/FuzzCheck.h"

using namespace cloakline;

namespace {

std::string_view WithoutFinalLineBreak(std::string_view text) {
    if (text.ends_with('\n')) {
        text.remove_suffix(1);
    }
    if (text.ends_with('\r')) {
        text.remove_suffix(1);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t split = input.find('\0');
    TFirefoxPrefFiles found;
    found.PrefsJs = std::string(input.substr(0, split));
    found.UserJs = split == std::string_view::npos ? std::string() : std::string(input.substr(split + 1));

    for (const bool inUse : {false, true}) {
        for (const bool hiding : {false, true}) {
            const TFirefoxPrefFiles once = SwitchFirefoxPrefFiles(found, hiding, inUse);
            // A second switch to the same state finds nothing more to do, so
            // the timed change never grows the files.
            FUZZ_CHECK(SwitchFirefoxPrefFiles(once, hiding, inUse) == once);
            if (inUse) {
                // A running Firefox writes its own "prefs.js" at its end.
                FUZZ_CHECK(once.PrefsJs == found.PrefsJs);
            }
        }
    }
    // Hide then Stop with no Firefox in between leaves what a Stop alone
    // leaves, but for the line break that the block needed after a last line
    // without one.
    const TFirefoxPrefFiles stopped = SwitchFirefoxPrefFiles(found, false, false);
    const TFirefoxPrefFiles hidden = SwitchFirefoxPrefFiles(found, true, false);
    const TFirefoxPrefFiles back = SwitchFirefoxPrefFiles(hidden, false, false);
    FUZZ_CHECK(back.PrefsJs == stopped.PrefsJs);
    FUZZ_CHECK(WithoutFinalLineBreak(back.UserJs) == WithoutFinalLineBreak(stopped.UserJs));

    for (const std::string& folder : FirefoxProfileFolders(input, "\\home\\u\\.mozilla\\firefox")) {
        FUZZ_CHECK(!folder.empty());
    }
    return 0;
}
