#include "app/ResultLabels.h"

#include "base/DecimalText.h"
#include "base/Messages.h"
#include "base/Settings.h"
#include "drawing/Drawing.h"
#include "scan/ScanState.h"

#include <QFileInfo>

TExtentLabels ExtentLabelTexts(const TScanState &state, const TSettings &settings, float magnification)
{
    // Products in 32-bit floats, as the labels have always shown them.
    const float x = state.MaxX * magnification * settings.Xrate;
    const float y = state.MaxY * magnification * settings.Yrate;
    return TExtentLabels{QStringLiteral("X=") + FormatFixed5(x), QStringLiteral("Y=") + FormatFixed5(y)};
}

TScanLabels ScanLabelTexts(TScanStatus status, const TScanState &state, const TSettings &settings,
                           const QString &path, std::optional<float> magnification)
{
    TScanLabels labels;
    if (status != ScanDone) {
        labels.FileLabel = QStringLiteral("*");
        labels.CountLabel = QStringLiteral("0本");
        labels.XLabel = QStringLiteral("X=0");
        labels.YLabel = QStringLiteral("Y=0");
        return labels;
    }
    labels.FileLabel = QFileInfo(path).fileName();
    labels.CountLabel = FormatThousands(state.SegmentCount) + QStringLiteral("本");
    if (state.Drawing) {
        // A drawing counts its entities: lines, arcs and circles.
        const TDrawing &d = *state.Drawing;
        labels.CountLabel = FormatThousands(static_cast<qint64>(d.EntityCount())) + QStringLiteral("本");
        if (d.HasCurves())
            labels.CountLabel += QStringLiteral(" (円弧%1 円%2)")
                                     .arg(FormatThousands(static_cast<qint64>(d.Count(TEntityKind::Arc))),
                                          FormatThousands(static_cast<qint64>(d.Count(TEntityKind::Circle))));
    }
    if (magnification) {
        const TExtentLabels extents = ExtentLabelTexts(state, settings, *magnification);
        labels.XLabel = extents.XLabel;
        labels.YLabel = extents.YLabel;
    }
    const int mode = settings.PixelScanMode;
    if (mode == 1 || mode == 2)
        labels.ModeLabel = ScanModeName(mode);
    return labels;
}
