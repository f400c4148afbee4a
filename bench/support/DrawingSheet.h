#pragma once

// A made-up but realistic scanned drawing sheet for the benchmarks: a border
// and inner frame, a grid of thin lines every centimetre, long diagonals and
// lines of other slopes one to three pixels wide, circles, filled areas and
// blocks of text-like clutter. The same seed always draws the same sheet.
//
// Sizes are paper sizes at a resolution: lengths are drawn in proportion to
// the resolution and the number of features in proportion to the paper's area,
// so that every size has the same density of ink.

#include <QImage>
#include <QString>

#include <cstdint>

struct TSheetSize
{
    int Width;
    int Height;
    int Dpi;
    // The share of the features drawn (1: all); a light sheet has few.
    double Ink = 1.0;
};

// "A4", "A3", "A2", "A1", "A0" at 400 dpi, "A0-600" at 600 dpi; a name ending
// in "-light" (e.g. "A0-light") draws a fifth of the features on that size.
// An unknown name gives a width of 0.
TSheetSize SheetSizeNamed(const QString &name);

// The sheet as a 1-bit picture (QImage::Format_Mono, index 1 black).
QImage DrawSheet(const TSheetSize &size);

// Writes the sheet as a BMP file (bottom-up, 40-byte header): 1 bit (white,
// black table), 8 bits (grey table, ink index 0, paper a few light greys) or
// 24 bits (ink exactly black on tinted paper with a faint texture), row by row
// without a second copy of the picture. False when the file cannot be written.
bool WriteSheetBmp(const QImage &sheet, int bits, const QString &path);
