#pragma once

// The clipboard texts.
//   CoordinateClipboardText / JwTranClipboardText - the text in both encodings;
//                  Complete false when memory ran out on the way.
//   NewCoordinateClipboardWriter / NewJwTranClipboardWriter - the same as writers.

#include "export/ClipboardTarget.h"
#include "export/ExportContext.h"
#include "export/OutputFormats.h"

#include <QByteArray>
#include <QString>

// A clipboard text as the program hands it over: the exact code page 932 bytes
// and the same text as Unicode. Lines end LF then CR.
struct TClipboardText
{
    QByteArray Cp932;
    QString Unicode;
    // False when the text could not grow to hold every line.
    bool Complete = true;
};

// The coordinate form: the coordinate file's line of every segment, each ended
// LF CR. After a failure to grow it holds the lines built so far.
TClipboardText CoordinateClipboardText(const TExportContext &context);
// The JW_CAD form: ";<<JWT.Format.Text>>", "BEGIN", an "L2," line per segment
// (layer index, the four coordinates in the general format at full precision,
// line type, pen) and "END" without a line end. Empty after a failure to grow.
TClipboardText JwTranClipboardText(const TExportContext &context);

// The two forms as writers of their code page 932 bytes (the command line
// writes them to files). Write fails when the text could not be built whole.
std::unique_ptr<TFormatWriter> NewCoordinateClipboardWriter();
std::unique_ptr<TFormatWriter> NewJwTranClipboardWriter();
