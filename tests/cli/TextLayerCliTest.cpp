// The text options end to end: a drawing with printed labels, converted by the
// command line, its DXF read back entity by entity.
#include "CliFixture.h"

#include "export/Cp932.h"

#include <QFont>
#include <QSettings>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <vector>

namespace {

// One entity: its type and its group values (the last of each code).
struct TEntity
{
    QByteArray Type;
    std::map<int, QByteArray> Groups;
    double Number(int code) const { return Groups.at(code).trimmed().toDouble(); }
};

std::vector<TEntity> Entities(const QByteArray &dxf)
{
    const QList<QByteArray> lines = dxf.split('\n');
    std::vector<TEntity> entities;
    bool inEntities = false;
    for (qsizetype i = 0; i + 1 < lines.size(); i += 2) {
        const int code = lines[i].trimmed().toInt();
        const QByteArray value = lines[i + 1].endsWith('\r') ? lines[i + 1].chopped(1) : lines[i + 1];
        if (code == 2 && value == "ENTITIES")
            inEntities = true;
        else if (code == 0 && value == "ENDSEC")
            inEntities = false;
        else if (inEntities && code == 0)
            entities.push_back(TEntity{value, {}});
        else if (inEntities && !entities.empty())
            entities.back().Groups[code] = value;
    }
    return entities;
}

// A 1200 x 900 sheet at 400 dpi: a 4 px line at rows 600-603 from column 100
// to 1100, and a 3.5 mm label, across above it or upward beside it.
void WriteLabelledDrawing(const QString &path, bool upward)
{
    QImage image(1200, 900, QImage::Format_RGB32);
    image.fill(Qt::white);
    {
        QPainter painter(&image);
        painter.fillRect(100, 600, 1001, 4, Qt::black);
        QFont font(QStringLiteral("IPAGothic"));
        font.setPixelSize(55);
        font.setStyleStrategy(QFont::NoAntialias);
        painter.setFont(font);
        painter.setPen(Qt::black);
        painter.translate(upward ? 560 : 150, 560);
        painter.rotate(upward ? -90 : 0);
        painter.drawText(0, 0, QStringLiteral("尺度 1:100"));
    }
    QImage mono = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
    mono.setDotsPerMeterX(15748);
    mono.setDotsPerMeterY(15748);
    ASSERT_TRUE(mono.save(path, "BMP"));
}

const QByteArray kTextLayer = ToCp932(QStringLiteral("文字"));

class TextLayerCli : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(Dir.isValid()); }
    QByteArray Convert(const QStringList &options, bool upward = false)
    {
        const QString picture = Dir.filePath(QStringLiteral("label.bmp"));
        WriteLabelledDrawing(picture, upward);
        const QString out = Dir.filePath(QStringLiteral("label.dxf"));
        QFile::remove(out);
        const TCliRun run = RunCliCapturing(options + QStringList{"-q", "-f", "dxf", "-o", out, picture});
        EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
        Err = run.Err;
        return ReadAll(out);
    }
    QTemporaryDir Dir;
    QByteArray Err;
};

// The label's strokes go to the text layer, the line's do not: every line
// segment stays on the drawing's layer, and the label's on "文字".
TEST_F(TextLayerCli, LabelGoesToTheTextLayerAndTheLineDoesNot)
{
    const std::vector<TEntity> entities = Entities(Convert({"--text-layer"}));
    int text = 0, drawing = 0;
    double lineLength = 0;
    for (const TEntity &e : entities) {
        ASSERT_EQ(e.Type, "LINE");
        const double x1 = e.Number(10), y1 = e.Number(20), x2 = e.Number(11), y2 = e.Number(21);
        // Y grows upward: rows 600-603 are Y 297-300; the label is above Y 330.
        if (e.Groups.at(8) == kTextLayer) {
            ++text;
            EXPECT_GT(std::min(y1, y2), 320) << x1 << ' ' << y1 << ' ' << x2 << ' ' << y2;
            EXPECT_LT(std::max(x1, x2), 700);
        } else {
            ++drawing;
            EXPECT_EQ(e.Groups.at(8), "Scan Data");
            EXPECT_LE(std::max(y1, y2), 301) << x1 << ' ' << y1 << ' ' << x2 << ' ' << y2;
            if (y1 == y2)
                lineLength = std::max(lineLength, std::abs(x2 - x1));
        }
    }
    EXPECT_GT(text, 20);
    EXPECT_LE(drawing, 6);
    EXPECT_EQ(lineLength, 1000);
}

