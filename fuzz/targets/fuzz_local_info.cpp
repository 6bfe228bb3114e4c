// The server's local-information answer as the proxy manager stores it, and
// what the program builds from it: the card's values, the flag pictures and
// the touch address.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/framework/KTSettings.h"
#include "core/proxy/HideRules.h"
#include "core/proxy/ProxyManager.h"
#include "fuzz/support/FuzzCheck.h"
#include "fuzz/support/MemoryPlatform.h"

using namespace cloakline;

namespace {

// Answers every request at once with the input, as the main thread would
// once the worker hands the body over.
class AnsweringFetcher : public IInfoFetcher {
  public:
    explicit AnsweringFetcher(std::string answer) : FAnswer(std::move(answer)) {}
    void Fetch(const std::string& url, TOnInfoGot onInfoGot) override {
        LastUrl = url;
        if (!FAnswer.empty()) {
            onInfoGot(FAnswer);
        }
    }
    std::string LastUrl;

  private:
    std::string FAnswer;
};

class FixedRandom : public IProxyRandom {
  public:
    void Randomize() override {}
    std::uint32_t Below(std::uint32_t) override { return 0; }
};

constexpr std::string_view kAppPath = "C:\\prog\\";
constexpr std::string_view kUserPath = "C:\\user\\data\\";
constexpr std::string_view kServerFlags = "http://127.0.0.1:8480/flags/";

// A picture reference stays inside its folder or on the server.
void CheckInside(const std::string& reference) {
    if (reference.empty()) {
        return;
    }
    FUZZ_CHECK(reference.starts_with(kAppPath) || reference.starts_with(kUserPath) ||
               reference.starts_with(kServerFlags));
    FUZZ_CHECK(reference.find("..") == std::string::npos);
    FUZZ_CHECK(reference.find('/', reference.starts_with(kServerFlags) ? kServerFlags.size() : 0) ==
               std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    fuzz::MemoryPlatform platform;
    platform.Files->Files[std::string(fuzz::MemoryPlatform::kConstPath)] =
        "[setting]\r\nURL.GetInfo=http://127.0.0.1:8480/info\r\nApp.MagicWord=w\r\n"
        "SUPER_TOUCH=http://127.0.0.1:8480/touch?ip={1}&again={1}\r\n";
    TKTSettings settings(platform.P, {});
    AnsweringFetcher fetcher{std::string(input)};
    FixedRandom random;
    TProxyManager manager(settings, fetcher, random);
    int answers = 0;
    manager.SetOnGetCurrentLocalInfo([&](TProxyManager&) { ++answers; });
    manager.GetCurrentLocalInfo();
    FUZZ_CHECK(answers == (input.empty() ? 0 : 1));

    const std::string ip = manager.LocalInfoValue("IP");
    const std::string code = manager.LocalInfoValue("COUNTRY_SHORT");
    manager.LocalInfoValue("COUNTRY_LONG");
    manager.LocalInfoValue("CITY");
    IsRefusedLocalCountry(code);
    for (const std::string& line : manager.LocalInfo()) {
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string::npos);
    }

    const auto nothingShipped = [](const std::string&) { return false; };
    const auto everythingShipped = [](const std::string&) { return true; };
    CheckInside(LocalFlagReference(kAppPath, "res\\flags\\", kServerFlags, code, nothingShipped));
    CheckInside(LocalFlagReference(kAppPath, "res\\flags\\", kServerFlags, code, everythingShipped));
    CheckInside(TargetFlagReference(kAppPath, "res\\flags\\", kUserPath, kServerFlags, code, nothingShipped));
    const TSmallFlagSource small = SmallFlagSource(kAppPath, kUserPath, kServerFlags, code, nothingShipped);
    CheckInside(small.Path);
    CheckInside(small.URL);

    TProxyRec super;
    super.IP = ip;
    super.IsSuper = true;
    manager.Touch(super);
    FUZZ_CHECK(fetcher.LastUrl.find("{1}") == std::string::npos || ip.find("{1}") != std::string::npos);
    return 0;
}
