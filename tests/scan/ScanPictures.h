#pragma once

// Pictures and segment lists for the tracer tests.

#include "image/TzDIB.h"
#include "scan/ScanState.h"

#include <QBuffer>
#include <QFile>
#include <QString>

#include <ostream>
#include <tuple>
#include <vector>

// A segment as stored: X1, Y1, X2, Y2 (Y already flipped), whole numbers.
struct TSeg
{
    int X1, Y1, X2, Y2;
    bool operator==(const TSeg &o) const
    {
        return std::tie(X1, Y1, X2, Y2) == std::tie(o.X1, o.Y1, o.X2, o.Y2);
    }
};

inline std::ostream &operator<<(std::ostream &out, const TSeg &s)
{
    return out << '(' << s.X1 << ',' << s.Y1 << ")-(" << s.X2 << ',' << s.Y2 << ')';
}

inline std::vector<TSeg> SegmentsOf(const TSegmentList &state)
{
    std::vector<TSeg> out;
    for (int i = 0; i < state.SegmentCount; ++i) {
        const TSegment &s = state.Segments()[i];
        out.push_back(TSeg{int(s.X1), int(s.Y1), int(s.X2), int(s.Y2)});
    }
    return out;
}

// A 1-bit picture, palette entry 0 white and entry 1 black, all white.
inline TTzDIB WhitePicture(int width, int height)
{
    TTzDIB dib;
    dib.SetBitCount(1);
    dib.SetWidth(width);
    dib.SetHeight(height);
    dib.SetPaletteSize(2);
    dib.SetColors(0, 0xFFFFFF);
    dib.SetColors(1, 0);
    return dib;
}

inline void Black(TTzDIB &dib, int x, int y)
{
    dib.SetPixels(x, y, 1);
}

// Blackens the rectangle [x0, x1] x [y0, y1] (inclusive).
inline void BlackRect(TTzDIB &dib, int x0, int y0, int x1, int y1)
{
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            dib.SetPixels(x, y, 1);
}

// Writes the picture as a BMP file.
inline bool SavePicture(const TTzDIB &dib, const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    dib.SaveToStream(file);
    return true;
}
