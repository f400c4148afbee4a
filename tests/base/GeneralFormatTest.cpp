#include "base/GeneralFormat.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace {

QString ByExpansion(long double value)
{
    char text[kGeneralTextCapacity];
    return QString::fromLatin1(text, FormatGeneralByExpansion(text, value));
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

TEST(FormatGeneralTo, TheFastPathAgreesWithTheDecimalExpansion)
{
    char text[kGeneralTextCapacity];
    for (long double value : {0.0L, 1.0L / 3, 3.0000001192092896L, 12.4L, -7.25L, 1e-7L, 1e20L,
                              static_cast<long double>(1000.000244140625f), 1.0L + 1e-18L}) {
        const int length = FormatGeneralTo(text, value);
        EXPECT_EQ(QString::fromLatin1(text, length), ByExpansion(value));
    }
    const int length = FormatGeneralTo(text, static_cast<long double>(0.1f) * 3);
    EXPECT_EQ(QString::fromLatin1(text, length), "0.300000004470348");

    const long double tie = 1000.000244140625L;
    const struct
    {
        long double Value;
        const char *Text;
    } ties[] = {{tie, "1000.00024414063"},
                {std::nextafter(tie, 0.0L), "1000.00024414062"},
                {std::nextafter(tie, 2000.0L), "1000.00024414063"},
                {-tie, "-1000.00024414063"},
                {999999999999999.9L, "1E15"},
                {0.000123456789012345L, "0.000123456789012345"},
                {12345678901234.5L, "12345678901234.5"}};
    for (const auto &t : ties) {
        const int n = FormatGeneralTo(text, t.Value);
        EXPECT_EQ(QString::fromLatin1(text, n), t.Text);
    }

    // Products of three floats, as the full-precision writers make them, and
    // values just beside exact ties.
    std::mt19937 random(7);
    std::uniform_real_distribution<float> pixel(0, 20000);
    std::uniform_real_distribution<float> scale(0.001f, 50);
    for (int i = 0; i < 100000; ++i) {
        long double value = static_cast<long double>(pixel(random)) * scale(random) * scale(random);
        if (i % 3 == 0)
            value = -value;
        if (i % 7 == 0)  // 16 significant digits ending in 5, give or take one unit
            value = std::nextafter(std::ldexp(static_cast<long double>(static_cast<std::int64_t>(
                                                  std::ldexp(value, 20))), -20),
                                   static_cast<long double>(i % 2 ? INFINITY : -INFINITY));
        const int n = FormatGeneralTo(text, value);
        ASSERT_EQ(QString::fromLatin1(text, n), ByExpansion(value)) << static_cast<double>(value);
    }
}

TEST(FormatGeneralTo, EveryKindOfFloatAgreesWithTheDecimalExpansion)
{
    // A spread over every exponent and sign (every 2039th bit pattern), the
    // floats around each power of ten and around 0.0001, and every float of
    // 1 to 2 with the 2^-23 steps whose sixteenth digit may be an exact 5.
    std::vector<float> values;
    for (std::uint64_t bits = 0; bits < (std::uint64_t(1) << 32); bits += 2039)
        values.push_back(std::bit_cast<float>(static_cast<std::uint32_t>(bits)));
    for (float p = 1e-6f; p < 1e16f; p *= 10) {
        float v = p;
        for (int i = 0; i < 50; ++i)
            v = std::nextafter(v, 0.0f);
        for (int i = 0; i < 100; ++i, v = std::nextafter(v, INFINITY))
            values.push_back(v);
    }
    for (float v = 1.0f; v < 2.0f; v += 1.0f / 1024 + std::ldexp(1.0f, -23))
        values.push_back(v);
    values.push_back(1000.000244140625f);
    values.push_back(9999999.5f);
    values.push_back(0.99999994f);
    char text[kGeneralTextCapacity];
    for (float value : values) {
        if (!std::isfinite(value))
            continue;
        const int n = FormatGeneralTo(text, value);
        ASSERT_EQ(QString::fromLatin1(text, n), ByExpansion(value)) << value;
    }
}

TEST(FormatGeneralTo, WhatIsNotANumber)
{
    char text[kGeneralTextCapacity];
    for (const auto &[value, expected] : {std::pair{NAN, "NAN"}, std::pair{INFINITY, "INF"},
                                          std::pair{-INFINITY, "-INF"}}) {
        EXPECT_EQ(QString::fromLatin1(text, FormatGeneralTo(text, static_cast<long double>(value))),
                  QLatin1String(expected));
        EXPECT_EQ(ByExpansion(value), QLatin1String(expected));
    }
}

} // namespace
