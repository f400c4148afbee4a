#pragma once

// The scan's own pixels, reduced, for the preview.
//   TBackdropMaker - collects them from the rows as they are read; Finish
//                    gives the backdrop.
//   TBackdropRows  - rows that pass through a maker on their way.
//   TBackdropMaker::FromImage - the same from a picture held whole.

#include "image/DIBFormat.h"
#include "image/PictureRows.h"

#include <QImage>

#include <cstdint>
#include <memory>

class TBlackMask;
class TTzDIB;

// The scan itself, as the window's preview shows it under the segments: the
// picture's grey or colour pixels, every Step-th pixel of every Step-th row
// (so that an A0 colour sheet stays near a hundred megabytes), and how many
// of its dark pixels the tracers took for ink.
struct TScanBackdrop
{
    // Grayscale8 for 1-bit, grey and palette pictures of greys, else RGB32.
    QImage Image;
    // Sheet pixels per backdrop pixel along each axis.
    int Step = 1;
    // The picture had more than two colours (grey or colour, not line art).
    bool Tones = false;
    // Sampled pixels darker than half (luminance below 128), and those of
    // them the black mask holds.
    std::int64_t Dark = 0;
    std::int64_t DarkInk = 0;
    // The mask was the exact-black rule's (no threshold set).
    bool ExactBlack = true;

    // The share of dark pixels that did not become ink, 0..1.
    double LostShare() const { return Dark > 0 ? 1.0 - static_cast<double>(DarkInk) / Dark : 0; }
};

// Builds a backdrop from the stored rows of a picture (1, 4, 8 or 24 bits,
// uncompressed, as TTzDIB and TPictureRows hold them), in any order.
class TBackdropMaker
{
public:
    // longest: the backdrop's longer side at most.
    TBackdropMaker(int width, int height, int bitCount, const TColor *colours, int longest = 6000);
    // Row y from the top.
    void AddRow(int y, const std::uint8_t *row);
    // The backdrop, with the dark pixels counted against the mask.
    std::shared_ptr<const TScanBackdrop> Finish(const TBlackMask &mask, bool exactBlack);

    static std::shared_ptr<const TScanBackdrop> FromImage(const TTzDIB &image, const TBlackMask &mask,
                                                          bool exactBlack);

private:
    int Width;
    int Height;
    int BitCount;
    QRgb Palette[256] = {};
    TScanBackdrop Result;
};

// Rows passed on from another reader, every row also handed to a backdrop
// maker on its way.
class TBackdropRows : public TPictureRows
{
public:
    TBackdropRows(TPictureRows &rows, TBackdropMaker &maker);
    void Read(std::uint8_t *rows, int count) override;
    // The rows spread over the picture are not handed on.
    bool Sample(int count, const TRowVisitor &each) override { return Rows.Sample(count, each); }

private:
    TPictureRows &Rows;
    TBackdropMaker &Maker;
    int Next = 0;
};
