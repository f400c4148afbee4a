#include "export/DxfWriter.h"

#include "base/Errors.h"
#include "export/ExportContext.h"
#include "export/BlockText.h"
#include "export/Cp932.h"
#include "export/FormatCoordinate.h"
#include "export/OutputStream.h"
#include "export/ProgressStepper.h"
#include "drawing/Drawing.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <array>
#include <cmath>
#include <numbers>
#include <algorithm>
#include <cstring>
#include <string>

namespace {

// The four extents as written after their group codes: five spaces and the
// general format of the full-precision product.
struct TExtentLines
{
    QByteArray MaxX, MaxY, MinX, MinY;
};

QByteArray ExtentLine(long double value)
{
    char text[kCoordinateTextCapacity];
    const int length = FormatGeneralTo(text, value);
    return QByteArray("     ") + QByteArray(text, length);
}

TExtentLines Extents(const TExportContext &context)
{
    const TCoordinateTransform t = context.Transform();
    return {ExtentLine(t.X(context.Result.MaxX)), ExtentLine(t.Y(context.Result.MaxY)),
            ExtentLine(t.X(context.Result.MinX)), ExtentLine(t.Y(context.Result.MinY))};
}

// The TEXT entities a context writes: the read strings whose text fits the code page.
bool WritesText(const TTextString &string)
{
    return !string.Text.isEmpty() && FitsCp932(string.Text);
}

bool AnyText(const TExportContext &context)
{
    if (context.Result.TextStart < 0)
        return false;
    for (const TTextString &s : context.Result.TextStrings)
        if (WritesText(s))
            return true;
    return false;
}

// The style of the TEXT entities: a table of its own, or an entry of the
// header's STYLE table.
const std::vector<QByteArray> kStyleEntry = {
    "  0", "STYLE", "  2", "MOJI", " 70", "     0", " 40", "0.0", " 41", "1.0", " 50", "0.0",
    " 71", "     0", " 42", "2.5", "  3", "kochigothic", "  4", "",
};

// Declares the TEXT style in the header's TABLES section (in its STYLE table
// when it has one); false, and the lines unchanged, when it has no such section.
bool DeclareTextStyle(std::vector<QByteArray> &lines)
{
    auto value = [&](std::size_t i) { return lines[i]; };
    auto code = [&](std::size_t i) { return lines[i].trimmed(); };
    bool inTables = false, inStyles = false;
    for (std::size_t i = 0; i + 1 < lines.size(); i += 2) {
        if (code(i) == "2" && value(i + 1) == "TABLES") {
            inTables = true;
        } else if (inTables && code(i) == "2" && value(i + 1) == "STYLE" && i >= 2 && value(i - 1) == "TABLE") {
            inStyles = true;
        } else if (inTables && code(i) == "0" && value(i + 1) == "ENDTAB" && inStyles) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), kStyleEntry.begin(), kStyleEntry.end());
            return true;
        } else if (inTables && code(i) == "0" && value(i + 1) == "ENDSEC") {
            std::vector<QByteArray> table = {"  0", "TABLE", "  2", "STYLE", " 70", "     1"};
            table.insert(table.end(), kStyleEntry.begin(), kStyleEntry.end());
            table.insert(table.end(), {"  0", "ENDTAB"});
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), table.begin(), table.end());
            return true;
        }
    }
    return false;
}

bool DeclaresTextStyle(const std::vector<QByteArray> &lines)
{
    for (std::size_t i = 1; i + 2 < lines.size(); ++i)
        if (lines[i] == "STYLE" && lines[i - 1] == "  0" && lines[i + 2] == "MOJI")
            return true;
    return false;
}

QByteArray LayerName(const TExportContext &context, std::int32_t layer)
{
    const QString &name = context.Drawing->Layers[static_cast<std::size_t>(layer)];
    return ToCp932(name.isEmpty() ? context.Settings.DxfSaveLayer : name);
}

// The names the patterned line types are written under: their own, or with
// a number after it when the header already defines that name.
using TLineTypeNames = std::vector<QByteArray>;

// Whether the header's LTYPE table has an entry `name`.
bool HeaderDefinesLineType(const std::vector<QByteArray> &lines, const QByteArray &name)
{
    for (std::size_t i = 1; i + 2 < lines.size(); ++i)
        if (lines[i].trimmed() == "LTYPE" && lines[i - 1].trimmed() == "0" && lines[i + 1].trimmed() == "2" &&
            lines[i + 2].trimmed().toUpper() == name.toUpper())
            return true;
    return false;
}

