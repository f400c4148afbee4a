#include "commands/ScanDriver.h"

#include "image/PictureLimits.h"

#include "base/Messages.h"
#include "base/ProgressPort.h"
#include "base/Settings.h"
#include "base/TaskPool.h"
#include "commands/UserInterface.h"
#include "image/PictureFormats.h"
#include "image/PictureRows.h"
#include "image/TzDIB.h"
#include "scan/BlackMask.h"
#include "scan/BoxMode.h"
#include "scan/Line2Mode.h"
#include "scan/LineMode.h"
#include "scan/ScanBackdrop.h"
#include "scan/ScanFilters.h"
#include "scan/ScanState.h"
#include "text/TextSeparation.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace {

// Disables the main window (when there is one) and shows the progress; on
// every way out enables the main window and closes the progress, noting in
// `stopped` a cancel of its progress bar.
class TConversionWindows
{
public:
    TConversionWindows(TProgressDisplay &display, TUserInterface *window, const QString &label,
                       bool &stopped)
        : Display(display), Window(window), Stopped(stopped)
    {
        if (Window)
            Window->SetMainWindowEnabled(false);
        try {
            Display.ShowProgress(Messages::Loading(), label, true);
        } catch (...) {
            if (Window)
                Window->SetMainWindowEnabled(true);
            throw;
        }
    }
    ~TConversionWindows()
    {
        if (Display.ProgressBar().Cancelled())
            Stopped = true;
        if (Window)
            Window->SetMainWindowEnabled(true);
        Display.CloseProgress();
    }
    TConversionWindows(const TConversionWindows &) = delete;
    TConversionWindows &operator=(const TConversionWindows &) = delete;

private:
    TProgressDisplay &Display;
    TUserInterface *Window;
    bool &Stopped;
};

// While it lives, the filters' long steps end early once `progress` is
// cancelled.
class TFiltersStopping
{
public:
    TFiltersStopping(const TScanFilters *filters, const TProgressPort &progress) : Filters(filters)
    {
        if (Filters)
            Filters->SetStop([&progress] { return progress.Cancelled(); });
    }
    ~TFiltersStopping()
    {
        if (Filters)
            Filters->SetStop({});
    }
    TFiltersStopping(const TFiltersStopping &) = delete;
    TFiltersStopping &operator=(const TFiltersStopping &) = delete;

private:
    const TScanFilters *Filters;
};

// Thrown by the rows below when the user cancels the reading.
struct TReadCancelled
{
};

// The rows of a picture that move the progress bar while they are read: a
// step after every band (on the reading thread, the caller's).
class TProgressRows : public TPictureRows
{
public:
    TProgressRows(std::unique_ptr<TPictureRows> rows, TProgressPort &progress)
        : Rows(std::move(rows)), Progress(progress)
    {
        CopyLayout(*Rows);
    }
    void Read(std::uint8_t *rows, int count) override
    {
        if (Progress.Cancelled())
            throw TReadCancelled();
        if (Done == 0)
            Progress.SetMaximum(FHeight);
        Rows->Read(rows, count);
        Done += count;
        Progress.Step(Done);
    }
    bool Sample(int count, const TRowVisitor &each) override { return Rows->Sample(count, each); }

private:
    std::unique_ptr<TPictureRows> Rows;
    TProgressPort &Progress;
    int Done = 0;
};

} // namespace

QString TScanFailure::FailureText(TKind kind)
{
    switch (kind) {
    case OutOfMemory: return Messages::OutOfMemory();
    case Unreadable: return Messages::Unreadable();
    case None: break;
    }
    return QString();
}

TScanDriver::TScanDriver(TScanState &state, const TSettings &settings, TProgressDisplay &display,
                         const TPictureFormats &formats)
    : State(state), Settings(settings), Display(display), Formats(formats)
{
}

TScanDriver::TScanDriver(TScanState &state, const TSettings &settings, TUserInterface &ui,
                         const TPictureFormats &formats)
    : State(state), Settings(settings), Display(ui), Window(&ui), Formats(formats)
{
}

