#include "export/OutputFile.h"

TOutputFile::TOutputFile(const QString &path) : File(path), Buffer(new char[kBufferSize]) {}

TOutputFile::~TOutputFile()
{
    if (File.isOpen())
        Close();
}

bool TOutputFile::Open()
{
    Broken = !File.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
    return !Broken;
}

void TOutputFile::WriteThrough(const char *bytes, std::size_t size)
{
    while (!Broken && size > 0) {
        const qint64 written = File.write(bytes, static_cast<qint64>(size));
        if (written <= 0) {
            Broken = true;
            break;
        }
        bytes += written;
        size -= static_cast<std::size_t>(written);
    }
}

bool TOutputFile::Flush()
{
    if (!Broken && File.isOpen())
        WriteThrough(Buffer.get(), Used);
    Used = 0;
    return !Broken;
}

bool TOutputFile::Close()
{
    if (!File.isOpen())
        return !Broken;
    Flush();
    if (!File.flush())
        Broken = true;
    File.close();
    if (File.error() != QFileDevice::NoError)
        Broken = true;
    return !Broken;
}

void TOutputFile::Grow(std::size_t size)
{
    Buffer.reset(new char[size]);
    Capacity = size;
}
