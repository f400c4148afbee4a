#pragma once

#include "export/ExportContext.h"

#include <QString>

// The coordinate text file: one line per segment, "Divide1 X1 Divide2 Y1
// Divide3 X2 Divide4 Y2 Divide5", CR LF, code page 932. The file is named with
// "." + FileExtention whatever extension `fileName` has.
// 0 written; 1 a write failed ("保存できませんでした。" shown, the lines written
// so far stay). A file that cannot be created raises EFileError naming it.
int SaveData1(const TExportContext &context, const QString &fileName);
