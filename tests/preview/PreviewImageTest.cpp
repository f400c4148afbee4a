#include "preview/PreviewImage.h"
#include "scan/SegmentList.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

// A sheet with a traced row stroke and a column stroke, and one black pixel
// that no segment covers; segments as the line modes store them (Y = H - row).
struct TSheet
{
    TSheet(int width, int height) : Mask(std::make_shared<TBlackMask>(width, height))
    {
        Row = height / 3;
        Column = width * 3 / 4;
        for (int x = width / 10; x < width / 2; ++x)
            Mask->SetBlack(x, Row);
        for (int y = height / 2; y < height - 1; ++y)
            Mask->SetBlack(Column, y);
        Mask->SetBlack(width - 2, 1);
        EXPECT_TRUE(List.ResetSegments());
        List.ImageHeight = static_cast<float>(height);
        List.AddSegment(static_cast<float>(width / 10), static_cast<float>(Row),
                        static_cast<float>(width / 2 - 1), static_cast<float>(Row));
        List.AddSegment(static_cast<float>(Column), static_cast<float>(height - 2),
                        static_cast<float>(Column), static_cast<float>(height / 2));
    }

    std::shared_ptr<TBlackMask> Mask;
    TSegmentList List;
    int Row;
    int Column;
};

QRgb At(const QImage &image, double x, double y)
{
    return image.pixel(static_cast<int>(x), static_cast<int>(y));
}

} // namespace

TEST(PreviewImage, TheWholeSheetKeepsItsProportionsWithinTheLongestSide)
{
    EXPECT_EQ(TPreviewImage::WholeSize(13244, 18722, 4096), QSize(2898, 4096));
    EXPECT_EQ(TPreviewImage::WholeSize(18722, 13244, 4096), QSize(4096, 2898));
    EXPECT_EQ(TPreviewImage::WholeSize(4096, 100, 4096), QSize(4096, 100));
    EXPECT_EQ(TPreviewImage::WholeSize(300, 200, 4096), QSize(300, 200));
    EXPECT_EQ(TPreviewImage::WholeSize(100000, 3, 4096), QSize(4096, 1));
}

// Every way of drawing: lines over the mask (1:1), the segment map over the
// mask (about 1:2 and 1:5), and the map over a reduced sheet (about 1:10).
TEST(PreviewImage, SegmentsLieOnTheirPixelsAtEveryScale)
{
    const struct
    {
        int Width;
        int Height;
        QSize Expected;
    } sheets[] = {
        {200, 90, QSize(200, 90)},
        {8192, 2048, QSize(4096, 1024)},
        {20000, 600, QSize(4096, 123)},
        {40000, 1200, QSize(4096, 123)},
    };
    for (const auto &s : sheets) {
        SCOPED_TRACE(testing::Message() << s.Width << " x " << s.Height);
        const TSheet sheet(s.Width, s.Height);
        const TPreviewImage preview(sheet.Mask, sheet.List, false);
        const QImage image = preview.RenderWhole(4096);
        ASSERT_EQ(image.size(), s.Expected);
        const double scale = static_cast<double>(image.width()) / s.Width;

        // On the row stroke, and on the column stroke, the segment's colour.
        EXPECT_EQ(At(image, s.Width * 0.3 * scale, (sheet.Row + 0.5) * scale), TPreviewImage::Line);
        EXPECT_EQ(At(image, (sheet.Column + 0.5) * scale, s.Height * 0.75 * scale), TPreviewImage::Line);
        // Paper beside them, and above the row stroke's start.
        EXPECT_EQ(At(image, s.Width * 0.3 * scale, s.Height * 0.85 * scale), TPreviewImage::Paper);
        EXPECT_EQ(At(image, s.Width * 0.6 * scale, (sheet.Row + 0.5) * scale), TPreviewImage::Paper);
        // The untraced black pixel: grey at 1:1, lighter once spread over a cell.
        const QRgb lone = At(image, (s.Width - 1.5) * scale, 1.5 * scale);
        if (scale == 1.0)
            EXPECT_EQ(lone, TPreviewImage::Ink);
        else
            EXPECT_TRUE(qGray(lone) < 255 && qGray(lone) > qGray(TPreviewImage::Ink)) << std::hex << lone;
    }
}

TEST(PreviewImage, BoxSegmentsLieOnPixelCornersAndAViewShowsItsPartOnly)
{
    // A 4 x 2 black block from (10, 10); box mode traces its outline along
    // the pixel edges, Y up from the bottom of the 40 x 30 sheet.
    auto mask = std::make_shared<TBlackMask>(40, 30);
    for (int y = 10; y < 12; ++y)
        for (int x = 10; x < 14; ++x)
            mask->SetBlack(x, y);
    TSegmentList list;
    ASSERT_TRUE(list.ResetSegments());
    list.ImageHeight = 0;
    list.AddSegment(10, -20, 14, -20);  // top edge: Y = 30 - 10
    list.AddSegment(10, -18, 14, -18);  // bottom edge: Y = 30 - 12
    const TPreviewImage preview(mask, list, true);

    // Zoomed 8 times on the block's corner: the top edge runs along y = 10.
    QImage view(64, 64, QImage::Format_RGB32);
    preview.Render(view, QPointF(8, 8), 8);
    EXPECT_EQ(view.pixel((12 - 8) * 8, (10 - 8) * 8), TPreviewImage::Line);
    EXPECT_EQ(view.pixel((12 - 8) * 8, (12 - 8) * 8), TPreviewImage::Line);
    // Inside the block, between the edges, its grey; left of it paper.
    EXPECT_EQ(view.pixel((12 - 8) * 8 + 4, (11 - 8) * 8), TPreviewImage::Ink);
    EXPECT_EQ(view.pixel(4, (11 - 8) * 8), TPreviewImage::Paper);

    // Beyond the sheet's edge the surround.
    preview.Render(view, QPointF(36, 26), 8);
    EXPECT_EQ(view.pixel(10, 10), TPreviewImage::Paper);
    EXPECT_EQ(view.pixel(40, 40), TPreviewImage::Outside);
}
