#include "plugins/ProgramPlugins.h"

#include "plugins/SPIs.h"

#include <QDir>

std::unique_ptr<TSPIs> StartPlugins(TPictureFormats &formats, const QStringList &firstFolders)
{
    auto plugins = std::make_unique<TSPIs>(&formats);
    for (const QString &folder : firstFolders)
        plugins->Search(QDir(folder).filePath(QStringLiteral("*.spi")));
    plugins->Loaded();
    return plugins;
}

QString FormatOrigin(const TSPIs *plugins, const QString &extension)
{
    if (plugins) {
        const std::vector<TSPIFormat> &formats = plugins->Formats();
        for (auto it = formats.rbegin(); it != formats.rend(); ++it) {
            if (it->Extension.compare(extension, Qt::CaseInsensitive) == 0)
                return it->PluginPath;
        }
    }
    return QStringLiteral("built in");
}
