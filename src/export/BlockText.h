#pragma once

// The segments' text made on several threads.
//   WriteSegmentText - writes every segment's text in order; false when a
//                      write failed.

#include <cstddef>
#include <cstdint>
#include <functional>

class TOutputStream;
class TProgressStepper;

// Makes the text of segments first .. end - 1 for a writer at `out`, which has
// room for the most text a segment can have times their number; returns the
// bytes made.
using TSegmentTextMaker = std::function<std::size_t(std::int32_t first, std::int32_t end, char *out)>;

// Writes the text of every segment to `out` in list order, stepping the
// progress after each segment as a writer does (after every hundredth), and
// stops after the first failed write. The text is made in blocks of a few
// thousand segments on `threads` threads in all (the caller's one of them) and
// written on the caller's thread; the bytes are those of making it segment by
// segment. False when a write failed. With `from`, the segments are from ..
// from + count - 1 (the progress steps after segment from + i + 1).
bool WriteSegmentText(TOutputStream &out, TProgressStepper &progress, std::int32_t count, int threads,
                      std::size_t mostPerSegment, const TSegmentTextMaker &format, std::int32_t from = 0);
