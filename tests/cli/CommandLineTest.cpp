#include "cli/CommandLine.h"
#include "export/OutputFormats.h"

#include <gtest/gtest.h>

namespace {

TCliParse Parse(const QStringList &arguments)
{
    return ParseCommandLine(QStringList{QStringLiteral("trazbit-cli")} + arguments);
}

TEST(CommandLine, ReadsEveryOption)
{
    const TCliParse parse = Parse({"-o", "out", "--format=dxf", "-m", "box", "--magnification",
                                   "2.5", "--xrate", "0.98", "--yrate=1.02", "--settings", "s.ini",
                                   "-j", "3", "-q", "a.bmp", "b.png"});
    ASSERT_TRUE(parse.Options.has_value()) << parse.Text.toStdString();
    const TCliOptions &o = *parse.Options;
    EXPECT_EQ(o.Inputs, (QStringList{"a.bmp", "b.png"}));
    EXPECT_EQ(o.Output, QStringLiteral("out"));
    EXPECT_EQ(o.Format, FindOutputFormat(SaveFormatDxf));
    EXPECT_EQ(o.Mode, 2);
    EXPECT_EQ(o.Magnification, 2.5f);
    EXPECT_EQ(o.Xrate, 0.98f);
    EXPECT_EQ(o.Yrate, 1.02f);
    EXPECT_EQ(o.SettingsFile, QStringLiteral("s.ini"));
    EXPECT_EQ(o.Jobs, 3);
    EXPECT_TRUE(o.Quiet);
}

TEST(CommandLine, DefaultsLeaveTheStoredSettingsInCharge)
{
    const TCliParse parse = Parse({"plan.bmp"});
    ASSERT_TRUE(parse.Options.has_value());
    EXPECT_EQ(parse.Options->Magnification, 1.0f);
    EXPECT_FALSE(parse.Options->Mode.has_value());
    EXPECT_EQ(parse.Options->Format, nullptr);
    EXPECT_FALSE(parse.Options->Xrate.has_value());
    EXPECT_EQ(parse.Options->Jobs, 0);
}

TEST(CommandLine, ModesByNameOrNumber)
{
    const char *names[] = {"line", "box", "line2", "1", "2", "3", "LINE2"};
    const int modes[] = {1, 2, 3, 1, 2, 3, 3};
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(Parse({"-m", names[i], "a.bmp"}).Options->Mode, modes[i]) << names[i];
}

TEST(CommandLine, ScaleAndDpiGiveTheCalculatorsMagnification)
{
    const TCliParse parse = Parse({"--scale", "100", "--dpi", "400", "a.bmp"});
    ASSERT_TRUE(parse.Options.has_value());
    EXPECT_EQ(parse.Options->Magnification, 6.35f);
}

TEST(CommandLine, CleanupOptions)
{
    const TCliParse none = Parse({"a.bmp"});
    ASSERT_TRUE(none.Options.has_value());
    EXPECT_FALSE(none.Options->Threshold || none.Options->Despeckle || none.Options->Merge);
    EXPECT_FALSE(none.Options->Centerline);

    const TCliParse all = Parse({"--threshold", "AUTO", "--despeckle", "4", "--centerline", "--merge=1.5", "a.bmp"});
    ASSERT_TRUE(all.Options.has_value()) << all.Text.toStdString();
    EXPECT_EQ(all.Options->Threshold, QStringLiteral("auto"));
    EXPECT_EQ(all.Options->Despeckle, 4);
    EXPECT_TRUE(all.Options->Centerline);
    EXPECT_EQ(all.Options->Merge, QStringLiteral("1.5"));
    EXPECT_EQ(Parse({"--threshold", "128", "a.bmp"}).Options->Threshold, QStringLiteral("128"));

    const std::pair<QStringList, const char *> bad[] = {
        {{"--threshold", "256", "a.bmp"}, "trazbit-cli: option --threshold needs auto or a level of 0 to 255\n"},
        {{"--threshold", "", "a.bmp"}, "trazbit-cli: option --threshold needs auto or a level of 0 to 255\n"},
        {{"--despeckle", "-2", "a.bmp"}, "trazbit-cli: option --despeckle needs a pixel count of 0 or more\n"},
        {{"--despeckle", "x", "a.bmp"}, "trazbit-cli: option --despeckle needs a pixel count of 0 or more\n"},
        {{"--merge", "-1", "a.bmp"}, "trazbit-cli: option --merge needs a tolerance of 0 or more pixels\n"},
        {{"--merge", "wide", "a.bmp"}, "trazbit-cli: option --merge needs a tolerance of 0 or more pixels\n"},
    };
    for (const auto &[arguments, text] : bad) {
        const TCliParse parse = Parse(arguments);
        EXPECT_EQ(parse.ExitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(parse.Text.startsWith(QString::fromUtf8(text))) << parse.Text.toStdString();
    }
}

TEST(CommandLine, BadUsageExitsWithTwoAndSaysWhy)
{
    const QList<QStringList> bad{
        {},
        {"--bogus", "a.bmp"},
        {"-f", "pdf", "a.bmp"},
        {"-m", "4", "a.bmp"},
        {"--magnification", "abc", "a.bmp"},
        {"--scale", "100", "a.bmp"},
        {"--scale", "100", "--dpi", "0", "a.bmp"},
        {"--magnification", "2", "--scale", "1", "--dpi", "2", "a.bmp"},
        {"-j", "0", "a.bmp"},
        {"-o"},
        {"-o", "-", "a.bmp", "b.bmp"},
        {"-qx", "a.bmp"},
        {"--xrate", "1e40", "a.bmp"},
        {"--yrate", "inf", "a.bmp"},
        {"--magnification", "nan", "a.bmp"},
        {"--xrate", "1,5", "a.bmp"},
        {"--dpi", "-400", "--scale", "100", "a.bmp"},
        {"--magnification", "3e38", "--xrate", "3e38", "a.bmp"},
        {"--scale", "3e38", "--dpi", "0.001", "a.bmp"},
        {"--files-from="},
        {"--report=", "a.bmp"},
        {"--plugin-dir", "", "a.bmp"},
        {"--plugin-dir"},
        {"--max-pixels", "0", "a.bmp"},
        {"--max-pixels", "1e6", "a.bmp"},
    };
    for (const QStringList &arguments : bad) {
        const TCliParse parse = Parse(arguments);
        EXPECT_FALSE(parse.Options.has_value()) << arguments.join(' ').toStdString();
        EXPECT_EQ(parse.ExitCode, 2) << arguments.join(' ').toStdString();
        EXPECT_TRUE(parse.Text.startsWith("trazbit-cli: ")) << parse.Text.toStdString();
    }
}

TEST(CommandLine, ARatioOrMagnificationThatIsNoFloatIsNamed)
{
    EXPECT_EQ(Parse({"--xrate", "abc", "a.bmp"}).Text,
              QStringLiteral("trazbit-cli: option --xrate needs a number of 0 or more that a 32-bit "
                             "float holds, not \"abc\"\nTry 'trazbit-cli --help' for more information.\n"));
    EXPECT_TRUE(Parse({"--magnification", "3e38", "--yrate", "2", "a.bmp"})
                    .Text.startsWith("trazbit-cli: the magnification 3.00000001e+38 times --yrate 2 "
                                     "does not fit a 32-bit float\n"));
    // The largest that still fit.
    EXPECT_TRUE(Parse({"--magnification", "3e38", "--xrate", "1", "--yrate", "0", "a.bmp"}).Options);
}

TEST(CommandLine, BatchOptionsAndAListInsteadOfInputs)
{
    const TCliParse parse = Parse({"--files-from", "-", "--report", "r.jsonl", "--skip-existing"});
    ASSERT_TRUE(parse.Options.has_value()) << parse.Text.toStdString();
    EXPECT_TRUE(parse.Options->Inputs.isEmpty());
    EXPECT_EQ(parse.Options->FilesFrom, QStringLiteral("-"));
    EXPECT_EQ(parse.Options->Report, QStringLiteral("r.jsonl"));
    EXPECT_TRUE(parse.Options->SkipExisting);
    EXPECT_FALSE(Parse({"a.bmp"}).Options->SkipExisting);
    EXPECT_EQ(Parse({"a.bmp"}).Options->MaxPixels, 0);
    EXPECT_EQ(Parse({"--max-pixels", "5000000000", "a.bmp"}).Options->MaxPixels, 5000000000);
}

TEST(CommandLine, PluginFoldersRepeatAndTheFormatListNeedsNoInput)
{
    const TCliParse parse = Parse({"--plugin-dir", "a", "--plugin-dir=b", "--formats"});
    ASSERT_TRUE(parse.Options.has_value()) << parse.Text.toStdString();
    EXPECT_EQ(parse.Options->PluginDirs, (QStringList{"a", "b"}));
    EXPECT_TRUE(parse.Options->ListFormats);
    EXPECT_FALSE(Parse({"plan.bmp"}).Options->ListFormats);
}

TEST(CommandLine, HelpAndVersionExitWithZero)
{
    const TCliParse help = Parse({"--help"});
    EXPECT_FALSE(help.Options.has_value());
    EXPECT_EQ(help.ExitCode, 0);
    for (const char *option : {"--output <PATH>", "--format <FMT>", "txt | dxf | jwc | clip-txt | clip-jwt",
                               "--mode <MODE>", "--scale <N>", "--dpi <D>", "--settings <FILE>",
                               "--jobs <N>", "--max-pixels <N>", "--quiet", "--files-from <FILE>", "--report <FILE>",
                               "--skip-existing", "--plugin-dir <DIR>", "--formats", "Exit status"})
        EXPECT_TRUE(help.Text.contains(QLatin1String(option))) << option;
    EXPECT_TRUE(help.Text.startsWith("Usage: trazbit-cli [options] INPUT..."));
    EXPECT_EQ(Parse({"--version"}).Text, QStringLiteral("trazbit-cli 4.20\n"));
}

} // namespace