TLineTypeNames PatternNames(const std::vector<QByteArray> &header, const TDrawing &drawing)
{
    TLineTypeNames names(drawing.LineTypes.size());
    std::vector<bool> used(drawing.LineTypes.size());
    drawing.ForEachNaming([&](std::size_t, std::int32_t, std::int32_t lineType) {
        if (drawing.PatternOf(lineType))
            used[static_cast<std::size_t>(lineType)] = true;
    });
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (!used[k])
            continue;
        const QByteArray base = ToCp932(drawing.LineTypes[k]);
        QByteArray name = base;
        for (int n = 2; HeaderDefinesLineType(header, name) ||
                        std::find(names.begin(), names.end(), name) != names.end(); ++n)
            name = base + "_" + QByteArray::number(n);
        names[k] = name;
    }
    return names;
}

// The LTYPE entries of the patterns in use, lengths in drawing units; a dot's
// length goes to the gap after it.
std::vector<QByteArray> PatternEntries(const TExportContext &context, const TLineTypeNames &names)
{
    const TDrawing &drawing = *context.Drawing;
    const long double scale = std::fabs(context.Transform().X(1.0f));
    const auto number = [](long double v) {
        char text[kCoordinateTextCapacity];
        return QByteArray(text, FormatGeneralTo(text, v));
    };
    std::vector<QByteArray> lines;
    for (std::size_t k = 0; k < names.size(); ++k) {
        if (names[k].isEmpty())
            continue;
        const TLineTypePattern &pattern = *drawing.PatternOf(static_cast<std::int32_t>(k));
        std::vector<long double> elements;
        long double total = 0;
        for (double v : pattern.Elements) {
            elements.push_back(static_cast<long double>(v) * scale);
            total += std::fabs(static_cast<long double>(v)) * scale;
        }
        lines.insert(lines.end(), {"  0", "LTYPE", "  2", names[k], " 70", "    64", "  3",
                                   ToCp932(pattern.Description), " 72", "    65", " 73",
                                   QByteArray::number(static_cast<qsizetype>(elements.size())).rightJustified(6),
                                   " 40", number(total)});
        for (long double v : elements) {
            lines.push_back(" 49");
            lines.push_back(number(v));
        }
    }
    return lines;
}

// Adds the entries to the header's LTYPE table (its count raised), or puts
// an LTYPE table of them first in the TABLES section.
void AddLineTypes(std::vector<QByteArray> &lines, const std::vector<QByteArray> &entries, std::size_t count)
{
    if (entries.empty())
        return;
    const auto at = [&](std::size_t i, const char *code, const char *value) {
        return i + 1 < lines.size() && lines[i].trimmed() == code && lines[i + 1].trimmed() == value;
    };
    for (std::size_t i = 2; i < lines.size(); ++i) {
        if (!at(i, "2", "LTYPE") || lines[i - 1].trimmed() != "TABLE")
            continue;
        for (std::size_t j = i + 2; j < lines.size(); ++j) {
            if (at(j, "70", lines[j + 1].constData()) && j == i + 2) {
                bool ok = false;
                const long n = lines[j + 1].trimmed().toLong(&ok);
                if (ok)
                    lines[j + 1] = QByteArray::number(n + static_cast<long>(count)).rightJustified(6);
            }
            if (at(j, "0", "ENDTAB")) {
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(j), entries.begin(), entries.end());
                return;
            }
        }
        return;
    }
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (!at(i, "2", "TABLES"))
            continue;
        std::vector<QByteArray> table = {"  0", "TABLE", "  2", "LTYPE", " 70",
                                         QByteArray::number(static_cast<qsizetype>(count)).rightJustified(6)};
        table.insert(table.end(), entries.begin(), entries.end());
        table.insert(table.end(), {"  0", "ENDTAB"});
        lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i + 2), table.begin(), table.end());
        return;
    }
}

QByteArray LineTypeName(const TExportContext &context, std::int32_t lineType, const TLineTypeNames *patterns = nullptr)
{
    if (patterns && static_cast<std::size_t>(lineType) < patterns->size() &&
        !(*patterns)[static_cast<std::size_t>(lineType)].isEmpty())
        return (*patterns)[static_cast<std::size_t>(lineType)];
    const QString &name = context.Drawing->LineTypes[static_cast<std::size_t>(lineType)];
    if (!name.isEmpty())
        return ToCp932(name);
    return context.Settings.DxfLineType == 1 ? "SCANLINE" : "SCANDOT";
}

// The width classes of a drawing as written: drawing units by the X scale.
TWidthLayers WidthLayersOf(const TExportContext &context)
{
    return context.Drawing->WidthLayersAt(static_cast<double>(context.Magnification) * context.Settings.Xrate);
}

