#pragma once

#include "scan/ScanStatus.h"

#include <QString>

#include <optional>

class TScanState;
struct TSettings;

// The texts the main window's result labels take after a conversion. An empty
// optional leaves that label as it is.
struct TScanLabels
{
    QString FileLabel;               // "*", or the file name without its folder
    QString CountLabel;              // "0本", or the count with thousands separators and "本"
    std::optional<QString> XLabel;   // "X=0", or "X=" and the scaled extent
    std::optional<QString> YLabel;
    std::optional<QString> ModeLabel;  // "ライン" or "ボックス" after such a conversion
};

// The upper-right corner's labels, as the magnification edit's change handler
// and the end of a conversion make them: "X=" and MaxX x m x Xrate, "Y=" and
// MaxY x m x Yrate (32-bit float products, five decimals).
struct TExtentLabels
{
    QString XLabel;
    QString YLabel;
};
TExtentLabels ExtentLabelTexts(const TScanState &state, const TSettings &settings, float magnification);

// The labels after a conversion of `path` that ended with `status`:
// placeholders unless it was done; else the file name, the count, the extents
// when the magnification box holds a number, and the method's name for line
// and box mode.
TScanLabels ScanLabelTexts(TScanStatus status, const TScanState &state, const TSettings &settings,
                           const QString &path, std::optional<float> magnification);
