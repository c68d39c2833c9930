#!/usr/bin/env python3
"""Generates the shape table of the abstract background (app/drawing/StyleKitBackgroundTable.cpp).

The picture is a jittered mosaic over the 288 x 288 canvas (y up): 159 polygons (124 triangles,
34 quadrilaterals, one pentagon), 91 opaque greys, 116 two-stop gradients (7 flat), every gradient
pointing right and down. The output is deterministic (fixed seed); run it again only to change the
picture:  python3 tools/drawing/generate_background.py > app/drawing/StyleKitBackgroundTable.cpp
"""

import math
import random

rng = random.Random(20261208)
SIZE = 288.0

# The first three shapes of the painting order, fixed.
FIXED_SHAPES = [
    ([(11.71, 288), (18.44, 286.25), (20.1, 286.25), (13.16, 288)], (0.992, 0.98),
     (-33.71, 299.5), (19.7, 286.15)),
    ([(126.44, 247.63), (138.07, 239.24), (98.2, 214.05)], (0.976, 0.98),
     (95.51, 245.5), (135.57, 212.11)),
    ([(172.97, 229.16), (176.29, 185.51), (151.37, 205.66)], (0.965, 0.973),
     (153.43, 232.56), (178.43, 189.21)),
]
FIRST_LEVELS = [0.992, 0.98, 0.976, 0.965, 0.973, 0.996, 0.702, 0.49]
DARKEST = 0.216
ANGLE_MIN, ANGLE_MAX = -87.27, -8.70
X_MIN, X_MAX, Y_MIN, Y_MAX = -73.04, 348.69, -41.27, 307.03


def r2(v):
    return round(v + 0.0, 2)


# ---- Mosaic geometry -------------------------------------------------------------------------
# Rows 0..9 share one jittered 8-column lattice; rows 10..11 a 7-column lattice above a straight
# seam, so the two parts meet without gaps. 94 cells in all.
def lattice(cols, ys, jitter_first_row):
    pts = []
    for j, y in enumerate(ys):
        row = []
        for i in range(cols + 1):
            x = SIZE * i / cols
            yy = y
            if 0 < i < cols:
                x += rng.uniform(-0.3, 0.3) * SIZE / cols
            if 0 < j < len(ys) - 1 or (j == 0 and jitter_first_row and False):
                yy += rng.uniform(-0.3, 0.3) * (ys[1] - ys[0])
            row.append((r2(x), r2(yy)))
        pts.append(row)
    return pts


SEAM = r2(SIZE * 10 / 12)
lower = lattice(8, [SEAM * j / 10 for j in range(11)], False)
upper = lattice(7, [SEAM + (SIZE - SEAM) * j / 2 for j in range(3)], False)

cells = []  # each a list of 4 corners: bottom-left, bottom-right, top-right, top-left
for pts, cols, rows in ((lower, 8, 10), (upper, 7, 2)):
    for j in range(rows):
        for i in range(cols):
            cells.append([pts[j][i], pts[j][i + 1], pts[j + 1][i + 1], pts[j + 1][i]])
assert len(cells) == 94

# 33 quadrilaterals, one triangle + pentagon, one cell of three triangles, 59 cells of two.
kinds = ['quad'] * 33 + ['pent'] + ['three'] + ['two'] * 59
rng.shuffle(kinds)
shapes = []
for cell, kind in zip(cells, kinds):
    a, b, c, d = cell
    if kind == 'quad':
        shapes.append([a, b, c, d])
    elif kind == 'two':
        if rng.random() < 0.5:
            shapes += [[a, b, c], [a, c, d]]
        else:
            shapes += [[a, b, d], [b, c, d]]
    elif kind == 'pent':
        m1 = (r2((b[0] + c[0]) / 2), r2((b[1] + c[1]) / 2))
        m2 = (r2((c[0] + d[0]) / 2), r2((c[1] + d[1]) / 2))
        shapes += [[m1, c, m2], [a, b, m1, m2, d]]
    else:
        m = (r2((a[0] + b[0]) / 2), r2((a[1] + b[1]) / 2))
        shapes += [[a, m, d], [m, c, d], [m, b, c]]
rng.shuffle(shapes)
assert len(shapes) == 156


# ---- Gradients and palette ---------------------------------------------------------------------
def centroid(poly):
    return (sum(p[0] for p in poly) / len(poly), sum(p[1] for p in poly) / len(poly))


def field(x, y):
    # Light towards the top left, darker towards the bottom right, with a darker band.
    t = 0.55 * (1 - y / SIZE) + 0.45 * (x / SIZE)
    band = math.exp(-((x - y - 40) / 70.0) ** 2)
    return max(0.25, min(0.99, 0.95 - 0.55 * t - 0.2 * band + rng.uniform(-0.06, 0.06)))


