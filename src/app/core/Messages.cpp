#include "app/core/Messages.h"

QString ScanModeName(int pixelScanMode)
{
    switch (pixelScanMode) {
    case 1: return QStringLiteral("ライン");
    case 2: return QStringLiteral("ボックス");
    case 3: return QStringLiteral("ライン２");
    default: return QString();
    }
}