// The names the entities' layers are written under: each layer's, and each
// width class's (an entity on layer 0 with a width class is on its class's).
struct TEntityLayerNames
{
    TEntityLayerNames(const TExportContext &context, const TWidthLayers &widths) : Widths(widths)
    {
        for (std::size_t k = 0; k < context.Drawing->Layers.size(); ++k)
            Layers.push_back(LayerName(context, static_cast<std::int32_t>(k)));
        for (const double width : widths.Widths)
            Classes.push_back(ToCp932(WidthLayerName(width)));
    }
    // The layer of entity k.
    const QByteArray &Of(const TDrawingEntity &e, std::size_t k) const
    {
        if (!Widths.Widths.empty() && Widths.Class[k] >= 0 && e.Layer == 0)
            return Classes[static_cast<std::size_t>(Widths.Class[k])];
        return Layers[static_cast<std::size_t>(e.Layer)];
    }
    const TWidthLayers &Widths;
    std::vector<QByteArray> Layers, Classes;
};

// The colours of the width layers, thinnest first, and of the fill layer.
constexpr int kWidthColours[] = {1, 5, 3, 6, 4, 2, 30, 140, 210};
constexpr int kFillColour = 8;

// A drawing's LAYER table: every layer an entity is on, with the pen colour
// and line type of the settings (a colour of its own for each width layer
// and for the fills).
std::vector<QByteArray> LayerTable(const TExportContext &context, const TWidthLayers &widths)
{
    std::vector<bool> used(context.Drawing->Layers.size());
    std::vector<QByteArray> names;
    std::vector<int> colours;
    context.Drawing->ForEachNaming([&](std::size_t k, std::int32_t layer, std::int32_t) {
        if (widths.Widths.empty() || widths.Class[k] < 0 || layer != 0)
            used[static_cast<std::size_t>(layer)] = true;
    });
    for (std::size_t k = 0; k < used.size(); ++k) {
        const QByteArray name = LayerName(context, static_cast<std::int32_t>(k));
        if (used[k] && std::find(names.begin(), names.end(), name) == names.end())
            names.push_back(name);
    }
    colours.assign(names.size(), context.Settings.DxfPenColor);
    for (std::size_t c = 0; c < widths.Widths.size(); ++c) {
        const QByteArray name = ToCp932(WidthLayerName(widths.Widths[c]));
        if (std::find(widths.Class.begin(), widths.Class.end(), static_cast<int>(c)) != widths.Class.end() &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
            colours.push_back(kWidthColours[c % std::size(kWidthColours)]);
        }
    }
    if (!context.Drawing->Fills.empty()) {
        const QByteArray name = ToCp932(QString::fromUtf16(kFillLayerName));
        if (std::find(names.begin(), names.end(), name) == names.end()) {
            names.push_back(name);
            colours.push_back(kFillColour);
        }
    }
    // The text's strokes and TEXT entities follow the drawing on a layer of their own.
    if (context.Result.TextStart >= 0 && (context.Result.SegmentCount > context.Result.TextStart || AnyText(context))) {
        const QByteArray text = ToCp932(QString::fromUtf16(kTextLayerName));
        if (std::find(names.begin(), names.end(), text) == names.end()) {
            names.push_back(text);
            colours.push_back(context.Settings.DxfPenColor);
        }
    }
    std::vector<QByteArray> lines = {"  0", "TABLE", "  2", "LAYER", " 70",
                                     QByteArray::number(static_cast<qsizetype>(names.size())).rightJustified(6)};
    for (std::size_t k = 0; k < names.size(); ++k) {
        const QByteArray &name = names[k];
        const std::vector<QByteArray> layer = {"  0", "LAYER", "  2", name, " 70", "     0", " 62",
                                               "   " + QByteArray::number(colours[k]), "  6",
                                               LineTypeName(context, 0)};
        lines.insert(lines.end(), layer.begin(), layer.end());
    }
    lines.push_back("  0");
    lines.push_back("ENDTAB");
    return lines;
}

// A drawing's header declares its layers: the LAYER table goes at the end of
// the TABLES section (made before the first section after the header when
// there is none); a header that has a LAYER table keeps its own.
void AddLayerTable(std::vector<QByteArray> &lines, const TExportContext &context, const TWidthLayers &widths)
{
    const auto at = [&](std::size_t i, const char *code, const char *value) {
        return i + 1 < lines.size() && lines[i].trimmed() == code && lines[i + 1].trimmed() == value;
    };
    std::size_t tables = lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (at(i, "2", "TABLES"))
            tables = i;
    const std::vector<QByteArray> layers = LayerTable(context, widths);
    if (tables == lines.size()) {
        // Before the section that follows the header.
        std::size_t sections = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (at(i, "0", "SECTION") && ++sections == 2) {
                std::vector<QByteArray> section = {"  0", "SECTION", "  2", "TABLES"};
                section.insert(section.end(), layers.begin(), layers.end());
                section.insert(section.end(), {"  0", "ENDSEC"});
                lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), section.begin(), section.end());
                return;
            }
        }
        return;
    }
    for (std::size_t i = tables; i < lines.size(); ++i) {
        if (at(i, "2", "LAYER") && i > 0 && lines[i - 1].trimmed() == "TABLE")
            return;
        if (at(i, "0", "ENDSEC")) {
            lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(i), layers.begin(), layers.end());
            return;
        }
    }
}

