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
  resources.dll  a 32-bit resource-only Windows library: palette.ico as icon
                 group 1, png.ico as icon group APP and pointer.cur as cursor
                 group 2, laid out as resource compilers lay them out
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


RT_CURSOR, RT_ICON, RT_GROUP_CURSOR, RT_GROUP_ICON = 1, 3, 12, 14


def group_resources(ico, name, first_id):
    """The resources a resource compiler makes of an icon or cursor file:
    one image resource per image, ids from first_id, and the group. A cursor
    image starts with its hotspot; its group entry gives the width, twice
    the height, 1 plane, 1 bit and the size with the hotspot."""
    _, id_type, count = struct.unpack_from("<HHH", ico, 0)
    cursor = id_type == 2
    group = bytearray(struct.pack("<HHH", 0, id_type, count))
    images = []
    for i in range(count):
        width, height, colours, reserved, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
        image = ico[offset:offset + size]
        if cursor:
            image = struct.pack("<HH", planes, bits) + image
            group += struct.pack("<HHHHI", width or 256, 2 * (height or 256), 1, 1, len(image))
        else:
            group += ico[6 + 16 * i:6 + 16 * i + 12]
        group += struct.pack("<H", first_id + i)
        images.append((RT_CURSOR if cursor else RT_ICON, first_id + i, bytes(image)))
    return images + [(RT_GROUP_CURSOR if cursor else RT_GROUP_ICON, name, bytes(group))]


def resource_library(resources):
    """A 32-bit (PE32) Windows library of one section, .rsrc, holding
    (type, name or id, data) resources in language 1033 (US English). Each
    level of the resource tree lists named entries first, in order, then
    ids in ascending order; the data entries, names and data follow."""
    rva, file_alignment = 0x1000, 0x200
    tree = {}
    for number, (kind, name, data) in enumerate(resources):
        tree.setdefault(kind, {})[name] = number
    key = lambda name: (0, name, 0) if isinstance(name, str) else (1, "", name)
    # Where each part of the section goes.
    at = 16 + 8 * len(tree)
    type_at, name_at = {}, {}
    for kind in sorted(tree):
        type_at[kind] = at
        at += 16 + 8 * len(tree[kind])
    for kind in sorted(tree):
        for name in sorted(tree[kind], key=key):
            name_at[kind, name] = at
            at += 16 + 8
    entries_at = at
    at += 16 * len(resources)
    string_at = {}
    for _, name, _ in resources:
        if isinstance(name, str) and name not in string_at:
            string_at[name] = at
            at += 2 + 2 * len(name)
    data_at = []
    for _, _, data in resources:
        at = (at + 7) // 8 * 8
        data_at.append(at)
        at += len(data)
    section = bytearray(at)

    def directory(offset, named, ids, children):
        struct.pack_into("<IIHHHH", section, offset, 0, 0, 0, 0, named, ids)
        for k, (name_field, target) in enumerate(children):
            struct.pack_into("<II", section, offset + 16 + 8 * k, name_field, target)

    directory(0, 0, len(tree), [(kind, 0x80000000 | type_at[kind]) for kind in sorted(tree)])
    for kind in sorted(tree):
        names = sorted(tree[kind], key=key)
        named = sum(isinstance(n, str) for n in names)
        directory(type_at[kind], named, len(names) - named,
                  [(0x80000000 | string_at[n] if isinstance(n, str) else n, 0x80000000 | name_at[kind, n])
                   for n in names])
        for name in names:
            directory(name_at[kind, name], 0, 1, [(1033, entries_at + 16 * tree[kind][name])])
    for number, (_, _, data) in enumerate(resources):
        struct.pack_into("<IIII", section, entries_at + 16 * number, rva + data_at[number], len(data), 0, 0)
        section[data_at[number]:data_at[number] + len(data)] = data
    for name, offset in string_at.items():
        section[offset:offset + 2 + 2 * len(name)] = struct.pack("<H", len(name)) + name.encode("utf-16-le")

    raw_size = (len(section) + file_alignment - 1) // file_alignment * file_alignment
    image_size = rva + (len(section) + rva - 1) // rva * rva
    headers = bytearray(file_alignment)
    headers[0:2] = b"MZ"
    struct.pack_into("<I", headers, 60, 64)
    # PE signature and file header: i386, one section, a 224-byte optional
    # header, a 32-bit DLL.
    struct.pack_into("<4sHHIIIHH", headers, 64, b"PE\0\0", 0x14C, 1, 0, 0, 0, 224, 0x2102)
    optional = 88
    struct.pack_into("<H", headers, optional, 0x10B)
    struct.pack_into("<I", headers, optional + 28, 0x10000000)  # ImageBase
    struct.pack_into("<II", headers, optional + 32, rva, file_alignment)
    struct.pack_into("<HH", headers, optional + 40, 4, 0)  # operating system version
    struct.pack_into("<HH", headers, optional + 48, 4, 0)  # subsystem version
    struct.pack_into("<II", headers, optional + 56, image_size, file_alignment)
    struct.pack_into("<HH", headers, optional + 68, 2, 0)  # a GUI subsystem
    struct.pack_into("<I", headers, optional + 92, 16)  # NumberOfRvaAndSizes
    struct.pack_into("<II", headers, optional + 96 + 2 * 8, rva, len(section))
    struct.pack_into("<8sIIII", headers, optional + 224, b".rsrc", len(section), rva, raw_size, file_alignment)
    struct.pack_into("<I", headers, optional + 224 + 36, 0x40000040)  # initialised data, readable
    return bytes(headers) + bytes(section) + bytes(raw_size - len(section))


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

    def example(name):
        with open(os.path.join(HERE, name), "rb") as f:
            return f.read()

    write("resources.dll", resource_library(group_resources(example("palette.ico"), 1, 1)
                                            + group_resources(example("png.ico"), "APP", 4)
                                            + group_resources(example("pointer.cur"), 2, 1)))


if __name__ == "__main__":
    main()
