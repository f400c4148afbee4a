#include "app/core/DecimalText.h"

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

TEST(FormatGeneral, FifteenSignificantDigitsWithoutTrailingZeros)
{
    EXPECT_EQ(FormatGeneral(0.0L), "0");
    EXPECT_EQ(FormatGeneral(-0.0L), "0");
    EXPECT_EQ(FormatGeneral(1.0L), "1");
    EXPECT_EQ(FormatGeneral(10.0L), "10");
    EXPECT_EQ(FormatGeneral(-2.5L), "-2.5");
    EXPECT_EQ(FormatGeneral(static_cast<long double>(0.98f)), "0.980000019073486");
    EXPECT_EQ(FormatGeneral(static_cast<long double>(12.4f)), "12.3999996185303");
    EXPECT_EQ(FormatGeneral(0.0001L), "0.0001");
    EXPECT_EQ(FormatGeneral(123456789012345.0L), "123456789012345");
}

TEST(FormatGeneral, ScientificBelowOneTenThousandthAndAboveFifteenIntegerDigits)
{
    EXPECT_EQ(FormatGeneral(0.00001L), "1E-5");
    EXPECT_EQ(FormatGeneral(-0.000025L), "-2.5E-5");
    EXPECT_EQ(FormatGeneral(1e15L), "1E15");
    EXPECT_EQ(FormatGeneral(1.5e20L), "1.5E20");
    EXPECT_EQ(FormatGeneral(999999999999999.9L), "1E15");
}

TEST(FormatGeneral, AnExactTieRoundsAwayFromZero)
{
    // 1000.000244140625 is a 32-bit float; its sixteenth digit is an exact 5.
    EXPECT_EQ(FormatGeneral(static_cast<long double>(1000.000244140625f)), "1000.00024414063");
    EXPECT_EQ(FormatGeneral(-1000.000244140625L), "-1000.00024414063");
    EXPECT_EQ(FormatGeneral(0.1000000000000005L), "0.100000000000001");
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
