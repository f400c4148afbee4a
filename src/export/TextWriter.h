#pragma once

#include "export/OutputFormats.h"

#include <QString>

#include <memory>

// The coordinate text file: one line per segment, "Divide1 X1 Divide2 Y1
// Divide3 X2 Divide4 Y2 Divide5", CR LF, code page 932.
std::unique_ptr<TFormatWriter> NewTextWriter();

// The save command's coordinate text: the file is named with "." +
// FileExtention whatever extension `fileName` has. WriteDone, or WriteFailed
// when a write failed ("保存できませんでした。" shown, the lines written so far
// stay). A file that cannot be created raises EFileError naming it.
TWriteResult SaveData1(const TExportContext &context, TUserInterface &ui, const QString &fileName);
