#!/usr/bin/env python3
"""Draws the application icon, a switch turned on, and writes it as an .ico file with
four uncompressed 24-bit images (16, 256, 48 and 32 pixels square, in that order) and as
a PNG of its largest image. With --check it writes nothing and fails unless the files
on disk are what it would write."""
import argparse
import struct
import sys
import zlib

SIZES = (16, 256, 48, 32)
TRACK = (0x1F, 0x8A, 0x70)  # a green-teal switch track
KNOB = (0xFF, 0xFF, 0xFF)
RIM = (0x14, 0x5C, 0x4A)
SAMPLES = 4  # per pixel and axis; a pixel is opaque where most of it is covered


def colour_at(x, y):
    """The colour of the drawing at (x, y) in a unit square, or None outside it."""
    top, bottom, left, right = 0.28, 0.72, 0.04, 0.96
    radius = (bottom - top) / 2
    cy = (top + bottom) / 2
    knob_x = right - radius
    dx = max(left + radius - x, 0, x - (right - radius))
    if dx * dx + (y - cy) ** 2 > radius * radius:
        return None
    distance = ((x - knob_x) ** 2 + (y - cy) ** 2) ** 0.5
    if distance <= radius * 0.78:
        return KNOB
    if distance <= radius * 0.9:
        return RIM
    return TRACK


def draw(size):
    """Rows of pixels, top first; each pixel an RGB triple or None where transparent."""
    rows = []
    for py in range(size):
        row = []
        for px in range(size):
            hits = [colour_at((px + (sx + 0.5) / SAMPLES) / size, (py + (sy + 0.5) / SAMPLES) / size)
                    for sy in range(SAMPLES) for sx in range(SAMPLES)]
            inside = [c for c in hits if c is not None]
            if len(inside) * 2 < len(hits):
                row.append(None)
            else:
                row.append(tuple(sum(c[i] for c in inside) // len(inside) for i in range(3)))
        rows.append(row)
    return rows


def icon_image(rows):
    """A BITMAPINFOHEADER, the bottom-up BGR colour rows and the AND mask rows."""
    size = len(rows)
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 24, 0, 0, 0, 0, 0, 0)
    colour = mask = b""
    for row in reversed(rows):
        line = b"".join(bytes(reversed(p)) if p else b"\0\0\0" for p in row)
        colour += line + b"\0" * (-len(line) % 4)
        bits = "".join("1" if p is None else "0" for p in row)
        line = int(bits, 2).to_bytes(size // 8, "big")
        mask += line + b"\0" * (-len(line) % 4)
    return header + colour + mask


def ico(drawings):
    images = [icon_image(drawings[size]) for size in SIZES]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, image in zip(SIZES, images):
        out += struct.pack("<BBBBHHII", size % 256, size % 256, 0, 0, 1, 24, len(image), offset)
        offset += len(image)
    return out + b"".join(images)


def png(rows):
    size = len(rows)
    raw = b"".join(b"\0" + b"".join(bytes(p + (255,)) if p else b"\0\0\0\0" for p in row) for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("ico")
    parser.add_argument("png")
    parser.add_argument("--check", action="store_true")
    args = parser.parse_args()
    drawings = {size: draw(size) for size in SIZES}
    wanted = {args.ico: ico(drawings), args.png: png(drawings[256])}
    for path, data in wanted.items():
        if args.check:
            with open(path, "rb") as existing:
                if existing.read() != data:
                    sys.exit(f"{path} is not what {sys.argv[0]} draws; run it without --check")
        else:
            with open(path, "wb") as out:
                out.write(data)


if __name__ == "__main__":
    main()
