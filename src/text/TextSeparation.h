#pragma once

#include "scan/BlackMask.h"
#include "scan/TextStrings.h"

#include <memory>
#include <utility>
#include <vector>

// Sizes of the letters looked for, in pixels.
struct TTextSizes
{
    // Smallest letter that starts a string (a smaller piece, a full stop or a
    // dot of a colon, only joins a string it lies in).
    int MinHeight = 16;
    // Largest letter: anything taller or much wider is drawing.
    int MaxHeight = 160;

    // Letters of 1 to 10 mm at `dpi` dots per inch; below 150 dpi (none, or a
    // screen's) letters of 12 to 160 pixels.
    static TTextSizes ForResolution(int dpi);
};

// One connected piece of black (8-neighbours): its box (Right, Bottom one past
// the last) and its number of pixels.
struct TInkComponent
{
    int Left, Top, Right, Bottom;
    long long Pixels;
    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
};

// A vector whose new elements are left uninitialised (filled right after).
template <class T>
struct TUninitialisedAllocator : std::allocator<T>
{
    template <class U>
    struct rebind
    {
        using other = TUninitialisedAllocator<U>;
    };
    TUninitialisedAllocator() = default;
    template <class U>
    TUninitialisedAllocator(const TUninitialisedAllocator<U> &) noexcept
    {
    }
    template <class U>
    void construct(U *p) noexcept
    {
        ::new (static_cast<void *>(p)) U;
    }
    template <class U, class... A>
    void construct(U *p, A &&...a)
    {
        ::new (static_cast<void *>(p)) U(std::forward<A>(a)...);
    }
};

// A run of black along a line: pixels X0 .. X1 - 1.
struct TInkRun
{
    int X0, X1;
};

// The connected pieces of a mask, and which piece each black run belongs to.
struct TInkComponents
{
    std::vector<TInkComponent> Components;
    // The runs of black along the lines, line by line, left to right, are
    // numbered: line y has runs RunStart[y] .. RunStart[y + 1] - 1, run r is
    // Runs[r] and belongs to piece RunComponent[r].
    std::vector<int> RunStart;
    std::vector<TInkRun, TUninitialisedAllocator<TInkRun>> Runs;
    std::vector<int, TUninitialisedAllocator<int>> RunComponent;
};
// Lines are shared among `threads` threads in bands; the result is the same
// for any number.
TInkComponents FindComponents(const TBlackMask &mask, int threads = 1);

// The mask split into text and graphics: connected pieces of letter size and
// shape, grouped into strings running along the rows or along the columns
// (after Fletcher and Kasturi, 1988, and Tombre et al., 2002). Letters that
// stand on one straight line along the rows or the columns, hang under it or
// touch it are taken off it, the pixels they share with the line left to the
// line: a line is never taken for text. Pieces alone or in rows of dashes
// (every one long and thin) stay graphics.
struct TTextSeparation
{
    TBlackMask Graphics;
    TBlackMask Text;
    // Boxes of the strings; Text, Confidence and the segment range unset.
    TTextStrings Strings;
};
TTextSeparation SeparateText(TBlackMask mask, const TTextSizes &sizes, int threads = 1);

// Which string a point lies in: the first string whose box, grown by `margin`
// on every side, holds it; strings.size() when none does. Strings are filed
// by grid cells, so a point is tried against the few near it.
class TStringLookup
{
public:
    TStringLookup(const TTextStrings &strings, float margin);
    std::size_t Find(float x, float row) const;

private:
    static constexpr int kCell = 128;
    const TTextStrings &Strings;
    float Margin;
    int Columns = 0, Rows = 0;
    std::vector<int> Start, Items;
};
