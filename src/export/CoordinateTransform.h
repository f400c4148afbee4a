#pragma once

// Pixel units to drawing units.
//   TCoordinateTransform - X and Y times magnification and ratio, exact in long
//                          double; never fails (a result may be infinite).

#include <bit>
#include <cmath>
#include <cstdint>

// Pixel point to drawing point: x x magnification x Xrate, y x magnification x
// Yrate, with no origin shift and no axis flip. The product of two 32-bit floats
// is exact in extended precision, so the scale is taken once and each point
// costs one rounding.
class TCoordinateTransform
{
public:
    TCoordinateTransform(float magnification, float xrate, float yrate)
        : ScaleX(static_cast<long double>(magnification) * xrate),
          ScaleY(static_cast<long double>(magnification) * yrate),
          NarrowX(static_cast<double>(ScaleX)), NarrowY(static_cast<double>(ScaleY)),
          ExactX(ExactInDouble(ScaleX)), ExactY(ExactInDouble(ScaleY))
    {
    }

    // Full precision: the DXF header extents, the JWC width and records, the
    // JW_CAD clipboard text.
    long double X(float x) const { return x * ScaleX; }
    long double Y(float y) const { return y * ScaleY; }
    // Rounded once to a 32-bit float: every value that goes through FormatCoordinate.
    float RoundedX(float x) const { return ExactX ? static_cast<float>(x * NarrowX) : static_cast<float>(X(x)); }
    float RoundedY(float y) const { return ExactY ? static_cast<float>(y * NarrowY) : static_cast<float>(Y(y)); }

private:
    // A scale of at most 29 significant bits times a float (24 bits) is exact
    // in a double, so the double product rounds to the same float as the
    // extended one, at less cost.
    static bool ExactInDouble(long double scale)
    {
        const auto narrow = static_cast<double>(scale);
        if (narrow != scale || !std::isfinite(narrow))
            return false;
        if (narrow == 0)
            return true;
        int exponent = 0;
        const auto mantissa = static_cast<std::uint64_t>(std::ldexp(std::fabs(std::frexp(narrow, &exponent)), 53));
        return 53 - std::countr_zero(mantissa) <= 29;
    }

    long double ScaleX;
    long double ScaleY;
    double NarrowX;
    double NarrowY;
    bool ExactX;
    bool ExactY;
};