bool TScanDriver::Stopped() const
{
    return FCancelScan || Display.ProgressBar().Cancelled();
}

void TScanDriver::Fail(TScanFailure::TKind kind, const QString &reason, const QString &detail)
{
    FFailure.Kind = kind;
    FFailure.Reason = reason;
    if (!Window)
        return;
    if (detail.isEmpty())
        Window->ShowMessage(TScanFailure::FailureText(kind));
    else
        Window->ShowMessageDetail(TScanFailure::FailureText(kind), detail);
}

TScanStatus TScanDriver::ScanData(const QString &path)
{
    FCancelScan = false;
    // The last picture goes before the next one is read.
    State.Picture = TScanPicture();
    State.TextProblem.clear();
    FFailure = TScanFailure();

    TScanStatus status;
    {
        TConversionWindows windows(Display, Window, Messages::LoadingFile(QFileInfo(path).fileName()),
                                   FCancelScan);
        if (Window)
            Window->ProcessMessages();
        switch (Settings.PixelScanMode) {
        case 2:
            status = ScanData2(path);
            break;
        case 3:
            status = ScanData3(path);
            break;
        default:
            status = ScanData1(path);
            break;
        }
    }
    if (Stopped() || status != ScanDone) {
        State.Picture.Mask.reset();
        State.Picture.Backdrop.reset();
        return status == ScanDone ? ScanStopped : status;
    }
    return ScanDone;
}

bool TScanDriver::ResetSegments()
{
    State.Drawing.reset();
    State.Skew.reset();
    if (State.ResetSegments())
        return true;
    Fail(TScanFailure::OutOfMemory);
    return false;
}

TScanStatus TScanDriver::ScanData1(const QString &path)
{
    if (!ResetSegments())
        return ScanBufferFailed;
    TBlackMask mask;
    const bool lent = LendsMask();
    if (!LoadPicture(path, mask)) {
        ReturnMask(lent, mask);
        return Stopped() ? ScanStopped : ScanUnreadable;
    }
    if (!TracesSegments())
        return Untraced(mask, lent, false, 1);
    // A picture not kept goes as soon as the tracer has read it.
    const TScanStatus status = Traced(KeepsPicture || lent
                                          ? TraceLines(mask, State, Display.ProgressBar(), TraceOptions())
                                          : TraceLines(std::move(mask), State, Display.ProgressBar(), TraceOptions()));
    ReturnMask(lent, mask);
    // Kept for the preview, or dropped before the segment filter needs memory.
    HandOverPicture(std::move(mask), false);
    mask = TBlackMask();
    const TScanStatus filtered = Filtered(status);
    if (filtered == ScanDone)
        TextStrokes(1);
    return filtered;
}

TScanStatus TScanDriver::ScanData2(const QString &path)
{
    if (!ResetSegments())
        return ScanBufferFailed;
    TBlackMask mask;
    const bool lent = LendsMask();
    if (!LoadPicture(path, mask)) {
        ReturnMask(lent, mask);
        return Stopped() ? ScanStopped : ScanUnreadable;
    }
    if (!TracesSegments())
        return Untraced(mask, lent, true, 2);
    // A picture not kept goes as soon as the tracer has read it.
    const TScanStatus status = Traced(KeepsPicture || lent
                                          ? TraceBoxes(mask, State, Display.ProgressBar(), TraceOptions())
                                          : TraceBoxes(std::move(mask), State, Display.ProgressBar(), TraceOptions()));
    ReturnMask(lent, mask);
    HandOverPicture(std::move(mask), true);
    mask = TBlackMask();
    const TScanStatus filtered = Filtered(status);
    if (filtered == ScanDone)
        TextStrokes(2);
    return filtered;
}

