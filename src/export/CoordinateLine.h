#pragma once

// One line of the coordinate text.
//   TCoordinateLine - a segment's line made into a caller's buffer; never fails.

#include "export/Cp932.h"
#include "export/ExportContext.h"
#include "export/FormatCoordinate.h"

#include <QByteArray>

#include <cstring>
#include <vector>

// The line of the coordinate text file and of the clipboard's coordinate form:
// Divide1, X1, Divide2, Y1, Divide3, X2, Divide4, Y2, Divide5 and a line end,
// the numbers by FormatCoordinate with TxtValueMode and TxtValueFigure of the
// drawing point rounded to a 32-bit float. Built into one reused buffer.
class TCoordinateLine
{
public:
    TCoordinateLine(const TExportContext &context, const char *lineEnd)
        : Transform(context.Transform()), Mode(context.Settings.TxtValueMode),
          Digits(context.Settings.TxtValueFigure), LineEnd(lineEnd)
    {
        const TSettings &s = context.Settings;
        for (const QString *divide : {&s.Divide1, &s.Divide2, &s.Divide3, &s.Divide4, &s.Divide5})
            Divides.push_back(ToCp932(*divide));
        std::size_t room = LineEnd.size() + 4 * kCoordinateTextCapacity;
        for (const QByteArray &d : Divides)
            room += static_cast<std::size_t>(d.size());
        Text.resize(room);
    }

    // The line of one segment; valid until the next call.
    std::size_t Build(const TSegment &s)
    {
        char *p = Text.data();
        p = Put(p, Divides[0]);
        p += FormatCoordinateTo(p, Transform.RoundedX(s.X1), Mode, Digits);
        p = Put(p, Divides[1]);
        p += FormatCoordinateTo(p, Transform.RoundedY(s.Y1), Mode, Digits);
        p = Put(p, Divides[2]);
        p += FormatCoordinateTo(p, Transform.RoundedX(s.X2), Mode, Digits);
        p = Put(p, Divides[3]);
        p += FormatCoordinateTo(p, Transform.RoundedY(s.Y2), Mode, Digits);
        p = Put(p, Divides[4]);
        p = Put(p, LineEnd);
        return static_cast<std::size_t>(p - Text.data());
    }
    const char *Data() const { return Text.data(); }
    // The longest line there can be.
    std::size_t Room() const { return Text.size(); }

private:
    static char *Put(char *p, const QByteArray &bytes)
    {
        std::memcpy(p, bytes.constData(), static_cast<std::size_t>(bytes.size()));
        return p + bytes.size();
    }

    TCoordinateTransform Transform;
    int Mode;
    int Digits;
    QByteArray LineEnd;
    std::vector<QByteArray> Divides;
    std::vector<char> Text;
};
