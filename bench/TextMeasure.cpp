// Measures text told apart from the drawing and read.
//
//   TextMeasure a0 [SHEET [THREADS]]
//       times line mode and the text separation on the benchmark sheet (default
//       A0 at 400 dpi; on THREADS threads, default 1) and prints both and their
//       ratio (seconds on the wall and of the processor, best of 5), and what
//       was found.
//   TextMeasure draw DIR
//       writes labelled drawings with known strings: DIR/labelsN.bmp (1 bit, with
//       its resolution), DIR/labelsN-text.bmp (the labels' ink alone) and
//       DIR/labelsN.json (the truth for score_text.py), N = 1 ... 4: 400 and
//       300 dpi, labels of 2.5 to 5 mm across and upward among lines.
//   TextMeasure split PICTURE OUT
//       writes the ink the separation takes for text (OUT, a 1-bit BMP) at the
//       picture's resolution, to be compared with the truth's text mask.
//   TextMeasure handcut DIR [LANGS]
//       reads every label of those drawings cut out by hand (its true box on its
//       own ink) and prints the pooled character accuracy and the time per string:
//       what the reader reaches without the separation. TEXT_HEIGHT,
//       TEXT_MINCONF, TEXT_DICT (0/1) and TEXT_PSM in the environment change the
//       reading height, the confidence trusted, the word lists and the page mode.
//   TextMeasure read LANGS PICTURE...
//       reads each picture (a string cut out by hand, upright) with Tesseract as
//       it is, one line of text (page mode 7), in the languages LANGS and the
//       language data the program finds, and prints one line per picture: its
//       text, line breaks made spaces (the quality bench's hand-cut baseline).
//   TextMeasure given PICTURE OUTDIR [LANGS]
//       separates the picture's text and writes each string's picture as the
//       reader is given it (OUTDIR/NN.png), and prints what it reads.

#include "support/DrawingSheet.h"

#include "base/ProgressPort.h"
#include "image/TzDIB.h"
#include "scan/LineMode.h"
#include "scan/SegmentList.h"
#include "text/TextReader.h"
#include "text/TextSeparation.h"

#include <QDir>
#include <QFile>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPainter>
#include <QRandomGenerator>

#include <tesseract/baseapi.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <memory>
#include <utility>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point since)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Processor seconds of the whole program since `since` (steady on a loaded
// machine, where the clock on the wall is not).
double CpuSeconds(std::clock_t since)
{
    return double(std::clock() - since) / CLOCKS_PER_SEC;
}

TBlackMask MaskOfMono(const QImage &image)
{
    TTzDIB dib;
    dib.Assign(image);
    return TBlackMask::FromImage(dib);
}

int A0(const QString &name, int threads)
{
    const QImage sheet = DrawSheet(SheetSizeNamed(name));
    const TBlackMask mask = MaskOfMono(sheet);
    TNoProgress progress;
    double trace = 1e9, split = 1e9, pieces = 1e9, traceCpu = 1e9, splitCpu = 1e9, piecesCpu = 1e9;
    std::size_t runs = 0, components = 0;
    std::size_t strings = 0;
    for (int round = 0; round < 5; ++round) {
        TSegmentList list;
        auto t0 = std::chrono::steady_clock::now();
        std::clock_t c0 = std::clock();
        TraceLines(mask, list, progress, TTraceOptions{threads, 0});
        trace = std::min(trace, Seconds(t0));
        traceCpu = std::min(traceCpu, CpuSeconds(c0));
        // The separation takes the mask it splits (as the conversion hands it over).
        TBlackMask handed = mask;
        t0 = std::chrono::steady_clock::now();
        c0 = std::clock();
        const TTextSeparation s = SeparateText(std::move(handed), TTextSizes::ForResolution(400), threads);
        split = std::min(split, Seconds(t0));
        splitCpu = std::min(splitCpu, CpuSeconds(c0));
        strings = s.Strings.size();
        t0 = std::chrono::steady_clock::now();
        c0 = std::clock();
        const TInkComponents ink = FindComponents(mask, threads);
        pieces = std::min(pieces, Seconds(t0));
        piecesCpu = std::min(piecesCpu, CpuSeconds(c0));
        runs = ink.RunComponent.size();
        components = ink.Components.size();
    }
    std::printf("connected pieces alone %.3f s, processor %.3f s (%zu runs, %zu pieces)\n", pieces, piecesCpu, runs,
                components);
    std::printf("%s %dx%d: line mode %.3f s, text separation %.3f s (%.1f %% of line mode), %zu strings\n",
                qPrintable(name), mask.Width(), mask.Height(), trace, split, 100 * split / trace, strings);
    std::printf("processor time: line mode %.3f s, text separation %.3f s (%.1f %%)\n", traceCpu, splitCpu,
                100 * splitCpu / traceCpu);
    return 0;
}

