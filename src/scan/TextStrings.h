#pragma once

// The strings of text told apart from a drawing.
//   TTextString  - a string's text, box, direction and its strokes' records.

#include <QString>

#include <cstdint>
#include <vector>

// A string of text found on the sheet (a label, a dimension, a line of a title
// block): its box in pixel columns and rows of the picture (row 0 on top; Right
// and Bottom one past the last), the way it runs, and what was read from it.
struct TTextString
{
    int Left = 0;
    int Top = 0;
    int Right = 0;
    int Bottom = 0;
    // Runs along the columns, read from the bottom up (text turned 90 degrees
    // counter-clockwise); otherwise along the rows, left to right.
    bool Vertical = false;
    // Characters in the string (glyphs: a character made of several pieces counts once).
    int Glyphs = 0;
    // What was read; empty when the string was not read or the reading was not trusted.
    QString Text;
    // The reader's mean confidence, 0 .. 100.
    float Confidence = 0;
    // Its strokes: records FirstSegment .. EndSegment - 1 of the segment list.
    std::int32_t FirstSegment = 0;
    std::int32_t EndSegment = 0;
    // The line its letters stand on: the row below the feet of most of them
    // (along the columns: the column right of them); -1 when not known, then
    // the box's foot.
    int Baseline = -1;

    int Width() const { return Right - Left; }
    int Height() const { return Bottom - Top; }
    // The height of its letters: across the way it runs.
    int TextHeight() const { return Vertical ? Width() : Height(); }
    // The baseline, and the height of the letters above it (from the baseline
    // to the top of the highest: no descenders).
    int BaselineOrFoot() const { return Baseline >= 0 ? Baseline : Vertical ? Right : Bottom; }
    int HeightAboveBaseline() const { return Vertical ? BaselineOrFoot() - Left : BaselineOrFoot() - Top; }
};

using TTextStrings = std::vector<TTextString>;
