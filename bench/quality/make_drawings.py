#!/usr/bin/python3
"""Draws the quality benchmark's pictures from known primitives and writes their truth.

    /usr/bin/python3 make_drawings.py OUTDIR [--set geometry,styles,text] [--seed N] [--only NAME,...]

Every drawing is OUTDIR/NAME.bmp (1 bit, black ink) and OUTDIR/NAME.json (its truth). Frame of the truth:
pixels, x right, y down, origin the picture's top-left corner; pixel (c, r) covers [c, c+1) x [r, r+1). A pixel
is ink when its centre is within width / 2 of a primitive (round ends). Arcs run from start_deg through
sweep_deg degrees, increasing (clockwise on the screen, y being down).

Keys besides the primitives: `variant` (clean, skew, scan), `skew_deg` (the rotation the drawing was made with,
counter-clockwise on the screen, about the sheet's centre), `junctions` (points where two primitives meet: corner,
tee, fillet; the benchmark's runner measures the written gaps there). Patterned primitives carry `linetype`,
`pattern_px` (drawn element lengths: dash > 0, gap < 0; a dot is drawn 1 px long, with round ends) and
`dashes` (drawn [t0, t1] intervals in px along the primitive, from p0 or from start_deg); `fills` and
`width_classes` as the scoring scripts read them; labels as `texts`, `textmask`, `text_stroke_px`.

The same seed gives the same pictures, byte for byte.
"""
import argparse
import json
import math
import os
import sys

import numpy as np
from PIL import Image, ImageDraw, ImageFont

SEED = 2026


# ---------------------------------------------------------------------------
# Primitives and rendering
# ---------------------------------------------------------------------------
def line(p0, p1, w, **kw):
    d = {"type": "line", "p0": [float(p0[0]), float(p0[1])], "p1": [float(p1[0]), float(p1[1])], "width": float(w)}
    d.update(kw)
    return d


def arc(c, r, start, sweep, w, **kw):
    d = {"type": "arc", "center": [float(c[0]), float(c[1])], "radius": float(r), "start_deg": float(start),
         "sweep_deg": float(sweep), "width": float(w)}
    d.update(kw)
    return d


def circle(c, r, w, **kw):
    d = {"type": "circle", "center": [float(c[0]), float(c[1])], "radius": float(r), "width": float(w)}
    d.update(kw)
    return d


def bbox(p):
    m = p["width"] / 2.0 + 3.0
    if p["type"] == "line":
        xs, ys = (p["p0"][0], p["p1"][0]), (p["p0"][1], p["p1"][1])
        return min(xs) - m, min(ys) - m, max(xs) + m, max(ys) + m
    (cx, cy), r = p["center"], p["radius"]
    return cx - r - m, cy - r - m, cx + r + m, cy + r + m


