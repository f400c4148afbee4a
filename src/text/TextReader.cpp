#include "text/TextReader.h"

#include "base/TaskPool.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLibrary>
#include <QTransform>

#include <tesseract/capi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {

// Letters of CJK scripts are written without spaces between them; Tesseract
// puts one between every two.
bool Wide(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x3000 && u <= 0x9FFF) || (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFFEF);
}

QString Tidy(const QString &read)
{
    QString line = read;
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    line = line.simplified();
    QString out;
    for (qsizetype i = 0; i < line.size(); ++i) {
        if (line[i] == QLatin1Char(' ') && i > 0 && i + 1 < line.size() && Wide(line[i - 1]) && Wide(line[i + 1]))
            continue;
        out += line[i];
    }
    return out;
}

// The functions of Tesseract's C interface that are called: the member, and
// the function it is resolved from by name.
#define TRAZBIT_TESSERACT_FUNCTIONS(F)                                                                        \
    F(Create, TessBaseAPICreate)                                                                             \
    F(Delete, TessBaseAPIDelete)                                                                             \
    F(Init, TessBaseAPIInit4)                                                                                \
    F(SetPageSegMode, TessBaseAPISetPageSegMode)                                                             \
    F(SetVariable, TessBaseAPISetVariable)                                                                   \
    F(SetImage, TessBaseAPISetImage)                                                                         \
    F(SetSourceResolution, TessBaseAPISetSourceResolution)                                                   \
    F(Recognize, TessBaseAPIRecognize)                                                                       \
    F(GetUTF8Text, TessBaseAPIGetUTF8Text)                                                                   \
    F(DeleteText, TessDeleteText)                                                                            \
    F(MeanTextConf, TessBaseAPIMeanTextConf)                                                                 \
    F(End, TessBaseAPIEnd)

// Tesseract's C interface, loaded the first time a string is read: most
// conversions read none, and the library with the many it loads in turn
// would be a good part of every run's start and memory.
struct TTesseract
{
#define TRAZBIT_MEMBER(member, function) decltype(&function) member = nullptr;
    TRAZBIT_TESSERACT_FUNCTIONS(TRAZBIT_MEMBER)
#undef TRAZBIT_MEMBER
    // OpenMP's omp_set_max_active_levels, where Tesseract was built with it.
    void (*SetMaxActiveLevels)(int) = nullptr;
    // Why it could not be loaded; empty when it was.
    QString Problem;
};

