#include "text/TextReader.h"
#include "text/TextSeparation.h"

#include "TextDrawings.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct TReadCase
{
    const char *Name;
    int Degrees;
};

class ReadLabel : public ::testing::TestWithParam<TReadCase>
{
};

// A 3.5 mm label at 400 dpi beside a line, found and read; upward labels are
// turned upright first.
TEST_P(ReadLabel, GivesTheLabelsText)
{
    QImage image = WhiteSheet(1200, 900);
    Bar(image, 100, 600, 1100, 603);
    if (GetParam().Degrees == 0)
        Label(image, QStringLiteral("尺度 1:100"), 150, 560, 55);
    else
        Label(image, QStringLiteral("尺度 1:100"), 560, 560, 55, 90);
    TTextSeparation s = SeparateText(MaskOfImage(image), TTextSizes::ForResolution(400));
    ASSERT_EQ(s.Strings.size(), 1u);
    EXPECT_EQ(ReadStrings(s.Text, s.Strings, TTextReading{QStringLiteral("jpn+eng"), QString()}), QString());
    EXPECT_EQ(s.Strings[0].Text, QStringLiteral("尺度 1:100"));
    EXPECT_GE(s.Strings[0].Confidence, 60);
}

INSTANTIATE_TEST_SUITE_P(Labels, ReadLabel,
                         ::testing::Values(TReadCase{"Across", 0}, TReadCase{"Upward", 90}),
                         [](const auto &info) { return std::string(info.param.Name); });

// Missing language data: a message naming the language, its file and the
// package; no string read.
TEST(ReadStrings, MissingLanguageDataGivesTheMessage)
{
    QTemporaryDir empty;
    ASSERT_TRUE(empty.isValid());
    TTextStrings strings(1, TTextString{0, 0, 10, 10, false, 1, QString()});
    TBlackMask text(20, 20);
    const QString file = QDir::toNativeSeparators(QDir(empty.path()).filePath(QStringLiteral("jpn.traineddata")));
    EXPECT_EQ(ReadStrings(text, strings, TTextReading{QStringLiteral("jpn+eng"), empty.path()}),
              QStringLiteral("文字認識の言語データ「jpn」が見つかりません（%1）。"
                             "Debian ではパッケージ tesseract-ocr-jpn を入れてください。"
                             "文字は線のまま書き出します。").arg(file));
    EXPECT_TRUE(strings[0].Text.isEmpty());
    // The system's folder lacks a language that does not exist.
    const QString problem = ReadStrings(text, strings, TTextReading{QStringLiteral("eng+chi_sim_vert"), QString()});
    EXPECT_TRUE(problem.contains(QStringLiteral("「chi_sim_vert」"))) << problem.toStdString();
    EXPECT_TRUE(problem.contains(QStringLiteral("tesseract-ocr-chi-sim-vert"))) << problem.toStdString();
}

} // namespace
