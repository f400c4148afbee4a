#pragma once

// Where the clipboard command puts its text.
//   TClipboardTarget - Place: false when the text could not be placed.

#include <QByteArray>
#include <QString>

// Where the clipboard command puts its text. The window program uses the
// system clipboard; tests and the command line catch the text instead.
class TClipboardTarget
{
public:
    virtual ~TClipboardTarget();
    // The text as Unicode and as its exact code page 932 bytes; false when the
    // clipboard cannot take it.
    virtual bool Place(const QString &unicode, const QByteArray &cp932) = 0;
};
