#pragma once

#include "cli/BatchConverter.h"
#include "cli/CommandLine.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QStringList>

#include <gtest/gtest.h>

#include <cstdio>

// A small drawing: a frame, a thick wall, a diagonal and a filled block.
inline void WriteDrawing(const QString &path, int width, int height, int variant)
{
    QImage image(width, height, QImage::Format_Mono);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    image.fill(0);
    QPainter painter(&image);
    painter.setPen(QPen(Qt::color1, 1));
    painter.drawRect(2, 2, width - 5, height - 5);
    painter.drawLine(5, 5, 5 + height / 2, 5 + height / 2);
    painter.fillRect(10 + variant, 20, 8, 6, Qt::color1);
    painter.setPen(QPen(Qt::color1, 3));
    painter.drawLine(10, height - 12, width - 12, height - 12 - variant);
    painter.end();
    ASSERT_TRUE(image.save(path, "BMP"));
}

inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing " + path.toUtf8() + ">");
}

// Every name in a folder, hidden ones too.
inline QStringList Names(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// What one in-process run of the command line printed.
struct TCliRun
{
    int Status = -1;
    QByteArray Out;
    QByteArray Err;
};

inline TCliRun RunCliCapturing(const QStringList &arguments)
{
    TCliRun run;
    const TCliParse parse = ParseCommandLine(QStringList{"trazbit-cli"} + arguments);
    if (!parse.Options) {
        run.Status = parse.ExitCode;
        run.Err = parse.Text.toUtf8();
        return run;
    }
    std::FILE *out = std::tmpfile();
    std::FILE *err = std::tmpfile();
    run.Status = RunCommandLine(*parse.Options, out, err);
    for (auto [stream, bytes] : {std::pair{out, &run.Out}, std::pair{err, &run.Err}}) {
        std::fflush(stream);
        std::rewind(stream);
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
            bytes->append(buffer, static_cast<qsizetype>(n));
        std::fclose(stream);
    }
    return run;
}

// The command line program, started with the test's own settings folder.
inline QString CliProgram()
{
    return QStringLiteral(TRAZBIT_BINARY_DIR "/trazbit-cli");
}
