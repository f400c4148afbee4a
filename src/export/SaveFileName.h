#pragma once

// File names of the save command.
//   FileNamePart / ExtensionOf / ReplaceExtension - parts of a path; never fail.

#include <QString>

// The name after the last folder separator ("/" everywhere, also "\" and ":"
// on Windows).
QString FileNamePart(const QString &path);
// The extension with its dot (".Dxf"), or empty when the name part has no dot.
QString ExtensionOf(const QString &path);
// The text from the name part's last dot on replaced by `extension` (given with
// its dot); a name without a dot gets it appended.
QString ReplaceExtension(const QString &path, const QString &extension);
