#include "export/OutputStream.h"

#include "export/WriteBack.h"

#include <QIODevice>

TOutputStream::TOutputStream(QIODevice &device) : Device(device), Buffer(new char[kBufferSize]) {}

TOutputStream::~TOutputStream()
{
    Flush();
}

void TOutputStream::WriteThrough(const char *bytes, std::size_t size)
{
    while (!Broken && size > 0) {
        const qint64 written = Device.write(bytes, static_cast<qint64>(size));
        if (written <= 0) {
            Broken = true;
            break;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
        Written(static_cast<std::size_t>(written));
    }
}

bool TOutputStream::Flush()
{
    if (!Broken)
        WriteThrough(Buffer.get(), Used);
    Used = 0;
    return !Broken;
}

void TOutputStream::Written(std::size_t size)
{
    // Every few megabytes, the disk may start on them.
    constexpr std::size_t kWriteBackBytes = std::size_t(8) << 20;
    SinceWriteBack += size;
    if (SinceWriteBack >= kWriteBackBytes) {
        SinceWriteBack = 0;
        StartWriteBack(Device);
    }
}

void TOutputStream::Grow(std::size_t size)
{
    Buffer.reset(new char[size]);
    Capacity = size;
}
