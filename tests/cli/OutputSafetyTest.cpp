#include "CliFixture.h"

#include "base/Messages.h"
#include "support/FullFolder.h"
#include "support/OutsideProgram.h"

#include <QFileInfo>
#include <QTemporaryDir>

#include <csignal>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

namespace {

class OutputSafety : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        Picture = Dir.filePath("plan.bmp");
        WriteDrawing(Picture, 64, 48, 0);
        // No stored settings reach the runs.
        qputenv("XDG_CONFIG_HOME", Dir.filePath("config").toUtf8());
    }

    QTemporaryDir Dir;
    QString Picture;
};

TEST_F(OutputSafety, FifosAndDevicesAreWrittenInPlaceAndStayWhatTheyAre)
{
    const QString fifo = Dir.filePath("pipe");
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString file = Dir.filePath("plan.txt");
    ASSERT_EQ(RunCliCapturing({"-q", "-o", file, Picture}).Status, 0);

    QByteArray piped;
    std::thread reader([&] { piped = ReadAll(fifo); });
    EXPECT_EQ(RunCliCapturing({"-q", "-f", "txt", "-o", fifo, Picture}).Status, 0);
    reader.join();
    EXPECT_EQ(piped, ReadAll(file));
    EXPECT_EQ(RunCliCapturing({"-q", "-f", "dxf", "-o", "/dev/null", Picture}).Status, 0);

    struct stat st;
    ASSERT_EQ(::stat(QFile::encodeName(fifo).constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::stat("/dev/null", &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(Names(Dir.path()), (QStringList{"pipe", "plan.bmp", "plan.txt"}));
}

TEST_F(OutputSafety, AnOutputThatIsTheInputUnderAnotherNameIsRefused)
{
    const QByteArray picture = ReadAll(Picture);
    ASSERT_TRUE(QFile::link(Picture, Dir.filePath("link.txt")));
    ASSERT_EQ(::link(QFile::encodeName(Picture).constData(),
                     QFile::encodeName(Dir.filePath("hard.txt")).constData()), 0);
    for (const char *name : {"link.txt", "hard.txt"}) {
        const TCliRun run = RunCliCapturing({"-q", "-o", Dir.filePath(name), Picture});
        EXPECT_EQ(run.Status, 2) << name;
        EXPECT_EQ(run.Err, "trazbit-cli: the output " + Dir.filePath(name).toUtf8()
                               + " would replace its input\n");
    }
    // Outputs beside their inputs: the input list names the same file twice.
    const TCliRun beside = RunCliCapturing({"-q", "-f", "txt", Dir.filePath("hard.txt")});
    EXPECT_EQ(beside.Status, 2);
    EXPECT_EQ(ReadAll(Picture), picture);
}

TEST_F(OutputSafety, AFullDiskKeepsTheOldFileOfEveryFormatWholeAndSaysWhy)
{
    TFullFolder full;
    if (!full.IsMounted())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING(full.Problem.toStdString());
    const char *formats[] = {"txt", "dxf", "jwc", "clip-txt", "clip-jwt"};
    QStringList names;
    for (const char *format : formats) {
        const QString name = QStringLiteral("plan-%1.out").arg(QLatin1String(format));
        QFile old(full.Path(name));
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write(QByteArray("old ") + format);
        names << name;
    }
    full.Fill();
    for (const char *format : formats) {
        const QString output = full.Path(QStringLiteral("plan-%1.out").arg(QLatin1String(format)));
        const TCliRun run = RunCliCapturing({"-q", "-f", format, "-o", output, Picture});
        EXPECT_EQ(run.Status, 1) << format;
        EXPECT_EQ(run.Err, Picture.toUtf8() + ": " + output.toUtf8()
                               + " に書き込めません: No space left on device\n")
            << format;
        EXPECT_EQ(ReadAll(output), QByteArray("old ") + format);
    }
    names.sort();
    EXPECT_EQ(full.Names(), names);
    // A device that is full: written in place, the same reason.
    const TCliRun device = RunCliCapturing({"-q", "-f", "clip-jwt", "-o", "/dev/full", Picture});
    EXPECT_EQ(device.Err, Picture.toUtf8() + ": /dev/full に書き込めません: No space left on device\n");
}

// True once the process holds an open file in `folder` that has no name (or a
// hidden temporary one): it is writing its output.
bool IsWritingInto(qint64 pid, const QString &folder)
{
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    for (const QString &fd : fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)) {
        char link[4096];
        const ssize_t length = ::readlink(QFile::encodeName(fds.filePath(fd)).constData(), link, sizeof link);
        const QString target = QFile::decodeName(QByteArray(link, length > 0 ? length : 0));
        if (target.startsWith(folder + QLatin1Char('/'))
            && (target.endsWith(QLatin1String(" (deleted)")) || target.endsWith(QLatin1String(".tmp"))))
            return true;
    }
    return false;
}

TEST_F(OutputSafety, AConversionKilledWhileWritingLeavesTheOldFileWholeAndNothingBesideIt)
{
    // Blocks of 2 x 2 pixels give close to two million segments: tens of
    // megabytes to write.
    QImage noise(2000, 2000, QImage::Format_Mono);
    noise.setColor(0, qRgb(255, 255, 255));
    noise.setColor(1, qRgb(0, 0, 0));
    for (int y = 0; y < noise.height(); ++y)
        for (int x = 0; x < noise.width(); ++x)
            noise.setPixel(x, y, x % 3 != 2 && y % 3 != 2);
    const QString big = Dir.filePath("noise.bmp");
    ASSERT_TRUE(noise.save(big, "BMP"));
    ASSERT_TRUE(QDir(Dir.path()).mkdir("out"));
    const QString folder = QFileInfo(Dir.filePath("out")).canonicalFilePath();

    for (const char *format : {"txt", "clip-jwt"}) {
        SCOPED_TRACE(format);
        const QString output = folder + QStringLiteral("/noise.out");
        QFile old(output);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly | QIODevice::Truncate));
        old.write("the old drawing");
        old.close();

        QProcess cli;
        cli.start(CliProgram(), {"-q", "-f", format, "-o", output, big});
        ASSERT_TRUE(cli.waitForStarted());
        const qint64 pid = cli.processId();
        bool caught = false;
        while (!caught && !cli.waitForFinished(1)) {
            caught = IsWritingInto(pid, folder);
            if (caught)
                ::kill(static_cast<pid_t>(pid), SIGKILL);
        }
        ASSERT_TRUE(caught) << "the write ended before it could be caught: "
                            << cli.readAllStandardError().toStdString();
        ASSERT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(ReadAll(output), "the old drawing");
        EXPECT_EQ(Names(folder), QStringList{"noise.out"});
    }
}