std::vector<QByteArray> BuiltInHeader(const TExtentLines &e)
{
    const QByteArray solid = ToCp932(QStringLiteral("実線"));
    const QByteArray dotted = ToCp932(QStringLiteral("点線"));
    std::vector<QByteArray> lines = {
        "  0", "SECTION", "  2", "HEADER",
        "  9", "$ACADVER", "  1", "AC1009",
        "  9", "$DWGCODEPAGE", "  3", "DOS_932",
        "  9", "$EXTMAX", " 10", e.MaxX, " 20", e.MaxY,
        "  9", "$EXTMIN", " 10", e.MinX, " 20", e.MinY,
        "  9", "$LIMMAX", " 10", e.MaxX, " 20", e.MaxY,
        "  9", "$LIMMIN", " 10", e.MinX, " 20", e.MinY,
        "  0", "ENDSEC",
        "  0", "SECTION", "  2", "TABLES",
        "  0", "TABLE", "  2", "LTYPE", " 70", "     2",
        "  0", "LTYPE", "  2", "SCANLINE", " 70", "    64", "  3", solid,
        " 72", "    65", " 73", "     0", " 40", "0.0",
        "  0", "LTYPE", "  2", "SCANDOT", " 70", "    64", "  3", dotted,
        " 72", "    65", " 73", "     2", " 40", "6.0", " 49", "3", " 49", "-3",
        "  0", "ENDTAB", "  0", "ENDSEC",
        "  0", "SECTION", "  2", "BLOCKS", "  0", "ENDSEC",
        "  0", "SECTION", "  2", "ENTITIES",
    };
    return lines;
}

// Lines as a text list reads them: a line ends at CR LF, at CR or at LF; a
// last line without an end counts, an end at the very end adds no empty line.
std::vector<QByteArray> SplitLines(const QByteArray &text)
{
    std::vector<QByteArray> lines;
    const char *p = text.constData();
    const char *end = p + text.size();
    while (p < end) {
        const char *start = p;
        while (p < end && *p != '\r' && *p != '\n')
            ++p;
        lines.emplace_back(start, static_cast<qsizetype>(p - start));
        if (p < end && *p == '\r')
            ++p;
        if (p < end && *p == '\n')
            ++p;
    }
    return lines;
}

std::vector<QByteArray> HeaderFromFile(const QString &path, const TExtentLines &e)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw EFileError(QStringLiteral("ファイル %1 を読み込めません。\n%2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    const QByteArray text = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw EFileError(QStringLiteral("ファイル %1 を読み込めません。\n%2")
                             .arg(QDir::toNativeSeparators(path), file.errorString()));
    std::vector<QByteArray> lines = SplitLines(text);

    // Key line (last occurrence wins) and the line of its X value when absent.
    struct TKey
    {
        const char *Name;
        qsizetype Line;
        const QByteArray *X;
        const QByteArray *Y;
    };
    std::array<TKey, 4> keys = {{
        {"$EXTMAX", 5, &e.MaxX, &e.MaxY},
        {"$EXTMIN", 11, &e.MinX, &e.MinY},
        {"$LIMMAX", 17, &e.MaxX, &e.MaxY},
        {"$LIMMIN", 23, &e.MinX, &e.MinY},
    }};
    for (qsizetype i = 0; i < static_cast<qsizetype>(lines.size()); ++i)
        for (TKey &key : keys)
            if (lines[static_cast<std::size_t>(i)] == key.Name)
                key.Line = i;

    for (const TKey &key : keys) {
        const qsizetype last = key.Line + 4;
        if (last >= static_cast<qsizetype>(lines.size()))
            throw ERangeError(QStringLiteral("dxf.hedファイルの行数が足りません"
                                             "（%1の値の行 %2 がありません）。")
                                  .arg(QLatin1String(key.Name))
                                  .arg(last + 1));
    }
    for (const TKey &key : keys) {
        lines[static_cast<std::size_t>(key.Line + 2)] = *key.X;
        lines[static_cast<std::size_t>(key.Line + 4)] = *key.Y;
    }
    return lines;
}

