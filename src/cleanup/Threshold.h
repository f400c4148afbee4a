#pragma once

// Black pixels by a grey level.
//   LuminanceHistogram - the histogram of a picture, whole or in bands.
//   ThresholdMask      - the pixels darker than a level; throws what reading
//                        throws, std::bad_alloc without memory.
//   OtsuLevel          - the level that best splits a histogram; 0 (no ink)
//                        when it holds no two classes.

#include "image/PictureRows.h"
#include "scan/BlackMask.h"

#include <array>
#include <cstdint>

class TPictureRows;
class TTzDIB;

// Grey and colour scans: ink is every pixel darker than a level.
//
// A pixel's brightness is its luminance, (299 R + 587 G + 114 B + 500) / 1000,
// 0 black .. 255 white; pictures of 8 bits or fewer take the colour of their
// palette entry. A TTzDIB holds no transparency: a caller with a transparent
// picture composites it over white first, so that transparent pixels are paper.

// How many pixels of each luminance the picture holds.
using TLuminanceHistogram = std::array<std::uint64_t, 256>;
TLuminanceHistogram LuminanceHistogram(const TTzDIB &image);

// The same of a picture read a band of rows at a time (one pass over them,
// the work shared over `threads`), never holding the whole picture.
TLuminanceHistogram LuminanceHistogram(TPictureRows &rows, int threads = 1, std::int64_t bandBytes = 0);

// Stored rows of a picture (1, 4, 8 or 24 bits, as a TTzDIB holds them) into
// lines of the mask of ThresholdMask.
class TThresholdRow
{
public:
    // colours: the 256 colour-table entries as TTzDIB::Colors reads them
    // (unused for 24 bits).
    TThresholdRow(int bitCount, int width, const TColor *colours, int level);
    void operator()(const std::uint8_t *row, std::uint64_t *line) const;

private:
    int BitCount;
    int Width;
    int Words;
    int Limit;                      // 24 bits: 1000 * level
    std::array<bool, 256> Ink{};    // 8 bits or fewer: an index -> ink
};

// Ink is luminance < level (0 .. 256; 0 gives no ink at all, 1 exact black only).
TBlackMask ThresholdMask(const TTzDIB &image, int level);
// The same a band of rows at a time (every row is read, whatever the level).
TBlackMask ThresholdMask(TPictureRows &rows, int level, int threads = 1, std::int64_t bandBytes = 0);

// The global level that best separates ink from paper (Otsu's criterion), for
// ThresholdMask: 0 .. 256. A picture of a single luminance gives 1, so that only
// exact black is ink. A picture with no two classes to separate - the means of
// the two sides of the best split less than kLeastInkContrast levels apart, as
// in blank paper and its noise - gives 0: no ink.
constexpr double kLeastInkContrast = 32;
int OtsuLevel(const TLuminanceHistogram &histogram);

// The automatic level and its mask in one pass over the rows where it can.
//
// While the rows are read, the histogram is counted and every pixel darker
// than the window's low level goes into the mask; the luminance of each pixel
// inside the window is listed. When the level the whole histogram gives lies
// in the window (or no pixel lies between the window and the level), the
// listed pixels darker than it complete the mask; a list grown past its cap
// narrows the window about the level of the rows read so far. Otherwise
// `reopen` gives the rows for a second pass, as
// ThresholdMask(rows, level) reads them. The mask and the level are always
// those of ThresholdMask(rows, OtsuLevel(LuminanceHistogram(rows))).
struct TLevelWindow
{
    int Low = 0;    // levels Low .. High are exact after one pass
    int High = 0;
};
// The window about the level of a sample of the picture's rows: as wide as
// its few pixels allow.
TLevelWindow GuessLevelWindow(const TLuminanceHistogram &sample);

struct TOtsuMask
{
    TBlackMask Mask;
    int Level = 0;
    bool ReadTwice = false;     // the rows were read a second time
};
struct TOtsuPass
{
    // Pixels sampled to guess the window: rows spread over the whole picture
    // where the reader reaches them cheaply (TPictureRows::Sample), else the
    // first rows, held as luminances (all of them when they are the whole
    // picture, which then needs no list).
    std::int64_t SamplePixels = std::int64_t(16) << 20;
    // A window to use instead of guessing one (no rows are held then).
    const TLevelWindow *Window = nullptr;
    // At most this many listed pixels: a longer list narrows the window about
    // the level of the rows read so far. 0: one for every 64 pixels of the
    // picture, at least 4 Mi (about two bytes each where they lie close: a
    // quarter of the mask's bytes).
    std::int64_t ListPixels = 0;
};
TOtsuMask OtsuMask(TPictureRows &rows, const TRowsOpener &reopen, int threads = 1, std::int64_t bandBytes = 0,
                   const TOtsuPass &pass = TOtsuPass());
