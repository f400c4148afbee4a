#include "cli/InputNames.h"

#include "export/Cp932.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QStringDecoder>
#include <QTemporaryDir>

#include <memory>

#include <unistd.h>

namespace {

struct TLinks
{
    QMutex Mutex;
    std::unique_ptr<QTemporaryDir> Folder;
    QHash<QString, QString> PathOf;
};

TLinks &Links()
{
    static TLinks links;
    return links;
}

bool IsUtf8(const QByteArray &bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);  // decoded only when taken as text
    return !decoder.hasError();
}

} // namespace

QString InputName(const QByteArray &bytes)
{
    if (IsUtf8(bytes))
        return QFile::decodeName(bytes);
    const QString name = FromCp932(bytes);
    if (name.contains(QChar::ReplacementCharacter))
        return QFile::decodeName(bytes);
    TLinks &links = Links();
    const QMutexLocker lock(&links.Mutex);
    if (links.PathOf.contains(name))
        return name;
    if (!links.Folder) {
        links.Folder = std::make_unique<QTemporaryDir>();
        if (!links.Folder->isValid())
            return name;
    }
    // The link keeps the name's extension: some formats are told by it.
    const QString link = links.Folder->filePath(QStringLiteral("%1.%2").arg(links.PathOf.size()).arg(QFileInfo(name).suffix()));
    QByteArray target = bytes;
    if (!target.startsWith('/'))
        target = QFile::encodeName(QDir::currentPath()) + '/' + target;
    if (::symlink(target.constData(), QFile::encodeName(link).constData()) == 0)
        links.PathOf.insert(name, link);
    return name;
}

QStringList ArgumentNames(int argc, char *argv[])
{
    QStringList names;
    for (int i = 0; i < argc; ++i)
        names << InputName(QByteArray(argv[i]));
    return names;
}

QString ReadPath(const QString &input)
{
    TLinks &links = Links();
    const QMutexLocker lock(&links.Mutex);
    return links.PathOf.value(input, input);
}
