#!/usr/bin/python3
"""The true arcs whose written arc misses (centre more than 1 px or radius more than 1 % + 0.5 px off), and
whether the picture could have told: the ink of each such arc is compared with the stroke the true arc makes,
the stroke of the written circle, and the stroke of the arc that fits the ink best from the truth (the same
smooth step the program's ink fit uses, 0.35 px wide, its ends and half width free).

    bench/quality/arc_misses.py DRAWINGS_DIR RUN_DIR [NAMES...] [--all] [--scoring DIR]

The written arc is the one the benchmark matches (the longest written arc whose middle lies near the true
circle). A drawing written with --deskew is turned back into the picture's frame first. The pixels compared lie
within the half width and 3 px of the true or the written arc, less those within 2 px of any other true stroke;
a stroke is the pixels whose centres lie within the true half width of its arc (round ends).

Columns: T / W / W' / B / Z = pixels whose ink differs from the stroke of the true arc, the written arc, the
written circle between the true arc's ends (its circle alone judged), the picture's best arc, and the arc nearest
the written one that puts every pixel on the right side of its edges where it can (each pixel on the wrong side
costs its distance from the edge); B ce / B re = the best arc's centre and radius error. Verdicts:
  picture    the written circle leaves no more pixels wrong than the truth: the ink cannot tell them apart
  picture'   the best arc or the arc Z is out of tolerance and leaves no more pixels wrong than the truth
  fit        the truth leaves clearly fewer pixels wrong (3, or a tenth, fewer) than the written circle
  fit?       the truth leaves a few fewer wrong
"""
import argparse
import json
import math
import os
import sys

import numpy as np
from PIL import Image
from scipy.optimize import least_squares

STEP = 0.35
TWO_PI = 2 * math.pi


def arc_dist(a, X, Y):
    """Distance of (X, Y) to the arc a = (cx, cy, r, start, sweep) (radians; points cx + r cos t, cy + r sin t)."""
    cx, cy, r, a0, sw = a[:5]
    rel = np.mod(np.arctan2(Y - cy, X - cx) - a0, TWO_PI)
    inside = (rel <= sw) | (sw >= TWO_PI - 1e-9)
    e0 = np.hypot(X - cx - r * math.cos(a0), Y - cy - r * math.sin(a0))
    e1 = np.hypot(X - cx - r * math.cos(a0 + sw), Y - cy - r * math.sin(a0 + sw))
    return np.where(inside, np.abs(np.hypot(X - cx, Y - cy) - r), np.minimum(e0, e1))


def prim_dist(kind, P, X, Y):
    if kind == 0:
        ax, ay, bx, by = P[:4]
        dx, dy = bx - ax, by - ay
        L2 = dx * dx + dy * dy
        t = np.clip(((X - ax) * dx + (Y - ay) * dy) / (L2 if L2 > 0 else 1), 0, 1)
        return np.hypot(X - ax - t * dx, Y - ay - t * dy)
    return arc_dist(P, X, Y)


