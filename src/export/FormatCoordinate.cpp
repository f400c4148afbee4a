#include "export/FormatCoordinate.h"

#include "app/core/DecimalText.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

constexpr int kSignificant = 15;
constexpr std::uint64_t kTenTo15 = 1'000'000'000'000'000ULL;

int CopyLatin1(char *out, const QString &text)
{
    const QByteArray bytes = text.toLatin1();
    const int length = std::min<int>(static_cast<int>(bytes.size()), kCoordinateTextCapacity);
    std::memcpy(out, bytes.constData(), static_cast<std::size_t>(length));
    return length;
}

int NotFinite(char *out, double value)
{
    const char *text = std::isnan(value) ? "NAN" : value < 0 ? "-INF" : "INF";
    const int length = static_cast<int>(std::strlen(text));
    std::memcpy(out, text, static_cast<std::size_t>(length));
    return length;
}

int Truncated(char *out, float value)
{
    if (std::fabs(value) < 9.0e18f) {
        const auto whole = static_cast<std::int64_t>(value);
        return static_cast<int>(std::to_chars(out, out + kCoordinateTextCapacity, whole).ptr - out);
    }
    // Floats this large hold whole numbers: printed exactly.
    return static_cast<int>(std::to_chars(out, out + kCoordinateTextCapacity,
                                          static_cast<double>(value), std::chars_format::fixed, 0)
                                .ptr
                            - out);
}

// Fixed notation by rounding the exact decimal expansion of the value by hand:
// the widened float has at most 149 decimals, all of which to_chars prints.
int FixedFromExpansion(char *out, float value, int digits)
{
    char buf[256];
    const double wide = std::fabs(static_cast<double>(value));
    char *end = std::to_chars(buf + 1, buf + sizeof buf, wide, std::chars_format::fixed, 150).ptr;
    buf[0] = '0';  // room for a carry
    char *point = std::find(buf + 1, end, '.');
    char *last = point + digits;  // last digit kept
    if (point[digits + 1] >= '5') {
        char *p = last;
        for (;;) {
            if (*p == '.') {
                --p;
                continue;
            }
            if (*p == '9') {
                *p-- = '0';
                continue;
            }
            ++*p;
            break;
        }
    }
    const char *first = buf[0] == '0' ? buf + 1 : buf;
    const char *stop = digits == 0 ? point : last + 1;
    const bool zero = std::all_of(first, stop, [](char c) { return c == '0' || c == '.'; });
    int length = 0;
    if (std::signbit(value) && !zero)
        out[length++] = '-';
    std::memcpy(out + length, first, static_cast<std::size_t>(stop - first));
    return length + static_cast<int>(stop - first);
}

// The general format's text from at most 15 significant digits (no trailing
// zeros but the first) and the decimal exponent of the first digit.
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

#if defined(__SIZEOF_INT128__)
// Exact integer arithmetic on the binary expansion of the value: the decimal
// digits of m x 2^-k are those of m x 5^k, which fits 128 bits for the values
// written day to day.
using u128 = unsigned __int128;

constexpr int kMostFive = 44;
constexpr int kMostTen = 38;

struct TPowers
{
    u128 Five[kMostFive + 1];
    u128 Ten[kMostTen + 1];
    constexpr TPowers() : Five(), Ten()
    {
        Five[0] = 1;
        for (int i = 1; i <= kMostFive; ++i)
            Five[i] = Five[i - 1] * 5;
        Ten[0] = 1;
        for (int i = 1; i <= kMostTen; ++i)
            Ten[i] = Ten[i - 1] * 10;
    }
};
constexpr TPowers kPowers;

struct TBinary
{
    std::uint32_t Mantissa;  // odd unless the value is 0
    int Exponent;            // value = Mantissa x 2^Exponent
};

TBinary Decompose(float value)
{
    const auto bits = std::bit_cast<std::uint32_t>(value);
    const int biased = static_cast<int>((bits >> 23) & 0xFF);
    std::uint32_t mantissa = bits & 0x7FFFFF;
    int exponent = -149;
    if (biased != 0) {
        mantissa |= 0x800000;
        exponent = biased - 150;
    }
    if (mantissa != 0) {
        const int zeros = std::countr_zero(mantissa);
        mantissa >>= zeros;
        exponent += zeros;
    }
    return {mantissa, exponent};
}

