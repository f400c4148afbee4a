#include "app/ResultLabels.h"
#include "base/Settings.h"
#include "scan/ScanState.h"

#include <QLocale>

#include <gtest/gtest.h>

namespace {

TEST(ResultLabels, AConversionShowsTheFileTheCountTheExtentsAndTheMode)
{
    TScanState state;
    state.SegmentCount = 2;
    state.MaxX = 40;
    state.MaxY = 30;
    TSettings settings;
    settings.Xrate = 1.5f;
    settings.Yrate = 0.5f;
    struct Case
    {
        int Mode;
        std::optional<float> Magnification;
        std::optional<QString> X, Y, ModeLabel;
    };
    const Case cases[] = {
        {1, 2.0f, "X=120.00000", "Y=30.00000", "ライン"},
        {2, 1.0f, "X=60.00000", "Y=15.00000", "ボックス"},
        // Line 2 mode and unknown modes leave the mode label as it is; a
        // magnification box without a number leaves the extents.
        {3, 1.0f, "X=60.00000", "Y=15.00000", std::nullopt},
        {0, std::nullopt, std::nullopt, std::nullopt, std::nullopt},
    };
    for (const Case &c : cases) {
        settings.PixelScanMode = c.Mode;
        const TScanLabels labels =
            ScanLabelTexts(ScanDone, state, settings, "/drawings/plan.BMP", c.Magnification);
        EXPECT_EQ(labels.FileLabel, QStringLiteral("plan.BMP"));
        EXPECT_EQ(labels.CountLabel, QStringLiteral("2本"));
        EXPECT_EQ(labels.XLabel, c.X) << c.Mode;
        EXPECT_EQ(labels.YLabel, c.Y) << c.Mode;
        EXPECT_EQ(labels.ModeLabel, c.ModeLabel) << c.Mode;
    }
}

TEST(ResultLabels, AFailedOrStoppedConversionResetsThem)
{
    TScanState state;
    state.SegmentCount = 5;
    TSettings settings;
    for (TScanStatus status : {ScanBufferFailed, ScanUnreadable, ScanStopped}) {
        const TScanLabels labels = ScanLabelTexts(status, state, settings, "plan.bmp", 1.0f);
        EXPECT_EQ(labels.FileLabel, QStringLiteral("*"));
        EXPECT_EQ(labels.CountLabel, QStringLiteral("0本"));
        EXPECT_EQ(labels.XLabel, QStringLiteral("X=0"));
        EXPECT_EQ(labels.YLabel, QStringLiteral("Y=0"));
        EXPECT_FALSE(labels.ModeLabel.has_value());
    }
}

TEST(ResultLabels, ExtentsAreThirtyTwoBitProductsAndCountsUseTheLocalesSeparators)
{
    TScanState state;
    state.MaxX = 13200;
    state.MaxY = 18700;
    TSettings settings;
    settings.Yrate = 2.0f;
    // 13200 x 0.1 in double precision would show 1320.00002.
    const TExtentLabels extents = ExtentLabelTexts(state, settings, 0.1f);
    EXPECT_EQ(extents.XLabel, QStringLiteral("X=1320.00000"));
    EXPECT_EQ(extents.YLabel, QStringLiteral("Y=3740.00000"));

    state.SegmentCount = 1000000;
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(ScanLabelTexts(ScanDone, state, settings, "a.bmp", 1.0f).CountLabel,
              QStringLiteral("1,000,000本"));
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(ScanLabelTexts(ScanDone, state, settings, "a.bmp", 1.0f).CountLabel,
              QStringLiteral("1.000.000本"));
    QLocale::setDefault(previous);
}

} // namespace