// (widths: the drawing's width classes, when known; else they are found.)
std::vector<QByteArray> HeaderLines(const TExportContext &context, bool &fileMissing, TLineTypeNames *patterns,
                                    const TWidthLayers *widths = nullptr);

// The most bytes a LINE entity after `lead` takes.
std::size_t LineEntityRoom(const QByteArray &lead)
{
    return static_cast<std::size_t>(lead.size()) + 3 * 10 + 2 + 4 * kCoordinateTextCapacity;
}

// Writes a LINE entity of a segment at p and returns its end: `lead`
// (everything up to the first X's value), then the four numbers. What it
// reads is copied in first, since every byte written might otherwise alias it.
auto LineEntity(const QByteArray &lead, const TCoordinateTransform &t, int mode, int digits)
{
    return [lead = std::string(lead.constData(), static_cast<std::size_t>(lead.size())), t, mode,
            digits](char *p, const TSegment &seg) {
        static const char kY1[] = "\r\n 20\r\n   ";
        static const char kX2[] = "\r\n 11\r\n   ";
        static const char kY2[] = "\r\n 21\r\n   ";
        const float x1 = t.RoundedX(seg.X1), y1 = t.RoundedY(seg.Y1);
        const float x2 = t.RoundedX(seg.X2), y2 = t.RoundedY(seg.Y2);
        std::memcpy(p, lead.data(), lead.size());
        p += lead.size();
        p += FormatCoordinateTo(p, x1, mode, digits);
        std::memcpy(p, kY1, sizeof kY1 - 1);
        p += sizeof kY1 - 1;
        p += FormatCoordinateTo(p, y1, mode, digits);
        std::memcpy(p, kX2, sizeof kX2 - 1);
        p += sizeof kX2 - 1;
        p += FormatCoordinateTo(p, x2, mode, digits);
        std::memcpy(p, kY2, sizeof kY2 - 1);
        p += sizeof kY2 - 1;
        p += FormatCoordinateTo(p, y2, mode, digits);
        *p++ = '\r';
        *p++ = '\n';
        return p;
    };
}

class TDxfWriter : public TFormatWriter
{
public:
    TWriteResult Prepare(const TExportContext &context) override
    {
        bool fileMissing = false;
        // (The width classes found once, for the layer table and the entities.)
        Widths = context.Drawing ? WidthLayersOf(context) : TWidthLayers();
        Header = HeaderLines(context, fileMissing, &PatternLineTypes, &Widths);
        return fileMissing ? WriteHeaderMissing : WriteDone;
    }

    bool Write(const TExportContext &context, QIODevice &device) override
    {
        TOutputStream out(device);
        for (const QByteArray &line : Header) {
            out.Append(line);
            out.AppendLiteral("\r\n");
        }
        if (context.Drawing && WritesDrawing(context))
            return WriteDrawing(context, out, DeclaresTextStyle(Header), PatternLineTypes, Widths);
        TProgressStepper progress(context.Progress, context.Result.SegmentCount);

        // Everything of an entity but its four numbers is the same for all segments.
        const TSettings &s = context.Settings;
        const QByteArray lead = QByteArray("  0\r\nLINE\r\n  8\r\n") + ToCp932(s.DxfSaveLayer)
            + "\r\n  6\r\n" + (s.DxfLineType == 1 ? "SCANLINE" : "SCANDOT") + "\r\n 62\r\n   "
            + QByteArray::number(s.DxfPenColor) + "\r\n 10\r\n   ";
        const std::int32_t drawn = context.Result.TextStart >= 0 ? context.Result.TextStart : context.Result.SegmentCount;
        WriteLines(context, out, progress, lead, 0, drawn, context.Threads > 1);
        if (context.Result.TextStart >= 0)
            WriteText(context, out, progress, lead, DeclaresTextStyle(Header));
        out.AppendLiteral("  0\r\nENDSEC\r\n  0\r\nEOF\r\n");
        return out.Flush();
    }

private:
    // LINE entities after `lead` of segments first .. end - 1, made on the
    // threads when `threaded` (the same bytes and progress steps).
    static void WriteLines(const TExportContext &context, TOutputStream &out, TProgressStepper &progress,
                           const QByteArray &lead, std::int32_t first, std::int32_t end, bool threaded)
    {
        const TSettings &s = context.Settings;
        const std::size_t room = LineEntityRoom(lead);
        const auto entity = LineEntity(lead, context.Transform(), s.DxfValueMode, s.DxfValueFigure);
        if (threaded) {
            WriteSegmentText(out, progress, end - first, context.Threads, room,
                             [&](std::int32_t from, std::int32_t to, char *text) {
                                 char *p = text;
                                 for (std::int32_t i = from; i < to; ++i)
                                     p = entity(p, context.Result.Segments()[i]);
                                 return static_cast<std::size_t>(p - text);
                             }, first);
            return;
        }
        for (std::int32_t i = first; i < end && !out.Failed(); ++i) {
            char *const start = out.Reserve(room);
            out.Commit(static_cast<std::size_t>(entity(start, context.Result.Segments()[i]) - start));
            progress.Step(i + 1);
        }
    }

