#include "base/ScaleMagnification.h"

#include <cmath>

std::optional<float> MagnificationForScale(float scale, float dpi)
{
    if (dpi == 0.0f)
        return std::nullopt;
    const long double quotient = static_cast<long double>(scale) / dpi;
    const float magnification = static_cast<float>(quotient * 25.4L);
    if (!std::isfinite(magnification))
        return std::nullopt;
    return magnification;
}
