#include "export/DxfLayerName.h"

bool IsLayerNameCharacter(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'0' && u <= u'9') || (u >= u'A' && u <= u'Z') || u == u'_' || u == u'-'
           || u == u'$';
}

QString RestrictLayerName(const QString &name)
{
    QString result;
    result.reserve(name.size());
    for (QChar c : name) {
        if (c.unicode() >= u'a' && c.unicode() <= u'z')
            c = QChar(c.unicode() - u'a' + u'A');
        if (IsLayerNameCharacter(c))
            result += c;
    }
    return result;
}

QString OpeningLayerName(const QString &stored)
{
    QString name = RestrictLayerName(stored);
    if (name.isEmpty())
        name = QStringLiteral("SCANDATA");
    return name.left(RestrictedLayerNameLength);
}
