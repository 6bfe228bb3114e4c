#!/usr/bin/env python3
"""Compares a window's picture, as xwd wrote it, with a reference PNG, loosely.

    window_picture.py SHOT.xwd REFERENCE.png [--save SHOT.png] [--tolerance T] [--tile-tolerance T]

The pictures must be the same size within a few pixels; the mean difference of
the colour channels, in 0..255, must stay below T (default 8) over the shared
area and below the tile tolerance (default 16) in every 24 x 24 tile. Prints
the figures. Exit 0 when alike, 1 when not, 2 for unreadable input.
"""
import argparse
import struct
import sys
import zlib


def read_xwd(path):
    data = open(path, "rb").read()
    fields = struct.unpack(">25I", data[:100])
    header_size, _, _, depth, width, height = fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]
    byte_order, bits_per_pixel, bytes_per_line, ncolors = fields[7], fields[11], fields[12], fields[19]
    if bits_per_pixel != 32 or depth < 24:
        raise ValueError("only 24-bit colour in 32-bit pixels is read, not %d/%d" % (depth, bits_per_pixel))
    at = header_size + ncolors * 12
    rows = []
    for y in range(height):
        line = data[at + y * bytes_per_line: at + y * bytes_per_line + width * 4]
        row = bytearray()
        for x in range(width):
            p = line[x * 4: x * 4 + 4]
            # LSBFirst (0): B G R x; MSBFirst: x R G B.
            row += bytes((p[2], p[1], p[0])) if byte_order == 0 else p[1:4]
        rows.append(bytes(row))
    return width, height, rows


def paeth(a, b, c):
    p = a + b - c
    pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
    return a if pa <= pb and pa <= pc else (b if pb <= pc else c)


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError("not a PNG file")
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, bits, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        at += 12 + length
    channels = {2: 3, 6: 4}.get(colour)
    if bits != 8 or channels is None or interlace:
        raise ValueError("only 8-bit RGB or RGBA without interlace is read")
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, previous, at = [], bytearray(stride), 0
    for _ in range(height):
        kind, line = raw[at], bytearray(raw[at + 1:at + 1 + stride])
        at += 1 + stride
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            line[i] = (line[i] + (0, left, up, (left + up) // 2, paeth(left, up, corner))[kind]) & 0xFF
        previous = line
        rows.append(bytes(v for i, v in enumerate(line) if channels == 3 or i % 4 != 3))
    return width, height, rows


def write_png(path, width, height, rows):
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    raw = b"".join(b"\0" + row for row in rows)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b""))


def differences(a, b, tile=24):
    """The mean channel difference over the shared area and over its worst
    tile: a missing flag or text shows in one tile long before the mean moves."""
    width, height = min(a[0], b[0]), min(a[1], b[1])
    tiles = {}
    total = 0
    for y in range(height):
        ra, rb = a[2][y], b[2][y]
        for x in range(width):
            d = abs(ra[3 * x] - rb[3 * x]) + abs(ra[3 * x + 1] - rb[3 * x + 1]) + abs(ra[3 * x + 2] - rb[3 * x + 2])
            total += d
            key = (x // tile, y // tile)
            tiles[key] = tiles.get(key, 0) + d
    worst = max(tiles.values()) / (tile * tile * 3)
    return total / (width * height * 3), worst


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("shot")
    parser.add_argument("reference")
    parser.add_argument("--save")
    parser.add_argument("--tolerance", type=float, default=8.0)
    parser.add_argument("--tile-tolerance", type=float, default=16.0)
    args = parser.parse_args()
    try:
        shot = read_xwd(args.shot)
        reference = read_png(args.reference)
    except (OSError, ValueError, struct.error, zlib.error) as error:
        print("unreadable picture: %s" % error, file=sys.stderr)
        return 2
    if args.save:
        write_png(args.save, *shot)
    if abs(shot[0] - reference[0]) > 8 or abs(shot[1] - reference[1]) > 8:
        print("window %dx%d, reference %dx%d" % (shot[0], shot[1], reference[0], reference[1]))
        return 1
    mean, worst = differences(shot, reference)
    print("window %dx%d: mean difference %.1f of 255 (tolerance %.1f), worst 24-pixel tile %.1f (tolerance %.1f)"
          % (shot[0], shot[1], mean, args.tolerance, worst, args.tile_tolerance))
    return 0 if mean < args.tolerance and worst < args.tile_tolerance else 1


if __name__ == "__main__":
    sys.exit(main())
