#include "commands/SaveData.h"
#include "ExportFixture.h"

#include "export/ClipboardText.h"
#include "export/Cp932.h"

namespace {

// Keeps what the clipboard was given; can refuse it.
class TCapturedClipboard : public TClipboardTarget
{
public:
    bool Place(const QString &unicode, const QByteArray &cp932) override
    {
        ++Calls;
        Unicode = unicode;
        Cp932 = cp932;
        return Accept;
    }
    int Calls = 0;
    QString Unicode;
    QByteArray Cp932;
    bool Accept = true;
};

class ClipboardText : public TExportFixture
{
protected:
    TCapturedClipboard Clipboard;
};

TEST_F(ClipboardText, ZeroSegmentsInBothForms)
{
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Calls, 1);
    EXPECT_EQ(Clipboard.Cp932, QByteArray());
    EXPECT_EQ(Clipboard.Unicode, QString());

    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Calls, 2);
    EXPECT_EQ(Clipboard.Cp932, ";<<JWT.Format.Text>>\n\rBEGIN\n\rEND");
    EXPECT_EQ(Clipboard.Unicode, QStringLiteral(";<<JWT.Format.Text>>\n\rBEGIN\n\rEND"));
    EXPECT_TRUE(UI.Messages.isEmpty());
}

TEST_F(ClipboardText, LinesEndLineFeedThenCarriageReturn)
{
    Segments = {{100, 100, 200, 200}, {0, 0, 10, 5}};
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, "100 100 200 200\n\r0 0 10 5\n\r");
    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, ";<<JWT.Format.Text>>\n\rBEGIN\n\r"
                               "L2,0,100,100,200,200,1,1\n\r"
                               "L2,0,0,0,10,5,1,1\n\rEND");
}

TEST_F(ClipboardText, TheJwTranFormTakesLayerLineTypeAndPenButIgnoresTheTextNumberMode)
{
    Segments = {{0.5f, 1.25f, 10, 5}};
    Settings.TxtValueMode = 1;
    Settings.SaveGroup = 3;
    Settings.JwcSaveLayer = 2;
    Settings.JwcLineType = 9;
    Settings.JwcPenColor = 6;
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, "0 1 10 5\n\r");
    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, ";<<JWT.Format.Text>>\n\rBEGIN\n\rL2,50,0.5,1.25,10,5,9,6\n\rEND");

    // A stored group at the end of the integer range: N computed in 64 bits.
    Settings.SaveGroup = 2147483647;
    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, ";<<JWT.Format.Text>>\n\rBEGIN\n\rL2,34359738354,0.5,1.25,10,5,9,6\n\rEND");
    Settings.SaveGroup = 3;

    // Full precision in the JW_CAD form, 32-bit floats in the coordinate form.
    Segments = {{1, 1, 1, 1}};
    Magnification = 0.1f;
    Settings.Xrate = 3;
    Settings.TxtValueMode = 2;
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, "0.300000011920929 0.100000001490116 0.300000011920929 0.100000001490116\n\r");
    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, ";<<JWT.Format.Text>>\n\rBEGIN\n\r"
                               "L2,50,0.300000004470348,0.100000001490116,0.300000004470348,"
                               "0.100000001490116,9,6\n\rEND");
}

TEST_F(ClipboardText, JapaneseSeparatorsReachTheClipboardAsCodePage932AndAsUnicode)
{
    Segments = {{1, 2, 3, 4}};
    Settings.Divide1 = QStringLiteral("始");
    Settings.Divide2 = QStringLiteral("、");
    Settings.Divide5 = QStringLiteral("〜€");  // the wave dash has a code; the euro sign has none
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 0);
    EXPECT_EQ(Clipboard.Cp932, Bytes({0x8E, 0x6E}) + "1" + Bytes({0x81, 0x41}) + "2 3 4"
                                   + Bytes({0x81, 0x60}) + "?\n\r");
    EXPECT_EQ(Clipboard.Unicode, QStringLiteral("始1、2 3 4～?\n\r"));
    EXPECT_EQ(ToCp932(Clipboard.Unicode), Clipboard.Cp932);
}

TEST_F(ClipboardText, ProgressStepsOncePerHundredSegments)
{
    Segments.assign(250, TSegment{1, 2, 3, 4});
    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 0);
    EXPECT_EQ(UI.ProgressMaximum, 2);
    EXPECT_EQ(UI.ProgressPosition, 2);
    EXPECT_EQ(UI.Pumps, 2);
    UI.Pumps = 0;
    UI.ProgressPosition = -1;
    Segments.assign(99, TSegment{1, 2, 3, 4});
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 0);
    EXPECT_EQ(UI.ProgressMaximum, 0);
    EXPECT_EQ(UI.ProgressPosition, -1);
    EXPECT_EQ(UI.Pumps, 0);
    EXPECT_EQ(Clipboard.Cp932.count("\n\r"), 99);
}

TEST_F(ClipboardText, ATextThatCannotGrowIsCopiedAsFarAsItGoesOnlyInTheCoordinateForm)
{
    Segments = {{1, 2, 3, 4}, {5, 6, 7, 8}, {9, 10, 11, 12}};
    TExportContext context = Context();
    context.ClipboardTextLimit = 20;
    EXPECT_EQ(SaveData4(context, UI, Clipboard), 1);
    EXPECT_EQ(UI.Messages, QStringList{QStringLiteral("コピーできませんでした。")});
    EXPECT_EQ(Clipboard.Calls, 1);
    EXPECT_EQ(Clipboard.Cp932, "1 2 3 4\n\r5 6 7 8\n\r");

    context.ClipboardTextLimit = 60;
    EXPECT_EQ(SaveData5(context, UI, Clipboard), 1);
    EXPECT_EQ(UI.Messages.size(), 2);
    EXPECT_EQ(UI.Messages.last(), QStringLiteral("コピーできませんでした。"));
    EXPECT_EQ(Clipboard.Calls, 1);

    const TClipboardText text = JwTranClipboardText(context);
    EXPECT_FALSE(text.Complete);
    EXPECT_TRUE(text.Cp932.isEmpty());
    context.ClipboardTextLimit = 200;
    EXPECT_TRUE(JwTranClipboardText(context).Complete);
}

TEST_F(ClipboardText, AClipboardThatRefusesTheTextIsAFailure)
{
    Segments = {{1, 2, 3, 4}};
    Clipboard.Accept = false;
    EXPECT_EQ(SaveData4(Context(), UI, Clipboard), 1);
    EXPECT_EQ(SaveData5(Context(), UI, Clipboard), 1);
    EXPECT_EQ(UI.Messages, QStringList({QStringLiteral("コピーできませんでした。"),
                                        QStringLiteral("コピーできませんでした。")}));
}

} // namespace
