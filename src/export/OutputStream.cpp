#include "export/OutputStream.h"

#include "base/LargeBlock.h"

#include <QIODevice>

#include <new>

namespace {

char *NewBuffer(std::size_t size)
{
    auto *buffer = static_cast<char *>(LargeBlock::Allocate(size));
    if (!buffer)
        throw std::bad_alloc();
    return buffer;
}

} // namespace

void TOutputStream::TFree::operator()(char *block) const
{
    LargeBlock::Free(block);
}

TOutputStream::TOutputStream(QIODevice &device) : Device(device), Buffer(NewBuffer(kBufferSize)) {}

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
    Buffer.reset(NewBuffer(size));
    Capacity = size;
}
