"""Encoders for the built cases: bitmaps (every header form), PNG
streams chunk by chunk, and ICO/CUR files with every field open to override.

Pixels are RGBA rows, top row first, as lists of (r, g, b, a) tuples. Every
builder also returns what a faithful reader should show, so that a reader's
RGBA digest can be checked against the intended picture.
"""
import hashlib
import struct
import zlib


# ------------------------------------------------------------------ pictures
def colour(seed, k):
    """A deterministic, well-spread opaque colour."""
    h = hashlib.sha256(b"%d/%d" % (seed, k)).digest()
    return (h[0], h[1], h[2])


def indexed(w, h, seed, ncol):
    """Palette (ncol RGB colours) and index rows of an asymmetric pattern
    (a flipped or mirrored image differs from the original)."""
    pal = [colour(seed, k) for k in range(ncol)]
    bw = max(1, w // 8)
    bh = max(1, h // 4)
    rows = [[((x // bw) + 3 * (y // bh) + (1 if x > y else 0) + seed) % ncol for x in range(w)]
            for y in range(h)]
    return pal, rows


def solid(w, h, rgb):
    return [[(rgb[0], rgb[1], rgb[2], 255)] * w for _ in range(h)]


def pattern(w, h, seed, ncol=16):
    pal, rows = indexed(w, h, seed, ncol)
    return [[pal[i] + (255,) for i in r] for r in rows]


def grey_pattern(w, h, seed, levels=256):
    out = []
    for y in range(h):
        row = []
        for x in range(w):
            k = ((x // max(1, w // 8)) * 5 + (y // max(1, h // 4)) * 11 + (1 if x > y else 0) * 3 + seed) % levels
            g = k * 255 // (levels - 1) if levels > 1 else 0
            row.append((g, g, g, 255))
        out.append(row)
    return out


def rgba_digest(pix):
    h = len(pix)
    w = len(pix[0]) if h else 0
    raw = b"".join(bytes(c for p in r for c in p) for r in pix)
    return "%dx%d:%s" % (w, h, hashlib.sha256(raw).hexdigest()[:24])


def palette_of(pix):
    """Distinct colours in first-seen order and the index rows."""
    pal, idx = [], {}
    rows = []
    for r in pix:
        out = []
        for p in r:
            if p[:3] not in idx:
                idx[p[:3]] = len(pal)
                pal.append(p[:3])
            out.append(idx[p[:3]])
        rows.append(out)
    return pal, rows


# ------------------------------------------------------------------ bitmaps
def pad4(b):
    return b + b"\0" * (-len(b) % 4)


def pack_bits(values, depth):
    out = bytearray()
    acc, n = 0, 0
    for v in values:
        acc = (acc << depth) | (v & ((1 << depth) - 1))
        n += depth
        if n == 8:
            out.append(acc)
            acc, n = 0, 0
    if n:
        out.append(acc << (8 - n))
    return bytes(out)


def xor_rows(pix, bpp, pal=None, index_rows=None):
    """Colour rows, bottom-up, each padded to 4 bytes."""
    out = []
    h = len(pix)
    for y in range(h):
        r = pix[y]
        if bpp <= 8:
            out.append(pad4(pack_bits(index_rows[y], bpp)))
        elif bpp == 16:
            b = bytearray()
            for (R, G, B, A) in r:
                v = ((R >> 3) << 10) | ((G >> 3) << 5) | (B >> 3)
                b += struct.pack("<H", v)
            out.append(pad4(bytes(b)))
        elif bpp == 24:
            out.append(pad4(bytes(c for (R, G, B, A) in r for c in (B, G, R))))
        elif bpp == 32:
            out.append(pad4(bytes(c for (R, G, B, A) in r for c in (B, G, R, A))))
        else:
            raise ValueError(bpp)
    return b"".join(reversed(out))


def and_rows(w, h, transparent=None):
    """AND mask rows bottom-up; transparent(x, y) -> bool (bit 1)."""
    rows = []
    for y in range(h):
        bits = [1 if transparent and transparent(x, y) else 0 for x in range(w)]
        rows.append(pad4(pack_bits(bits, 1)))
    return b"".join(reversed(rows))


def quantise16(pix):
    """What a 5-5-5 bitmap can hold, expanded back as readers commonly do."""
    def e(c):
        c >>= 3
        return (c << 3) | (c >> 2)
    return [[(e(R), e(G), e(B), 255) for (R, G, B, A) in r] for r in pix]


def bitmap(pix, bpp, *, pal=None, index_rows=None, ncolours=None, header_size=40, compression=0,
           height_field=None, width_field=None, planes=1, clr_used=None, size_image=None,
           mask=True, transparent=None, bitfields=None, core=False, extra_after_header=b"",
           colour_data=None, mask_data=None, bit_count_field=None):
    """A DIB as icons store it: header, palette, colour rows, AND mask.
    Returns bytes."""
    h = len(pix)
    w = len(pix[0])
    if bpp <= 8 and index_rows is None:
        pal, index_rows = palette_of(pix)
    if bpp <= 8:
        n = ncolours if ncolours is not None else (1 << bpp)
        table_colours = list(pal) + [(0, 0, 0)] * max(0, n - len(pal))
        table_colours = table_colours[:n]
    else:
        table_colours = []
    colour_bytes = colour_data if colour_data is not None else xor_rows(pix, bpp, pal, index_rows)
    mask_bytes = mask_data if mask_data is not None else (and_rows(w, h, transparent) if mask else b"")
    hf = height_field if height_field is not None else 2 * h
    wf = width_field if width_field is not None else w
    bc = bit_count_field if bit_count_field is not None else bpp
    if core:
        hdr = struct.pack("<IHHHH", 12, wf, hf, planes, bc)
        table = b"".join(bytes((b, g, r)) for (r, g, b) in table_colours)
        return hdr + table + colour_bytes + mask_bytes
    cu = clr_used if clr_used is not None else (0 if (bpp > 8 or ncolours is None or ncolours == 1 << bpp) else ncolours)
    si = size_image if size_image is not None else len(colour_bytes) + len(mask_bytes)
    hdr = struct.pack("<IiiHHIIiiII", header_size, wf, hf, planes, bc, compression, si, 0, 0, cu, 0)
    if header_size > 40:
        ext = bytearray()
        # V4: red, green, blue, alpha masks; colour space; endpoints; gammas
        ext += struct.pack("<IIII", 0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000)
        ext += struct.pack("<I", 0x73524742)  # 'sRGB'
        ext += b"\0" * 36 + b"\0" * 12
        if header_size >= 124:
            ext += struct.pack("<IIII", 4, 0, 0, 0)  # LCS_GM_IMAGES, no profile
        ext = bytes(ext[: header_size - 40])
        ext += b"\0" * (header_size - 40 - len(ext))
        hdr += ext
    if bitfields is not None:
        hdr += b"".join(struct.pack("<I", m) for m in bitfields)
    table = b"".join(bytes((b, g, r, 0)) for (r, g, b) in table_colours)
    return hdr + extra_after_header + table + colour_bytes + mask_bytes


# ------------------------------------------------------------------ PNG
PNG_SIG = b"\x89PNG\r\n\x1a\n"


def chunk(ctype, data, crc=None):
    if isinstance(ctype, str):
        ctype = ctype.encode("latin-1")
    c = zlib.crc32(ctype + data) & 0xFFFFFFFF if crc is None else crc
    return struct.pack(">I", len(data)) + ctype + data + struct.pack(">I", c)


def ihdr(w, h, depth, ctype, compression=0, filt=0, interlace=0):
    return struct.pack(">IIBBBBB", w, h, depth, ctype, compression, filt, interlace)


def _row_samples(row, ctype, depth, index_row=None):
    """One row's bytes (no filter byte)."""
    if ctype == 3:
        return pack_bits(index_row, depth)
    if ctype == 0:
        vals = [p[0] for p in row]
        if depth < 8:
            return pack_bits([v >> (8 - depth) for v in vals], depth)
        if depth == 16:
            return b"".join(struct.pack(">H", v * 257) for v in vals)
        return bytes(vals)
    chans = {2: 3, 4: 2, 6: 4}[ctype]
    out = bytearray()
    for p in row:
        vs = {2: (p[0], p[1], p[2]), 4: (p[0], p[3]), 6: p}[ctype]
        for v in vs:
            if depth == 16:
                out += struct.pack(">H", v * 257)
            else:
                out.append(v)
    assert len(out) == chans * len(row) * depth // 8
    return bytes(out)


ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]


def raw_scanlines(pix, ctype, depth, index_rows=None, interlace=0):
    h = len(pix)
    w = len(pix[0])
    if not interlace:
        return b"".join(b"\0" + _row_samples(pix[y], ctype, depth, index_rows[y] if index_rows else None)
                        for y in range(h))
    out = bytearray()
    for (x0, y0, dx, dy) in ADAM7:
        xs = list(range(x0, w, dx))
        if not xs:
            continue
        for y in range(y0, h, dy):
            row = [pix[y][x] for x in xs]
            irow = [index_rows[y][x] for x in xs] if index_rows else None
            out += b"\0" + _row_samples(row, ctype, depth, irow)
    return bytes(out)


def png(pix, *, ctype=6, depth=8, interlace=0, pal=None, index_rows=None, trns=None, before_idat=(),
        after_idat=(), idat_data=None, ihdr_data=None, plte=True, split_idat=None, chunks=None,
        ihdr_fields=None):
    """A PNG stream. `chunks`, if given, is a function(list of (type, data, crc)) -> list, to edit
    the chunk list before it is written."""
    h = len(pix)
    w = len(pix[0])
    if ctype == 3 and index_rows is None:
        pal, index_rows = palette_of(pix)
    hd = ihdr_data if ihdr_data is not None else ihdr(w, h, depth, ctype, **{"interlace": interlace, **(ihdr_fields or {})})
    raw = raw_scanlines(pix, ctype, depth, index_rows, interlace)
    data = idat_data if idat_data is not None else zlib.compress(raw, 9)
    lst = [["IHDR", hd, None]]
    for c in before_idat:
        lst.append(list(c) + [None] * (3 - len(c)))
    if ctype == 3 and plte:
        lst.append(["PLTE", b"".join(bytes(c) for c in pal), None])
    if trns is not None:
        lst.append(["tRNS", trns, None])
    if split_idat:
        k = len(data) // 2
        lst.append(["IDAT", data[:k], None])
        lst.append(list(split_idat) + [None] * (3 - len(split_idat)))
        lst.append(["IDAT", data[k:], None])
    else:
        lst.append(["IDAT", data, None])
    for c in after_idat:
        lst.append(list(c) + [None] * (3 - len(c)))
    lst.append(["IEND", b"", None])
    if chunks:
        lst = chunks(lst)
    return PNG_SIG + b"".join(chunk(t, d, c) for (t, d, c) in lst)


# ------------------------------------------------------------------ ICO
def ico(images, *, reserved=0, itype=1, count=None, order=None, trailing=b""):
    """images: list of dicts with 'data' and entry fields 'w', 'h', 'colors', 'res', 'planes',
    'bits', 'bytes', 'offset' (each optional; offset/bytes default to the laid-out data).
    `order` gives the order in which image data is laid out (default: entry order).
    An image dict with 'data' None gets no bytes (its offset must be given)."""
    n = len(images)
    cnt = n if count is None else count
    head = struct.pack("<HHH", reserved, itype, cnt)
    pos = 6 + 16 * n
    offsets = {}
    body = b""
    for i in (order if order is not None else range(n)):
        d = images[i].get("data")
        if d is None:
            continue
        offsets[i] = pos
        body += d
        pos += len(d)
    entries = b""
    for i, im in enumerate(images):
        w = im.get("w", 0)
        h = im.get("h", 0)
        e = struct.pack("<BBBBHHII", w & 255 if w < 256 else 0, h & 255 if h < 256 else 0,
                        im.get("colors", 0), im.get("res", 0), im.get("planes", 1), im.get("bits", 32),
                        im.get("bytes", len(im["data"]) if im.get("data") is not None else 0),
                        im.get("offset", offsets.get(i, 0)))
        entries += e
    return head + entries + body + trailing


# ------------------------------------------------------------------ GIF
def gif(pix):
    """A GIF file of at most 16 opaque colours. Its LZW stream holds every
    pixel as a literal code and starts over before the code table would
    outgrow 5-bit codes, so no compression logic is needed."""
    h = len(pix)
    w = len(pix[0])
    pal, rows = palette_of(pix)
    assert len(pal) <= 16
    table = b"".join(bytes(c) for c in pal) + b"\0" * 3 * (16 - len(pal))
    clear, end = 16, 17
    codes = []
    for k, v in enumerate(i for r in rows for i in r):
        if k % 13 == 0:
            codes.append(clear)
        codes.append(v)
    codes.append(end)
    acc = nbits = 0
    data = bytearray()
    for c in codes:
        acc |= c << nbits
        nbits += 5
        while nbits >= 8:
            data.append(acc & 255)
            acc >>= 8
            nbits -= 8
    if nbits:
        data.append(acc)
    blocks = b"".join(bytes((len(data[i:i + 255]),)) + data[i:i + 255] for i in range(0, len(data), 255))
    return (b"GIF89a" + struct.pack("<HHBBB", w, h, 0xF3, 0, 0) + table +
            b"," + struct.pack("<HHHHB", 0, 0, w, h, 0) + b"\4" + blocks + b"\0;")
