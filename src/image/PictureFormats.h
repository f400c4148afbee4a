#pragma once

// The picture formats a conversion can read.
//   TPictureFormats - the registry by extension: Load reads a picture whole
//                     (throws EInvalidGraphic for an extension without a
//                     reader, and what the reader throws); OpenRows gives
//                     its rows a band at a time, or nullptr.
//   PictureReaders  - the built-in readers (platform, DIB, BMP).
//   OfferedForScans - whether the open dialog offers an extension.

#include <QString>

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TPictureRows;
class TTzDIB;

// Reads the picture file at `path` into `picture` (an uncompressed picture whose
// pixels the tracers can read). Throws on any failure: unreadable file, damaged
// or unsupported picture, not enough memory.
using TPictureReader = std::function<void(const QString &path, TTzDIB &picture)>;

// Opens the picture file at `path` to be read a band of rows at a time, or
// returns nullptr when this file must be read whole by the format's reader.
// Raises what the format's reader raises for a file it cannot read.
using TPictureRowsOpener = std::function<std::unique_ptr<TPictureRows>(const QString &path)>;

// One registered picture format.
struct TPictureFormat
{
    QString Extension;    // lower case, without the dot ("bmp")
    QString Description;  // what the open dialog's filter shows ("ビットマップ")
    TPictureReader Reader;
    // The same pictures row by row (the built-in BMP readers); empty for the
    // rest. Register() of an extension drops it.
    TPictureRowsOpener Rows;
};

// The registry of picture formats, keyed by file extension (case-insensitive).
// The window program and the command line each keep one for the whole run and
// pass it to whoever reads pictures: the built-in readers are registered in
// it at start, and the plug-in manager adds the extensions of its import
// plug-ins with Register(). Reading through a registry that is no longer
// changed is safe from several threads.
//
// A later registration of an extension replaces the earlier one (it keeps its
// place in the open dialog's filter).
class TPictureFormats
{
public:
    // An empty registry.
    TPictureFormats();
    ~TPictureFormats();
    TPictureFormats(TPictureFormats &&) noexcept;
    TPictureFormats &operator=(TPictureFormats &&) noexcept;

    // Registers "bmp" (the image library's own reader with the larger headers
    // and the file header's pixel offset taken as well, RLE expanded), "dib"
    // (the same reader exactly as it always was, "Device Independent Bitmap"),
    // and every other
    // format the platform's image readers offer (asked for only when first
    // needed, for they load all of the platform's image plug-ins). Lifts the platform readers'
    // allocation limit so that large drawing sheets open.
    void RegisterBuiltIns();

    // Adds or replaces the reader of an extension ("jpg", ".JPG" and "*.jpg"
    // alike). An empty extension or a missing reader is ignored.
    void Register(const QString &extension, const QString &description, TPictureReader reader);
    void Unregister(const QString &extension);
    // Gives a registered extension its row reader (nullptr: none).
    void SetRows(const QString &extension, TPictureRowsOpener rows);

    // The format of an extension, or nullptr.
    const TPictureFormat *Find(const QString &extension) const;
    // The format that reads a file, chosen by the file name's extension, or nullptr.
    const TPictureFormat *FindForFile(const QString &path) const;
    // Every registered format, in the order of first registration.
    const std::vector<TPictureFormat> &Formats() const;

    // The open dialog's filter in the program's filter syntax: the entry of all
    // pictures first, then one entry per description (extensions that share a
    // description share the entry):
    // "すべての画像 (*.bmp;*.dib;...)|*.bmp;*.dib;...|ビットマップ (*.bmp)|*.bmp|..."
    // Formats that hold no scans (icons, cursors, animations) are read but
    // not offered (OfferedForScans).
    QString OpenFilter() const;

    // Reads a picture file through the reader of its extension. Throws
    // EInvalidGraphic for an extension that has no reader, and passes on what
    // the reader throws.
    void Load(const QString &path, TTzDIB &picture) const;
    // The file's rows one band at a time, when its format reads them so and
    // the file allows it; else nullptr (read it with Load). The rows are the
    // stored rows of the picture that Load makes.
    std::unique_ptr<TPictureRows> OpenRows(const QString &path) const;

private:
    // The platform's formats are asked for (which loads all of its image
    // plug-ins) only once something needs them: an extension not registered
    // otherwise, the whole list, or a change of the registry. Until then the
    // list holds what came before them, and the rest waits in FPlatform.
    struct TPlatform;
    void Complete();
    const std::vector<TPictureFormat> &Completed() const;

    std::vector<TPictureFormat> FFormats;
    std::unique_ptr<TPlatform> FPlatform;
};

// False for the extensions of formats that hold no scans (icons, cursors,
// animations, program sources, vector drawings).
bool OfferedForScans(const QString &extension);

// The built-in readers, for whoever wants one of them directly.
namespace PictureReaders {
// The platform's image reader (any format it recognises), copied into `picture`.
void ReadWithPlatform(const QString &path, TTzDIB &picture);
// The image library's own BMP stream reader; RLE pictures are expanded. A
// truncated or damaged file raises an error that names the reason.
void ReadDib(const QString &path, TTzDIB &picture);
// The same, also taking the 52-, 56-, 108- and 124-byte headers and a pixel
// offset beyond the colour table.
void ReadBmp(const QString &path, TTzDIB &picture);
// The row readers of the two: uncompressed 1-, 4-, 8- and 24-bit files row by
// row, with the errors of ReadDib and ReadBmp; nullptr for other files.
std::unique_ptr<TPictureRows> OpenDibRows(const QString &path);
std::unique_ptr<TPictureRows> OpenBmpRows(const QString &path);
} // namespace PictureReaders