TScanStatus TScanDriver::ScanData3(const QString &path)
{
    Display.SetProgressLabel(Messages::ConvertingImage());
    if (!ResetSegments())
        return ScanBufferFailed;
    // The run ends are found in the picture itself: the filters keep a copy,
    // unless nothing is traced.
    const bool traced = TracesSegments();
    const bool lent = !traced && LendsMask();
    if (traced && Filters)
        Filters->SetMaskReturned(false);
    TBlackMask source;
    if (!LoadPicture(path, source)) {
        ReturnMask(lent, source);
        return Stopped() ? ScanStopped : ScanUnreadable;
    }
    if (!traced) {
        Untraced(source, lent, false, 3);
        return ScanDone;
    }
    return Lines2(std::move(source), QFileInfo(path).fileName());
}

TScanStatus TScanDriver::Lines2(TBlackMask source, const QString &fileName)
{
    TBlackMask work;
    try {
        if (KeepsPicture) {
            work = RunEnds(source, Display.ProgressBar(), FThreads);
        } else {
            // A picture that is not kept becomes the work image itself.
            RunEndsInPlace(source, Display.ProgressBar(), FThreads);
            work = std::move(source);
        }
    } catch (const std::bad_alloc &) {
        Fail(TScanFailure::Unreadable);
        return ScanUnreadable;
    }
    Display.SetProgressLabel(Messages::LoadingFile(fileName));
    // Kept for the preview, or dropped before tracing needs its memory.
    HandOverPicture(std::move(source), false);
    source = TBlackMask();
    // A cancel while tracing shows in CancelScan only.
    if (Filtered(Traced(TraceLines(std::move(work), State, Display.ProgressBar(), TraceOptions()))) == ScanDone)
        TextStrokes(3);
    return ScanDone;
}

void TScanDriver::TextStrokes(int method)
{
    if (!Filters || Stopped())
        return;
    TScanFilters::TTextPart text = Filters->TakeText();
    if (!text.Problem.isEmpty()) {
        State.TextProblem = text.Problem;
        if (Window)
            Window->ShowMessage(text.Problem);
    }
    if (text.Mask.Width() == 0)
        return;
    TSegmentList traced;
    TScanStatus status = ScanOutOfMemory;
    try {
        if (!traced.ResetSegments())
            throw std::bad_alloc();
        switch (method) {
        case 2:
            status = TraceBoxes(text.Mask, traced, Display.ProgressBar(), TraceOptions());
            break;
        case 3:
            RunEndsInPlace(text.Mask, Display.ProgressBar(), FThreads);
            [[fallthrough]];
        default:
            status = TraceLines(text.Mask, traced, Display.ProgressBar(), TraceOptions());
            break;
        }
    } catch (const std::bad_alloc &) {
        status = ScanOutOfMemory;
    }
    if (status == ScanOutOfMemory || Stopped()) {
        FCancelScan = true;
        if (status == ScanOutOfMemory)
            Fail(TScanFailure::OutOfMemory);
        return;
    }
    // Each stroke goes with the string whose box holds its middle (rows
    // counted from the top); strokes of no string come last.
    TTextStrings &strings = text.Strings;
    const std::size_t none = strings.size();
    const TStringLookup lookup(strings, 1);
    // Looked up in blocks on the threads, then filed by string (counted
    // first), each string's strokes in list order.
    const std::size_t count = static_cast<std::size_t>(std::max(traced.SegmentCount, 0));
    constexpr std::size_t kBlock = 1 << 16;
    std::vector<std::uint32_t> owner(count);
    RunTasks(FThreads, (count + kBlock - 1) / kBlock, [&](std::size_t block, int) {
        for (std::size_t i = block * kBlock; i < std::min(count, (block + 1) * kBlock); ++i) {
            const TSegment &s = traced.Segments()[i];
            const float x = (s.X1 + s.X2) / 2, row = traced.ImageHeight - (s.Y1 + s.Y2) / 2;
            owner[i] = static_cast<std::uint32_t>(lookup.Find(x, row));
        }
    });
    std::vector<std::size_t> from(none + 2, 0);
    for (const std::uint32_t k : owner)
        ++from[k + 1];
    for (std::size_t k = 1; k < from.size(); ++k)
        from[k] += from[k - 1];
    std::vector<TSegment, TUninitialisedAllocator<TSegment>> filed(count);
    {
        std::vector<std::size_t> next(from.begin(), from.end() - 1);
        for (std::size_t i = 0; i < count; ++i)
            filed[next[owner[i]]++] = traced.Segments()[i];
    }
    const std::int32_t start = State.SegmentCount;
    if (!State.AppendRecords(filed.data(), static_cast<std::int32_t>(count))) {
        FCancelScan = true;
        Fail(TScanFailure::OutOfMemory);
        return;
    }
    for (std::size_t k = 0; k < none; ++k) {
        strings[k].FirstSegment = start + static_cast<std::int32_t>(from[k]);
        strings[k].EndSegment = start + static_cast<std::int32_t>(from[k + 1]);
    }
    State.TextStart = start;
    State.TextStrings = std::move(strings);
}

