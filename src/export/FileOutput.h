#pragma once

// Output files of the save command.
//   OpenOutputFile / WriteOutputFile - false when the file cannot be made, or
//                     a write or the replacement failed (the old file is kept).
//   IsSameFile - whether two names are one file.

#include <QString>

class TAtomicFile;
class TFormatWriter;
struct TExportContext;

// The save command's files: written through an atomic file, so that the old
// file stays whole until the new one is complete.
bool OpenOutputFile(TAtomicFile &file);
// The writer's whole output into an open file, which then replaces the old
// one; false when a write or the replacement failed (the old file is kept and
// nothing is left beside it).
bool WriteOutputFile(TAtomicFile &file, TFormatWriter &writer, const TExportContext &context);

// True when both names exist and lead to the same file (through links, hard
// links, or a file system that ignores case).
bool IsSameFile(const QString &first, const QString &second);
