#pragma once

// The line-mode tracer.
//   TraceLines - black runs in four directions appended to a segment list as
//                segments; ScanDone, ScanStopped when cancelled, or
//                ScanOutOfMemory; a mask moved in is emptied once read.

#include "scan/PassRunner.h"
#include "scan/ScanStatus.h"

class TBlackMask;
class TProgressPort;
class TSegmentList;

// The line-mode tracer: black runs along every row, every column and both
// diagonal directions become segments, appended to `segments` (which is not
// emptied first); its extents start at the sheet's size. 3 x W + 3 x H
// progress steps. ScanDone when all six passes ran, ScanStopped when the
// progress port was cancelled, ScanOutOfMemory when the list could not grow
// (the list released). The list is the
// same for every thread count of the options.
TScanStatus TraceLines(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options = {});
// The same for a mask the caller has no more use for: its lines go as the
// rows are traced, and it is emptied before the columns' segments are
// appended, so that it does not stay beside the full list.
TScanStatus TraceLines(TBlackMask &&mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options = {});
