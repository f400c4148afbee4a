#pragma once

#include "scan/ScanStatus.h"

class TBlackMask;
class TProgressPort;
class TSegmentList;

// The box-mode tracer: the outlines of the black pixels along the pixel edges,
// appended to `segments`; W + H + 4 progress steps. ScanDone, or ScanStopped
// when cancelled or out of memory.
TScanStatus TraceBoxes(const TBlackMask &mask, TSegmentList &segments, TProgressPort &progress);
