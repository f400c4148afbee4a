#include "export/Cp932.h"

#include <QStringEncoder>

namespace {

// Characters that Japanese input on other systems produces for the marks code page
// 932 holds under another code point (wave dash, double vertical line, minus sign,
// cent, pound, not sign).
char16_t WindowsForm(char16_t c)
{
    switch (c) {
    case 0x301C: return 0xFF5E;
    case 0x2016: return 0x2225;
    case 0x2212: return 0xFF0D;
    case 0x00A2: return 0xFFE0;
    case 0x00A3: return 0xFFE1;
    case 0x00AC: return 0xFFE2;
    default: return c;
    }
}

bool IsAscii(const QString &text)
{
    for (const QChar c : text)
        if (c.unicode() >= 0x80)
            return false;
    return true;
}

} // namespace

QByteArray ToCp932(const QString &text)
{
    if (IsAscii(text))
        return text.toLatin1();

    QString normalised = text;
    for (QChar &c : normalised)
        c = QChar(WindowsForm(c.unicode()));

    QStringEncoder encoder(kCp932CodecName, QStringConverter::Flag::Stateless);
    QByteArray whole = encoder.encode(normalised);
    if (!encoder.hasError())
        return whole;

    // Some character has no code: encode one character (or surrogate pair) at a
    // time so that exactly the missing ones become "?".
    QByteArray out;
    out.reserve(whole.size());
    for (qsizetype i = 0; i < normalised.size();) {
        const qsizetype length =
            (normalised.at(i).isHighSurrogate() && i + 1 < normalised.size()
             && normalised.at(i + 1).isLowSurrogate()) ? 2 : 1;
        const QStringView piece = QStringView(normalised).mid(i, length);
        QStringEncoder one(kCp932CodecName, QStringConverter::Flag::Stateless);
        const QByteArray bytes = one.encode(piece);
        out += one.hasError() ? QByteArray("?") : bytes;
        i += length;
    }
    return out;
}

bool FitsCp932(const QString &text)
{
    if (IsAscii(text))
        return true;
    QString normalised = text;
    for (QChar &c : normalised)
        c = QChar(WindowsForm(c.unicode()));
    // The codec may put its substitute without reporting an error: the text
    // must come back as it went.
    QStringEncoder encoder(kCp932CodecName, QStringConverter::Flag::Stateless);
    const QByteArray bytes = encoder.encode(normalised);
    return !encoder.hasError() && FromCp932(bytes) == normalised;
}
