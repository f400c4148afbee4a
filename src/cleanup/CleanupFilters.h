#pragma once

// The clean-up of real scans as steps around the tracer.
//   TCleanupFilters   - the mask by the clean-up options and the segments
//                       merged; see TScanFilters for how each fails.
//   CleanupOptionsOf  - the options the settings hold, parsed once.

#include "cleanup/CleanupSteps.h"
#include "cleanup/PackedMask.h"
#include "scan/ScanFilters.h"

struct TSettings;

// The clean-up as the scan driver's filters: threshold, speck removal and
// centre lines make the mask; merging replaces the traced segments. With
// text told apart, the text leaves the mask after speck removal (and is read
// when asked), and both parts are thinned on their own.
class TCleanupFilters : public TScanFilters
{
public:
    explicit TCleanupFilters(const TCleanupOptions &options) : Options(options) {}

    TBlackMask Mask(const TTzDIB &image) const override;
    TBlackMask MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const override;
    bool Segments(TScanState &state) const override;
    // Messages::NoInk() when the automatic level found no ink.
    QString Note() const override;
    TTextPart TakeText() const override;

    // The ink after threshold and speck removal, the text taken out of it
    // (and read when asked) and kept for TakeText (thinned when Centerline
    // is on): the mask before any centre lines. The first from a picture, the
    // second from its rows.
    TBlackMask Ink(const TTzDIB &image) const;
    TBlackMask Ink(TPictureRows &rows, const TRowsOpener &reopen, int threads) const;

private:
    // The mask of the rows by `options`, the automatic level found first.
    TBlackMask RowsMask(TPictureRows &rows, const TRowsOpener &reopen, int threads, TCleanupOptions options) const;
    TBlackMask SplitText(TBlackMask ink, int dotsPerMeter, int threads = 1) const;
    TBlackMask Thinned(TBlackMask ink) const;
    // Where a mask made by `options` keeps the strokes its centre lines came
    // from: Strokes when both centre lines and merging are on, else nowhere.
    TBlackMask *KeptStrokes(const TCleanupOptions &options) const;

    TCleanupOptions Options;
    mutable bool NoInk = false;
    // The text of the last mask made, until it is taken.
    mutable TTextPart Text;
    // The strokes the centre lines were thinned from, kept from the mask for
    // Segments when both centre lines and merging are on: whole while the
    // mask is made, then packed until the merging reads them.
    mutable TBlackMask Strokes;
    mutable TPackedMask PackedStrokes;
    // The mask made, the strokes kept beside it packed.
    TBlackMask PackStrokes(TBlackMask mask) const;
    // The threads the last mask from rows was made with, for the merging.
    mutable int Threads = 1;
};

// The options the settings store holds (section Cleanup). A stored text that
// does not parse leaves that step off.
TCleanupOptions CleanupOptionsOf(const TSettings &settings);
