#include "base/Messages.h"

QString ScanModeName(int pixelScanMode)
{
    switch (pixelScanMode) {
    case 1: return QStringLiteral("ライン");
    case 2: return QStringLiteral("ボックス");
    case 3: return QStringLiteral("ライン２");
    default: return QString();
    }
}

QString SkewText(std::optional<double> degrees)
{
    if (!degrees)
        return QStringLiteral("傾きは見つかりませんでした");
    return QStringLiteral("傾き %1度を補正しました").arg(*degrees, 0, 'f', 2);
}
