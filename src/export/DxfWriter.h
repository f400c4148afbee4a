#pragma once

#include "export/ExportContext.h"

#include <QByteArray>
#include <QString>

#include <vector>

// The DXF drawing (release 12, code page DOS_932): a header, one LINE entity
// per segment, "ENDSEC" and "EOF", every line ended CR LF. The header is the
// built-in one, or with DxfFileUse the file "dxf.hed" in the program's folder
// with the drawing extents written into it. The file is named with ".dxf".
// 0 written; 1 not created or a write failed ("保存できませんでした。" shown);
// 4 DxfFileUse and no "dxf.hed" ("dxf.hedファイルが見つかりません。" shown, no
// file created). A header file that cannot be read raises EFileError, one too
// short for its extent lines ERangeError, both before the output is created.
int SaveData2(const TExportContext &context, const QString &fileName);

// The header lines, without line ends: the built-in header, or with
// DxfFileUse the header file's lines with the extents written in. Raises as
// SaveData2 does; an empty list (and the message shown) when the file is missing.
std::vector<QByteArray> DxfHeaderLines(const TExportContext &context, bool &fileMissing);
