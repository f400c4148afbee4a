#pragma once

// Pixel point to drawing point: x x magnification x Xrate, y x magnification x
// Yrate, with no origin shift and no axis flip. The product of two 32-bit floats
// is exact in extended precision, so the scale is taken once and each point
// costs one rounding.
class TCoordinateTransform
{
public:
    TCoordinateTransform(float magnification, float xrate, float yrate)
        : ScaleX(static_cast<long double>(magnification) * xrate),
          ScaleY(static_cast<long double>(magnification) * yrate)
    {
    }

    // Full precision: the DXF header extents, the JWC width and records, the
    // JW_CAD clipboard text.
    long double X(float x) const { return x * ScaleX; }
    long double Y(float y) const { return y * ScaleY; }
    // Rounded once to a 32-bit float: every value that goes through FormatCoordinate.
    float RoundedX(float x) const { return static_cast<float>(X(x)); }
    float RoundedY(float y) const { return static_cast<float>(Y(y)); }

private:
    long double ScaleX;
    long double ScaleY;
};
