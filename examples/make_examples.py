#!/usr/bin/env python3
"""Writes the example icon files of this folder.

Standard library only, and deterministic: running it again gives the same
bytes. Run it from anywhere; the files land beside this script.

  palette.ico    16 x 16 bitmaps of 1, 4 and 8 bits per pixel
  truecolor.ico  16 x 16 bitmaps of 24 and 32 bits per pixel
  png.ico        one 32 x 32 PNG image
  pointer.cur    a cursor (idType 2) with one 16 x 16 1-bit image
  damaged.ico    one good image, one whose stored size is wrong, and one cut
                 off by the end of the file
  icon-16.png, icon-32.png, icon-48.png
                 one 8-bit RGBA PNG file per size, as a designer hands them over
  logo-512.png   the motif drawn once at 512 x 512 with smooth edges, the
                 master that icon-pack --sizes makes every size from
"""

import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 16


def inside(x, y, size):
    """The motif: a diamond filling the square, one pixel from its edges."""
    c = (size - 1) / 2
    return abs(x - c) + abs(y - c) <= c - 0.5


def row_bytes(bits):
    """Bits packed MSB first into bytes, the row padded to 4 bytes."""
    out = bytearray()
    for i in range(0, len(bits), 8):
        byte = 0
        for b in bits[i:i + 8]:
            byte = (byte << 1) | b
        byte <<= 8 - len(bits[i:i + 8])
        out.append(byte)
    while len(out) % 4:
        out.append(0)
    return bytes(out)


def mask_rows(size):
    # Mask bit 1 = transparent. Rows are stored bottom-up.
    return b"".join(row_bytes([0 if inside(x, y, size) else 1 for x in range(size)])
                    for y in reversed(range(size)))


def packed_rows(size, depth, index):
    """Colour rows of 1, 4 or 8 bits per pixel from index(x, y)."""
    out = bytearray()
    for y in reversed(range(size)):
        bits = []
        for x in range(size):
            value = index(x, y) if inside(x, y, size) else 0
            bits += [(value >> (depth - 1 - k)) & 1 for k in range(depth)]
        out += row_bytes(bits)
    return bytes(out)


def bitmap(size, depth, table, colour_rows):
    header = struct.pack("<iiiHHiiiiii", 40, size, 2 * size, 1, depth, 0,
                         len(colour_rows) + len(mask_rows(size)), 0, 0, 0, 0)
    return header + table + colour_rows + mask_rows(size)


def palette_table(colours, depth):
    colours = list(colours) + [(0, 0, 0)] * ((1 << depth) - len(colours))
    return b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in colours)


def bitmap_1bit(size):
    # A white diamond with a black outline.
    table = palette_table([(0, 0, 0), (255, 255, 255)], 1)
    c = (size - 1) / 2

    def index(x, y):
        return 0 if abs(x - c) + abs(y - c) > c - 2.5 else 1

    return bitmap(size, 1, table, packed_rows(size, 1, index))


