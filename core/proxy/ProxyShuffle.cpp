#include "core/proxy/ProxyShuffle.h"

#include <algorithm>
#include <bit>
#include <iterator>

namespace cloakline {
namespace {

// Small enough that shifting inside a block costs little, large enough that
// the tree over the blocks stays shallow.
constexpr std::size_t kBlockSize = 256;
constexpr std::size_t kMaxBlockSize = 4 * kBlockSize;

}  // namespace

TIndexedSequence::TIndexedSequence(std::uint32_t count) : FSize(count) {
    const std::size_t blocks = std::max<std::size_t>(1, (count + kBlockSize - 1) / kBlockSize);
    FBlocks.resize(blocks);
    std::uint32_t next = 0;
    for (auto& block : FBlocks) {
        block.reserve(2 * kBlockSize);
        while (block.size() < kBlockSize && next < count) {
            block.push_back(next++);
        }
    }
    RebuildCounts();
}

void TIndexedSequence::RebuildCounts() {
    const std::size_t n = FBlocks.size();
    FTree.assign(n + 1, 0);
    for (std::size_t b = 0; b < n; ++b) {
        FTree[b + 1] += static_cast<std::int64_t>(FBlocks[b].size());
        const std::size_t parent = (b + 1) + ((b + 1) & (~(b + 1) + 1));
        if (parent <= n) {
            FTree[parent] += FTree[b + 1];
        }
    }
    FTreeMask = std::bit_floor(n);
}

void TIndexedSequence::AddToBlockCount(std::size_t block, std::int64_t delta) {
    for (std::size_t i = block + 1; i < FTree.size(); i += i & (~i + 1)) {
        FTree[i] += delta;
    }
}

TIndexedSequence::Place TIndexedSequence::Locate(std::size_t pos) const {
    // The first block whose running total passes pos.
    std::size_t index = 0;
    auto remaining = static_cast<std::int64_t>(pos);
    for (std::size_t step = FTreeMask; step != 0; step >>= 1) {
        const std::size_t next = index + step;
        if (next < FTree.size() && FTree[next] <= remaining) {
            index = next;
            remaining -= FTree[next];
        }
    }
    return {index, static_cast<std::size_t>(remaining)};
}

std::uint32_t TIndexedSequence::At(std::size_t pos) const {
    const Place place = Locate(pos);
    return FBlocks[place.Block][place.Offset];
}

std::uint32_t TIndexedSequence::Erase(std::size_t pos) {
    const Place place = Locate(pos);
    auto& block = FBlocks[place.Block];
    const auto at = block.begin() + static_cast<std::ptrdiff_t>(place.Offset);
    const std::uint32_t value = *at;
    block.erase(at);
    AddToBlockCount(place.Block, -1);
    --FSize;
    return value;
}

void TIndexedSequence::Insert(std::size_t pos, std::uint32_t value) {
    Place place{};
    if (pos >= FSize) {
        place = {FBlocks.size() - 1, FBlocks.back().size()};
    } else {
        place = Locate(pos);
    }
    auto& block = FBlocks[place.Block];
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(place.Offset), value);
    AddToBlockCount(place.Block, 1);
    ++FSize;
    if (block.size() > kMaxBlockSize) {
        SplitBlock(place.Block);
    }
}

void TIndexedSequence::SplitBlock(std::size_t block) {
    auto& full = FBlocks[block];
    const auto middle = full.begin() + static_cast<std::ptrdiff_t>(full.size() / 2);
    std::vector<std::uint32_t> upper(middle, full.end());
    upper.reserve(2 * kBlockSize);
    full.erase(middle, full.end());
    FBlocks.insert(FBlocks.begin() + static_cast<std::ptrdiff_t>(block) + 1, std::move(upper));
    RebuildCounts();
}

std::vector<std::uint32_t> TIndexedSequence::Order() const {
    std::vector<std::uint32_t> order;
    order.reserve(FSize);
    for (const auto& block : FBlocks) {
        order.insert(order.end(), block.begin(), block.end());
    }
    return order;
}

void ShufflePass(TIndexedSequence& sequence, IProxyRandom& random) {
    const std::size_t n = sequence.Size();
    const auto bound = static_cast<std::uint32_t>(n > 0 ? n - 1 : 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t destination = random.Below(bound);
        sequence.Insert(destination, sequence.Erase(i));
    }
}

}  // namespace cloakline
