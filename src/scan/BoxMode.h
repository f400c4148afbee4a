#pragma once

// The box-mode tracer.
//   TraceBoxes - the outlines of the black pixels appended to a segment list;
//                ScanDone, ScanStopped when cancelled, or ScanOutOfMemory;
//                a mask moved in is emptied once read.

#include "scan/PassRunner.h"
#include "scan/ScanStatus.h"

class TBlackMask;
class TProgressPort;
class TSegmentList;

// The box-mode tracer: the outlines of the black pixels along the pixel edges,
// appended to `segments`; W + H + 4 progress steps. ScanDone, ScanStopped
// when cancelled, or ScanOutOfMemory when the list could not grow (the list
// released). The list is the same for every thread
// count of the options.
TScanStatus TraceBoxes(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options = {});
// The same for a mask the caller has no more use for: its lines go as the
// rows are traced, and it is emptied before the other passes' segments are
// appended, so that it does not stay beside the full list.
TScanStatus TraceBoxes(TBlackMask &&mask, TSegmentList &segments, TProgressPort &progress,
                       const TTraceOptions &options = {});
