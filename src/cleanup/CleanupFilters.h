#pragma once

#include "cleanup/CleanupOptions.h"
#include "scan/ScanFilters.h"

struct TSettings;

// The clean-up as the scan driver's filters: threshold, speck removal and
// centre lines make the mask; merging replaces the traced segments.
class TCleanupFilters : public TScanFilters
{
public:
    explicit TCleanupFilters(const TCleanupOptions &options) : Options(options) {}

    TBlackMask Mask(const TTzDIB &image) const override;
    TBlackMask MaskFromRows(TPictureRows &rows, const TRowsOpener &reopen, int threads) const override;
    bool Segments(TSegmentList &segments) const override;
    // Messages::NoInk() when the automatic level found no ink.
    QString Note() const override;

private:
    TCleanupOptions Options;
    mutable bool NoInk = false;
};

// The options the settings store holds (section Cleanup). A stored text that
// does not parse leaves that step off.
TCleanupOptions CleanupOptionsOf(const TSettings &settings);
