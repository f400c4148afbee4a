#pragma once

#include "scan/BlackMask.h"
#include "scan/TextStrings.h"

#include <vector>

// Sizes of the letters looked for, in pixels.
struct TTextSizes
{
    // Smallest letter that starts a string (a smaller piece, a full stop or a
    // dot of a colon, only joins a string it lies in).
    int MinHeight = 16;
    // Largest letter: anything taller or much wider is drawing.
    int MaxHeight = 160;

    // Letters of 1 to 10 mm at `dpi` dots per inch (400 when 0 or less).
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

// The connected pieces of a mask, and which piece each black run belongs to.
struct TInkComponents
{
    std::vector<TInkComponent> Components;
    // Runs of black along the lines, line by line, left to right: line y has
    // runs RunStart[y] .. RunStart[y + 1] - 1.
    struct TRun
    {
        int X0, X1;      // pixels X0 .. X1 - 1
        int Component;
    };
    std::vector<TRun> Runs;
    std::vector<int> RunStart;
};
TInkComponents FindComponents(const TBlackMask &mask);

// The mask split into text and graphics: connected pieces of letter size and
// shape, grouped into strings running along the rows or along the columns
// (after Fletcher and Kasturi, 1988, and Tombre et al., 2002). A piece of a
// letter that touches a line belongs to the line's piece and stays with the
// graphics: a line is never taken for text. Pieces alone or in rows of
// dashes (every one long and thin) stay graphics too.
struct TTextSeparation
{
    TBlackMask Graphics;
    TBlackMask Text;
    // Boxes of the strings; Text, Confidence and the segment range unset.
    TTextStrings Strings;
};
TTextSeparation SeparateText(const TBlackMask &mask, const TTextSizes &sizes);
