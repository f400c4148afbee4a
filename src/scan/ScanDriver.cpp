#include "scan/ScanDriver.h"

#include "app/core/DecimalText.h"
#include "app/core/Settings.h"
#include "app/core/UserInterface.h"
#include "image/PictureFormats.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"
#include "scan/ScanState.h"

#include <QFileInfo>

#include <exception>

namespace {

const QString kUnreadable = QStringLiteral("ファイルが読み込めませんした。");

// Enables the main window and closes the progress window on every way out.
class TConversionWindows
{
public:
    TConversionWindows(TUserInterface &ui, const QString &label, bool *cancelFlag) : UI(ui)
    {
        UI.SetMainWindowEnabled(false);
        try {
            UI.ShowProgress(QStringLiteral("読込中・・・"), label, true, cancelFlag);
        } catch (...) {
            UI.SetMainWindowEnabled(true);
            throw;
        }
    }
    ~TConversionWindows()
    {
        UI.SetMainWindowEnabled(true);
        UI.CloseProgress();
    }
    TConversionWindows(const TConversionWindows &) = delete;
    TConversionWindows &operator=(const TConversionWindows &) = delete;

private:
    TUserInterface &UI;
};

} // namespace

std::optional<TExtentLabels> ExtentLabelTexts(const TScanState &state, const TSettings &settings,
                                              const QString &magnificationText)
{
    const std::optional<float> m = ParseFloat(magnificationText);
    if (!m)
        return std::nullopt;
    // Products in 32-bit floats, as the labels have always shown them.
    const float x = state.MaxX * *m * settings.Xrate;
    const float y = state.MaxY * *m * settings.Yrate;
    return TExtentLabels{QStringLiteral("X=") + FormatFixed5(x), QStringLiteral("Y=") + FormatFixed5(y)};
}

TScanDriver::TScanDriver(TScanState &state, const TSettings &settings, TUserInterface &ui)
    : TScanDriver(state, settings, ui, TPictureFormats::Global())
{
}

TScanDriver::TScanDriver(TScanState &state, const TSettings &settings, TUserInterface &ui,
                         const TPictureFormats &formats)
    : State(state), Settings(settings), UI(ui), Formats(formats)
{
}

TScanOutcome TScanDriver::ScanData(const QString &path, const QString &magnificationText)
{
    State.DataConverted = false;
    State.CancelScan = false;
    const QString fileName = QFileInfo(path).fileName();
    const int mode = Settings.PixelScanMode;

    TScanOutcome outcome;
    {
        TConversionWindows windows(UI, QStringLiteral("読込中:") + fileName, &State.CancelScan);
        UI.ProcessMessages();
        switch (mode) {
        case 2:
            outcome.Status = ScanData2(path);
            break;
        case 3:
            outcome.Status = ScanData3(path);
            break;
        default:
            outcome.Status = ScanData1(path);
            break;
        }
    }

    TScanLabels &labels = outcome.Labels;
    if (State.CancelScan || outcome.Status != ScanDone) {
        labels.FileLabel = QStringLiteral("*");
        labels.CountLabel = QStringLiteral("0本");
        labels.XLabel = QStringLiteral("X=0");
        labels.YLabel = QStringLiteral("Y=0");
        if (outcome.Status == ScanDone)
            outcome.Status = ScanStopped;
        return outcome;
    }

    State.DataConverted = true;
    labels.FileLabel = fileName;
    labels.CountLabel = FormatThousands(State.SegmentCount) + QStringLiteral("本");
    if (const std::optional<TExtentLabels> extents = ExtentLabelTexts(State, Settings, magnificationText)) {
        labels.XLabel = extents->XLabel;
        labels.YLabel = extents->YLabel;
    }
    if (mode == 1 || mode == 2)
        labels.ModeLabel = ScanModeName(mode);
    return outcome;
}

bool TScanDriver::LoadPicture(const QString &path, TBlackMask &mask)
{
    try {
        TTzDIB image;
        Formats.Load(path, image);
        mask = TBlackMask::FromImage(image);
        return true;
    } catch (const std::exception &) {
        mask = TBlackMask();
        UI.ShowMessage(kUnreadable);
        return false;
    }
}

void TScanDriver::NextLine(int &counter)
{
    ++counter;
    UI.SetProgressPosition(counter);
    UI.ProcessMessages();
}
