#pragma once

#include "support/RecordingUserInterface.h"
#include "base/Settings.h"
#include "export/ExportContext.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

// A segment list, settings and a recording user interface for one writer run,
// with a temporary folder to write into (also the "program folder" where
// dxf.hed is looked for).
class TExportFixture : public ::testing::Test
{
protected:
    TExportFixture()
    {
        Settings.DxfFileUse = false;
        EXPECT_TRUE(Dir.isValid());
    }

    // A context over the list made anew from the fields below.
    TExportContext Context()
    {
        EXPECT_TRUE(Result.ResetSegments());
        EXPECT_TRUE(Result.AppendRecords(Segments.data(), static_cast<std::int32_t>(Segments.size())));
        Result.MaxX = MaxX;
        Result.MaxY = MaxY;
        Result.MinX = Result.MinY = 0;
        Result.TextStart = TextStart;
        Result.TextStrings = TextStrings;
        Result.ImageHeight = ImageHeight;
        return TExportContext(Result, Magnification, Settings, UI.ProgressBar(), Dir.path());
    }

    QString Path(const QString &name) const { return Dir.filePath(name); }
    bool Exists(const QString &name) const { return QFile::exists(Path(name)); }
    QByteArray Read(const QString &name) const
    {
        QFile file(Path(name));
        EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << name.toStdString();
        return file.readAll();
    }
    void Write(const QString &name, const QByteArray &bytes) const
    {
        QFile file(Path(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        ASSERT_EQ(file.write(bytes), bytes.size());
    }

    // A name in the folder whose file is /dev/full: it opens, and every write
    // fails with a full disk. False where there is no such device.
    bool LinkToFullDevice(const QString &name) const
    {
        return QFile::exists(QStringLiteral("/dev/full"))
            && QFile::link(QStringLiteral("/dev/full"), Path(name));
    }

    TSettings Settings;
    TRecordingUserInterface UI;
    std::vector<TSegment> Segments;
    float MaxX = 0;
    float MaxY = 0;
    float Magnification = 1;
    // Text told apart: strokes from TextStart on (-1: none).
    std::int32_t TextStart = -1;
    TTextStrings TextStrings;
    float ImageHeight = 0;
    TSegmentList Result;
    QTemporaryDir Dir;
};

// Lines joined, each followed by `end`.
inline QByteArray Lines(std::initializer_list<QByteArray> lines, const char *end = "\r\n")
{
    QByteArray out;
    for (const QByteArray &line : lines)
        out += line + end;
    return out;
}

inline QByteArray Bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}
