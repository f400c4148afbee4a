#pragma once

// BMP pixel rows read a band at a time.
//   TBmpRows - the rows of a BMP stream after its headers; Read throws a
//              TzDIB error for a damaged or short file.

#include "image/PictureRows.h"
#include "image/TzInternalDIB.h"

#include <memory>

class QIODevice;
class TRleRows;

// A BMP file read a band of rows at a time. The constructor reads and checks
// the headers and the colour table exactly as TTzInternalDIB::LoadFromStream
// does, and raises the same errors in the same order. Uncompressed 1-, 4-, 8-
// and 24-bit files and run-length encoded 4- and 8-bit files can then be read
// row by row (their pixel byte count checked as the whole-picture reader checks
// it, run-length data decoded a band at a time with the same checks); for the
// rest (16 and 32 bits, unknown compressions) RowByRow() is false and the file
// must be read whole.
class TBmpRows : public TPictureRows
{
public:
    TBmpRows(QIODevice &stream, const TBmpReadOptions &options);
    ~TBmpRows() override;

    bool RowByRow() const { return FRowByRow; }
    void Read(std::uint8_t *rows, int count) override;
    // Uncompressed rows of a file that can seek.
    bool Sample(int count, const TRowVisitor &each) override;

private:
    QIODevice &Stream;
    bool FRowByRow = false;
    std::unique_ptr<TRleRows> FRle;
    std::int64_t FRowsRead = 0;
};
