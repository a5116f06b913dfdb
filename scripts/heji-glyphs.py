#!/usr/bin/env python3
"""Draws the Helmholtz-Ellis accidentals of the note cards into resources/data/heji.

Run from anywhere: python3 scripts/heji-glyphs.py. The files it writes are kept
in the repository; run it again after changing a drawing here.

Every glyph is drawn on the same box as the card's other glyphs, one staff
space being 100 units, but four spaces high instead of three: y runs from
-50 to 350 and the note sits at y = 150, so that arrows have room above and
below the sharps and flats (whose drawings are taken from resources/data).
Everything black is written "fill:#000000" or "stroke:#000000", which the
card repaints in the colour of the note's prime.

Files:
  <accidental>.svg                  doubleflat, flat, sharp, doublesharp
  <accidental>-<up|down><n>.svg     the same (and natural) with n = 1..3
                                    arrows of the 81/80 comma
  arrow-<up|down><n>.svg            n arrows alone, for more than three
  7-<up|down><n>.svg                n = 1, 2 septimal commas (64/63)
  <p>-<up|down>.svg                 p = 11, 13, 17, 19, 23: one comma
"""

import math
import os
import re

HERE = os.path.dirname(os.path.abspath(__file__))
DATA = os.path.join(HERE, "..", "resources", "data")
OUT = os.path.join(DATA, "heji")

TOP, HEIGHT = -50, 400
STEM = 12                      # stem width, as the sharps and flats have it
HEAD_WIDTH, HEAD_HEIGHT, HEAD_STEP = 64, 46, 40
UP_TIP, DOWN_TIP = -46, 346    # where arrows end, inside the box

FILL = 'style="fill:#000000;stroke:none"'
LINE = 'style="fill:none;stroke:#000000;stroke-width:%d"' % STEM


def poly(points):
    return "M" + "L".join("%.1f,%.1f" % p for p in points) + "Z"


def rect(x0, y0, x1, y1):
    return poly([(x0, y0), (x1, y0), (x1, y1), (x0, y1)])


def paths_of(name):
    """The path data of one of the card's own glyphs."""
    with open(os.path.join(DATA, name + ".svg")) as f:
        return re.findall(r'<path style="fill:#000000;stroke:none" d="([^"]+)"/>', f.read())


def natural():
    return [rect(14, 0, 26, 214), rect(70, 86, 82, 300),
            poly([(14, 96), (82, 82), (82, 112), (14, 126)]),
            poly([(14, 188), (82, 174), (82, 204), (14, 218)])]


# Each body: its paths, and the stems (centre x, end y) that carry arrows up and down.
BODIES = {
    "doubleflat": (paths_of("doubleflat"), (20, 2), (20, 212)),
    "flat": (paths_of("flat"), (20, 2), (20, 212)),
    "natural": (natural(), (20, 0), (76, 300)),
    "sharp": (paths_of("sharp"), (78, 8), (36, 292)),
    # The double sharp has no stem: the arrow stands beside it.
    "doublesharp": (paths_of("doublesharp"), (146, 90), (146, 210)),
}


def arrow(x, end, up, count):
    """A stem from `end` out to the tip, with `count` heads from the tip back."""
    sign = -1 if up else 1
    tip = UP_TIP if up else DOWN_TIP
    shapes = [(FILL, rect(x - STEM / 2, min(end, tip - sign * HEAD_HEIGHT),
                          x + STEM / 2, max(end, tip - sign * HEAD_HEIGHT)))]
    for k in range(count):
        point = tip - sign * k * HEAD_STEP
        base = point - sign * HEAD_HEIGHT
        shapes.append((FILL, poly([(x, point), (x - HEAD_WIDTH / 2, base),
                                   (x + HEAD_WIDTH / 2, base)])))
    return shapes


def bounds(shapes):
    xs = []
    for style, d in shapes:
        numbers = [float(v) for v in re.findall(r"-?\d+(?:\.\d+)?", d)]
        pad = STEM / 2 if "stroke-width" in style else 0
        xs += [v - pad for v in numbers[0::2]] + [v + pad for v in numbers[0::2]]
    return min(xs), max(xs)