# Usage counts: one gradient serves seven shapes, the seven flat ones two each, thirty more two,
# the rest one; 159 in all.
N_GRAD = 116
flat_ids = set(rng.sample(range(5, N_GRAD), 7))
rest = [g for g in range(5, N_GRAD) if g not in flat_ids]
rng.shuffle(rest)
seven = rest[0]
doubles_ld = rest[1:16]
doubles_dl = rest[16:31]
singles = rest[31:]
uses = {g: 1 for g in range(N_GRAD)}
direction = {}  # 'ld' lighter to darker, 'dl', 'flat'
for g in flat_ids:
    uses[g] = 2
    direction[g] = 'flat'
uses[seven] = 7
direction[seven] = 'ld'
for g in doubles_ld:
    uses[g] = 2
    direction[g] = 'ld'
for g in doubles_dl:
    uses[g] = 2
    direction[g] = 'dl'
# Fixed first five: ld, dl, dl, ld, ld; the singles make up 78 ld / 67 dl shapes in all.
for g, d in zip(range(5), ['ld', 'dl', 'dl', 'ld', 'ld']):
    direction[g] = d
ld_needed = 78 - 7 - 30 - 3
dl_needed = 67 - 30 - 2
assert ld_needed + dl_needed == len(singles)
for k, g in enumerate(singles):
    direction[g] = 'ld' if k < ld_needed else 'dl'
assert sum(uses.values()) == 159

# Painting order of gradient uses: each gradient first in creation order, its repeats later.
order = list(range(N_GRAD))
for g in range(N_GRAD):
    for _ in range(uses[g] - 1):
        first = order.index(g)
        order.insert(rng.randint(max(first + 1, 3), len(order)), g)
assert order[:3] == [0, 1, 2]

all_shapes = [s[0] for s in FIXED_SHAPES] + shapes

# Grey levels: 91 distinct three-decimal levels from 0.216 to 0.996.
levels = set(FIRST_LEVELS) | {DARKEST}
while len(levels) < 91:
    levels.add(round(rng.uniform(0.23, 0.99), 3))
unused = set(levels) - set(FIRST_LEVELS)
fixed_pairs = [(0.992, 0.98), (0.976, 0.98), (0.965, 0.973), (0.996, 0.98), (0.702, 0.49)]


def pick(target, avoid=None):
    near_unused = [v for v in unused if abs(v - target) < 0.12 and v != avoid]
    pool = near_unused or [v for v in levels if v != avoid and v not in FIRST_LEVELS[:6]]
    v = min(pool, key=lambda v: abs(v - target))
    unused.discard(v)
    return v


grad_colours = {}
for pos, g in enumerate(order):
    if g in grad_colours:
        continue
    if g < 5:
        grad_colours[g] = fixed_pairs[g]
        continue
    cx, cy = centroid(all_shapes[pos])
    base = field(cx, cy)
    if direction[g] == 'flat':
        v = pick(base)
        grad_colours[g] = (v, v)
        continue
    a = pick(base + 0.04)
    b = pick(base - 0.06, avoid=a)
    lo, hi = min(a, b), max(a, b)
    grad_colours[g] = (hi, lo) if direction[g] == 'ld' else (lo, hi)
# Any level still unused replaces one end of a later single-use gradient, where the end it
# replaces is used elsewhere too.
def use_count(v):
    return sum((a == v) + (b == v) for a, b in grad_colours.values())


for v in sorted(unused):
    best = None
    for g in singles:
        if g not in grad_colours:
            continue
        for end in (0, 1):
            old_v = grad_colours[g][end]
            other = grad_colours[g][1 - end]
            if use_count(old_v) < 2 or other == v or old_v in FIRST_LEVELS:
                continue
            cost = abs(old_v - v)
            if best is None or cost < best[0]:
                best = (cost, g, end)
    _, g, end = best
    pair = list(grad_colours[g])
    pair[end] = v
    s_, e_ = pair
    if (direction[g] == 'ld') != (s_ > e_):
        s_, e_ = e_, s_
    grad_colours[g] = (s_, e_)
    singles.remove(g)
unused.clear()

# Creation order of gradients follows first use; palette order follows gradients' first use.
created = []
for g in order:
    if g not in created:
        created.append(g)
palette = []
for g in created:
    for v in grad_colours[g]:
        if v not in palette:
            palette.append(v)
assert palette[:8] == FIRST_LEVELS, palette[:8]
assert len(palette) == 91 and min(palette) == DARKEST and max(palette) == 0.996, (len(palette), min(palette), max(palette))


# ---- Gradient end points -----------------------------------------------------------------------
def angle_of(p, q):
    return math.degrees(math.atan2(q[1] - p[1], q[0] - p[0]))


