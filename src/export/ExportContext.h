#pragma once

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
    TExportContext(const TSettings &settings, TProgressPort &progress)
        : Settings(settings), Progress(progress)
    {
    }
    // The segment list and extents of a conversion, written at `magnification`.
    TExportContext(const TSegmentList &list, float magnification, const TSettings &settings,
                   TProgressPort &progress, const QString &programFolder)
        : Segments(list.Segments()), SegmentCount(list.SegmentCount), MaxX(list.MaxX),
          MaxY(list.MaxY), MinX(list.MinX), MinY(list.MinY), Magnification(magnification),
          Settings(settings), Progress(progress), ProgramFolder(programFolder),
          TextStart(list.TextStart), TextStrings(&list.TextStrings), ImageHeight(list.ImageHeight)
    {
    }

    // A conversion's state: its segments and, when it made one, its drawing.
    TExportContext(const TScanState &state, float magnification, const TSettings &settings,
                   TProgressPort &progress, const QString &programFolder)
        : TExportContext(static_cast<const TSegmentList &>(state), magnification, settings, progress, programFolder)
    {
        Drawing = state.Drawing.get();
    }

    const TSegment *Segments = nullptr;
    // The lines, arcs and circles of the same conversion, or nullptr. The DXF
    // file writes them in place of the segments; the other formats write the
    // segments, which hold the arcs as chords.
    const TDrawing *Drawing = nullptr;
    std::int32_t SegmentCount = 0;
    // Drawing extents, pixel units.
    float MaxX = 0;
    float MaxY = 0;
    float MinX = 0;
    float MinY = 0;
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
    // Text told apart: segments TextStart .. SegmentCount - 1 are its strokes,
    // string by string as TextStrings says; -1 when text was not told apart.
    std::int32_t TextStart = -1;
    const TTextStrings *TextStrings = nullptr;
    // Height of the converted image, pixels (the strings' boxes count rows from its top).
    float ImageHeight = 0;

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
        for (const long double value : {t.X(MaxX), t.X(MinX), t.Y(MaxY), t.Y(MinY)})
            if (!std::isfinite(static_cast<float>(value)))
                return false;
        return true;
    }
};
