#include "base/DecimalText.h"

#include <gtest/gtest.h>

#include <clocale>

namespace {

TEST(ParseDecimal, AcceptsSignDigitsFractionAndExponentOnly)
{
    EXPECT_EQ(ParseDecimal("1.5"), 1.5);
    EXPECT_EQ(ParseDecimal(" -2 "), -2.0);
    EXPECT_EQ(ParseDecimal("+.5"), 0.5);
    EXPECT_EQ(ParseDecimal("3."), 3.0);
    EXPECT_EQ(ParseDecimal("1e3"), 1000.0);
    EXPECT_EQ(ParseDecimal("2.5E-1"), 0.25);
    for (const char *bad : {"", " ", "abc", "1,5", "1.2.3", "e5", "1e", "0x10", "inf", "nan",
                            "1 2", "--1", "1e999"})
        EXPECT_FALSE(ParseDecimal(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(ParseDecimal, IgnoresTheLocalesDecimalComma)
{
    const char *old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr)
        std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(ParseDecimal("0.98"), 0.98);
    EXPECT_EQ(FormatFixed5(0.5), QStringLiteral("0.50000"));
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(ParseFloat, RoundsTo32Bits)
{
    EXPECT_EQ(ParseFloat("0.98"), 0.98f);
    EXPECT_FALSE(ParseFloat("1e39").has_value());
}

TEST(ParseInteger, TakesDecimalIntegersThatFit32Bits)
{
    EXPECT_EQ(ParseInteger("42"), 42);
    EXPECT_EQ(ParseInteger(" -7"), -7);
    EXPECT_EQ(ParseInteger("2147483647"), 2147483647);
    for (const char *bad : {"", "1.0", "abc", "2147483648", "0x1F", "1 2"})
        EXPECT_FALSE(ParseInteger(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(FormatFixed, PrintfStyle)
{
    EXPECT_EQ(FormatFixed5(1.0), "1.00000");
    EXPECT_EQ(FormatFixed(12.4f, 3), "12.400");
    EXPECT_EQ(FormatFixed(2.0, 0), "2");
}

TEST(FormatThousands, GroupsWholeNumbers)
{
    EXPECT_EQ(FormatThousands(0), "0");
    EXPECT_EQ(FormatThousands(999), "999");
    EXPECT_EQ(FormatThousands(1000000), "1,000,000");
}

} // namespace
