#!/usr/bin/env python3
"""Renders the updater's artwork from resources/images/corvane_logo.svg.

Writes resources/images/corvane_logo.png (48 x 48) and
resources/images/application.ico (ten images: 16, 24, 32, 48 and 256 pixels
at 32 bits per pixel, 16, 32 and 48 at 8 bits, 16 and 32 at 4 bits).
Needs rsvg-convert (Debian: librsvg2-bin) and Python 3's standard library.
The outputs are committed, so building the updater never needs this script.
"""
import os
import struct
import subprocess
import sys
import tempfile
import zlib

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
IMAGES = os.path.join(ROOT, "resources", "images")
SVG = os.path.join(IMAGES, "corvane_logo.svg")

# (size, bits per pixel), in the order they appear in the icon directory.
ICON_IMAGES = [(256, 32), (48, 32), (32, 32), (24, 32), (16, 32),
               (48, 8), (32, 8), (16, 8), (32, 4), (16, 4)]


def render_png(size, path):
    subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), SVG, "-o", path], check=True)
    with open(path, "rb") as f:
        return f.read()


def decode_rgba(png):
    """Pixels of an 8-bit RGBA, non-interlaced PNG as rows of (r, g, b, a)."""
    assert png[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, width, height = 8, b"", 0, 0
    while pos < len(png):
        length, kind = struct.unpack(">I4s", png[pos:pos + 8])
        body = png[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, color, _, _, interlace = struct.unpack(">IIBBBBB", body)
            if (depth, color, interlace) != (8, 6, 0):
                sys.exit("expected an 8-bit RGBA non-interlaced PNG from rsvg-convert")
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride, bpp = width * 4, 4
    rows, prev, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - bpp] if i >= bpp else 0
            up = prev[i]
            upleft = prev[i - bpp] if i >= bpp else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                line[i] = (line[i] + pred) & 0xFF
        rows.append([tuple(line[x * 4:x * 4 + 4]) for x in range(width)])
        prev = line
    return rows


def palette(bits):
    if bits == 4:  # the classic 16-colour palette
        return [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
                (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
                (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]
    cube = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    grays = [(v, v, v) for v in (round(i * 255 / 41) for i in range(1, 41))]
    return cube + grays


def nearest(colors, rgb, cache):
    if rgb not in cache:
        cache[rgb] = min(range(len(colors)),
                         key=lambda i: sum((a - b) ** 2 for a, b in zip(colors[i], rgb)))
    return cache[rgb]


def padded(row_bytes):
    return row_bytes + b"\0" * (-len(row_bytes) % 4)


def bmp_entry(rows, bits):
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, bits, 0, 0, 0, 0,
                         0 if bits == 32 else 1 << bits, 0)
    pixels, mask = b"", b""
    colors = palette(bits) if bits < 32 else None
    cache = {}
    for row in reversed(rows):  # bottom-up
        if bits == 32:
            line = b"".join(bytes((b, g, r, a)) for r, g, b, a in row)
        else:
            idx = [nearest(colors, px[:3], cache) if px[3] >= 128 else 0 for px in row]
            if bits == 8:
                line = bytes(idx)
            else:
                idx += [0] * (len(idx) % 2)
                line = bytes((idx[i] << 4) | idx[i + 1] for i in range(0, len(idx), 2))
        pixels += padded(line)
        bitsrow = bytearray((size + 7) // 8)
        for x, px in enumerate(row):
            if px[3] < 128:
                bitsrow[x // 8] |= 0x80 >> (x % 8)
        mask += padded(bytes(bitsrow))
    table = b"".join(bytes((b, g, r, 0)) for r, g, b in colors) if colors else b""
    return header + table + pixels + mask


def main():
    with tempfile.TemporaryDirectory() as tmp:
        pngs = {s: render_png(s, os.path.join(tmp, "%d.png" % s)) for s in {s for s, _ in ICON_IMAGES}}
        rows = {s: decode_rgba(data) for s, data in pngs.items() if s != 256}
        entries = []
        for size, bits in ICON_IMAGES:
            data = pngs[size] if size == 256 else bmp_entry(rows[size], bits)
            entries.append((size, bits, data))
        icon = struct.pack("<HHH", 0, 1, len(entries))
        offset = 6 + 16 * len(entries)
        for size, bits, data in entries:
            icon += struct.pack("<BBBBHHII", size % 256, size % 256, 16 if bits == 4 else 0, 0, 1, bits,
                                len(data), offset)
            offset += len(data)
        icon += b"".join(data for _, _, data in entries)
        with open(os.path.join(IMAGES, "application.ico"), "wb") as f:
            f.write(icon)
        with open(os.path.join(IMAGES, "corvane_logo.png"), "wb") as f:
            f.write(pngs[48])


if __name__ == "__main__":
    main()