TEST_F(OutputSafety, EveryInputFailureSaysItsOwnReason)
{
    QImage checks(200, 200, QImage::Format_RGB32);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 200; ++x)
            checks.setPixel(x, y, (x / 10 + y / 10) % 2 ? qRgb(255, 255, 255) : qRgb(0, 0, 0));
    ASSERT_TRUE(checks.save(Dir.filePath("whole.jpg"), "JPEG"));
    QFile cut(Dir.filePath("cut.jpg"));
    ASSERT_TRUE(cut.open(QIODevice::WriteOnly));
    const QByteArray jpeg = ReadAll(Dir.filePath("whole.jpg"));
    cut.write(jpeg.left(jpeg.size() / 2));
    cut.close();
    ASSERT_TRUE(QDir(Dir.path()).mkdir("folder.bmp"));
    struct Case { const char *input; const char *reason; };
    const Case cases[] = {
        {"folder.bmp", "ファイルではなくフォルダです。"},
        {"missing.bmp", "ファイルが見つかりません。"},
        {"cut.jpg", "ファイルが読み込めませんした。 (QImageReader: Corrupt JPEG data: premature end "
                    "of data segment)"},
    };
    for (const Case &c : cases) {
        const QString input = Dir.filePath(QString::fromLatin1(c.input));
        const TCliRun run = RunCliCapturing({"-q", "-o", "-", input});
        EXPECT_EQ(run.Status, 1) << c.input;
        EXPECT_EQ(run.Err.toStdString(), (input.toUtf8() + ": " + c.reason + "\n").toStdString());
    }

    // A picture its reader may not open, run by an ordinary user.
    ASSERT_TRUE(QFile::copy(Picture, Dir.filePath("secret.bmp")));
    ASSERT_TRUE(QFile::setPermissions(Dir.filePath("secret.bmp"), QFile::WriteOwner));
    ASSERT_TRUE(QFile::setPermissions(Dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                                      | QFile::ReadOther | QFile::ExeOther));
    QStringList command{CliProgram(), "-q", "-o", "-", Dir.filePath("secret.bmp")};
    if (::geteuid() == 0)
        command = QStringList{"--reuid=65534", "--regid=65534", "--clear-groups"} + command;
    QProcess cli;
    cli.start(::geteuid() == 0 ? QStringLiteral("setpriv") : command.takeFirst(), command);
    ASSERT_TRUE(cli.waitForFinished(60000));
    EXPECT_EQ(cli.exitCode(), 1);
    EXPECT_EQ(cli.readAllStandardError().toStdString(),
              (Dir.filePath("secret.bmp").toUtf8() + ": ファイルが読み込めませんした。 (Permission denied)\n")
                  .toStdString());
}

