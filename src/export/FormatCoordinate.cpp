#include "export/FormatCoordinate.h"

#include "base/ExactDecimal.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace {

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

#if defined(TRAZBIT_EXACT_DECIMAL)
using ExactDecimal::kMostFive;
using ExactDecimal::kMostTen;
using ExactDecimal::kPowers;
using ExactDecimal::u128;
using ExactDecimal::WriteDecimal;

// Fixed notation of a finite float; false outside the range handled here.
bool FixedExact(char *out, float value, int digits, int &length)
{
    // value x 10^digits stays below 2^24 x 10^30 < 2^124.
    if (digits > 30)
        return false;
    const ExactDecimal::TBinary b = ExactDecimal::Decompose(value);
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
bool FixedExact(char *, float, int, int &) { return false; }
#endif

} // namespace

int FormatCoordinateTo(char *out, float value, int mode, int digits)
{
    if (!std::isfinite(value))
        return FormatGeneralTo(out, value);  // "NAN", "INF", "-INF" in every mode
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
        return FormatGeneralTo(out, value);
    }
}

QString FormatCoordinate(float value, int mode, int digits)
{
    char text[kCoordinateTextCapacity];
    const int length = FormatCoordinateTo(text, value, mode, digits);
    return QString::fromLatin1(text, length);
}
