#include "export/FormatCoordinate.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace {

// The general format's decimal-expansion path, which every fast path must agree with.
QString ByExpansion(long double value)
{
    char text[kGeneralTextCapacity];
    return QString::fromLatin1(text, FormatGeneralByExpansion(text, value));
}

TEST(FormatCoordinate, IntegerModeTruncatesTowardZero)
{
    EXPECT_EQ(FormatCoordinate(12.9f, 1, 4), "12");
    EXPECT_EQ(FormatCoordinate(-0.5f, 1, 4), "0");
    EXPECT_EQ(FormatCoordinate(-12.9f, 1, 4), "-12");
    EXPECT_EQ(FormatCoordinate(0.0f, 1, 4), "0");
    EXPECT_EQ(FormatCoordinate(16777217.0f, 1, 0), "16777216");
    EXPECT_EQ(FormatCoordinate(3.0e10f, 1, 0), "30000001024");
    EXPECT_EQ(FormatCoordinate(-1.0e20f, 1, 0), "-100000002004087734272");
}

TEST(FormatCoordinate, RealModeAndUnknownModesUseTheGeneralFormatOfTheWidenedFloat)
{
    for (int mode : {2, 0, 4, -1, 99}) {
        EXPECT_EQ(FormatCoordinate(12.4f, mode, 3), "12.3999996185303") << mode;
        EXPECT_EQ(FormatCoordinate(100.0f, mode, 3), "100") << mode;
    }
    EXPECT_EQ(FormatCoordinate(0.0f, 2, 4), "0");
    EXPECT_EQ(FormatCoordinate(-0.0f, 2, 4), "0");
    EXPECT_EQ(FormatCoordinate(-2.5f, 2, 4), "-2.5");
    EXPECT_EQ(FormatCoordinate(0.1f, 2, 4), "0.100000001490116");
    // An exact tie at the sixteenth digit rounds away from zero.
    EXPECT_EQ(FormatCoordinate(1000.000244140625f, 2, 4), "1000.00024414063");
    EXPECT_EQ(FormatCoordinate(-1000.000244140625f, 2, 4), "-1000.00024414063");
    // Scientific below 0.0001 and beyond 15 integer digits.
    EXPECT_EQ(FormatCoordinate(0.0001f, 2, 4), "9.99999974737875E-5");
    EXPECT_EQ(FormatCoordinate(std::ldexp(1.0f, -17), 2, 4), "7.62939453125E-6");
    EXPECT_EQ(FormatCoordinate(0.000244140625f, 2, 4), "0.000244140625");
    EXPECT_EQ(FormatCoordinate(1.0e15f, 2, 4), "999999986991104");
    EXPECT_EQ(FormatCoordinate(1.0e16f, 2, 4), "1.00000002725642E16");
    EXPECT_EQ(FormatCoordinate(16777215.0f, 2, 4), "16777215");
}

TEST(FormatCoordinate, FixedModeRoundsTheExactValueHalfAwayFromZero)
{
    EXPECT_EQ(FormatCoordinate(12.4f, 3, 3), "12.400");
    EXPECT_EQ(FormatCoordinate(10.0f, 3, 2), "10.00");
    EXPECT_EQ(FormatCoordinate(12.4f, 3, 0), "12");
    EXPECT_EQ(FormatCoordinate(0.5f, 3, 0), "1");
    EXPECT_EQ(FormatCoordinate(2.5f, 3, 0), "3");
    EXPECT_EQ(FormatCoordinate(-2.5f, 3, 0), "-3");
    EXPECT_EQ(FormatCoordinate(0.125f, 3, 2), "0.13");
    EXPECT_EQ(FormatCoordinate(9.995f, 3, 2), "9.99");  // the float lies below 9.995
    EXPECT_EQ(FormatCoordinate(99.5f, 3, 0), "100");
    EXPECT_EQ(FormatCoordinate(12.4f, 3, 9), "12.399999619");
    EXPECT_EQ(FormatCoordinate(0.0f, 3, 4), "0.0000");
    // A value that rounds to zero carries no minus sign.
    EXPECT_EQ(FormatCoordinate(-0.001f, 3, 2), "0.00");
    EXPECT_EQ(FormatCoordinate(-0.0f, 3, 1), "0.0");
    EXPECT_EQ(FormatCoordinate(-0.25f, 3, 1), "-0.3");
    EXPECT_EQ(FormatCoordinate(3.0e10f, 3, 1), "30000001024.0");
}

TEST(FormatCoordinate, FixedDigitCountsOutsideTheSensibleRangeAreBounded)
{
    EXPECT_EQ(FormatCoordinate(12.5f, 3, -3), "13");
    EXPECT_EQ(FormatCoordinate(1.5f, 3, 1000), "1." + QString(1, QLatin1Char('5')) + QString(39, QLatin1Char('0')));
    EXPECT_EQ(FormatCoordinate(0.1f, 3, 40), "0.1000000014901161193847656250000000000000");
    EXPECT_EQ(FormatCoordinate(std::ldexp(1.0f, -140), 3, 40), "0.0000000000000000000000000000000000000000");
    EXPECT_EQ(FormatCoordinate(3.4e38f, 3, 40).size(), 39 + 1 + 40);
}

TEST(FormatCoordinate, ValuesThatAreNotNumbersPrintAsWords)
{
    for (int mode : {1, 2, 3}) {
        EXPECT_EQ(FormatCoordinate(INFINITY, mode, 2), "INF");
        EXPECT_EQ(FormatCoordinate(-INFINITY, mode, 2), "-INF");
        EXPECT_EQ(FormatCoordinate(NAN, mode, 2), "NAN");
    }
}

// Exact decimal expansion of a float, rounded by hand: the reference for the
// fixed mode.
std::string FixedReference(float value, int digits)
{
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.160f", std::fabs(static_cast<double>(value)));
    std::string s = std::string("0") + buf;
    const std::size_t point = s.find('.');
    const bool up = s[point + static_cast<std::size_t>(digits) + 1] >= '5';
    s.resize(point + static_cast<std::size_t>(digits) + 1);
    if (digits == 0)
        s.pop_back();
    for (std::size_t i = s.size(); up && i-- > 0;) {
        if (s[i] == '.')
            continue;
        if (s[i] == '9') {
            s[i] = '0';
            continue;
        }
        ++s[i];
        break;
    }
    if (s.size() > 1 && s[0] == '0' && s[1] != '.')
        s.erase(0, 1);
    if (std::signbit(value) && s.find_first_not_of("0.") != std::string::npos)
        return std::string(1, '-').append(s);
    return s;
}

TEST(FormatCoordinate, AgreesWithTheReferencesOverManyFloats)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<std::uint32_t> anyBits;
    std::uniform_real_distribution<float> drawing(-100000.0f, 100000.0f);
    std::uniform_int_distribution<int> digitCount(0, 9);
    for (int i = 0; i < 200000; ++i) {
        float value = i % 2 ? drawing(random) : std::bit_cast<float>(anyBits(random));
        if (i % 5 == 0)  // many values near ties: few significant bits
            value = std::ldexp(std::round(std::ldexp(value, -10)), 10 - (i % 40));
        if (!std::isfinite(value))
            continue;
        ASSERT_EQ(FormatCoordinate(value, 2, 0), ByExpansion(value))
            << std::bit_cast<std::uint32_t>(value);
        const int digits = digitCount(random);
        ASSERT_EQ(FormatCoordinate(value, 3, digits).toStdString(), FixedReference(value, digits))
            << std::bit_cast<std::uint32_t>(value) << " " << digits;
    }
}

} // namespace