ends = []
for idx, poly in enumerate(all_shapes):
    if idx < 3:
        ends.append((FIXED_SHAPES[idx][2], FIXED_SHAPES[idx][3]))
        continue
    cx, cy = centroid(poly)
    radius = max(math.hypot(p[0] - cx, p[1] - cy) for p in poly)
    for _ in range(100):
        ang = math.radians(rng.uniform(-85.5, -10.5))
        length = radius * rng.uniform(0.6, 1.6)
        shift = rng.uniform(-0.3, 0.3) * radius
        sx = cx - math.cos(ang) * length + shift
        sy = cy - math.sin(ang) * length
        ex = cx + math.cos(ang) * length + shift
        ey = cy + math.sin(ang) * length
        p, q = (r2(sx), r2(sy)), (r2(ex), r2(ey))
        if (X_MIN < min(p[0], q[0]) and max(p[0], q[0]) < X_MAX and Y_MIN < min(p[1], q[1])
                and max(p[1], q[1]) < Y_MAX and ANGLE_MIN < angle_of(p, q) < ANGLE_MAX):
            break
    ends.append((p, q))


def stretch(idx, which, coord, bound):
    """Moves one end point along its gradient's line until `coord` equals `bound`."""
    p, q = ends[idx]
    dx, dy = q[0] - p[0], q[1] - p[1]
    if which == 0:
        t = (bound - p[coord]) / (dx, dy)[coord]
        np_ = (bound, r2(p[1] + t * dy)) if coord == 0 else (r2(p[0] + t * dx), bound)
        ends[idx] = (np_, q)
    else:
        t = (bound - q[coord]) / (dx, dy)[coord]
        nq = (bound, r2(q[1] + t * dy)) if coord == 0 else (r2(q[0] + t * dx), bound)
        ends[idx] = (p, nq)


# The extremes of the end points: stretch the shapes nearest each bound out to it.
movable = range(3, len(ends))
stretch(min(movable, key=lambda i: ends[i][0][0]), 0, 0, X_MIN)
stretch(max(movable, key=lambda i: ends[i][1][0]), 1, 0, X_MAX)
stretch(min(movable, key=lambda i: ends[i][1][1]), 1, 1, Y_MIN)
stretch(max(movable, key=lambda i: ends[i][0][1]), 0, 1, Y_MAX)
for p, q in ends:
    assert ANGLE_MIN <= angle_of(p, q) <= ANGLE_MAX, angle_of(p, q)
    for v in (p, q):
        assert X_MIN <= v[0] <= X_MAX and Y_MIN <= v[1] <= Y_MAX

# ---- Output ------------------------------------------------------------------------------------
shape_gradient = [created.index(g) for g in order]
pal_index = {v: i for i, v in enumerate(palette)}


def num(v):
    s = f"{v:.2f}".rstrip('0').rstrip('.')
    return s if s not in ('-0', '') else '0'


out = []
out.append("// Generated by tools/drawing/generate_background.py; edit the generator, not this file.")
out.append("// clang-format off")
out.append('#include "app/drawing/StyleKitBackgroundTable.h"')
out.append("")
out.append("namespace tw::background {")
out.append("namespace {")
out.append("")
out.append("constexpr double kLevels[] = {")
for k in range(0, len(palette), 10):
    out.append("    " + ", ".join(f"{v:.3f}".rstrip('0') for v in palette[k:k + 10]) + ",")
out.append("};")
out.append("")
out.append("constexpr GradientEntry kGradients[] = {")
for g in created:
    s, e = grad_colours[g]
    out.append(f"    {{{pal_index[s]}, {pal_index[e]}}},")
out.append("};")
out.append("")
out.append("constexpr Point kVertices[] = {")
offsets = []
n = 0
for poly in all_shapes:
    offsets.append(n)
    n += len(poly)
    out.append("    " + " ".join(f"{{{num(x)}, {num(y)}}}," for x, y in poly))
out.append("};")
out.append("")
out.append("constexpr ShapeEntry kShapes[] = {")
for i, poly in enumerate(all_shapes):
    (p, q) = ends[i]
    out.append(f"    {{{offsets[i]}, {len(poly)}, {shape_gradient[i]}, "
               f"{{{num(p[0])}, {num(p[1])}}}, {{{num(q[0])}, {num(q[1])}}}}},")
out.append("};")
out.append("")
out.append("}  // namespace")
out.append("")
out.append("std::span<const double> paletteLevels() { return kLevels; }")
out.append("std::span<const GradientEntry> gradients() { return kGradients; }")
out.append("std::span<const Point> vertices() { return kVertices; }")
out.append("std::span<const ShapeEntry> shapes() { return kShapes; }")
out.append("")
out.append("}  // namespace tw::background")
print("\n".join(out))
