#include "CliFixture.h"

#include "base/ProgramFolder.h"
#include "base/Settings.h"
#include "export/ClipboardTarget.h"
#include "commands/ExportDriver.h"
#include "export/OutputFormats.h"
#include "image/PictureFormats.h"
#include "commands/ScanDriver.h"
#include "scan/ScanState.h"
#include "support/RecordingUserInterface.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

class TCapturedClipboard : public TClipboardTarget
{
public:
    bool Place(const QString &, const QByteArray &cp932) override
    {
        Bytes = cp932;
        return true;
    }
    QByteArray Bytes;
};

class BatchConverterTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Formats.RegisterBuiltIns();
        Picture = Dir.filePath("plan.bmp");
        WriteDrawing(Picture, 64, 48, 0);
        SettingsPath = Dir.filePath("settings.ini");
        QSettings ini(SettingsPath, QSettings::IniFormat);
        ini.setValue("Txt/Divide2", ",");
        ini.setValue("Txt/ValueMode", "3");
        ini.setValue("Txt/ValueFigure", "2");
        ini.setValue("System/Xrate", "0.98");
        ini.setValue("Dxf/LineType", "2");
        ini.setValue("Jwc/SaveGroup", "3");
        ini.setValue("Jwc/SaveLayer", "2");
        ini.sync();
        auto store = SettingsStore::OpenFile(SettingsPath);
        Settings = TSettings::Defaults();
        SettingsStore::Load(*store, Settings);
    }

    // What the window program's save command writes for the picture, chosen as `name`.
    QByteArray SavedByTheWindowProgram(int mode, const QString &magnification, const QString &name)
    {
        TRecordingUserInterface ui;
        TScanState state;
        TSettings settings = Settings;
        settings.PixelScanMode = mode;
        TScanDriver scanner(state, settings, ui, Formats);
        TMainWindowState window;
        window.DataConverted = scanner.ScanData(Picture) == ScanDone;
        EXPECT_TRUE(window.DataConverted);
        TCapturedClipboard clipboard;
        TExportDriver exporter(state, window, settings, ui, clipboard, ProgramFolder());
        ui.SaveAnswer = Dir.filePath(name);
        EXPECT_EQ(exporter.SaveCommand(magnification), TExportOutcome::Done)
            << ui.Messages.join('|').toStdString();
        return ReadAll(Dir.filePath(name));
    }

    QByteArray CopiedByTheWindowProgram(int tag)
    {
        TRecordingUserInterface ui;
        TScanState state;
        TScanDriver scanner(state, Settings, ui, Formats);
        TMainWindowState window;
        window.DataConverted = scanner.ScanData(Picture) == ScanDone;
        EXPECT_TRUE(window.DataConverted);
        TCapturedClipboard clipboard;
        TExportDriver exporter(state, window, Settings, ui, clipboard, ProgramFolder());
        EXPECT_EQ(exporter.CopyCommand(tag, "1"), TExportOutcome::Done);
        return clipboard.Bytes;
    }

    int RunCli(const QStringList &arguments)
    {
        const TCliParse parse = ParseCommandLine(QStringList{"trazbit-cli"} + arguments);
        if (!parse.Options)
            return parse.ExitCode;
        std::FILE *sink = std::tmpfile();
        const int status = RunCommandLine(*parse.Options, sink, sink);
        std::fclose(sink);
        return status;
    }

    QTemporaryDir Dir;
    TPictureFormats Formats;
    QString Picture;
    QString SettingsPath;
    TSettings Settings;
};

TEST_F(BatchConverterTest, EveryFileFormatHoldsTheSaveCommandsBytes)
{
    struct Case { const char *format; int mode; const char *name; };
    const Case cases[] = {{"txt", 1, "w1.txt"}, {"dxf", 2, "w2.dxf"}, {"jwc", 3, "w3.jwc"}};
    for (const Case &c : cases) {
        const QByteArray expected = SavedByTheWindowProgram(c.mode, "2.5", c.name);
        ASSERT_GT(expected.size(), 0);
        const QString out = Dir.filePath(QStringLiteral("cli-%1.out").arg(c.format));
        ASSERT_EQ(RunCli({"--settings", SettingsPath, "-f", c.format, "-m", QString::number(c.mode),
                          "--magnification", "2.5", "-o", out, "-q", Picture}),
                  0);
        EXPECT_EQ(ReadAll(out), expected) << c.format;
    }
}

