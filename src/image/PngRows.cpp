#include "image/CodecRows.h"

#include "base/Errors.h"
#include "image/DIBFormat.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <vector>

#include <png.h>

namespace {

// libpng's reason for giving up, kept for the message (printed nowhere).
[[noreturn]] void ErrorExit(png_structp png, png_const_charp message)
{
    if (auto *reason = static_cast<QString *>(png_get_error_ptr(png)))
        *reason = QString::fromUtf8(message);
    png_longjmp(png, 1);
}

void Warning(png_structp, png_const_charp) {}

// The kinds the platform's reader turns into a picture without alpha, which
// this reader gives the same: 1-bit grey (inverted, white and black table),
// 8-bit grey (grey palette), palettes of 1, 2, 4 and 8 bits (the file's
// table), and 8-bit RGB (24 bits). Transparency, 16 bits, grey of 2 and 4
// bits and grey with alpha are left to the platform. A file libpng gives up
// on before its last row fails with libpng's reason (the platform's reader,
// over the same libpng, gives up on it too, after printing that reason).
class TPngRows : public TPictureRows
{
public:
    explicit TPngRows(std::FILE *file) : File(file)
    {
        Png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &Reason, ErrorExit, Warning);
        if (Png)
            Info = png_create_info_struct(Png);
    }
    ~TPngRows() override
    {
        if (Png)
            png_destroy_read_struct(&Png, Info ? &Info : nullptr, nullptr);
        std::fclose(File);
    }

    bool Open()
    {
        if (!Png || !Info)
            return false;
        if (setjmp(png_jmpbuf(Png)))
            Damaged();
        png_init_io(Png, File);
        png_read_info(Png, Info);
        png_uint_32 width = 0, height = 0;
        int depth = 0, colourType = 0, interlace = 0;
        png_get_IHDR(Png, Info, &width, &height, &depth, &colourType, &interlace, nullptr, nullptr);
        if (png_get_valid(Png, Info, PNG_INFO_tRNS))
            return false;
        if (colourType == PNG_COLOR_TYPE_GRAY && depth == 1) {
            png_set_invert_mono(Png);
            FBitCount = 1;
            FColors[0] = TRGBQuad{255, 255, 255, 0};
            FColors[1] = TRGBQuad{0, 0, 0, 0};
            Mono = true;
        } else if (colourType == PNG_COLOR_TYPE_GRAY && depth == 8) {
            FBitCount = 8;
            for (int i = 0; i < 256; ++i)
                FColors[i] = TRGBQuad{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
        } else if (colourType == PNG_COLOR_TYPE_PALETTE) {
            png_colorp palette = nullptr;
            int entries = 0;
            if (!png_get_PLTE(Png, Info, &palette, &entries) || entries > 256)
                return false;
            FBitCount = depth == 1 ? 1 : 8;
            Mono = depth == 1;
            if (depth != 1 && depth != 8)
                png_set_packing(Png);
            for (int i = 0; i < entries; ++i)
                FColors[i] = TRGBQuad{palette[i].blue, palette[i].green, palette[i].red, 0};
        } else if (colourType == PNG_COLOR_TYPE_RGB && depth == 8) {
            png_set_bgr(Png);
            FBitCount = 24;
        } else {
            return false;
        }
        // Sizes the platform's reader refuses are left to it.
        if (!PlatformAllocates(width, height, FBitCount == 24 ? 32 : FBitCount))
            return false;
        FWidth = int(width);
        FHeight = int(height);
        FTopDown = true;
        ReadResolution();
        Passes = png_set_interlace_handling(Png);
        png_read_update_info(Png, Info);
        if (Passes > 1) {
            // Interlaced rows come in seven passes over the whole picture:
            // it is decoded whole, as stored rows, before the first is read.
            Whole.resize(static_cast<std::size_t>(RowSize() * FHeight));
            std::vector<png_bytep> pointers(static_cast<std::size_t>(FHeight));
            for (int y = 0; y < FHeight; ++y)
                pointers[std::size_t(y)] = Whole.data() + RowSize() * y;
            png_read_image(Png, pointers.data());
        }
        return true;
    }

    void Read(std::uint8_t *rows, int count) override
    {
        const std::int64_t rowSize = RowSize();
        if (Passes > 1) {
            std::memcpy(rows, Whole.data() + rowSize * Done, std::size_t(rowSize * count));
        } else {
            if (setjmp(png_jmpbuf(Png)))
                Damaged();
            for (int r = 0; r < count; ++r) {
                std::uint8_t *row = rows + rowSize * r;
                std::memset(row, 0, std::size_t(rowSize));
                png_read_row(Png, row, nullptr);
            }
        }
        if (Mono) {
            // The bits beyond the width are 0, as in the whole picture.
            const int tail = FWidth & 7;
            for (int r = 0; tail && r < count; ++r)
                rows[rowSize * r + FWidth / 8] &= std::uint8_t(0xFF00 >> tail);
        }
        Done += count;
        if (Done == FHeight && Passes == 1) {
            if (setjmp(png_jmpbuf(Png)))
                throw ERowsRefused("The PNG file is damaged");
            png_read_end(Png, nullptr);
        }
    }

private:
    [[noreturn]] void Damaged() const { throw EInvalidGraphic(QStringLiteral("libpng: ") + Reason); }

    // The pHYs resolution in dots per metre as the platform keeps it.
    void ReadResolution()
    {
        QImage image(1, 1, QImage::Format_Mono);
        const QImage blank = image;
        const png_uint_32 x = png_get_x_pixels_per_meter(Png, Info);
        const png_uint_32 y = png_get_y_pixels_per_meter(Png, Info);
        if (x != 0 && y != 0) {
            image.setDotsPerMeterX(int(x));
            image.setDotsPerMeterY(int(y));
        }
        FDotsPerMeterX = image.dotsPerMeterX() != blank.dotsPerMeterX() ? image.dotsPerMeterX() : 0;
        FDotsPerMeterY = image.dotsPerMeterY() != blank.dotsPerMeterY() ? image.dotsPerMeterY() : 0;
    }

    std::FILE *File;
    png_structp Png = nullptr;
    png_infop Info = nullptr;
    bool Mono = false;
    int Passes = 1;
    int Done = 0;
    std::vector<std::uint8_t> Whole;
    QString Reason;  // libpng's, once it gave up
};

} // namespace

namespace PictureReaders {

std::unique_ptr<TPictureRows> OpenPngRows(const QString &path)
{
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return nullptr;
    png_byte signature[8] = {};
    if (std::fread(signature, 1, 8, file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);
    auto rows = std::make_unique<TPngRows>(file);
    if (!rows->Open())
        return nullptr;
    return rows;
}

} // namespace PictureReaders
