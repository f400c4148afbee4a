#pragma once

// Exact decimal digits of binary floating-point values by integer arithmetic:
// the digits of m x 2^-k are those of m x 5^k, which fits 128 bits for the
// values a drawing holds. Shared by the general and the fixed number formats.

#include <bit>
#include <charconv>
#include <cstdint>
#include <cstring>

#if defined(__SIZEOF_INT128__)
#define TRAZBIT_EXACT_DECIMAL 1

namespace ExactDecimal {

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
inline constexpr TPowers kPowers;

// A float as Mantissa x 2^Exponent.
struct TBinary
{
    std::uint32_t Mantissa;  // odd unless the value is 0
    int Exponent;
};

inline TBinary Decompose(float value)
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

// The decimal digits of value (at most 39), without leading zeros; returns the count.
inline int WriteDecimal(char *out, u128 value)
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

} // namespace ExactDecimal
#endif
