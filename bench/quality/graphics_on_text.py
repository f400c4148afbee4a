#!/usr/bin/python3
"""The share of a drawing's ink that the text layer takes: on drawings without text (the geometry and styles
sets), every piece written on the text layer is drawn 2 px to each side of its centre line, and the ink pixels
inside that band are counted against all ink. With --png, a picture of it (ink grey, ink on the text layer red).

    bench/quality/graphics_on_text.py DRAWINGS_DIR RUN_DIR [NAMES...] [--png OUT_DIR] [--layer NAME]

    bench/quality/run build/bin/trazbit-cli --set geometry,styles --out q -- --centerline --merge 1 --text-layer
    bench/quality/graphics_on_text.py q/drawings q/runs/LABEL

Prints, per drawing and pooled over them, the ink pixels, those on the text layer and their share (%).
"""
import argparse
import os
import sys

import numpy as np
from PIL import Image

TEXT_LAYER = "文字"


def on_text(dxfscan, pic, dxf, layer):
    """-> (ink mask, mask of the ink within 2 px of a piece or fill on the text layer)."""
    ink = np.array(Image.open(pic).convert("L")) < 128
    H, W = ink.shape
    sc = dxfscan.read(dxf, "trazbit", H, 1.0)
    band = np.zeros((H, W), bool)
    sel = [i for i, l in enumerate(sc.layer) if l == layer]
    if sel:
        dxfscan.raster_pieces([sc.kind[i] for i in sel], [sc.P[i] for i in sel], [2.0] * len(sel), W, H, band)
    fills = [f for f in sc.fills if f.get("layer") == layer]
    if fills:
        band |= dxfscan.raster_fills(fills, W, H)
    return ink, ink & band


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("drawings")
    ap.add_argument("rundir")
    ap.add_argument("names", nargs="*")
    ap.add_argument("--png")
    ap.add_argument("--layer", default=TEXT_LAYER)
    ap.add_argument("--scoring", default="/work/shared/scoring")
    a = ap.parse_args()
    sys.path.insert(0, a.scoring)
    import dxfscan
    names = a.names or sorted(f[:-4] for f in os.listdir(a.rundir) if f.endswith(".dxf"))
    all_ink = all_text = 0
    for n in names:
        pic = os.path.join(a.drawings, n + ".bmp")
        if not os.path.exists(pic):
            pic = os.path.join(a.drawings, n + ".png")
        ink, text = on_text(dxfscan, pic, os.path.join(a.rundir, n + ".dxf"), a.layer)
        ni, nt = int(ink.sum()), int(text.sum())
        all_ink += ni
        all_text += nt
        print("%-20s ink %9d  on text layer %8d  %6.2f %%" % (n, ni, nt, 100.0 * nt / max(ni, 1)))
        if a.png:
            os.makedirs(a.png, exist_ok=True)
            rgb = np.full(ink.shape + (3,), 255, np.uint8)
            rgb[ink] = (160, 160, 160)
            rgb[text] = (255, 0, 0)
            Image.fromarray(rgb).save(os.path.join(a.png, n + ".png"))
    if len(names) > 1:
        print("%-20s ink %9d  on text layer %8d  %6.2f %%" % ("pooled", all_ink, all_text,
                                                             100.0 * all_text / max(all_ink, 1)))


if __name__ == "__main__":
    main()
