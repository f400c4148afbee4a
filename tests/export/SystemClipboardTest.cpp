// The clipboard text as another program sees it: the clipboard command runs in
// a helper program on an X server of its own (Xvfb) and xclip, a second
// process, reads the clipboard as Unicode text and as code page 932 bytes.

#include "ExportFixture.h"
#include "support/OutsideProgram.h"

#include <QProcess>
#include <QStandardPaths>

namespace {

const char kScript[] = R"SH(
set -u
tool=$1; out=$2
for tag in 1 2; do
  QT_QPA_PLATFORM=xcb "$tool" $tag "$out/ready$tag" 2>"$out/tool$tag.err" &
  owner=$!
  i=0
  while [ ! -s "$out/ready$tag" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done
  xclip -selection clipboard -o -t TARGETS > "$out/targets$tag"
  xclip -selection clipboard -o -t UTF8_STRING > "$out/unicode$tag"
  xclip -selection clipboard -o -t 'text/plain;charset=Shift_JIS' > "$out/cp932-$tag"
  kill $owner
  wait $owner
done
exit 0
)SH";

class SystemClipboard : public TExportFixture
{
};

TEST_F(SystemClipboard, AnotherProgramReadsTheTextInBothForms)
{
    const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("xvfb-run"));
    const QString xclip = QStandardPaths::findExecutable(QStringLiteral("xclip"));
    if (xvfb.isEmpty() || xclip.isEmpty())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING("xvfb-run or xclip is missing (scripts/setup installs xvfb, "
                                        "xauth and xclip): the clipboard was not read by another "
                                        "program");
    const QString tool = QStringLiteral(TRAZBIT_BINARY_DIR "/tool_ClipboardOwner");
    ASSERT_TRUE(QFile::exists(tool)) << tool.toStdString();
    Write("read.sh", kScript);

    QProcess run;
    run.setProcessChannelMode(QProcess::MergedChannels);
    run.start(xvfb, {QStringLiteral("-a"), QStringLiteral("-s"), QStringLiteral("-screen 0 640x480x24"),
                     QStringLiteral("/bin/sh"), Path("read.sh"), tool, Dir.path()});
    ASSERT_TRUE(run.waitForFinished(180000)) << "xvfb-run did not finish";
    const std::string log = run.readAll().toStdString();
    ASSERT_EQ(run.exitCode(), 0) << log;
    if (Read("ready1").isEmpty())
        TRAZBIT_OUTSIDE_PROGRAM_MISSING("no X server could be started: " << log);

    for (const char *tag : {"1", "2"}) {
        SCOPED_TRACE(std::string("form ") + tag + ": " + Read(QStringLiteral("tool%1.err").arg(tag)).toStdString());
        EXPECT_EQ(Read(QStringLiteral("ready%1").arg(tag)), "copied");
        const QByteArray targets = Read(QStringLiteral("targets%1").arg(tag));
        EXPECT_TRUE(targets.contains("UTF8_STRING")) << targets.toStdString();
        EXPECT_TRUE(targets.contains("text/plain;charset=Shift_JIS")) << targets.toStdString();
    }
    EXPECT_EQ(Read("cp932-1"), Bytes({0x8E, 0x6E}) + "0" + Bytes({0x81, 0x41}) + "0 10 5"
                                   + Bytes({0x81, 0x60}) + "\n\r" + Bytes({0x8E, 0x6E}) + "1.5"
                                   + Bytes({0x81, 0x41}) + "2.25 100 200" + Bytes({0x81, 0x60})
                                   + "\n\r");
    EXPECT_EQ(QString::fromUtf8(Read("unicode1")),
              QStringLiteral("始0、0 10 5～\n\r始1.5、2.25 100 200～\n\r"));
    const QByteArray jw = ";<<JWT.Format.Text>>\n\rBEGIN\n\rL2,0,0,0,10,5,1,1\n\r"
                          "L2,0,1.5,2.25,100,200,1,1\n\rEND";
    EXPECT_EQ(Read("cp932-2"), jw);
    EXPECT_EQ(Read("unicode2"), jw);
}

} // namespace
