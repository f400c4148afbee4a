#pragma once

#include "image/PictureRows.h"

#include <QString>

#include <memory>

// The rows of a picture an import plug-in decoded, read from the plug-in's own
// memory a band at a time, so that the picture is never copied whole: what
// the reader of plug-in formats (ReadWithSPIBitmap) would make of the file,
// row for row, with its colours and resolution.
//
// The plug-ins are tried as that reader tries them (the manager's list, the
// retry after 128 bytes). Returns nullptr when the file must be read whole
// instead: its extension is empty or "bmp" (the reader's own format comes
// first), no plug-in reads it (the whole reader then gives its error or the
// format's earlier reader), or the plug-in's picture is other than an
// uncompressed 1-, 4-, 8- or 24-bit one. Raises what that reader raises for a
// picture that is too large.
std::unique_ptr<TPictureRows> OpenWithSPIRows(const QString &path);
