#include "CliFixture.h"

#include "support/OutsideProgram.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <map>

namespace {

// A batch of drawings, one of them broken, and the outputs of one
// uninterrupted run to compare every other way of running it with.
class ArchiveBatch : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Dir.isValid());
        qputenv("XDG_CONFIG_HOME", Dir.filePath("config").toUtf8());
        for (int i = 0; i < 8; ++i) {
            Inputs << Dir.filePath(QStringLiteral("sheet%1.bmp").arg(i));
            WriteDrawing(Inputs.last(), 1400 + 40 * i, 1000, i);
        }
        QFile broken(Dir.filePath("broken.bmp"));
        ASSERT_TRUE(broken.open(QIODevice::WriteOnly));
        broken.write("BM not a picture");
        broken.close();
        Inputs.insert(3, broken.fileName());
        List = Dir.filePath("list.txt");
        QFile list(List);
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        // Windows line ends and empty lines are taken as well.
        list.write(QFile::encodeName(Inputs.join("\r\n")) + "\r\n\n");
        list.close();
        Expected = Folder("expected");
        EXPECT_EQ(RunCliCapturing(QStringList{"-q", "-f", "dxf", "-o", Expected} + Inputs).Status, 1);
        ASSERT_EQ(Names(Expected).size(), 8);
    }

    QString Folder(const QString &name)
    {
        QDir(Dir.path()).mkpath(name);
        return Dir.filePath(name);
    }

    // Each output of `folder` with its bytes.
    static std::map<QString, QByteArray> Outputs(const QString &folder)
    {
        std::map<QString, QByteArray> outputs;
        for (const QString &name : Names(folder))
            outputs[name] = ReadAll(QDir(folder).filePath(name));
        return outputs;
    }

    // The report's objects by input, "seconds" checked and left out.
    static std::map<QString, QJsonObject> Report(const QStringList &files)
    {
        std::map<QString, QJsonObject> objects;
        for (const QString &file : files)
            for (const QByteArray &line : ReadAll(file).split('\n')) {
                if (line.isEmpty())
                    continue;
                EXPECT_TRUE(QRegularExpression(QStringLiteral(
                                "^\\{\"input\":\"[^\"]+\",\"output\":\"[^\"]+\",\"status\":\"(ok|failed|skipped)\","
                                "\"segments\":\\d+,\"seconds\":\\d+\\.\\d{3}(,\"message\":\".+\")?\\}$"))
                                .match(QString::fromUtf8(line))
                                .hasMatch())
                    << line.toStdString();
                QJsonObject object = QJsonDocument::fromJson(line).object();
                object.remove(QStringLiteral("seconds"));
                const QString input = object.value(QStringLiteral("input")).toString();
                EXPECT_EQ(objects.count(input), 0u) << input.toStdString();
                objects[input] = object;
            }
        return objects;
    }

    QJsonObject Line(int input, const QString &folder, const char *status) const
    {
        const QString name = QFileInfo(Inputs[input]).completeBaseName() + QStringLiteral(".dxf");
        QJsonObject object{{"input", Inputs[input]},
                           {"output", QDir(folder).filePath(name)},
                           {"status", QString::fromLatin1(status)},
                           {"segments", 0}};
        if (QString::fromLatin1(status) == QLatin1String("ok"))
            object["segments"] = Segments(Expected, name);
        if (QString::fromLatin1(status) == QLatin1String("failed"))
            object["message"] = QStringLiteral("ファイルが読み込めませんした。 (TTzInternalDIB.LoadFromStream: "
                                               "The File Ends Before Its Picture Does (Stream read error))");
        return object;
    }

    static std::string Text(const QJsonObject &object)
    {
        return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
    }

    // The number of LINE entities of a DXF file.
    static int Segments(const QString &folder, const QString &name)
    {
        return static_cast<int>(ReadAll(QDir(folder).filePath(name)).count("\r\nLINE\r\n"));
    }

    QTemporaryDir Dir;
    QStringList Inputs;
    QString List;
    QString Expected;
};

TEST_F(ArchiveBatch, AKilledBatchResumesAndEndsWithTheOutputsOfAnUninterruptedRun)
{
    const QString out = Folder("out");
    QProcess first;
    first.start(CliProgram(), {"-q", "-j", "1", "-f", "dxf", "-o", out, "--files-from", List});
    ASSERT_TRUE(first.waitForStarted());
    while (Names(out).size() < 2 && !first.waitForFinished(1)) {
    }
    first.kill();
    first.waitForFinished(60000);
    ASSERT_EQ(first.exitStatus(), QProcess::CrashExit) << "the batch ended before it was killed";
    const QStringList done = Names(out);
    ASSERT_LT(done.size(), 8);

    // A stale output (older than its input) is made again.
    QFile stale(QDir(out).filePath(done.first()));
    ASSERT_TRUE(stale.open(QIODevice::ReadWrite));
    ASSERT_TRUE(stale.setFileTime(QDateTime::currentDateTime().addDays(-1), QFileDevice::FileModificationTime));
    stale.close();

    const QString report = Dir.filePath("report.jsonl");
    const TCliRun resumed = RunCliCapturing({"-q", "-f", "dxf", "-o", out, "--skip-existing", "--files-from",
                                             List, "--report", report});
    EXPECT_EQ(resumed.Status, 1);
    EXPECT_EQ(Outputs(out), Outputs(Expected));

    const std::map<QString, QJsonObject> objects = Report({report});
    EXPECT_EQ(objects.size(), 9u);
    for (int i = 0; i < Inputs.size(); ++i) {
        const QString name = QFileInfo(Inputs[i]).completeBaseName() + QStringLiteral(".dxf");
        const char *status = i == 3                                             ? "failed"
                             : done.contains(name) && name != done.first() ? "skipped"
                                                                            : "ok";
        EXPECT_EQ(Text(objects.at(Inputs[i])), Text(Line(i, out, status)));
    }
}

// The README's way to spread an archive over machines: GNU parallel cuts the
// list into pieces and feeds each to a command line (here all on this
// machine, ":" being the local one among the ssh logins).
TEST_F(ArchiveBatch, GnuParallelSpreadsTheListAndGivesTheSameOutputs)
{
    const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
    if (parallel.isEmpty())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING("GNU parallel is not installed (Debian package parallel)");
    const QString out = Folder("out");
    const QString reports = Folder("reports");
    QProcess process;
    process.setStandardInputFile(List);
    process.start(parallel, {"--will-cite", "--pipe", "-N", "3", "--sshlogin", "2/:", CliProgram(), "-q",
                             "-f", "dxf", "-o", out, "--skip-existing", "--files-from", "-", "--report",
                             reports + "/report-{#}.jsonl"});
    ASSERT_TRUE(process.waitForFinished(300000));
    EXPECT_EQ(process.exitCode(), 1) << process.readAllStandardError().toStdString();
    EXPECT_EQ(Outputs(out), Outputs(Expected));
    // Three pieces of three, and one of the list's last, empty line.
    const QStringList pieces = Names(reports);
    EXPECT_EQ(pieces.size(), 4);
    QStringList files;
    for (const QString &piece : pieces)
        files << QDir(reports).filePath(piece);
    const std::map<QString, QJsonObject> objects = Report(files);
    EXPECT_EQ(objects.size(), 9u);
    for (int i = 0; i < Inputs.size(); ++i)
        EXPECT_EQ(Text(objects.at(Inputs[i])), Text(Line(i, out, i == 3 ? "failed" : "ok")));
}

} // namespace
