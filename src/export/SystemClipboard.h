#pragma once

// The system's clipboard.
//   TSystemClipboard - Place puts the text on the platform's clipboard as
//                      Unicode and as Shift-JIS bytes.

#include "export/ClipboardTarget.h"

// The platform's clipboard, through the application's QClipboard: the text as
// plain Unicode text (from which a Japanese Windows derives its code page 932
// text) and the bytes themselves under "text/plain;charset=Shift_JIS".
class TSystemClipboard : public TClipboardTarget
{
public:
    bool Place(const QString &unicode, const QByteArray &cp932) override;

    static const char *const kShiftJisMimeType;
};
