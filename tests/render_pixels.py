#!/usr/bin/env python3
"""Checks the reference pictures of the render and texture cases against
what is known of them without the tool. Each case folder may hold a file
"pixels", one fact per line about a PNG file of its out/ folder ('#' starts
a comment); colours are R G B, or R G B A in a picture with alpha:

  FILE pixel X Y R G B        the pixel at column X, row Y has this colour
  FILE row Y R G B ...        row Y holds exactly these colours, left to right
  FILE size W H               the picture is W pixels wide and H high
  FILE count-at X Y N         N pixels have the colour of pixel X Y
  FILE colours N              the picture has N different colours
  FILE differ X Y X Y ...     these pixels have different colours, pairwise
  FILE brighter X Y X Y       the first pixel is brighter (sum of channels)
  FILE shade X Y R G B LO HI  the pixel is R G B times a factor in [LO, HI]

usage: render_pixels.py CASES-DIR"""
import pathlib
import struct
import sys
import zlib


def decode(path):
    """The pixels of an 8-bit RGB or RGBA PNG file as rows of (r, g, b[, a])."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert depth == 8 and colour in (2, 6), "not 8-bit RGB or RGBA"
            n = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, rows, prior, stride = zlib.decompress(idat), [], bytearray(width * n), width * n
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - n] if i >= n else 0
            b, c = prior[i], prior[i - n] if i >= n else 0
            p = a + b - c
            nearest = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + [0, a, b, (a + b) // 2, nearest][kind]) & 0xFF
        rows.append([tuple(line[i:i + n]) for i in range(0, stride, n)])
        prior = line
    return rows


def holds(rows, fact, n):
    at = lambda i: rows[n[i + 1]][n[i]]
    if fact == "pixel":
        return at(0) == tuple(n[2:])
    if fact == "row":
        return [c for p in rows[n[0]] for c in p] == n[1:]
    if fact == "size":
        return (len(rows[0]), len(rows)) == tuple(n)
    if fact == "count-at":
        return sum(row.count(at(0)) for row in rows) == n[2]
    if fact == "colours":
        return len({p for row in rows for p in row}) == n[0]
    if fact == "differ":
        colours = [at(i) for i in range(0, len(n), 2)]
        return len(set(colours)) == len(colours)
    if fact == "brighter":
        return sum(at(0)) > sum(at(2))
    if fact == "shade":
        (r, g, b), base = at(0), n[2:5]
        k = max(r, g, b) / max(base)
        return n[5] <= k <= n[6] and all(abs(v - k * w) <= 1.5 for v, w in zip((r, g, b), base))
    raise ValueError("unknown fact " + fact)


failures = 0
for case in sorted(p for kind in ("render-*", "texture-*") for p in pathlib.Path(sys.argv[1]).glob(kind)):
    if list(case.glob("out/*.png")) and not (case / "pixels").exists():
        print(f"{case}: a picture without facts")
        failures += 1
for facts in sorted(pathlib.Path(sys.argv[1]).glob("*/pixels")):
    pictures = {}
    for line in facts.read_text().splitlines():
        words = line.split("#")[0].split()
        if not words:
            continue
        name, fact, numbers = words[0], words[1], [float(w) if "." in w else int(w) for w in words[2:]]
        if name not in pictures:
            pictures[name] = decode(facts.parent / "out" / name)
        if not holds(pictures[name], fact, numbers):
            print(f"{facts}: does not hold: {line}")
            failures += 1
print(f"{failures} facts fail" if failures else "every fact holds")
sys.exit(1 if failures else 0)
