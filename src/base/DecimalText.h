#pragma once

// Numbers as text, always with the full stop.
//   ParseDecimal / ParseFloat / ParseInteger - the value, or nothing for text
//                  that is not such a number (or a float or int cannot hold).
//   FormatFixed / FormatFixed5 / FormatThousands - the text; never fail.

#include <QString>
#include <optional>

// Numbers as the program reads and writes them: always with the full stop as
// decimal separator, whatever the user's locale.

// A decimal number: optional sign, digits with an optional fraction, optional
// exponent; surrounding blanks are ignored. Nothing else is accepted.
std::optional<double> ParseDecimal(const QString &text);
// The same, rounded to a 32-bit float (fails when the value does not fit).
std::optional<float> ParseFloat(const QString &text);
// A decimal integer with optional sign that fits 32 bits; surrounding blanks ignored.
std::optional<int> ParseInteger(const QString &text);

// printf-style "%.*f": fixed notation with exactly `digits` decimals.
QString FormatFixed(double value, int digits);
// "%.5f", the form of every magnification and ratio shown in a field.
QString FormatFixed5(double value);

// A whole number with the locale's thousands separators and no decimals ("%.0n").
QString FormatThousands(qint64 value);
