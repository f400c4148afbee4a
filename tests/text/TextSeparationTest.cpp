#include "text/TextSeparation.h"

#include "TextDrawings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

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
    bool Touching;     // the label's letters stand on the line and cross it
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
            if (!c.Touching || x < 140 || x > 700) {
                ASSERT_FALSE(s.Text.Black(x, y)) << x << "," << y;
            }
    if (c.Touching) {
        // The line keeps every pixel; the letters standing on it, all but
        // their pixels on the line, are one string.
        EXPECT_EQ(BlackIn(s.Graphics, 100, 600, 1101, 604), 1001 * 4);
        ASSERT_EQ(s.Strings.size(), 1u);
        EXPECT_FALSE(s.Strings[0].Vertical);
        const long long offLine = BlackIn(mask, 0, 0, 1200, 600) + BlackIn(mask, 0, 604, 1200, 900);
        EXPECT_GE(BlackIn(s.Text, 0, 0, 1200, 900), offLine * 9 / 10);
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
    EXPECT_NEAR(t.Baseline, 560, 2);   // drawn on row 560 (column 560 turned)
}

INSTANTIATE_TEST_SUITE_P(Labels, LabelBesideALine,
                         ::testing::Values(TLabelCase{"Across", 0, false}, TLabelCase{"Upward", 90, false},
                                           TLabelCase{"OnTheLine", 0, true}),
                         [](const auto &info) { return std::string(info.param.Name); });

// A short label standing on a short line (shorter than the longest letter
// looked for), across and turned upward: the letters are text and the line
// keeps every pixel, and a speck beyond it. A letter with a long bar at its
// foot ("立" turned upward: the bar runs the letter's full length) stays whole.
TEST(SeparateText, LabelOnAShortLine)
{
    struct TCase
    {
        const char *Text;
        int Degrees;
        bool Line;
    };
    for (const TCase c : {TCase{"t=12", 0, true}, TCase{"t=12", 90, true}, TCase{"立", 90, false}}) {
        QImage image = WhiteSheet(400, 400);
        Label(image, QString::fromUtf8(c.Text), 200, 200, 40, c.Degrees);
        if (c.Line && c.Degrees == 0) {
            Bar(image, 185, 197, 320, 199);   // under the label, its letters' feet on it
            Bar(image, 250, 200, 254, 200);   // a speck under the line: the line's
        }
        else if (c.Line)
            Bar(image, 197, 80, 199, 215);    // right of the label turned upward, its feet on it
        const TBlackMask mask = MaskOfImage(image);
        const TTextSeparation s = SeparateText(mask, k400);
        ExpectSplit(mask, s);
        ASSERT_EQ(s.Strings.size(), 1u) << c.Text << " " << c.Degrees;
        if (!c.Line) {
            EXPECT_EQ(BlackIn(s.Text, 0, 0, 400, 400), BlackIn(mask, 0, 0, 400, 400)) << c.Text;
            continue;
        }
        EXPECT_EQ(s.Strings[0].Vertical, c.Degrees == 90) << c.Text;
        // "t", "1" and "2" stand on the line (one piece with it); the bars of "=" do not.
        EXPECT_EQ(FindComponents(mask).Components.size(), 3u) << c.Degrees;
        const bool across = c.Degrees == 0;
        const long long line = across ? BlackIn(mask, 185, 197, 321, 200) : BlackIn(mask, 197, 80, 200, 216);
        EXPECT_EQ(line, 136 * 3);
        EXPECT_EQ(across ? BlackIn(s.Graphics, 185, 197, 321, 200) : BlackIn(s.Graphics, 197, 80, 200, 216), line);
        EXPECT_EQ(BlackIn(s.Text, 0, 200, 400, 400), 0);
        const long long letters = across ? BlackIn(mask, 0, 0, 400, 197) : BlackIn(mask, 0, 0, 197, 400);
        EXPECT_GE(BlackIn(s.Text, 0, 0, 400, 400), letters * 9 / 10) << c.Degrees;
    }
}

// A label written upright from (200, 200), 40 px high, or turned upward, with
// a short line 3 px thick along the letters' heads (rows head - 2 .. head,
// columns 185 .. 300; turned: those columns, rows 100 .. 215); returns head.
static int HangUnderAShortLine(QImage &image, const char *text, int degrees)
{
    Label(image, QString::fromUtf8(text), 200, 200, 40, degrees);
    const TBlackMask letters = MaskOfImage(image);
    // The letters' heads: their first row (first column, turned upward).
    int head = image.height();
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (letters.Black(x, y))
                head = std::min(head, degrees == 0 ? y : x);
    if (degrees == 0)
        Bar(image, 185, head - 2, 300, head);
    else
        Bar(image, head - 2, 100, head, 215);
    return head;
}