TEST_F(BatchConverterTest, ClipboardFormatsHoldTheCopyCommandsBytes)
{
    const QString txt = Dir.filePath("clip.txt");
    const QString jwt = Dir.filePath("clip.jwt");
    ASSERT_EQ(RunCli({"--settings", SettingsPath, "-f", "clip-txt", "-o", txt, "-q", Picture}), 0);
    ASSERT_EQ(RunCli({"--settings", SettingsPath, "-f", "clip-jwt", "-o", jwt, "-q", Picture}), 0);
    EXPECT_EQ(ReadAll(txt), CopiedByTheWindowProgram(1));
    const QByteArray jwtBytes = ReadAll(jwt);
    EXPECT_EQ(jwtBytes, CopiedByTheWindowProgram(2));
    EXPECT_TRUE(jwtBytes.startsWith(";<<JWT.Format.Text>>\n\rBEGIN\n\rL2,50,"));
    EXPECT_TRUE(jwtBytes.endsWith("\n\rEND"));
}

TEST_F(BatchConverterTest, FormatComesFromTheOutputsExtensionAndTheFileIsWrittenUnderThatName)
{
    ASSERT_EQ(RunCli({"--settings", SettingsPath, "-o", Dir.filePath("plan.Dxf"), "-q", Picture}), 0);
    EXPECT_TRUE(ReadAll(Dir.filePath("plan.Dxf")).startsWith("  0\r\nSECTION\r\n"));
    ASSERT_EQ(RunCli({"--settings", SettingsPath, "-o", Dir.filePath("plan.dat"), "-q", Picture}), 0);
    EXPECT_EQ(ReadAll(Dir.filePath("plan.dat")), SavedByTheWindowProgram(1, "1", "same.txt"));
    EXPECT_FALSE(QFile::exists(Dir.filePath("plan.txt")));
}

TEST_F(BatchConverterTest, CleanupOffWritesTheSameBytesAndOnMergesTheLines)
{
    // Every clean-up step named but off, on the command line or in the
    // settings file: each method's DXF and text hold the window program's bytes.
    {
        QSettings ini(SettingsPath, QSettings::IniFormat);
        ini.setValue("Cleanup/Threshold", "");
        ini.setValue("Cleanup/Despeckle", "0");
        ini.setValue("Cleanup/Centerline", "0");
        ini.setValue("Cleanup/Merge", "");
        ini.setValue("Cleanup/Arcs", "");
        ini.setValue("Cleanup/Snap", "0");
        ini.setValue("Cleanup/Deskew", "0");
    }
    for (int mode = 1; mode <= 3; ++mode) {
        for (const char *ext : {"dxf", "txt"}) {
            const QString name = QStringLiteral("window-%1.%2").arg(mode).arg(ext);
            const QByteArray expected = SavedByTheWindowProgram(mode, "1", name);
            const QString out = Dir.filePath(QStringLiteral("cli-%1.%2").arg(mode).arg(ext));
            ASSERT_EQ(RunCli({"-m", QString::number(mode), "--settings", SettingsPath, "--despeckle", "0",
                              "--merge", "0", "--arcs", "0", "--snap", "0", "-q", "-o", out, Picture}),
                         0);
            EXPECT_EQ(ReadAll(out), expected) << mode << ext;
        }
    }
    // On: the drawing's twin outlines and staircases merged into fewer LINEs.
    const QString plain = Dir.filePath("plain.dxf"), cleaned = Dir.filePath("cleaned.dxf");
    ASSERT_EQ(RunCli({"-q", "-o", plain, Picture}), 0);
    ASSERT_EQ(RunCli({"-q", "--centerline", "--merge", "1", "-o", cleaned, Picture}), 0);
    const int plainLines = int(ReadAll(plain).count("\r\nLINE\r\n"));
    const int cleanedLines = int(ReadAll(cleaned).count("\r\nLINE\r\n"));
    EXPECT_GT(cleanedLines, 0);
    EXPECT_LT(cleanedLines, plainLines);
}

