#pragma once

#include <QString>

#include <optional>

class TPictureFormats;
class TScanState;
class TTzDIB;
class TUserInterface;
struct TSettings;
class TBlackMask;

// Status codes of the conversion methods.
enum TScanStatus : int {
    ScanDone = 0,          // conversion completed
    ScanBufferFailed = 1,  // the segment buffer could not be had (message shown)
    ScanUnreadable = 3,    // the file could not be read as a picture (message shown)
    ScanStopped = 5,       // cancelled, or stopped by a memory failure while appending
};

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

// What ScanData did: the method's status (a cancel that the method reported
// only through CancelScan counts as 5) and the label texts to show.
struct TScanOutcome
{
    int Status = ScanStopped;
    TScanLabels Labels;
};

// The labels of the upper-right corner, as the magnification edit's change
// handler and the end of a conversion make them: "X=" and MaxX x m x Xrate,
// "Y=" and MaxY x m x Yrate (32-bit float products, five decimals), m being the
// edit's text as a number. Nothing when the text is not a valid number.
struct TExtentLabels
{
    QString XLabel;
    QString YLabel;
};
std::optional<TExtentLabels> ExtentLabelTexts(const TScanState &state, const TSettings &settings,
                                              const QString &magnificationText);

// The scan driver: turns one picture file into the segment list of the scan
// state by the method the settings choose.
//
// Every method empties the segment list, reads the file through the registry
// of picture formats, walks the picture's black pixels (colour exactly 0;
// outside the picture counts as white) and appends segments with
// TScanState::AddSegment. Progress, pending messages and the cancel button go
// through the user interface; the progress window is opened by ScanData.
class TScanDriver
{
public:
    // `formats` defaults to the registry of the run.
    TScanDriver(TScanState &state, const TSettings &settings, TUserInterface &ui);
    TScanDriver(TScanState &state, const TSettings &settings, TUserInterface &ui,
                const TPictureFormats &formats);

    // The open command's conversion: disables the main window, shows the
    // progress window ("読込中・・・", "読込中:" and the file name, cancel
    // button), runs the method of PixelScanMode (2 box, 3 line 2, any other
    // value line), restores both windows and sets DataConverted on success.
    // `magnificationText` is the magnification edit's text, for the X and Y
    // labels. An error raised inside a method passes on to the caller after the
    // windows are restored; DataConverted then stays false and the labels
    // keep their texts.
    TScanOutcome ScanData(const QString &path, const QString &magnificationText);

    // Line mode: reads the file, then ScanLine. Status 0, 1, 3 or 5.
    int ScanData1(const QString &path);
    // Box mode: the outlines of the black pixels along the pixel edges. Status 0, 1, 3 or 5.
    int ScanData2(const QString &path);
    // Line 2 mode: the end pixels of every horizontal and vertical black run,
    // traced by ScanLine. Status 0, 1 or 3 (a cancel while tracing shows in CancelScan).
    int ScanData3(const QString &path);

    // The line-mode tracer on a picture already read: rows, columns and both
    // diagonal directions, 3 x W + 3 x H progress steps. 0 when all six passes
    // ran, 5 when cancelled or stopped by a memory failure. The picture is
    // released (`image` becomes the 1 x 1 default) once its pixels have been
    // read. The segment list is not emptied here.
    int ScanLine(TTzDIB &image);
    // The box-mode tracer on a picture already read (W + H + 4 progress steps);
    // releases the picture like ScanLine.
    int ScanBox(TTzDIB &image);
    // The line 2 preparation and tracing on a picture already read; releases
    // the picture like ScanLine. `fileName` is shown in the progress window
    // once the preparation is done. Status 0, or 3 when the work image cannot
    // be had (message shown).
    int ScanLine2(TTzDIB &image, const QString &fileName);

private:
    // Reads the file and finds its black pixels; false (message shown) when
    // the file cannot be read as a picture.
    bool LoadPicture(const QString &path, TBlackMask &mask);
    int TraceLines(const TBlackMask &mask);
    int TraceBoxes(const TBlackMask &mask);
    int PrepareAndTraceLines(TBlackMask source, const QString &fileName);
    void NextLine(int &counter);

    TScanState &State;
    const TSettings &Settings;
    TUserInterface &UI;
    const TPictureFormats &Formats;
};
