#include "image/PictureFormats.h"

#include "image/PictureLimits.h"

#include "base/Errors.h"
#include "image/BmpRows.h"
#include "image/CodecRows.h"
#include "image/DecoderMessages.h"
#include "image/TzDIB.h"

#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>

#include <tiffio.h>

#include <algorithm>
#include <utility>

namespace {

// Enough for an A0 sheet scanned at 600 dpi in full colour (about 560 million
// pixels at 4 bytes); the readers' own default refuses anything above 128 MB.
constexpr int kAllocationLimitMB = 4096;

QString NormalisedExtension(QString extension)
{
    extension = extension.trimmed();
    if (extension.startsWith(QLatin1Char('*')))
        extension.remove(0, 1);
    if (extension.startsWith(QLatin1Char('.')))
        extension.remove(0, 1);
    return extension.toLower();
}

// What the open dialog calls the formats the platform reads; anything not listed
// is named after its extension.
QString PlatformDescription(const QString &extension)
{
    static const std::pair<const char *, const char *> kNames[] = {
        {"bmp", "ビットマップ"},
        {"png", "PNG 画像"},
        {"jpg", "JPEG 画像"},
        {"jpeg", "JPEG 画像"},
        {"jfif", "JPEG 画像"},
        {"tif", "TIFF 画像"},
        {"tiff", "TIFF 画像"},
        {"gif", "GIF 画像"},
        {"pbm", "PBM 画像"},
        {"pgm", "PGM 画像"},
        {"ppm", "PPM 画像"},
        {"webp", "WebP 画像"},
        {"tga", "TGA 画像"},
        {"ico", "アイコン"},
        {"cur", "カーソル"},
        {"icns", "アイコン"},
        {"xbm", "X ビットマップ"},
        {"xpm", "X ピクスマップ"},
        {"wbmp", "WBMP 画像"},
        {"mng", "MNG アニメーション"},
        {"svg", "SVG 図形"},
        {"svgz", "SVG 図形"},
    };
    for (const auto &[ext, name] : kNames) {
        if (extension == QLatin1String(ext))
            return QString::fromUtf8(name);
    }
    return extension.toUpper() + QStringLiteral(" 画像");
}

// A transparent pixel is paper: a picture with alpha is laid over white
// before its colours are read (a colour table entry by entry, other pictures
// pixel by pixel), so that only opaque black stays black.
QImage OnWhitePaper(QImage image)
{
    if (!image.hasAlphaChannel())
        return image;
    const auto over = [](QRgb c) {
        const int a = qAlpha(c);
        const auto mix = [a](int v) { return (v * a + 255 * (255 - a) + 127) / 255; };
        return qRgb(mix(qRed(c)), mix(qGreen(c)), mix(qBlue(c)));
    };
    if (image.colorCount() > 0) {
        QList<QRgb> table = image.colorTable();
        for (QRgb &c : table)
            c = over(c);
        image.setColorTable(table);
        return image;
    }
    image.convertTo(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x)
            row[x] = over(row[x]);
    }
    image.reinterpretAsFormat(QImage::Format_RGB32);
    return image;
}

// The file's resolution goes into the header, where a BMP file keeps it. The
// reader leaves its own default on a picture whose file stores none, so that
// value counts as none.
void KeepResolution(const QImage &image, TTzDIB &picture)
{
    const QImage blank(1, 1, QImage::Format_Mono);
    picture.UniqueDIB();
    TBitmapInfoHeader &header = picture.InternalDIB()->Header();
    header.biXPelsPerMeter = image.dotsPerMeterX() != blank.dotsPerMeterX() ? image.dotsPerMeterX() : 0;
    header.biYPelsPerMeter = image.dotsPerMeterY() != blank.dotsPerMeterY() ? image.dotsPerMeterY() : 0;
}

