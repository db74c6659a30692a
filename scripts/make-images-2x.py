#!/usr/bin/env python3
"""Draws the @2x variants of the images in resources/ from their 1x files.

Qt loads "name@2x.png" in place of "name.png" on screens of two device pixels
per pixel or more, so the images stay crisp there. Each 1x pixel becomes 2x2
device pixels: edges, lines and dot patterns keep their sharp steps, and only
gentle ramps (gradients) are resampled between neighbours so they do not turn
into bands twice as wide.
"""
import struct
import zlib
from pathlib import Path

IMAGES = ("icon.png", "Vexa_background.png", "Vexa_bottom.png", "Vexa_textlog.png")
RAMP_STEP = 12  # largest step per channel still taken for part of a gradient


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else b if pb <= pc else c


def read_png(path):
    data = path.read_bytes()
    pos, idat = 8, b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, path
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw, stride = zlib.decompress(idat), width * channels
    rows, prev = [], [0] * stride
    for y in range(height):
        kind, line = raw[y * (stride + 1)], list(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b, c = prev[i], prev[i - channels] if i >= channels else 0
            line[i] = (line[i] + (0, a, b, (a + b) // 2, paeth(a, b, c))[kind]) & 0xFF
        rows.append([tuple(line[x * channels:(x + 1) * channels]) for x in range(width)])
        prev = line
    return rows, colour


def write_png(path, rows, colour):
    raw = b"".join(b"\0" + bytes(v for pixel in row for v in pixel) for row in rows)
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    header = struct.pack(">IIBBBBB", len(rows[0]), len(rows), 8, colour, 0, 0, 0)
    path.write_bytes(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header)
                     + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def on_ramp(before, pixel, after):
    """True when pixel sits on a gentle, steady slope from before to after."""
    return all(abs(p - q) <= RAMP_STEP and abs(r - p) <= RAMP_STEP and (p - q) * (r - p) > 0
               for q, p, r in zip(before, pixel, after))


def double_line(line):
    """Each pixel becomes two; on a ramp each half leans a quarter towards its side."""
    out = []
    for i, pixel in enumerate(line):
        before = line[i - 1] if i > 0 else pixel
        after = line[i + 1] if i + 1 < len(line) else pixel
        for side, other in ((before, after), (after, before)):
            if on_ramp(other, pixel, side) or on_ramp(side, pixel, other):
                out.append(tuple(round(0.75 * p + 0.25 * s) for p, s in zip(pixel, side)))
            else:
                out.append(pixel)
    return out


def double(rows):
    wide = [double_line(row) for row in rows]
    columns = [double_line([row[x] for row in wide]) for x in range(len(wide[0]))]
    return [[column[y] for column in columns] for y in range(len(columns[0]))]


def main():
    root = Path(__file__).resolve().parent.parent / "resources"
    for name in IMAGES:
        rows, colour = read_png(root / name)
        write_png(root / name.replace(".png", "@2x.png"), double(rows), colour)


if __name__ == "__main__":
    main()
