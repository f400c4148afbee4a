#include "base/GeneralFormat.h"

#include "base/ExactDecimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kSignificant = 15;

int NotFinite(char *out, long double value)
{
    const char *text = std::isnan(value) ? "NAN" : value < 0 ? "-INF" : "INF";
    const int length = static_cast<int>(std::strlen(text));
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return length;
}

// The text from at most 15 significant digits (no trailing zeros but the
// first) and the decimal exponent of the first digit.
int EmitGeneral(char *out, bool negative, const char *digits, int count, int exponent)
{
    int n = 0;
    if (negative)
        out[n++] = '-';
    if (exponent >= kSignificant || exponent < -4) {
        out[n++] = digits[0];
        if (count > 1) {
            out[n++] = '.';
            std::memcpy(out + n, digits + 1, static_cast<std::size_t>(count - 1));
            n += count - 1;
        }
        out[n++] = 'E';
        n += static_cast<int>(std::to_chars(out + n, out + n + 8, exponent).ptr - (out + n));
    } else if (exponent < 0) {
        out[n++] = '0';
        out[n++] = '.';
        for (int i = 0; i < -exponent - 1; ++i)
            out[n++] = '0';
        std::memcpy(out + n, digits, static_cast<std::size_t>(count));
        n += count;
    } else {
        const int integerDigits = exponent + 1;
        if (count <= integerDigits) {
            std::memcpy(out + n, digits, static_cast<std::size_t>(count));
            n += count;
            for (int i = count; i < integerDigits; ++i)
                out[n++] = '0';
        } else {
            std::memcpy(out + n, digits, static_cast<std::size_t>(integerDigits));
            n += integerDigits;
            out[n++] = '.';
            std::memcpy(out + n, digits + integerDigits,
                        static_cast<std::size_t>(count - integerDigits));
            n += count - integerDigits;
        }
    }
    return n;
}

#if defined(TRAZBIT_EXACT_DECIMAL)
using ExactDecimal::kPowers;
using ExactDecimal::u128;

constexpr std::uint64_t kTenTo15 = 1'000'000'000'000'000ULL;

// With |value| = m x 2^e (m below 2^64) and 15 digits wanted, value x 10^s =
// m x 5^s x 2^(e + s) is a 128-bit integer shifted by t = -(e + s) bits, so the
// whole part N and the fraction (the t bits shifted out) are both exact. False
// outside 6.1E-5 .. 1.1E15. Here |value| = mantissa x 2^(binaryExponent - 64),
// the mantissa's top bit set.
bool GeneralExact(char *out, bool negative, std::uint64_t mantissa, int binaryExponent, int &length)
{
    if (binaryExponent < -14 || binaryExponent > 50)
        return false;
    const int e = binaryExponent - 64;
    // Decimal exponent of the first digit, perhaps one too low.
    int exponent = static_cast<int>(std::floor((binaryExponent - 1) * 0.30102999566398120));
    constexpr std::uint64_t kTenTo14 = kTenTo15 / 10;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int s = kSignificant - 1 - exponent;
        if (s < 0 || s > 27)  // 5^27 < 2^63: the product stays below 2^127
            return false;
        const u128 scaled = static_cast<u128>(mantissa) * kPowers.Five[s];
        const int t = -(e + s);
        if (t >= 127 || t <= -60)
            return false;
        u128 whole = t > 0 ? scaled >> t : scaled << -t;
        if (whole >= kTenTo15) {
            ++exponent;
            continue;
        }
        if (whole < kTenTo14) {
            --exponent;
            continue;
        }
        if (t > 0 && (scaled & ((static_cast<u128>(1) << t) - 1)) >= (static_cast<u128>(1) << (t - 1)))
            ++whole;  // half or more of the last digit: away from zero
        auto kept = static_cast<std::uint64_t>(whole);
        if (kept == kTenTo15) {
            kept = kTenTo14;
            ++exponent;
        }
        int count = kSignificant;
        while (count > 1 && kept % 10 == 0) {
            kept /= 10;
            --count;
        }
        char digits[20];
        std::to_chars(digits, digits + 20, kept);
        length = EmitGeneral(out, negative, digits, count, exponent);
        return true;
    }
    return false;
}