    // The text part: each string as a TEXT entity or as its strokes, then the
    // strokes of no string. `lead` is the drawing's LINE lead, whose layer is replaced.
    static void WriteText(const TExportContext &context, TOutputStream &out, TProgressStepper &progress,
                          const QByteArray &drawingLead, bool texts)
    {
        const TSettings &s = context.Settings;
        const QByteArray layer = ToCp932(QString::fromUtf16(kTextLayerName));
        QByteArray lead = drawingLead;
        lead.replace(QByteArray("  8\r\n") + ToCp932(s.DxfSaveLayer) + "\r\n", "  8\r\n" + layer + "\r\n");
        const TCoordinateTransform t = context.Transform();
        auto number = [&](long double value) {
            char text[kCoordinateTextCapacity];
            return QByteArray(text, FormatCoordinateTo(text, static_cast<float>(value), s.DxfValueMode, s.DxfValueFigure));
        };
        // Strokes that follow each other in the list are written together
        // (on the threads when there are many).
        std::int32_t runFirst = 0, runEnd = 0;
        auto flush = [&] {
            WriteLines(context, out, progress, lead, runFirst, runEnd,
                       context.Threads > 1 && runEnd - runFirst >= 8192);
            runFirst = runEnd = 0;
        };
        auto addStrokes = [&](std::int32_t first, std::int32_t end) {
            if (first != runEnd) {
                flush();
                runFirst = first;
            }
            runEnd = end;
        };
        std::int32_t done = context.Result.TextStart;
        for (const TTextString &string : context.Result.TextStrings) {
            if (!texts || !WritesText(string)) {
                addStrokes(string.FirstSegment, string.EndSegment);
            } else {
                flush();
                // Fitted between the start and the end of the baseline (left to
                // right, or bottom to top for a string turned to run upward), as
                // high as its letters stand above it: the text spans what was
                // read whatever font shows it. Y grows upward from the sheet's foot.
                const float sheet = context.Result.ImageHeight;
                const float base = string.BaselineOrFoot();
                const float x = string.Vertical ? base : string.Left;
                const float y = sheet - (string.Vertical ? string.Bottom : base);
                const float endX = string.Vertical ? base : string.Right;
                const float endY = sheet - (string.Vertical ? string.Top : base);
                const long double h = string.HeightAboveBaseline() * context.Magnification
                    * (string.Vertical ? s.Xrate : s.Yrate);
                out.AppendLiteral("  0\r\nTEXT\r\n  8\r\n");
                out.Append(layer);
                out.AppendLiteral("\r\n 10\r\n   ");
                out.Append(number(t.RoundedX(x)));
                out.AppendLiteral("\r\n 20\r\n   ");
                out.Append(number(t.RoundedY(y)));
                out.AppendLiteral("\r\n 40\r\n   ");
                out.Append(number(h));
                out.AppendLiteral("\r\n  1\r\n");
                out.Append(ToCp932(string.Text));
                if (string.Vertical)
                    out.AppendLiteral("\r\n 50\r\n   90");
                out.AppendLiteral("\r\n  7\r\nMOJI\r\n 72\r\n     5\r\n 11\r\n   ");
                out.Append(number(t.RoundedX(endX)));
                out.AppendLiteral("\r\n 21\r\n   ");
                out.Append(number(t.RoundedY(endY)));
                out.AppendLiteral("\r\n");
                progress.Step(string.EndSegment);
            }
            done = std::max(done, string.EndSegment);
        }
        addStrokes(done, context.Result.SegmentCount);
        flush();
    }

    // Arcs stay arcs when both axes scale alike; otherwise the segments
    // (which hold them as chords) are written.
    static bool WritesDrawing(const TExportContext &context)
    {
        return std::fabs(context.Settings.Xrate) == std::fabs(context.Settings.Yrate) ||
               !context.Drawing->HasCurves();
    }

