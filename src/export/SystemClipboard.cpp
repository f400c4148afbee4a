#include "export/SystemClipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

const char *const TSystemClipboard::kShiftJisMimeType = "text/plain;charset=Shift_JIS";

TClipboardTarget::~TClipboardTarget() = default;

bool TSystemClipboard::Place(const QString &unicode, const QByteArray &cp932)
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    QClipboard *clipboard = QGuiApplication::clipboard();
    if (!clipboard)
        return false;
    auto *data = new QMimeData;
    data->setText(unicode);
    data->setData(QString::fromLatin1(kShiftJisMimeType), cp932);
    clipboard->setMimeData(data);  // the clipboard owns it from here
    const QMimeData *now = clipboard->mimeData();
    return now && (now == data || now->hasFormat(QString::fromLatin1(kShiftJisMimeType)));
}
