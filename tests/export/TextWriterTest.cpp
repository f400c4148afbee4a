#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "base/Errors.h"
#include "export/TextWriter.h"

namespace {

class TextWriter : public TExportFixture
{
};

TEST_F(TextWriter, OneSegmentWithTheDefaults)
{
    Segments = {{0, 0, 10, 5}};
    EXPECT_EQ(SaveData1(Context(), UI, Path("plan.txt")), 0);
    EXPECT_EQ(Read("plan.txt"), "0 0 10 5\r\n");
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(TextWriter, ZeroSegmentsGiveAnEmptyFile)
{
    EXPECT_EQ(SaveData1(Context(), UI, Path("plan.txt")), 0);
    EXPECT_TRUE(Exists("plan.txt"));
    EXPECT_EQ(Read("plan.txt"), QByteArray());
}

TEST_F(TextWriter, TheFileTakesTheSettingsExtensionAndReplacesAnyFileOfThatName)
{
    Segments = {{100, 100, 200, 200}, {1.5f, 2.25f, 3, 4}};
    Write("plan.txt", "older and longer contents\r\n");
    EXPECT_EQ(SaveData1(Context(), UI, Path("plan.dat")), 0);
    EXPECT_FALSE(Exists("plan.dat"));
    EXPECT_EQ(Read("plan.txt"), "100 100 200 200\r\n1.5 2.25 3 4\r\n");

    Settings.FileExtention = "csv";
    EXPECT_EQ(SaveData1(Context(), UI, Path("plan")), 0);
    EXPECT_EQ(Read("plan.csv"), "100 100 200 200\r\n1.5 2.25 3 4\r\n");
}

TEST_F(TextWriter, SeparatorsAreWrittenAsStoredInCodePage932)
{
    Segments = {{1, 2, 3, 4}};
    Settings.Divide2 = Settings.Divide3 = Settings.Divide4 = QString();
    EXPECT_EQ(SaveData1(Context(), UI, Path("a.txt")), 0);
    EXPECT_EQ(Read("a.txt"), "1234\r\n");

    Settings.Divide1 = QStringLiteral("線(");
    Settings.Divide2 = QStringLiteral("、");
    Settings.Divide3 = QStringLiteral(")-(");
    Settings.Divide4 = QStringLiteral(",");
    Settings.Divide5 = QStringLiteral(")表");
    EXPECT_EQ(SaveData1(Context(), UI, Path("b.txt")), 0);
    EXPECT_EQ(Read("b.txt"), Bytes({0x90, 0xFC}) + "(1" + Bytes({0x81, 0x41}) + "2)-(3,4)"
                                  + Bytes({0x95, 0x5C}) + "\r\n");
}

TEST_F(TextWriter, NumberModesAndTheCoordinateTransform)
{
    Segments = {{10, 20, 30, 40}};
    Settings.TxtValueMode = 3;
    Settings.TxtValueFigure = 2;
    EXPECT_EQ(SaveData1(Context(), UI, Path("fixed.txt")), 0);
    EXPECT_EQ(Read("fixed.txt"), "10.00 20.00 30.00 40.00\r\n");

    Settings.TxtValueMode = 2;
    Magnification = 0.5f;
    Settings.Yrate = 2;
    EXPECT_EQ(SaveData1(Context(), UI, Path("scaled.txt")), 0);
    EXPECT_EQ(Read("scaled.txt"), "5 20 15 40\r\n");

    // Each product is rounded to a 32-bit float before it is printed.
    Segments = {{12.4f, 1, 1, 12.9f}};
    Magnification = 1;
    Settings.Yrate = 1;
    EXPECT_EQ(SaveData1(Context(), UI, Path("general.txt")), 0);
    EXPECT_EQ(Read("general.txt"), "12.3999996185303 1 1 12.8999996185303\r\n");
    Settings.TxtValueMode = 1;
    EXPECT_EQ(SaveData1(Context(), UI, Path("whole.txt")), 0);
    EXPECT_EQ(Read("whole.txt"), "12 1 1 12\r\n");
    Segments = {{1, 1, 1, 1}};
    Magnification = 0.1f;
    Settings.Xrate = 3;
    Settings.TxtValueMode = 2;
    EXPECT_EQ(SaveData1(Context(), UI, Path("rounded.txt")), 0);
    EXPECT_EQ(Read("rounded.txt"), "0.300000011920929 0.100000001490116 0.300000011920929 0.100000001490116\r\n");
}

TEST_F(TextWriter, ProgressStepsOncePerHundredSegments)
{
    Segments.assign(250, TSegment{1, 2, 3, 4});
    EXPECT_EQ(SaveData1(Context(), UI, Path("p.txt")), 0);
    EXPECT_EQ(UI.ProgressMaximum, 2);
    EXPECT_EQ(UI.ProgressPosition, 2);
    EXPECT_EQ(UI.Pumps, 2);
    EXPECT_EQ(Read("p.txt").count("\r\n"), 250);

    UI.ProgressMaximum = UI.ProgressPosition = -1;
    UI.Pumps = 0;
    Segments.assign(99, TSegment{1, 2, 3, 4});
    EXPECT_EQ(SaveData1(Context(), UI, Path("q.txt")), 0);
    EXPECT_EQ(UI.ProgressMaximum, 0);
    EXPECT_EQ(UI.ProgressPosition, -1);  // never moved
    EXPECT_EQ(UI.Pumps, 0);
}

TEST_F(TextWriter, AFileThatCannotBeCreatedRaisesAnErrorNamingIt)
{
    Segments = {{1, 2, 3, 4}};
    const QString chosen = Path("missing/plan.txt");
    try {
        SaveData1(Context(), UI, chosen);
        FAIL() << "no error";
    } catch (const EFileError &error) {
        EXPECT_TRUE(error.Message().contains(QDir::toNativeSeparators(chosen))) << error.what();
        EXPECT_TRUE(error.Message().contains(QStringLiteral("作成できません"))) << error.what();
    }
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(TextWriter, AWriteFailureIsReportedNeverSuccess)
{
    if (!LinkToFullDevice("full.txt"))
        GTEST_SKIP() << "no /dev/full to fill";
    Segments = {{1, 2, 3, 4}};
    EXPECT_EQ(SaveData1(Context(), UI, Path("full.dat")), 1);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存できませんでした。")});
}

} // namespace
