#pragma once

// The errors of the picture classes, as their messages name them.
//   ETzDIB*     - a damaged file, a bad parameter, a pixel or palette index out
//                 of range, a failed compression.
//   TzDIBAssert - throws ETzDIBAssert when its condition is false.

#include "base/Errors.h"

// The errors of the image library. Each message names the class and operation,
// a colon and the reason ("TTzDIB.SetBitCount: Invalid BitCount").

// Malformed image data or an unsupported bit count.
class ETzDIBInvalidDIB : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// The stream does not hold a BMP file.
class ETzDIBInvalidDIBFile : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// A bad width, height, bit count or creation parameter.
class ETzDIBInvalidDIBPara : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// The operation is not possible for this format (compressed, wrong depth).
class ETzDIBBadDIBType : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// A palette index or palette size out of range.
class ETzDIBPaletteIndexRange : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// A pixel coordinate outside the image.
class ETzDIBPixelPositionRange : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// A palette without entries.
class ETzDIBInvalidPalette : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// Run-length encoding could not place its output.
class ETzDIBCompressionFailed : public ETrazbitError { using ETrazbitError::ETrazbitError; };
// An internal consistency check failed.
class ETzDIBAssert : public ETrazbitError { using ETrazbitError::ETrazbitError; };

// The consistency check: raises ETzDIBAssert with the message when the condition is false.
inline void TzDIBAssert(bool condition, const char *message)
{
    if (!condition)
        throw ETzDIBAssert(message);
}
