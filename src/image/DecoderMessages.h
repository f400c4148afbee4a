#pragma once

// What the platform's picture decoders complain of.
//   TDecoderMessages - while alive, keeps the decoders' warnings of damage on
//                      this thread (Damage()) instead of printing them.

#include <QStringList>

// What the platform's picture decoders say about damaged data while one
// picture is read on the calling thread. Qt's JPEG decoder reports a damaged
// file (a truncated one among them) only as a warning and still returns a
// picture, with the missing part filled in; while a TDecoderMessages lives,
// such warnings of its thread are kept here, not printed, so that the reader
// can refuse the picture and name the reason. Every other message passes on.
class TDecoderMessages
{
public:
    TDecoderMessages();
    ~TDecoderMessages();
    TDecoderMessages(const TDecoderMessages &) = delete;
    TDecoderMessages &operator=(const TDecoderMessages &) = delete;

    // The decoders' words about damaged data, in the order said.
    const QStringList &Damage() const { return FDamage; }

private:
    friend struct TDecoderMessageHandler;
    QStringList FDamage;
    TDecoderMessages *Outer;
};