int WriteDecimal(char *out, u128 value)
{
    if (value <= UINT64_MAX)
        return static_cast<int>(
            std::to_chars(out, out + 40, static_cast<std::uint64_t>(value)).ptr - out);
    constexpr std::uint64_t kTenTo19 = 10'000'000'000'000'000'000ULL;
    const int head = WriteDecimal(out, value / kTenTo19);
    const auto tail = static_cast<std::uint64_t>(value % kTenTo19);
    char digits[20];
    const int n = static_cast<int>(std::to_chars(digits, digits + 20, tail).ptr - digits);
    std::memset(out + head, '0', static_cast<std::size_t>(19 - n));
    std::memcpy(out + head + 19 - n, digits, static_cast<std::size_t>(n));
    return head + 19;
}

// General format of a finite non-zero value, exactly: with |value| = m x 2^e
// (m below 2^64) and 15 digits wanted, value x 10^s = m x 5^s x 2^(e + s) is a
// 128-bit integer shifted by t = -(e + s) bits, so the whole part N and the
// fraction (the t bits shifted out) are both exact. False outside
// 6.1E-5 .. 1.1E15, where the slower general routine takes over.
// Here |value| = mantissa x 2^(binaryExponent - 64), the mantissa's top bit set.
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
    const TBinary b = Decompose(value);
    const int width = std::bit_width(b.Mantissa);
    return GeneralExact(out, std::signbit(value), static_cast<std::uint64_t>(b.Mantissa) << (64 - width),
                        b.Exponent + width, length);
}

// Fixed notation of a finite float; false outside the range handled here.
bool FixedExact(char *out, float value, int digits, int &length)
{
    // value x 10^digits stays below 2^24 x 10^30 < 2^124.
    if (digits > 30)
        return false;
    const TBinary b = Decompose(value);
    u128 whole;
    u128 fraction;  // `digits` decimals
    if (b.Mantissa == 0) {
        whole = 0;
        fraction = 0;
    } else if (b.Exponent >= 0) {
        if (b.Exponent > 39)
            return false;
        whole = static_cast<u128>(b.Mantissa) << b.Exponent;
        fraction = 0;
    } else {
        const int k = -b.Exponent;
        if (k > kMostFive)
            return false;
        const u128 exact = static_cast<u128>(b.Mantissa) * kPowers.Five[k];  // / 10^k
        u128 scaled;  // value x 10^digits, rounded
        if (k <= digits) {
            scaled = exact * kPowers.Ten[digits - k];
        } else {
            if (k - digits > kMostTen)
                return false;
            const u128 unit = kPowers.Ten[k - digits];
            scaled = exact / unit;
            if ((exact % unit) * 2 >= unit)
                ++scaled;
        }
        whole = scaled / kPowers.Ten[digits];
        fraction = scaled % kPowers.Ten[digits];
    }
    int n = 0;
    if (std::signbit(value) && (whole != 0 || fraction != 0))
        out[n++] = '-';
    n += WriteDecimal(out + n, whole);
    if (digits > 0) {
        out[n++] = '.';
        char text[48];
        const int written = WriteDecimal(text, fraction);
        std::memset(out + n, '0', static_cast<std::size_t>(digits - written));
        std::memcpy(out + n + digits - written, text, static_cast<std::size_t>(written));
        n += digits;
    }
    length = n;
    return true;
}
#else
bool GeneralExact(char *, long double, int &) { return false; }
bool GeneralExact(char *, float, int &) { return false; }
bool FixedExact(char *, float, int, int &) { return false; }
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
    return CopyLatin1(out, FormatGeneral(static_cast<long double>(value)));
}

} // namespace

int FormatCoordinateTo(char *out, float value, int mode, int digits)
{
    if (!std::isfinite(value))
        return NotFinite(out, value);
    switch (mode) {
    case 1:
        return Truncated(out, value);
    case 3: {
        digits = std::clamp(digits, 0, kMostFixedDigits);
        int length = 0;
        if (FixedExact(out, value, digits, length))
            return length;
        return FixedFromExpansion(out, value, digits);
    }
    default:
        return GeneralOf(out, value);
    }
}

QString FormatCoordinate(float value, int mode, int digits)
{
    char text[kCoordinateTextCapacity];
    const int length = FormatCoordinateTo(text, value, mode, digits);
    return QString::fromLatin1(text, length);
}

int FormatGeneralTo(char *out, long double value)
{
    return GeneralOf(out, value);
}
