#pragma once

// What every writer reads.
//   TExportContext - the segments, extents, drawing and settings of one write;
//                    CoordinatesFit is false when a coordinate would not be a
//                    finite float.

#include "base/ProgressPort.h"
#include "base/Settings.h"
#include "export/CoordinateTransform.h"
#include "scan/ScanState.h"
#include "scan/SegmentList.h"

class TDrawing;

#include <QString>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

// Everything a writer or clipboard text reads. None of it is changed by them.
struct TExportContext
{
    // The result of a conversion (its segments, extents, text strings and
    // picture height), written at `magnification`. The result is not copied:
    // it must outlive the context.
    TExportContext(const TSegmentList &result, float magnification, const TSettings &settings,
                   TProgressPort &progress, const QString &programFolder)
        : Result(result), Magnification(magnification), Settings(settings), Progress(progress),
          ProgramFolder(programFolder)
    {
    }

    // A conversion's state: its segments and, when it made one, its drawing.
    TExportContext(const TScanState &state, float magnification, const TSettings &settings,
                   TProgressPort &progress, const QString &programFolder)
        : TExportContext(static_cast<const TSegmentList &>(state), magnification, settings, progress, programFolder)
    {
        Drawing = state.Drawing.get();
    }

    // The conversion's result. Its extents (MaxX, MaxY, MinX, MinY, pixel
    // units) bound the drawing; with text told apart (TextStart >= 0),
    // segments TextStart .. SegmentCount - 1 are its strokes, string by string
    // as TextStrings says (their boxes count rows from the top of a picture
    // ImageHeight rows high).
    const TSegmentList &Result;
    // The lines, arcs and circles of the same conversion, or nullptr. The DXF
    // file writes them in place of the segments; the other formats write the
    // segments, which hold the arcs as chords.
    const TDrawing *Drawing = nullptr;
    float Magnification = 1;
    const TSettings &Settings;
    // The progress bar: a step after every hundredth segment.
    TProgressPort &Progress;
    // Where "dxf.hed" is looked for (with or without a trailing separator).
    QString ProgramFolder;
    // Threads a writer may use in all (1: only the caller's). Every byte
    // written is the same for every count.
    int Threads = 1;
    // The largest clipboard text that can be built; a text that would grow past
    // it fails as if memory ran out. Only tests lower it.
    std::size_t ClipboardTextLimit = std::numeric_limits<std::size_t>::max();

    TCoordinateTransform Transform() const
    {
        return TCoordinateTransform(Magnification, Settings.Xrate, Settings.Yrate);
    }

    // True when the extents, times magnification and ratio, are finite 32-bit
    // floats. The extents bound every segment, so then no coordinate any
    // writer prints is infinite or out of a float's range.
    bool CoordinatesFit() const
    {
        const TCoordinateTransform t = Transform();
        for (const long double value : {t.X(Result.MaxX), t.X(Result.MinX), t.Y(Result.MaxY), t.Y(Result.MinY)})
            if (!std::isfinite(static_cast<float>(value)))
                return false;
        return true;
    }
};
