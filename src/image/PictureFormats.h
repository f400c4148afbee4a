#pragma once

#include <QString>

#include <functional>
#include <vector>

class TTzDIB;

// Reads the picture file at `path` into `picture` (an uncompressed picture whose
// pixels the tracers can read). Throws on any failure: unreadable file, damaged
// or unsupported picture, not enough memory.
using TPictureReader = std::function<void(const QString &path, TTzDIB &picture)>;

// One registered picture format.
struct TPictureFormat
{
    QString Extension;    // lower case, without the dot ("bmp")
    QString Description;  // what the open dialog's filter shows ("ビットマップ")
    TPictureReader Reader;
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
    TPictureFormats() = default;

    // Registers "bmp" (the image library's own reader with the larger headers
    // and the file header's pixel offset taken as well, RLE expanded), "dib"
    // (the same reader exactly as it always was, "Device Independent Bitmap"),
    // and every other
    // format the platform's image readers offer. Lifts the platform readers'
    // allocation limit so that large drawing sheets open.
    void RegisterBuiltIns();

    // Adds or replaces the reader of an extension ("jpg", ".JPG" and "*.jpg"
    // alike). An empty extension or a missing reader is ignored.
    void Register(const QString &extension, const QString &description, TPictureReader reader);
    void Unregister(const QString &extension);

    // The format of an extension, or nullptr.
    const TPictureFormat *Find(const QString &extension) const;
    // The format that reads a file, chosen by the file name's extension, or nullptr.
    const TPictureFormat *FindForFile(const QString &path) const;
    // Every registered format, in the order of first registration.
    const std::vector<TPictureFormat> &Formats() const { return FFormats; }

    // The open dialog's filter in the program's filter syntax: the entry of all
    // pictures first, then one entry per description (extensions that share a
    // description share the entry):
    // "すべての画像 (*.bmp;*.dib;...)|*.bmp;*.dib;...|ビットマップ (*.bmp)|*.bmp|..."
    QString OpenFilter() const;

    // Reads a picture file through the reader of its extension. Throws
    // EInvalidGraphic for an extension that has no reader, and passes on what
    // the reader throws.
    void Load(const QString &path, TTzDIB &picture) const;

private:
    std::vector<TPictureFormat> FFormats;
};

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
} // namespace PictureReaders
