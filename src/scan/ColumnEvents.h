#pragma once

// The columns of a black mask where something happens.
//   TColumnEvents - the rows at which something happens down each column of
//                   a band, top down; throws std::bad_alloc without memory.
//   TKeptColumnEvents - the same held in exactly their size, for a band
//                   whose segments come later.

#include "scan/BlackMask.h"
#include "scan/PodArray.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#if !defined(__GNUC__) && !defined(__clang__) && defined(_M_X64)
#include <xmmintrin.h>
#endif

// The rows at which something happens down each column of a band of columns
// (the start or end of a run, a change of a boundary), found from the mask's
// rows, 64 columns a word, without a transposed copy of the columns. The
// events of a column come out top down.
class TColumnEvents
{
public:
    // Columns first .. end - 1 (first < end). events(above, line, below, w)
    // gives the columns of word w of row y (line: Line(y), above: Line(y - 1),
    // below: Line(y + 1)) that have an event at row y; it is called row after
    // row from the top, and within a row for the band's words in order, so
    // that it may carry what it needs from one row to the next for each word.
    // Bits of columns outside the band are ignored.
    template <class Events>
    TColumnEvents(const TBlackMask &mask, int first, int end, Events &&events) : First(first), EndColumn(end)
    {
        const int firstWord = first >> 6;
        const int endWord = (end + 63) >> 6;
        const std::uint64_t firstMask = ~std::uint64_t(0) << (first & 63);
        const std::uint64_t lastMask = (end & 63) ? (std::uint64_t(1) << (end & 63)) - 1 : ~std::uint64_t(0);
        Counts.assign(static_cast<std::size_t>(end - first) + 1, 0);
        std::int32_t *counts = Counts.data() + 1 - first;
        // Found row by row, then put in column order (a counting sort keeps
        // each column's rows in order).
        TakeSpare();
        TPodArray<TFound> &found = Found;
        found.Resize(0);
        found.Reserve(kFoundAtOnce);
        const int height = mask.Height();
        for (int y = 0; y < height; ++y) {
            const std::uint64_t *above = mask.Line(y - 1);
            const std::uint64_t *line = mask.Line(y);
            const std::uint64_t *below = mask.Line(y + 1);
            // The rows are far apart in memory: the next ones are asked for
            // early, so that the walk does not wait for each.
            if (y + kAhead < height)
                for (int w = firstWord; w < endWord; w += 8)
                    PrefetchWords(mask.Line(y + kAhead) + w);
            for (int w = firstWord; w < endWord; ++w) {
                std::uint64_t bits = events(above, line, below, w);
                if (!bits)
                    continue;
                if (w == firstWord)
                    bits &= firstMask;
                if (w == endWord - 1)
                    bits &= lastMask;
                ForEachBit(bits, w * 64, [&](int x) {
                    found.PushBack(TFound{x, y});
                    ++counts[x];
                    return true;
                });
            }
        }
        for (std::size_t i = 1; i < Counts.size(); ++i)
            Counts[i] += Counts[i - 1];
        Rows.Reserve(kFoundAtOnce * 2);
        Rows.Resize(found.Size());
        std::vector<std::int32_t> next(Counts.begin(), Counts.end() - 1);
        std::int32_t *at = next.data() - first;
        for (std::size_t i = 0; i < found.Size(); ++i)
            Rows[static_cast<std::size_t>(at[found[i].X]++)] = found[i].Y;
    }

    ~TColumnEvents();
    // Frees the working memory this thread keeps for its next band.
    static void ReleaseSpare();
    TColumnEvents(const TColumnEvents &) = delete;
    TColumnEvents &operator=(const TColumnEvents &) = delete;

    int End() const { return EndColumn; }
    // The rows of column x's events, top down: Begin(x) up to End(x).
    const std::int32_t *Begin(int x) const { return Rows.Data() + Counts[static_cast<std::size_t>(x - First)]; }
    const std::int32_t *End(int x) const { return Rows.Data() + Counts[static_cast<std::size_t>(x - First) + 1]; }

private:
    friend class TKeptColumnEvents;
    static constexpr int kAhead = 8;
    // Room for the events of a band from the start: a large page.
    static constexpr std::size_t kFoundAtOnce = (std::size_t(2) << 20) / 8;
    static void PrefetchWords(const std::uint64_t *words)
    {
#if defined(__GNUC__) || defined(__clang__)
        __builtin_prefetch(words);
#elif defined(_M_X64)
        _mm_prefetch(reinterpret_cast<const char *>(words), _MM_HINT_T0);
#else
        (void)words;
#endif
    }

    struct TFound
    {
        std::int32_t X, Y;
    };
    // The working memory of the last band that ended on this thread is taken
    // over by the next one: fresh memory costs its first touch.
    void TakeSpare();
    static TPodArray<TFound> &SpareFound();
    static TPodArray<std::int32_t> &SpareRows();

    int First;
    int EndColumn;
    TPodArray<TFound> Found;
    // Column x's events are Rows[Counts[x - First]] .. Rows[Counts[x - First + 1] - 1].
    std::vector<std::int32_t> Counts;
    TPodArray<std::int32_t> Rows;
};

// The events of a band of columns kept until their segments are appended, in
// exactly their size (4 bytes an event; a segment takes 16): the events of
// every band can be found while the mask is there and the segments made
// after it has gone.
class TKeptColumnEvents
{
public:
    TKeptColumnEvents() = default;
    explicit TKeptColumnEvents(const TColumnEvents &events);

    const std::int32_t *Begin(int x) const { return Rows.data() + Ends[static_cast<std::size_t>(x - First)]; }
    const std::int32_t *End(int x) const { return Rows.data() + Ends[static_cast<std::size_t>(x - First) + 1]; }
    // The band's last column.
    int Last() const { return First + static_cast<int>(Ends.size()) - 2; }

private:
    int First = 0;
    // Column x's events are Rows[Ends[x - First]] .. Rows[Ends[x - First + 1] - 1].
    std::vector<std::int32_t> Ends;
    std::vector<std::int32_t> Rows;
};
