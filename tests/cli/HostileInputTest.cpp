#include "CliFixture.h"

#include "base/Messages.h"
#include "image/PictureLimits.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <functional>
#include <random>

#include <unistd.h>

namespace {

class HostileInput : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Picture = Dir.filePath("plan.bmp");
        WriteDrawing(Picture, 64, 48, 0);
        Expected = Dir.filePath("expected.txt");
        ASSERT_EQ(RunCliCapturing({"-q", "-j", "1", "-o", Expected, Picture}).Status, 0);
        qputenv("XDG_CONFIG_HOME", Dir.filePath("config").toUtf8());
    }

    // The command line program run by the shell (for arguments that are bytes).
    static TCliRun Shell(const QString &script)
    {
        QProcess shell;
        shell.start(QStringLiteral("sh"), {"-c", script, CliProgram()});
        EXPECT_TRUE(shell.waitForFinished(120000));
        return TCliRun{shell.exitCode(), shell.readAllStandardOutput(), shell.readAllStandardError()};
    }

    QTemporaryDir Dir;
    QString Picture;
    QString Expected;
};

// Threads the system does not make are fewer threads, never an abort or a
// failed input: a count far beyond any machine, and a process limit of 4.
TEST_F(HostileInput, ThreadsThatCannotBeMadeMeanFewerThreads)
{
    const QString picture = Picture;
    const TCliRun one = Shell(QStringLiteral("exec \"$0\" -q -j 40000 -o - '%1'").arg(picture));
    EXPECT_EQ(one.Status, 0) << one.Err.toStdString();
    EXPECT_EQ(one.Out, ReadAll(Expected));
    // A process limit binds an ordinary user only.
    ASSERT_EQ(::chmod(QFile::encodeName(Dir.path()).constData(), 0755), 0);
    const QString user = ::geteuid() == 0 ? QStringLiteral("setpriv --reuid=65534 --regid=65534 --clear-groups ") : QString();
    const TCliRun limited = Shell(QStringLiteral("exec prlimit --nproc=4 %1\"$0\" -q -j 64 -o - '%2'").arg(user, picture));
    EXPECT_EQ(limited.Status, 0) << limited.Err.toStdString();
    EXPECT_EQ(limited.Out, ReadAll(Expected));
}

TEST_F(HostileInput, AListThatNeverEndsOrHasALineLongerThanAPathIsAnError)
{
    const QString list = Dir.filePath("list.txt");
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Picture.toUtf8() + "\n" + QByteArray(kMostListLineBytes + 1, 'a') + "\n");
    file.close();
    struct TCase
    {
        QString List;
        QByteArray Err;
    };
    const TCase cases[] = {
        {"/dev/zero", "trazbit-cli: line 1 of the list /dev/zero is longer than any path (4096 bytes at most)\n"},
        {list, "trazbit-cli: line 2 of the list " + list.toUtf8() + " is longer than any path (4096 bytes at most)\n"},
    };
    for (const TCase &c : cases) {
        const TCliRun run = RunCliCapturing({"-q", "-o", Dir.filePath("out.txt"), "--files-from", c.List});
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Err, c.Err);
    }
    const TCliRun endless = Shell(QStringLiteral("yes '%1' | exec \"$0\" -q -o '%2' --files-from -").arg(Picture, Dir.path()));
    EXPECT_EQ(endless.Status, 2);
    EXPECT_EQ(endless.Err, "trazbit-cli: the list - is longer than " + QByteArray::number(kMostListBytes) + " bytes: split it\n");
}

// Names written in code page 932 (archives copied from Windows): found as
// arguments and in lists, shown and their outputs named as the text they are.
TEST_F(HostileInput, FileNamesInCodePage932AreFound)
{
    const QByteArray name = Dir.path().toUtf8() + "/\x90\x7d\x96\xca_001.bmp";
    {
        QFile source(Picture);
        ASSERT_TRUE(source.open(QIODevice::ReadOnly));
        const QByteArray bytes = source.readAll();
        std::FILE *out = std::fopen(name.constData(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), out), std::size_t(bytes.size()));
        std::fclose(out);
    }
    const TCliRun argument = Shell(QStringLiteral("exec \"$0\" -q -o - \"$(printf '%1/\\220}\\226\\312_001.bmp')\"").arg(Dir.path()));
    EXPECT_EQ(argument.Status, 0) << argument.Err.toStdString();
    EXPECT_EQ(argument.Out, ReadAll(Expected));

    const QString list = Dir.filePath("list.txt");
    QFile file(list);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(name + "\r\n");
    file.close();
    const QString out = Dir.filePath("out");
    ASSERT_TRUE(QDir(Dir.path()).mkdir("out"));
    const TCliRun listed = RunCliCapturing({"-o", out, "--files-from", list});
    EXPECT_EQ(listed.Status, 0) << listed.Err.toStdString();
    EXPECT_TRUE(listed.Out.startsWith(Dir.filePath("図面_001.bmp").toUtf8() + ": ")) << listed.Out.toStdString();
    EXPECT_TRUE(listed.Out.endsWith("本 -> " + QDir(out).filePath("図面_001.txt").toUtf8() + "\n")) << listed.Out.toStdString();
    EXPECT_EQ(ReadAll(QDir(out).filePath("図面_001.txt")), ReadAll(Expected));
}

