#pragma once

#include "base/Threads.h"
#include "scan/PassRunner.h"
#include "scan/ScanStatus.h"

#include <QString>

class TBlackMask;
class TPictureFormats;
class TScanFilters;
class TScanState;
class TTzDIB;
class TProgressDisplay;
class TUserInterface;
struct TSettings;

// Why a conversion failed: its kind and, for a picture that could not be read,
// the reader's words. The shells turn the kind into the program's fixed text
// (FailureText): the window program in a message box, the command line in the
// reason it prints.
struct TScanFailure
{
    enum TKind
    {
        None,         // no failure (a cancel is none either)
        OutOfMemory,  // "メモリが確保出来ませんでした。"
        Unreadable,   // "ファイルが読み込めませんした。"
    };
    TKind Kind = None;
    QString Reason;  // the reader's words; empty when it gave none

    // The fixed text of the kind; empty for None.
    static QString FailureText(TKind kind);
};

// The scan driver: turns one picture file into the segment list of the scan
// state by the method the settings choose. It is the glue between the shell
// that shows the progress, the picture-format registry and the tracers
// (LineMode.h, BoxMode.h, Line2Mode.h), which are plain functions over the
// black mask.
//
// Every method empties the segment list, reads the file through the registry
// of picture formats, finds the picture's black pixels (colour exactly 0;
// outside the picture counts as white) and traces them. Progress and the
// cancel button go through the display's progress bar; the progress window is
// opened by ScanData. A failure is kept in Failure(); a driver made with the
// window's user interface shows it at once in a message box as well.
class TScanDriver
{
public:
    // Without a window: failures are only kept.
    TScanDriver(TScanState &state, const TSettings &settings, TProgressDisplay &display,
                const TPictureFormats &formats);
    // With the window program's user interface: the main window is disabled
    // while converting, and failures and the text's problem are shown.
    TScanDriver(TScanState &state, const TSettings &settings, TUserInterface &ui,
                const TPictureFormats &formats);

    // The open command's conversion: disables the main window (with a
    // window), shows the progress ("読込中・・・", "読込中:" and the file name,
    // cancel button), runs the method of PixelScanMode (2 box, 3 line 2, any
    // other value line) and restores the windows. ScanDone only after a
    // conversion that ended without error or cancel (with the picture in the
    // scan state's Picture when it keeps one): the caller's converted flag.
    // A cancel of the progress bar sets CancelScan before the window closes;
    // a method that ended but left CancelScan set counts as ScanStopped. An
    // error raised inside a method passes on to the caller after the windows
    // are restored.
    TScanStatus ScanData(const QString &path);

    // Line mode: reads the file, then traces it.
    TScanStatus ScanData1(const QString &path);
    // Box mode: the outlines of the black pixels along the pixel edges.
    TScanStatus ScanData2(const QString &path);
    // Line 2 mode: the end pixels of every black run, traced as in line mode.
    // ScanDone, ScanBufferFailed or ScanUnreadable: a cancel while tracing
    // shows in CancelScan().
    TScanStatus ScanData3(const QString &path);

    // How many threads one conversion may use (1: none but the caller's, the
    // default). The segment list is the same for every count.
    void SetThreads(int threads) { FThreads = ThreadsPerPicture(threads); }
    int Threads() const { return FThreads; }

    // Why the last conversion failed; Kind None when it did not (or was
    // cancelled).
    const TScanFailure &Failure() const { return FFailure; }
    // Why the last picture could not be read, in the reader's words; empty
    // when it was read.
    const QString &LoadFailure() const { return FFailure.Reason; }

    // Whether the last conversion was stopped: its progress bar was
    // cancelled, or it ran out of memory while appending segments.
    bool CancelScan() const { return FCancelScan; }

    // Whether a conversion keeps the picture's black pixels in the scan
    // state's Picture (a preview shows them), and with them its own grey or
    // colour pixels (Picture.Backdrop); the resolution is kept either way.
    // Neither by default.
    void SetKeepPicture(bool keep, bool backdrop = false)
    {
        KeepsPicture = keep;
        KeepsBackdrop = keep && backdrop;
    }

    // Steps around the tracer (the clean-up of real scans), or nullptr for
    // none: the exact black of the picture, traced as it is. Not owned.
    void SetFilters(const TScanFilters *filters) { Filters = filters; }

private:
    // Whether the conversion stops: the progress bar was cancelled, or
    // FCancelScan was set (a cancel noted, or a failed growth).
    bool Stopped() const;
    // Reads the file and finds its black pixels; false when the file cannot
    // be read as a picture (message shown) or the reading was cancelled
    // (FCancelScan set, no message).
    bool LoadPicture(const QString &path, TBlackMask &mask);
    TScanStatus Lines2(TBlackMask source, const QString &fileName);
    // Keeps the failure and, with a window, shows its text (with `detail`
    // under it when there is one).
    void Fail(TScanFailure::TKind kind, const QString &reason = QString(),
              const QString &detail = QString());
    // A tracer's status; ScanOutOfMemory is reported (CancelScan set, the
    // failure kept and shown) and becomes ScanStopped.
    TScanStatus Traced(TScanStatus status);
    // Hands the picture's black pixels to the scan state when it keeps them
    // (`mask` is then moved from); otherwise leaves `mask` alone.
    // Whether the mask about to be made is lent to the tracer and given back
    // to the filters (which then keep no copy), told to the filters.
    bool LendsMask() const;
    // Gives a lent mask back to the filters once traced.
    void ReturnMask(bool lent, TBlackMask &mask);
    void HandOverPicture(TBlackMask &&mask, bool pixelCorners);
    bool ResetSegments();
    TBlackMask MaskOf(const TTzDIB &image) const;
    // The segment filter after a tracer that ran to its end.
    TScanStatus Filtered(TScanStatus status);
    // Whether the filters read the traced segments; when they do not, the
    // conversion skips the tracer (see Untraced).
    bool TracesSegments() const;
    // In place of a tracer whose segments nobody reads: the list is left
    // empty with the extents every tracer starts from, the sheet's size (no
    // traced point lies beyond it), and the segment filter runs; then the
    // text is traced by `method`. `mask` as a tracer leaves it (lent, kept
    // for the preview or dropped).
    TScanStatus Untraced(TBlackMask &mask, bool lent, bool pixelCorners, int method);
    // The filters' text, traced by `method` (1 line, 2 box, 3 line 2) and
    // appended string by string after the drawing's segments.
    void TextStrokes(int method);

    TScanState &State;
    const TSettings &Settings;
    TProgressDisplay &Display;
    TUserInterface *Window = nullptr;
    const TPictureFormats &Formats;
    const TScanFilters *Filters = nullptr;
    TScanFailure FFailure;
    bool FCancelScan = false;
    bool KeepsPicture = false;
    bool KeepsBackdrop = false;
    TTraceOptions TraceOptions() const { return TTraceOptions{FThreads, 0}; }

    int FThreads = 1;
};
