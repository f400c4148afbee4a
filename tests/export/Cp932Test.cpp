#include "export/Cp932.h"

#include <gtest/gtest.h>

namespace {

QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

TEST(Cp932, EncodesJapaneseIncludingSecondBytesThatAreBackslashes)
{
    EXPECT_EQ(ToCp932(QStringLiteral("表")), Bytes({0x95, 0x5C}));
    EXPECT_EQ(ToCp932(QStringLiteral("ソ")), Bytes({0x83, 0x5C}));
    EXPECT_EQ(ToCp932(QStringLiteral("実線")), Bytes({0x8E, 0xC0, 0x90, 0xFC}));
    EXPECT_EQ(ToCp932(QStringLiteral("点線")), Bytes({0x93, 0x5F, 0x90, 0xFC}));
    EXPECT_EQ(ToCp932(QStringLiteral("ﾌｧｲﾙ")), Bytes({0xCC, 0xA7, 0xB2, 0xD9}));
    EXPECT_EQ(ToCp932(QStringLiteral("a\\b~")), QByteArray("a\\b~"));
    EXPECT_EQ(ToCp932(QString()), QByteArray());
}

TEST(Cp932, MissingCharactersBecomeQuestionMarksNeverSubstituteBytes)
{
    EXPECT_EQ(ToCp932(QStringLiteral("a€b")), QByteArray("a?b"));
    EXPECT_EQ(ToCp932(QString::fromUtf8("x\xF0\x9F\x98\x80y表")), QByteArray("x?y") + Bytes({0x95, 0x5C}));
    EXPECT_FALSE(ToCp932(QStringLiteral("한국어")).contains(Bytes({0xFC, 0xFC})));
}

TEST(Cp932, WaveDashAndMinusTakeTheirWindowsCodes)
{
    EXPECT_EQ(ToCp932(QString(QChar(0x301C))), Bytes({0x81, 0x60}));
    EXPECT_EQ(ToCp932(QString(QChar(0xFF5E))), Bytes({0x81, 0x60}));
    EXPECT_EQ(ToCp932(QString(QChar(0x2212))), Bytes({0x81, 0x7C}));
}

TEST(Cp932, DecodesBack)
{
    EXPECT_EQ(FromCp932(Bytes({0x95, 0x5C, 0x83, 0x5C})), QStringLiteral("表ソ"));
}

} // namespace

namespace {

// Whether a read text may go into a file as it is: every character has a code.
TEST(Cp932, FitsOnlyWhenEveryCharacterHasACode)
{
    const std::pair<const char16_t *, bool> cases[] = {
        {u"尺度 1:100", true}, {u"φ25", true}, {u"〜－", true}, {u"A?", true},
        {u"\U0001F600", false}, {u"尺\u20AC", false}, {u"\u0101", false},
    };
    for (const auto &[text, fits] : cases)
        EXPECT_EQ(FitsCp932(QString::fromUtf16(text)), fits) << QString::fromUtf16(text).toStdString();
}

} // namespace