struct TOcrCase
{
    const char *Name;
    bool Upward;
    double X, Y, Rotation;   // where the baseline starts, the turn
};

class ReadIntoText : public TextLayerCli, public ::testing::WithParamInterface<TOcrCase>
{
};

// The label becomes one TEXT entity on the text layer, in code page 932, at
// its baseline within half a letter height, in a style the file declares.
TEST_P(ReadIntoText, LabelBecomesOneTextEntity)
{
    const TOcrCase c = GetParam();
    const QByteArray dxf = Convert({"--ocr", "jpn+eng"}, c.Upward);
    EXPECT_TRUE(dxf.contains("\r\n  0\r\nSTYLE\r\n  2\r\nMOJI\r\n"));
    const std::vector<TEntity> entities = Entities(dxf);
    const auto texts = std::count_if(entities.begin(), entities.end(), [](const TEntity &e) { return e.Type == "TEXT"; });
    ASSERT_EQ(texts, 1);
    for (const TEntity &e : entities) {
        if (e.Type != "TEXT") {
            EXPECT_NE(e.Groups.at(8), kTextLayer);
            continue;
        }
        EXPECT_EQ(e.Groups.at(8), kTextLayer);
        EXPECT_EQ(e.Groups.at(1), ToCp932(QStringLiteral("尺度 1:100")));
        EXPECT_EQ(e.Groups.at(7), "MOJI");
        const double height = e.Number(40);
        EXPECT_NEAR(height, 50, 8);
        EXPECT_NEAR(e.Number(10), c.X, height / 2);
        EXPECT_NEAR(e.Number(20), c.Y, height / 2);
        EXPECT_EQ(e.Groups.count(50) ? e.Number(50) : 0.0, c.Rotation);
    }
}

INSTANTIATE_TEST_SUITE_P(Labels, ReadIntoText,
                         ::testing::Values(TOcrCase{"Across", false, 150, 340, 0},
                                           TOcrCase{"Upward", true, 560, 340, 90}),
                         [](const auto &info) { return std::string(info.param.Name); });

// Language data that is not there: the message, and the strokes kept.
TEST_F(TextLayerCli, MissingLanguageDataWarnsAndKeepsTheStrokes)
{
    QTemporaryDir empty;
    const QString settings = Dir.filePath(QStringLiteral("settings.ini"));
    {
        QSettings ini(settings, QSettings::IniFormat);
        ini.setValue("Cleanup/OcrData", empty.path());
    }
    const std::vector<TEntity> entities = Entities(Convert({"--settings", settings, "--ocr", "jpn"}));
    EXPECT_TRUE(Err.contains(QStringLiteral("文字認識の言語データ「jpn」が見つかりません").toUtf8())) << Err.toStdString();
    EXPECT_TRUE(Err.contains("tesseract-ocr-jpn"));
    EXPECT_GT(std::count_if(entities.begin(), entities.end(), [](const TEntity &e) { return e.Groups.at(8) == kTextLayer; }), 20);
}

// Text options stored off write the same bytes as no text options at all,
// in every format.
TEST_F(TextLayerCli, OffLeavesEveryFormatAsItWas)
{
    const QString settings[2] = {Dir.filePath(QStringLiteral("none.ini")), Dir.filePath(QStringLiteral("off.ini"))};
    {
        QSettings none(settings[0], QSettings::IniFormat);
        none.setValue("Dxf/PenColor", 7);
        QSettings ini(settings[1], QSettings::IniFormat);
        ini.setValue("Dxf/PenColor", 7);
        ini.setValue("Cleanup/TextLayer", false);
        ini.setValue("Cleanup/Ocr", QString());
    }
    const QString picture = Dir.filePath(QStringLiteral("label.bmp"));
    WriteLabelledDrawing(picture, false);
    for (const char *format : {"dxf", "jwc", "txt"}) {
        QByteArray outputs[2];
        for (int i = 0; i < 2; ++i) {
            const QString out = Dir.filePath(QStringLiteral("out%1.%2").arg(i).arg(QLatin1String(format)));
            const QStringList args{"--settings", settings[i], "-q", "-f", format, "-o", out, picture};
            ASSERT_EQ(RunCliCapturing(args).Status, 0);
            outputs[i] = ReadAll(out);
        }
        EXPECT_FALSE(outputs[0].isEmpty());
        EXPECT_EQ(outputs[0], outputs[1]) << format;
    }
}

} // namespace
