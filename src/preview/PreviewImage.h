#pragma once

// The preview picture of a conversion.
//   TPreviewImage - the sheet, lightened, with the segments drawn over it:
//                   Render draws a part of it at a zoom into a target,
//                   RenderWhole the whole of it at most `longest` pixels long.

#include "scan/BlackMask.h"
#include "scan/SegmentList.h"

#include <QImage>
#include <QPointF>
#include <QRgb>
#include <QString>
#include <QSize>

#include <cstdint>
#include <memory>
#include <vector>

class TScanState;
class TSegmentList;
struct TScanBackdrop;

// What a preview shows under the segments.
enum class TPreviewLayer {
    Scan,    // the scan's own pixels, lightened (the black pixels without a backdrop)
    Traced,  // what the tracers saw: ink dark, dark pixels that were not ink in a colour of their own
};

// The picture of a conversion as the preview shows it: the sheet, lightened,
// with the traced segments drawn over it in colour, and the boxes of the text
// strings found (with what was read) when text was told apart. Both the preview window and
// the command line's --preview draw with it.
//
// Only the target's pixels are computed. Zoomed in they come from the black
// mask the tracers read; zoomed out from reduced copies of it (every 8 x 8,
// 16 x 16, ... block of pixels as one share of ink), and the segments from
// reduced maps of where they lie, made the first time a scale needs them. So
// a whole A0 sheet draws about as fast as a corner of it, and what is kept
// beside the mask is about a sixth of the mask's size.
class TPreviewImage
{
public:
    // Colours (0xAARRGGBB): white paper, black pixels lightened to grey, the
    // segments, and the space around the sheet.
    static constexpr QRgb Paper = 0xFFFFFFFF;
    static constexpr QRgb Ink = 0xFFA8A8A8;
    static constexpr QRgb Line = 0xFFFF0000;
    // Arcs and circles of a recognised drawing.
    static constexpr QRgb Curve = 0xFF0070FF;
    static constexpr QRgb Outside = 0xFF707070;
    // What the tracers saw: the ink, and the dark pixels that were not ink.
    static constexpr QRgb TracedInk = 0xFF303030;
    static constexpr QRgb DarkNotInk = 0xFFFF9E2C;
    // The scan shows at this share of its darkness (black becomes Ink).
    static constexpr int Lighten = 168;
    // Boxes of the text strings found, and the text read beside them.
    static constexpr QRgb TextBox = 0xFF0060FF;
    // The layers of width classes, thinnest first, and the fills' layer.
    static constexpr QRgb LayerColours[] = {0xFFE00000, 0xFF0050FF, 0xFF00A000, 0xFFC000C0, 0xFF00A0A0, 0xFFB08000};
    static constexpr QRgb FillLayer = 0xFF505050;

    // `segments` are in the list's units (pixels, Y upward from the sheet's
    // bottom); they are read whenever a picture is drawn, so the list must
    // outlive this object and not change in the meantime: make a new preview
    // when it does. `pixelCorners`: the segments' ends are pixel corners (box
    // mode), not pixel centres (the line modes).
    TPreviewImage(std::shared_ptr<const TBlackMask> mask, const TSegmentList &segments,
                  bool pixelCorners);
    // A conversion's picture and segments, with the arcs and circles of its
    // drawing (when it has one) drawn over them in their own colour.
    TPreviewImage(std::shared_ptr<const TBlackMask> mask, const TScanState &state, bool pixelCorners);
    ~TPreviewImage();
    TPreviewImage(const TPreviewImage &) = delete;
    TPreviewImage &operator=(const TPreviewImage &) = delete;

    int Width() const { return Mask->Width(); }
    int Height() const { return Mask->Height(); }
    const std::shared_ptr<const TBlackMask> &Picture() const { return Mask; }

    // The scan's own pixels to show under the segments instead of the black
    // pixels (the window's preview), and which layer; without one the black
    // pixels show lightened, as the command line's preview draws them. Set
    // before the preview is drawn.
    void SetBackdrop(std::shared_ptr<const TScanBackdrop> backdrop, TPreviewLayer layer);

    // Fills the whole of `target` (Format_RGB32 or ARGB32) with the sheet seen
    // from `origin` (the sheet point, in pixels from its top-left corner, at
    // the target's top-left corner) at `scale` target pixels per sheet pixel.
    void Render(QImage &target, QPointF origin, double scale) const;

    // The whole sheet at its proportions, `longest` pixels on its longer side,
    // or at its own size when it is smaller than that.
    static QSize WholeSize(int width, int height, int longest);
    QImage RenderWhole(int longest = 4096) const;

private:
    struct TLevel
    {
        int Shift = 0;            // one cell is 2^Shift x 2^Shift sheet pixels
        int Width = 0;
        int Height = 0;
        std::vector<std::uint8_t> Ink;  // share of black pixels per cell, 0..255
    };

    void BuildLevels();
    void DrawMask(QImage &target, QPointF origin, double scale, bool traced) const;
    void DrawBackdrop(QImage &target, QPointF origin, double scale) const;
    void MarkDarkNotInk(QImage &target, QPointF origin, double scale) const;
    // Every kind of entity over the sheet, drawn here and only here.
    void DrawSegments(QImage &target, QPointF origin, double scale) const;
    const TBlackMask &SegmentMap(int shift, bool curves) const;
    void DrawSegmentLines(QImage &target, QPointF origin, double scale) const;
    void DrawSegmentMap(QImage &target, QPointF origin, double scale, int shift) const;
    void DrawTextStrings(QImage &target, QPointF origin, double scale) const;
    // The segment's ends in sheet pixels from the top-left corner, y downward.
    QPointF SheetPoint(float x, float y) const;

    std::shared_ptr<const TBlackMask> Mask;
    const TSegmentList &Segments;
    bool PixelCorners;
    std::vector<TLevel> Levels;     // shifts 3, 4, ... while the sheet is larger than a cell
    mutable std::vector<std::unique_ptr<TBlackMask>> Maps;  // by shift; null until needed
    std::shared_ptr<const TScanBackdrop> Backdrop;
    TPreviewLayer Layer = TPreviewLayer::Scan;
    std::vector<QImage> BackdropLevels;   // the backdrop, then halved while large
    std::vector<TSegment> Curves;   // the arcs and circles as chords
    mutable std::vector<std::unique_ptr<TBlackMask>> CurveMaps;
    // With width layers or fills: the entities of each layer (lines, and arcs
    // as chords) drawn over the segments in the layer's colour, and named in
    // the legend in the top left corner.
    struct TLayerGroup
    {
        QString Name;
        QRgb Colour = 0;
        std::vector<TSegment> Segments;
        mutable std::vector<std::unique_ptr<TBlackMask>> Maps;
    };
    std::vector<TLayerGroup> LayerGroups;
    const TBlackMask &GroupMap(int shift, const TLayerGroup &group) const;
    // The map at `shift` of these segments, made on first use and kept in `maps`.
    const TBlackMask &MapOf(std::vector<std::unique_ptr<TBlackMask>> &maps, int shift, const TSegment *segments,
                            std::size_t count) const;
    void DrawLegend(QImage &target) const;
};