def turn_back(det, g, turned):
    """The written pieces (in the frame of the truth turned by --deskew) turned back into the picture's frame."""
    for p, q in zip(g["primitives"], turned["primitives"]):
        if p["type"] == "line":
            a = (math.atan2(q["p1"][1] - q["p0"][1], q["p1"][0] - q["p0"][0]) -
                 math.atan2(p["p1"][1] - p["p0"][1], p["p1"][0] - p["p0"][0]))
            break
    else:
        return det
    b = -a
    cx, cy = g["width"] / 2.0 + 0.5, g["height"] / 2.0 + 0.5
    c, s = math.cos(b), math.sin(b)

    def R(x, y):
        return cx + (x - cx) * c - (y - cy) * s, cy + (x - cx) * s + (y - cy) * c

    P = det.P.copy()
    for k in range(len(P)):
        P[k, 0], P[k, 1] = R(P[k, 0], P[k, 1])
        if det.kind[k] == 0:
            P[k, 2], P[k, 3] = R(P[k, 2], P[k, 3])
        else:
            P[k, 3] += b
    det.P = P
    return det


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("drawings")
    ap.add_argument("rundir")
    ap.add_argument("names", nargs="*")
    ap.add_argument("--all", action="store_true", help="list the arcs within tolerance too")
    ap.add_argument("--scoring", default="/work/shared/scoring")
    a = ap.parse_args()
    sys.path.insert(0, a.scoring)
    import vri
    names = a.names or sorted(f[:-5] for f in os.listdir(a.drawings)
                              if f.endswith(".json") and os.path.exists(os.path.join(a.rundir, f[:-5] + ".dxf")))
    print("%-14s %3s %-6s %6s %5s %2s %5s %5s | %5s %5s %5s %5s %5s | %5s %5s  %s" % (
        "drawing", "#", "type", "r", "sweep", "w", "ce", "re", "T", "W", "W'", "B", "Z", "B ce", "B re", "verdict"))
    counts, matched, within = {}, 0, 0
    for name in names:
        g = json.load(open(os.path.join(a.drawings, name + ".json")))
        _, gk, gP, gw, _ = vri.read_gt(os.path.join(a.drawings, name + ".json"))
        H, W = g["height"], g["width"]
        det = vri.read_detected(os.path.join(a.rundir, name + ".dxf"), "trazbit", H, 1.0)
        turned = os.path.join(a.rundir, name + ".turned.json")
        if os.path.exists(turned) and len(det.kind):
            det = turn_back(det, g, json.load(open(turned)))
        ink = np.array(Image.open(os.path.join(a.drawings, name + ".bmp")).convert("L")) < 128
        if not len(det.kind) or not (det.kind == 1).any():
            continue
        L = vri.lengths(det.kind, det.P)
        arcs = np.nonzero(det.kind == 1)[0]
        mx, my = vri.points_at(det.kind, det.P, arcs, np.full(len(arcs), 0.5))
        for i, p in enumerate(g["primitives"]):
            if p["type"] not in ("arc", "circle"):
                continue
            (cx, cy), r, w = p["center"], p["radius"], p["width"]
            sel = arcs[np.abs(np.hypot(mx - cx, my - cy) - r) <= max(2.0, 0.75 * w)]
            sweep = 360.0 if p["type"] == "circle" else p["sweep_deg"]
            if not len(sel):
                continue
            j = sel[np.argmax(L[sel])]
            if L[j] < 0.5 * r * math.radians(sweep):
                continue
            matched += 1
            ce, re_ = math.hypot(det.P[j, 0] - cx, det.P[j, 1] - cy), abs(det.P[j, 2] - r)
            ok = ce <= 1.0 and re_ <= 0.01 * r + 0.5
            within += ok
            if ok and not a.all:
                continue
            T, O = gP[i].copy(), det.P[j].copy()
            hw, reach = w / 2, w / 2 + 3
            x0 = int(max(0, min(T[0] - T[2], O[0] - O[2]) - reach - 2))
            x1 = int(min(W, max(T[0] + T[2], O[0] + O[2]) + reach + 2))
            y0 = int(max(0, min(T[1] - T[2], O[1] - O[2]) - reach - 2))
            y1 = int(min(H, max(T[1] + T[2], O[1] + O[2]) + reach + 2))
            Y, X = np.mgrid[y0:y1, x0:x1] + 0.5
            dT, dO = prim_dist(1, T, X, Y), prim_dist(1, O, X, Y)
            win = (dT <= reach) | (dO <= reach)
            for k in range(len(gk)):
                q = gP[k]
                if k == i:
                    continue
                if gk[k] == 0:
                    bx0, bx1, by0, by1 = min(q[0], q[2]), max(q[0], q[2]), min(q[1], q[3]), max(q[1], q[3])
                else:
                    bx0, bx1, by0, by1 = q[0] - q[2], q[0] + q[2], q[1] - q[2], q[1] + q[2]
                m = gw[k] / 2 + 2
                if bx1 + m < x0 or bx0 - m > x1 or by1 + m < y0 or by0 - m > y1:
                    continue
                win &= ~(prim_dist(gk[k], q, X, Y) <= m)
            I, Xs, Ys = ink[y0:y1, x0:x1][win], X[win], Y[win]
            # the written circle between the true arc's ends, as seen from its centre
            if p["type"] == "circle" or O[4] >= TWO_PI - 1e-9:
                O2 = np.r_[O[:3], 0.0, TWO_PI]
            else:
                ends = [(T[0] + T[2] * math.cos(t), T[1] + T[2] * math.sin(t)) for t in (T[3], T[3] + T[4])]
                b0, b1 = (math.atan2(e[1] - O[1], e[0] - O[0]) for e in ends)
                O2 = np.r_[O[:3], b0, (b1 - b0) % TWO_PI]
            wrong = lambda d, h=hw: int(((d[win] <= h) != I).sum())  # noqa: E731
            mT, mO, mO2 = wrong(dT), wrong(dO), wrong(prim_dist(1, O2, X, Y))

            def soft(v):
                return I - 1 / (1 + np.exp(np.clip((prim_dist(1, v[:5], Xs, Ys) - v[5]) / STEP, -40, 40)))

            if p["type"] == "circle":
                best = least_squares(lambda v: soft(np.r_[v[:3], T[3], T[4], v[3]]), np.r_[T[:3], hw],
                                     method="lm", x_scale="jac").x
                B, hB = np.r_[best[:3], T[3], T[4]], best[3]
            else:
                best = least_squares(soft, np.r_[T, hw], method="lm", x_scale="jac").x
                B, hB = best[:5], best[5]
            mB = wrong(prim_dist(1, B, X, Y), hB)
            bce, bre = math.hypot(B[0] - cx, B[1] - cy), abs(B[2] - r)
            bok = bce <= 1.0 and bre <= 0.01 * r + 0.5

            # the nearest arc to the written one that leaves no pixel wrong where it can (each pixel on the
            # wrong side of the stroke's edge costs its distance from it)
            def wrong_side(v):
                d = prim_dist(1, v[:5], Xs, Ys)
                return np.where(I, np.maximum(0, d - v[5]), np.maximum(0, v[5] - d))

            Z = least_squares(wrong_side, np.r_[O2 if p["type"] == "circle" else O, hw], method="trf",
                              x_scale="jac", max_nfev=400).x
            mZ = wrong(prim_dist(1, Z[:5], X, Y), Z[5])
            zok = math.hypot(Z[0] - cx, Z[1] - cy) <= 1.0 and abs(Z[2] - r) <= 0.01 * r + 0.5
            if ok:
                verdict = "ok"
            elif mO2 <= mT:
                verdict = "picture"
            elif (mB <= mT and not bok) or (mZ <= mT and not zok):
                verdict = "picture'"
            elif mO2 >= mT + max(3, 0.1 * mT):
                verdict = "fit"
            else:
                verdict = "fit?"
            counts[verdict] = counts.get(verdict, 0) + 1
            print("%-14s %3d %-6s %6.1f %5.0f %2d %5.2f %5.2f | %5d %5d %5d %5d %5d | %5.2f %5.2f  %s" % (
                name, i, p["type"], r, sweep, w, ce, re_, mT, mO, mO2, mB, mZ, bce, bre, verdict))
    print("written arcs matched to a true arc: %d, within tolerance: %d; misses: %s" % (
        matched, within, ", ".join("%s %d" % kv for kv in sorted(counts.items()) if kv[0] != "ok")))


main()