TEST_F(BatchConverterTest, GeometryOptionsWriteArcsToDxfAndChordsElsewhere)
{
    // A ring and a bar: a CIRCLE and a LINE in the DXF file, only lines in the
    // other formats, and the skew reported on standard error.
    QImage image(300, 240, QImage::Format_Mono);
    image.setColor(0, qRgb(255, 255, 255));
    image.setColor(1, qRgb(0, 0, 0));
    image.fill(0);
    {
        QPainter painter(&image);
        painter.setPen(QPen(Qt::color1, 3));
        painter.drawEllipse(QPointF(150, 110), 80, 80);
        painter.drawLine(20, 220, 280, 220);
    }
    const QString ring = Dir.filePath("ring.bmp");
    ASSERT_TRUE(image.save(ring, "BMP"));
    const QString dxf = Dir.filePath("ring.dxf"), txt = Dir.filePath("ring.txt");
    const TCliRun run = RunCliCapturing({"--arcs", "1", "--snap", "1", "--deskew", "-o", dxf, ring});
    ASSERT_EQ(run.Status, 0) << run.Err.toStdString();
    EXPECT_TRUE(run.Err.contains(QStringLiteral("ring.bmp: 傾き").toUtf8())) << run.Err.toStdString();
    const QByteArray written = ReadAll(dxf);
    EXPECT_EQ(written.count("\r\nCIRCLE\r\n"), 1);
    EXPECT_EQ(written.count("\r\nLINE\r\n"), 1);
    EXPECT_EQ(written.count("\r\nARC\r\n"), 0);
    EXPECT_TRUE(written.contains("  0\r\nTABLE\r\n  2\r\nLAYER\r\n 70\r\n     1\r\n  0\r\nLAYER\r\n  2\r\nScan Data\r\n"));
    ASSERT_EQ(RunCli({"--arcs", "1", "-q", "-o", txt, ring}), 0);
    // The circle as chords within a pixel: more than a few lines.
    EXPECT_GT(ReadAll(txt).count('\n'), 20);

    for (const QStringList &bad : {QStringList{"--arcs", "x"}, QStringList{"--arcs", "-1"},
                                   QStringList{"--snap", "46"}, QStringList{"--snap", ""}}) {
        const TCliRun refused = RunCliCapturing(bad + QStringList{"-o", txt, ring});
        EXPECT_EQ(refused.Status, 2) << bad.join(' ').toStdString();
        EXPECT_TRUE(refused.Err.contains(bad[0] == "--arcs" ? "option --arcs needs a tolerance of 0 or more pixels"
                                                            : "option --snap needs an angle of 0 to 45 degrees"))
            << refused.Err.toStdString();
    }
}

TEST_F(BatchConverterTest, ScaleAndDpiScaleTheDrawing)
{
    const QString out = Dir.filePath("scaled.dxf");
    ASSERT_EQ(RunCli({"--settings", SettingsPath, "--scale", "100", "--dpi", "400", "-o", out, "-q",
                      Picture}),
              0);
    EXPECT_EQ(ReadAll(out), SavedByTheWindowProgram(1, "6.35", "scaled-window.dxf"));
}

TEST_F(BatchConverterTest, SeveralInputsInParallelGiveTheSameFilesAsOneByOne)
{
    QStringList inputs;
    for (int i = 0; i < 5; ++i) {
        const QString path = Dir.filePath(QStringLiteral("sheet%1.bmp").arg(i));
        WriteDrawing(path, 60 + i * 7, 40 + i * 5, i);
        inputs << path;
    }
    ASSERT_TRUE(QDir(Dir.path()).mkdir("parallel"));
    ASSERT_TRUE(QDir(Dir.path()).mkdir("serial"));
    ASSERT_EQ(RunCli(QStringList{"--settings", SettingsPath, "-f", "jwc", "-j", "2", "-q", "-o",
                                 Dir.filePath("parallel")} + inputs),
              0);
    ASSERT_EQ(RunCli(QStringList{"--settings", SettingsPath, "-f", "jwc", "-j", "1", "-q", "-o",
                                 Dir.filePath("serial")} + inputs),
              0);
    for (int i = 0; i < 5; ++i) {
        const QString name = QStringLiteral("sheet%1.jwc").arg(i);
        const QByteArray one = ReadAll(Dir.filePath("serial/" + name));
        EXPECT_GT(one.size(), 4693) << name.toStdString();
        EXPECT_EQ(ReadAll(Dir.filePath("parallel/" + name)), one) << name.toStdString();
    }
    EXPECT_EQ(QDir(Dir.filePath("parallel")).entryList(QDir::Files | QDir::Hidden).size(), 5);
}

TEST_F(BatchConverterTest, OutputsAreLaidOutBesideInputsOrInAFolder)
{
    TCliOptions options;
    options.Inputs = QStringList{"/a/one.bmp", "/b/two.png"};
    TJobPlan plan = PlanJobs(options, Settings);
    ASSERT_TRUE(plan.Problem.isEmpty());
    EXPECT_EQ(plan.Jobs[0].Output, QStringLiteral("/a/one.txt"));
    EXPECT_EQ(plan.Jobs[1].Output, QStringLiteral("/b/two.txt"));

    options.Format = FindOutputFormat(SaveFormatDxf);
    options.Output = Dir.path();
    plan = PlanJobs(options, Settings);
    EXPECT_EQ(plan.Jobs[1].Output, Dir.filePath("two.dxf"));

    options.Output = Dir.filePath("not-a-folder.dxf");
    EXPECT_FALSE(PlanJobs(options, Settings).Problem.isEmpty());

    options.Output = Dir.path();
    options.Inputs = QStringList{"/a/one.bmp", "/b/one.png"};
    EXPECT_FALSE(PlanJobs(options, Settings).Problem.isEmpty());
}

