#!/usr/bin/env python3
"""Builds the seed corpora of the fuzz targets from the end-to-end cases.

    fuzz/make-corpus.py OUT-DIR

writes OUT-DIR/run (whole runs: the arguments and input files of each case,
in the layout fuzz_run.cpp reads), OUT-DIR/rsd, OUT-DIR/ply and OUT-DIR/mat
(each input file alone; a MAT seed starts with the polygon and texture
counts of its model, as fuzz_mat.cpp reads them), OUT-DIR/model (the RSD
files of a case, input or merged, with all its files, as fuzz_model.cpp
reads them; from tests/model-cases too) and OUT-DIR/tim (TIM files alone).

The texture names of a model seed's RSD files name TIM files laid with it:
the case's own (the examples', or those a model case's setup makes with the
tests' TIM writer), or else one of a few made here, chosen by the name.
"""
import hashlib
import pathlib
import re
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests"))
from tim_writer import tim  # noqa: E402

# Every pixel mode, tables too few and too short, and a file cut short.
MADE_TIMS = [
    tim(4, [[0, 1, 2, 3, 7, 15, 0, 1]], [[0, 0x801F, 0x03E0, 0x7C00]]),
    tim(8, [[0, 1], [2, 200]], [[0x1F, 0x3E0, 0x7C00], [0x4210, 0, 0x8000]]),
    tim(16, [[0x1F, 0], [0x8000, 0x7FFF]]),
    tim(24, [[0xFF0000, 0x00FF00, 0x0000FF]]),
    tim(4, [[5, 9, 15, 0]]),
    tim(16, [[0x1F, 0x3E0]])[:-1],
]

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


def named_files(data):
    """The file names of an RSD file's PLY=, MAT=, COD= and TEX[k]= lines."""
    return [m.group(2).decode(errors="replace") for line in meaningful_lines(data)
            if (m := re.match(rb"(PLY|MAT|COD|TEX\[\d+\])=[ \t]*(\S+)", line))]


def seed_model(out, files):
    models = [name for name, data in files.items() if next(meaningful_lines(data), b"").startswith(b"@RSD")]
    files = dict(files)
    for name in (n for model in models for n in named_files(files[model]) if n.lower().endswith(".tim")):
        files.setdefault(name, MADE_TIMS[int(hashlib.sha1(name.encode()).hexdigest(), 16) % len(MADE_TIMS)])
    if models:
        save(out / "model", laid([m.encode() for m in models], files))
    if len(files) > MAX_FILES:  # all of them do not fit: each model with its own files
        for model in models:
            save(out / "model", laid([model.encode()], {n: files[n] for n in [model] + named_files(files[model])
                                                        if n in files}))
    for name, data in files.items():
        if name.lower().endswith(".tim"):
            save(out / "tim", data)


def setup_files(case):
    """The files that a model case's setup makes with the TIM writer."""
    setup = case / "setup"
    if not setup.exists() or b"tim_writer" not in setup.read_bytes():
        return {}
    with tempfile.TemporaryDirectory() as scratch:
        subprocess.run(["sh", str(setup)], cwd=scratch, check=True, stdout=subprocess.DEVNULL)
        return {p.relative_to(scratch).as_posix(): p.read_bytes() for p in sorted(pathlib.Path(scratch).rglob("*"))
                if p.is_file() and not p.relative_to(scratch).as_posix().startswith("expected/")
                and p.stat().st_size <= MAX_FILE_BYTES}


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
              {p.name: p.read_bytes() for p in sorted(examples.iterdir()) if p.is_file() and p.suffix != ".py"})
    for case in sorted(p for p in (ROOT / "tests" / "model-cases").iterdir() if p.is_dir()):
        files = {p.relative_to(case / "in").as_posix(): p.read_bytes() for p in sorted((case / "in").rglob("*"))
                 if p.is_file() and p.stat().st_size <= MAX_FILE_BYTES}
        seed_model(out, {**files, **setup_files(case)})
    for data in MADE_TIMS:
        save(out / "tim", data)
    for k in ("run", "rsd", "ply", "mat", "model", "tim"):
        print(f"{k}: {len(list((out / k).iterdir()))} seeds")


if __name__ == "__main__":
    main()
