#include "recognition/Skew.h"

#include <leptonica/allheaders.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>

namespace {

std::uint32_t Reversed(std::uint32_t v)
{
    static const std::array<std::uint8_t, 256> table = [] {
        std::array<std::uint8_t, 256> t{};
        for (unsigned b = 0; b < 256; ++b) {
            unsigned r = 0;
            for (int k = 0; k < 8; ++k)
                r |= ((b >> k) & 1u) << (7 - k);
            t[b] = static_cast<std::uint8_t>(r);
        }
        return t;
    }();
    return (std::uint32_t(table[v & 0xff]) << 24) | (std::uint32_t(table[(v >> 8) & 0xff]) << 16) |
           (std::uint32_t(table[(v >> 16) & 0xff]) << 8) | table[v >> 24];
}

struct TPixFree
{
    void operator()(PIX *pix) const { pixDestroy(&pix); }
};

} // namespace

std::optional<double> FindSkew(const TBlackMask &ink)
{
    if (ink.Width() < 64 || ink.Height() < 64)
        return std::nullopt;
    std::unique_ptr<PIX, TPixFree> pix(pixCreate(ink.Width(), ink.Height(), 1));
    if (!pix)
        return std::nullopt;
    // Leptonica's words hold their leftmost pixel in the highest bit.
    const int wpl = pixGetWpl(pix.get());
    l_uint32 *data = pixGetData(pix.get());
    for (int y = 0; y < ink.Height(); ++y) {
        const std::uint64_t *line = ink.Line(y);
        l_uint32 *row = data + static_cast<std::ptrdiff_t>(y) * wpl;
        for (int i = 0; i < ink.Words(); ++i) {
            row[2 * i] = Reversed(static_cast<std::uint32_t>(line[i]));
            if (2 * i + 1 < wpl)
                row[2 * i + 1] = Reversed(static_cast<std::uint32_t>(line[i] >> 32));
        }
    }
    l_float32 angle = 0, confidence = 0;
    setMsgSeverity(L_SEVERITY_NONE);
    // Reduced for the sweep only where the sheet is large enough to keep its lines.
    const int smaller = std::min(ink.Width(), ink.Height());
    const int sweepReduction = smaller >= 4000 ? 4 : smaller >= 2000 ? 2 : 1;
    const int searchReduction = smaller >= 4000 ? 2 : 1;
    // The confidence is the best score against the worst: drawings of
    // circles and arcs alone score about 1.2 at any angle, ruled sheets far
    // above 3 (Leptonica's own deskewing refuses below 3).
    constexpr l_float32 kLeastConfidence = 3.0f;
    if (pixFindSkewSweepAndSearch(pix.get(), &angle, &confidence, sweepReduction, searchReduction, 7.0f, 1.0f,
                                  0.01f) != 0 ||
        confidence < kLeastConfidence)
        return std::nullopt;
    // Leptonica's angle, measured on rows that grow downward, is the
    // counter-clockwise turn of the lines as the sheet shows them.
    return static_cast<double>(angle);
}
