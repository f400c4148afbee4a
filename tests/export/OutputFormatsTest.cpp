#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "export/ClipboardText.h"
#include "export/OutputFormats.h"

#include <QBuffer>

namespace {

class OutputFormats : public TExportFixture
{
};

TEST_F(OutputFormats, EveryRowNamesItsOutputs)
{
    Settings.FileExtention = "dat";
    struct Row
    {
        TSaveFormat Mode;
        const char *Name, *Extension, *Filter, *Label;
    };
    const Row rows[] = {
        {SaveFormatText, "txt", "dat", "座標ﾌｧｲﾙ(*.dat)|*.dat", "plan.datをdat形式で保存中"},
        {SaveFormatDxf, "dxf", "dxf", "DXFﾌｧｲﾙ(*.dxf)|*.dxf", "plan.datをDXF形式で保存中"},
        {SaveFormatJwc, "jwc", "jwc", "JW_CADﾌｧｲﾙ(*.jwc)|*.jwc", "plan.datをJWC形式で保存中"},
        {SaveFormatClipText, "clip-txt", "dat", nullptr, "座標形式"},
        {SaveFormatClipJwt, "clip-jwt", "jwt", nullptr, "JWTran形式"},
    };
    ASSERT_EQ(::OutputFormats().size(), std::size(rows));
    for (const Row &row : rows) {
        const TOutputFormat *format = FindOutputFormat(QString::fromLatin1(row.Name).toUpper());
        ASSERT_EQ(format, FindOutputFormat(row.Mode)) << row.Name;
        EXPECT_EQ(format->Extension(Settings), QString::fromLatin1(row.Extension));
        EXPECT_EQ(format->IsFile(), row.Filter != nullptr);
        if (row.Filter) {
            EXPECT_EQ(format->DialogFilter(Settings), QString::fromUtf8(row.Filter));
        }
        EXPECT_EQ(format->ProgressLabel(Settings, "/x/plan.dat"), QString::fromUtf8(row.Label));
        EXPECT_EQ(format->WrittenFileName("/a.b/plan.txt", Settings),
                  QStringLiteral("/a.b/plan.") + row.Extension);
    }
    EXPECT_EQ(FindOutputFormat("pdf"), nullptr);
    EXPECT_EQ(FindOutputFormat(6), nullptr);
    EXPECT_EQ(SaveDialogFilter(Settings),
              "座標ﾌｧｲﾙ(*.dat)|*.dat|DXFﾌｧｲﾙ(*.dxf)|*.dxf|JW_CADﾌｧｲﾙ(*.jwc)|*.jwc");
}

TEST_F(OutputFormats, AChosenNameAsksForAFileFormatByItsExtensionAlone)
{
    const std::pair<const char *, TSaveFormat> cases[] = {
        {"plan.Dxf", SaveFormatDxf}, {"/a.b/plan.JWC", SaveFormatJwc}, {"plan.abc", SaveFormatText},
        {"plan", SaveFormatText},    {"dir.dxf/plan", SaveFormatText}, {"plan.jwt", SaveFormatText},
        {"plan.dxf.txt", SaveFormatText}};
    for (const auto &[name, mode] : cases)
        EXPECT_EQ(OutputFormatForFileName(name).Mode, mode) << name;
}

TEST_F(OutputFormats, EachWriterWritesToAnyDeviceWhatItsCommandWrites)
{
    Segments = {{0, 0, 10, 5}, {1.5f, 2.25f, 100, 200}};
    MaxX = 100;
    MaxY = 200;
    Settings.Divide1 = QStringLiteral("表");
    Settings.SaveLayerName = QStringLiteral("ソ");
    struct TCaught : TClipboardTarget
    {
        bool Place(const QString &, const QByteArray &cp932) override
        {
            Bytes = cp932;
            return true;
        }
        QByteArray Bytes;
    } clipboard;
    for (const TOutputFormat &format : ::OutputFormats()) {
        QByteArray expected;
        if (format.IsFile()) {
            ASSERT_EQ(SaveFile(format, Context(), UI, Path("chosen")), WriteDone) << format.Name;
            expected = Read(QStringLiteral("chosen.") + format.Extension(Settings));
        } else {
            ASSERT_EQ(CopyText(format, Context(), UI, clipboard), WriteDone) << format.Name;
            expected = clipboard.Bytes;
        }
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        const std::unique_ptr<TFormatWriter> writer = format.NewWriter();
        ASSERT_EQ(writer->Prepare(Context()), WriteDone);
        ASSERT_TRUE(writer->Write(Context(), buffer)) << format.Name;
        EXPECT_GT(expected.size(), 30) << format.Name;
        EXPECT_EQ(buffer.data(), expected) << format.Name;
    }
}

} // namespace