// The row readers of the formats scanners write, for the extensions the
// platform reads with the same system decoders.
TPictureRowsOpener PlatformRows(const QString &extension)
{
    if (extension == QLatin1String("jpg") || extension == QLatin1String("jpeg")
        || extension == QLatin1String("jfif"))
        return PictureReaders::OpenJpegRows;
    if (extension == QLatin1String("png"))
        return PictureReaders::OpenPngRows;
    if (extension == QLatin1String("tif") || extension == QLatin1String("tiff"))
        return PictureReaders::OpenTiffRows;
    return nullptr;
}

} // namespace

namespace PictureReaders {

void ReadWithPlatform(const QString &path, TTzDIB &picture)
{
    if (QImageReader::allocationLimit() != 0 && QImageReader::allocationLimit() < kAllocationLimitMB)
        QImageReader::setAllocationLimit(kAllocationLimitMB);
    QImageReader reader(path);
    // Pick the decoder by the file's contents when its extension misleads.
    reader.setDecideFormatFromContent(true);
    if (const QSize size = reader.size(); size.isValid())
        PictureLimits::Check(size.width(), size.height());
    QImage image;
    const TDecoderMessages decoder;
    if (!reader.read(&image) || image.isNull())
        throw EInvalidGraphic(QStringLiteral("QImageReader: ") + reader.errorString());
    if (!decoder.Damage().isEmpty())
        throw EInvalidGraphic(QStringLiteral("QImageReader: ") + decoder.Damage().join(QLatin1Char(' ')));
    picture.Assign(OnWhitePaper(image));
    KeepResolution(image, picture);
}

namespace {

EReadError FileEndsEarly(const EReadError &error)
{
    return EReadError(QStringLiteral("TTzInternalDIB.LoadFromStream: The File Ends Before Its Picture Does (")
                      + error.Message() + QLatin1Char(')'));
}

void OpenForReading(QFile &file, QIODevice::OpenMode mode)
{
    if (!file.open(mode))
        throw EFileError(file.fileName() + QStringLiteral(": ") + file.errorString());
}

// The library's own reader: the whole file or an error that says why not. Run-
// length encoded pictures are expanded, so that the tracers can read their rows.
void ReadWithLibrary(const QString &path, TTzDIB &picture, const TBmpReadOptions &options)
{
    QFile file(path);
    OpenForReading(file, QIODevice::ReadOnly);
    TTzDIB loaded;
    try {
        loaded.LoadFromStream(file, options);
    } catch (const EReadError &error) {
        throw FileEndsEarly(error);
    }
    const TTzPixelFormat format = loaded.PixelFormat();
    if (format == tzPf4BitRLE || format == tzPf8BitRLE)
        loaded.SetPixelFormat(format == tzPf4BitRLE ? tzPf4Bit : tzPf8Bit);
    picture.Assign(&loaded);
}

struct TOpenFile
{
    explicit TOpenFile(const QString &path) : File(path)
    {
        // The rows are read in large bands, straight into the caller's memory.
        OpenForReading(File, QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    QFile File;
};

// A BMP file row by row, with the errors of ReadWithLibrary.
class TBmpFileRows : private TOpenFile, public TBmpRows
{
public:
    TBmpFileRows(const QString &path, const TBmpReadOptions &options)
        : TOpenFile(path), TBmpRows(File, options)
    {
    }
    void Read(std::uint8_t *rows, int count) override
    {
        try {
            TBmpRows::Read(rows, count);
        } catch (const EReadError &error) {
            throw FileEndsEarly(error);
        }
    }
};

std::unique_ptr<TPictureRows> OpenWithLibrary(const QString &path, const TBmpReadOptions &options)
{
    std::unique_ptr<TBmpFileRows> rows;
    try {
        rows = std::make_unique<TBmpFileRows>(path, options);
    } catch (const EReadError &error) {
        throw FileEndsEarly(error);
    }
    if (!rows->RowByRow())
        return nullptr;
    return rows;
}

TBmpReadOptions BmpOptions()
{
    TBmpReadOptions options;
    options.LargerHeaders = true;
    options.PixelOffset = true;
    return options;
}

} // namespace

void ReadBmp(const QString &path, TTzDIB &picture)
{
    ReadWithLibrary(path, picture, BmpOptions());
}

void ReadDib(const QString &path, TTzDIB &picture)
{
    ReadWithLibrary(path, picture, TBmpReadOptions());
}

std::unique_ptr<TPictureRows> OpenBmpRows(const QString &path)
{
    return OpenWithLibrary(path, BmpOptions());
}

std::unique_ptr<TPictureRows> OpenDibRows(const QString &path)
{
    return OpenWithLibrary(path, TBmpReadOptions());
}

} // namespace PictureReaders

struct TPictureFormats::TPlatform
{
    std::once_flag Asked;
    // The registry's formats followed by the platform's.
    std::vector<TPictureFormat> All;
};

TPictureFormats::TPictureFormats() = default;
TPictureFormats::~TPictureFormats() = default;
TPictureFormats::TPictureFormats(TPictureFormats &&) noexcept = default;
TPictureFormats &TPictureFormats::operator=(TPictureFormats &&) noexcept = default;

void TPictureFormats::RegisterBuiltIns()
{
    if (QImageReader::allocationLimit() != 0 && QImageReader::allocationLimit() < kAllocationLimitMB)
        QImageReader::setAllocationLimit(kAllocationLimitMB);
    // libtiff's own messages stay quiet: the platform's TIFF reader leaves
    // them to libtiff, which prints them under a made-up file name, and a
    // failed read is reported with the reader's reason.
    TIFFSetErrorHandler(nullptr);
    TIFFSetWarningHandler(nullptr);

    // BMP through the library's own reader, which takes a file whole or refuses
    // it; for .bmp it also takes the larger headers and the pixel offset of the
    // file header that current programs write.
    Register(QStringLiteral("bmp"), PlatformDescription(QStringLiteral("bmp")), PictureReaders::ReadBmp);
    Register(QStringLiteral("dib"), QStringLiteral("Device Independent Bitmap"),
             PictureReaders::ReadDib);
    SetRows(QStringLiteral("bmp"), PictureReaders::OpenBmpRows);
    SetRows(QStringLiteral("dib"), PictureReaders::OpenDibRows);

    // Every other format the platform reads comes after them (in order of
    // their extensions), asked for when first needed.
    FPlatform = std::make_unique<TPlatform>();
}

const std::vector<TPictureFormat> &TPictureFormats::Completed() const
{
    // Several threads may look up formats at once: the list is made once,
    // from the registry's own formats, which do not change meanwhile.
    std::call_once(FPlatform->Asked, [this] {
        std::vector<TPictureFormat> &all = FPlatform->All;
        all = FFormats;
        QStringList platform;
        for (const QByteArray &format : QImageReader::supportedImageFormats())
            platform << NormalisedExtension(QString::fromLatin1(format));
        platform.sort();
        platform.removeDuplicates();
        for (const QString &extension : std::as_const(platform)) {
            if (extension.isEmpty()
                || std::any_of(all.begin(), all.end(), [&](const TPictureFormat &f) { return f.Extension == extension; }))
                continue;
            all.push_back(TPictureFormat{extension, PlatformDescription(extension),
                                         PictureReaders::ReadWithPlatform, PlatformRows(extension)});
        }
    });
    return FPlatform->All;
}

void TPictureFormats::Complete()
{
    if (!FPlatform)
        return;
    Completed();
    FFormats = std::move(FPlatform->All);
    FPlatform.reset();
}

const std::vector<TPictureFormat> &TPictureFormats::Formats() const
{
    return FPlatform ? Completed() : FFormats;
}

void TPictureFormats::Register(const QString &extension, const QString &description,
                               TPictureReader reader)
{
    const QString key = NormalisedExtension(extension);
    if (key.isEmpty() || !reader)
        return;
    Complete();
    for (TPictureFormat &format : FFormats) {
        if (format.Extension == key) {
            format.Description = description;
            format.Reader = std::move(reader);
            format.Rows = nullptr;
            return;
        }
    }
    FFormats.push_back(TPictureFormat{key, description, std::move(reader), nullptr});
}

void TPictureFormats::SetRows(const QString &extension, TPictureRowsOpener rows)
{
    Complete();
    const QString key = NormalisedExtension(extension);
    for (TPictureFormat &format : FFormats)
        if (format.Extension == key)
            format.Rows = std::move(rows);
}

void TPictureFormats::Unregister(const QString &extension)
{
    Complete();
    const QString key = NormalisedExtension(extension);
    std::erase_if(FFormats, [&](const TPictureFormat &f) { return f.Extension == key; });
}

const TPictureFormat *TPictureFormats::Find(const QString &extension) const
{
    const QString key = NormalisedExtension(extension);
    if (key.isEmpty())
        return nullptr;
    for (const TPictureFormat &format : FFormats) {
        if (format.Extension == key)
            return &format;
    }
    if (FPlatform) {
        for (const TPictureFormat &format : Completed()) {
            if (format.Extension == key)
                return &format;
        }
    }
    return nullptr;
}

const TPictureFormat *TPictureFormats::FindForFile(const QString &path) const
{
    // The text after the last dot of the file name (not of the folder).
    const QString name = QFileInfo(path).fileName();
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot < 0)
        return nullptr;
    return Find(name.mid(dot + 1));
}

bool OfferedForScans(const QString &extension)
{
    // Icons, cursors, animations and the formats of program sources and
    // vector drawings hold no scans: read when dropped, not offered.
    static const QStringList kNotForScans{QStringLiteral("ico"),  QStringLiteral("cur"),
                                          QStringLiteral("icns"), QStringLiteral("xbm"),
                                          QStringLiteral("xpm"),  QStringLiteral("wbmp"),
                                          QStringLiteral("mng"),  QStringLiteral("svg"),
                                          QStringLiteral("svgz")};
    return !kNotForScans.contains(extension);
}

QString TPictureFormats::OpenFilter() const
{
    QStringList allPatterns;
    QStringList descriptions;
    std::vector<QStringList> patterns;
    for (const TPictureFormat &format : Formats()) {
        if (!OfferedForScans(format.Extension))
            continue;
        const QString pattern = QStringLiteral("*.") + format.Extension;
        allPatterns << pattern;
        const qsizetype index = descriptions.indexOf(format.Description);
        if (index >= 0) {
            patterns[static_cast<std::size_t>(index)] << pattern;
        } else {
            descriptions << format.Description;
            patterns.push_back(QStringList{pattern});
        }
    }
    const QString all = allPatterns.join(QLatin1Char(';'));
    QStringList parts{QStringLiteral("すべての画像 (") + all + QLatin1Char(')'), all};
    for (qsizetype i = 0; i < descriptions.size(); ++i) {
        const QString joined = patterns[static_cast<std::size_t>(i)].join(QLatin1Char(';'));
        parts << descriptions[i] + QStringLiteral(" (") + joined + QLatin1Char(')') << joined;
    }
    return parts.join(QLatin1Char('|'));
}

void TPictureFormats::Load(const QString &path, TTzDIB &picture) const
{
    const TPictureFormat *format = FindForFile(path);
    if (!format)
        throw EInvalidGraphic(QStringLiteral("Unknown picture file extension: ") + path);
    format->Reader(path, picture);
}

std::unique_ptr<TPictureRows> TPictureFormats::OpenRows(const QString &path) const
{
    const TPictureFormat *format = FindForFile(path);
    if (!format)
        throw EInvalidGraphic(QStringLiteral("Unknown picture file extension: ") + path);
    return format->Rows ? format->Rows(path) : nullptr;
}