// Whatever the settings file holds, the DXF is well formed: a layer name that
// would end the file gives the default layer, with a warning; a file saved in
// Shift-JIS names its layer as a UTF-8 file does.
TEST_F(HostileInput, SettingsNeverBreakTheDxfAndAShiftJisFileNamesItsLayer)
{
    struct TCase
    {
        QByteArray Line, Layer;
        bool Warned;
    };
    const TCase cases[] = {
        {"\"L\\r\\n  0\\r\\nEOF\\r\\n\"", "Scan Data", true},
        {"\x90\x7d\x96\xca", "\x90\x7d\x96\xca", false},
        {"\xe5\x9b\xb3\xe9\x9d\xa2", "\x90\x7d\x96\xca", false},
    };
    int n = 0;
    for (const TCase &c : cases) {
        const QString ini = Dir.filePath(QStringLiteral("s%1.ini").arg(++n));
        QFile file(ini);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("[Dxf]\r\nSaveLayer=" + c.Line + "\r\n");
        file.close();
        const QString out = Dir.filePath(QStringLiteral("s%1.dxf").arg(n));
        const TCliRun run = RunCliCapturing({"-q", "-j", "1", "--format=dxf", "--settings", ini, "-o", out, Picture});
        EXPECT_EQ(run.Status, 0) << run.Err.toStdString();
        EXPECT_EQ(run.Err.contains("[Dxf] SaveLayer"), c.Warned) << run.Err.toStdString();
        const QByteArray dxf = ReadAll(out);
        EXPECT_EQ(dxf.count("EOF"), 1) << c.Line.toStdString();
        EXPECT_TRUE(dxf.endsWith("  0\r\nENDSEC\r\n  0\r\nEOF\r\n"));
        const QByteArray onLayer = "  8\r\n" + c.Layer + "\r\n";
        EXPECT_GT(dxf.count(onLayer), 0) << c.Line.toStdString();
        EXPECT_EQ(dxf.count("  8\r\n"), dxf.count(onLayer)) << c.Line.toStdString();
    }
}

// A 120-byte RLE4 BMP of 16 colours: headers, table and an end of bitmap.
QByteArray HugeRle4(std::uint32_t width, std::uint32_t height)
{
    QByteArray bmp("BM");
    const auto le32 = [&](std::uint32_t v) { for (int i = 0; i < 4; ++i) bmp += char(v >> (8 * i)); };
    const auto le16 = [&](std::uint16_t v) { bmp += char(v); bmp += char(v >> 8); };
    le32(120); le32(0); le32(118);
    le32(40); le32(width); le32(height); le16(1); le16(4); le32(2); le32(2); le32(0); le32(0); le32(16); le32(0);
    for (int i = 0; i < 16; ++i)
        le32(i == 0 ? 0xFFFFFF : 0);
    return bmp + QByteArray("\0\1", 2);
}

// A picture larger than the bound is refused at once, naming its size; the
// bound is --max-pixels, else half the machine's memory as a mask.
TEST_F(HostileInput, PicturesBeyondTheBoundAreRefusedNamingTheirSize)
{
    for (const auto &[name, width, height] : {std::tuple{"wide.bmp", 2147483000u, 2u}, std::tuple{"square.bmp", 60000u, 60000u}}) {
        QFile file(Dir.filePath(name));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(HugeRle4(width, height));
    }
    const QByteArray unreadable = ": " + Messages::Unreadable().toUtf8() + " (The picture of ";
    struct TCase
    {
        QString Input;
        QStringList Options;
        QByteArray Err;  // after the input's name
    };
    const TCase cases[] = {
        {Picture, {"--max-pixels", "3071"}, unreadable + "64 x 48 pixels is too large: 3071 pixels at most (--max-pixels))\n"},
        {Dir.filePath("wide.bmp"), {}, unreadable + "2147483000 x 2 pixels is too large: each side may have 268435456 pixels at most)\n"},
        {Dir.filePath("square.bmp"), {"--max-pixels", "3599999999"},
         unreadable + "60000 x 60000 pixels is too large: 3599999999 pixels at most (--max-pixels))\n"},
        {Dir.filePath("square.bmp"), {"--max-pixels", "3599999999", "--despeckle", "3", "--centerline", "--merge", "1"},
         unreadable + "60000 x 60000 pixels is too large: 3599999999 pixels at most (--max-pixels))\n"},
    };
    for (const TCase &c : cases) {
        const TCliRun run = RunCliCapturing(QStringList{"-q", "-o", Dir.filePath("out.txt")} + c.Options + QStringList{c.Input});
        EXPECT_EQ(run.Status, 1) << c.Err.toStdString();
        EXPECT_EQ(run.Err, c.Input.toUtf8() + c.Err);
    }
    PictureLimits::SetMostPixels(0);
    EXPECT_EQ(RunCliCapturing({"-q", "--max-pixels", "3072", "-o", Dir.filePath("out.txt"), Picture}).Status, 0);
    EXPECT_EQ(ReadAll(Dir.filePath("out.txt")), ReadAll(Expected));
    PictureLimits::SetMostPixels(0);
    EXPECT_EQ(PictureLimits::MostPixels(), PictureLimits::DefaultMostPixels());
    EXPECT_EQ(PictureLimits::DefaultMostPixels(), std::int64_t(::sysconf(_SC_PHYS_PAGES)) * ::sysconf(_SC_PAGESIZE) / 2 * 8);
}

