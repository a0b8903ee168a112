#!/usr/bin/env python3
"""Packs square PNG pictures into one Windows .ico file (python3 standard library only).

  make-ico.py <out.ico> <picture.png>...

Pictures up to 48 px go in as 32-bit BMP entries (BGRA with an AND mask), which every
consumer of .ico files reads, XP's included; larger ones go in as PNG, which Vista and later
read (and which keeps the 256 px entry small). The pictures must be 8-bit RGBA or RGB,
non-interlaced PNGs, as Qt writes them (packaging/linux/IconExport.cpp).
"""
import struct
import sys
import zlib

BMP_MAX = 48


def read_png(path):
    data = open(path, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        elif kind == b"IEND":
            break
        pos += 12 + length
    if header is None:
        raise ValueError(f"{path}: no IHDR")
    return data, header, idat


def rgba_rows(path, header, idat):
    """The picture as rows of RGBA bytes, top row first."""
    width, height, depth, colour, _, _, interlace = header
    if depth != 8 or colour not in (2, 6) or interlace:
        raise ValueError(f"{path}: only 8-bit RGB/RGBA non-interlaced PNGs (got depth {depth}, "
                         f"colour type {colour}, interlace {interlace})")
    bpp = 4 if colour == 6 else 3
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for y in range(height):
        filt = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if filt == 1:
                line[i] = (line[i] + a) & 0xFF
            elif filt == 2:
                line[i] = (line[i] + b) & 0xFF
            elif filt == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif filt == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                pred = a if pa <= pb and pa <= pc else (b if pb <= pc else c)
                line[i] = (line[i] + pred) & 0xFF
            elif filt != 0:
                raise ValueError(f"{path}: bad filter {filt}")
        prev = line
        if bpp == 3:
            line = bytearray(b"".join(bytes(line[i:i + 3]) + b"\xff" for i in range(0, stride, 3)))
        rows.append(line)
    return rows


def bmp_entry(width, height, rows):
    """A BITMAPINFOHEADER, bottom-up BGRA pixels and a 1-bit AND mask (set where transparent)."""
    info = struct.pack("<IiiHHIIiiII", 40, width, height * 2, 1, 32, 0, 0, 0, 0, 0, 0)
    pixels = bytearray()
    mask_stride = ((width + 31) // 32) * 4
    mask = bytearray()
    for row in reversed(rows):
        bits = bytearray(mask_stride)
        for x in range(width):
            r, g, b, a = row[4 * x:4 * x + 4]
            pixels += bytes((b, g, r, a))
            if a == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    return info + bytes(pixels) + bytes(mask)


def main(argv):
    if len(argv) < 3:
        sys.stderr.write(__doc__)
        return 2
    out, inputs = argv[1], argv[2:]
    entries = []
    for path in inputs:
        data, header, idat = read_png(path)
        width, height = header[0], header[1]
        if width != height or not 1 <= width <= 256:
            raise ValueError(f"{path}: {width}x{height}; icons are square, 1..256 px")
        if width <= BMP_MAX:
            body = bmp_entry(width, height, rgba_rows(path, header, idat))
        else:
            body = data
        entries.append((width, body))
    entries.sort(key=lambda e: e[0])
    blob = struct.pack("<HHH", 0, 1, len(entries))
    offset = 6 + 16 * len(entries)
    for side, body in entries:
        dim = side if side < 256 else 0
        blob += struct.pack("<BBBBHHII", dim, dim, 0, 0, 1, 32, len(body), offset)
        offset += len(body)
    for _, body in entries:
        blob += body
    with open(out, "wb") as f:
        f.write(blob)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
