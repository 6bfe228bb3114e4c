#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/proxy/ProxyRandom.h"

namespace cloakline {

// A sequence of indices with erase and insert by position in O(log n): small
// blocks, with a Fenwick tree over their sizes to find the block of a position.
// A flat array would make the move-to-random-position shuffle quadratic.
class TIndexedSequence {
  public:
    // The identity order 0, 1, ..., count - 1.
    explicit TIndexedSequence(std::uint32_t count);

    std::size_t Size() const { return FSize; }
    std::uint32_t At(std::size_t pos) const;
    std::uint32_t Erase(std::size_t pos);
    // pos may be Size(), appending.
    void Insert(std::size_t pos, std::uint32_t value);
    std::vector<std::uint32_t> Order() const;

  private:
    struct Place {
        std::size_t Block;
        std::size_t Offset;
    };
    Place Locate(std::size_t pos) const;
    void AddToBlockCount(std::size_t block, std::int64_t delta);
    void RebuildCounts();
    void SplitBlock(std::size_t block);

    std::vector<std::vector<std::uint32_t>> FBlocks;
    std::vector<std::int64_t> FTree;  // 1-based Fenwick tree of block sizes
    std::size_t FTreeMask = 0;        // highest power of two <= block count
    std::size_t FSize = 0;
};

// One pass of the proxy shuffle over a sequence of n entries: for i from 0 to
// n - 1, the entry at position i moves to a position drawn from [0, n - 2].
void ShufflePass(TIndexedSequence& sequence, IProxyRandom& random);

}  // namespace cloakline