// Blank grey paper has no two classes for the automatic level to separate:
// no ink, and the user is told.
TEST_F(HostileInput, BlankPaperHasNoInkForTheAutomaticLevel)
{
    QImage paper(300, 200, QImage::Format_Grayscale8);
    std::mt19937 random(5);
    for (int y = 0; y < paper.height(); ++y)
        for (int x = 0; x < paper.width(); ++x)
            paper.scanLine(y)[x] = static_cast<uchar>(248 + random() % 5);
    const QString blank = Dir.filePath("blank.png");
    ASSERT_TRUE(paper.save(blank));
    const TCliRun run = RunCliCapturing({"-q", "--threshold", "auto", "-o", Dir.filePath("blank.txt"), blank});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, blank.toUtf8() + ": " + Messages::NoInk().toUtf8() + "\n" + blank.toUtf8() + ": "
                           + Messages::ZeroSegments().toUtf8() + "\n");
    // Ink on that paper is still found.
    for (int y = 90; y < 95; ++y)
        for (int x = 20; x < 280; ++x)
            paper.scanLine(y)[x] = static_cast<uchar>(30 + random() % 5);
    ASSERT_TRUE(paper.save(blank));
    const TCliRun inked = RunCliCapturing({"-q", "--threshold", "auto", "--centerline", "-o", Dir.filePath("blank.txt"), blank});
    EXPECT_EQ(inked.Status, 0);
    EXPECT_EQ(inked.Err, QByteArray());
}

// A damaged TIFF or PNG file is reported in one line, the reader's reason
// beside the message, without the decoders' own words (libtiff's under a
// made-up file name, libpng's).
TEST_F(HostileInput, ADamagedFileIsOneLineOfError)
{
    QImage sheet(200, 100, QImage::Format_Grayscale8);
    sheet.fill(255);
    struct TCase
    {
        const char *Name;
        std::function<void(QByteArray &)> Damage;
        const char *Reason;  // in the line, when given
    };
    const TCase cases[] = {
        {"cut.tif", [](QByteArray &b) { b.truncate(b.size() / 2); }, nullptr},
        // (a byte of the compressed rows changed)
        {"idat.png", [](QByteArray &b) { b[b.indexOf("IDAT") + 8] = char(b[b.indexOf("IDAT") + 8] ^ 0x55); },
         "(libpng: IDAT: "},
        {"header.png", [](QByteArray &b) { b[29] = char(b[29] ^ 0xFF); }, "(libpng: IHDR: CRC error)"},
        {"cut.png", [](QByteArray &b) { b.truncate(b.indexOf("IDAT") + 12); }, "(libpng: "},
    };
    for (const TCase &c : cases) {
        SCOPED_TRACE(c.Name);
        const QString whole = Dir.filePath(QStringLiteral("whole.") + QFileInfo(c.Name).suffix());
        ASSERT_TRUE(sheet.save(whole));
        QByteArray bytes = ReadAll(whole);
        c.Damage(bytes);
        const QString damaged = Dir.filePath(c.Name);
        QFile file(damaged);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        file.close();
        // (a process of its own: the decoders write to the process's own stderr)
        const TCliRun run = Shell(QStringLiteral("exec \"$0\" -q -o '%1' '%2'").arg(Dir.filePath("out.txt"), damaged));
        EXPECT_EQ(run.Status, 1);
        EXPECT_TRUE(run.Err.startsWith(damaged.toUtf8() + ": ")) << run.Err.toStdString();
        EXPECT_EQ(run.Err.count('\n'), 1) << run.Err.toStdString();
        if (c.Reason) {
            EXPECT_TRUE(run.Err.contains(c.Reason)) << run.Err.toStdString();
        }
    }
}

} // namespace