bool GeneralExact(char *out, long double value, int &length)
{
    // Whole numbers print as they are.
    if (std::fabs(value) < 1e15L && value == std::trunc(value)) {
        const auto whole = static_cast<std::int64_t>(value);
        length = static_cast<int>(std::to_chars(out, out + 24, whole).ptr - out);
        return true;
    }
    int binaryExponent = 0;
    const long double fraction = std::frexp(std::fabs(value), &binaryExponent);  // [0.5, 1)
    return GeneralExact(out, std::signbit(value),
                        static_cast<std::uint64_t>(std::ldexp(fraction, 64)), binaryExponent,
                        length);
}

// `count` decimal digits of value (below 10^count), leading zeros included,
// trailing zeros dropped; returns how many were written.
int FractionDigits(char *out, std::uint64_t value, int count)
{
    while (count > 0 && value % 10 == 0) {
        value /= 10;
        --count;
    }
    for (int i = count - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return count;
}

constexpr std::uint64_t kTenTo14 = kTenTo15 / 10;
constexpr std::uint64_t kTenTo18 = kTenTo15 * 1000;

// The common values of a drawing: whole numbers below 2^49 and values from
// 0.0001 to 2^24 with a binary fraction, which print in fixed notation. With
// |value| = M x 2^E, the whole part is M >> -E and the fraction F / 2^-E;
// rounding F x 10^d / 2^-E to d digits is exact in 128 bits. False for the
// rest.
bool GeneralFixed(char *out, float value, int &length)
{
    const ExactDecimal::TBinary b = ExactDecimal::Decompose(value);
    int n = 0;
    if (std::signbit(value))
        out[n++] = '-';
    if (b.Exponent >= 0) {
        if (b.Exponent > 25)  // 2^24 x 2^25 < 10^15
            return false;
        const std::uint64_t whole = static_cast<std::uint64_t>(b.Mantissa) << b.Exponent;
        n += static_cast<int>(std::to_chars(out + n, out + n + 20, whole).ptr - (out + n));
        length = n;
        return true;
    }
    const int k = -b.Exponent;
    if (k < 24 && (b.Mantissa >> k) != 0) {
        std::uint64_t whole = b.Mantissa >> k;
        const std::uint64_t fraction = b.Mantissa & ((std::uint32_t(1) << k) - 1);
        const int wholeDigits = whole >= 10000000 ? 8 : whole >= 1000000 ? 7 : whole >= 100000 ? 6
                              : whole >= 10000 ? 5 : whole >= 1000 ? 4 : whole >= 100 ? 3
                              : whole >= 10 ? 2 : 1;
        const int d = kSignificant - wholeDigits;
        const u128 scaled = static_cast<u128>(fraction) * kPowers.Ten[d];
        auto kept = static_cast<std::uint64_t>(scaled >> k);
        if (((scaled >> (k - 1)) & 1) != 0)
            ++kept;  // half or more of the last digit: away from zero
        if (kept == static_cast<std::uint64_t>(kPowers.Ten[d])) {
            kept = 0;
            ++whole;
        }
        n += static_cast<int>(std::to_chars(out + n, out + n + 20, whole).ptr - (out + n));
        if (kept != 0) {
            out[n++] = '.';
            n += FractionDigits(out + n, kept, d);
        }
        length = n;
        return true;
    }
    // Below 1: the first significant digit is among the first four decimals.
    if (k > 37)  // 2^24 / 2^38 < 0.0001
        return false;
    const u128 scaled18 = static_cast<u128>(b.Mantissa) * kTenTo18;
    const auto first = static_cast<std::uint64_t>(scaled18 >> k);  // 18 decimals, cut
    if (first < kTenTo14)
        return false;  // below 0.0001: scientific
    const int zeros = first >= kTenTo18 / 10 ? 0 : first >= kTenTo18 / 100 ? 1
                    : first >= kTenTo18 / 1000 ? 2 : 3;
    const int d = kSignificant + zeros;
    const u128 scaled = static_cast<u128>(b.Mantissa) * kPowers.Ten[d];
    auto kept = static_cast<std::uint64_t>(scaled >> k);
    if (((scaled >> (k - 1)) & 1) != 0)
        ++kept;
    if (kept == static_cast<std::uint64_t>(kPowers.Ten[d])) {
        out[n++] = '1';  // rounded up to 1
        length = n;
        return true;
    }
    out[n++] = '0';
    out[n++] = '.';
    n += FractionDigits(out + n, kept, d);
    length = n;
    return true;
}

bool GeneralExact(char *out, float value, int &length)
{
    // Whole numbers print as they are (most coordinates of a drawing are).
    if (std::fabs(value) < 1e15f && value == std::trunc(value)) {
        const auto whole = static_cast<std::int64_t>(value);
        length = static_cast<int>(std::to_chars(out, out + 24, whole).ptr - out);
        return true;
    }
    if (GeneralFixed(out, value, length))
        return true;
    const ExactDecimal::TBinary b = ExactDecimal::Decompose(value);
    const int width = std::bit_width(b.Mantissa);
    return GeneralExact(out, std::signbit(value),
                        static_cast<std::uint64_t>(b.Mantissa) << (64 - width), b.Exponent + width,
                        length);
}
#else
bool GeneralExact(char *, long double, int &) { return false; }
bool GeneralExact(char *, float, int &) { return false; }
#endif

template <typename Real> int GeneralOf(char *out, Real value)
{
    if (value == 0) {
        out[0] = '0';
        return 1;
    }
    int length = 0;
    if (std::isfinite(value) && GeneralExact(out, value, length))
        return length;
    return FormatGeneralByExpansion(out, static_cast<long double>(value));
}

} // namespace