struct TLabel
{
    QString Text;
    double Mm;
    bool Upward;
};

const char16_t *const kTexts[] = {
    u"尺度 1:100", u"平面図", u"A-A 断面", u"φ25", u"R10", u"2-M8 タップ", u"図番 TZ-0042", u"設計 山田",
    u"S=1/20", u"材質 SS400", u"日付 2026.12.09", u"第3角法", u"部品表", u"数量 4", u"φ12 キリ", u"t=3.2",
    u"GL+150", u"寸法 1200", u"外形図", u"CHECKED", u"SCALE 1:50", u"DWG No. 118", u"穴 4-φ9", u"縮尺",
};

// One drawing: lines, a frame, circles, and labels in free places.
void DrawLabelled(const QString &dir, int n, int dpi)
{
    const int width = dpi * 11, height = dpi * 8;   // about 280 x 200 mm
    QImage sheet(width, height, QImage::Format_RGB32), ink(width, height, QImage::Format_RGB32);
    sheet.fill(Qt::white);
    ink.fill(Qt::white);
    QRandomGenerator random(static_cast<quint32>(n));
    QJsonArray primitives, texts;
    QPainter painter(&sheet);
    const int stroke = std::max(2, dpi / 100);
    auto line = [&](int x0, int y0, int x1, int y1) {
        painter.setPen(QPen(Qt::black, stroke, Qt::SolidLine, Qt::FlatCap));
        painter.drawLine(x0, y0, x1, y1);
        primitives.append(QJsonObject{{"type", "line"}, {"p0", QJsonArray{x0, y0}}, {"p1", QJsonArray{x1, y1}},
                                      {"width", stroke}});
    };
    const int m = dpi / 4;
    line(m, m, width - m, m);
    line(width - m, m, width - m, height - m);
    line(width - m, height - m, m, height - m);
    line(m, height - m, m, m);
    // A grid of cells, each holding lines or a circle, and a label beside them.
    const int cols = 4, rows = 6;
    const int cw = (width - 2 * m) / cols, ch = (height - 2 * m) / rows;
    int k = n * 5;
    const double sizes[] = {2.5, 3.5, 5.0};
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c, ++k) {
            const int x = m + c * cw, y = m + r * ch;
            // A line along the foot of the cell, and one up its right side.
            line(x + cw / 10, y + ch * 9 / 10, x + cw * 9 / 10, y + ch * 9 / 10);
            if (k % 3 == 0) {
                const int radius = ch / 5;
                painter.setPen(QPen(Qt::black, stroke));
                painter.drawEllipse(QPoint(x + cw * 3 / 4, y + ch / 2), radius, radius);
                primitives.append(QJsonObject{{"type", "circle"}, {"center", QJsonArray{x + cw * 3 / 4, y + ch / 2}},
                                              {"radius", radius}, {"width", stroke}});
            }
            const TLabel label{QString::fromUtf16(kTexts[static_cast<std::size_t>(k) % std::size(kTexts)]),
                               sizes[static_cast<std::size_t>(k + r) % 3], k % 4 == 1};
            const int em = static_cast<int>(std::lround(label.Mm / 25.4 * dpi));
            QFont font(QStringLiteral("IPAGothic"));
            font.setPixelSize(em);
            font.setStyleStrategy(QFont::NoAntialias);
            const QFontMetrics metrics(font);
            const int advance = metrics.horizontalAdvance(label.Text);
            const int ascent = metrics.ascent(), descent = metrics.descent();
            // The baseline's start: across, above the foot line; upward, right of the cell's left.
            const int ix = label.Upward ? x + cw / 8 + ascent : x + cw / 8;
            const int iy = label.Upward ? y + ch * 8 / 10 : y + ch * 8 / 10 - descent;
            QPainter inkPainter(&ink);
            for (QPainter *p : {&painter, &inkPainter}) {
                p->save();
                p->setFont(font);
                p->setPen(Qt::black);
                p->translate(ix, iy);
                p->rotate(label.Upward ? -90 : 0);
                p->drawText(0, 0, label.Text);
                p->restore();
            }
            // Box corners in reading order: (u, v) along and across the baseline.
            auto at = [&](int u, int v) {
                return label.Upward ? QJsonArray{ix + v, iy - u} : QJsonArray{ix + u, iy + v};
            };
            int wide = 0, narrow = 0;
            for (const QChar ch : label.Text)
                if (!ch.isSpace())
                    ++(ch.unicode() >= 0x3000 ? wide : narrow);
            const char *lang = !narrow ? "ja" : !wide ? "latin" : "mixed";
            texts.append(QJsonObject{{"text", label.Text}, {"lang", lang}, {"height", em}, {"rotation_deg", label.Upward ? 90 : 0},
                                     {"insert", QJsonArray{ix, iy}},
                                     {"box", QJsonArray{at(0, descent), at(advance, descent), at(advance, -ascent),
                                                        at(0, -ascent)}}});
        }
    painter.end();
    const QString base = QDir(dir).filePath(QStringLiteral("labels%1").arg(n));
    const int dpm = static_cast<int>(std::lround(dpi / 0.0254));
    for (auto [image, path] : {std::pair{&sheet, base + ".bmp"}, std::pair{&ink, base + "-text.bmp"}}) {
        QImage mono = image->convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        mono.setDotsPerMeterX(dpm);
        mono.setDotsPerMeterY(dpm);
        mono.save(path, "BMP");
    }
    const QJsonObject truth{{"width", width}, {"height", height}, {"primitives", primitives}, {"texts", texts},
                            {"textmask", QStringLiteral("labels%1-text.bmp").arg(n)},
                            {"text_stroke_px", std::max(2, dpi / 80)}};
    QFile file(base + ".json");
    file.open(QIODevice::WriteOnly);
    file.write(QJsonDocument(truth).toJson());
}