// A short label hanging under a short line (right of it, turned upward: the
// letters' heads on it): the letters are text and the line keeps every pixel.
TEST(SeparateText, LabelHangingUnderAShortLine)
{
    for (const int degrees : {0, 90}) {
        QImage image = WhiteSheet(400, 400);
        const int head = HangUnderAShortLine(image, "1200", degrees);
        const bool across = degrees == 0;
        const TBlackMask mask = MaskOfImage(image);
        ASSERT_EQ(FindComponents(mask).Components.size(), 1u) << degrees;
        const TTextSeparation s = SeparateText(mask, k400);
        ExpectSplit(mask, s);
        ASSERT_EQ(s.Strings.size(), 1u) << degrees;
        EXPECT_EQ(s.Strings[0].Vertical, !across);
        const long long line = across ? BlackIn(mask, 185, head - 2, 301, head + 1) : BlackIn(mask, head - 2, 100, head + 1, 216);
        EXPECT_EQ(line, 116 * 3);
        EXPECT_EQ(across ? BlackIn(s.Graphics, 185, head - 2, 301, head + 1) : BlackIn(s.Graphics, head - 2, 100, head + 1, 216), line);
        const long long below = across ? BlackIn(mask, 0, head + 1, 400, 400) : BlackIn(mask, head + 1, 0, 400, 400);
        EXPECT_GE(BlackIn(s.Text, 0, 0, 400, 400), below * 9 / 10) << degrees;
    }
}

// One or two letters hanging under a short line (fewer than a label has; the
// stem of a letter turned upward with strokes to one side) stay with the line.
TEST(SeparateText, FewLettersHangingUnderAShortLineStayWithIt)
{
    for (const int degrees : {0, 90}) {
        QImage image = WhiteSheet(400, 400);
        HangUnderAShortLine(image, "12", degrees);
        const TBlackMask mask = MaskOfImage(image);
        ASSERT_EQ(FindComponents(mask).Components.size(), 1u) << degrees;
        const TTextSeparation s = SeparateText(mask, k400);
        EXPECT_TRUE(s.Strings.empty()) << degrees;
        EXPECT_TRUE(AllWhite(s.Text)) << degrees;
    }
}

// "φ" standing on a line, its descender crossing it: the descender, a piece
// of its own under the line, is text with the rest of the label.
TEST(SeparateText, DescenderThroughALineIsText)
{
    QImage image = WhiteSheet(1200, 900);
    Bar(image, 100, 600, 1100, 601);
    Label(image, QStringLiteral("φ25"), 150, 597, 100);   // only the descender reaches the line
    const TBlackMask mask = MaskOfImage(image);
    TTextSizes sizes = k400;
    sizes.MinHeight = 4;   // the descender's piece is no small speck
    const TTextSeparation s = SeparateText(mask, sizes);
    ExpectSplit(mask, s);
    ASSERT_EQ(s.Strings.size(), 1u);
    EXPECT_EQ(BlackIn(s.Graphics, 100, 600, 1101, 602), 1001 * 2);
    const long long under = BlackIn(mask, 0, 602, 1200, 900);
    EXPECT_GT(under, 3 * 3) << "no descender under the line";
    EXPECT_EQ(BlackIn(s.Text, 0, 602, 1200, 900), under);
}

// Large letters with solid stems ("i", "l": solid bars thicker than half the
// smallest letter) are letters, not fills.
TEST(SeparateText, SolidStemsAreLetters)
{
    QImage image = WhiteSheet(800, 200);
    Label(image, QStringLiteral("Section lit"), 20, 150, 120);
    const TBlackMask mask = MaskOfImage(image);
    const TTextSeparation s = SeparateText(mask, TTextSizes::ForResolution(0));
    ASSERT_EQ(s.Strings.size(), 1u);
    EXPECT_EQ(BlackIn(s.Text, 0, 0, 800, 200), BlackIn(mask, 0, 0, 800, 200));
}

