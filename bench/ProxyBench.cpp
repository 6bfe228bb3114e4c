// The proxy choice against long server lists: each call shuffles copies of
// both lists, so its cost must stay close to n log n.
#include <benchmark/benchmark.h>

#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/FakeClock.h"
#include "tests/support/RecordingInfoFetcher.h"

namespace {

using namespace cloakline;

const char* const kCountries[][2] = {{"Germany", "DE"}, {"France", "FR"}, {"Japan", "JP"},  {"Brazil", "BR"},
                                     {"Canada", "CA"},  {"India", "IN"},  {"Kenya", "KE"},  {"Norway", "NO"},
                                     {"Peru", "PE"},    {"Spain", "ES"},  {"Turkey", "TR"}, {"Chile", "CL"}};

std::string ProxyLines(int count, int firstOctet) {
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 40);
    for (int i = 0; i < count; ++i) {
        const auto& country = kCountries[i % std::size(kCountries)];
        text += std::to_string(firstOctet) + "." + std::to_string((i >> 16) & 255) + "." +
                std::to_string((i >> 8) & 255) + "." + std::to_string(i & 255) + ":8080|" + country[0] + "|" +
                country[1] + "|10.5|51.2;";
    }
    return text;
}

void BM_GetIdleProxy(benchmark::State& state) {
    const int normal = static_cast<int>(state.range(0));
    test::SettingsTestPlatform env;
    env.WriteConst("[setting]\r\nNORMAL_IPS=" + ProxyLines(normal, 10) +
                   "\r\nSUPER_IPS=" + ProxyLines(normal / 10, 20) + "\r\n");
    TKTSettings settings(env.P, "");
    test::RecordingInfoFetcher fetcher;
    TClockSeededRandom random(*env.Clock);
    TProxyManager manager(settings, fetcher, random);
    manager.LoadSettings();
    for (auto _ : state) {
        benchmark::DoNotOptimize(manager.GetIdleProxy("DE", false, TProxyRange::KAll, true));
    }
    state.SetComplexityN(normal);
}
BENCHMARK(BM_GetIdleProxy)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->Complexity();

// The four passes done by removing and re-inserting in a flat list, for scale.
void BM_FlatListShuffle(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    std::vector<std::string> lines(count, "10.0.0.1:8080|Germany|DE|10.5|51.2");
    const test::FakeClock clock;
    TClockSeededRandom random(clock);
    for (auto _ : state) {
        for (int pass = 0; pass < 4; ++pass) {
            for (std::size_t i = 0; i < count; ++i) {
                const std::uint32_t r = random.Below(static_cast<std::uint32_t>(count - 1));
                std::string line = std::move(lines[i]);
                lines.erase(lines.begin() + static_cast<std::ptrdiff_t>(i));
                lines.insert(lines.begin() + r, std::move(line));
            }
        }
    }
    state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_FlatListShuffle)->Arg(1000)->Arg(10000)->Arg(30000)->Unit(benchmark::kMillisecond)->Complexity();

}  // namespace

BENCHMARK_MAIN();
