#pragma once

#include "scan/BlackMask.h"
#include "scan/TextStrings.h"

#include <QString>
#include <QStringList>

#include <functional>

// How strings are read.
struct TTextReading
{
    // Tesseract languages joined by "+" ("jpn+eng").
    QString Languages;
    // Folder of the language data (*.traineddata); empty: where the system keeps it.
    QString DataFolder;
    // Letters are scaled to this height, pixels, before reading.
    int Height = 56;
    // Readings below this mean confidence (0 .. 100) are not trusted.
    int MinConfidence = 30;
    // Readings below this confidence are read again with the letters scaled
    // to SecondHeight (0: never), and the surer reading is kept.
    int SureConfidence = 80;
    int SecondHeight = 40;
    // Tesseract's word lists of the languages.
    bool Dictionaries = true;
    // Tesseract's page segmentation mode (7: one line of text).
    int PageMode = 7;
};

// The folder of the language data: `folder` when given, else the first of
// TESSDATA_PREFIX and the folders Debian installs the data in that exists.
QString TextDataFolder(const QString &folder);

// Reads each string's pixels from `text` with Tesseract, scaled to the
// reading height (a vertical string turned upright first), and sets its Text
// and Confidence; a string read below the confidence keeps an empty Text.
// Returns the problem in Japanese (language data missing, Tesseract failing to
// start), naming the language and the Debian package; then no string is read.
// Many strings are read in shares on up to `threads` threads (the same
// readings for every count).
// `stop`, asked before each string, ends the reading when true (the strings
// not read keep an empty Text).
QString ReadStrings(const TBlackMask &text, TTextStrings &strings, const TTextReading &reading, int threads = 1,
                    const std::function<bool()> &stop = {});

// The string's pixels as the reader sees them: white background, black ink,
// padded, turned upright and scaled to `height` pixels; 8-bit grey.
class QImage;
QImage StringPicture(const TBlackMask &text, const TTextString &string, int height);
