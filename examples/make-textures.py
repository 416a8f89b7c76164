#!/usr/bin/env python3
"""Writes the example models' textures from pixels worked out here, through
the tests' TIM writer (tests/tim_writer.py):

  body.tim   64 x 64, 16-bit colours: a white letter F on a red-blue gradient
  wheel.tim  32 x 32, 4-bit indexed: grey rings and a yellow arrow to the upper right
  hub.tim    32 x 32, 8-bit indexed: a blue glow and a white arrow to the upper left

Each pattern shows at once whether a drawing is mirrored or upside down.
The wheel maps both wheel images onto one square, so that its four
triangles show the two arrows crossing, both pointing up.

usage: python3 examples/make-textures.py [DIR]   (default: examples/)"""
import math
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests"))
from tim_writer import tim  # noqa: E402


def colour(r, g, b):
    """A 16-bit colour of 5-bit channels."""
    return r | g << 5 | b << 10


def body():
    def in_f(x, y):
        return 10 <= y < 54 and 18 <= x and (x < 26 or (y < 18 and x < 46) or (28 <= y < 36 and x < 40))
    return [[colour(31, 31, 31) if in_f(x, y) else colour(x // 2, 10, y // 2) for x in range(64)]
            for y in range(64)]


def arrow(x, y, dx, dy):
    """Whether pixel (x, y) of a 32 x 32 image is on an arrow through its
    centre pointing along (dx, dy): a shaft, and a head near the end."""
    px, py = x + 0.5 - 16, y + 0.5 - 16
    along = (px * dx + py * dy) / math.hypot(dx, dy)
    across = abs(px * dy - py * dx) / math.hypot(dx, dy)
    return (-10 <= along <= 3 and across <= 1.6) or (3 <= along <= 10 and across <= (10 - along) * 0.8)


def wheel():
    # Colours: dark and light grey rings, a yellow arrow.
    table = [colour(4, 4, 5), colour(12, 12, 13), colour(20, 20, 21), colour(31, 28, 4)]
    rows = []
    for y in range(32):
        ring = [int(math.hypot(x + 0.5 - 16, y + 0.5 - 16)) // 3 % 3 for x in range(32)]
        rows.append([3 if arrow(x, y, 1, -1) else ring[x] for x in range(32)])
    return rows, table


def hub():
    # Index i < 24: a glow brighter towards the centre; 24: white.
    table = [colour(4 + i // 2, 8 + i // 2, 31 - i // 4) for i in range(24)] + [colour(31, 31, 31)]
    rows = [[24 if arrow(x, y, -1, -1) else 23 - min(23, int(math.hypot(x + 0.5 - 16, y + 0.5 - 16)))
             for x in range(32)] for y in range(32)]
    return rows, table


def main():
    out = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent)
    (out / "body.tim").write_bytes(tim(16, body()))
    rows, table = wheel()
    (out / "wheel.tim").write_bytes(tim(4, rows, [table]))
    rows, table = hub()
    (out / "hub.tim").write_bytes(tim(8, rows, [table]))


if __name__ == "__main__":
    main()
