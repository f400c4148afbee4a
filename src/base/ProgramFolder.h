#pragma once

// Where the program's own files are.
//   ProgramFolder   - the program's folder with a trailing separator.
//   ProgramFolderOf - the same worked out from a program file's folder.

#include <QString>

// The program's own folder, with a trailing separator in the platform's own
// form: where the Susie plug-ins (*.spi) beside the program and "dxf.hed" are
// looked for. On Windows, and wherever the programs run from the folder they
// were built in, it is the folder of the running program file
// ("C:\Trazbit\", "/home/me/trazbit/build/bin/"). Installed on Linux the
// programs sit in <prefix>/bin beside other programs, and their own files in a
// private folder that the build names relative to bin ("../lib/trazbit"): when
// that folder exists, it is the program's folder ("/usr/lib/trazbit/"), found
// from the program file so that a moved prefix still works.
QString ProgramFolder();

// The program's folder for a program file in executableFolder, with the
// private folder relativeFolder (empty: none); "/" separators, trailing "/".
QString ProgramFolderOf(const QString &executableFolder, const QString &relativeFolder);
