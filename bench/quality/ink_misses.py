#!/usr/bin/python3
"""The ink with no entity inside it, by cause: reads a styles drawing, its known primitives and a written DXF
(the masks of the benchmark's "ink with an entity inside it"), sorts every ink pixel nothing covers and prints
the pixels per cause; with --png, a picture of them (ink grey, covered ink black, misses coloured by cause).

    bench/quality/ink_misses.py DRAWINGS_DIR RUN_DIR [NAMES...] [--png OUT_DIR] [--list N]

Causes, for a missed pixel more than 2 px from every true stroke and fill (a scan speck, "speck"), else by the
true thing nearest to it:
  fill           a filled shape (dot, arrowhead, bar) or its edge
  end            a stroke or dash end: along the stroke, within half its width and 2 px of a drawn end, or past it
  edge bump      beside a stroke, more than half its width + 0.5 px from its centre line (the scan's rough edge,
                 a speck touching the stroke)
  body           on a stroke's centre band, away from its ends: a piece of stroke with nothing drawn along it
"""
import argparse
import importlib.machinery
import importlib.util
import json
import math
import os
import sys

import numpy as np
from scipy import ndimage

HERE = os.path.dirname(os.path.abspath(__file__))


def load_run():
    loader = importlib.machinery.SourceFileLoader("quality_run", os.path.join(HERE, "run"))
    spec = importlib.util.spec_from_loader("quality_run", loader)
    mod = importlib.util.module_from_spec(spec)
    loader.exec_module(mod)
    return mod


def along(p, x, y):
    """-> (arc length position along a true primitive, distance from its centre line, its length)."""
    if p["type"] == "line":
        ax, ay = p["p0"]
        bx, by = p["p1"]
        L = math.hypot(bx - ax, by - ay)
        ux, uy = (bx - ax) / L, (by - ay) / L
        t = (x - ax) * ux + (y - ay) * uy
        return t, np.abs((x - ax) * uy - (y - ay) * ux), L
    cx, cy = p["center"]
    r = p["radius"]
    a0 = math.radians(p.get("start_deg", 0.0))
    sweep = 2 * math.pi if p["type"] == "circle" else math.radians(p["sweep_deg"])
    rel = np.mod(np.arctan2(y - cy, x - cx) - a0, 2 * math.pi)
    rel = np.where(rel > sweep + (2 * math.pi - sweep) / 2, rel - 2 * math.pi, rel)   # before the start: < 0
    return rel * r, np.abs(np.hypot(x - cx, y - cy) - r), r * sweep


def classify(g, ink, hit, truth):
    H, W = ink.shape
    miss = ink & ~hit
    out = {"ink": int(ink.sum()), "missed": int(miss.sum())}
    cause = np.zeros((H, W), np.int8)        # 1 speck, 2 fill, 3 end, 4 edge bump, 5 body
    cause[miss & ~truth] = 1
    ys, xs = np.nonzero(miss & truth)
    px, py = xs + 0.5, ys + 0.5
    best = np.full(len(xs), np.inf)
    which = np.full(len(xs), -1)
    for i, p in enumerate(g["primitives"]):
        _, d, _ = along(p, px, py)
        t, _, L = along(p, px, py)
        d = np.where(t < 0, np.hypot(d, t), np.where(t > L, np.hypot(d, t - L), d))
        m = d < best
        best[m], which[m] = d[m], i
    fm = np.zeros((H, W), bool)
    for f in g.get("fills", []):
        if f["type"] == "circle":
            Y, X = np.mgrid[0:H, 0:W]
            fm |= np.hypot(X + 0.5 - f["center"][0], Y + 0.5 - f["center"][1]) <= f["radius"]
        else:
            import dxfscan
            dxfscan.raster_rings(f["rings"], W, H, fm)
    fd = ndimage.distance_transform_edt(~fm)[ys, xs]
    c = np.zeros(len(xs), np.int8)
    c[fd <= np.minimum(best, 2.0)] = 2
    for i, p in enumerate(g["primitives"]):
        m = (which == i) & (c == 0)
        if not m.any():
            continue
        t, d, L = along(p, px[m], py[m])
        hw = p["width"] / 2.0
        ends = [e for ab in p.get("dashes", [[0.0, L]]) for e in ab]
        de = np.min(np.abs(t[:, None] - np.array(ends)[None, :]), axis=1)
        cc = np.where(de <= hw + 2.0, 3, np.where(d > hw + 0.5, 4, 5))
        cc[(t < 0) | (t > L)] = 3
        c[m] = cc
    cause[ys, xs] = c
    names = ["", "speck", "fill", "end", "edge bump", "body"]
    for k in range(1, 6):
        out[names[k]] = int((cause == k).sum())
    return out, cause, names


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("drawings")
    ap.add_argument("rundir")
    ap.add_argument("names", nargs="*")
    ap.add_argument("--png")
    ap.add_argument("--list", type=int, default=0, help="print the N largest groups of missed drawn ink")
    ap.add_argument("--scoring", default="/work/shared/scoring")
    a = ap.parse_args()
    sys.path.insert(0, a.scoring)
    import vri
    run = load_run()
    names = a.names or sorted(f[:-4] for f in os.listdir(a.rundir) if f.endswith(".dxf"))
    total = {}
    for n in names:
        gt = os.path.join(a.drawings, n + ".json")
        g = json.load(open(gt))
        if not g.get("group", "").startswith("styles"):
            continue
        ink, hit, truth, _ = run.ink_masks(vri, np, os.path.join(a.drawings, n + ".bmp"), gt,
                                           os.path.join(a.rundir, n + ".dxf"), 1.0)
        res, cause, cn = classify(g, ink, hit, truth)
        print("%-20s " % n + "  ".join("%s %d" % kv for kv in res.items()))
        for k, v in res.items():
            total[k] = total.get(k, 0) + v
        if a.list:
            lab, nl = ndimage.label(cause > 1, np.ones((3, 3)))
            sizes = ndimage.sum(np.ones_like(lab), lab, range(1, nl + 1))
            for j in np.argsort(-sizes)[:a.list]:
                yy, xx = np.nonzero(lab == j + 1)
                kinds = np.bincount(cause[yy, xx], minlength=6)
                print("    %4d px at (%d, %d)  %s" % (sizes[j], xx.mean(), yy.mean(),
                                                    " ".join("%s %d" % (cn[k], kinds[k]) for k in range(2, 6) if kinds[k])))
        if a.png:
            from PIL import Image
            os.makedirs(a.png, exist_ok=True)
            rgb = np.full(ink.shape + (3,), 255, np.uint8)
            rgb[ink] = (150, 150, 150)
            rgb[ink & hit] = (0, 0, 0)
            for k, col in ((1, (255, 160, 0)), (2, (0, 160, 255)), (3, (255, 0, 0)), (4, (0, 200, 0)),
                           (5, (255, 0, 255))):
                rgb[cause == k] = col
            Image.fromarray(rgb).save(os.path.join(a.png, n + ".png"))
    if len(names) > 1:
        print("%-20s " % "total" + "  ".join("%s %d" % kv for kv in total.items()))


if __name__ == "__main__":
    main()
