#include "base/Cp932Text.h"

#include <QStringDecoder>

const char *const kCp932CodecName = "windows-31j";

QString FromCp932(const QByteArray &bytes)
{
    QStringDecoder decoder(kCp932CodecName, QStringConverter::Flag::Stateless);
    return decoder.decode(bytes);
}
