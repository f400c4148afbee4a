#pragma once

// The largest picture a conversion takes.
//   PictureLimits::Check - throws EPictureTooLarge for a side above
//                  kMostPictureSide or more pixels than MostPixels().
//   PictureLimits::MostPixels / SetMostPixels / DefaultMostPixels - the limit.

#include "base/Errors.h"

#include <cstdint>

// How large a picture the program takes: its 1-bit mask within a bound, so
// that a header's promise of a huge picture is refused at once instead of
// taking the machine's memory. The default bound is half the machine's memory
// as a mask (8 pixels a byte); each side at most kMostPictureSide pixels, so
// that all arithmetic on coordinates holds in 32 bits.
constexpr std::int64_t kMostPictureSide = std::int64_t(1) << 28;

class EPictureTooLarge : public ETrazbitError { using ETrazbitError::ETrazbitError; };

namespace PictureLimits {

// Pixels a picture may have at most (width x height).
std::int64_t MostPixels();
// 0 or less: the default again.
void SetMostPixels(std::int64_t pixels);
// The default: half the machine's memory, as a 1-bit mask.
std::int64_t DefaultMostPixels();
// Raises EPictureTooLarge naming the size when the picture is too large.
void Check(std::int64_t width, std::int64_t height);

} // namespace PictureLimits
