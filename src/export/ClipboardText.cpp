#include "export/ClipboardText.h"

#include "export/CoordinateLine.h"
#include "export/Cp932.h"
#include "export/FormatCoordinate.h"
#include "export/JwcWriter.h"
#include "export/ProgressStepper.h"

#include <QIODevice>

#include <new>

namespace {

// Appends unless the text would pass the limit or memory runs out.
bool Grow(QByteArray &text, const char *bytes, std::size_t size, std::size_t limit)
{
    if (size > limit || static_cast<std::size_t>(text.size()) > limit - size)
        return false;
    try {
        text.append(bytes, static_cast<qsizetype>(size));
    } catch (const std::bad_alloc &) {
        return false;
    }
    return true;
}

void Finish(TClipboardText &text)
{
    text.Unicode = FromCp932(text.Cp932);
}

// A clipboard form's bytes, written whole or not at all.
class TClipboardWriter : public TFormatWriter
{
public:
    explicit TClipboardWriter(TClipboardText (*build)(const TExportContext &)) : Build(build) {}

    bool Write(const TExportContext &context, QIODevice &device) override
    {
        const TClipboardText text = Build(context);
        return text.Complete && device.write(text.Cp932) == text.Cp932.size();
    }

private:
    TClipboardText (*Build)(const TExportContext &);
};

} // namespace

TClipboardText CoordinateClipboardText(const TExportContext &context)
{
    TProgressStepper progress(context.Progress, context.Result.SegmentCount);
    TClipboardText text;
    TCoordinateLine line(context, "\n\r");
    for (std::int32_t i = 0; i < context.Result.SegmentCount; ++i) {
        if (!Grow(text.Cp932, line.Data(), line.Build(context.Result.Segments()[i]),
                  context.ClipboardTextLimit)) {
            text.Complete = false;
            break;
        }
        progress.Step(i + 1);
    }
    Finish(text);
    return text;
}

TClipboardText JwTranClipboardText(const TExportContext &context)
{
    TProgressStepper progress(context.Progress, context.Result.SegmentCount);
    const TSettings &s = context.Settings;
    const TCoordinateTransform t = context.Transform();
    const QByteArray lead = "L2," + QByteArray::number(JwcLayerIndex(s)) + ',';
    const QByteArray tail = ',' + QByteArray::number(s.JwcLineType) + ','
        + QByteArray::number(s.JwcPenColor) + "\n\r";
    static const char kHeading[] = ";<<JWT.Format.Text>>\n\rBEGIN\n\r";
    static const char kEnd[] = "END";
    const std::size_t limit = context.ClipboardTextLimit;

    TClipboardText text;
    std::vector<char> line(static_cast<std::size_t>(lead.size() + tail.size())
                           + 4 * (kCoordinateTextCapacity + 1));
    bool grown = Grow(text.Cp932, kHeading, sizeof kHeading - 1, limit);
    for (std::int32_t i = 0; grown && i < context.Result.SegmentCount; ++i) {
        const TSegment &seg = context.Result.Segments()[i];
        char *p = line.data();
        std::memcpy(p, lead.constData(), static_cast<std::size_t>(lead.size()));
        p += lead.size();
        p += FormatGeneralTo(p, t.X(seg.X1));
        *p++ = ',';
        p += FormatGeneralTo(p, t.Y(seg.Y1));
        *p++ = ',';
        p += FormatGeneralTo(p, t.X(seg.X2));
        *p++ = ',';
        p += FormatGeneralTo(p, t.Y(seg.Y2));
        std::memcpy(p, tail.constData(), static_cast<std::size_t>(tail.size()));
        p += tail.size();
        grown = Grow(text.Cp932, line.data(), static_cast<std::size_t>(p - line.data()), limit);
        if (grown)
            progress.Step(i + 1);
    }
    if (grown)
        grown = Grow(text.Cp932, kEnd, sizeof kEnd - 1, limit);
    if (!grown) {
        text.Cp932.clear();
        text.Complete = false;
    }
    Finish(text);
    return text;
}

std::unique_ptr<TFormatWriter> NewCoordinateClipboardWriter()
{
    return std::make_unique<TClipboardWriter>(CoordinateClipboardText);
}

std::unique_ptr<TFormatWriter> NewJwTranClipboardWriter()
{
    return std::make_unique<TClipboardWriter>(JwTranClipboardText);
}
