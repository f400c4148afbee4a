#pragma once

// Buffered output of the writers.
//   TOutputStream - buffered writes to a device; once one failed nothing
//                   more is written, Failed() is true and Flush false.

#include <QByteArray>

#include <cstddef>
#include <cstring>
#include <memory>

class QIODevice;

// The writers' way to an open device (a file, standard output, a buffer):
// everything goes through one large buffer, and every write is checked. After
// the first failure Failed() is true and nothing more is written.
class TOutputStream
{
public:
    explicit TOutputStream(QIODevice &device);
    ~TOutputStream();
    TOutputStream(const TOutputStream &) = delete;
    TOutputStream &operator=(const TOutputStream &) = delete;

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
    // A large piece written straight to the device after what is buffered,
    // without a copy into the buffer.
    void AppendDirect(const char *bytes, std::size_t size)
    {
        Flush();
        WriteThrough(bytes, size);
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

    static constexpr std::size_t kBufferSize = std::size_t(1) << 20;

private:
    void WriteThrough(const char *bytes, std::size_t size);
    void Grow(std::size_t size);

    QIODevice &Device;
    struct TFree
    {
        void operator()(char *block) const;
    };
    // A large block: its pages are touched anyway, and one large page costs
    // less than the small ones.
    std::unique_ptr<char, TFree> Buffer;
    std::size_t Capacity = kBufferSize;
    std::size_t Used = 0;
    bool Broken = false;
};
