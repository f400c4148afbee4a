#pragma once

// The program's code page.
//   kCp932CodecName - the name the platform's codecs know code page 932 by.
//   FromCp932       - its bytes back to text; never fails (U+FFFD for the
//                     bytes it cannot decode).

#include <QByteArray>
#include <QString>

// The name of code page 932 (Shift-JIS with the Windows extensions) for the
// platform's codecs: the one code page every text of the program is written in.
extern const char *const kCp932CodecName;

// Code page 932 bytes back to text (undecodable bytes become U+FFFD).
QString FromCp932(const QByteArray &bytes);
