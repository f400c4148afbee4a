#pragma once

// The clean-up steps.
//   TCleanupOptions::Parse* - an option from its text, or nothing when the
//                  text is not valid for it.
//   CleanMask      - the mask the tracers read (threshold, specks, centre
//                  lines); throws what reading throws, bad_alloc without memory.
//   CleanSegments  - the traced segments merged; throws bad_alloc without memory.

#include "image/PictureRows.h"
#include "scan/BlackMask.h"
#include "scan/ScanState.h"

#include <QString>

#include <optional>
#include <vector>

class TTzDIB;

// The clean-up of real scans, every step off by default. With all of them off
// the black mask is the picture's exact black and the segments stay as traced.
struct TCleanupOptions
{
    enum class TThreshold { Exact, Level, Automatic };
    // Exact: ink is colour exactly 0. Level: luminance below ThresholdLevel.
    // Automatic: Otsu's global level.
    TThreshold Threshold = TThreshold::Exact;
    int ThresholdLevel = 0;     // 0 .. 255
    int Despeckle = 0;          // largest speck or hole removed, pixels; 0 off
    bool Centerline = false;    // thin strokes to their centre lines
    double Merge = 0;           // tolerance of the merged lines, pixels; 0 off
    // Text told apart from the drawing, traced on its own and kept out of
    // merging and of the geometry.
    bool TextLayer = false;
    // Tesseract languages the text is read in ("jpn+eng"); empty: not read.
    // Reading implies TextLayer.
    QString Ocr;
    // Folder of the language data; empty: where the system keeps it.
    QString OcrData;
    // The geometry of the centre lines (they are made when asked for and
    // when Arcs or Snap is on): lines, arcs and circles within Arcs pixels;
    // 0 off.
    double Arcs = 0;
    double Snap = 0;            // axis snap within Snap degrees, ends closed; 0 off
    bool Deskew = false;        // the ink's skew removed from the coordinates
    // Pieces in a regular pattern of dashes and gaps along one line or circle
    // become one entity with a line type (made with the geometry).
    bool Linetypes = false;

    // Every entity measured for its stroke width, and the widths grouped
    // into classes, each class on a layer of its own: the classes found in
    // the drawing's widths, or the classes given (drawing units, after
    // magnification).
    bool WidthLayers = false;
    std::vector<double> WidthClasses;   // empty: found in the drawing
    // Shapes too thick for their length stay filled shapes: taken out of the
    // ink before the centre lines, written as filled circles and solids.
    bool Fills = false;

    bool Geometry() const { return Arcs > 0 || Snap > 0 || Linetypes; }
    // Width layers and fills need the drawing and the ink beside it.
    bool Styles() const { return WidthLayers || Fills; }
    bool GeometryStep() const { return Geometry() || Deskew || Styles(); }
    bool MaskSteps() const
    {
        return Threshold != TThreshold::Exact || Despeckle > 0 || Centerline || Geometry() || Styles();
    }
    bool SeparatesText() const { return TextLayer || !Ocr.isEmpty(); }
    bool AnyStep() const { return MaskSteps() || Merge > 0 || Deskew || SeparatesText() || Styles(); }

    // The texts of the settings store and the command line. Threshold: empty
    // (exact black), "auto", or a whole number 0 .. 255. Merge: empty or a
    // number >= 0. Despeckle: a whole number >= 0. Nothing for other texts.
    static std::optional<TCleanupOptions> ParseThreshold(const QString &text, TCleanupOptions options);
    static std::optional<double> ParseMerge(const QString &text);
    static std::optional<int> ParseDespeckle(const QString &text);
    // Languages: empty, or names of letters, digits and "_" joined by "+".
    static std::optional<QString> ParseOcr(const QString &text);
    // Snap: empty or a number of degrees 0 .. 45. (Arcs reads as Merge.)
    static std::optional<double> ParseSnap(const QString &text);
    // Widths: empty (off), "auto", or widths > 0 joined by ",". Sets
    // WidthLayers and WidthClasses.
    static std::optional<TCleanupOptions> ParseWidths(const QString &text, TCleanupOptions options);
    QString ArcsText() const;
    QString SnapText() const;
};

// The mask the tracers read: threshold, then speck removal, then centre lines.
// With centre lines, `strokes` (when given) receives the mask they were
// thinned from.
TBlackMask CleanMask(const TTzDIB &image, const TCleanupOptions &options, TBlackMask *strokes = nullptr);
// The same mask from a picture read a band of rows at a time, never holding
// the whole picture: `rows` freshly opened, and `reopen` opening the same
// rows anew for a second pass (which the automatic level rarely needs: see
// OtsuMask). The work is shared over `threads`; bands of about bandBytes (0:
// about 1 MB). `level` (when given) receives the automatic level.
TBlackMask CleanMask(TPictureRows &rows, const TRowsOpener &reopen, const TCleanupOptions &options,
                     int threads = 1, std::int64_t bandBytes = 0, TBlackMask *strokes = nullptr,
                     int *level = nullptr);
// The segments as traced, merged when Merge is on. Merged centre lines move
// onto the middles of their strokes when the strokes are given.
std::vector<TSegment> CleanSegments(std::vector<TSegment> segments, const TCleanupOptions &options,
                                    const TBlackMask *strokes = nullptr);