// A comma as tall as the smallest letter, mostly under the digits' feet,
// follows no digit: it joins their string, not a string of its own.
TEST(SeparateText, ALoneGlyphInAStringJoinsIt)
{
    QImage image = WhiteSheet(600, 200);
    Label(image, QStringLiteral("3 450"), 20, 150, 110);
    Bar(image, 84, 146, 89, 161);
    const TBlackMask mask = MaskOfImage(image);
    const TTextSeparation s = SeparateText(mask, TTextSizes::ForResolution(0));
    ASSERT_EQ(s.Strings.size(), 1u);
    EXPECT_EQ(BlackIn(s.Text, 0, 0, 600, 200), BlackIn(mask, 0, 0, 600, 200));
}

// Labels of letters made of two straight arms ("7", "L", "V", "く") and of
// thin strokes stay text: their arms are short for the strokes' thickness; so
// do lone curved letters ("C", "つ"): their curves are no circle's, and lone
// square rings ("口", "ロ"): they reach into their boxes' corners.
TEST(SeparateText, LettersOfTwoArmsAreText)
{
    for (const char *text : {"17", "LV", "く7", "7", "C", "つ", "口", "ロ"})
        for (const int size : {40, 79}) {
            QImage image = WhiteSheet(400, 200);
            Label(image, QString::fromUtf8(text), 20, 150, size);
            const TBlackMask mask = MaskOfImage(image);
            const TTextSeparation s = SeparateText(mask, k400);
            EXPECT_EQ(BlackIn(s.Text, 0, 0, 400, 200), BlackIn(mask, 0, 0, 400, 200)) << text << " " << size;
        }
}

// A dashed line (one ending in an arrowhead), rings (thin and large, small
// and thick, two one above the other), corners, frames, arcs and a dot on a
// line are drawing, not text.
TEST(SeparateText, DashesAndRingsStayGraphics)
{
    QImage image = WhiteSheet(1200, 1300);
    for (int x = 100; x < 1100; x += 40)
        Bar(image, x, 100, x + 24, 103);             // dashes 25 x 4 px, 15 px apart
    for (int x = 100; x < 400; x += 27)
        Bar(image, x, 170, x + 24, 171);             // a thin line broken, ending in an arrowhead
    Bar(image, 1100, 200, 1129, 207);                // a solid dash alone, 30 x 8 px
    // A thick line with a dot where a branch leaves it.
    Bar(image, 100, 1197, 500, 1202);
    Bar(image, 297, 1200, 302, 1290);
    {
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawEllipse(QPointF(300, 1200), 15, 15);
    }
    {
        QPainter painter(&image);
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::black);
        painter.drawPolygon(QPolygonF({QPointF(410, 163), QPointF(450, 170.5), QPointF(410, 178)}));
    }
    {
        QPainter painter(&image);
        painter.setPen(QPen(Qt::black, 3));
        painter.drawEllipse(QPoint(600, 280), 60, 60);
        // Dashes 40 px long along slanting lines (30 and 45 degrees): their
        // boxes are no long thin boxes.
        painter.setPen(QPen(Qt::black, 4, Qt::SolidLine, Qt::FlatCap));
        for (const double degrees : {30.0, 45.0})
            for (int k = 0; k < 12; ++k) {
                const double c = std::cos(degrees * M_PI / 180), s = std::sin(degrees * M_PI / 180);
                const QPointF from(100 + (degrees == 30 ? 0 : 500) + 55 * k * c, 780 - 55 * k * s);
                painter.drawLine(from, from + QPointF(40 * c, -40 * s));
            }
        painter.setPen(QPen(Qt::black, 4));
        painter.drawEllipse(QPoint(200, 950), 25, 25);
        painter.setPen(QPen(Qt::black, 6));
        painter.drawEllipse(QPoint(700, 900), 40, 40);
        painter.drawEllipse(QPoint(720, 1040), 40, 40);
        // Corners of two straight arms of letter size: an "L" alone, a "V"
        // and an L turned 12 degrees side by side.
        painter.setPen(QPen(Qt::black, 4));
        painter.drawPolyline(QPolygonF({QPointF(950, 850), QPointF(950, 900), QPointF(990, 900)}));
        painter.drawPolyline(QPolygonF({QPointF(900, 1000), QPointF(920, 1050), QPointF(940, 1000)}));
        painter.drawPolyline(QPolygonF({QPointF(960, 1000), QPointF(950, 1048), QPointF(995, 1058)}));
        painter.setPen(QPen(Qt::black, 3));
        painter.drawRoundedRect(QRectF(350, 900, 80, 150), 10, 10);   // a rounded frame
        painter.setPen(QPen(Qt::black, 5));
        painter.drawArc(QRectF(1070, 920, 60, 60), 45 * 16, 270 * 16);   // a lone arc, a "C"
        painter.setPen(QPen(Qt::black, 9, Qt::SolidLine, Qt::FlatCap));
        painter.drawArc(QRectF(1100, 620, 40, 40), 35 * 16, 110 * 16);    // short and thick
        painter.setPen(QPen(Qt::black, 3));
        // A frame turned 2 degrees, a scan's speck just inside its top.
        painter.translate(540, 960);
        painter.rotate(2);
        painter.drawRect(QRectF(-40, -75, 80, 150));
        painter.fillRect(-20, -71, 2, 2, Qt::black);
    }
    const TBlackMask mask = MaskOfImage(image);
    const TTextSeparation s = SeparateText(mask, k400);
    EXPECT_TRUE(s.Strings.empty());
    EXPECT_TRUE(AllWhite(s.Text));
}

