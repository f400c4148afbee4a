#pragma once

#include "export/OutputFormats.h"

#include <QString>

class TClipboardTarget;
class TUserInterface;
struct TExportContext;

// The save and copy commands' duties, one per output: name the file for the
// chosen name, open it, write it through the format's writer, report a failure
// with the program's message. SaveFile and CopyText pick the duty of a row of
// the output table.

// The save command's coordinate text: the file is named with "." +
// FileExtention whatever extension `fileName` has. WriteDone, or WriteFailed
// when a write failed ("保存できませんでした。" shown, the lines written so far
// stay). A file that cannot be created raises EFileError naming it.
TWriteResult SaveData1(const TExportContext &context, TUserInterface &ui, const QString &fileName);

// The save command's DXF file, named with ".dxf". WriteDone; WriteFailed when
// not created or a write failed ("保存できませんでした。" shown);
// WriteHeaderMissing with DxfFileUse and no "dxf.hed"
// ("dxf.hedファイルが見つかりません。" shown, no file created). Header errors
// are raised before the output is created.
TWriteResult SaveData2(const TExportContext &context, TUserInterface &ui, const QString &fileName);

// The save command's JWC file, named with ".jwc". WriteDone, or WriteFailed
// when not created or a write failed ("保存ができませんでした。" shown).
TWriteResult SaveData3(const TExportContext &context, TUserInterface &ui, const QString &fileName);

// Build the form and put it on the clipboard. WriteDone copied; WriteFailed
// ("コピーできませんでした。" shown). A coordinate text that could not be
// built whole is still copied as far as it goes; a JW_CAD text is not.
TWriteResult SaveData4(const TExportContext &context, TUserInterface &ui, TClipboardTarget &clipboard);
TWriteResult SaveData5(const TExportContext &context, TUserInterface &ui, TClipboardTarget &clipboard);

// The save command's duty for a file format (SaveData1 to SaveData3); WriteFailed for a clipboard text.
TWriteResult SaveFile(const TOutputFormat &format, const TExportContext &context, TUserInterface &ui,
                      const QString &chosen);
// The copy command's duty for a clipboard text (SaveData4, SaveData5); WriteFailed for a file format.
TWriteResult CopyText(const TOutputFormat &format, const TExportContext &context, TUserInterface &ui,
                      TClipboardTarget &clipboard);
