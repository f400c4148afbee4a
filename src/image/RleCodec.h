#pragma once

// The run-length encodings of BMP pixel data (RLE8 for 8 bits, RLE4 for 4 bits):
// decoders to uncompressed blocks and encoders from them.

#include "image/TzInternalDIB.h"

// The decoders give a zero-filled uncompressed block of the same width, height,
// row order, colour table and palette size. They read no byte beyond BitsSize
// and write no pixel outside the picture: damaged data raises ETzDIBInvalidDIB
// ("... Bad RLE Data 1" to "4" for RLE8, "5" to "8" for RLE4), and data that
// ends before its end-of-bitmap unit "... Unexpected End of RLE Data". A source
// of another format raises ETzDIBBadDIBType.
TTzDIBBlock Convert8BitRLETo8BitRGB(const TTzDIBBlock &source);
TTzDIBBlock Convert4BitRLETo4BitRGB(const TTzDIBBlock &source);

// The encoders give a bottom-up compressed block (BitsSize and biSizeImage the
// byte count of the stream) that decodes to the same pixels; padding bytes of
// the rows are not kept. Output larger than the largest pixel array raises
// ETzDIBCompressionFailed.
TTzDIBBlock Convert8BitRGBTo8BitRLE(const TTzDIBBlock &source);
TTzDIBBlock Convert4BitRGBTo4BitRLE(const TTzDIBBlock &source);
