#pragma once

#include "app/core/Settings.h"
#include "app/core/UserInterface.h"
#include "export/CoordinateTransform.h"
#include "scan/ScanState.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <limits>

// Everything a writer or clipboard text reads. None of it is changed by them.
struct TExportContext
{
    TExportContext(const TSettings &settings, TUserInterface &ui) : Settings(settings), UI(ui) {}
    // The segment list, extents and magnification of a scan state.
    TExportContext(const TScanState &state, const TSettings &settings, TUserInterface &ui,
                   const QString &programFolder)
        : Segments(state.Segments()), SegmentCount(state.SegmentCount), MaxX(state.MaxX),
          MaxY(state.MaxY), MinX(state.MinX), MinY(state.MinY),
          Magnification(state.Magnification), Settings(settings), UI(ui),
          ProgramFolder(programFolder)
    {
    }

    const TSegment *Segments = nullptr;
    std::int32_t SegmentCount = 0;
    // Drawing extents, pixel units.
    float MaxX = 0;
    float MaxY = 0;
    float MinX = 0;
    float MinY = 0;
    float Magnification = 1;
    const TSettings &Settings;
    // Progress bar, message pump and failure messages.
    TUserInterface &UI;
    // Where "dxf.hed" is looked for (with or without a trailing separator).
    QString ProgramFolder;
    // The largest clipboard text that can be built; a text that would grow past
    // it fails as if memory ran out. Only tests lower it.
    std::size_t ClipboardTextLimit = std::numeric_limits<std::size_t>::max();

    TCoordinateTransform Transform() const
    {
        return TCoordinateTransform(Magnification, Settings.Xrate, Settings.Yrate);
    }
};
