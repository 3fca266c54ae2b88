#!/usr/bin/env python3
"""Draws the launcher's default icon and writes it as a Windows .ico file.

usage: make_icon.py OUT.ico [RRGGBB]

The icon is a ring with a tail (a "Q") on a rounded square of the given
colour (default 2F6DB5), at 16, 24, 32, 48 and 256 pixels; the small sizes
are 32-bit bitmaps, the large one a PNG, as Windows expects.
"""
import math
import struct
import sys
import zlib


def pixels(size, colour):
    """Rows of (r, g, b, a) tuples, top row first."""
    r0, g0, b0 = colour
    rows = []
    corner = size * 0.2
    for y in range(size):
        row = []
        for x in range(size):
            cx, cy = x + 0.5, y + 0.5
            # Rounded square: distance outside the inner rectangle.
            dx = max(corner - cx, 0, cx - (size - corner))
            dy = max(corner - cy, 0, cy - (size - corner))
            inside = math.hypot(dx, dy) <= corner
            if not inside:
                row.append((0, 0, 0, 0))
                continue
            # The ring and its tail, in white.
            u, v = cx / size - 0.5, cy / size - 0.47
            d = math.hypot(u, v)
            ring = 0.22 <= d <= 0.33
            tail = abs((u - 0.12) - (v - 0.12)) < 0.07 and 0.08 < u < 0.36 and 0.08 < v < 0.40
            row.append((255, 255, 255, 255) if ring or tail else (r0, g0, b0, 255))
        rows.append(row)
    return rows


def bitmap_image(size, rows):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, size * size * 4, 0, 0, 0, 0)
    colour = b"".join(struct.pack("BBBB", b, g, r, a) for row in reversed(rows) for (r, g, b, a) in row)
    mask_stride = ((size + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x, (_, _, _, a) in enumerate(row):
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return header + colour + bytes(mask)


def png_image(size, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    raw = b"".join(b"\0" + bytes(c for p in row for c in p) for row in rows)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def main(argv):
    if len(argv) not in (2, 3):
        sys.stderr.write(__doc__)
        return 2
    colour = argv[2] if len(argv) == 3 else "2F6DB5"
    rgb = tuple(int(colour[i:i + 2], 16) for i in (0, 2, 4))
    images = []
    for size in (16, 24, 32, 48, 256):
        rows = pixels(size, rgb)
        images.append((size, png_image(size, rows) if size == 256 else bitmap_image(size, rows)))
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in images:
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(data for _, data in images)
    with open(argv[1], "wb") as f:
        f.write(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