QString Plain(const QString &text)
{
    QString out;
    for (const QChar c : text.normalized(QString::NormalizationForm_KC))
        if (!c.isSpace())
            out += c;
    return out;
}

int Distance(const QString &a, const QString &b)
{
    std::vector<int> row(static_cast<std::size_t>(b.size()) + 1);
    for (std::size_t j = 0; j < row.size(); ++j)
        row[j] = static_cast<int>(j);
    for (qsizetype i = 1; i <= a.size(); ++i) {
        int diagonal = row[0];
        row[0] = static_cast<int>(i);
        for (qsizetype j = 1; j <= b.size(); ++j) {
            const int up = row[static_cast<std::size_t>(j)];
            row[static_cast<std::size_t>(j)] = std::min({up + 1, row[static_cast<std::size_t>(j - 1)] + 1,
                                                         diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
            diagonal = up;
        }
    }
    return row.back();
}

int HandCut(const QString &dir, const QString &languages)
{
    long long errors = 0, characters = 0;
    int strings = 0;
    double seconds = 0;
    for (int n = 1; QFile::exists(QDir(dir).filePath(QStringLiteral("labels%1.json").arg(n))); ++n) {
        QFile file(QDir(dir).filePath(QStringLiteral("labels%1.json").arg(n)));
        file.open(QIODevice::ReadOnly);
        const QJsonObject truth = QJsonDocument::fromJson(file.readAll()).object();
        QImage ink(QDir(dir).filePath(truth["textmask"].toString()));
        const TBlackMask mask = MaskOfMono(ink.convertToFormat(QImage::Format_Mono));
        TTextStrings cut;
        QStringList wanted;
        for (const auto &value : truth["texts"].toArray()) {
            const QJsonObject t = value.toObject();
            int left = 1 << 30, top = 1 << 30, right = 0, bottom = 0;
            for (const auto &corner : t["box"].toArray()) {
                const QJsonArray p = corner.toArray();
                left = std::min(left, p[0].toInt());
                right = std::max(right, p[0].toInt());
                top = std::min(top, p[1].toInt());
                bottom = std::max(bottom, p[1].toInt());
            }
            TTextString s;
            s.Left = left;
            s.Top = top;
            s.Right = right + 1;
            s.Bottom = bottom + 1;
            s.Vertical = t["rotation_deg"].toInt() == 90;
            cut.push_back(s);
            wanted << t["text"].toString();
        }
        const auto t0 = std::chrono::steady_clock::now();
        TTextReading reading{languages, QString()};
        reading.Height = qEnvironmentVariableIntValue("TEXT_HEIGHT") ? qEnvironmentVariableIntValue("TEXT_HEIGHT") : reading.Height;
        if (qEnvironmentVariableIsSet("TEXT_PSM"))
            reading.PageMode = qEnvironmentVariableIntValue("TEXT_PSM");
        if (qEnvironmentVariableIsSet("TEXT_DICT"))
            reading.Dictionaries = qEnvironmentVariableIntValue("TEXT_DICT") != 0;
        if (qEnvironmentVariableIsSet("TEXT_MINCONF"))
            reading.MinConfidence = qEnvironmentVariableIntValue("TEXT_MINCONF");
        const QString problem = ReadStrings(mask, cut, reading);
        seconds += Seconds(t0);
        if (!problem.isEmpty()) {
            std::fprintf(stderr, "%s\n", qPrintable(problem));
            return 1;
        }
        for (std::size_t i = 0; i < cut.size(); ++i) {
            const QString want = Plain(wanted[static_cast<qsizetype>(i)]), got = Plain(cut[i].Text);
            errors += std::min<long long>(Distance(want, got), want.size());
            characters += want.size();
            ++strings;
            if (want != got)
                std::printf("  %s -> %s (%.0f)\n", qPrintable(want), qPrintable(got), cut[i].Confidence);
        }
    }
    std::printf("hand-cut labels: %d strings, character accuracy %.4f, %.1f ms per string (one start included)\n",
                strings, characters ? 1.0 - double(errors) / characters : 0.0, 1000 * seconds / std::max(strings, 1));
    return 0;
}

int Read(const QString &languages, const QStringList &pictures)
{
    tesseract::TessBaseAPI api;
    const QByteArray folder = QFile::encodeName(TextDataFolder(QString()));
    if (api.Init(folder.constData(), languages.toLatin1().constData(), tesseract::OEM_LSTM_ONLY) != 0) {
        std::fprintf(stderr, "Tesseract does not start with %s (%s)\n", qPrintable(languages), folder.constData());
        return 1;
    }
    api.SetPageSegMode(tesseract::PSM_SINGLE_LINE);
    api.SetVariable("debug_file", "/dev/null");
    for (const QString &name : pictures) {
        const QImage picture = QImage(name).convertToFormat(QImage::Format_Grayscale8);
        if (picture.isNull()) {
            std::fprintf(stderr, "cannot read %s\n", qPrintable(name));
            return 1;
        }
        api.SetImage(picture.constBits(), picture.width(), picture.height(), 1, static_cast<int>(picture.bytesPerLine()));
        const std::unique_ptr<char[]> utf8(api.GetUTF8Text());
        QString text = utf8 ? QString::fromUtf8(utf8.get()) : QString();
        std::printf("%s\n", text.replace(QLatin1Char('\n'), QLatin1Char(' ')).simplified().toUtf8().constData());
    }
    api.End();
    return 0;
}

int Given(const QString &picture, const QString &out, const QString &languages)
{
    QImage image(picture);
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(picture));
        return 1;
    }
    const int dpi = static_cast<int>(std::lround(image.dotsPerMeterX() * 0.0254));
    TTextSeparation s = SeparateText(MaskOfMono(image.convertToFormat(QImage::Format_Mono)), TTextSizes::ForResolution(dpi));
    QDir().mkpath(out);
    const TTextReading reading{languages, QString()};
    for (std::size_t i = 0; i < s.Strings.size(); ++i)
        StringPicture(s.Text, s.Strings[i], reading.Height).save(QDir(out).filePath(QStringLiteral("%1.png").arg(i, 2, 10, QLatin1Char('0'))));
    const QString problem = ReadStrings(s.Text, s.Strings, reading);
    if (!problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", problem.toUtf8().constData());
        return 1;
    }
    for (std::size_t i = 0; i < s.Strings.size(); ++i)
        std::printf("%02zu %s (%.0f)\n", i, s.Strings[i].Text.toUtf8().constData(), s.Strings[i].Confidence);
    return 0;
}

