#pragma once

// An output file that is whole or not there.
//   TAtomicFile - Open / OpenStandardOutput / Commit, false with the system's
//                 reason in Reason() when they fail; the old file stays whole.

#include <QIODevice>
#include <QString>

#include <memory>

// An output that never leaves a partly written file under its name.
//
// A regular file, or a name that does not exist yet, is written into an unnamed
// temporary file in the same folder (on systems without one, a hidden named
// one) and linked or renamed into place only by Commit(): until then the old
// file stays whole, and a write that fails or a program that is killed leaves
// nothing beside it. A link to a file replaces the file it points to. Anything
// else - a FIFO, a device, standard output - is written in place and never
// removed or replaced.
//
// Writes go straight to the system (the writers buffer themselves). Every
// failure keeps the system's reason ("No space left on device") in Reason().
class TAtomicFile : public QIODevice
{
public:
    // `path` is written; "-" is a file of that name, not standard output.
    explicit TAtomicFile(const QString &path);
    // Not committed: everything written is thrown away (a file in place keeps
    // what reached it).
    ~TAtomicFile() override;
    TAtomicFile(const TAtomicFile &) = delete;
    TAtomicFile &operator=(const TAtomicFile &) = delete;

    // Opens for writing; false with the reason when the file cannot be made
    // (folder missing or not writable, the name is a folder, a file that may
    // not be written).
    bool Open();
    // Writes to standard output instead of the path, in place.
    bool OpenStandardOutput();
    // Puts everything written in place of the old file, or closes a file
    // written in place. False with the reason; the old file then stays whole.
    bool Commit();
    // Throws away what was written (a file in place keeps what reached it).
    void Discard();

    // True while open on a FIFO, a device or standard output.
    bool InPlace() const;
    const QString &FileName() const { return Path; }
    // Why the last operation failed, in the system's words; empty when none did.
    const QString &Reason() const { return FailureReason; }

    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    // The system's side (AtomicFile_posix.cpp).
    struct TSystemFile;

    bool Opened(bool ok);
    bool Failed();

    QString Path;
    QString FailureReason;
    std::unique_ptr<TSystemFile> System;
};
