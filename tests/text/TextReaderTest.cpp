#include "text/TextReader.h"
#include "text/TextSeparation.h"

#include "TextDrawings.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>

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

// Many strings are read in shares on the threads: the same readings as on
// one, each string's own.
TEST(ReadStrings, ManyStringsReadTheSameOnEveryThreadCount)
{
    QImage image = WhiteSheet(2400, 1700);
    QStringList labels;
    for (int row = 0; row < 12; ++row)
        for (int column = 0; column < 8; ++column) {
            labels << QStringLiteral("K-%1").arg(100 + 8 * row + column);
            Label(image, labels.back(), 60 + 290 * column, 120 + 130 * row, 55);
        }
    const TTextSeparation s = SeparateText(MaskOfImage(image), TTextSizes::ForResolution(400));
    ASSERT_EQ(s.Strings.size(), 96u);
    TTextStrings one = s.Strings, two = s.Strings;
    const TTextReading reading{QStringLiteral("eng"), QString()};
    ASSERT_EQ(ReadStrings(s.Text, one, reading, 1), QString());
    ASSERT_EQ(ReadStrings(s.Text, two, reading, 2), QString());
    int right = 0;
    for (std::size_t k = 0; k < one.size(); ++k) {
        EXPECT_EQ(two[k].Text, one[k].Text) << k;
        EXPECT_EQ(two[k].Confidence, one[k].Confidence) << k;
        right += labels.contains(one[k].Text);
    }
    EXPECT_GE(right, 90);
    // Stopped after the first few strings: the rest are not read.
    TTextStrings stopped = s.Strings;
    std::atomic<int> asked{0};
    ASSERT_EQ(ReadStrings(s.Text, stopped, reading, 2, [&] { return ++asked > 4; }), QString());
    int read = 0;
    for (const TTextString &string : stopped)
        read += !string.Text.isEmpty();
    EXPECT_LE(read, 4);
}

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