// The report is an output like the others: never an input, the list, the
// settings file or another output; nothing is written when it would be.
TEST_F(OutputSafety, TheReportNeverReplacesAnInputTheListTheSettingsOrAnOutput)
{
    const QString list = Dir.filePath("list.txt"), settings = Dir.filePath("s.ini"), text = Dir.filePath("a.txt");
    for (const auto &[path, bytes] : {std::pair{list, Picture.toUtf8() + "\n"}, std::pair{settings, QByteArray("[Dxf]\n")}}) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
    ASSERT_TRUE(QFile::link(Picture, Dir.filePath("link.bmp")));
    struct TCase
    {
        QStringList Arguments;
        QString Problem;
    };
    const TCase cases[] = {
        {{"-o", text, "--report", Picture, Picture}, "the report " + Picture + " would replace the input " + Picture},
        {{"-o", text, "--report", Dir.filePath("link.bmp"), Picture},
         "the report " + Dir.filePath("link.bmp") + " would replace the input " + Picture},
        {{"-o", text, "--files-from", list, "--report", list}, "the report " + list + " would replace the list " + list},
        {{"-o", text, "--settings", settings, "--report", settings, Picture},
         "the report " + settings + " would replace the settings file " + settings},
        {{"--report", text, "-o", text, Picture}, "the report " + text + " would replace the output " + text},
        {{"-o", list, "--files-from", list}, list + " would replace the list " + list},
        {{"-o", settings, "--settings", settings, Picture}, settings + " would replace the settings file " + settings},
    };
    const QStringList before = Names(Dir.path());
    for (const TCase &c : cases) {
        const TCliRun run = RunCliCapturing(QStringList{"-q"} + c.Arguments);
        EXPECT_EQ(run.Status, 2) << c.Problem.toStdString();
        EXPECT_EQ(run.Err, "trazbit-cli: " + c.Problem.toUtf8() + "\n");
        EXPECT_EQ(Names(Dir.path()), before);
        EXPECT_EQ(ReadAll(list), Picture.toUtf8() + "\n");
        EXPECT_EQ(ReadAll(settings), QByteArray("[Dxf]\n"));
    }
    // Taken whole, at the end.
    const QString report = Dir.filePath("report.jsonl");
    EXPECT_EQ(RunCliCapturing({"-q", "-o", text, "--report", report, Picture}).Status, 0);
    EXPECT_TRUE(ReadAll(report).startsWith("{\"input\":\"" + Picture.toUtf8() + "\",\"output\":\"" + text.toUtf8()));
}

// A report that cannot be written fails the run, says why, and leaves the old one.
TEST_F(OutputSafety, AReportThatCannotBeWrittenFailsTheRun)
{
    const TCliRun device = RunCliCapturing({"-q", "-o", Dir.filePath("a.txt"), "--report", "/dev/full", Picture});
    EXPECT_EQ(device.Status, 1);
    EXPECT_EQ(device.Err, "trazbit-cli: cannot write the report /dev/full: No space left on device\n");

    TFullFolder full;
    if (!full.IsMounted())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING(full.Problem.toStdString());
    const QString report = full.Path("report.jsonl");
    QFile old(report);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("old report\n");
    old.close();
    full.Fill();
    QStringList inputs;
    for (int i = 0; i < 200; ++i)
        inputs << Picture;
    const QString out = Dir.filePath("out");
    ASSERT_TRUE(QDir(Dir.path()).mkdir("out"));
    // Each input a different name, so that the outputs do not collide.
    for (int i = 0; i < 200; ++i) {
        inputs[i] = Dir.filePath(QStringLiteral("p%1.bmp").arg(i));
        ASSERT_TRUE(QFile::copy(Picture, inputs[i]));
    }
    const TCliRun run = RunCliCapturing(QStringList{"-q", "-j", "1", "-o", out, "--report", report} + inputs);
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, "trazbit-cli: cannot write the report " + report.toUtf8() + ": No space left on device\n");
    EXPECT_EQ(ReadAll(report), QByteArray("old report\n"));
    EXPECT_EQ(Names(out).size(), 200);
}

TEST_F(OutputSafety, NoInfinityReachesAFile)
{
    const QString output = Dir.filePath("big.dxf");
    const TCliRun run = RunCliCapturing({"-q", "--xrate", "3e38", "-o", output, Picture});
    EXPECT_EQ(run.Status, 1);
    EXPECT_EQ(run.Err, Picture.toUtf8() + ": " + Messages::CoordinatesOverflow().toUtf8() + "\n");
    EXPECT_FALSE(QFile::exists(output));
}

} // namespace
