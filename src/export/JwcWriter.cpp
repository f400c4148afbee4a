#include "export/JwcWriter.h"

#include "base/Settings.h"
#include "drawing/Drawing.h"
#include "export/ExportContext.h"
#include "base/Version.h"
#include "export/Cp932.h"
#include "export/OutputStream.h"
#include "export/ProgressStepper.h"

#include <QtEndian>

#include <bit>
#include <cmath>

namespace {

constexpr int kTextBlockSize = 200;
constexpr int kGroups = 16;
constexpr int kLayerIndexes = 256;
constexpr int kLayerNameSize = 8;
constexpr int kGroupNameSize = 16;
constexpr int kRecordSize = 22;

// Text, spaces up to byte 199, a line feed; blocks after the first carry a
// 0x00 right after their text.
QByteArray TextBlock(QByteArray text, bool terminated)
{
    if (terminated)
        text.append('\0');
    text.truncate(kTextBlockSize - 1);
    text.append(kTextBlockSize - 1 - text.size(), ' ');
    text.append('\n');
    return text;
}

void PutWord(char *p, quint16 value)
{
    qToLittleEndian(value, p);
}

void PutFloat(char *p, float value)
{
    qToLittleEndian(std::bit_cast<quint32>(value), p);
}

// The name's bytes cut, at a character boundary, to fit `width` bytes. Every
// character takes at least one byte, so only the first `width` characters can
// count, however long the stored name.
QByteArray FittedName(const QString &name, int width)
{
    qsizetype end = 0;
    for (int characters = 0; characters < width && end < name.size(); ++characters)
        end += name.at(end).isHighSurrogate() && end + 1 < name.size()
                && name.at(end + 1).isLowSurrogate() ? 2 : 1;
    QString part = name.left(end);
    QByteArray bytes = ToCp932(part);
    while (bytes.size() > width) {
        part.chop(part.size() >= 2 && part.back().isLowSurrogate() ? 2 : 1);
        bytes = ToCp932(part);
    }
    return bytes;
}

// `count` records of `width` bytes, all 0x00 but record `index`, which holds
// the name from its first byte on.
QByteArray NameTable(int count, int width, qint64 index, const QString &name)
{
    QByteArray table(count * width, '\0');
    if (index >= 0 && index < count) {
        const QByteArray bytes = FittedName(name, width);
        std::memcpy(table.data() + index * width, bytes.constData(),
                    static_cast<std::size_t>(bytes.size()));
    }
    return table;
}

} // namespace

qint64 JwcLayerIndex(const TSettings &settings)
{
    return qint64(settings.SaveGroup) * 16 + settings.JwcSaveLayer;
}

std::int32_t JwcScaleNumber(long double width)
{
    constexpr std::int32_t kLargest = 2147483640;  // the largest multiple of 10 that fits
    const long double quotient = width / 841;
    std::int32_t s;
    if (!(quotient < kLargest)) {
        s = kLargest;
    } else if (quotient < 0) {
        s = 0;
    } else {
        const long double whole = std::floor(quotient);
        const long double rest = quotient - whole;
        s = static_cast<std::int32_t>(whole);
        if (rest > 0.5L || (rest == 0.5L && s % 2 != 0))
            ++s;
    }
    if (s > 10 && s % 10 != 0)
        s = (s / 10 + 1) * 10;
    if (s < 5)
        s = 5;
    return s;
}

float JwcUnit(std::int32_t scaleNumber)
{
    return static_cast<float>(static_cast<long double>(scaleNumber) * 841 / 518);
}

