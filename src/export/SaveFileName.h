#pragma once

#include <QString>

// File formats of the save command, also stored as SaveMode.
enum TSaveFormat : int
{
    SaveFormatText = 1,
    SaveFormatDxf = 2,
    SaveFormatJwc = 3,
};

// The name after the last folder separator ("/" everywhere, also "\" and ":"
// on Windows).
QString FileNamePart(const QString &path);
// The extension with its dot (".Dxf"), or empty when the name part has no dot.
QString ExtensionOf(const QString &path);
// The text from the name part's last dot on replaced by `extension` (given with
// its dot); a name without a dot gets it appended.
QString ReplaceExtension(const QString &path, const QString &extension);
// The format a chosen name asks for, by its extension alone, case ignored:
// ".DXF" 2, ".JWC" 3, anything else (no extension too) 1.
int SaveFormatOf(const QString &path);
// The file a writer actually creates for a chosen name: the coordinate text
// takes "." + fileExtention, DXF ".dxf", JWC ".jwc".
QString WrittenFileName(const QString &chosen, int format, const QString &fileExtention);
