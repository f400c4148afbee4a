#pragma once

#include "support/RecordingUserInterface.h"
#include "ScanPictures.h"

#include "base/Settings.h"
#include "image/PictureFormats.h"
#include "scan/BlackMask.h"
#include "scan/BoxMode.h"
#include "scan/Line2Mode.h"
#include "scan/LineMode.h"
#include "commands/ScanDriver.h"
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

    // The tracers on the black pixels of an image already made, from an empty
    // segment list, with the driver's threads, through the recording bar.
    int TraceLines(const TTzDIB &image)
    {
        State.ResetSegments();
        return ::TraceLines(TBlackMask::FromImage(image), State, UI.ProgressBar(), Options());
    }
    int TraceBoxes(const TTzDIB &image)
    {
        State.ResetSegments();
        return ::TraceBoxes(TBlackMask::FromImage(image), State, UI.ProgressBar(), Options());
    }
    // Line 2: the run ends of the picture, traced as in line mode.
    int TraceLines2(const TTzDIB &image)
    {
        State.ResetSegments();
        TBlackMask mask = TBlackMask::FromImage(image);
        RunEndsInPlace(mask, UI.ProgressBar(), Driver.Threads());
        return ::TraceLines(mask, State, UI.ProgressBar(), Options());
    }
    TTraceOptions Options() const { return TTraceOptions{Driver.Threads(), ChunkLines}; }

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
    // Lines a thread traces at a time in the tracers above (0: their own choice).
    int ChunkLines = 0;
};
