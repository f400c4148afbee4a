#include "recognition/ChainStore.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace {

using TChainPixels = std::vector<TPixel>;

// Every chain comes back pixel for pixel, after others and after a filter,
// and takes a byte a neighbour step and nine bytes any other.
TEST(ChainStore, ChainsComeBackPixelForPixel)
{
    const struct
    {
        const char *Name;
        TChainPixels Pixels;
        std::size_t StepBytes;
    } cases[] = {
        {"no pixels", {}, 0},
        {"one pixel", {{5, 7}}, 0},
        {"the eight neighbours and itself",
         {{10, 10}, {11, 10}, {12, 11}, {12, 12}, {11, 13}, {10, 13}, {9, 12}, {9, 11}, {10, 10}, {10, 10}},
         9},
        {"a gap joined", {{0, 0}, {1, 0}, {4, 0}, {5, 1}}, 1 + 9 + 1},
        {"far and negative", {{-3, 2}, {-2, 1}, {INT_MAX, INT_MIN}, {-70000, 65536}, {-69999, 65535}}, 1 + 9 + 9 + 1},
        {"closed", {{3, 3}, {4, 4}, {3, 5}, {2, 4}, {3, 3}}, 4},
    };
    TChainStore store;
    TChainPixels read{{99, 99}};
    std::size_t bytes = 0;
    for (const auto &c : cases) {
        store.Append(c.Pixels);
        bytes += c.StepBytes;
        EXPECT_EQ(store.StepBytes(), bytes) << c.Name;
    }
    ASSERT_EQ(store.Count(), std::size(cases));
    for (std::size_t k = 0; k < std::size(cases); ++k) {
        store.Read(k, read);
        EXPECT_EQ(read, cases[k].Pixels) << cases[k].Name;
        const TChainStore::TChain &chain = store.Chain(k);
        EXPECT_EQ(chain.Size, cases[k].Pixels.size()) << cases[k].Name;
        if (!cases[k].Pixels.empty()) {
            EXPECT_EQ(chain.First, cases[k].Pixels.front()) << cases[k].Name;
            EXPECT_EQ(chain.Last, cases[k].Pixels.back()) << cases[k].Name;
        }
    }
    // Stores joined after a chain of their own come back as one store with
    // the chains in order (an empty store among them).
    {
        std::vector<TChainStore> parts(std::size(cases) + 1);
        for (std::size_t k = 0; k < std::size(cases); ++k)
            parts[k + (k >= 2)].Append(cases[k].Pixels);
        TChainStore joined;
        joined.Append(cases[3].Pixels);
        joined.Join(parts);
        EXPECT_EQ(joined.StepBytes(), bytes + cases[3].StepBytes);
        ASSERT_EQ(joined.Count(), std::size(cases) + 1);
        for (std::size_t k = 0; k <= std::size(cases); ++k) {
            joined.Read(k, read);
            EXPECT_EQ(read, cases[k == 0 ? 3 : k - 1].Pixels) << k;
        }
        EXPECT_EQ(parts[0].Count(), 0u);
        // A chain appended after the join comes after them.
        joined.Append(cases[4].Pixels);
        EXPECT_EQ(joined.StepBytes(), bytes + cases[3].StepBytes + cases[4].StepBytes);
        for (std::size_t k = 0; k < joined.Count(); ++k) {
            joined.Read(k, read);
            EXPECT_EQ(read, cases[k == 0 ? 3 : k <= std::size(cases) ? k - 1 : 4].Pixels) << k;
        }
    }
    // Chains of fewer than three pixels go; the rest keep their order.
    store.Filter([](const TChainStore::TChain &c) { return c.Size >= 3; });
    store.Shrink();
    const std::size_t kept[] = {2, 3, 4, 5};
    ASSERT_EQ(store.Count(), std::size(kept));
    for (std::size_t k = 0; k < std::size(kept); ++k) {
        store.Read(k, read);
        EXPECT_EQ(read, cases[kept[k]].Pixels) << cases[kept[k]].Name;
    }
    // A store taking the steps takes the chains again as they are (here
    // backwards), read through it, and chains of its own after them.
    TChainStore taken = store.TakeSteps();
    for (std::size_t k = std::size(kept); k-- > 0;) {
        taken.Read(store.Chain(k), read);
        EXPECT_EQ(read, cases[kept[k]].Pixels) << cases[kept[k]].Name;
        taken.AppendTaken(store.Chain(k));
    }
    taken.Append(cases[1].Pixels);
    taken.Append(cases[3].Pixels);
    ASSERT_EQ(taken.Count(), std::size(kept) + 2);
    for (std::size_t k = 0; k < taken.Count(); ++k) {
        taken.Read(k, read);
        EXPECT_EQ(read, cases[k < std::size(kept) ? kept[std::size(kept) - 1 - k] : k == std::size(kept) ? 1 : 3].Pixels)
            << k;
    }
}

// A store of megabytes of steps lets them go block by block as the chains
// reading them are passed, and only then, with the chains' records: the
// chains still to come read back whole. (The first chain is taken last, so
// its block stays to the end.)
TEST(ChainStore, StepsGoOnceTheirChainsArePassed)
{
    constexpr std::size_t kChains = 5000, kPixels = 500;
    const auto pixels = [](std::size_t k) {
        TChainPixels chain(kPixels);
        for (std::size_t i = 0; i < kPixels; ++i)
            chain[i] = {static_cast<int>(k), static_cast<int>(i + (k % 7 == 0 ? 0 : i / 3))};
        return chain;
    };
    TChainStore appended;
    for (std::size_t k = 0; k < kChains; ++k)
        appended.Append(pixels(k));
    const std::size_t total = appended.StepBytes();
    ASSERT_GT(total, std::size_t(2) << 20);
    TChainStore store = appended.TakeSteps();
    std::vector<std::size_t> order;  // the chain of each place
    for (std::size_t k = 1; k <= kChains; ++k)
        order.push_back(k % kChains);
    for (const std::size_t k : order)
        store.AppendTaken(appended.Chain(k));
    TChainPixels read;
    std::size_t held = total;
    bool released = false;
    for (std::size_t c = 0; c <= kChains; c += c + 100 < kChains ? 100 : 1) {
        const bool went = store.ReleaseChainsBefore(c);
        EXPECT_EQ(went, store.StepBytes() < held) << c;
        EXPECT_LE(store.StepBytes(), held) << c;
        released = released || went;
        held = store.StepBytes();
        for (std::size_t k = c; k < kChains; k += k + 1 < kChains ? 37 : 1) {
            store.Read(k, read);
            ASSERT_EQ(read, pixels(order[k])) << "place " << k << " after releasing before " << c;
        }
        if (c == kChains - 1) {
            EXPECT_TRUE(released);
            EXPECT_GT(held, 0u);  // the first chain's block
        }
    }
    EXPECT_EQ(store.StepBytes(), 0u);
    EXPECT_FALSE(store.ReleaseChainsBefore(kChains));
}

} // namespace
