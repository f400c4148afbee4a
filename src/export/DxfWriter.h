#pragma once

// The DXF R12 file.
//   NewDxfWriter   - its writer: Prepare gives WriteHeaderMissing without
//                    "dxf.hed"; Write is false when a write failed.
//   DxfHeaderLines - the header lines; empty and fileMissing without the file.

#include "export/OutputFormats.h"

#include <QByteArray>
#include <QString>

#include <memory>
#include <vector>

// The DXF drawing (release 12, code page DOS_932): a header, one LINE entity
// per segment, "ENDSEC" and "EOF", every line ended CR LF. The header is the
// built-in one, or with DxfFileUse the file "dxf.hed" in the program's folder
// with the drawing extents written into it. Its Prepare reads the header: a
// header file that cannot be read raises EFileError, one too short for its
// extent lines ERangeError; a missing one gives WriteHeaderMissing.
//
// With text told apart, its strokes follow the drawing's lines on the layer
// "文字". A string that was read becomes one TEXT entity there instead (style
// "MOJI", which the header then declares in its TABLES section), at the start
// of its baseline, as high as its letters, turned 90 degrees when it runs
// upward; a string with a character code page 932 lacks, or any string under a
// header file without a TABLES section, stays strokes.
extern const char16_t kTextLayerName[];
std::unique_ptr<TFormatWriter> NewDxfWriter();

// The header lines, without line ends: the built-in header, or with
// DxfFileUse the header file's lines with the extents written in; an empty
// list and fileMissing when the file is missing. Raises as Prepare does.
std::vector<QByteArray> DxfHeaderLines(const TExportContext &context, bool &fileMissing);
