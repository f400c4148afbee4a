#include "image/CodecRows.h"

#include "image/DIBFormat.h"

#include <QFile>
#include <QImage>

#include <cstdio>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <utility>

#include <jpeglib.h>

namespace {

// libjpeg's errors and its warnings about the data end reading: the caller
// then reads the picture whole and reports what the platform's reader says.
struct TJpegError
{
    jpeg_error_mgr Manager;
    std::jmp_buf Jump;
};

[[noreturn]] void ErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TJpegError *>(info->err)->Jump, 1);
}

void EmitMessage(j_common_ptr info, int level)
{
    if (level < 0)
        std::longjmp(reinterpret_cast<TJpegError *>(info->err)->Jump, 1);
}

void OutputMessage(j_common_ptr) {}

// The dots per metre of a JFIF density, as the platform's reader keeps them
// (0: none stated, or the platform's own default, which counts as none).
void Resolution(const jpeg_decompress_struct &info, int &x, int &y)
{
    x = y = 0;
    QImage image(1, 1, QImage::Format_Mono);
    const QImage blank = image;
    if (info.density_unit == 1) {
        image.setDotsPerMeterX(int(100. * info.X_density / 2.54));
        image.setDotsPerMeterY(int(100. * info.Y_density / 2.54));
    } else if (info.density_unit == 2) {
        image.setDotsPerMeterX(int(100. * info.X_density));
        image.setDotsPerMeterY(int(100. * info.Y_density));
    }
    x = image.dotsPerMeterX() != blank.dotsPerMeterX() ? image.dotsPerMeterX() : 0;
    y = image.dotsPerMeterY() != blank.dotsPerMeterY() ? image.dotsPerMeterY() : 0;
}

// The orientation an Exif block states (1: as stored, also when none).
int ExifOrientation(const jpeg_decompress_struct &info)
{
    for (jpeg_saved_marker_ptr m = info.marker_list; m; m = m->next) {
        if (m->marker != JPEG_APP0 + 1 || m->data_length < 14 || std::memcmp(m->data, "Exif\0\0", 6) != 0)
            continue;
        const JOCTET *tiff = m->data + 6;
        const std::size_t size = m->data_length - 6;
        const bool little = tiff[0] == 'I';
        const auto u16 = [&](std::size_t at) -> unsigned {
            return at + 2 > size ? 0u : little ? unsigned(tiff[at] | tiff[at + 1] << 8) : unsigned(tiff[at] << 8 | tiff[at + 1]);
        };
        const auto u32 = [&](std::size_t at) -> std::size_t {
            return at + 4 > size ? 0 : std::size_t(u16(little ? at : at + 2)) | std::size_t(u16(little ? at + 2 : at)) << 16;
        };
        const std::size_t ifd = u32(4);
        const unsigned entries = u16(ifd);
        for (unsigned e = 0; e < entries; ++e) {
            const std::size_t at = ifd + 2 + 12 * std::size_t(e);
            if (u16(at) == 0x0112)
                return int(u16(at + 8));
        }
    }
    return 1;
}

// The buffer of a JPEG file's reads.
constexpr std::size_t kFileBuffer = std::size_t(1) << 20;

class TJpegRows : public TPictureRows
{
public:
    // `buffer` is the file's, which it outlives.
    TJpegRows(std::FILE *file, std::unique_ptr<char[]> buffer) : Buffer(std::move(buffer)), File(file)
    {
        Info.err = jpeg_std_error(&Error.Manager);
        Error.Manager.error_exit = ErrorExit;
        Error.Manager.emit_message = EmitMessage;
        Error.Manager.output_message = OutputMessage;
        jpeg_create_decompress(&Info);
        Created = true;
    }
    ~TJpegRows() override
    {
        if (Created)
            jpeg_destroy_decompress(&Info);
        std::fclose(File);
    }

