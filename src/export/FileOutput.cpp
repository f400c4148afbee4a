#include "export/FileOutput.h"

#include "export/OutputFormats.h"

#include <QFile>

bool OpenOutputFile(QFile &file)
{
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered);
}

bool WriteOutputFile(QFile &file, TFormatWriter &writer, const TExportContext &context)
{
    bool written = writer.Write(context, file);
    if (!file.flush())
        written = false;
    file.close();
    return written && file.error() == QFileDevice::NoError;
}