TScanStatus TScanDriver::Traced(TScanStatus status)
{
    if (status != ScanOutOfMemory)
        return status;
    FCancelScan = true;
    Fail(TScanFailure::OutOfMemory);
    return ScanStopped;
}

bool TScanDriver::LendsMask() const
{
    // A picture kept for the preview stays here; the filters copy what
    // they read again.
    const bool lent = Filters && !KeepsPicture && Filters->ReadsTracedMask();
    if (Filters)
        Filters->SetMaskReturned(lent);
    return lent;
}

void TScanDriver::ReturnMask(bool lent, TBlackMask &mask)
{
    if (!lent)
        return;
    Filters->SetMaskReturned(false);
    Filters->TracedMask(std::move(mask));
    mask = TBlackMask();
}

void TScanDriver::HandOverPicture(TBlackMask &&mask, bool pixelCorners)
{
    if (!KeepsPicture)
        return;
    State.Picture.Mask = std::make_shared<const TBlackMask>(std::move(mask));
    State.Picture.PixelCorners = pixelCorners;
}

TBlackMask TScanDriver::MaskOf(const TTzDIB &image) const
{
    return Filters ? Filters->Mask(image) : TBlackMask::FromImage(image);
}

bool TScanDriver::TracesSegments() const
{
    return !Filters || Filters->ReadsSegments();
}

TScanStatus TScanDriver::Untraced(TBlackMask &mask, bool lent, bool pixelCorners, int method)
{
    State.ImageHeight = static_cast<float>(mask.Height());
    State.StartExtents(static_cast<float>(mask.Width()), static_cast<float>(mask.Height()));
    ReturnMask(lent, mask);
    HandOverPicture(std::move(mask), pixelCorners);
    mask = TBlackMask();
    const TScanStatus filtered = Filtered(ScanDone);
    if (filtered == ScanDone)
        TextStrokes(method);
    return filtered;
}

TScanStatus TScanDriver::Filtered(TScanStatus status)
{
    if (!Filters || status != ScanDone || Stopped())
        return status;
    // The filters (the recognition of a big sheet takes seconds) run off the
    // window's thread, which meanwhile repaints and shows a busy bar, on the
    // list moved out of the state: the windows may read the state as they
    // repaint, and find it empty until the list comes back. (The list,
    // drawing and skew go from one state into the other, the first left empty.)
    const auto move = [](TScanState &from, TScanState &to) {
        static_cast<TSegmentList &>(to) = std::move(static_cast<TSegmentList &>(from));
        from.ReleaseSegments();
        to.Drawing = std::move(from.Drawing);
        to.Skew = from.Skew;
    };
    bool filtered = false;
    {
        // (back in the state however the filters end)
        struct TLent
        {
            TScanState &State;
            const decltype(move) &Move;
            TScanState Work;
            ~TLent() { Move(Work, State); }
        } lent{State, move, {}};
        move(State, lent.Work);
        Display.RunInBackground([&](TProgressPort &progress) {
            // (a cancel ends the recognition at its next step)
            const TFiltersStopping stopping(Filters, progress);
            filtered = Filters->Segments(lent.Work);
        });
    }
    if (Stopped())
        return ScanStopped;
    if (!filtered) {
        FCancelScan = true;
        Fail(TScanFailure::OutOfMemory);
        return ScanStopped;
    }
    return status;
}

