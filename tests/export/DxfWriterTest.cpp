#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "base/Errors.h"
#include "export/DxfWriter.h"

namespace {

const QByteArray kSolid = Bytes({0x8E, 0xC0, 0x90, 0xFC});
const QByteArray kDotted = Bytes({0x93, 0x5F, 0x90, 0xFC});

QByteArray BuiltInHeader(const QByteArray &xmax, const QByteArray &ymax, const QByteArray &xmin,
                         const QByteArray &ymin)
{
    const QByteArray s = "     ";
    return Lines({"  0", "SECTION", "  2", "HEADER",
                  "  9", "$ACADVER", "  1", "AC1009",
                  "  9", "$DWGCODEPAGE", "  3", "DOS_932",
                  "  9", "$EXTMAX", " 10", s + xmax, " 20", s + ymax,
                  "  9", "$EXTMIN", " 10", s + xmin, " 20", s + ymin,
                  "  9", "$LIMMAX", " 10", s + xmax, " 20", s + ymax,
                  "  9", "$LIMMIN", " 10", s + xmin, " 20", s + ymin,
                  "  0", "ENDSEC",
                  "  0", "SECTION", "  2", "TABLES",
                  "  0", "TABLE", "  2", "LTYPE", " 70", "     2",
                  "  0", "LTYPE", "  2", "SCANLINE", " 70", "    64", "  3", kSolid,
                  " 72", "    65", " 73", "     0", " 40", "0.0",
                  "  0", "LTYPE", "  2", "SCANDOT", " 70", "    64", "  3", kDotted,
                  " 72", "    65", " 73", "     2", " 40", "6.0", " 49", "3", " 49", "-3",
                  "  0", "ENDTAB", "  0", "ENDSEC",
                  "  0", "SECTION", "  2", "BLOCKS", "  0", "ENDSEC",
                  "  0", "SECTION", "  2", "ENTITIES"});
}

const QByteArray kTrailer = Lines({"  0", "ENDSEC", "  0", "EOF"});

QByteArray Entity(const QByteArray &layer, const QByteArray &type, const QByteArray &colour,
                  const QByteArray &x1, const QByteArray &y1, const QByteArray &x2,
                  const QByteArray &y2)
{
    return Lines({"  0", "LINE", "  8", layer, "  6", type, " 62", "   " + colour, " 10",
                  "   " + x1, " 20", "   " + y1, " 11", "   " + x2, " 21", "   " + y2});
}

class DxfWriter : public TExportFixture
{
};

TEST_F(DxfWriter, ZeroSegmentsWithTheBuiltInHeaderGive98Lines)
{
    MaxX = 4000;
    MaxY = 3000;
    EXPECT_EQ(SaveData2(Context(), UI, Path("plan.dxf")), 0);
    const QByteArray file = Read("plan.dxf");
    EXPECT_EQ(file, BuiltInHeader("4000", "3000", "0", "0") + kTrailer);
    EXPECT_EQ(file.count("\r\n"), 98);
    EXPECT_EQ(file.count('\n'), 98);
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(DxfWriter, OneSegmentIsOneLineEntity)
{
    Segments = {{0, 0, 10, 5}};
    MaxX = 10;
    MaxY = 5;
    EXPECT_EQ(SaveData2(Context(), UI, Path("plan.dxf")), 0);
    EXPECT_EQ(Read("plan.dxf"), BuiltInHeader("10", "5", "0", "0")
                                    + Entity("Scan Data", "SCANLINE", "1", "0", "0", "10", "5")
                                    + kTrailer);
}

TEST_F(DxfWriter, LayerColourLineTypeAndNumberModeComeFromTheSettings)
{
    Segments = {{0, 0, 10, 5}, {12.9f, 1.5f, 3, 4}};
    MaxX = 12.9f;
    MaxY = 5;
    Settings.DxfSaveLayer = QStringLiteral("図面");
    Settings.DxfPenColor = 7;
    Settings.DxfLineType = 2;
    Settings.DxfValueMode = 1;
    EXPECT_EQ(SaveData2(Context(), UI, Path("plan.DXF")), 0);
    // Whole numbers in the entities, full fraction digits in the header extents.
    const QByteArray layer = Bytes({0x90, 0x7D, 0x96, 0xCA});
    EXPECT_EQ(Read("plan.dxf"), BuiltInHeader("12.8999996185303", "5", "0", "0")
                                    + Entity(layer, "SCANDOT", "7", "0", "0", "10", "5")
                                    + Entity(layer, "SCANDOT", "7", "12", "1", "3", "4")
                                    + kTrailer);

    Settings.DxfLineType = 0;
    Settings.DxfValueMode = 3;
    Settings.DxfValueFigure = 1;
    Segments = {{0, 0, 10, 5}};
    EXPECT_EQ(SaveData2(Context(), UI, Path("fixed.dxf")), 0);
    EXPECT_TRUE(Read("fixed.dxf").contains(Entity(layer, "SCANDOT", "7", "0.0", "0.0", "10.0", "5.0")));
}

TEST_F(DxfWriter, HeaderExtentsKeepFullPrecisionWhileEntitiesAreRoundedToFloats)
{
    Segments = {{1, 1, 10, 10}};
    MaxX = 10;
    MaxY = 10;
    Magnification = 0.1f;
    Settings.Xrate = 3;
    EXPECT_EQ(SaveData2(Context(), UI, Path("plan.dxf")), 0);
    EXPECT_EQ(Read("plan.dxf"),
              BuiltInHeader("3.00000004470348", "1.00000001490116", "0", "0")
                  + Entity("Scan Data", "SCANLINE", "1", "0.300000011920929", "0.100000001490116",
                           "3", "1")
                  + kTrailer);
}

TEST_F(DxfWriter, HeaderFileWithoutKeysGetsTheFixedLinesOverwritten)
{
    Settings.DxfFileUse = true;
    QList<QByteArray> lines;
    for (int i = 0; i < 28; ++i)
        lines << "L" + QByteArray::number(i);
    Write("dxf.hed", lines.join("\r\n"));  // no line end after the last line
    MaxX = 8;
    MaxY = 6;
    Magnification = 2;
    Segments = {{0, 0, 1, 1}};
    EXPECT_EQ(SaveData2(Context(), UI, Path("out.dxf")), 0);
    for (int i : {7, 19})
        lines[i] = "     16";
    for (int i : {9, 21})
        lines[i] = "     12";
    for (int i : {13, 15, 25, 27})
        lines[i] = "     0";
    QByteArray header;
    for (const QByteArray &line : lines)
        header += line + "\r\n";
    EXPECT_EQ(Read("out.dxf"),
              header + Entity("Scan Data", "SCANLINE", "1", "0", "0", "2", "2") + kTrailer);
}

TEST_F(DxfWriter, KeyLinesMustMatchWholeAndTheLastOccurrenceCounts)
{
    Settings.DxfFileUse = true;
    QList<QByteArray> lines;
    for (int i = 0; i < 60; ++i)
        lines << "L" + QByteArray::number(i);
    lines[1] = "$EXTMAX ";   // not a key: a space follows
    lines[2] = " $EXTMIN";   // not a key either
    lines[3] = "$limmax";    // case counts
    lines[30] = "$LIMMIN";
    lines[40] = "$LIMMIN";   // the last one counts
    // Line ends of every kind are read; a lone CR and a lone LF end a line too.
    QByteArray text;
    for (int i = 0; i < lines.size(); ++i)
        text += lines[i] + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\n" : "\r");
    Write("dxf.hed", text);
    MaxX = 100;
    MaxY = 50;
    EXPECT_EQ(SaveData2(Context(), UI, Path("out.dxf")), 0);
    for (int i : {7, 19})
        lines[i] = "     100";
    for (int i : {9, 21})
        lines[i] = "     50";
    for (int i : {13, 15, 42, 44})
        lines[i] = "     0";
    QByteArray header;
    for (const QByteArray &line : lines)
        header += line + "\r\n";
    EXPECT_EQ(Read("out.dxf"), header + kTrailer);
}

TEST_F(DxfWriter, AKeyNearTheEndOrAShortFileStopsBeforeTheOutputIsCreated)
{
    Settings.DxfFileUse = true;
    QList<QByteArray> lines;
    for (int i = 0; i < 27; ++i)
        lines << "L" + QByteArray::number(i);
    Write("dxf.hed", lines.join("\r\n") + "\r\n");
    EXPECT_THROW(SaveData2(Context(), UI, Path("short.dxf")), ERangeError);
    EXPECT_FALSE(Exists("short.dxf"));

    lines << "L27" << "L28" << "L29" << "$EXTMAX" << "a" << "b" << "c";
    Write("dxf.hed", lines.join("\r\n") + "\r\n");
    try {
        SaveData2(Context(), UI, Path("late.dxf"));
        FAIL() << "no error";
    } catch (const ERangeError &error) {
        EXPECT_TRUE(error.Message().startsWith(QStringLiteral("dxf.hedファイルの行数が足りません")))
            << error.what();
    }
    EXPECT_FALSE(Exists("late.dxf"));
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(DxfWriter, AMissingHeaderFileGivesResult4AndNoFile)
{
    Settings.DxfFileUse = true;
    EXPECT_EQ(SaveData2(Context(), UI, Path("plan.dxf")), 4);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("dxf.hedファイルが見つかりません。")});
    EXPECT_FALSE(Exists("plan.dxf"));

    QDir(Dir.path()).mkdir("dxf.hed");  // a folder of that name is no header file
    EXPECT_EQ(SaveData2(Context(), UI, Path("plan.dxf")), 4);
    EXPECT_FALSE(Exists("plan.dxf"));
}

TEST_F(DxfWriter, TheShippedHeaderFileGivesTheSameFileAsTheBuiltInHeader)
{
    const QString shipped = QStringLiteral(TRAZBIT_SOURCE_DIR "/data/dxf.hed");
    const QString beside = QStringLiteral(TRAZBIT_BINARY_DIR "/dxf.hed");
    QFile source(shipped);
    ASSERT_TRUE(source.open(QIODevice::ReadOnly)) << "data/dxf.hed is missing";
    const QByteArray header = source.readAll();
    QFile copy(beside);
    ASSERT_TRUE(copy.open(QIODevice::ReadOnly)) << "dxf.hed was not copied beside the programs";
    EXPECT_EQ(copy.readAll(), header);

    Write("dxf.hed", header);
    Segments = {{0, 0, 10, 5}, {3.5f, 7.25f, 120, 80}};
    MaxX = 120;
    MaxY = 80;
    Magnification = 0.3f;
    Settings.Yrate = 1.1f;
    Settings.DxfFileUse = false;
    EXPECT_EQ(SaveData2(Context(), UI, Path("built-in.dxf")), 0);
    Settings.DxfFileUse = true;
    EXPECT_EQ(SaveData2(Context(), UI, Path("from-file.dxf")), 0);
    EXPECT_EQ(Read("from-file.dxf"), Read("built-in.dxf"));
    EXPECT_GT(Read("built-in.dxf").size(), header.size());
}

TEST_F(DxfWriter, ProgressStepsOncePerHundredSegments)
{
    Segments.assign(250, TSegment{1, 2, 3, 4});
    EXPECT_EQ(SaveData2(Context(), UI, Path("p.dxf")), 0);
    EXPECT_EQ(UI.ProgressMaximum, 2);
    EXPECT_EQ(UI.ProgressPosition, 2);
    EXPECT_EQ(UI.Pumps, 2);
    EXPECT_EQ(Read("p.dxf").count("\r\nLINE\r\n"), 250);
}

TEST_F(DxfWriter, FailuresToCreateOrWriteShowTheWritersMessage)
{
    Segments = {{1, 2, 3, 4}};
    EXPECT_EQ(SaveData2(Context(), UI, Path("missing/plan.dxf")), 1);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存できませんでした。")});
    if (!LinkToFullDevice("full.dxf"))
        GTEST_SKIP() << "no /dev/full to fill";
    EXPECT_EQ(SaveData2(Context(), UI, Path("full.dxf")), 1);
    EXPECT_EQ(UI.Messages.size(), 2);
    EXPECT_EQ(UI.Messages.last(), QStringLiteral("保存できませんでした。"));
}

} // namespace