const TTesseract &Tesseract()
{
    static const TTesseract tesseract = [] {
        TTesseract t;
        // (left loaded for the rest of the run)
        QLibrary library(QStringLiteral("tesseract"), 5);
        if (!library.load()) {
            t.Problem = library.errorString();
            return t;
        }
        bool all = true;
#define TRAZBIT_RESOLVE(member, function)                                                                     \
    t.member = reinterpret_cast<decltype(&function)>(library.resolve(#function));                            \
    all = all && t.member;
        TRAZBIT_TESSERACT_FUNCTIONS(TRAZBIT_RESOLVE)
#undef TRAZBIT_RESOLVE
        if (!all)
            t.Problem = library.errorString();
        // Tesseract's loops over a line's few letters run on OpenMP's threads,
        // which cost far more than they share (a label is read about three
        // times faster on one): none of its parallel regions starts threads.
        QLibrary openmp(QStringLiteral("gomp"), 1);
        if (openmp.load())
            t.SetMaxActiveLevels = reinterpret_cast<void (*)(int)>(openmp.resolve("omp_set_max_active_levels"));
        return t;
    }();
    return tesseract;
}

} // namespace

QString TextDataFolder(const QString &folder)
{
    if (!folder.isEmpty())
        return folder;
    QStringList candidates;
    const QString prefix = qEnvironmentVariable("TESSDATA_PREFIX");
    if (!prefix.isEmpty())
        candidates << prefix << QDir(prefix).filePath(QStringLiteral("tessdata"));
    candidates << QStringLiteral("/usr/share/tesseract-ocr/5/tessdata")
               << QStringLiteral("/usr/share/tesseract-ocr/4.00/tessdata")
               << QStringLiteral("/usr/share/tessdata");
    for (const QString &c : candidates)
        if (QFileInfo(c).isDir())
            return c;
    return candidates.back();
}

QImage StringPicture(const TBlackMask &text, const TTextString &string, int height)
{
    const int pad = std::max(2, string.TextHeight() / 4);
    QImage picture(string.Width() + 2 * pad, string.Height() + 2 * pad, QImage::Format_Grayscale8);
    picture.fill(255);
    for (int y = string.Top; y < string.Bottom; ++y) {
        uchar *row = picture.scanLine(y - string.Top + pad);
        for (int x = string.Left; x < string.Right; ++x)
            if (text.Black(x, y))
                row[x - string.Left + pad] = 0;
    }
    if (string.Vertical)
        picture = picture.transformed(QTransform().rotate(90));
    const int across = string.TextHeight() + 2 * pad;
    const int scaled = std::max(8, height * across / std::max(string.TextHeight(), 1));
    return picture.scaledToHeight(scaled, Qt::SmoothTransformation);
}

QString ReadStrings(const TBlackMask &text, TTextStrings &strings, const TTextReading &reading, int threads,
                    const std::function<bool()> &stop)
{
    const QString folder = TextDataFolder(reading.DataFolder);
    for (const QString &language : reading.Languages.split(QLatin1Char('+'), Qt::SkipEmptyParts)) {
        const QString file = QDir(folder).filePath(language + QStringLiteral(".traineddata"));
        if (!QFileInfo(file).isFile())
            return QStringLiteral("文字認識の言語データ「%1」が見つかりません（%2）。"
                                  "Debian ではパッケージ tesseract-ocr-%3 を入れてください。"
                                  "文字は線のまま書き出します。")
                .arg(language, QDir::toNativeSeparators(file), language.toLower().replace(QLatin1Char('_'), QLatin1Char('-')));
    }
    if (strings.empty())
        return QString();
    const TTesseract &t = Tesseract();
    if (!t.Problem.isEmpty())
        return QStringLiteral("文字認識（Tesseract）のライブラリを読み込めませんでした（%1）。"
                              "Debian ではパッケージ libtesseract5 を入れてください。"
                              "文字は線のまま書き出します。")
            .arg(t.Problem);
    const QByteArray path = QFile::encodeName(folder);
    const QByteArray languages = reading.Languages.toLatin1();
    // Reads strings first .. end - 1 with a reader of its own; false when
    // Tesseract would not start.
    const auto readShare = [&](std::size_t first, std::size_t end) {
        // (the levels are the calling thread's)
        if (t.SetMaxActiveLevels)
            t.SetMaxActiveLevels(0);
        const std::unique_ptr<TessBaseAPI, decltype(t.Delete)> api(t.Create(), t.Delete);
        // Word lists off when asked: drawing labels are codes ("K-0421", "M12x1.75")
        // more often than words, and the lists pull codes towards words.
        char loadSystem[] = "load_system_dawg", loadFrequent[] = "load_freq_dawg", off[] = "0";
        char *names[] = {loadSystem, loadFrequent}, *values[] = {off, off};
        const std::size_t variables = reading.Dictionaries ? 0 : 2;
        if (t.Init(api.get(), path.constData(), languages.constData(), tesseract::OEM_LSTM_ONLY, nullptr, 0, names,
                   values, variables, false) != 0)
            return false;
        t.SetPageSegMode(api.get(), static_cast<TessPageSegMode>(reading.PageMode));
        t.SetVariable(api.get(), "debug_file", "/dev/null");
        // The strings' pictures are black on white: never read inverted too.
        t.SetVariable(api.get(), "tessedit_do_invert", "0");
        // Reads the string at one height: the text and the confidence.
        auto readAt = [&](const TTextString &string, int height) -> std::pair<QString, float> {
            const QImage picture = StringPicture(text, string, height);
            t.SetImage(api.get(), picture.constBits(), picture.width(), picture.height(), 1,
                       static_cast<int>(picture.bytesPerLine()));
            t.SetSourceResolution(api.get(), 300);
            if (t.Recognize(api.get(), nullptr) != 0)
                return {QString(), 0.0f};
            const std::unique_ptr<char, decltype(t.DeleteText)> utf8(t.GetUTF8Text(api.get()), t.DeleteText);
            return {utf8 ? Tidy(QString::fromUtf8(utf8.get())) : QString(),
                    static_cast<float>(std::max(t.MeanTextConf(api.get()), 0))};
        };
        for (std::size_t k = first; k < end && !(stop && stop()); ++k) {
            TTextString &string = strings[k];
            auto [read, confidence] = readAt(string, reading.Height);
            // A doubtful reading is tried again at another height; the surer one stays.
            if (reading.SecondHeight > 0 && confidence < reading.SureConfidence) {
                auto [again, sure] = readAt(string, reading.SecondHeight);
                if (sure > confidence) {
                    read = again;
                    confidence = sure;
                }
            }
            string.Confidence = confidence;
            if (!read.isEmpty() && string.Confidence >= reading.MinConfidence)
                string.Text = read;
        }
        t.End(api.get());
        return true;
    };
    // Each string is read by itself: shares of them on the threads, each
    // share by a reader of its own (worth its start, a fraction of a second
    // and the language data's memory, only for many strings).
    constexpr std::size_t kStringsPerReader = 48;
    const std::size_t n = strings.size();
    const std::size_t shares =
        threads > 1 ? std::clamp<std::size_t>(n / kStringsPerReader, 1, static_cast<std::size_t>(threads)) : 1;
    // (one share is read on this thread, no other started)
    std::vector<char> started(shares, 0);
    RunTasks(shares > 1 ? threads : 1, shares, [&](std::size_t share, int) {
        started[share] = readShare(n * share / shares, n * (share + 1) / shares);
    });
    if (std::find(started.begin(), started.end(), 0) != started.end()) {
        for (TTextString &string : strings) {
            string.Text.clear();
            string.Confidence = 0;
        }
        return QStringLiteral("文字認識（Tesseract）を言語 %1 で始められませんでした（言語データ %2）。"
                              "文字は線のまま書き出します。")
            .arg(reading.Languages, QDir::toNativeSeparators(folder));
    }
    return QString();
}
