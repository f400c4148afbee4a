#pragma once

// Conversion of a picture's pixels between the storage formats and into the two
// halftone forms. Every routine reads a source block and builds a complete new
// one; the source is left as it was, also when the routine fails.

#include "image/ColourChoice.h"
#include "image/RleCodec.h"

#include <cstdint>

// Each routine checks its source first and raises ETzDIBBadDIBType with its
// own message when the bit count or compression does not fit.
TTzDIBBlock Convert1BitRGBTo4BitRGB(const TTzDIBBlock &source);
TTzDIBBlock Convert1BitRGBTo8BitRGB(const TTzDIBBlock &source);
TTzDIBBlock Convert1BitRGBToTrueColor(const TTzDIBBlock &source);
TTzDIBBlock Convert4BitRGBTo8BitRGB(const TTzDIBBlock &source);
TTzDIBBlock Convert4BitRGBToTrueColor(const TTzDIBBlock &source);
TTzDIBBlock Convert8BitRGBToTrueColor(const TTzDIBBlock &source);
// At most 16 colours chosen from the palette; 16 progress steps.
TTzDIBBlock Convert8BitRGBTo4BitRGB(const TTzDIBBlock &source, const TProgressStepFn &step);

// To 1 bit: a pixel becomes 1 (white) exactly when its colour is monoColour
// ($00BBGGRR), else 0 (black); the table is black, white.
TTzDIBBlock Convert4BitRGBTo1BitRGB(const TTzDIBBlock &source, TColor monoColour);
TTzDIBBlock Convert8BitTo1BitRGB(const TTzDIBBlock &source, TColor monoColour);
TTzDIBBlock ConvertTrueColorTo1BitRGB(const TTzDIBBlock &source, TColor monoColour);

// 24 bits to 16 or 256 colours: Low by the histogram method (every pixel takes
// the entry of its 5-6-5 key), High over all pixels. 16 or 256 progress steps.
TTzDIBBlock ConvertTrueColorTo4BitRGBLow(const TTzDIBBlock &source, const TProgressStepFn &step);
TTzDIBBlock ConvertTrueColorTo8BitRGBLow(const TTzDIBBlock &source, const TProgressStepFn &step);
TTzDIBBlock ConvertTrueColorTo4BitRGBHigh(const TTzDIBBlock &source, const TProgressStepFn &step);
TTzDIBBlock ConvertTrueColorTo8BitRGBHigh(const TTzDIBBlock &source, const TProgressStepFn &step);

// Any uncompressed picture to an error-diffused 8-bit picture over the 215
// colours of the halftone palette, or to a black-and-white 1-bit one.
TTzDIBBlock ConvertToHalfTone(const TTzDIBBlock &source);
TTzDIBBlock ConvertToHalfToneBW(const TTzDIBBlock &source);

// Converts the storage to the target format by the route of its current format:
// a routine of its own, or an RLE source decoded first, or two routines through
// an intermediate format that is freed afterwards. The storage takes the result
// only when every step has succeeded (then its cached palette is dropped). The
// current format as target, a ConvertQuality other than 0 or 1 or any other
// target raises ETzDIBAssert "TTzIntenalDIB.SetPixelsFormat: PixelFormat Error".
void SetPixelsFormat(TTzInternalDIB &storage, TTzPixelFormat target, std::uint8_t convertQuality,
                     const TProgressStepFn &step, TColor monoColour);
