// The settings store against documents of 10,000 keys: a layered read must be
// a hash lookup, and a load plus save must stay linear in the file's size.
#include <benchmark/benchmark.h>

#include <random>

#include "core/framework/EngineLayers.h"
#include "core/framework/IniDocument.h"
#include "core/framework/KTSettings.h"
#include "tests/core/framework/SettingsTestPlatform.h"

namespace {

using namespace cloakline;

constexpr int kKeys = 10000;

std::string Document(const std::string& prefix, int keys) {
    std::string text = "[setting]\r\n";
    for (int i = 0; i < keys; ++i) {
        text += prefix + std::to_string(i) + "=value of " + prefix + " number " + std::to_string(i) + "\r\n";
    }
    return text;
}

class Engine : public IEngineLayers {
  public:
    TStringList Overwrite;
    TStringList Default{"Path.Skins=skins", "Path.Languages=lang"};
    const TStringList& SettingOverwrite() const override { return Overwrite; }
    const TStringList& SettingDefault() const override { return Default; }
};

// Reads spread over every layer: the user file, the partner file, the
// constants, the engine's defaults and names that no layer has.
void BM_LayeredRead(benchmark::State& state) {
    const int keys = static_cast<int>(state.range(0));
    test::SettingsTestPlatform env;
    env.WriteConst(Document("Const.Key", keys));
    env.WriteOem(Document("Oem.Key", keys));
    TKTSettings settings(env.P, "");
    settings.BeginUpdate();
    for (int i = 0; i < keys; ++i) {
        settings.SetSettingstring("User.Key" + std::to_string(i), "user value");
    }
    settings.EndUpdate();
    Engine engine;
    SetGlobalEngineLayers(&engine);

    const char* prefixes[] = {"User.Key", "Oem.Key", "Const.Key", "Missing.Key"};
    std::vector<std::string> names;
    std::mt19937 random(7);
    for (int i = 0; i < 4096; ++i) {
        names.push_back(prefixes[i % 4] + std::to_string(random() % static_cast<unsigned>(keys)));
    }
    names.push_back("Path.Skins");
    std::size_t i = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(settings.GetSettingString(names[i++ % names.size()]));
    }
    SetGlobalEngineLayers(nullptr);
    state.SetItemsProcessed(state.iterations());
}
// The same read against 100 to 100,000 keys per file: flat when it is a lookup.
BENCHMARK(BM_LayeredRead)->Arg(100)->Arg(kKeys)->Arg(100000);

// Opening the store with a 10,000-key "setting.dat" (which reads all three
// files and saves the run counter) and saving it again.
void BM_LoadAndSave10000KeySettings(benchmark::State& state) {
    test::SettingsTestPlatform env;
    {
        TKTSettings first(env.P, "");
        first.BeginUpdate();
        for (int i = 0; i < kKeys; ++i) {
            first.SetSettingstring("User.Key" + std::to_string(i), "a user value of moderate length");
        }
        first.EndUpdate();
    }
    for (auto _ : state) {
        TKTSettings settings(env.P, "");
        settings.SetSettingstring("User.Key5000", "changed");
        benchmark::DoNotOptimize(settings.RunTimes());
    }
}
BENCHMARK(BM_LoadAndSave10000KeySettings)->Unit(benchmark::kMillisecond);

void BM_ParseDocument(benchmark::State& state) {
    const std::string text = Document("Key", static_cast<int>(state.range(0)));
    for (auto _ : state) {
        TIniDocument doc;
        doc.LoadFromBytes(text);
        benchmark::DoNotOptimize(doc.SectionCount());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_ParseDocument)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