def seg_dist(X, Y, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    L2 = dx * dx + dy * dy
    if L2 <= 0:
        return np.hypot(X - ax, Y - ay)
    t = np.clip(((X - ax) * dx + (Y - ay) * dy) / L2, 0.0, 1.0)
    return np.hypot(X - (ax + t * dx), Y - (ay + t * dy))


def prim_dist(p, X, Y):
    """Distance from the points (X, Y) to the primitive's centre line."""
    if p["type"] == "line":
        return seg_dist(X, Y, p["p0"][0], p["p0"][1], p["p1"][0], p["p1"][1])
    (cx, cy), r = p["center"], p["radius"]
    rho = np.hypot(X - cx, Y - cy)
    if p["type"] == "circle" or p["sweep_deg"] >= 360.0:
        return np.abs(rho - r)
    s, sw = p["start_deg"], p["sweep_deg"]
    ang = (np.degrees(np.arctan2(Y - cy, X - cx)) - s) % 360.0
    inside = ang <= sw
    e0 = (cx + r * math.cos(math.radians(s)), cy + r * math.sin(math.radians(s)))
    e1 = (cx + r * math.cos(math.radians(s + sw)), cy + r * math.sin(math.radians(s + sw)))
    de = np.minimum(np.hypot(X - e0[0], Y - e0[1]), np.hypot(X - e1[0], Y - e1[1]))
    return np.where(inside, np.abs(rho - r), de)


def dash_pieces(p):
    """The drawn pieces of a primitive: itself, or its dashes when patterned."""
    if "dashes" not in p:
        return [p]
    out = []
    if p["type"] == "line":
        (ax, ay), (bx, by) = p["p0"], p["p1"]
        L = math.hypot(bx - ax, by - ay)
        ux, uy = (bx - ax) / L, (by - ay) / L
        for t0, t1 in p["dashes"]:
            out.append(line((ax + ux * t0, ay + uy * t0), (ax + ux * t1, ay + uy * t1), p["width"]))
    else:
        r = p["radius"]
        s = p.get("start_deg", 0.0)
        for t0, t1 in p["dashes"]:
            out.append(arc(p["center"], r, s + math.degrees(t0 / r), math.degrees((t1 - t0) / r), p["width"]))
    return out


class Canvas:
    """The signed distance of every pixel centre to the ink's edge (negative inside), kept near the ink."""

    def __init__(self, W, H):
        self.W, self.H = W, H
        self.D = np.full((H, W), 1e6, np.float32)

    def window(self, x0, y0, x1, y1):
        c0, c1 = max(0, int(math.floor(x0))), min(self.W, int(math.ceil(x1)) + 1)
        r0, r1 = max(0, int(math.floor(y0))), min(self.H, int(math.ceil(y1)) + 1)
        if c0 >= c1 or r0 >= r1:
            return None
        X = np.arange(c0, c1, dtype=np.float64)[None, :] + 0.5
        Y = np.arange(r0, r1, dtype=np.float64)[:, None] + 0.5
        return (r0, r1, c0, c1), X, Y

    def stroke(self, p):
        for q in dash_pieces(p):
            w = self.window(*bbox(q))
            if w is None:
                continue
            (r0, r1, c0, c1), X, Y = w
            d = (prim_dist(q, X, Y) - q["width"] / 2.0).astype(np.float32)
            np.minimum(self.D[r0:r1, c0:c1], d, out=self.D[r0:r1, c0:c1])

    def fill(self, f):
        if f["type"] == "circle":
            (cx, cy), r = f["center"], f["radius"]
            w = self.window(cx - r - 3, cy - r - 3, cx + r + 3, cy + r + 3)
            if w is None:
                return
            (r0, r1, c0, c1), X, Y = w
            d = (np.hypot(X - cx, Y - cy) - r).astype(np.float32)
        else:
            ring = np.array(f["rings"][0], float)
            w = self.window(ring[:, 0].min() - 3, ring[:, 1].min() - 3, ring[:, 0].max() + 3, ring[:, 1].max() + 3)
            if w is None:
                return
            (r0, r1, c0, c1), X, Y = w
            X, Y = np.broadcast_arrays(X, Y)
            edge = np.full(X.shape, np.inf)
            inside = np.zeros(X.shape, bool)
            n = len(ring)
            for k in range(n):
                a, b = ring[k], ring[(k + 1) % n]
                edge = np.minimum(edge, seg_dist(X, Y, a[0], a[1], b[0], b[1]))
                cross = ((a[1] > Y) != (b[1] > Y))
                xi = a[0] + (Y - a[1]) * (b[0] - a[0]) / np.where(b[1] != a[1], b[1] - a[1], 1.0)
                inside ^= cross & (X < xi)
            d = np.where(inside, -edge, edge).astype(np.float32)
        np.minimum(self.D[r0:r1, c0:c1], d, out=self.D[r0:r1, c0:c1])

    def ink(self):
        return self.D <= 0.0


def save_bmp(path, ink):
    Image.fromarray(np.where(ink, 0, 255).astype(np.uint8)).convert("1", dither=Image.Dither.NONE).save(path)


# ---------------------------------------------------------------------------
# Placement helpers
# ---------------------------------------------------------------------------
class Packer:
    """Places boxes without overlap (a margin apart) by random tries."""

    def __init__(self, rng, W, H, margin=14):
        self.rng, self.W, self.H, self.m = rng, W, H, margin
        self.boxes = []

    def place(self, w, h, tries=400):
        for _ in range(tries):
            x = self.rng.uniform(self.m, self.W - self.m - w)
            y = self.rng.uniform(self.m, self.H - self.m - h)
            b = (x - self.m, y - self.m, x + w + self.m, y + h + self.m)
            if all(b[2] < o[0] or o[2] < b[0] or b[3] < o[1] or o[3] < b[1] for o in self.boxes):
                self.boxes.append(b)
                return x, y
        return None


def snap_half(v, w):
    """Coordinates of axis-parallel strokes: on a pixel edge for even widths, on a pixel centre for odd ones, so
    the stroke covers exactly w rows (or columns)."""
    v = math.floor(v)
    return float(v) if int(round(w)) % 2 == 0 else v + 0.5


def widths(rng, n, lo=1, hi=8):
    return [int(v) for v in rng.integers(lo, hi + 1, n)]


# ---------------------------------------------------------------------------
# Geometry drawings
# ---------------------------------------------------------------------------
def d_lines(rng):
    W, H = 2400, 1800
    pk = Packer(rng, W, H)
    prims = []
    angles = list(np.arange(0.0, 180.0, 7.5)) + list(rng.uniform(0, 180, 24))
    for k, a in enumerate(angles):
        w = int(1 + k % 8)
        L = float(rng.choice([15, 30, 60, 120, 250, 500, 900]))
        dx, dy = L * math.cos(math.radians(a)), L * math.sin(math.radians(a))
        pos = pk.place(abs(dx) + w, abs(dy) + w)
        if pos is None:
            continue
        x0, y0 = pos[0] + w / 2 + (0 if dx >= 0 else -dx), pos[1] + w / 2 + (0 if dy >= 0 else -dy)
        if a % 90 == 0:   # exactly axis-parallel: on the pixel grid as a CAD plot would be
            if a == 0:
                y0 = snap_half(y0, w)
                x0 = math.floor(x0) + 0.5
                dx = float(round(dx))
            else:
                x0 = snap_half(x0, w)
                y0 = math.floor(y0) + 0.5
                dy = float(round(dy))
        prims.append(line((x0, y0), (x0 + dx, y0 + dy), w))
    return dict(width=W, height=H, primitives=prims)


def d_axes(rng):
    """Long horizontal and vertical strokes of every width 1-8, even widths on a pixel edge."""
    W, H = 2600, 1800
    prims = []
    y = 40.0
    for k in range(16):
        w = 1 + k % 8
        L = [2400, 1200, 600, 300, 150, 80, 40, 20][k // 2 % 8] if k < 16 else 100
        x0 = 40.5 + (k % 3) * 17
        yy = snap_half(y, w)
        prims.append(line((x0, yy), (x0 + L, yy), w))
        y += 22 + w
    x = 40.0
    for k in range(16):
        w = 1 + k % 8
        L = [1300, 900, 600, 300, 150, 80, 40, 20][k // 2 % 8]
        y0 = 500.5 + (k % 3) * 13
        xx = snap_half(x, w)
        prims.append(line((xx, y0), (xx, y0 + L), w))
        x += 30 + w
    # lines 1.5-3 degrees off the axes: must stay slanted as drawn
    for k in range(8):
        w = 2 + k % 4
        a = math.radians([1.5, 2.0, 3.0, -2.0][k % 4])
        if k < 4:
            x0, y0 = 800.5, 560.0 + 110 * k
            prims.append(line((x0, y0), (x0 + 1500 * math.cos(a), y0 + 1500 * math.sin(a)), w))
        else:
            x0, y0 = 1000.0 + 150 * (k - 4), 1000.5
            prims.append(line((x0, y0), (x0 + 750 * math.sin(a), y0 + 750 * math.cos(a)), w))
    return dict(width=W, height=H, primitives=prims)


def d_arcs(rng, n=44):
    W, H = 2600, 2000
    pk = Packer(rng, W, H, margin=16)
    prims = []
    radii = [5, 8, 12, 20, 35, 60, 100, 160, 250, 400, 500]
    for k in range(n):
        r = float(radii[k % len(radii)]) + float(rng.uniform(0, 0.9))
        w = int(1 + (k * 3) % 8)
        if w > r / 2:
            w = max(1, int(r / 2))
        sweep = float(rng.choice([20, 30, 45, 60, 90, 120, 180, 270, 330]))
        if r * math.radians(sweep) < 8:
            sweep = min(330.0, math.degrees(8 / r))
        start = float(rng.uniform(0, 360))
        # box of the drawn arc
        ts = np.radians(start + np.linspace(0, sweep, 200))
        xs, ys = r * np.cos(ts), r * np.sin(ts)
        pos = pk.place(xs.max() - xs.min() + w, ys.max() - ys.min() + w)
        if pos is None:
            continue
        cx, cy = pos[0] + w / 2 - xs.min(), pos[1] + w / 2 - ys.min()
        prims.append(arc((cx, cy), r, start, sweep, w))
    return dict(width=W, height=H, primitives=prims)


def d_circles(rng, n=40):
    W, H = 2600, 2000
    pk = Packer(rng, W, H, margin=16)
    prims = []
    radii = [5, 7, 10, 15, 25, 40, 60, 90, 130, 200, 300, 420]
    for k in range(n):
        r = float(radii[k % len(radii)]) + float(rng.uniform(0, 0.9))
        w = int(1 + (k * 5) % 8)
        if w > r / 2:
            w = max(1, int(r / 2))
        pos = pk.place(2 * r + w, 2 * r + w)
        if pos is None:
            continue
        prims.append(circle((pos[0] + r + w / 2, pos[1] + r + w / 2), r, w))
    return dict(width=W, height=H, primitives=prims)


def fillet_shape(x0, y0, w_, h_, r, w):
    """A rectangle with rounded corners: 4 lines and 4 quarter arcs meeting at tangent points."""
    p, j = [], []
    x1, y1 = x0 + w_, y0 + h_
    p.append(line((x0 + r, y0), (x1 - r, y0), w))
    p.append(arc((x1 - r, y0 + r), r, 270, 90, w))
    p.append(line((x1, y0 + r), (x1, y1 - r), w))
    p.append(arc((x1 - r, y1 - r), r, 0, 90, w))
    p.append(line((x1 - r, y1), (x0 + r, y1), w))
    p.append(arc((x0 + r, y1 - r), r, 90, 90, w))
    p.append(line((x0, y1 - r), (x0, y0 + r), w))
    p.append(arc((x0 + r, y0 + r), r, 180, 90, w))
    for q in [(x0 + r, y0), (x1 - r, y0), (x1, y0 + r), (x1, y1 - r), (x1 - r, y1), (x0 + r, y1), (x0, y1 - r),
              (x0, y0 + r)]:
        j.append({"point": [float(q[0]), float(q[1])], "kind": "fillet", "width": float(w)})
    return p, j


def d_corners(rng):
    """L corners at many angles, T-junctions, crosses and filleted rectangles."""
    W, H = 2600, 2000
    pk = Packer(rng, W, H, margin=20)
    prims, junc = [], []
    for k in range(24):       # L corners: two lines from one point
        w = int(1 + k % 8)
        a0 = float(rng.uniform(0, 360)) if k >= 8 else 90.0 * (k % 4)
        turn = [90.0, 90.0, 60.0, 120.0, 45.0, 135.0][k % 6]
        L1, L2 = float(rng.uniform(60, 220)), float(rng.uniform(60, 220))
        a1 = a0 + turn
        pos = pk.place(2 * max(L1, L2) + w, 2 * max(L1, L2) + w)
        if pos is None:
            continue
        c = (pos[0] + max(L1, L2) + w / 2, pos[1] + max(L1, L2) + w / 2)
        if k < 8:
            c = (snap_half(c[0], w), snap_half(c[1], w))
        e1 = (c[0] + L1 * math.cos(math.radians(a0)), c[1] + L1 * math.sin(math.radians(a0)))
        e2 = (c[0] + L2 * math.cos(math.radians(a1)), c[1] + L2 * math.sin(math.radians(a1)))
        if k < 8:
            e1, e2 = (round(e1[0] * 2) / 2, round(e1[1] * 2) / 2), (round(e2[0] * 2) / 2, round(e2[1] * 2) / 2)
        prims += [line(c, e1, w), line(c, e2, w)]
        junc.append({"point": [float(c[0]), float(c[1])], "kind": "corner", "width": float(w)})
    for k in range(16):       # T-junctions: a stem ending on the middle of a bar
        w = int(1 + (k * 3) % 8)
        a0 = 90.0 * (k % 4) if k < 8 else float(rng.uniform(0, 360))
        L1, L2 = float(rng.uniform(120, 300)), float(rng.uniform(60, 200))
        pos = pk.place(L1 + 2 * L2 + w, L1 + 2 * L2 + w)
        if pos is None:
            continue
        m = (pos[0] + L1 / 2 + L2 + w / 2, pos[1] + L1 / 2 + L2 + w / 2)
        if k < 8:
            m = (snap_half(m[0], w), snap_half(m[1], w))
        ux, uy = math.cos(math.radians(a0)), math.sin(math.radians(a0))
        b0 = (m[0] - ux * L1 / 2, m[1] - uy * L1 / 2)
        b1 = (m[0] + ux * L1 / 2, m[1] + uy * L1 / 2)
        s1 = (m[0] - uy * L2, m[1] + ux * L2)
        if k < 8:
            b0, b1, s1 = [(round(q[0] * 2) / 2, round(q[1] * 2) / 2) for q in (b0, b1, s1)]
        prims += [line(b0, b1, w), line(m, s1, w)]
        junc.append({"point": [float(m[0]), float(m[1])], "kind": "tee", "width": float(w)})
    for k in range(6):        # filleted rectangles
        w = int(2 + k % 6)
        r = float([10, 20, 35, 60, 90, 15][k])
        bw, bh = float(rng.uniform(2.5 * r + 40, 400)), float(rng.uniform(2.5 * r + 40, 300))
        pos = pk.place(bw + w, bh + w)
        if pos is None:
            continue
        x0, y0 = snap_half(pos[0] + w / 2, w), snap_half(pos[1] + w / 2, w)
        p, j = fillet_shape(x0, y0, round(bw), round(bh), r, w)
        prims += p
        junc += j
    return dict(width=W, height=H, primitives=prims, junctions=junc)


def d_plan(rng):
    """A floor-plan-like sheet: a border, walls meeting in corners and T-junctions, door swings, columns,
    filleted counters."""
    W, H = 3500, 2480
    prims, junc = [], []

    def J(q, kind, w):
        junc.append({"point": [float(q[0]), float(q[1])], "kind": kind, "width": float(w)})

    wb = 6
    x0, y0, x1, y1 = 60.0, 60.0, W - 60.0, H - 60.0
    for a, b in [((x0, y0), (x1, y0)), ((x1, y0), (x1, y1)), ((x1, y1), (x0, y1)), ((x0, y1), (x0, y0))]:
        prims.append(line(a, b, wb))
        J(a, "corner", wb)
    # title block: a tee from the border into the sheet and a row of boxes
    tx0, ty0 = x1 - 900.0, y1 - 260.0
    prims.append(line((tx0, y1), (tx0, ty0), 4))
    J((tx0, y1), "tee", 4)
    prims.append(line((tx0, ty0), (x1, ty0), 4))
    J((x1, ty0), "tee", 4)
    J((tx0, ty0), "corner", 4)
    for k in range(1, 4):
        yy = ty0 + 65.0 * k
        prims.append(line((tx0, yy), (x1, yy), 2))
        J((tx0, yy), "tee", 2)
        J((x1, yy), "tee", 2)
    # rooms: an outer wall and inner walls as T-junctions
    ww = 8
    rx0, ry0, rx1, ry1 = 300.0, 300.0, 2700.0, 1900.0
    for a, b in [((rx0, ry0), (rx1, ry0)), ((rx1, ry0), (rx1, ry1)), ((rx1, ry1), (rx0, ry1)), ((rx0, ry1), (rx0, ry0))]:
        prims.append(line(a, b, ww))
        J(a, "corner", ww)
    xs = [900.0, 1500.0, 2100.0]
    for x in xs:
        prims.append(line((x, ry0), (x, 1100.0), 4))
        J((x, ry0), "tee", 4)
    prims.append(line((rx0, 1100.0), (rx1, 1100.0), 4))
    J((rx0, 1100.0), "tee", 4)
    J((rx1, 1100.0), "tee", 4)
    for x in xs:
        J((x, 1100.0), "tee", 4)
    prims.append(line((1800.0, 1100.0), (1800.0, ry1), 4))
    J((1800.0, 1100.0), "tee", 4)
    J((1800.0, ry1), "tee", 4)
    # door swings: a leaf and a quarter arc
    for k, (hx, hy) in enumerate([(600.0, 1100.0), (1200.0, 1100.0), (2400.0, 1100.0), (1000.0, ry1)]):
        r = 160.0 + 20 * k
        prims.append(line((hx, hy), (hx, hy - r), 2))
        prims.append(arc((hx, hy), r, 270, 90, 2))
        J((hx, hy), "tee", 2)
        J((hx, hy - r), "corner", 2)
        J((hx + r, hy), "tee", 2)
    # columns and a round table
    for k in range(6):
        prims.append(circle((450.0 + 250 * k, 1500.0), 25.0 + 3 * k, 3 + k % 3))
    prims.append(circle((2250.0, 1500.0), 220.0, 4))
    prims.append(circle((2250.0, 1500.0), 120.0, 2))
    # filleted counters
    for k, (cx, cy, r) in enumerate([(420.0, 420.0, 30.0), (1600.0, 420.0, 60.0), (2900.0, 500.0, 100.0)]):
        p, j = fillet_shape(snap_half(cx, 3 + k), snap_half(cy, 3 + k), 360.0, 240.0, r, 3 + k)
        prims += p
        junc += j
    # slanted lines: a stair and a roof outline
    for k in range(10):
        a = 2950.0 + 0 * k
        prims.append(line((a, 1000.0 + 50 * k), (a + 300.0, 1000.0 + 50 * k + 60.0), 3))
    prims.append(line((2800.0, 1900.0), (3100.0, 1600.0), 5))
    prims.append(line((3100.0, 1600.0), (3400.0, 1900.0), 5))
    J((3100.0, 1600.0), "corner", 5)
    return dict(width=W, height=H, primitives=prims, junctions=junc)


# ---------------------------------------------------------------------------
# Variants: skew and scan noise
# ---------------------------------------------------------------------------
def rotated(g, deg):
    a = math.radians(deg)
    cx, cy = g["width"] / 2.0, g["height"] / 2.0
    c, s = math.cos(a), math.sin(a)

    def R(q):   # counter-clockwise on the screen (y down)
        x, y = q[0] - cx, q[1] - cy
        return [cx + x * c + y * s, cy - x * s + y * c]

    out = dict(g)
    prims = []
    for p in g["primitives"]:
        q = dict(p)
        if p["type"] == "line":
            q["p0"], q["p1"] = R(p["p0"]), R(p["p1"])
        else:
            q["center"] = R(p["center"])
            if p["type"] == "arc":
                q["start_deg"] = (p["start_deg"] - deg) % 360.0
        prims.append(q)
    out["primitives"] = prims
    if "junctions" in g:
        out["junctions"] = [dict(j, point=R(j["point"])) for j in g["junctions"]]
    if "fills" in g:
        fl = []
        for f in g["fills"]:
            f = dict(f)
            if f["type"] == "circle":
                f["center"] = R(f["center"])
            else:
                f["rings"] = [[R(q) for q in ring] for ring in f["rings"]]
            fl.append(f)
        out["fills"] = fl
    out["skew_deg"] = deg
    out["variant"] = "skew"
    return out


def scanned(canvas, rng, edge=0.45, specks_per_mp=60, holes_per_mp=6):
    """Rough edges (the ink's edge moved by smooth noise of about `edge` px), black specks of 1-12 px away
    from the lines and a few white holes in thick strokes."""
    from scipy import ndimage
    H, W = canvas.H, canvas.W
    noise = ndimage.gaussian_filter(rng.standard_normal((H, W)).astype(np.float32), 1.2)
    noise *= edge / max(float(noise.std()), 1e-6)
    ink = (canvas.D + noise) <= 0.0
    mp = W * H / 1e6
    for _ in range(int(specks_per_mp * mp)):
        x, y = int(rng.integers(2, W - 6)), int(rng.integers(2, H - 6))
        if canvas.D[y, x] < 6:
            continue
        s = int(rng.integers(1, 4))
        blob = rng.random((s, s)) < 0.7
        blob[0, 0] = True
        ink[y:y + s, x:x + s] |= blob
    for _ in range(int(holes_per_mp * mp)):
        x, y = int(rng.integers(2, W - 4)), int(rng.integers(2, H - 4))
        if canvas.D[y, x] < -2.5:
            ink[y, x] = False
    return ink


# ---------------------------------------------------------------------------
# Line types, widths and fills
# ---------------------------------------------------------------------------
PATTERNS = {   # drawn element lengths in px at width w: dash > 0, gap < 0
    "DASHED": lambda w: [24.0 + 3 * w, -(8.0 + 2 * w)],
    "CENTER": lambda w: [40.0 + 4 * w, -(7.0 + 2 * w), 1.0, -(7.0 + 2 * w)],
    "PHANTOM": lambda w: [40.0 + 4 * w, -(7.0 + 2 * w), 1.0, -(7.0 + 2 * w), 1.0, -(7.0 + 2 * w)],
    "DOT": lambda w: [1.0, -(6.0 + 2 * w)],
}


def dashes_along(L, pattern, phase=0.0):
    """Drawn [t0, t1] intervals of `pattern` along a length L (whole elements only; ends on a dash)."""
    out, t, k = [], 0.0, 0
    while t < L:
        v = pattern[k % len(pattern)]
        if v > 0:
            out.append([t, min(L, t + v)])
        t += abs(v)
        k += 1
    return [[float(a), float(b)] for a, b in out if b - a > 0.0 or b == a]


def d_styles(rng):
    """Dashed, dash-dot, dash-dot-dot and dotted lines and arcs in three width classes; junction dots,
    arrowheads and solid rectangles."""
    W, H = 2600, 2000
    wc = {"thin": 2, "medium": 4, "thick": 7}
    classes = list(wc)
    pk = Packer(rng, W, H, margin=22)
    prims, fills, junc = [], [], []
    names = list(PATTERNS)
    for k in range(24):      # patterned lines
        lt = names[k % 4]
        cls = classes[(k // 4) % 3]
        w = wc[cls]
        pat = PATTERNS[lt](w)
        a = [0.0, 90.0, 30.0, 135.0, float(rng.uniform(0, 180))][k % 5]
        L = float(rng.uniform(350, 900))
        dx, dy = L * math.cos(math.radians(a)), L * math.sin(math.radians(a))
        pos = pk.place(abs(dx) + w, abs(dy) + w)
        if pos is None:
            continue
        x0, y0 = pos[0] + w / 2 + (0 if dx >= 0 else -dx), pos[1] + w / 2 + (0 if dy >= 0 else -dy)
        if a in (0.0, 90.0):
            x0, y0 = snap_half(x0, w), snap_half(y0, w)
        ds = dashes_along(L, pat)
        L = ds[-1][1]       # the line ends where its last dash ends
        prims.append(line((x0, y0), (x0 + L * math.cos(math.radians(a)), y0 + L * math.sin(math.radians(a))), w,
                          width_class=cls, linetype=lt, pattern_px=pat, dashes=ds))
    for k in range(8):       # patterned arcs and circles
        lt = names[k % 4]
        cls = classes[k % 3]
        w = wc[cls]
        pat = PATTERNS[lt](w)
        r = float([120, 200, 300, 160][k % 4])
        pos = pk.place(2 * r + w, 2 * r + w)
        if pos is None:
            continue
        c = (pos[0] + r + w / 2, pos[1] + r + w / 2)
        sweep = 360.0 if k % 2 else 180.0
        ds = dashes_along(r * math.radians(sweep) - (abs(pat[-1]) if sweep == 360 else 0.0), pat)
        sweep_drawn = math.degrees(ds[-1][1] / r)
        start = float(rng.uniform(0, 360))
        if sweep == 360.0:
            prims.append(circle(c, r, w, width_class=cls, linetype=lt, pattern_px=pat, dashes=ds, start_deg=start))
        else:
            prims.append(arc(c, r, start, sweep_drawn, w, width_class=cls, linetype=lt, pattern_px=pat, dashes=ds))
    for k in range(12):      # continuous lines of each class, and wires with junction dots
        cls = classes[k % 3]
        w = wc[cls]
        L = float(rng.uniform(200, 600))
        pos = pk.place(L + w, L / 2 + w)
        if pos is None:
            continue
        x0, y0 = snap_half(pos[0] + w / 2, w), snap_half(pos[1] + w / 2, w)
        x1 = x0 + round(L)
        prims.append(line((x0, y0), (x1, y0), w, width_class=cls))
        if k % 2 == 0:       # a wire branching off with a dot at the junction
            xm = snap_half((x0 + x1) / 2, w)
            prims.append(line((xm, y0), (xm, y0 + round(L / 2) - 10), w, width_class=cls))
            fills.append({"type": "circle", "center": [xm, y0], "radius": float(2.2 * w + 2), "kind": "junction_dot"})
            junc.append({"point": [xm, y0], "kind": "tee", "width": float(w)})
        else:                # a dimension line with an arrowhead at each end
            for tip, sgn in ((x0, 1.0), (x1, -1.0)):
                ah, hw = 30.0, 7.0
                fills.append({"type": "polygon", "kind": "arrowhead",
                              "rings": [[[tip, y0], [tip + sgn * ah, y0 - hw], [tip + sgn * ah, y0 + hw]]]})
    for k in range(8):       # solid rectangles
        bw, bh = float(rng.uniform(20, 120)), float(rng.uniform(8, 60))
        pos = pk.place(bw, bh)
        if pos is None:
            continue
        x0, y0 = float(round(pos[0])), float(round(pos[1]))
        fills.append({"type": "polygon", "kind": "solid_rect",
                      "rings": [[[x0, y0], [x0 + round(bw), y0], [x0 + round(bw), y0 + round(bh)],
                                 [x0, y0 + round(bh)]]]})
    return dict(width=W, height=H, primitives=prims, fills=fills, width_classes=wc, junctions=junc)


def d_patterned_curves(rng):
    """Dashed, dash-dot, dash-dot-dot and dotted arcs and circles of every width class, smaller than the
    styles drawing's, so that each kind is there several times."""
    W, H = 2400, 1800
    wc = {"thin": 2, "medium": 4, "thick": 7}
    classes = list(wc)
    pk = Packer(rng, W, H, margin=22)
    prims = []
    names = list(PATTERNS)
    for k in range(24):
        lt = names[k % 4]
        cls = classes[(k // 4) % 3]
        w = wc[cls]
        pat = PATTERNS[lt](w)
        r = float([90, 140, 190, 120, 160, 110][k % 6])
        pos = pk.place(2 * r + w, 2 * r + w)
        if pos is None:
            continue
        c = (pos[0] + r + w / 2, pos[1] + r + w / 2)
        sweep = 360.0 if (k // 2) % 2 else float(rng.uniform(120, 270))
        ds = dashes_along(r * math.radians(sweep) - (abs(pat[-1]) if sweep == 360 else 0.0), pat)
        start = float(rng.uniform(0, 360))
        if sweep == 360.0:
            prims.append(circle(c, r, w, width_class=cls, linetype=lt, pattern_px=pat, dashes=ds, start_deg=start))
        else:
            prims.append(arc(c, r, start, math.degrees(ds[-1][1] / r), w, width_class=cls, linetype=lt,
                             pattern_px=pat, dashes=ds))
    return dict(width=W, height=H, primitives=prims, fills=[], width_classes=wc, junctions=[])


# ---------------------------------------------------------------------------
# Labels
# ---------------------------------------------------------------------------
FONTS = ["/usr/share/fonts/opentype/noto/NotoSansCJK-Regular.ttc",
         "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
         "/usr/share/fonts/truetype/fonts-japanese-gothic.ttf"]

LABELS = ["尺度 1:100", "平面図", "A-A 断面", "φ25", "2-φ12 穴", "R150", "1200", "3,450", "PLAN", "Section B",
          "図面番号 K-0421", "設計 山田", "S=1/50", "GL+1500", "仕上げ ▽", "φ8.5 キリ", "t=12", "45°", "寸法 850",
          "北側 立面図", "DETAIL 3", "承認", "2026.12.09", "M12x1.75"]


def text_stroke(mask):
    """Median stroke width of the glyphs: twice the median of the distance to paper on the skeleton-ish
    ridge (pixels that are local maxima of the distance)."""
    from scipy import ndimage
    if not mask.any():
        return 2.0
    d = ndimage.distance_transform_edt(mask)
    ridge = (d == ndimage.maximum_filter(d, size=3)) & mask
    return float(2.0 * np.median(d[ridge]) - 1.0) if ridge.any() else 2.0


def d_text(rng, touch=False):
    """Labels (Japanese, Latin, digits, φ) at 0 and 90 degrees beside lines, rendered with the Debian fonts. With
    touch, each label stands on its line: the line runs along the baseline, so that the letters' feet touch it and
    the descenders cross it."""
    W, H = 2600, 1800
    font_path = next((f for f in FONTS if os.path.exists(f)), None)
    if font_path is None:
        raise SystemExit("no CJK font found (Debian: fonts-noto-cjk or fonts-ipafont-gothic)")
    pk = Packer(rng, W, H, margin=30)
    prims, texts = [], []
    tm = Image.new("L", (W, H), 0)
    for k, s in enumerate(LABELS):
        em = int([30, 40, 50, 60, 79][k % 5])
        rot = 90 if k % 4 == 3 else 0
        font = ImageFont.truetype(font_path, em)
        asc, desc = font.getmetrics()
        x0b, _, x1b, _ = font.getbbox(s, anchor="ls")
        tw = x1b
        img = Image.new("L", (int(tw) + 8, asc + desc + 8), 0)
        ImageDraw.Draw(img).text((4, 4 + asc), s, font=font, fill=255, anchor="ls")
        if rot == 90:
            img = img.transpose(Image.Transpose.ROTATE_90)
        bw, bh = img.size
        pos = pk.place(bw + 60, bh + 60)
        if pos is None:
            continue
        px, py = int(pos[0]) + 30, int(pos[1]) + 30
        tm.paste(Image.fromarray(np.maximum(np.array(tm.crop((px, py, px + bw, py + bh))), np.array(img))),
                 (px, py))
        if rot == 0:
            ins = [px + 4.0, py + 4.0 + asc]
            box = [[ins[0], ins[1]], [ins[0] + tw, ins[1]], [ins[0] + tw, ins[1] - em], [ins[0], ins[1] - em]]
            # a line under the label, 10 px below its descenders
            w = 2 + k % 3
            yl = snap_half(ins[1] + w / 2, w) if touch else snap_half(py + bh + 14, w)
            prims.append(line((px - 10.5, yl), (px + bw + 10.5, yl), w))
        else:
            # rotated +90 (counter-clockwise): reading bottom to top; the baseline is the column 4 + asc from
            # the right edge of the unrotated picture's top, now 4 + asc from the left
            ins = [px + 4.0 + asc, py + bh - 4.0]
            box = [[ins[0], ins[1]], [ins[0], ins[1] - tw], [ins[0] - em, ins[1] - tw], [ins[0] - em, ins[1]]]
            w = 2 + k % 3
            xl = snap_half(ins[0] + w / 2, w) if touch else snap_half(px + bw + 14, w)
            prims.append(line((xl, py - 10.5), (xl, py + bh + 10.5), w))
        ascii_ = sum(1 for ch in s if ord(ch) < 128 and not ch.isspace())
        lang = "latin" if ascii_ == len(s.replace(" ", "")) else ("ja" if ascii_ == 0 else "mixed")
        texts.append({"text": s, "lang": lang, "height": float(em), "rotation_deg": rot,
                      "insert": [float(v) for v in ins],
                      "box": [[float(a), float(b)] for a, b in box]})
    text_ink = np.array(tm) >= 128
    return dict(width=W, height=H, primitives=prims, texts=texts), text_ink


def d_text_touch(rng):
    """The labels of d_text, each standing on a line that touches its letters."""
    return d_text(rng, touch=True)


# ---------------------------------------------------------------------------
def drawings(sets, seed):
    """(name, set, maker) in a fixed order; each maker gets its own generator seeded from (seed, index)."""
    out = []
    if "geometry" in sets:
        out += [("lines", "clean", d_lines, None), ("axes", "clean", d_axes, None), ("arcs", "clean", d_arcs, None),
                ("circles", "clean", d_circles, None), ("corners", "clean", d_corners, None),
                ("plan", "clean", d_plan, None),
                ("plan_skew03", "skew", d_plan, 0.3), ("plan_skew07", "skew", d_plan, 0.7),
                ("plan_skew20", "skew", d_plan, -2.0), ("corners_skew12", "skew", d_corners, 1.2),
                ("plan_scan", "scan", d_plan, None), ("corners_scan", "scan", d_corners, None),
                ("arcs_scan", "scan", d_arcs, None), ("lines_scan07", "scan", d_lines, 0.7)]
    if "styles" in sets:
        out += [("styles", "styles", d_styles, None), ("styles_scan", "styles_scan", d_styles, None),
                ("curves_dashed", "styles", d_patterned_curves, None),
                ("curves_dashed_scan", "styles_scan", d_patterned_curves, None)]
    if "text" in sets:
        out += [("text", "text", d_text, None), ("text_touch", "text", d_text_touch, None)]
    return out


def make(outdir, name, group, maker, skew, seed, index):
    base = zlib_seed(maker.__name__)      # variants of one drawing share its primitives
    rng = np.random.default_rng([seed, base])
    res = maker(rng)
    text_ink = None
    if isinstance(res, tuple):
        g, text_ink = res
    else:
        g = res
    g.setdefault("variant", "clean")
    if skew:
        g = rotated(g, skew)
    if group.endswith("scan") or group == "scan":
        g["variant"] = "scan"
    g["group"] = group
    g["picture"] = name + ".bmp"
    cv = Canvas(g["width"], g["height"])
    for p in g["primitives"]:
        cv.stroke(p)
    for f in g.get("fills", []):
        cv.fill(f)
    if g["variant"] == "scan":
        ink = scanned(cv, np.random.default_rng([seed, zlib_seed(name), 1]))
    else:
        ink = cv.ink()
    if text_ink is not None:
        ink |= text_ink
        g["textmask"] = name + "_textmask.bmp"
        g["text_stroke_px"] = round(text_stroke(text_ink), 2)
        save_bmp(os.path.join(outdir, g["textmask"]), text_ink)
    save_bmp(os.path.join(outdir, name + ".bmp"), ink)
    with open(os.path.join(outdir, name + ".json"), "w") as f:
        json.dump(g, f, ensure_ascii=False, indent=0)
    return g


def zlib_seed(name):
    import zlib
    return zlib.crc32(name.encode())


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("outdir")
    ap.add_argument("--set", default="geometry,styles,text", help="comma list of geometry, styles, text")
    ap.add_argument("--seed", type=int, default=SEED)
    ap.add_argument("--only", default="", help="comma list of drawing names")
    a = ap.parse_args()
    os.makedirs(a.outdir, exist_ok=True)
    sets = set(a.set.split(","))
    only = set(filter(None, a.only.split(",")))
    for i, (name, group, maker, skew) in enumerate(drawings(sets, a.seed)):
        if only and name not in only:
            continue
        g = make(a.outdir, name, group, maker, skew, a.seed, i)
        print("%-16s %-11s %5dx%-5d %4d primitives%s" % (name, group, g["width"], g["height"], len(g["primitives"]),
              (", skew %.1f deg" % g["skew_deg"]) if "skew_deg" in g else ""), file=sys.stderr)


if __name__ == "__main__":
    main()
