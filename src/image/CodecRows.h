#pragma once

// Pictures read a band of rows at a time through their codecs.
//   PictureReaders::OpenJpegRows / OpenPngRows / OpenTiffRows - the rows, or
//              nullptr when the file is not of the kind (it is then read whole);
//              Read raises ERowsRefused for damage found on the way (a PNG
//              file's EInvalidGraphic, with libpng's reason).
//   PlatformAllocates - false for a picture the platform's reader would refuse.

#include "image/PictureRows.h"

#include <QString>

#include <cstdint>
#include <memory>

// Row readers of the formats scanners write, over the system's own decoders
// (libjpeg-turbo, libpng, libtiff). Each gives exactly the stored rows of the
// picture that the platform's whole-picture reader (ReadWithPlatform) makes
// of the same file, and the resolution it keeps. A file that is not of the
// format, or of a kind the reader does not take, gives nullptr (read it
// whole); damage found while reading raises ERowsRefused, to be read whole
// again and fail with that reader's error; a PNG file raises EInvalidGraphic
// with libpng's reason at once (the platform's reader uses the same libpng).
// False for a picture the platform's readers would refuse to allocate (a
// QImage of `depth` bits a pixel above their allocation limit): such files
// are left to them, to fail as they always did.
bool PlatformAllocates(std::int64_t width, std::int64_t height, int depth);

namespace PictureReaders {
std::unique_ptr<TPictureRows> OpenJpegRows(const QString &path);
std::unique_ptr<TPictureRows> OpenPngRows(const QString &path);
std::unique_ptr<TPictureRows> OpenTiffRows(const QString &path);
} // namespace PictureReaders
