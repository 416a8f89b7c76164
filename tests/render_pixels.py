#!/usr/bin/env python3
"""Checks the reference pictures of the render cases against what is known
of them without the renderer. Each case folder may hold a file "pixels",
one fact per line about a PNG file of its out/ folder ('#' starts a comment):

  FILE pixel X Y R G B        the pixel at column X, row Y has this colour
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
    """The pixels of an 8-bit RGB PNG file as rows of (r, g, b)."""
    data = path.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG file"
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour = struct.unpack(">IIBB", body[:10])
            assert (depth, colour) == (8, 2), "not 8-bit RGB"
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, rows, prior, stride = zlib.decompress(idat), [], bytearray(width * 3), width * 3
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - 3] if i >= 3 else 0
            b, c = prior[i], prior[i - 3] if i >= 3 else 0
            p = a + b - c
            nearest = a if abs(p - a) <= abs(p - b) and abs(p - a) <= abs(p - c) else b if abs(p - b) <= abs(p - c) else c
            line[i] = (line[i] + [0, a, b, (a + b) // 2, nearest][kind]) & 0xFF
        rows.append([tuple(line[i:i + 3]) for i in range(0, stride, 3)])
        prior = line
    return rows


def holds(rows, fact, n):
    at = lambda i: rows[n[i + 1]][n[i]]
    if fact == "pixel":
        return at(0) == tuple(n[2:5])
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
for case in sorted(pathlib.Path(sys.argv[1]).glob("render-*")):
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