namespace {

// Text told apart: the drawing's lines, then each string as one TEXT entity
// fitted along its baseline when read (and the style declared), else as its strokes on "文字"; strokes of
// no string last. Under a header file every string stays strokes.
TEST_F(DxfWriter, TextStringsAreTextEntitiesOrStrokesOnTheTextLayer)
{
    Segments = {{0, 0, 10, 5}, {1, 90, 2, 91}, {3, 90, 4, 92}, {20, 80, 21, 81}, {30, 30, 31, 31}};
    MaxX = 100;
    MaxY = 100;
    TTextStrings &strings = TextStrings;
    strings.resize(3);
    // Rows from the top of a 100-row sheet.
    strings[0] = TTextString{1, 5, 40, 12, false, 2, QStringLiteral("尺度"), 90, 1, 3};
    strings[1] = TTextString{18, 18, 23, 22, false, 1, QStringLiteral("\U0001F600"), 95, 3, 4};
    strings[2] = TTextString{50, 20, 58, 60, true, 3, QStringLiteral("A-1"), 91, 4, 4};
    strings[0].Baseline = 10;   // a descender below it
    TextStart = 1;
    ImageHeight = 100;
    TExportContext context = Context();
    const QByteArray layer = Bytes({0x95, 0xB6, 0x8E, 0x9A});
    const QByteArray style = Lines({"  0", "TABLE", "  2", "STYLE", " 70", "     1",
                                    "  0", "STYLE", "  2", "MOJI", " 70", "     0", " 40", "0.0", " 41", "1.0",
                                    " 50", "0.0", " 71", "     0", " 42", "2.5", "  3", "kochigothic", "  4", "",
                                    "  0", "ENDTAB"});
    QByteArray header = BuiltInHeader("100", "100", "0", "0");
    header.insert(header.indexOf("  0\r\nENDSEC\r\n  0\r\nSECTION\r\n  2\r\nBLOCKS"), style);
    EXPECT_EQ(SaveData2(context, UI, Path("plan.dxf")), 0);
    EXPECT_EQ(Read("plan.dxf").toStdString(),
              (header + Entity("Scan Data", "SCANLINE", "1", "0", "0", "10", "5")
                  + Lines({"  0", "TEXT", "  8", layer, " 10", "   1", " 20", "   90", " 40", "   5", "  1",
                           Bytes({0x8E, 0xDA, 0x93, 0x78}), "  7", "MOJI", " 72", "     5", " 11", "   40",
                           " 21", "   90"})
                  + Entity(layer, "SCANLINE", "1", "20", "80", "21", "81")
                  + Lines({"  0", "TEXT", "  8", layer, " 10", "   58", " 20", "   40", " 40", "   8", "  1", "A-1",
                           " 50", "   90", "  7", "MOJI", " 72", "     5", " 11", "   58", " 21", "   80"})
                  + Entity(layer, "SCANLINE", "1", "30", "30", "31", "31") + kTrailer).toStdString());

    // A header file: the style joins the file's STYLE table; a file without a
    // TABLES section gets strokes only.
    Settings.DxfFileUse = true;
    const QByteArray standard = Lines({"  0", "TABLE", "  2", "STYLE", " 70", "     1", "  0", "STYLE", "  2",
                                       "STANDARD", " 70", "     0", "  3", "txt", "  0", "ENDTAB"});
    const QByteArray entry = style.mid(style.indexOf("  0\r\nSTYLE\r\n"));
    QByteArray filed = BuiltInHeader("100", "100", "0", "0");
    filed.insert(filed.indexOf("  0\r\nENDSEC\r\n  0\r\nSECTION\r\n  2\r\nBLOCKS"), standard);
    Write("dxf.hed", filed);
    QByteArray declared = filed;
    declared.insert(declared.indexOf("  0\r\nENDTAB\r\n  0\r\nENDSEC\r\n  0\r\nSECTION\r\n  2\r\nBLOCKS"),
                    entry.left(entry.indexOf("  0\r\nENDTAB")));
    TExportContext withFile = Context();
    EXPECT_EQ(SaveData2(withFile, UI, Path("filed.dxf")), 0);
    const QByteArray written = Read("filed.dxf");
    EXPECT_TRUE(written.startsWith(declared)) << written.left(declared.size() + 40).toStdString();
    EXPECT_EQ(written.count("TEXT\r\n"), 2);

    QByteArray bare = BuiltInHeader("100", "100", "0", "0");
    const qsizetype tables = bare.indexOf("  0\r\nSECTION\r\n  2\r\nTABLES");
    bare.remove(tables, bare.indexOf("  0\r\nSECTION\r\n  2\r\nBLOCKS") - tables);
    Write("dxf.hed", bare);
    EXPECT_EQ(SaveData2(withFile, UI, Path("bare.dxf")), 0);
    const QByteArray strokes = Read("bare.dxf");
    EXPECT_TRUE(strokes.startsWith(bare));
    EXPECT_FALSE(strokes.contains("TEXT\r\n"));
    EXPECT_FALSE(strokes.contains("MOJI"));
    EXPECT_EQ(strokes.count(QByteArray("  8\r\n") + layer + "\r\n"), 4);
}

} // namespace