VGA = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
       (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
       (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def bitmap_4bit(size):
    c = (size - 1) / 2

    def index(x, y):
        # Rings of colour from the centre out.
        return 9 + int(abs(x - c) + abs(y - c)) // 2 % 6

    return bitmap(size, 4, palette_table(VGA, 4), packed_rows(size, 4, index))


def bitmap_8bit(size):
    # A blue-to-yellow ramp over the 256 table entries.
    ramp = [(i, i, 255 - i) for i in range(256)]

    def index(x, y):
        return (x + y) * 255 // (2 * size - 2)

    return bitmap(size, 8, palette_table(ramp, 8), packed_rows(size, 8, index))


def direct_pixel(x, y, size):
    return (x * 255 // (size - 1), y * 255 // (size - 1), 160)


def bitmap_24bit(size):
    rows = bytearray()
    for y in reversed(range(size)):
        row = bytearray()
        for x in range(size):
            r, g, b = direct_pixel(x, y, size) if inside(x, y, size) else (0, 0, 0)
            row += bytes((b, g, r))
        while len(row) % 4:
            row.append(0)
        rows += row
    return bitmap(size, 24, b"", bytes(rows))


def bitmap_32bit(size):
    rows = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            if inside(x, y, size):
                r, g, b = direct_pixel(x, y, size)
                rows += bytes((b, g, r, 255))
            else:
                rows += bytes(4)
    return bitmap(size, 32, b"", bytes(rows))


def png_chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def png_image(size):
    raw = bytearray()
    for y in range(size):
        raw.append(0)  # filter type None
        for x in range(size):
            if inside(x, y, size):
                r, g, b = direct_pixel(x, y, size)
                raw += bytes((r, g, b, 255))
            else:
                raw += bytes(4)
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def master_image(size):
    """The diamond at `size` pixels, each edge pixel as opaque as the part of
    it the diamond covers (to a pixel's width), on transparent black; a
    dark line one pixel wide across it, which its small sizes must keep.
    Rows use the Sub filter, which turns the gradient into runs."""
    c = size / 2
    raw = bytearray()
    for y in range(size):
        row = bytearray()
        for x in range(size):
            distance = abs(x + 0.5 - c) + abs(y + 0.5 - c)
            cover = min(1.0, max(0.0, c - 2 - distance + 0.5))
            if cover == 0:
                row += bytes(4)
                continue
            r, g, b = (x * 255 // (size - 1), y * 255 // (size - 1), 160)
            if x == size // 2:
                r, g, b = 16, 16, 48
            row += bytes((r, g, b, round(cover * 255)))
        raw.append(1)  # filter type Sub
        raw += bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 0xFF for i in range(len(row)))
    return (b"\x89PNG\r\n\x1a\n"
            + png_chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + png_chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + png_chunk(b"IEND", b""))


def entry(image, size, colours, planes, bit_count):
    """An ICONDIRENTRY without its offset: (fields, image bytes)."""
    return (struct.pack("<BBBBHHi", size % 256, size % 256, colours, 0, planes, bit_count, len(image)), image)


def icon_file(entries, id_type=1):
    out = bytearray(struct.pack("<HHH", 0, id_type, len(entries)))
    offset = 6 + 16 * len(entries)
    for fields, image in entries:
        out += fields + struct.pack("<i", offset)
        offset += len(image)
    for _, image in entries:
        out += image
    return out


def write(name, data):
    with open(os.path.join(HERE, name), "wb") as f:
        f.write(data)


def main():
    write("palette.ico", icon_file([
        entry(bitmap_1bit(SIZE), SIZE, 2, 1, 1),
        entry(bitmap_4bit(SIZE), SIZE, 16, 1, 4),
        entry(bitmap_8bit(SIZE), SIZE, 0, 1, 8),
    ]))
    write("truecolor.ico", icon_file([
        entry(bitmap_24bit(SIZE), SIZE, 0, 1, 24),
        entry(bitmap_32bit(SIZE), SIZE, 0, 1, 32),
    ]))
    write("png.ico", icon_file([entry(png_image(32), 32, 0, 1, 32)]))
    # A cursor keeps its hotspot where an icon keeps planes and bit count:
    # here the top corner of the diamond, x 7 and y 0.
    write("pointer.cur", icon_file([entry(bitmap_1bit(SIZE), SIZE, 2, 7, 0)], id_type=2))

    # Damaged: image 1 claims 4 bytes more than its header implies (and the
    # file holds them), and the file ends 20 bytes into image 2's header.
    good = bitmap_4bit(SIZE)
    too_long = bitmap_4bit(SIZE) + bytes(4)
    cut = bitmap_1bit(SIZE)
    whole = icon_file([entry(good, SIZE, 16, 1, 4), entry(too_long, SIZE, 16, 1, 4), entry(cut, SIZE, 2, 1, 1)])
    write("damaged.ico", whole[:len(whole) - len(cut) + 20])

    for size in (16, 32, 48):
        write("icon-%d.png" % size, png_image(size))
    write("logo-512.png", master_image(512))


if __name__ == "__main__":
    main()
