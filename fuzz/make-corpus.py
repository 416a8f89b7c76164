#!/usr/bin/env python3
"""Builds the seed corpora of the fuzz targets from the end-to-end cases.

    fuzz/make-corpus.py OUT-DIR

writes OUT-DIR/run (whole runs: the arguments and input files of each case,
in the layout fuzz_run.cpp reads), OUT-DIR/rsd, OUT-DIR/ply and OUT-DIR/mat
(each input file alone; a MAT seed starts with the polygon and texture
counts of its model, as fuzz_mat.cpp reads them), and OUT-DIR/model (the RSD
files of a case, input or merged, with all its files, as fuzz_model.cpp
reads them; from tests/model-cases too).
"""
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
SEPARATOR = b"\n%%\n"
MAX_FILES = 10
MAX_FILE_BYTES = 16384


def meaningful_lines(data):
    for line in data.split(b"\n"):
        line = line.rstrip(b"\r")
        if line.strip(b" \t") and not line.lstrip(b" \t").startswith(b"#"):
            yield line


def kind(path, data):
    first = next(meaningful_lines(data), b"")
    for key in (b"RSD", b"PLY", b"MAT"):
        if first.startswith(b"@" + key) or path.suffix.lower() == "." + key.decode().lower():
            return key.decode().lower()
    return None


def first_number(text, position):
    numbers = re.findall(rb"-?\d+", text)
    return int(numbers[position]) if len(numbers) > position else 0


def mat_headers(files):
    """(polygon count, texture count) of the model of each MAT file, from the RSD naming it."""
    headers = {}
    for data in files.values():
        names, ntex = {}, 0
        for line in meaningful_lines(data):
            for key in (b"PLY=", b"MAT="):
                if line.startswith(key) and line[4:].split():
                    names[key] = line[4:].split()[0].decode(errors="replace")
            if line.startswith(b"NTEX="):
                ntex = first_number(line, 0)
        if b"MAT=" not in names:
            continue
        polygons = 16
        ply = files.get(names.get(b"PLY=", ""))
        if ply is not None:
            lines = list(meaningful_lines(ply))
            polygons = first_number(lines[1], 2) if len(lines) > 1 else 0
        headers[names[b"MAT="]] = (min(max(polygons, 0), 255), min(max(ntex, 0), 31))
    return headers


def save(directory, data):
    directory.mkdir(parents=True, exist_ok=True)
    (directory / hashlib.sha1(data).hexdigest()).write_bytes(data)


def laid(words, files):
    return SEPARATOR.join([b"\n".join(words)] +
                          [name.encode() + b"\n" + data for name, data in list(files.items())[:MAX_FILES]])


def seed_model(out, files):
    models = [name.encode() for name, data in files.items()
              if next(meaningful_lines(data), b"").startswith(b"@RSD")]
    if models:
        save(out / "model", laid(models, files))


def seed_case(out, args, files):
    save(out / "run", laid(args, files))
    seed_model(out, files)
    headers = mat_headers(files)
    for name, data in files.items():
        k = kind(pathlib.Path(name), data)
        if k == "mat":
            polygons, ntex = headers.get(name, (16, 4))
            data = bytes([polygons, ntex]) + data
        if k:
            save(out / k, data)


def main():
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    out = pathlib.Path(sys.argv[1])
    cases = sorted(p for p in (ROOT / "tests" / "cases").iterdir() if p.is_dir())
    for case in cases:
        args_file = case / "args"
        text = args_file.read_bytes() if args_file.exists() else b""
        args = text[:-1].split(b"\n") if text else []
        indir = case / "in"
        files = {}
        if indir.is_dir():
            for path in sorted(indir.rglob("*")):
                if path.is_file() and not path.is_symlink() and path.stat().st_size <= MAX_FILE_BYTES:
                    files[path.relative_to(indir).as_posix()] = path.read_bytes()
        seed_case(out, args, files)
    examples = ROOT / "examples"
    seed_case(out, [b"-ogp", b"-bat", b"models.txt"],
              {p.name: p.read_bytes() for p in sorted(examples.iterdir()) if p.is_file()})
    for case in sorted(p for p in (ROOT / "tests" / "model-cases").iterdir() if (p / "in").is_dir()):
        seed_model(out, {p.relative_to(case / "in").as_posix(): p.read_bytes()
                         for p in sorted((case / "in").rglob("*")) if p.is_file() and p.stat().st_size <= MAX_FILE_BYTES})
    for k in ("run", "rsd", "ply", "mat", "model"):
        print(f"{k}: {len(list((out / k).iterdir()))} seeds")


if __name__ == "__main__":
    main()
