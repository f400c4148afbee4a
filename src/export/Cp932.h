#pragma once

// Text to code page 932.
//   ToCp932  - the bytes ("?" for what the code page lacks).
//   FitsCp932 - whether the code page holds every character.

#include "base/Cp932Text.h"

#include <QByteArray>
#include <QString>

// Text as every file and clipboard text of the program carries it: code page 932
// (Shift-JIS with the Windows extensions). A character the code page lacks becomes
// "?", as the platform's own conversion does; the codec's substitute bytes never
// reach the output.
QByteArray ToCp932(const QString &text);
// Whether every character of the text has a code in code page 932 (so that
// ToCp932 puts no "?" for any).
bool FitsCp932(const QString &text);
