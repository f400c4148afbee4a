#include "base/LargeBlock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// A block's bytes survive every growth and shrink (in place or moved, small
// and large sizes), and fresh blocks are zero.
TEST(LargeBlock, KeepsContentsThroughGrowthAndShrink)
{
    const std::vector<std::size_t> sizes = {
        16,           100,          4096,         64 * 1024,     (1u << 20) - 8, 1u << 20,
        (2u << 20),   (2u << 20) + 8, (5u << 20) + 3, 17u << 20,     3u << 20,       1000,
    };
    auto *zeroed = static_cast<std::uint8_t *>(LargeBlock::AllocateZeroed(3u << 20));
    ASSERT_NE(zeroed, nullptr);
    for (std::size_t i = 0; i < (3u << 20); i += 4093)
        ASSERT_EQ(zeroed[i], 0) << i;
    // Something in the way of growth in place.
    void *neighbour = LargeBlock::Allocate(4096);

    void *block = LargeBlock::Allocate(sizes[0]);
    ASSERT_NE(block, nullptr);
    std::size_t filled = 0;
    const auto pattern = [](std::size_t i) { return static_cast<std::uint8_t>(i * 131 + (i >> 12)); };
    for (const std::size_t size : sizes) {
        block = LargeBlock::Reallocate(block, size);
        ASSERT_NE(block, nullptr) << size;
        auto *bytes = static_cast<std::uint8_t *>(block);
        const std::size_t kept = std::min(filled, size);
        for (std::size_t i = 0; i < kept; ++i)
            ASSERT_EQ(bytes[i], pattern(i)) << "size " << size << " byte " << i;
        for (std::size_t i = kept; i < size; ++i)
            bytes[i] = pattern(i);
        filled = size;
    }
    LargeBlock::Free(block);
    LargeBlock::Free(neighbour);
    LargeBlock::Free(zeroed);
    LargeBlock::Free(nullptr);
}

} // namespace
