#pragma once

// The result of one conversion, owned by the caller of the scan driver.
//   TScanState - the segment list with the picture, the text, the drawing and
//                the skew of the last conversion.

#include "scan/ScanPicture.h"
#include "scan/SegmentList.h"

#include <QString>

#include <memory>
#include <optional>

class TDrawing;

// The segment list with what else a conversion found: the product of every
// conversion and the only input of every export. Its owner (the main window,
// or the command line for one picture) hands it to the scan driver.
class TScanState : public TSegmentList
{
public:
    // The picture's resolution, and its black pixels (and backdrop) when the
    // conversion was asked to keep them (for a preview).
    TScanPicture Picture;
    // What went wrong reading the text of the last conversion (shown as a
    // message too; its strokes were kept); empty when nothing did.
    QString TextProblem;
    // The lines, arcs and circles of the last conversion when it recognised
    // them (an option of the clean-up; the segments then hold the same
    // drawing, arcs as chords); otherwise none, and the writers read the
    // segments alone.
    std::shared_ptr<const TDrawing> Drawing;
    // The skew the last conversion found in the ink, degrees counter-clockwise,
    // when it looked for one.
    std::optional<double> Skew;
};
