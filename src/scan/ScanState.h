#pragma once

// The state of the main window's conversions.
//   TScanState - the segment list with the picture, the drawing and the
//                skew of the last conversion and its flags.

#include "scan/ScanPicture.h"
#include "scan/SegmentList.h"

#include <QString>

#include <memory>
#include <optional>

class TDrawing;

// The segment list and the scan state the main window keeps for the whole run:
// the product of every conversion and the only input of every export.
class TScanState : public TSegmentList
{
public:
    // True only after a conversion that ended without error or cancel.
    bool DataConverted = false;
    // Set when the progress bar was cancelled during a conversion, and by a
    // failed growth.
    bool CancelScan = false;
    // The magnification the last save or copy took from the magnification edit.
    float Magnification = 0;
    // Full path of the last file picked for conversion.
    QString SourceFileName;
    // Whether a successful conversion keeps its black pixels in Picture (the
    // preview shows them); the resolution is kept either way.
    bool KeepPicture = false;
    // With KeepPicture: keeps the scan's own grey or colour pixels as well
    // (Picture.Backdrop), for the window's preview.
    bool KeepBackdrop = false;
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