// A picture that declares no resolution, or a screen's (96 dpi), still holds
// letters of a scanned drawing: 5 mm at 400 dpi, 79 px.
TEST(SeparateText, LargeLettersWithoutAResolutionAreText)
{
    QImage image = WhiteSheet(1400, 600);
    Label(image, QStringLiteral("北側 立面図"), 100, 300, 79);
    Bar(image, 100, 400, 1300, 403);
    const TBlackMask mask = MaskOfImage(image);
    for (const int dpi : {0, 72, 96}) {
        const TTextSeparation s = SeparateText(mask, TTextSizes::ForResolution(dpi));
        ExpectSplit(mask, s);
        ASSERT_FALSE(s.Strings.empty()) << dpi;   // the two words may stand apart
        EXPECT_EQ(BlackIn(s.Text, 0, 0, 1400, 600), BlackIn(mask, 0, 0, 1400, 395)) << dpi;
    }
}

// Lines shared among threads in bands give the same pieces, numbered alike.
TEST(FindComponents, AnyNumberOfThreadsGivesTheSamePieces)
{
    QImage image = WhiteSheet(900, 1400);
    Label(image, QStringLiteral("尺度 1:100"), 50, 300, 55);
    Label(image, QStringLiteral("GL+1500"), 300, 1200, 60, 90);
    Bar(image, 600, 10, 603, 1390);                  // one piece across every band
    const TBlackMask mask = MaskOfImage(image);
    const TInkComponents one = FindComponents(mask, 1);
    ASSERT_GT(one.Components.size(), 10u);
    for (const int threads : {2, 5}) {
        const TInkComponents many = FindComponents(mask, threads);
        ASSERT_EQ(many.Components.size(), one.Components.size()) << threads;
        for (std::size_t i = 0; i < one.Components.size(); ++i) {
            const TInkComponent &a = one.Components[i], &b = many.Components[i];
            ASSERT_EQ((std::vector<long long>{a.Left, a.Top, a.Right, a.Bottom, a.Pixels}),
                      (std::vector<long long>{b.Left, b.Top, b.Right, b.Bottom, b.Pixels}))
                << threads << " piece " << i;
        }
        EXPECT_TRUE(std::equal(one.RunComponent.begin(), one.RunComponent.end(), many.RunComponent.begin(),
                               many.RunComponent.end()));
    }
}

// A point belongs to the first string whose box (grown by the margin) holds it.
TEST(StringLookup, FirstStringHoldingThePoint)
{
    TTextStrings strings(3);
    const int boxes[3][4] = {{100, 100, 400, 150}, {300, 120, 700, 170}, {1000, 900, 1040, 1300}};
    for (std::size_t k = 0; k < 3; ++k) {
        strings[k].Left = boxes[k][0];
        strings[k].Top = boxes[k][1];
        strings[k].Right = boxes[k][2];
        strings[k].Bottom = boxes[k][3];
    }
    const TStringLookup lookup(strings, 1);
    const struct
    {
        float X, Row;
        std::size_t Owner;
    } cases[] = {{99, 100, 0},   {98.5f, 100, 3}, {350, 130, 0},    {450, 130, 1},     {701, 171, 1},
                 {702, 171, 3},  {1020, 1299, 2}, {1020, 1302, 3},  {-5, 120, 3},      {5000, 5000, 3}};
    for (const auto &c : cases)
        EXPECT_EQ(lookup.Find(c.X, c.Row), c.Owner) << c.X << "," << c.Row;
}

} // namespace
