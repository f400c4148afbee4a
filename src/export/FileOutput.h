#pragma once

// Output files of the save command and the command line.
//   WriteOutputFile - a format's whole output into a file; the failure's kind
//                     and the system's words when it is not written (the old
//                     file is kept).
//   IsSameFile - whether two names are one file.

#include <QString>

class TAtomicFile;
class TFormatWriter;
struct TExportContext;

// Why an output file was not written. The callers turn the kind into their
// own text: the save command into its message, the command line into its
// reason.
struct TFileFailure
{
    enum TKind
    {
        None,           // written
        HeaderMissing,  // the writer's Prepare said a file it needs is missing; nothing created
        NotCreated,     // the file could not be opened
        NotWritten,     // the writer failed (Reason empty when it ran out of memory)
        NotReplaced,    // written, but the old file could not be replaced
    };
    TKind Kind = None;
    // The system's words (TAtomicFile::Reason); may be empty.
    QString Reason;
};

// The writer's whole output into `file` (written through the atomic file, so
// that the old file stays whole until the new one is complete; standard
// output with `standardOutput`): the writer's Prepare first, then the file is
// opened, written and replaces the old one. Kind None when written; otherwise
// the old file is kept and nothing is left beside it. Raises what Prepare
// raises, before anything is created.
TFileFailure WriteOutputFile(TAtomicFile &file, TFormatWriter &writer, const TExportContext &context,
                             bool standardOutput = false);

// True when both names exist and lead to the same file (through links, hard
// links, or a file system that ignores case).
bool IsSameFile(const QString &first, const QString &second);
