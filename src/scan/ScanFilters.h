#pragma once

// Steps around the tracer.
//   TScanFilters - the mask of a picture read whole or in bands (throwing what
//                  reading throws), the segments after tracing (false when
//                  out of memory), the text told apart and a note for the user.

#include "image/PictureRows.h"
#include "scan/BlackMask.h"
#include "scan/TextStrings.h"

#include <QString>

#include <functional>
#include <utility>

class TSegmentList;
class TScanState;
class TTzDIB;

// Steps a conversion may take around its tracer: how the picture just read
// becomes the black mask the tracer reads, and what becomes of the segments
// once it has traced them. Without filters the mask is the picture's exact
// black and the segments stay as traced.
class TScanFilters
{
public:
    virtual ~TScanFilters();

    // The mask of a picture just read.
    virtual TBlackMask Mask(const TTzDIB &image) const = 0;
    // The same mask from a picture read a band of rows at a time: `rows` just
    // opened, `reopen` for another pass over them; the work shared over
    // `threads`.
    virtual TBlackMask MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const = 0;
    // Called after a tracer finished; may replace the state's segments (their
    // extents stay, or widen to hold a drawing's curves) and set its drawing
    // and skew. False when the list ran out of memory on the way, or when
    // stopped (SetStop).
    virtual bool Segments(TScanState &state) const = 0;
    // Whether Segments reads the traced segments. When it does not (it makes
    // segments of its own, keeping only the extents, which every tracer
    // leaves at the sheet's size), the tracer need not run.
    virtual bool ReadsSegments() const { return true; }

    // Text the last Mask call told apart from the drawing: its pixels (not in
    // that mask), its strings, and a problem met reading them (shown to the
    // user; the strokes are kept). A mask of width 0 when text is not told apart.
    struct TTextPart
    {
        TBlackMask Mask;
        TTextStrings Strings;
        QString Problem;
    };
    // Moves the text of the last Mask call out; the default has none.
    virtual TTextPart TakeText() const;
    // What the user should know of the last mask made (e.g. that a picture
    // held no ink), or empty.
    virtual QString Note() const { return QString(); }

    // Whether the segments step reads the traced mask again: it may then be
    // lent, the masks made after SetMaskReturned(true) being given back to
    // TracedMask once traced, so that the filters keep no copy of their own.
    virtual bool ReadsTracedMask() const { return false; }
    void SetMaskReturned(bool returned) const { MaskReturned = returned; }
    virtual void TracedMask(TBlackMask &&mask) const { (void)mask; }
    // Asked between the parts of long steps (the strings read one by one):
    // true once the user wants the conversion to stop, which the filters
    // then cut short (the conversion is dropped). Empty: never.
    virtual void SetStop(std::function<bool()> stop) const { Stop = std::move(stop); }

protected:
    // Set by SetMaskReturned.
    mutable bool MaskReturned = false;
    // Set by SetStop.
    mutable std::function<bool()> Stop;
};
