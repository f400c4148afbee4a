#pragma once

// The run-length encodings of BMP pixel data (RLE8 for 8 bits, RLE4 for 4 bits):
// decoders to uncompressed blocks and encoders from them.

#include "image/TzInternalDIB.h"

#include <cstdint>
#include <memory>
#include <vector>

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

// A run-length encoded picture decoded a band of stored rows at a time, with
// the checks and messages of the decoders above: a band of rows the data has
// reached is written whole (zero where it leaves pixels out), and the last band
// reads on to the end-of-bitmap unit.
class TRleRows
{
public:
    // `bits` 8 (RLE8) or 4 (RLE4).
    TRleRows(int bits, std::vector<std::uint8_t> data, std::int64_t width, std::int64_t height);
    ~TRleRows();
    // Stored rows first .. first + count - 1, DIBRowSize bytes each; bands in order.
    void Decode(std::uint8_t *rows, std::int64_t first, std::int64_t count);

private:
    struct TState;
    std::vector<std::uint8_t> Data;
    std::unique_ptr<TState> State;
};
