#include "app/core/GeneralFormat.h"

#include "app/core/ExactDecimal.h"

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
    int binaryExponent = 0;
    const long double fraction = std::frexp(std::fabs(value), &binaryExponent);  // [0.5, 1)
    return GeneralExact(out, std::signbit(value),
                        static_cast<std::uint64_t>(std::ldexp(fraction, 64)), binaryExponent,
                        length);
}

bool GeneralExact(char *out, float value, int &length)
{
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
