#!/usr/bin/env python3
"""Writes TIM image files from pixels given on the command line, written
here from the format's layout alone, so that the tool's reader is checked
against a writer that is not its own. Every field can be set wrong on
purpose, to make malformed files.

  tim_writer.py OUT.tim --bits 4|8|16|24 [--table C,C,...]... ROW...

Each ROW is one row of pixels, top first, comma-separated: indices (4 and 8
bits), 16-bit colours in hex (16 bits) or RRGGBB in hex (24 bits). Each
--table is one colour table of 16-bit colours in hex; with none, the file
has no colour-table block. Rows are padded with zeros to whole 16-bit words.

Faults: --identifier N, --flags N (instead of the mode and table bit),
--table-length N, --image-length N (block lengths), --table-width N,
--truncate N (keep only the first N bytes), --append HEX (bytes after the
image block). Scripts import tim() for the bytes alone."""
import argparse
import struct


def u32(n):
    return struct.pack("<I", n & 0xFFFFFFFF)


def u16(n):
    return struct.pack("<H", n & 0xFFFF)


def row_bytes(bits, pixels):
    if bits == 4:
        pixels = pixels + [0] * (-len(pixels) % 4)
        return bytes(pixels[i] | pixels[i + 1] << 4 for i in range(0, len(pixels), 2))
    if bits == 8:
        return bytes(pixels) + b"\0" * (len(pixels) % 2)
    if bits == 16:
        return b"".join(u16(p) for p in pixels)
    data = b"".join(bytes([p >> 16, p >> 8 & 255, p & 255]) for p in pixels)
    return data + b"\0" * (len(data) % 2)


def block(words_across, rows, data, length=None):
    if length is None:
        length = 12 + len(data)
    return u32(length) + u16(0) + u16(0) + u16(words_across) + u16(rows) + data


def tim(bits, rows, tables=(), identifier=0x10, flags=None, table_length=None, table_width=None,
        image_length=None):
    """The bytes of a TIM file: rows of pixels (indices, 16-bit colours or
    0xRRGGBB numbers) and colour tables of 16-bit colours."""
    mode = {4: 0, 8: 1, 16: 2, 24: 3}[bits]
    data = u32(identifier) + u32(flags if flags is not None else mode | (8 if tables else 0))
    if tables:
        width = table_width if table_width is not None else len(tables[0])
        colours = b"".join(u16(c) for t in tables for c in t)
        data += block(width, len(tables), colours, table_length)
    image = b"".join(row_bytes(bits, r) for r in rows)
    across = len(row_bytes(bits, rows[0])) // 2 if rows else 0
    return data + block(across, len(rows), image, image_length)


def main():
    a = argparse.ArgumentParser()
    a.add_argument("out")
    a.add_argument("--bits", type=int, required=True, choices=[4, 8, 16, 24])
    a.add_argument("--table", action="append", default=[])
    a.add_argument("--identifier", type=lambda s: int(s, 0), default=0x10)
    a.add_argument("--flags", type=lambda s: int(s, 0))
    a.add_argument("--table-length", type=int)
    a.add_argument("--table-width", type=int)
    a.add_argument("--image-length", type=int)
    a.add_argument("--truncate", type=int)
    a.add_argument("--append", default="")
    a.add_argument("rows", nargs="*")
    o = a.parse_intermixed_args()

    base = 16 if o.bits in (16, 24) else 10
    rows = [[int(p, base) for p in r.split(",") if p] for r in o.rows]
    tables = [[int(c, 16) for c in t.split(",") if c] for t in o.table]
    data = tim(o.bits, rows, tables, o.identifier, o.flags, o.table_length, o.table_width, o.image_length)
    data += bytes.fromhex(o.append)
    if o.truncate is not None:
        data = data[:o.truncate]
    with open(o.out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
