#pragma once

#include "support/RecordingUserInterface.h"
#include "ScanPictures.h"

#include "app/core/Settings.h"
#include "image/PictureFormats.h"
#include "scan/ScanDriver.h"
#include "scan/ScanState.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

// A scan state, settings, a recording user interface and a driver over the
// built-in picture formats, with a folder for the test's picture files.
class ScanFixture : public ::testing::Test
{
protected:
    ScanFixture() : Driver(State, Settings, UI, Formats)
    {
        Formats.RegisterBuiltIns();
        State.ResetSegments();
    }

    // Line mode on an image already made, from an empty segment list.
    int TraceLines(TTzDIB image)
    {
        State.ResetSegments();
        return Driver.ScanLine(image);
    }
    int TraceBoxes(TTzDIB image)
    {
        State.ResetSegments();
        return Driver.ScanBox(image);
    }
    int TraceLines2(TTzDIB image)
    {
        State.ResetSegments();
        return Driver.ScanLine2(image, QStringLiteral("pic.bmp"));
    }

    // Saves the picture in the test folder as a BMP file and returns its path.
    QString Save(const TTzDIB &image, const QString &name = QStringLiteral("plan.bmp"))
    {
        const QString path = Dir.filePath(name);
        EXPECT_TRUE(SavePicture(image, path));
        return path;
    }

    std::vector<TSeg> Segs() const { return SegmentsOf(State); }

    TRecordingUserInterface UI;
    TSettings Settings;
    TScanState State;
    TPictureFormats Formats;
    TScanDriver Driver;
    QTemporaryDir Dir;
};
