#include "image/DecoderMessages.h"

#include <QtGlobal>

#include <cstdio>
#include <cstring>

namespace {

thread_local TDecoderMessages *tCollector = nullptr;
QtMessageHandler gPrevious = nullptr;

// libjpeg's warnings about the data itself (its other warnings, an unknown
// JFIF revision for one, do not spoil the picture).
bool IsDamage(const QMessageLogContext &context, const QString &message)
{
    if (!context.category || std::strcmp(context.category, "qt.gui.imageio.jpeg") != 0)
        return false;
    for (const char *start : {"Corrupt JPEG data", "Premature end of JPEG file", "Invalid SOS",
                              "Inconsistent progression"})
        if (message.startsWith(QLatin1String(start)))
            return true;
    return false;
}

} // namespace

struct TDecoderMessageHandler
{
    static void Handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (tCollector && type == QtWarningMsg && IsDamage(context, message)) {
            tCollector->FDamage << message;
            return;
        }
        if (gPrevious) {
            gPrevious(type, context, message);
        } else {
            const QByteArray text = qFormatLogMessage(type, context, message).toLocal8Bit();
            std::fprintf(stderr, "%s\n", text.constData());
        }
    }
};

TDecoderMessages::TDecoderMessages() : Outer(tCollector)
{
    // Installed once, for the whole run: installing and restoring around each
    // read would race with reads on other threads.
    static const bool installed = [] {
        gPrevious = qInstallMessageHandler(TDecoderMessageHandler::Handle);
        return true;
    }();
    (void)installed;
    tCollector = this;
}

TDecoderMessages::~TDecoderMessages()
{
    tCollector = Outer;
}