int FormatGeneralByExpansion(char *out, long double value)
{
    if (!std::isfinite(value))
        return NotFinite(out, value);
    if (value == 0) {
        out[0] = '0';
        return 1;
    }
    // Seventeen digits, correctly rounded, settle the sixteenth digit unless it
    // sits next to the rounding boundary; only then is the exact expansion needed.
    char buf[160];
    const long double magnitude = std::fabs(value);
    std::snprintf(buf, sizeof buf, "%.*Le", kSignificant + 1, magnitude);
    const char next = buf[kSignificant + 1];  // buf: d '.' d*16 'e' ...
    if (next == '4' || next == '5')
        std::snprintf(buf, sizeof buf, "%.*Le", 120, magnitude);
    char digits[kSignificant];
    std::memcpy(digits, buf, 1);
    std::memcpy(digits + 1, buf + 2, kSignificant - 1);
    int exponent = std::atoi(std::strchr(buf, 'e') + 1);
    if (buf[kSignificant + 1] >= '5') {
        int i = kSignificant - 1;
        while (i >= 0 && digits[i] == '9')
            digits[i--] = '0';
        if (i >= 0) {
            ++digits[i];
        } else {
            digits[0] = '1';
            ++exponent;
        }
    }
    int count = kSignificant;
    while (count > 1 && digits[count - 1] == '0')
        --count;
    return EmitGeneral(out, value < 0, digits, count, exponent);
}

int FormatGeneralTo(char *out, long double value)
{
    return GeneralOf(out, value);
}

int FormatGeneralTo(char *out, float value)
{
    return GeneralOf(out, value);
}

QString FormatGeneral(long double value)
{
    char text[kGeneralTextCapacity];
    return QString::fromLatin1(text, FormatGeneralTo(text, value));
}
