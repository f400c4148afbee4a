// Feeds arbitrary bytes to the BMP reader (as it always was, and as .bmp files
// open), to its row reader (which must give the same error or the same stored
// rows) and to the packed-DIB reader of the clipboard. Every input must end in a loaded picture or in one of the program's
// own errors: no crash, no hang, no access outside a buffer.
//
//   fuzz-dib-reader -max_len=4096 -timeout=10 <corpus folder>

#include "image/BmpRows.h"
#include "image/TzDIB.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Reads every pixel and row of a loaded picture and writes it out again; the
// written file must load back to the same header and pixels.
void Exercise(const TTzDIB &dib)
{
    const TTzInternalDIB &storage = *dib.InternalDIB();
    if (storage.Header().biCompression == BI_RGB) {
        std::uint32_t sum = 0;
        for (int y = 0; y < dib.Height(); ++y) {
            const std::uint8_t *row = dib.ScanLine(y);
            sum += row[dib.RowSize() - 1];
            for (int x = 0; x < dib.Width(); ++x)
                sum += std::uint32_t(dib.Pixels(x, y));
        }
        QImage image;
        dib.AssignTo(image);
        TTzDIB back;
        back.Assign(image);
        if (back.Width() != dib.Width() || back.Height() != dib.Height())
            std::abort();
        (void)sum;
    }
    QBuffer file;
    file.open(QIODevice::ReadWrite);
    dib.SaveToStream(file);
    file.seek(0);
    TTzDIB reloaded;
    reloaded.LoadFromStream(file);
    if (std::memcmp(&reloaded.InternalDIB()->Header(), &storage.Header(), sizeof(TBitmapInfoHeader)) != 0
        || reloaded.InternalDIB()->DIB.BitsSize != storage.DIB.BitsSize
        || std::memcmp(reloaded.InternalDIB()->DIB.Bits.get(), storage.DIB.Bits.get(), storage.DIB.BitsSize) != 0)
        std::abort();
}

// The row reader against the whole-picture reader on the same bytes.
void CompareRows(const QByteArray &bytes, const TBmpReadOptions &options)
{
    std::string wholeError;
    TTzDIB dib;
    try {
        QBuffer stream;
        stream.setData(bytes);
        stream.open(QIODevice::ReadOnly);
        dib.LoadFromStream(stream, options);
        // Run-length encoded rows are compared expanded.
        const TTzPixelFormat format = dib.PixelFormat();
        if (format == tzPf4BitRLE || format == tzPf8BitRLE)
            dib.SetPixelFormat(format == tzPf4BitRLE ? tzPf4Bit : tzPf8Bit);
    } catch (const ETrazbitError &error) {
        wholeError = error.what();
    }
    QBuffer stream;
    stream.setData(bytes);
    stream.open(QIODevice::ReadOnly);
    try {
        TBmpRows rows(stream, options);
        if (!rows.RowByRow())
            return;
        if (!wholeError.empty())
            std::abort();
        std::vector<std::uint8_t> row(static_cast<std::size_t>(rows.RowSize()));
        for (int r = 0; r < rows.Height(); ++r) {
            rows.Read(row.data(), 1);
            const int y = rows.TopDown() ? r : rows.Height() - 1 - r;
            if (std::memcmp(row.data(), dib.ScanLine(y), row.size()) != 0)
                std::abort();
        }
    } catch (const ETrazbitError &error) {
        if (wholeError != error.what())
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        QBuffer stream;
        stream.setData(bytes);
        stream.open(QIODevice::ReadOnly);
        TTzDIB dib;
        dib.LoadFromStream(stream);
        Exercise(dib);
    } catch (const ETrazbitError &) {
    }
    try {
        // As a .bmp file opens: the larger headers and the pixel offset taken,
        // run-length encoded pixels expanded.
        QBuffer stream;
        stream.setData(bytes);
        stream.open(QIODevice::ReadOnly);
        TBmpReadOptions options;
        options.LargerHeaders = true;
        options.PixelOffset = true;
        TTzDIB dib;
        dib.LoadFromStream(stream, options);
        const TTzPixelFormat format = dib.PixelFormat();
        if (format == tzPf4BitRLE || format == tzPf8BitRLE)
            dib.SetPixelFormat(format == tzPf4BitRLE ? tzPf4Bit : tzPf8Bit);
        Exercise(dib);
    } catch (const ETrazbitError &) {
    }
    CompareRows(bytes, TBmpReadOptions());
    TBmpReadOptions bmp;
    bmp.LargerHeaders = true;
    bmp.PixelOffset = true;
    CompareRows(bytes, bmp);
    try {
        // The same bytes without a file header, as clipboard data.
        TTzDIB dib;
        dib.LoadFromClipboardFormat(CF_DIB, size > 14 ? bytes.mid(14) : bytes);
        Exercise(dib);
    } catch (const ETrazbitError &) {
    }
    return 0;
}