def write(name, title, shapes):
    left, right = bounds(shapes)
    left, width = left - 6, right - left + 12
    lines = ['<?xml version="1.0" encoding="UTF-8"?>',
             "<!-- %s, for the note cards. One staff space is 100 units, the note at y = 150;"
             " drawn by scripts/heji-glyphs.py. -->" % title,
             '<svg xmlns="http://www.w3.org/2000/svg" version="1.2" baseProfile="tiny"'
             ' width="%d" height="%d" viewBox="%.1f %d %.1f %d">'
             % (round(width * 0.09), round(HEIGHT * 0.09), left, TOP, width, HEIGHT)]
    lines += ['  <path %s d="%s"/>' % shape for shape in shapes]
    lines.append("</svg>")
    with open(os.path.join(OUT, name + ".svg"), "w") as f:
        f.write("\n".join(lines) + "\n")


def way(up):
    return "up" if up else "down"


def commas(count, what):
    return "%s %s %s" % (["one", "two", "three"][count - 1], what,
                         "comma" if count == 1 else "commas")


def prime_sign(prime, up):
    """Stem and arrowhead, and a mark of the prime at the tail end."""
    x = 50
    tail = 250 if up else 50
    sign = 1 if up else -1          # tail - sign * d lies d towards the tip
    # The ring's stem stops at the ring; the other marks sit on the stem.
    shapes = arrow(x, tail - sign * 28 if prime == 13 else tail, up, 1)
    if prime == 11:    # one slanted bar across the middle, as a quarter-tone sign
        shapes.append((FILL, poly([(14, 166), (86, 146), (86, 174), (14, 194)])))
    elif prime == 13:  # a ring
        shapes.append((LINE, poly([(x + 28 * math.sin(a * math.pi / 12),
                                    tail + 28 * math.cos(a * math.pi / 12)) for a in range(24)])))
    elif prime == 17:  # a cross
        a, b = tail - sign * 56, tail - sign * 6
        shapes.append((LINE, "M20,%dL80,%dM20,%dL80,%d" % (a, b, b, a)))
    elif prime == 19:  # two ticks
        for y in (tail - sign * 60, tail - sign * 24):
            shapes.append((FILL, rect(18, y - 6, 82, y + 6)))
    elif prime == 23:  # a diamond
        shapes.append((FILL, poly([(x, tail - 40), (x + 30, tail), (x, tail + 40),
                                   (x - 30, tail)])))
    return shapes


def septimal(up, count):
    """The septimal comma: a 7 with its stem ending in an arrow (down), or the
    same turned over, an L (up); two stems for two commas."""
    shapes = []
    bar_y = 50 if not up else 250
    apart = HEAD_WIDTH + 8     # arrowheads side by side, not run together
    first = 22 if up else 78   # the L's stem on the left, the 7's on the right
    stems = [first + apart * k for k in range(count)]
    left = 16 if up else 10
    right = 90 + apart * (count - 1) if up else stems[-1] + STEM / 2
    shapes.append((FILL, rect(left, bar_y - 7, right, bar_y + 7)))
    for x in stems:
        shapes += arrow(x, bar_y, up, 1)
    return shapes


def main():
    os.makedirs(OUT, exist_ok=True)
    for body, (paths, up_stem, down_stem) in BODIES.items():
        shapes = [(FILL, d) for d in paths]
        if body != "natural":
            write(body, body.capitalize(), shapes)
        if body == "doublesharp":
            shapes.append((FILL, rect(140, 90, 152, 210)))
        for up in (True, False):
            x, end = up_stem if up else down_stem
            for n in (1, 2, 3):
                title = "%s %s by %s" % (body.capitalize(), "raised" if up else "lowered",
                                         commas(n, "81/80"))
                write("%s-%s%d" % (body, way(up), n), title, shapes + arrow(x, end, up, n))
    for up in (True, False):
        for n in (1, 2, 3):
            write("arrow-%s%d" % (way(up), n), commas(n, "81/80") + " alone",
                  arrow(40, 250 if up else 50, up, n))
        for n in (1, 2):
            write("7-%s%d" % (way(up), n), "Septimal sign, %s" % commas(n, "64/63"),
                  septimal(up, n))
        for prime in (11, 13, 17, 19, 23):
            write("%d-%s" % (prime, way(up)),
                  "Sign of prime %d, %s" % (prime, "raising" if up else "lowering"),
                  prime_sign(prime, up))


if __name__ == "__main__":
    main()
