#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "drawing/Drawing.h"
#include "export/Cp932.h"
#include "export/JwcWriter.h"

#include <QtEndian>

namespace {

constexpr int kHeaderSize = 4 * 200 + 909 + 88 + 32 + 544 + 16;  // 2389
constexpr int kNamesSize = 256 * 8 + 16 * 16;

QByteArray Block(QByteArray text)
{
    text.append(199 - text.size(), ' ');
    text.append('\n');
    return text;
}

QByteArray Hex(const char *hex)
{
    return QByteArray::fromHex(hex);
}

class JwcWriter : public TExportFixture
{
protected:
    quint16 Word(const QByteArray &file, int offset)
    {
        return qFromLittleEndian<quint16>(file.constData() + offset);
    }
    QByteArray Block2(const QByteArray &file) { return file.mid(200, 200); }
    // Block 2 up to its 0x00.
    QByteArray Block2Text(const QByteArray &file) { return Block2(file).left(Block2(file).indexOf('\0')); }
    QByteArray LayerRecord(const QByteArray &file, int n)
    {
        return file.mid(file.size() - kNamesSize + n * 8, 8);
    }
    QByteArray GroupRecord(const QByteArray &file, int n)
    {
        return file.mid(file.size() - 256 + n * 16, 16);
    }
};

TEST_F(JwcWriter, ZeroSegmentsGiveTheFixedBlocksAndNameTables)
{
    MaxX = 4000;
    EXPECT_EQ(SaveData3(Context(), UI, Path("plan.jwc")), 0);
    const QByteArray file = Read("plan.jwc");
    ASSERT_EQ(file.size(), 4693);

    QByteArray expected;
    expected += Block("jw_cad(c)data.......a...m...............Trazbit Version 4.20");
    expected += Block(QByteArray("0,0,0,0,0,3,2,1,1,5,0,1,1,1,5,5,5,10,0,0,0,0,1,2,3,910,910,0,0,0,518,0")
                      + '\0');
    expected += Block(QByteArray("0.5,0.0,3.0,15.0,1,1,0,0,0,1,0.0,0.0,0.0,0.0,0.0,0.0,0,0,0,"
                                 "1000.000,1000.000,100.000,200.000,300.000,500.000,0,-39,1")
                      + '\0');
    expected += Block(QByteArray("5D6F:0000,5D6F:0000,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,36,-23.45,0,0,-1,215,0")
                      + '\0');
    expected += QByteArray(909, '\0');
    expected += Hex("0000010001000200020003000300040004000500050014001400190"
                    "01e00280032003c00460050005a0064001400140019001e0028003200"
                    "3c00460050005a006400000000000000050005000500"
                    "0a000a000a000a000a00");
    expected += Hex("0500") + Hex("6400").repeated(15);
    expected += QByteArray(544, '\x01');
    expected += Hex("00102030405060708090a0b0c0d0e0f0");
    // The default layer name "TZB Data" fills its 8 bytes with no 0x00.
    expected += "TZB Data" + QByteArray(255 * 8, '\0');
    expected += "ScanData" + QByteArray(8 + 15 * 16, '\0');
    EXPECT_EQ(file, expected);
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(JwcWriter, SegmentRecordsAreDividedByTheUnitOfTheScaleNumber)
{
    Segments = {{0, 0, 10, 5}, {100, 200, 123.25f, 5}};
    MaxX = 4000;  // S 5, U = 5 x 841 / 518 = 8.11776065826416 as a float
    Settings.JwcLineType = 3;
    Settings.JwcPenColor = 6;
    EXPECT_EQ(SaveData3(Context(), UI, Path("plan.JWC")), 0);
    EXPECT_FALSE(Exists("plan.JWC"));
    const QByteArray file = Read("plan.jwc");
    ASSERT_EQ(file.size(), 4693 + 2 * 22);
    EXPECT_TRUE(Block2Text(file).startsWith("2,0,0,0,0,3,2,1,1,5,0,"));
    EXPECT_EQ(file.mid(kHeaderSize, 44),
              Hex("00000000" "00000000" "d0ad9d3f" "d0ad1d3f" "030600" "000000"
                  "44194541" "4419c541" "94ec7241" "d0ad1d3f" "030600" "000000"));
    EXPECT_EQ(JwcUnit(5), 8.11776065826416f);
}

TEST_F(JwcWriter, APatternedLineIsOneRecordWithJwCadsLineType)
{
    TDrawing drawing;
    drawing.Entities.push_back(TDrawingEntity::MakeLine(0, 0, 10, 5));
    TDrawingEntity centre = TDrawingEntity::MakeLine(0, 10, 100, 10);
    centre.LineType = drawing.AddLineType("CENTER", QStringLiteral("一点鎖線"), {30, -8.5, 0, -8.5});
    drawing.Entities.push_back(centre);
    drawing.SegmentTolerance = 1;
    std::vector<TSegment> listed;
    AppendSegments(drawing.Entities[0], 1, listed);
    AppendDashes(centre, {30, -8.5, 0, -8.5}, 1, listed);
    // dash, dot, dash, dot and a dash cut short
    ASSERT_EQ(listed.size(), 1u + 5u);
    struct TCase
    {
        const char *Name;
        bool Drawings;   // the segments are the drawing's
        int Records;
    };
    for (const TCase c : {TCase{"the drawing's segments", true, 2}, TCase{"other segments", false, 6}}) {
        SCOPED_TRACE(c.Name);
        Segments = listed;
        if (!c.Drawings)
            Segments[3].X2 += 1;
        MaxX = 4000;
        Settings.JwcLineType = 3;
        ImageHeight = 300;
        TExportContext context = Context();
        context.Drawing = &drawing;
        EXPECT_EQ(SaveData3(context, UI, Path("plan.jwc")), 0);
        const QByteArray file = Read("plan.jwc");
        ASSERT_EQ(file.size(), 4693 + c.Records * 22);
        EXPECT_TRUE(Block2Text(file).startsWith(QByteArray::number(c.Records) + ","));
        // The plain line keeps the settings' line type; the centre line is
        // one record from end to end with 一点鎖1.
        EXPECT_EQ(file.mid(kHeaderSize + 16, 1), Hex("03"));
        if (c.Drawings)
            EXPECT_EQ(file.mid(kHeaderSize + 22, 22),
                      Hex("00000000" "d0ad9d3f" "44194541" "d0ad9d3f" "050100" "000000"));
        else
            EXPECT_EQ(file.mid(kHeaderSize + 22 + 16, 1), Hex("03"));
    }
}

TEST_F(JwcWriter, TheScaleNumberRoundsTiesToEvenAndRisesToTens)
{
    const struct
    {
        float Width;
        const char *S;
    } cases[] = {{4000, "5"}, {9251, "20"}, {8410, "10"}, {8830.5f, "10"}, {0, "5"},
                 {841 * 7, "7"}, {841 * 3, "5"}, {841 * 11.5f, "20"}, {841 * 30, "30"}};
    for (const auto &c : cases) {
        MaxX = c.Width;
        EXPECT_EQ(SaveData3(Context(), UI, Path("s.jwc")), 0);
        const QByteArray file = Read("s.jwc");
        EXPECT_EQ(Block2Text(file).split(',').at(9), c.S) << c.Width;
        EXPECT_EQ(Word(file, 800 + 909 + 88), QByteArray(c.S).toUShort()) << c.Width;
    }
    // The width is the full-precision product of extent, magnification and ratio.
    MaxX = 4000;
    Magnification = 2;
    Settings.Xrate = 1.05f;
    EXPECT_EQ(SaveData3(Context(), UI, Path("s.jwc")), 0);
    EXPECT_EQ(Block2Text(Read("s.jwc")).split(',').at(9), "10");
    Segments = {{100, 100, 200, 200}};
    Magnification = 1;
    Settings.Xrate = 1;
    MaxX = 841 * 20;
    EXPECT_EQ(SaveData3(Context(), UI, Path("s.jwc")), 0);
    EXPECT_EQ(Read("s.jwc").mid(kHeaderSize, 16), Hex("44194540" "44194540" "4419c540" "4419c540"));

    EXPECT_EQ(JwcScaleNumber(-5000), 5);
    EXPECT_EQ(JwcScaleNumber(1e30L), 2147483640);
    EXPECT_EQ(JwcScaleNumber(841.0L * 65541), 65550);
}

TEST_F(JwcWriter, GroupAndLayerPlaceTheScaleAndTheNames)
{
    Segments = {{0, 0, 10, 5}};
    MaxX = 9251;
    Settings.SaveGroup = 3;
    Settings.JwcSaveLayer = 2;
    Settings.SaveLayerName = QStringLiteral("壁");
    Settings.SaveGroupName = QStringLiteral("平面図");
    EXPECT_EQ(SaveData3(Context(), UI, Path("g.jwc")), 0);
    const QByteArray file = Read("g.jwc");
    ASSERT_EQ(file.size(), 4693 + 22);
    EXPECT_EQ(Block2Text(file), "1,0,0,0,0,3,2,1,1,20,50,1,1,1,5,5,5,10,0,0,0,0,1,2,3,910,910,0,0,0,518,0");
    for (int g = 0; g < 16; ++g)
        EXPECT_EQ(Word(file, 800 + 909 + 88 + 2 * g), g == 3 ? 20 : 100) << g;
    EXPECT_EQ(static_cast<unsigned char>(file.at(kHeaderSize + 18)), 0x32);
    for (int n = 0; n < 256; ++n)
        EXPECT_EQ(LayerRecord(file, n), n == 50 ? Bytes({0x95, 0xC7}) + QByteArray(6, '\0')
                                                : QByteArray(8, '\0'))
            << n;
    for (int n = 0; n < 16; ++n)
        EXPECT_EQ(GroupRecord(file, n),
                  n == 3 ? Bytes({0x95, 0xBD, 0x96, 0xCA, 0x90, 0x7D}) + QByteArray(10, '\0')
                         : QByteArray(16, '\0'))
            << n;
}

TEST_F(JwcWriter, NamesLongerThanTheirRecordsAreCutNeverOverflowing)
{
    Settings.SaveLayerName = QStringLiteral("ABCDEFGHIJ");
    Settings.SaveGroupName = QStringLiteral("0123456789abcdefXYZ");
    EXPECT_EQ(SaveData3(Context(), UI, Path("a.jwc")), 0);
    QByteArray file = Read("a.jwc");
    ASSERT_EQ(file.size(), 4693);
    EXPECT_EQ(LayerRecord(file, 0), "ABCDEFGH");
    EXPECT_EQ(LayerRecord(file, 1), QByteArray(8, '\0'));
    EXPECT_EQ(GroupRecord(file, 0), "0123456789abcdef");
    EXPECT_EQ(GroupRecord(file, 1), QByteArray(16, '\0'));

    // A double-byte character that would not fit whole is left out.
    Settings.SaveLayerName = QStringLiteral("a図面レイヤ");
    Settings.SaveGroupName = QStringLiteral("グループ名の長い名前");
    EXPECT_EQ(SaveData3(Context(), UI, Path("b.jwc")), 0);
    file = Read("b.jwc");
    ASSERT_EQ(file.size(), 4693);
    EXPECT_EQ(LayerRecord(file, 0), "a" + Bytes({0x90, 0x7D, 0x96, 0xCA, 0x83, 0x8C}) + '\0');
    EXPECT_EQ(GroupRecord(file, 0).size(), 16);
    EXPECT_EQ(FromCp932(GroupRecord(file, 0)), QStringLiteral("グループ名の長い"));

    // Group and layer numbers outside their ranges write no name anywhere.
    Settings.SaveGroup = 20;
    Settings.JwcSaveLayer = 0;
    EXPECT_EQ(SaveData3(Context(), UI, Path("c.jwc")), 0);
    file = Read("c.jwc");
    ASSERT_EQ(file.size(), 4693);
    EXPECT_EQ(file.right(kNamesSize), QByteArray(kNamesSize, '\0'));
    for (int g = 0; g < 16; ++g)
        EXPECT_EQ(Word(file, 800 + 909 + 88 + 2 * g), 100) << g;
}

TEST_F(JwcWriter, StoredGroupsAtTheEndsOfTheIntegerRangeComputeWithoutOverflow)
{
    // N = G x 16 + L in 64 bits: block 2 names it, a record keeps its low byte.
    struct Case { int group, layer; const char *n; unsigned char low; };
    const Case cases[] = {{2147483647, 15, "34359738367", 0xFF},
                          {-2147483647 - 1, 0, "-34359738368", 0x00},
                          {15, 15, "255", 0xFF}};
    Segments = {{0, 0, 10, 5}};
    for (const Case &c : cases) {
        Settings.SaveGroup = c.group;
        Settings.JwcSaveLayer = c.layer;
        EXPECT_EQ(SaveData3(Context(), UI, Path("g.jwc")), 0);
        const QByteArray file = Read("g.jwc");
        ASSERT_EQ(file.size(), 4693 + 22);
        EXPECT_EQ(Block2Text(file), "1,0,0,0,0,3,2,1,1,5," + QByteArray(c.n)
                                        + ",1,1,1,5,5,5,10,0,0,0,0,1,2,3,910,910,0,0,0,518,0");
        EXPECT_EQ(static_cast<unsigned char>(file.at(kHeaderSize + 18)), c.low);
        EXPECT_EQ(LayerRecord(file, 255), c.group == 15 ? QByteArray("TZB Data") : QByteArray(8, '\0'));
    }
}

TEST_F(JwcWriter, AVeryLongStoredNameIsCutLikeAShortOne)
{
    Settings.SaveLayerName = QString(128 * 1024, QChar(0x56F3));  // 図, two bytes each
    Settings.SaveGroupName = QStringLiteral("G") + QString(64 * 1024, QChar(0xD83D));
    EXPECT_EQ(SaveData3(Context(), UI, Path("long.jwc")), 0);
    const QByteArray file = Read("long.jwc");
    ASSERT_EQ(file.size(), 4693);
    EXPECT_EQ(LayerRecord(file, 0), ToCp932(QString(4, QChar(0x56F3))));
    // Lone surrogates have no code: each is one "?".
    EXPECT_EQ(GroupRecord(file, 0), "G" + QByteArray(15, '?'));
}

TEST_F(JwcWriter, ProgressAndFailures)
{
    Segments.assign(250, TSegment{1, 2, 3, 4});
    EXPECT_EQ(SaveData3(Context(), UI, Path("p.jwc")), 0);
    EXPECT_EQ(UI.ProgressMaximum, 2);
    EXPECT_EQ(UI.ProgressPosition, 2);
    EXPECT_EQ(UI.Pumps, 2);
    EXPECT_EQ(Read("p.jwc").size(), 4693 + 250 * 22);

    EXPECT_EQ(SaveData3(Context(), UI, Path("missing/plan.jwc")), 1);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("保存ができませんでした。")});
    if (!LinkToFullDevice("full.jwc"))
        GTEST_SKIP() << "no /dev/full to fill";
    EXPECT_EQ(SaveData3(Context(), UI, Path("full.jwc")), 1);
    EXPECT_EQ(UI.Messages.size(), 2);
    EXPECT_EQ(UI.Messages.last(), QStringLiteral("保存ができませんでした。"));
}

} // namespace
