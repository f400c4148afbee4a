#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstring>
#include <memory>

// A file the writers create (replacing any file of that name) and fill through
// one large buffer. Every write is checked: after the first failure Failed() is
// true and nothing more is written.
class TOutputFile
{
public:
    explicit TOutputFile(const QString &path);
    ~TOutputFile();
    TOutputFile(const TOutputFile &) = delete;
    TOutputFile &operator=(const TOutputFile &) = delete;

    // Creates or truncates the file; false when it cannot be created.
    bool Open();
    // The system's reason for the last failure.
    QString ErrorText() const { return File.errorString(); }
    bool Failed() const { return Broken; }

    void Append(const char *bytes, std::size_t size)
    {
        if (size > Capacity - Used) {
            Flush();
            if (size > Capacity) {
                WriteThrough(bytes, size);
                return;
            }
        }
        std::memcpy(Buffer.get() + Used, bytes, size);
        Used += size;
    }
    void Append(const QByteArray &bytes) { Append(bytes.constData(), static_cast<std::size_t>(bytes.size())); }
    template <std::size_t N> void AppendLiteral(const char (&text)[N]) { Append(text, N - 1); }

    // Room for `size` bytes at the end of the buffer; Commit says how many of
    // them were filled.
    char *Reserve(std::size_t size)
    {
        if (size > Capacity - Used) {
            Flush();
            if (size > Capacity)
                Grow(size);
        }
        return Buffer.get() + Used;
    }
    void Commit(std::size_t size) { Used += size; }

    // Writes out what is buffered; false once anything failed.
    bool Flush();
    // Flushes and closes; false when anything failed on the way.
    bool Close();

    static constexpr std::size_t kBufferSize = std::size_t(1) << 20;

private:
    void WriteThrough(const char *bytes, std::size_t size);
    void Grow(std::size_t size);

    QFile File;
    std::unique_ptr<char[]> Buffer;
    std::size_t Capacity = kBufferSize;
    std::size_t Used = 0;
    bool Broken = false;
};
