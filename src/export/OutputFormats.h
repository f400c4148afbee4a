#pragma once

// The output table: every format a save or copy can write.
//   OutputFormats / FindOutputFormat / OutputFormatForFileName - its rows;
//                     FindOutputFormat nullptr for an unknown mode or name.
//   TFormatWriter - Prepare (WriteDone or WriteHeaderMissing) and Write (false
//                   when a write failed).

#include <QString>

#include <memory>
#include <vector>

class QIODevice;
struct TExportContext;
struct TSettings;

// Every output of the program: the three files of the save command (their
// numbers are also stored as SaveMode) and the two clipboard texts.
enum TSaveFormat : int
{
    SaveFormatText = 1,
    SaveFormatDxf = 2,
    SaveFormatJwc = 3,
    SaveFormatClipText = 4,
    SaveFormatClipJwt = 5,
};

// How a save or copy ended.
enum TWriteResult : int
{
    WriteDone = 0,           // written (or copied)
    WriteFailed = 1,         // failed; the message was shown
    WriteHeaderMissing = 4,  // DXF with DxfFileUse and no "dxf.hed" (message shown, nothing created)
};

// Writes one format's bytes. Prepare reads whatever must be had before any
// output exists; Write then writes the whole output to an open device.
class TFormatWriter
{
public:
    virtual ~TFormatWriter();
    // WriteDone to go on, WriteHeaderMissing when a file the format needs is
    // missing. Raises when such a file cannot be read.
    virtual TWriteResult Prepare(const TExportContext &context);
    // False when a write failed; the bytes written so far stay.
    virtual bool Write(const TExportContext &context, QIODevice &device) = 0;
};

// One output format: what the save dialog, the copy command, the command line
// and the progress window know of it, and its writer.
struct TOutputFormat
{
    TSaveFormat Mode;
    // The command line's name of the format ("txt", "dxf", ...).
    const char *Name;
    // The extension its outputs are named with, without the dot; nullptr for
    // the stored extension of the coordinate text (FileExtention).
    const char *FixedExtension;
    // The save dialog's name of a file format ("DXFﾌｧｲﾙ"); nullptr for the
    // clipboard texts, which the save dialog does not offer.
    const char *DialogName;
    // What the progress window says it writes: a file's form ("DXF", or
    // nullptr for the stored extension), or a clipboard text's name.
    const char *FormName;
    std::unique_ptr<TFormatWriter> (*NewWriter)();

    bool IsFile() const { return DialogName != nullptr; }
    QString Extension(const TSettings &settings) const;
    // The file the writer creates for a chosen name: its extension replaced
    // by the format's.
    QString WrittenFileName(const QString &chosen, const TSettings &settings) const;
    // The save dialog's filter entry: "DXFﾌｧｲﾙ(*.dxf)|*.dxf".
    QString DialogFilter(const TSettings &settings) const;
    // The progress window's label while the file is written ("plan.dxfをDXF
    // 形式で保存中"), or the clipboard text's name ("座標形式").
    QString ProgressLabel(const TSettings &settings, const QString &fileName) const;
};

// The table, in the order of their numbers.
const std::vector<TOutputFormat> &OutputFormats();
// The row of a number, or nullptr.
const TOutputFormat *FindOutputFormat(int mode);
// The row of a command-line name (case ignored), or nullptr.
const TOutputFormat *FindOutputFormat(const QString &name);
// The file format a chosen name asks for, by its extension alone, case
// ignored: the format with that fixed extension, else the coordinate text.
const TOutputFormat &OutputFormatForFileName(const QString &path);
// The save dialog's filter: the file formats' entries joined by "|".
QString SaveDialogFilter(const TSettings &settings);