    static bool WriteDrawing(const TExportContext &context, TOutputStream &out, bool texts,
                             const TLineTypeNames &patterns, const TWidthLayers &widths)
    {
        const TSettings &s = context.Settings;
        const TCoordinateTransform t = context.Transform();
        const int mode = s.DxfValueMode, digits = s.DxfValueFigure;
        const bool mirrorX = t.X(1) < 0, mirrorY = t.Y(1) < 0;
        const TDrawing &drawing = *context.Drawing;
        TProgressStepper progress(context.Progress, static_cast<std::int32_t>(drawing.EntityCount()));
        const auto append = [](char *p, const char *text, std::size_t size) {
            std::memcpy(p, text, size);
            return p + size;
        };
        // A number after its group code (of three characters), at p; its end.
        const auto numberAt = [&](char *p, const char *code, float value) {
            p = append(p, code, 3);
            p = append(p, "\r\n   ", 5);
            p += FormatCoordinateTo(p, value, mode, digits);
            return append(p, "\r\n", 2);
        };
        constexpr std::size_t kNumberRoom = 3 + 5 + kCoordinateTextCapacity + 2;
        const auto number = [&](const char *code, float value) {
            char *const start = out.Reserve(kNumberRoom);
            out.Commit(static_cast<std::size_t>(numberAt(start, code, value) - start));
        };
        const auto angle = [&](double degrees) {
            if (mirrorX)
                degrees = 180 - degrees;
            if (mirrorY)
                degrees = -degrees;
            return static_cast<float>(AngleOf(std::cos(degrees * std::numbers::pi / 180), std::sin(degrees * std::numbers::pi / 180)));
        };
        // (The names of the layers and line types made once, not for each entity.)
        const TEntityLayerNames layers(context, widths);
        std::vector<QByteArray> lineTypes;
        for (std::size_t k = 0; k < drawing.LineTypes.size(); ++k)
            lineTypes.push_back(LineTypeName(context, static_cast<std::int32_t>(k), &patterns));
        // With width layers the entities take their layer's colour.
        const QByteArray colour = "   " + QByteArray::number(drawing.WidthLayers ? 256 : s.DxfPenColor);
        // An entity's text: what it reads is the drawing's and the names
        // made above, so that the entities' text can be made on the threads.
        const auto entityText = [&](char *p, std::size_t k) {
            const TDrawingEntity e = drawing.EntityAt(k);
            const auto value = [&](const char *code, float v) { p = numberAt(p, code, v); };
            const auto bytes = [&](const QByteArray &text) {
                p = append(p, text.constData(), static_cast<std::size_t>(text.size()));
            };
            static const char *const kNames[] = {"LINE", "ARC", "CIRCLE"};
            p = append(p, "  0\r\n", 5);
            const char *name = kNames[static_cast<int>(e.Kind)];
            p = append(p, name, std::strlen(name));
            p = append(p, "\r\n  8\r\n", 7);
            bytes(layers.Of(e, k));
            p = append(p, "\r\n  6\r\n", 7);
            bytes(lineTypes[static_cast<std::size_t>(e.LineType)]);
            p = append(p, "\r\n 62\r\n", 7);
            bytes(colour);
            p = append(p, "\r\n", 2);
            value(" 10", t.RoundedX(static_cast<float>(e.X1)));
            value(" 20", t.RoundedY(static_cast<float>(e.Y1)));
            if (e.Kind == TEntityKind::Line) {
                value(" 11", t.RoundedX(static_cast<float>(e.X2)));
                value(" 21", t.RoundedY(static_cast<float>(e.Y2)));
            } else {
                value(" 40", std::fabs(t.RoundedX(static_cast<float>(e.R))));
                if (e.Kind == TEntityKind::Arc) {
                    const bool swap = mirrorX != mirrorY;
                    value(" 50", angle(swap ? e.EndAngle : e.StartAngle));
                    value(" 51", angle(swap ? e.StartAngle : e.EndAngle));
                }
            }
            return p;
        };
        std::size_t longest = 0;
        for (const std::vector<QByteArray> *names : {&layers.Layers, &layers.Classes, static_cast<const std::vector<QByteArray> *>(&lineTypes)})
            for (const QByteArray &name : *names)
                longest = std::max(longest, static_cast<std::size_t>(name.size()));
        // The name, two names at most `longest` long, the colour and five numbers with their codes.
        const std::size_t room = 5 + 6 + 14 + 2 * longest + 7 + static_cast<std::size_t>(colour.size()) + 2 +
                                 5 * kNumberRoom;
        const auto count = static_cast<std::int32_t>(drawing.EntityCount());
        if (context.Threads > 1) {
            WriteSegmentText(out, progress, count, context.Threads, room,
                             [&](std::int32_t from, std::int32_t to, char *text) {
                                 char *p = text;
                                 for (std::int32_t k = from; k < to; ++k)
                                     p = entityText(p, static_cast<std::size_t>(k));
                                 return static_cast<std::size_t>(p - text);
                             });
        } else {
            for (std::int32_t k = 0; k < count && !out.Failed(); ++k) {
                char *const start = out.Reserve(room);
                out.Commit(static_cast<std::size_t>(entityText(start, static_cast<std::size_t>(k)) - start));
                progress.Step(k + 1);
            }
        }
        WriteFills(context, out, number);
        if (context.Result.TextStart >= 0) {
            const QByteArray lead = QByteArray("  0\r\nLINE\r\n  8\r\n") + ToCp932(s.DxfSaveLayer)
                + "\r\n  6\r\n" + (s.DxfLineType == 1 ? "SCANLINE" : "SCANDOT") + "\r\n 62\r\n   "
                + QByteArray::number(s.DxfPenColor) + "\r\n 10\r\n   ";
            WriteText(context, out, progress, lead, texts);
        }
        out.AppendLiteral("  0\r\nENDSEC\r\n  0\r\nEOF\r\n");
        return out.Flush();
    }