    // False for a file this reader leaves to the platform's reader.
    bool Open()
    {
        if (setjmp(Error.Jump))
            return false;
        jpeg_stdio_src(&Info, File);
        jpeg_save_markers(&Info, JPEG_APP0 + 1, 0xFFFF);
        if (jpeg_read_header(&Info, TRUE) != JPEG_HEADER_OK)
            return false;
        // A picture to be turned or mirrored is left to the platform's reader,
        // whatever it makes of the orientation.
        const int orientation = ExifOrientation(Info);
        if (orientation != 1 && orientation != 0)
            return false;
        // Grey pictures become 8 bits with a grey palette, three-component
        // ones (YCbCr or RGB) 24 bits; the platform decodes them with the
        // library's defaults (accurate DCT, smooth upsampling).
        if (Info.num_components == 1 && Info.jpeg_color_space == JCS_GRAYSCALE) {
            Info.out_color_space = JCS_GRAYSCALE;
            FBitCount = 8;
            for (int i = 0; i < 256; ++i)
                FColors[i] = TRGBQuad{std::uint8_t(i), std::uint8_t(i), std::uint8_t(i), 0};
        } else if (Info.num_components == 3
                   && (Info.jpeg_color_space == JCS_YCbCr || Info.jpeg_color_space == JCS_RGB)) {
            // Stored rows are blue, green, red: the same values as RGB output.
            Info.out_color_space = JCS_EXT_BGR;
            FBitCount = 24;
        } else {
            return false;
        }
        Info.dct_method = JDCT_ISLOW;
        Info.do_fancy_upsampling = TRUE;
        jpeg_calc_output_dimensions(&Info);
        // Sizes the platform's reader refuses are left to it.
        if (!PlatformAllocates(Info.output_width, Info.output_height, FBitCount == 8 ? 8 : 32))
            return false;
        FWidth = int(Info.output_width);
        FHeight = int(Info.output_height);
        FTopDown = true;
        Resolution(Info, FDotsPerMeterX, FDotsPerMeterY);
        jpeg_start_decompress(&Info);
        return true;
    }

    void Read(std::uint8_t *rows, int count) override
    {
        if (setjmp(Error.Jump))
            throw ERowsRefused("The JPEG file is damaged");
        const std::int64_t rowSize = RowSize();
        int done = 0;
        while (done < count) {
            JSAMPROW row = rows + rowSize * done;
            if (jpeg_read_scanlines(&Info, &row, 1) != 1)
                throw ERowsRefused("The JPEG file ends early");
            // The stored row's padding is zero, as in the whole picture.
            std::memset(row + std::int64_t(FWidth) * (FBitCount / 8), 0,
                        std::size_t(rowSize - std::int64_t(FWidth) * (FBitCount / 8)));
            ++done;
        }
        Rows += count;
        if (Rows == FHeight)
            jpeg_finish_decompress(&Info);
    }

private:
    std::unique_ptr<char[]> Buffer;
    std::FILE *File;
    jpeg_decompress_struct Info{};
    TJpegError Error{};
    bool Created = false;
    int Rows = 0;
};

} // namespace

namespace PictureReaders {

std::unique_ptr<TPictureRows> OpenJpegRows(const QString &path)
{
    std::FILE *file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return nullptr;
    // The decoder asks for 4 KB at a time: the file is read a megabyte at a
    // time (a 50 MB scan took 13 000 reads, on the thread that decodes).
    auto buffer = std::make_unique<char[]>(kFileBuffer);
    std::setvbuf(file, buffer.get(), _IOFBF, kFileBuffer);
    unsigned char magic[3] = {};
    if (std::fread(magic, 1, 3, file) != 3 || magic[0] != 0xFF || magic[1] != 0xD8 || magic[2] != 0xFF) {
        std::fclose(file);
        return nullptr;
    }
    std::rewind(file);
    auto rows = std::make_unique<TJpegRows>(file, std::move(buffer));
    if (!rows->Open())
        return nullptr;
    return rows;
}

} // namespace PictureReaders
