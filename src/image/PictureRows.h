#pragma once

// A picture read a band of rows at a time.
//   TPictureRows - its layout and colours, and Read for the next rows; Read
//                  throws what the reader throws for a damaged file, or
//                  ERowsRefused when the picture must be read whole instead.
//   TRowsOpener  - opens the same rows anew (nullptr when it cannot).

#include "image/DIBFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>

// A picture read a band of rows at a time, for work that needs each row once
// (the tracers' black mask) and should not hold the whole picture: the rows
// come in file order, each exactly as a TTzDIB stores it. Read errors are
// those of the format's whole-picture reader.
class TPictureRows
{
public:
    virtual ~TPictureRows();

    int Width() const { return FWidth; }
    int Height() const { return FHeight; }
    // 1, 4, 8 or 24.
    int BitCount() const { return FBitCount; }
    // The first row read is the top row (else the bottom row).
    bool TopDown() const { return FTopDown; }
    // Bytes of one stored row (padded to a multiple of 4).
    std::int64_t RowSize() const { return DIBRowSize(FWidth, FBitCount); }
    // The resolution the file states (biXPelsPerMeter, biYPelsPerMeter).
    int DotsPerMeterX() const { return FDotsPerMeterX; }
    int DotsPerMeterY() const { return FDotsPerMeterY; }
    // The colour of a colour-table entry, 0 .. 255, as TTzDIB::Colors reads it.
    TColor Color(int index) const { return RGBQuadToColor(FColors[index]); }

    // The next `count` rows, RowSize() bytes each, into `rows`.
    virtual void Read(std::uint8_t *rows, int count) = 0;

    // About `count` rows spread evenly over the whole picture, each given to
    // `each` as Read gives it, for a guess made before the rows are read
    // (the automatic level's window); Read goes on where it was. False, when
    // `each` may have had some rows already, where the reader cannot reach
    // such rows cheaply (a file read in order, or in large pieces).
    using TRowVisitor = std::function<void(const std::uint8_t *row)>;
    virtual bool Sample(int count, const TRowVisitor &each);

protected:
    // The size, layout, resolution and colours of `other` (for a reader that
    // passes on another's rows).
    void CopyLayout(const TPictureRows &other)
    {
        FWidth = other.FWidth;
        FHeight = other.FHeight;
        FBitCount = other.FBitCount;
        FTopDown = other.FTopDown;
        FDotsPerMeterX = other.FDotsPerMeterX;
        FDotsPerMeterY = other.FDotsPerMeterY;
        for (int i = 0; i < 256; ++i)
            FColors[i] = other.FColors[i];
    }

    int FWidth = 0;
    int FHeight = 0;
    int FBitCount = 0;
    bool FTopDown = false;
    int FDotsPerMeterX = 0;
    int FDotsPerMeterY = 0;
    TRGBQuad FColors[256] = {};
};

// Opens the rows of one picture anew, from its first row, for another pass.
using TRowsOpener = std::function<std::unique_ptr<TPictureRows>()>;

// Raised by a row reader that finds, once reading has begun, something it does
// not read exactly as the format's whole-picture reader does (damaged data,
// for one): the caller reads the picture whole instead, which gives that
// reader's picture or its error.
class ERowsRefused : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};