    // The fills on their layer: a dot as a closed polyline of two half
    // circles as wide as the dot's radius, any other fill as SOLID pieces.
    template <class TNumber>
    static void WriteFills(const TExportContext &context, TOutputStream &out, const TNumber &number)
    {
        const TCoordinateTransform t = context.Transform();
        const QByteArray layer = ToCp932(QString::fromUtf16(kFillLayerName));
        const auto lead = [&](const char *kind) {
            out.AppendLiteral("  0\r\n");
            out.Append(kind, std::strlen(kind));
            out.AppendLiteral("\r\n  8\r\n");
            out.Append(layer);
            out.AppendLiteral("\r\n");
        };
        for (const TDrawingFill &f : context.Drawing->Fills) {
            if (out.Failed())
                break;
            if (f.Dot) {
                const float width = std::fabs(t.RoundedX(static_cast<float>(f.R)));
                lead("POLYLINE");
                out.AppendLiteral(" 66\r\n     1\r\n");
                number(" 10", 0.0f);
                number(" 20", 0.0f);
                out.AppendLiteral(" 70\r\n     1\r\n");
                number(" 40", width);
                number(" 41", width);
                for (int side = -1; side <= 1; side += 2) {
                    lead("VERTEX");
                    number(" 10", t.RoundedX(static_cast<float>(f.X + side * f.R / 2)));
                    number(" 20", t.RoundedY(static_cast<float>(f.Y)));
                    out.AppendLiteral(" 42\r\n1.0\r\n");
                }
                lead("SEQEND");
                continue;
            }
            static const char *const kCodes[] = {" 10", " 20", " 11", " 21", " 12", " 22", " 13", " 23"};
            for (const std::array<double, 8> &q : f.Solids) {
                lead("SOLID");
                for (std::size_t k = 0; k < 8; k += 2) {
                    number(kCodes[k], t.RoundedX(static_cast<float>(q[k])));
                    number(kCodes[k + 1], t.RoundedY(static_cast<float>(q[k + 1])));
                }
            }
        }
    }

    std::vector<QByteArray> Header;
    TLineTypeNames PatternLineTypes;
    TWidthLayers Widths;  // the drawing's width classes, found by Prepare
};

} // namespace

const char16_t kTextLayerName[] = u"文字";

namespace {

std::vector<QByteArray> HeaderLines(const TExportContext &context, bool &fileMissing, TLineTypeNames *patterns,
                                    const TWidthLayers *widths)
{
    fileMissing = false;
    const TExtentLines extents = Extents(context);
    std::vector<QByteArray> lines;
    if (!context.Settings.DxfFileUse) {
        lines = BuiltInHeader(extents);
    } else {
        const QString path = QDir(context.ProgramFolder).filePath(QStringLiteral("dxf.hed"));
        if (!QFileInfo(path).isFile()) {
            fileMissing = true;
            return {};
        }
        lines = HeaderFromFile(path, extents);
    }
    if (context.Drawing) {
        const TLineTypeNames names = PatternNames(lines, *context.Drawing);
        const std::size_t count = static_cast<std::size_t>(
            std::count_if(names.begin(), names.end(), [](const QByteArray &n) { return !n.isEmpty(); }));
        if (patterns)
            *patterns = names;
        AddLayerTable(lines, context, widths ? *widths : WidthLayersOf(context));
        // Into the header's LTYPE table, or a table of their own first in the TABLES section.
        if (count > 0)
            AddLineTypes(lines, PatternEntries(context, names), count);
    }
    if (AnyText(context))
        DeclareTextStyle(lines);
    return lines;
}

} // namespace

std::vector<QByteArray> DxfHeaderLines(const TExportContext &context, bool &fileMissing)
{
    return HeaderLines(context, fileMissing, nullptr);
}

std::unique_ptr<TFormatWriter> NewDxfWriter()
{
    return std::make_unique<TDxfWriter>();
}
