#include "text/TextSeparation.h"

#include "TextDrawings.h"

#include <gtest/gtest.h>

namespace {

const TTextSizes k400 = TTextSizes::ForResolution(400);

TEST(FindComponents, PiecesTouchingAtACornerAreOne)
{
    TBlackMask mask(200, 10);
    // A diagonal (one piece), a bar crossing a word boundary, a lone pixel.
    for (int i = 0; i < 5; ++i)
        mask.SetBlack(i, i);
    for (int x = 60; x < 130; ++x)
        mask.SetBlack(x, 7);
    mask.SetBlack(199, 0);
    const TInkComponents ink = FindComponents(mask);
    ASSERT_EQ(ink.Components.size(), 3u);
    const TInkComponent &d = ink.Components[0];
    EXPECT_EQ((std::vector<int>{d.Left, d.Top, d.Right, d.Bottom}), (std::vector<int>{0, 0, 5, 5}));
    EXPECT_EQ(d.Pixels, 5);
    EXPECT_EQ(ink.Components[1].Left, 199);
    EXPECT_EQ(ink.Components[2].Pixels, 70);
    EXPECT_EQ(ink.Components[2].Right, 130);
}

// Every black pixel lands in exactly one of the two masks.
void ExpectSplit(const TBlackMask &mask, const TTextSeparation &s)
{
    for (int y = 0; y < mask.Height(); ++y)
        for (int w = 0; w < mask.Words(); ++w) {
            ASSERT_EQ(s.Text.Line(y)[w] & s.Graphics.Line(y)[w], 0u);
            ASSERT_EQ(s.Text.Line(y)[w] | s.Graphics.Line(y)[w], mask.Line(y)[w]);
        }
}

struct TLabelCase
{
    const char *Name;
    int Degrees;       // the label's turn
    bool Touching;     // the label's last letter sits on the line
};

class LabelBesideALine : public ::testing::TestWithParam<TLabelCase>
{
};

// A 3.5 mm label at 400 dpi (55 px) beside a 4 px line: the label is text, the line is not.
TEST_P(LabelBesideALine, LabelIsTextLineIsNot)
{
    const TLabelCase c = GetParam();
    QImage image = WhiteSheet(1200, 900);
    Bar(image, 100, 600, 1100, 603);                 // the line
    if (c.Degrees == 0)
        Label(image, QStringLiteral("尺度 1:100"), 150, c.Touching ? 609 : 560, 55);
    else
        Label(image, QStringLiteral("尺度 1:100"), 560, 560, 55, 90);
    const TBlackMask mask = MaskOfImage(image);
    const TTextSeparation s = SeparateText(mask, k400);
    ExpectSplit(mask, s);

    // Not one pixel of the line in the text.
    const int lineLeft = c.Touching ? 100 : 100, lineRight = 1101;
    for (int x = lineLeft; x < lineRight; ++x)
        for (int y = 600; y <= 603; ++y)
            if (!c.Touching || x < 140 || x > 700)
                ASSERT_FALSE(s.Text.Black(x, y)) << x << "," << y;
    if (c.Touching) {
        EXPECT_EQ(BlackIn(s.Graphics, 100, 600, 1101, 604), 1001 * 4);
        return;
    }
    std::string found;
    for (const TTextString &t : s.Strings)
        found += " [" + std::to_string(t.Left) + "," + std::to_string(t.Top) + "," + std::to_string(t.Right) + ","
            + std::to_string(t.Bottom) + (t.Vertical ? " up " : " ") + std::to_string(t.Glyphs) + "]";
    ASSERT_EQ(s.Strings.size(), 1u) << found;
    const TTextString &t = s.Strings[0];
    EXPECT_EQ(t.Vertical, c.Degrees == 90);
    // Every pixel of the label is text: all black above the line (or left of it).
    const long long label = c.Degrees == 0 ? BlackIn(mask, 0, 0, 1200, 598) : BlackIn(mask, 0, 0, 1200, 598);
    EXPECT_EQ(BlackIn(s.Text, 0, 0, 1200, 900), label);
    EXPECT_EQ(t.Glyphs, 6);   // 尺 度 1 1 0 0; the colon's dots join as small pieces
}

INSTANTIATE_TEST_SUITE_P(Labels, LabelBesideALine,
                         ::testing::Values(TLabelCase{"Across", 0, false}, TLabelCase{"Upward", 90, false},
                                           TLabelCase{"OnTheLine", 0, true}),
                         [](const auto &info) { return std::string(info.param.Name); });

// A dashed line and a ring are drawing, not text.
TEST(SeparateText, DashesAndALoneRingStayGraphics)
{
    QImage image = WhiteSheet(1200, 400);
    for (int x = 100; x < 1100; x += 40)
        Bar(image, x, 100, x + 24, 103);             // dashes 25 x 4 px, 15 px apart
    {
        QPainter painter(&image);
        painter.setPen(QPen(Qt::black, 3));
        painter.drawEllipse(QPoint(600, 280), 60, 60);
    }
    const TBlackMask mask = MaskOfImage(image);
    const TTextSeparation s = SeparateText(mask, k400);
    EXPECT_TRUE(s.Strings.empty());
    EXPECT_TRUE(s.Text.AllWhite());
}

} // namespace
