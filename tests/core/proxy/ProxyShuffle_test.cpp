#include "core/proxy/ProxyShuffle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/framework/KTSettings.h"
#include "core/proxy/ProxyManager.h"
#include "tests/core/framework/SettingsTestPlatform.h"
#include "tests/support/RecordingInfoFetcher.h"
#include "tests/support/ScriptedRandom.h"

namespace cloakline {
namespace {

using test::SeededRandom;

// The shuffle as first described: remove the line, insert it at the drawn
// place, in a flat list.
void ReferenceRandomSort(std::vector<std::string>& normal,
                         std::vector<std::string>& super,
                         bool includeSuper,
                         IProxyRandom& random) {
    auto pass = [&random](std::vector<std::string>& list) {
        const std::size_t n = list.size();
        for (std::size_t i = 0; i < n; ++i) {
            const std::uint32_t r = random.Below(static_cast<std::uint32_t>(n > 0 ? n - 1 : 0));
            std::string line = list[i];
            list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
            list.insert(list.begin() + r, line);
        }
    };
    random.Randomize();
    for (int k = 0; k < 4; ++k) {
        pass(normal);
        if (includeSuper) {
            pass(super);
        }
    }
}

std::vector<std::string> Numbered(const std::string& prefix, std::size_t count) {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < count; ++i) {
        lines.push_back(prefix + std::to_string(i));
    }
    return lines;
}

TStringList ToList(const std::vector<std::string>& lines) {
    TStringList list;
    for (const auto& line : lines) {
        list.Add(line);
    }
    return list;
}

TEST(ProxyShuffleTest, SameDrawsGiveTheSamePermutationAsTheFlatListProcedure) {
    test::SettingsTestPlatform env;
    TKTSettings settings(env.P, "");
    test::RecordingInfoFetcher fetcher;
    const std::size_t sizes[][2] = {{0, 0},  {1, 0},     {2, 1},      {3, 3},
                                    {17, 5}, {255, 256}, {700, 1200}, {1500, 90}};
    std::uint64_t seed = 1;
    for (const auto& size : sizes) {
        for (const bool includeSuper : {true, false}) {
            SCOPED_TRACE("n=" + std::to_string(size[0]) + " s=" + std::to_string(size[1]) +
                         (includeSuper ? " with super" : " without super"));
            auto refNormal = Numbered("n", size[0]);
            auto refSuper = Numbered("s", size[1]);
            TStringList normal = ToList(refNormal);
            TStringList super = ToList(refSuper);

            SeededRandom referenceDraws(seed);
            ReferenceRandomSort(refNormal, refSuper, includeSuper, referenceDraws);
            SeededRandom draws(seed);
            TProxyManager manager(settings, fetcher, draws);
            manager.RandomSort(normal, super, includeSuper);

            EXPECT_EQ(normal, ToList(refNormal));
            EXPECT_EQ(super, ToList(refSuper));
            // Both consumed the same number of draws: the next ones agree.
            EXPECT_EQ(draws.Below(1u << 30), referenceDraws.Below(1u << 30));
            ++seed;
        }
    }
}

TEST(ProxyShuffleTest, IndexedSequenceAgreesWithAFlatArrayUnderMixedEdits) {
    // Many inserts at one place force block splits; erases empty blocks.
    SeededRandom draws(42);
    TIndexedSequence sequence(700);
    std::vector<std::uint32_t> flat(700);
    for (std::uint32_t i = 0; i < 700; ++i) {
        flat[i] = i;
    }
    std::uint32_t next = 700;
    for (int step = 0; step < 6000; ++step) {
        const std::uint32_t kind = draws.Below(10);
        if (step < 2000) {
            sequence.Insert(3, next);
            flat.insert(flat.begin() + 3, next++);
        } else if (kind < 4 && !flat.empty()) {
            const std::uint32_t pos = draws.Below(static_cast<std::uint32_t>(flat.size()));
            EXPECT_EQ(sequence.Erase(pos), flat[pos]);
            flat.erase(flat.begin() + pos);
        } else {
            const std::uint32_t pos = draws.Below(static_cast<std::uint32_t>(flat.size() + 1));
            sequence.Insert(pos, next);
            flat.insert(flat.begin() + pos, next++);
        }
        ASSERT_EQ(sequence.Size(), flat.size());
    }
    EXPECT_EQ(sequence.Order(), flat);
    for (std::size_t pos = 0; pos < flat.size(); pos += 97) {
        EXPECT_EQ(sequence.At(pos), flat[pos]);
    }
    while (!flat.empty()) {
        EXPECT_EQ(sequence.Erase(flat.size() - 1), flat.back());
        flat.pop_back();
    }
    EXPECT_EQ(sequence.Size(), 0u);
    sequence.Insert(0, 9);
    EXPECT_EQ(sequence.Order(), std::vector<std::uint32_t>{9});
}

TEST(ProxyShuffleTest, PassDrawsOncePerLineFromAllButTheLastPosition) {
    test::ScriptedRandom draws;
    TIndexedSequence sequence(5);
    ShufflePass(sequence, draws);
    EXPECT_EQ(draws.Bounds, (std::vector<std::uint32_t>{4, 4, 4, 4, 4}));
    // Every line moved to the front in turn reverses the order.
    EXPECT_EQ(sequence.Order(), (std::vector<std::uint32_t>{4, 3, 2, 1, 0}));

    test::ScriptedRandom toEnd;
    toEnd.Default = 2;
    TIndexedSequence other(4);
    ShufflePass(other, toEnd);
    // Position i to 2: 0123 -> 1203 -> 1023 -> 1023 -> 1032; the end is never a destination.
    EXPECT_EQ(other.Order(), (std::vector<std::uint32_t>{1, 0, 3, 2}));
}

}  // namespace
}  // namespace cloakline
