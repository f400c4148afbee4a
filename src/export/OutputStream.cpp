#include "export/OutputStream.h"

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
    }
}

bool TOutputStream::Flush()
{
    if (!Broken)
        WriteThrough(Buffer.get(), Used);
    Used = 0;
    return !Broken;
}

void TOutputStream::Grow(std::size_t size)
{
    Buffer.reset(new char[size]);
    Capacity = size;
}
