#pragma once

// Drawing on a picture.
//   TTzDIBCanvas - a painter over a TTzDIB's pixels; the picture holds what was
//                  drawn once the canvas is gone.

#include <QImage>
#include <QPainter>

class TTzDIB;

// Draws onto a TTzDIB with the ordinary painter operations, in picture
// coordinates (y from the top) whatever the stored row order. 1- and 24-bit
// pictures are drawn in place, in the image's own pixel memory (bottom-up rows
// stand top-down while the canvas lives); 4- and 8-bit
// pictures through a colour copy whose changed pixels go back, as the nearest
// palette colour, when the canvas ends. Compressed pictures cannot be drawn on
// (ETzDIBBadDIBType).
class TTzDIBCanvas : public QPainter
{
public:
    explicit TTzDIBCanvas(TTzDIB &dib);
    ~TTzDIBCanvas();
    TTzDIBCanvas(const TTzDIBCanvas &) = delete;
    TTzDIBCanvas &operator=(const TTzDIBCanvas &) = delete;

private:
    void WriteBackColourCopy();

    TTzDIB &FDIB;
    QImage FSurface;  // over the pixel memory, or the colour copy
    QImage FOriginal; // the colour copy as it was before drawing
    bool FReversed = false; // bottom-up rows turned top-down while drawing
};