TEST_F(BatchConverterTest, ExitStatusNamesEachFailure)
{
    const QString program = QStringLiteral(TRAZBIT_BINARY_DIR "/trazbit-cli");
    QFile bad(Dir.filePath("broken.bmp"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("BM not really a picture");
    bad.close();
    auto run = [&](const QStringList &arguments, QByteArray *errors) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CONFIG_HOME", Dir.filePath("config"));
        process.setProcessEnvironment(environment);
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        if (errors)
            *errors = process.readAllStandardError();
        return process.exitCode();
    };
    QByteArray errors;
    EXPECT_EQ(run({"-o", Dir.filePath("x.txt"), Dir.filePath("missing.bmp")}, &errors), 1);
    EXPECT_TRUE(errors.contains("missing.bmp: ")) << errors.toStdString();
    EXPECT_EQ(run({"-o", Dir.filePath("y.txt"), Dir.filePath("broken.bmp")}, &errors), 1);
    EXPECT_TRUE(errors.contains("broken.bmp: ファイルが読み込めませんした。")) << errors.toStdString();
    EXPECT_EQ(run({"--no-such-option", Picture}, &errors), 2);
    EXPECT_TRUE(errors.startsWith("trazbit-cli: unknown option")) << errors.toStdString();
    EXPECT_EQ(run({"--settings", Dir.filePath("none.ini"), Picture}, &errors), 2);
    EXPECT_EQ(run({"-q", "-o", Dir.filePath("ok.txt"), Picture}, nullptr), 0);
    // One good and one bad input: the good one is written, the run fails.
    QDir(Dir.path()).mkdir("mixed");
    EXPECT_EQ(run({"-q", "-o", Dir.filePath("mixed"), Picture, Dir.filePath("broken.bmp")}, &errors), 1);
    EXPECT_TRUE(QFile::exists(Dir.filePath("mixed/plan.txt")));
    EXPECT_FALSE(QFile::exists(Dir.filePath("mixed/broken.txt")));
}

TEST_F(BatchConverterTest, SettingsFilesThatCannotBeUsedAreNamedAndBadValuesWarned)
{
    QFile binary(Dir.filePath("picture.ini"));
    ASSERT_TRUE(binary.open(QIODevice::WriteOnly));
    binary.write(ReadAll(Picture));
    binary.close();
    struct Case { QString file; const char *problem; };
    const Case cases[] = {{Dir.path(), "is a folder"},
                          {Dir.filePath("none.ini"), "not found"},
                          {Dir.filePath("picture.ini"), "is not an INI file"}};
    for (const Case &c : cases) {
        const TCliRun run = RunCliCapturing({"--settings", c.file, "-o", "-", Picture});
        EXPECT_EQ(run.Status, 2);
        EXPECT_EQ(run.Err, "trazbit-cli: settings file " + c.file.toUtf8() + ' ' + c.problem + '\n');
    }
    QFile bad(Dir.filePath("bad.ini"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("[System]\nXrate=3e38x\n[Jwc]\nPenColor=blue\n");
    bad.close();
    const TCliRun run = RunCliCapturing({"--settings", Dir.filePath("bad.ini"), "-q", "-o",
                                         Dir.filePath("bad.txt"), Picture});
    EXPECT_EQ(run.Status, 0);
    EXPECT_EQ(run.Err, "trazbit-cli: 設定 [System] Xrate の値「3e38x」は無効です。既定値 1 を使います。\n"
                       "trazbit-cli: 設定 [Jwc] PenColor の値「blue」は無効です。既定値 1 を使います。\n");
}

TEST_F(BatchConverterTest, AnEmptyDrawingIsWrittenWithAWarning)
{
    QImage white(16, 16, QImage::Format_Mono);
    white.setColor(0, qRgb(255, 255, 255));
    white.setColor(1, qRgb(0, 0, 0));
    white.fill(0);
    const QString path = Dir.filePath("white.bmp");
    ASSERT_TRUE(white.save(path, "BMP"));
    TSettings settings = Settings;
    TBatchConverter converter(settings, 1.0f, Formats);
    const TConversionResult result = converter.Convert(
        {path, Dir.filePath("white.txt"), FindOutputFormat(SaveFormatText)}, nullptr);
    EXPECT_TRUE(result.Ok) << result.Reason.toStdString();
    EXPECT_EQ(result.Warnings, QStringList{QStringLiteral("線の本数が０です。")});
    EXPECT_EQ(ReadAll(Dir.filePath("white.txt")), QByteArray());
}

// --formats: every registered extension, its description and where it comes
// from; the folders of --plugin-dir come before the program's own plug-ins.
TEST_F(BatchConverterTest, FormatListNamesBuiltInAndPluginFormats)
{
    const QString tests = QStringLiteral(TRAZBIT_TEST_PLUGIN_DIR);
    const TCliParse parse = ParseCommandLine(
        {"trazbit-cli", "--plugin-dir", tests, "--plugin-dir", tests + "/", "--formats"});
    ASSERT_TRUE(parse.Options.has_value());
    std::FILE *out = std::tmpfile();
    ASSERT_EQ(RunCommandLine(*parse.Options, out, out), 0);
    std::rewind(out);
    QByteArray text;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;)
        text.append(buffer, qsizetype(n));
    std::fclose(out);
    const QStringList lines = QString::fromUtf8(text).split('\n', Qt::SkipEmptyParts);
    const auto index = [&](const QString &line) { return lines.indexOf(line); };
    const QString native = QDir::toNativeSeparators(tests + "/");
    const QString cals = QDir::toNativeSeparators(QCoreApplication::applicationDirPath() + "/cals.spi");
    EXPECT_EQ(index("bmp\tビットマップ\tbuilt in"), 0) << text.toStdString();
    EXPECT_GE(index("dib\tDevice Independent Bitmap\tbuilt in"), 0);
    const int tzt = index("tzt\tTrazbit test picture (second)\t" + native + "second.spi");
    const int tzx = index("tzx\tTrazbit test picture 2\t" + native + "first.spi");
    const int ct1 = index("ct1\tCALS raster type 1\t" + cals);
    const int cal = index("cal\tCALS raster type 1\t" + cals);
    EXPECT_GT(tzt, 0);
    EXPECT_GT(tzx, tzt);
    EXPECT_GT(ct1, tzx);
    EXPECT_EQ(cal, ct1 + 1);
    EXPECT_EQ(lines.size(), Formats.Formats().size() + 5);  // tzt, tzy, tzx, ct1, cal
}

} // namespace

TEST_F(BatchConverterTest, PreviewIsThePictureWithItsSegmentsAtMost4096PixelsLong)
{
    // 5000 x 1000 pixels with a row stroke from column 100 to 3999 on row 400.
    QImage sheet(5000, 1000, QImage::Format_Mono);
    sheet.setColor(0, qRgb(255, 255, 255));
    sheet.setColor(1, qRgb(0, 0, 0));
    sheet.fill(0);
    for (int x = 100; x < 4000; ++x)
        sheet.setPixel(x, 400, 1);
    const QString wide = Dir.filePath("wide.bmp");
    ASSERT_TRUE(sheet.save(wide, "BMP"));

    const QString png = Dir.filePath("wide-preview.png");
    EXPECT_EQ(RunCli({"-q", "--settings", SettingsPath, "-o", Dir.filePath("wide.txt"), "--preview",
                      png, wide}),
              0);
    const QImage preview(png);
    ASSERT_EQ(preview.size(), QSize(4096, 819));
    const double scale = 4096.0 / 5000;
    EXPECT_EQ(preview.pixel(int(2000 * scale), int(400.5 * scale)), QColor(Qt::red).rgb());
    EXPECT_EQ(preview.pixel(int(2000 * scale), int(600 * scale)), QColor(Qt::white).rgb());
    EXPECT_EQ(preview.pixel(int(4500 * scale), int(400.5 * scale)), QColor(Qt::white).rgb());

    // Several inputs: one preview each in the folder, smaller pictures at their own size.
    QDir(Dir.path()).mkdir("previews");
    EXPECT_EQ(RunCli({"-q", "--settings", SettingsPath, "-o", Dir.path() + "/previews", "--preview",
                      Dir.filePath("previews"), wide, Picture}),
              0);
    EXPECT_EQ(QImage(Dir.filePath("previews/wide.png")).size(), QSize(4096, 819));
    EXPECT_EQ(QImage(Dir.filePath("previews/plan.png")).size(), QSize(64, 48));
    // ... and never a file name for several.
    EXPECT_EQ(RunCli({"-q", "-o", Dir.path() + "/previews", "--preview", png, wide, Picture}), 2);
}