namespace {

// JW_CAD's line type for a pattern the drawing found: 点線1 for dashes,
// 点線3 for dots, 一点鎖1 and 二点鎖1; 0 for none.
char JwLineTypeOf(const QString &name)
{
    if (name.startsWith(QLatin1String("DASHED")))
        return 2;
    if (name.startsWith(QLatin1String("DOT")))
        return 4;
    if (name.startsWith(QLatin1String("CENTER")))
        return 5;
    if (name.startsWith(QLatin1String("PHANTOM")))
        return 7;
    return 0;
}

struct TJwcRecord
{
    TSegment Segment;
    char LineType;
};

// A segment made from the drawing as the segment list holds it (its Y
// through the list's row and back).
TSegment AsListed(const TSegment &s, float imageHeight)
{
    const float row1 = imageHeight - s.Y1, row2 = imageHeight - s.Y2;
    return {s.X1, imageHeight - row1, s.X2, imageHeight - row2};
}

// The records when the drawing has patterned entities and the segment list
// begins with the segments cut from its entities: each patterned entity's
// dashes give way to the entity itself (a line, or an arc's or circle's
// chords) with JW_CAD's line type for its pattern; every other segment
// keeps the line type of the settings. False when there is no such entity or
// the list is not the drawing's (then the segments are written as they are).
bool PatternedRecords(const TExportContext &context, char lineType, std::vector<TJwcRecord> &records)
{
    const TDrawing *d = context.Drawing;
    if (!d || !(d->SegmentTolerance > 0) || d->LineTypePatterns.empty())
        return false;
    const double tolerance = d->SegmentTolerance;
    bool any = false;
    std::int64_t next = 0;
    std::vector<TSegment> made, own;
    for (std::size_t k = 0; k < d->EntityCount(); ++k) {
        const TDrawingEntity e = d->EntityAt(k);
        const TLineTypePattern *pattern = d->PatternOf(e.LineType);
        made.clear();
        if (pattern)
            AppendDashes(e, pattern->Elements, tolerance, made);
        else
            AppendSegments(e, tolerance, made);
        if (next + static_cast<std::int64_t>(made.size()) > context.Result.SegmentCount)
            return false;
        for (std::size_t i = 0; i < made.size(); ++i) {
            const TSegment a = AsListed(made[i], context.Result.ImageHeight);
            const TSegment &b = context.Result.Segments()[next + static_cast<std::int64_t>(i)];
            if (a.X1 != b.X1 || a.Y1 != b.Y1 || a.X2 != b.X2 || a.Y2 != b.Y2)
                return false;
        }
        const char jw = pattern ? JwLineTypeOf(d->LineTypes[static_cast<std::size_t>(e.LineType)]) : 0;
        if (jw != 0) {
            any = true;
            own.clear();
            AppendSegments(e, tolerance, own);
            for (const TSegment &s : own)
                records.push_back({AsListed(s, context.Result.ImageHeight), jw});
        } else {
            for (std::size_t i = 0; i < made.size(); ++i)
                records.push_back({context.Result.Segments()[next + static_cast<std::int64_t>(i)], lineType});
        }
        next += static_cast<std::int64_t>(made.size());
    }
    for (std::int64_t i = next; i < context.Result.SegmentCount; ++i)
        records.push_back({context.Result.Segments()[i], lineType});
    if (!any)
        records.clear();
    return any;
}

// The whole file; false when a write failed.
bool WriteJwc(const TExportContext &context, QIODevice &device)
{
    const char lineType = static_cast<char>(context.Settings.JwcLineType);
    std::vector<TJwcRecord> patterned;
    const bool withPatterns = PatternedRecords(context, lineType, patterned);
    const std::int32_t count = withPatterns ? static_cast<std::int32_t>(patterned.size()) : context.Result.SegmentCount;
    TProgressStepper progress(context.Progress, count);
    const TSettings &s = context.Settings;
    const TCoordinateTransform t = context.Transform();
    const std::int32_t scale = JwcScaleNumber(t.X(context.Result.MaxX));
    const long double unit = JwcUnit(scale);
    const int group = s.SaveGroup;
    // 0..255 from the settings dialog; any stored pair is computed without
    // overflow, and only its low byte reaches a record.
    const qint64 layerIndex = JwcLayerIndex(s);

    TOutputStream out(device);

    out.Append(TextBlock(QByteArray("jw_cad(c)data.......a...m...............Trazbit Version ")
                              + TRAZBIT_VERSION_TEXT,
                          false));
    out.Append(TextBlock(QByteArray::number(count) + ",0,0,0,0,3,2,1,1,"
                              + QByteArray::number(scale) + ',' + QByteArray::number(layerIndex)
                              + ",1,1,1,5,5,5,10,0,0,0,0,1,2,3,910,910,0,0,0,518,0",
                          true));
    out.Append(TextBlock("0.5,0.0,3.0,15.0,1,1,0,0,0,1,0.0,0.0,0.0,0.0,0.0,0.0,0,0,0,"
                          "1000.000,1000.000,100.000,200.000,300.000,500.000,0,-39,1",
                          true));
    out.Append(TextBlock("5D6F:0000,5D6F:0000,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,36,-23.45,0,0,-1,215,0",
                          true));
    out.Append(QByteArray(909, '\0'));

    static const quint16 kParameters[44] = {0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 20, 20, 25, 30,
                                            40, 50, 60, 70, 80, 90, 100, 20, 20, 25, 30, 40, 50,
                                            60, 70, 80, 90, 100, 0, 0, 0, 5, 5, 5, 10, 10, 10,
                                            10, 10};
    char words[2 * 44];
    for (int i = 0; i < 44; ++i)
        PutWord(words + 2 * i, kParameters[i]);
    out.Append(words, sizeof words);
    char scales[2 * kGroups];
    for (int g = 0; g < kGroups; ++g)
        PutWord(scales + 2 * g, g == group ? static_cast<quint16>(scale) : quint16(100));
    out.Append(scales, sizeof scales);
    out.Append(QByteArray(544, '\x01'));
    char groupStarts[kGroups];
    for (int g = 0; g < kGroups; ++g)
        groupStarts[g] = static_cast<char>(g * 16);
    out.Append(groupStarts, sizeof groupStarts);

    const char penColor = static_cast<char>(s.JwcPenColor);
    const char layer = static_cast<char>(layerIndex);
    for (std::int32_t i = 0; i < count && !out.Failed(); ++i) {
        const TSegment &seg = withPatterns ? patterned[static_cast<std::size_t>(i)].Segment : context.Result.Segments()[i];
        char *p = out.Reserve(kRecordSize);
        PutFloat(p, static_cast<float>(t.X(seg.X1) / unit));
        PutFloat(p + 4, static_cast<float>(t.Y(seg.Y1) / unit));
        PutFloat(p + 8, static_cast<float>(t.X(seg.X2) / unit));
        PutFloat(p + 12, static_cast<float>(t.Y(seg.Y2) / unit));
        p[16] = withPatterns ? patterned[static_cast<std::size_t>(i)].LineType : lineType;
        p[17] = penColor;
        p[18] = layer;
        p[19] = p[20] = p[21] = 0;
        out.Commit(kRecordSize);
        progress.Step(i + 1);
    }

    out.Append(NameTable(kLayerIndexes, kLayerNameSize, layerIndex, s.SaveLayerName));
    out.Append(NameTable(kGroups, kGroupNameSize, group, s.SaveGroupName));
    return out.Flush();
}

class TJwcWriter : public TFormatWriter
{
public:
    bool Write(const TExportContext &context, QIODevice &device) override
    {
        return WriteJwc(context, device);
    }
};

} // namespace

std::unique_ptr<TFormatWriter> NewJwcWriter()
{
    return std::make_unique<TJwcWriter>();
}
