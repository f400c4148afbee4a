#include "plugins/SusieFolder.h"

#include <QSettings>
#include <QStringList>
#include <QVariant>

QString SusiePluginFolder()
{
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope,
                             QStringLiteral("Takechin"), QStringLiteral("Susie"));
    // The user's own settings only, never the machine-wide ones.
    settings.setFallbacksEnabled(false);
    const QVariant value = settings.value(QStringLiteral("Plug-in/Path"));
    if (settings.status() != QSettings::NoError)
        return QString();
    // A folder name with a comma reads back from a settings file as a list.
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (value.typeId() != QMetaType::QString)
        return QString();
    return value.toString();
}
