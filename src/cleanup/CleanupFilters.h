#pragma once

#include "cleanup/CleanupOptions.h"
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
    bool Segments(TScanState &state) const override;
    TTextPart TakeText() const override;
    // Takes the text out of the ink of `image` (threshold and speck removal
    // done), reading it when asked, and keeps it for TakeText (thinned when
    // Centerline is on); returns the rest. The ink itself without text options.
    TBlackMask SplitText(TBlackMask ink, const TTzDIB &image) const;

private:
    TCleanupOptions Options;
    // The text of the last Mask call, until it is taken.
    mutable TTextPart Text;
};

// The options the settings store holds (section Cleanup). A stored text that
// does not parse leaves that step off.
TCleanupOptions CleanupOptionsOf(const TSettings &settings);