int Split(const QString &picture, const QString &out)
{
    QImage image(picture);
    if (image.isNull()) {
        std::fprintf(stderr, "cannot read %s\n", qPrintable(picture));
        return 1;
    }
    const int dpi = static_cast<int>(std::lround(image.dotsPerMeterX() * 0.0254));
    const TBlackMask mask = MaskOfMono(image.convertToFormat(QImage::Format_Mono));
    const auto t0 = std::chrono::steady_clock::now();
    const TTextSeparation s = SeparateText(mask, TTextSizes::ForResolution(dpi));
    const double seconds = Seconds(t0);
    QImage text(mask.Width(), mask.Height(), QImage::Format_Mono);
    text.setColor(0, qRgb(255, 255, 255));
    text.setColor(1, qRgb(0, 0, 0));
    text.fill(0);
    for (int y = 0; y < mask.Height(); ++y)
        for (int x = 0; x < mask.Width(); ++x)
            if (s.Text.Black(x, y))
                text.setPixel(x, y, 1);
    text.save(out, "BMP");
    std::printf("%s: %d dpi, %zu strings, %.3f s\n", qPrintable(picture), dpi, s.Strings.size(), seconds);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("a0"))
        return A0(args.value(1, QStringLiteral("A0")), std::max(args.value(2, QStringLiteral("1")).toInt(), 1));
    if (args.value(0) == QLatin1String("draw") && args.size() == 2) {
        QDir().mkpath(args[1]);
        DrawLabelled(args[1], 1, 400);
        DrawLabelled(args[1], 2, 400);
        DrawLabelled(args[1], 3, 300);
        DrawLabelled(args[1], 4, 300);
        return 0;
    }
    if (args.value(0) == QLatin1String("split") && args.size() == 3)
        return Split(args[1], args[2]);
    if (args.value(0) == QLatin1String("handcut") && args.size() >= 2)
        return HandCut(args[1], args.value(2, QStringLiteral("jpn+eng")));
    if (args.value(0) == QLatin1String("given") && args.size() >= 3)
        return Given(args[1], args[2], args.value(3, QStringLiteral("jpn+eng")));
    if (args.value(0) == QLatin1String("read") && args.size() >= 2)
        return Read(args[1], args.mid(2));
    std::fprintf(stderr, "usage: TextMeasure a0 [SHEET] | draw DIR | split PICTURE OUT | handcut DIR [LANGS] | read LANGS PICTURE... | given PICTURE OUTDIR [LANGS]\n");
    return 2;
}
