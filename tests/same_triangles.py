#!/usr/bin/env python3
"""Whether input models imported with --triangles draw the same triangles:
the same corners (positions within QUANTUM, normals within 0.02), colours,
texels, material flags and texture files, in any order of triangles and of
each triangle's first corner. A compressed file decodes its vertices in an
order of its own, so only what is drawn can be compared.

    same_triangles.py QUANTUM FIRST.rsd OTHER.rsd...
"""
import os
import sys


def lines(path):
    with open(path, encoding="ascii") as f:
        return [l.split() for l in f if l.strip() and not l.startswith("#")]


def triangles(rsd, quantum):
    folder = os.path.dirname(rsd)
    fields = dict(l[0].split("=", 1) for l in lines(rsd)[1:] if "=" in l[0])
    ply = lines(os.path.join(folder, fields["PLY"]))
    nv, nn, npoly = map(int, ply[1])
    vertices = [tuple(round(float(x) / quantum) for x in l) for l in ply[2:2 + nv]]
    normals = [tuple(float(x) for x in l) for l in ply[2 + nv:2 + nv + nn]]
    polygons = [list(map(int, l)) for l in ply[2 + nv + nn:2 + nv + nn + npoly]]
    material = {}
    for l in lines(os.path.join(folder, fields["MAT"]))[2:]:
        first, _, last = l[0].partition("-")
        for k in range(int(first), int(last or first) + 1):
            material[k] = l[1:]
    tims = []
    for k in range(int(fields.get("NTEX", 0))):
        with open(os.path.join(folder, fields[f"TEX[{k}]"]), "rb") as f:
            tims.append(f.read())
    out = []
    for k, p in enumerate(polygons):
        if p[0] != 0:
            sys.exit(f"{rsd}: polygon {k} is not a triangle (import with --triangles)")
        flag, shade, kind, *numbers = material[k]
        numbers = list(map(int, numbers))
        texture = tims[numbers[0]] if kind in "TDH" else None
        uv = numbers[1:9] if texture else [0] * 8
        colours = {"C": numbers[0:3] * 3, "G": numbers[0:9], "D": numbers[9:12] * 3, "H": numbers[9:18]}.get(kind, [128] * 9)
        corners = [(vertices[p[1 + c]], tuple(colours[3 * c:3 * c + 3]), tuple(uv[2 * c:2 * c + 2])) for c in range(3)]
        turn = corners.index(min(corners))
        order = [(turn + c) % 3 for c in range(3)]
        out.append((tuple(corners[c] for c in order), flag, shade, texture, tuple(normals[p[5 + c]] for c in order)))
    return sorted(out, key=lambda t: t[:4])


def main():
    quantum, first, *others = sys.argv[1:]
    want = triangles(first, float(quantum))
    failed = False
    for other in others:
        got = triangles(other, float(quantum))
        bad = len(got) != len(want)
        for a, b in zip(want, got):
            close = all(abs(x - y) <= 0.02 for m, n in zip(a[4], b[4]) for x, y in zip(m, n))
            if a[:4] != b[:4] or not close:
                print(f"{other}: {b[:3]} {b[4]}\n  {first}: {a[:3]} {a[4]}")
                bad = True
                break
        if bad:
            print(f"FAIL: {other} draws other triangles than {first} ({len(got)} against {len(want)})")
        failed |= bad
    sys.exit(1 if failed else 0)


if __name__ == "__main__":
    main()