bool TScanDriver::LoadPicture(const QString &path, TBlackMask &mask)
{
    try {
        // Read where the window stays responsive: every band of rows is a
        // step, and a cancel stops the reading before the next one. A format
        // read whole is one step, and its mask the next.
        const bool keepBackdrop = KeepsBackdrop;
        const bool exactBlack = Settings.CleanupThreshold.trimmed().isEmpty();
        State.Picture.Backdrop.reset();
        Display.RunInBackground([&](TProgressPort &progress) {
            // The filters' long steps (the strings read one by one) end early
            // once the user cancels.
            const TFiltersStopping stopping(Filters, progress);
            // Where the format reads rows a band at a time, the mask is made
            // from them directly, without the whole picture in memory; rows
            // the reader refuses on the way are read whole instead.
            try {
                const TRowsOpener open = [&]() -> std::unique_ptr<TPictureRows> {
                    std::unique_ptr<TPictureRows> rows = Formats.OpenRows(path);
                    if (!rows)
                        return nullptr;
                    return std::make_unique<TProgressRows>(std::move(rows), progress);
                };
                if (const std::unique_ptr<TPictureRows> rows = open()) {
                    PictureLimits::Check(rows->Width(), rows->Height());
                    State.Picture.DotsPerMeterX = std::max(rows->DotsPerMeterX(), 0);
                    State.Picture.DotsPerMeterY = std::max(rows->DotsPerMeterY(), 0);
                    const auto maskOf = [&](TPictureRows &from) {
                        return Filters ? Filters->MaskFromRows(from, open, FThreads)
                                       : TBlackMask::FromRows(from, FThreads);
                    };
                    if (!keepBackdrop) {
                        mask = maskOf(*rows);
                        return;
                    }
                    // The rows pass the backdrop on their way to the mask.
                    TColor colours[256] = {};
                    if (rows->BitCount() <= 8)
                        for (int i = 0; i < 256; ++i)
                            colours[i] = rows->Color(i);
                    TBackdropMaker maker(rows->Width(), rows->Height(), rows->BitCount(), colours);
                    TBackdropRows tee(*rows, maker);
                    mask = maskOf(tee);
                    if (!progress.Cancelled())
                        State.Picture.Backdrop = maker.Finish(mask, exactBlack);
                    return;
                }
            } catch (const ERowsRefused &) {
                mask = TBlackMask();
                State.Picture.Backdrop.reset();
            }
            TTzDIB image;
            Formats.Load(path, image);
            progress.SetMaximum(2);
            progress.Step(1);
            if (progress.Cancelled())
                return;
            const TBitmapInfoHeader &header = image.InternalDIB()->Header();
            State.Picture.DotsPerMeterX = std::max(header.biXPelsPerMeter, 0);
            State.Picture.DotsPerMeterY = std::max(header.biYPelsPerMeter, 0);
            mask = MaskOf(image);
            if (keepBackdrop)
                State.Picture.Backdrop = TBackdropMaker::FromImage(image, mask, exactBlack);
            progress.Step(2);
        });
    } catch (const TReadCancelled &) {
        FCancelScan = true;
        mask = TBlackMask();
        State.Picture.Backdrop.reset();
    } catch (const std::exception &error) {
        mask = TBlackMask();
        const QString reason = QString::fromUtf8(error.what());
        // The fixed message, with the file and the reader's reason beside it.
        Fail(TScanFailure::Unreadable, reason,
             QDir::toNativeSeparators(path) + QLatin1Char('\n') + reason);
        return false;
    }
    // Cancelled while reading: nothing to trace, nothing to say.
    if (Stopped()) {
        FCancelScan = true;
        mask = TBlackMask();
        return false;
    }
    return true;
}
