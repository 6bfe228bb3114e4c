// Proxy lists as the settings deliver them: one line on its own, then the
// input as the ordinary and the super list of a settings store, loaded and
// asked for countries and proxies.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/framework/KTSettings.h"
#include "core/proxy/HideRules.h"
#include "core/proxy/ProxyManager.h"
#include "core/proxy/ProxyText.h"
#include "core/support/StringList.h"
#include "core/support/TextEncoding.h"
#include "core/support/TextUtils.h"
#include "core/support/UrlUtils.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/MemoryPlatform.h"

using namespace cloakline;

namespace {

class NoFetcher : public IInfoFetcher {
  public:
    void Fetch(const std::string&, TOnInfoGot) override {}
};

// Draws that depend only on the input, so that a crash replays.
class InputRandom : public IProxyRandom {
  public:
    explicit InputRandom(std::string_view input) {
        for (char c : input) {
            FState = (FState ^ static_cast<unsigned char>(c)) * 0x100000001b3ull;
        }
    }
    void Randomize() override {}
    std::uint32_t Below(std::uint32_t bound) override {
        FState = FState * 6364136223846793005ull + 1442695040888963407ull;
        return bound == 0 ? 0 : static_cast<std::uint32_t>(FState >> 33) % bound;
    }

  private:
    std::uint64_t FState = 0xcbf29ce484222325ull;
};

void CheckOneLine(std::string_view line) {
    const TProxyRec rec = ParseProxyLine(line, false);
    FUZZ_CHECK(rec.ProxyText().size() <= line.size() + 1);
    if (rec.NeedsGateway()) {
        // Scheme and credentials come only with a whole address, and the
        // text a browser could see holds none of them.
        const auto upstream = rec.UpstreamAddress();
        FUZZ_CHECK(upstream && upstream->HostPort() == rec.ProxyText());
        FUZZ_CHECK(ParseProxyAddress(upstream->ToText()) == upstream);
        FUZZ_CHECK(RedactUrlCredentials(upstream->ToText()).ends_with(rec.ProxyText()));
    }
    if (const auto endpoint = ParseProxyText(rec.ProxyText())) {
        // A text the browsers may get is exactly the host and the port it names.
        FUZZ_CHECK(endpoint->Host + ":" + std::to_string(endpoint->Port) == rec.ProxyText());
        FUZZ_CHECK(rec.ProxyText().find_first_of(";=\"'\r\n \\") == std::string::npos);
    }
}

void CheckChoice(const TProxyRec& choice, std::string_view country) {
    if (choice.HasAddress()) {
        FUZZ_CHECK(country == "UN" || SameTextAscii(choice.Country_Short, country));
    }
    if (IsUsableProxyChoice(choice)) {
        FUZZ_CHECK(IsValidProxyText(choice.ProxyText()));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    CheckOneLine(input.substr(0, input.find(';')));

    fuzz::MemoryPlatform platform;
    const std::size_t half = input.size() / 2;
    platform.Files->Files[std::string(fuzz::MemoryPlatform::kConstPath)] =
        "[setting]\r\nNORMAL_IPS=" + LineBreaksToSpaces(input.substr(0, half)) +
        "\r\nSUPER_IPS=" + LineBreaksToSpaces(input.substr(half)) + "\r\n";
    TKTSettings settings(platform.P, {});
    NoFetcher fetcher;
    InputRandom random(input);
    TProxyManager manager(settings, fetcher, random);
    manager.LoadSettings();

    TStringList countries;
    manager.GetCountryList(&countries);
    manager.GetCountryList(nullptr);
    std::string longitude;
    std::string latitude;
    for (const std::string& name : countries) {
        const std::string code = manager.GetCountryShort(name);
        manager.GetCountryLong(code);
        manager.GetCountryPosition(name, longitude, latitude);
        FUZZ_CHECK(manager.GetcountryListCount(code, true) >= manager.GetcountryListCount(code, false));
    }
    TProxyRec rec;
    TProxyManager::GetProxyRec(manager.NormalProxyList(), -1, false, rec);
    TProxyManager::GetProxyRec(manager.NormalProxyList(), 0, false, rec);

    std::string country = "UN";
    if (!manager.NormalProxyList().Empty()) {
        country = ParseProxyLine(manager.NormalProxyList()[0], false).Country_Short;
    }
    const TProxyRange ranges[] = {TProxyRange::KAll, TProxyRange::KNormal, TProxyRange::KSuper};
    for (int round = 0; round < 6; ++round) {
        const std::string_view asked = round % 2 == 0 ? std::string_view(country) : std::string_view("UN");
        const TProxyRec choice = manager.GetIdleProxy(asked, round == 3, ranges[round % 3], true);
        CheckChoice(choice, asked);
        FUZZ_CHECK(manager.UsedProxyList().Count() <=
                   manager.NormalProxyList().Count() + manager.SuperProxyList().Count());
    }
    // Without the gateway no choice needs it, and a country runs out and
    // starts again rather than sticking.
    manager.SetGatewayAvailable(false);
    for (int round = 0; round < 4; ++round) {
        const bool any = manager.GetcountryListCount(country, false) > 0;
        const TProxyRec choice = manager.GetIdleProxy(country, false, TProxyRange::KAll, true);
        FUZZ_CHECK(!choice.NeedsGateway());
        CheckChoice(choice, country);
        if (any) {
            const TStringList& used = manager.UsedProxyList();
            FUZZ_CHECK(!used.Empty() && used[used.Count() - 1] == choice.IP);
        }
    }
    TStringList normal = manager.NormalProxyList();
    TStringList super = manager.SuperProxyList();
    manager.RandomSort(normal, super, true);
    FUZZ_CHECK(normal.Count() == manager.NormalProxyList().Count());
    return 0;
}
