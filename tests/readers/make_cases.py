#!/usr/bin/python3
"""Builds the table of cases run through the real readers: one ICO, CUR (or
non-icon) file per icon-lint check and per measured reader fault, plus:

  manifest.json      per case: its file, what it shows, each entry's intended
                     RGBA (deflated, base64) and icon-lint arguments when the
                     case needs any

Deterministic: the same bytes on every run; Python's standard library only.

Usage: /usr/bin/python3 make_cases.py OUTDIR
"""
import base64
import json
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import icolib as L  # noqa: E402

CASES = []


class Img:
    """One image: its bytes, its entry fields, the pixels a faithful reader
    shows, and its clean twin (an image dict)."""

    def __init__(self, data, w, h, bits, colors=0, pix=None, clean=None, kind="bitmap"):
        self.data, self.w, self.h, self.bits, self.colors = data, w, h, bits, colors
        self.pix = pix
        self.clean = clean if clean is not None else data
        self.kind = kind
        self.alt = None  # pixels that differ from pix only by a reader's rounding

    def entry(self, **over):
        d = {"data": self.data, "w": self.w, "h": self.h, "bits": self.bits, "colors": self.colors}
        d.update(over)
        return d


def bmp(w, h, bpp, seed=1, ncol=None, pix=None, mask=True, solid_rgb=None, **kw):
    """A bitmap image; kw goes to icolib.bitmap (faults)."""
    if pix is None:
        if solid_rgb is not None:
            pix = L.solid(w, h, solid_rgb)
        elif bpp <= 8:
            n = ncol or min(1 << bpp, 16)
            pix = L.pattern(w, h, seed, n)
        else:
            pix = L.pattern(w, h, seed, 16)
    shown = L.quantise16(pix) if bpp == 16 else pix
    ncolours = None
    pal = idx = None
    if bpp <= 8:
        pal, idx = L.palette_of(pix)
        ncolours = 1 << bpp
    data = L.bitmap(pix, bpp, pal=pal, index_rows=idx, ncolours=kw.pop("ncolours", ncolours), mask=mask, **kw)
    clean = L.bitmap(pix, bpp, pal=pal, index_rows=idx, ncolours=ncolours, mask=True,
                     transparent=kw.get("transparent"))
    colors = (1 << bpp) if bpp < 8 else 0
    im = Img(data, w, h, bpp, colors, shown, clean)
    if bpp == 16:
        # Chromium widens 5-bit channels by rounding c * 255 / 31, the others by repeating bits
        im.alt = [[tuple(round((c >> 3) * 255 / 31) for c in p[:3]) + (255,) for p in r] for r in pix]
    return im


def pngimg(w, h, seed=1, ctype=6, depth=8, solid_rgb=None, pix=None, **kw):
    if pix is None:
        if solid_rgb is not None:
            pix = L.solid(w, h, solid_rgb)
        elif ctype in (0, 4):
            pix = L.grey_pattern(w, h, seed, min(256, 1 << depth))
        elif ctype == 3:
            pix = L.pattern(w, h, seed, min(1 << depth, 16))
        else:
            pix = L.pattern(w, h, seed, 16)
    data = L.png(pix, ctype=ctype, depth=depth, **kw)
    clean = L.png(pix, ctype=ctype, depth=depth)
    return Img(data, w, h, 32, 0, pix, clean, kind="png")


def add(name, group, desc, data, images=(), checks=(), faults=(), lint_args=(), twin=True, ext="ico",
        pix=None):
    """images: the Img of each directory entry in order (None for an entry with no
    meaningful picture). pix: for non-icon files, the picture itself."""
    CASES.append(dict(name=name, group=group, desc=desc, data=data, images=list(images), checks=list(checks),
                      faults=list(faults), lint_args=list(lint_args), twin=twin, ext=ext, pix=pix))


def one(img, **entry_over):
    return L.ico([img.entry(**entry_over)])


def many(imgs, overs=None, **kw):
    overs = overs or [{}] * len(imgs)
    return L.ico([im.entry(**o) for im, o in zip(imgs, overs)], **kw)


# Distinct solid colours for selection cases: entry k of a file gets SOLID[k].
SOLID = [(230, 25, 75), (60, 180, 75), (255, 225, 25), (0, 130, 200), (245, 130, 48), (145, 30, 180),
         (70, 240, 240), (240, 50, 230), (210, 245, 60), (250, 190, 212)]


def build():
    # ---------------------------------------------------------- baselines
    b32 = bmp(16, 16, 32, seed=1)
    add("ok-bmp32-16", "baseline", "clean 16x16 32-bit bitmap with its AND mask", one(b32), [b32])
    for bpp in (1, 4, 8, 24):
        im = bmp(16, 16, bpp, seed=bpp)
        add("ok-bmp%d-16" % bpp, "baseline", "clean 16x16 %d-bit bitmap%s" % (bpp, " (two colours, neither black nor white)" if bpp == 1 else ""), one(im), [im])
    p256 = pngimg(256, 256, seed=3)
    add("ok-png-256", "baseline", "clean 256x256 8-bit RGBA PNG, entry says 0x0", one(p256), [p256])
    p32 = pngimg(32, 32, seed=4)
    add("ok-png-32", "baseline", "clean 32x32 8-bit RGBA PNG", one(p32), [p32])
    # masked pixels hold black, as Windows needs for transparency (AND 1, XOR 0)
    m8 = bmp(16, 16, 4, pix=[[(0, 0, 0, 255) if x < 4 else p for x, p in enumerate(r)] for r in L.pattern(16, 16, 5, 15)],
             transparent=lambda x, y: x < 4)
    m8.pix = [[(0, 0, 0, 0) if x < 4 else p for x, p in enumerate(r)] for r in m8.pix]
    add("ok-bmp4-masked", "baseline", "16x16 4-bit bitmap whose AND mask makes its 4 left columns transparent "
        "(black under the mask)", one(m8), [m8])
    inv = bmp(16, 16, 4, seed=5, transparent=lambda x, y: x < 4)
    inv.pix = [[(0, 0, 0, 0) if x < 4 else p for x, p in enumerate(r)] for r in inv.pix]
    add("mask-inverts-4bit", "mask", "16x16 4-bit bitmap, AND mask 1 over 4 left columns whose colours are not "
        "black (Windows inverts the screen there)", one(inv), [inv], faults=["masked pixels not black (extra)"])
    bw = bmp(16, 16, 1, pix=[[(255, 255, 255, 255) if (x // 4 + y // 4 + (x > y)) % 2 else (0, 0, 0, 255)
                              for x in range(16)] for y in range(16)])
    add("ok-bmp1-bw", "baseline", "clean 16x16 1-bit bitmap, black and white palette", one(bw), [bw])
    a32 = bmp(16, 16, 32, seed=6, pix=[[(c[0], c[1], c[2], 0 if x < 4 else 255) if x >= 4 else (0, 0, 0, 0)
                                        for x, c in enumerate(r)] for r in L.pattern(16, 16, 6)],
              transparent=lambda x, y: x < 4)
    add("ok-bmp32-alpha", "baseline", "16x16 32-bit bitmap, 4 left columns alpha 0 (colour 0) and masked",
        one(a32), [a32])

    # ---------------------------------------------------------- files that are no icon
    pic = L.pattern(32, 32, 7, 16)
    add("notico-png", "not-icon", "a 32x32 RGBA PNG file named .ico", L.png(pic), checks=["(all)"],
        faults=["no icon: PNG"], pix=pic)
    add("notico-gif", "not-icon", "a 32x32 GIF file named .ico", L.gif(pic), faults=["no icon: GIF"], pix=pic)
    rows = L.xor_rows(pic, 24)
    bmpfile = b"BM" + struct.pack("<IHHI", 14 + 40 + len(rows), 0, 0, 14 + 40) + \
        struct.pack("<IiiHHIIiiII", 40, 32, 32, 1, 24, 0, len(rows), 0, 0, 0, 0) + rows
    add("notico-bmp", "not-icon", "a 32x32 24-bit BMP file (with BITMAPFILEHEADER) named .ico", bmpfile,
        faults=["no icon: BMP"], pix=pic)
    ani_icon = one(bmp(32, 32, 32, seed=8))
    ani = b"ACON" + b"anih" + struct.pack("<I", 36) + struct.pack("<9I", 36, 1, 1, 0, 0, 0, 0, 10, 1)
    frame = b"icon" + struct.pack("<I", len(ani_icon)) + ani_icon + b"\0" * (len(ani_icon) & 1)
    ani += b"LIST" + struct.pack("<I", 4 + len(frame)) + b"fram" + frame
    add("notico-riff-ani", "not-icon", "a RIFF ACON (animated cursor) file with one 32x32 frame, named .ico",
        b"RIFF" + struct.pack("<I", len(ani)) + ani, faults=["no icon: RIFF"])
    add("notico-svg", "not-icon", "an SVG document named .ico",
        b'<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32"><rect width="32" height="32" '
        b'fill="#e6194b"/></svg>\n', faults=["no icon: SVG (extra)"])
    add("notico-html", "not-icon", "an HTML error page named .ico (what a server sends for a missing favicon)",
        b"<!DOCTYPE html><html><head><title>404 Not Found</title></head><body><h1>Not Found</h1></body></html>\n",
        faults=["no icon: HTML (extra)"])
    add("notico-empty", "not-icon", "an empty file", b"", checks=["directory-truncated"])

    # ---------------------------------------------------------- header
    c = bmp(16, 16, 32, seed=10)
    add("hdr-reserved-1", "header", "idReserved 1", one(c).replace(b"\0\0", b"\1\0", 1), [c],
        checks=["header-reserved"], faults=["idReserved not 0"])
    add("hdr-reserved-ffff", "header", "idReserved 0xFFFF", b"\xff\xff" + one(c)[2:], [c],
        checks=["header-reserved"], faults=["idReserved not 0"])
    add("hdr-type-0", "header", "idType 0", L.ico([c.entry()], itype=0), [c], checks=["header-type"])
    add("hdr-type-3", "header", "idType 3", L.ico([c.entry()], itype=3), [c], checks=["header-type"])
    add("hdr-count-0", "header", "idCount 0, one image's entry and bytes still present",
        L.ico([c.entry()], count=0), [c], checks=["header-count"])
    add("dir-short-header", "header", "a 4-byte file", b"\0\0\1\0", checks=["directory-truncated"])
    full = L.ico([c.entry(), c.entry()])
    add("dir-truncated", "header", "idCount 2, the file ends inside the second entry (30 bytes)", full[:30],
        [c, c], checks=["directory-truncated", "image-past-end"])
    add("dir-count-too-large", "header",
        "idCount 4 with one real entry: entries 1-3 are read from the image's bytes",
        L.ico([c.entry(offset=6 + 64)], count=4)[:6 + 16] + b"\0" * 48 + c.data, [c, None, None, None],
        checks=["image-in-directory"])

    # ---------------------------------------------------------- placement
    a = bmp(16, 16, 32, seed=11)
    b = bmp(32, 32, 32, seed=12)
    add("place-start-past-end", "placement", "image 1's offset lies past the end of the file",
        many([a, b], [{}, {"offset": 100000, "data": None, "bytes": len(b.data)}]), [a, b],
        checks=["image-past-end"], faults=["images past the end"])
    add("place-run-past-end", "placement", "the last image's dwBytesInRes runs 100 bytes past the end",
        many([a, b], [{}, {"bytes": len(b.data) + 100}]), [a, b],
        checks=["image-past-end", "entry-bytes-in-res"], faults=["images past the end", "dwBytesInRes larger"])
    add("place-in-directory", "placement", "image 1's offset is 10, inside the directory",
        many([a, b], [{}, {"offset": 10}]), [a, b], checks=["image-in-directory"],
        faults=["images inside the directory"])
    add("place-in-directory-only", "placement", "the only image's offset is 2 (inside the header)",
        one(a, offset=2), [a], checks=["image-in-directory"], faults=["images inside the directory"])
    # image 0 claims bytes that reach into image 1
    add("place-overlap-claim", "placement",
        "image 0's dwBytesInRes covers image 1 as well (ranges overlap, both images intact)",
        many([a, b], [{"bytes": len(a.data) + len(b.data)}, {}]), [a, b],
        checks=["image-overlap", "entry-bytes-in-res"], faults=["overlapping images"])
    add("place-same-offset", "placement", "two entries (16x16 32-bit) point at the same bytes",
        L.ico([a.entry(), a.entry(offset=6 + 32, data=None, bytes=len(a.data))]), [a, a], checks=["image-overlap", "duplicate-image"],
        faults=["overlapping images", "duplicates with equal pixels"])
    pa = pngimg(32, 32, seed=13)
    pb = pngimg(32, 32, seed=14)
    # image 1 starts inside image 0's IDAT: the bytes there are image 1's signature? no: real overlap
    # made by placing image 1 inside a long ancillary chunk of image 0
    inner = pb.data
    host = L.png(pa.pix, before_idat=[("zzZz", inner)])
    off_host = 6 + 32
    off_inner = off_host + 8 + 25 + 8  # signature, IHDR chunk, zzZz chunk header
    add("place-overlap-nested", "placement",
        "image 1 lies inside an ancillary chunk of image 0 (nested ranges, both decodable)",
        L.ico([{"data": host, "w": 32, "h": 32}, {"data": None, "w": 32, "h": 32, "bytes": len(inner),
                                                  "offset": off_inner}]),
        [Img(host, 32, 32, 32, pix=pa.pix, clean=pa.clean, kind="png"), pb],
        checks=["image-overlap", "duplicate-image"], faults=["overlapping images"])

    # ---------------------------------------------------------- duplicates and ties
    d0 = bmp(16, 16, 32, seed=20, solid_rgb=SOLID[0])
    d1 = bmp(16, 16, 32, seed=21, solid_rgb=SOLID[1])
    add("dup-equal", "duplicates", "two 16x16 32-bit images with equal pixels (separate bytes)",
        many([d0, d0]), [d0, d0], checks=["duplicate-image"], faults=["duplicates with equal pixels"])
    add("dup-diff", "duplicates", "two 16x16 32-bit images with different pixels",
        many([d0, d1]), [d0, d1], checks=["duplicate-image"], faults=["duplicates with different pixels",
                                                                      "ties on size"])
    e = [bmp(32, 32, 32, solid_rgb=SOLID[k]) for k in range(3)]
    add("dup-diff-3", "duplicates", "three 32x32 32-bit images with different pixels", many(e), e,
        checks=["duplicate-image"], faults=["ties on size"])
    e2 = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1]),
          bmp(32, 32, 32, solid_rgb=SOLID[2]), bmp(48, 48, 32, solid_rgb=SOLID[3])]
    add("dup-mid-size", "duplicates", "16, 32, 32, 48 (32-bit): a tie at 32 below the largest", many(e2), e2,
        checks=["duplicate-image"], faults=["ties on size"])
    e3 = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(48, 48, 32, solid_rgb=SOLID[1]),
          bmp(48, 48, 32, solid_rgb=SOLID[2])]
    add("dup-largest", "duplicates", "16, 48, 48 (32-bit): a tie at the largest size", many(e3), e3,
        checks=["duplicate-image"], faults=["ties on size"])
    pp = pngimg(32, 32, solid_rgb=SOLID[0])
    bb = bmp(32, 32, 32, solid_rgb=SOLID[1])
    add("dup-png-bmp", "duplicates", "32x32 PNG then 32x32 32-bit bitmap, different pixels", many([pp, bb]),
        [pp, bb], checks=["duplicate-image"], faults=["ties on size"])
    add("dup-bmp-png", "duplicates", "32x32 32-bit bitmap then 32x32 PNG, different pixels", many([bb, pp]),
        [bb, pp], checks=["duplicate-image"], faults=["ties on size"])
    t8 = bmp(32, 32, 8, solid_rgb=SOLID[0])
    t32 = bmp(32, 32, 32, solid_rgb=SOLID[1])
    t4 = bmp(32, 32, 4, solid_rgb=SOLID[2])
    add("tie-depth-8-32", "duplicates", "32x32 8-bit then 32x32 32-bit (same size, other depth)",
        many([t8, t32]), [t8, t32], faults=["ties on size"])
    add("tie-depth-32-8", "duplicates", "32x32 32-bit then 32x32 8-bit", many([t32, t8]), [t32, t8],
        faults=["ties on size"])
    add("tie-depth-4-8-32", "duplicates", "32x32 4-bit, 8-bit, 32-bit", many([t4, t8, t32]), [t4, t8, t32],
        faults=["ties on size"])
    add("tie-depth-32-8-4", "duplicates", "32x32 32-bit, 8-bit, 4-bit", many([t32, t8, t4]), [t32, t8, t4],
        faults=["ties on size"])

    # ---------------------------------------------------------- size selection
    sizes = [16, 24, 32, 48, 64]
    std = [bmp(s, s, 32, solid_rgb=SOLID[k]) for k, s in enumerate(sizes)] + [pngimg(256, 256,
                                                                                      solid_rgb=SOLID[5])]
    add("pick-std", "selection", "16, 24, 32, 48, 64 (32-bit bitmaps) and 256 (PNG), ascending", many(std),
        std, faults=["which image each reader shows"])
    add("pick-std-desc", "selection", "the same, descending", many(std[::-1]), std[::-1],
        faults=["which image each reader shows"])
    gap = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1]),
           pngimg(256, 256, solid_rgb=SOLID[2])]
    add("pick-gaps", "selection", "16, 32 and 256 only: what is shown at 24, 48, 64", many(gap), gap,
        faults=["which image each reader shows"])
    big = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(48, 48, 32, solid_rgb=SOLID[1]),
           bmp(128, 128, 32, solid_rgb=SOLID[2])]
    add("pick-16-48-128", "selection", "16, 48 and 128 bitmaps", many(big), big,
        faults=["which image each reader shows"])
    rect = [bmp(16, 32, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1])]
    add("pick-nonsquare", "selection", "a 16x32 and a 32x32 bitmap", many(rect), rect,
        faults=["which image each reader shows (extra)"])
    deep = [bmp(32, 32, 4, solid_rgb=SOLID[0]), bmp(16, 16, 32, solid_rgb=SOLID[1])]
    add("pick-depth-vs-size", "selection", "32x32 4-bit and 16x16 32-bit", many(deep), deep,
        faults=["which image each reader shows"])
    broken_big = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1])]
    add("pick-largest-broken", "selection", "16x16 good, 32x32 cut to 100 bytes (last in file)",
        many(broken_big)[:-(len(broken_big[1].data) - 100)], broken_big,
        checks=["image-truncated", "image-past-end"], faults=["which image each reader shows"])

    rev = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1])]
    add("layout-reversed", "selection", "16 and 32 bitmaps stored in reverse order of their entries",
        L.ico([i.entry() for i in rev], order=[1, 0]), rev, faults=["layout (extra)"])
    add("layout-gap", "selection", "16 and 32 bitmaps with 100 unused bytes between them",
        L.ico([rev[0].entry(data=rev[0].data + b"\0" * 100, bytes=len(rev[0].data)), rev[1].entry()]), rev,
        faults=["layout (extra)"])
    b512 = bmp(512, 512, 32, seed=47)
    add("bmp-512", "selection", "a 512x512 32-bit bitmap, entry says 0 (256)", one(b512, w=0, h=0), [b512],
        checks=["bitmap-size-mismatch"], faults=["bitmaps larger than 256 (extra)"])

    # ---------------------------------------------------------- required size
    rs = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1])]
    add("required-size-48", "file", "16 and 32 only, linted with --require-sizes=16,32,48", many(rs), rs,
        checks=["required-size"], lint_args=["--require-sizes=16,32,48"])

    # ---------------------------------------------------------- image-truncated
    t = bmp(32, 32, 32, seed=30)
    add("trunc-bmp-header", "truncated", "the file ends 20 bytes into the bitmap header", one(t)[:22 + 20], [t],
        checks=["image-truncated", "image-past-end"], faults=["cut bitmaps"])
    add("trunc-bmp-rows", "truncated", "the file ends half-way through the colour rows",
        one(t)[:22 + 40 + 32 * 32 * 2], [t], checks=["image-truncated", "image-past-end"],
        faults=["cut bitmaps"])
    add("trunc-bmp-mask", "truncated", "the file ends half-way through the AND mask",
        one(t)[:-64], [t], checks=["image-truncated", "image-past-end"], faults=["cut bitmaps"])
    t4x = bmp(32, 32, 4, seed=31)
    add("trunc-bmp4-rows", "truncated", "4-bit: the file ends half-way through the colour rows",
        one(t4x)[:22 + 40 + 64 + 256], [t4x], checks=["image-truncated", "image-past-end"],
        faults=["cut bitmaps"])
    tp = pngimg(32, 32, seed=32)
    idat_end = tp.data.index(b"IEND") - 4
    add("trunc-png-idat", "truncated", "the file ends inside the PNG's IDAT", one(tp)[:22 + idat_end - 40], [tp],
        checks=["image-truncated", "image-past-end"], faults=["cut PNG"])
    add("trunc-png-iend", "truncated", "the file ends right before the PNG's IEND chunk",
        one(tp)[:22 + idat_end], [tp], checks=["image-truncated", "image-past-end"], faults=["cut PNG"])

    # ---------------------------------------------------------- dwBytesInRes
    s = bmp(32, 32, 32, seed=33)
    s2 = bmp(16, 16, 32, seed=34)
    add("bytes-small-bmp-mask", "bytes", "dwBytesInRes 64 bytes short (cuts the AND mask), bytes all present",
        many([s, s2], [{"bytes": len(s.data) - 64}, {}]), [s, s2], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes smaller than the bitmap"])
    add("bytes-small-bmp-rows", "bytes", "dwBytesInRes cuts into the colour rows, bytes all present",
        many([s, s2], [{"bytes": 40 + 32 * 32 * 2}, {}]), [s, s2], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes smaller than the bitmap"])
    add("bytes-small-bmp-last", "bytes", "last image: dwBytesInRes 64 short, the file holds the rest",
        one(s, bytes=len(s.data) - 64), [s], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes smaller than the bitmap"])
    add("bytes-large-bmp", "bytes", "dwBytesInRes 100 bytes more than the bitmap, padding present",
        L.ico([s.entry(bytes=len(s.data) + 100)], trailing=b"\0" * 100), [s], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes larger"])
    sp = pngimg(32, 32, seed=35)
    add("bytes-small-png", "bytes", "dwBytesInRes ends before the PNG's IEND (bytes present)",
        L.ico([sp.entry(bytes=len(sp.data) - 12)]), [sp], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes smaller"])
    add("bytes-small-png-idat", "bytes", "dwBytesInRes ends inside the PNG's IDAT (bytes present)",
        L.ico([sp.entry(bytes=len(sp.data) - 60)]), [sp], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes smaller"])
    add("bytes-large-png", "bytes", "dwBytesInRes 100 bytes more than the PNG, padding present",
        L.ico([sp.entry(bytes=len(sp.data) + 100)], trailing=b"\0" * 100), [sp], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes larger"])
    add("bytes-zero", "bytes", "dwBytesInRes 0", one(s, bytes=0), [s], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes smaller"])

    # ---------------------------------------------------------- bColorCount
    i4 = bmp(32, 32, 4, seed=40)
    i8 = bmp(32, 32, 8, seed=41, ncol=16)
    i8f = bmp(32, 32, 8, seed=41, pix=L.pattern(32, 32, 41, 200))
    i1 = bmp(32, 32, 1, pix=[[(255, 255, 255, 255) if (x // 4 + y // 8 + (x > y)) % 2 else (0, 0, 0, 255)
                              for x in range(32)] for y in range(32)])
    add("colors-4bit-above", "colors", "4-bit image, bColorCount 200 (above its 16)", one(i4, colors=200), [i4],
        checks=["entry-color-count"], faults=["bColorCount above the palette"])
    add("colors-4bit-below", "colors", "4-bit image, bColorCount 2 (below its 16)", one(i4, colors=2), [i4],
        checks=["entry-color-count"], faults=["bColorCount below the palette"])
    add("colors-4bit-zero", "colors", "4-bit image, bColorCount 0", one(i4, colors=0), [i4],
        checks=["entry-color-count"], faults=["bColorCount below the palette"])
    add("colors-8bit-16", "colors", "8-bit image using 200 palette entries, bColorCount 16 (below)",
        one(i8f, colors=16), [i8f], checks=["entry-color-count"], faults=["bColorCount below the palette"])
    add("colors-8bit-16-few", "colors", "8-bit image using 16 of its 256 entries, bColorCount 16",
        one(i8, colors=16), [i8], checks=["entry-color-count"], faults=["bColorCount below the palette"])
    add("colors-1bit-16", "colors", "1-bit image, bColorCount 16 (above its 2)", one(i1, colors=16), [i1],
        checks=["entry-color-count"], faults=["bColorCount above the palette"])
    add("colors-1bit-0", "colors", "1-bit image, bColorCount 0", one(i1, colors=0), [i1],
        checks=["entry-color-count"], faults=["bColorCount below the palette"])
    c32 = bmp(32, 32, 32, seed=43)
    add("colors-32bit-16", "colors", "32-bit image, bColorCount 16", one(c32, colors=16), [c32],
        checks=["entry-color-count"], faults=["bColorCount wrong"])
    cpng = pngimg(32, 32, seed=44)
    add("colors-png-16", "colors", "PNG image, bColorCount 16", one(cpng, colors=16), [cpng],
        checks=["entry-color-count"], faults=["bColorCount wrong"])
    u8 = bmp(32, 32, 8, seed=45, ncol=16, ncolours=16)
    add("colors-8bit-clrused-16", "colors", "8-bit with biClrUsed 16 (16-entry table), bColorCount 16",
        one(u8, colors=16), [u8], faults=["short palettes"])
    add("colors-8bit-clrused-16-zero", "colors", "8-bit with biClrUsed 16 (16-entry table), bColorCount 0",
        one(u8, colors=0), [u8], checks=["entry-color-count"], faults=["bColorCount wrong"])
    # picks driven by bColorCount
    k8 = bmp(32, 32, 8, solid_rgb=SOLID[0])
    k4 = bmp(32, 32, 4, solid_rgb=SOLID[1])
    add("colors-pick-true", "colors", "32x32 8-bit then 4-bit, bColorCount true (0, 16)", many([k8, k4]),
        [k8, k4], faults=["bColorCount changes the pick"])
    add("colors-pick-lie", "colors", "32x32 8-bit (bColorCount 2) then 4-bit (bColorCount 16)",
        many([k8, k4], [{"colors": 2}, {}]), [k8, k4], checks=["entry-color-count"],
        faults=["bColorCount changes the pick"])
    k32 = bmp(32, 32, 32, solid_rgb=SOLID[2])
    add("colors-pick-32-lie", "colors", "32x32 4-bit (bColorCount 0) then 32x32 32-bit (bColorCount 16)",
        many([k4, k32], [{"colors": 0}, {"colors": 16}]), [k4, k32], checks=["entry-color-count"],
        faults=["bColorCount changes the pick"])

    # ---------------------------------------------------------- wBitCount
    add("bits-4bit-says-32", "bits", "4-bit image, wBitCount 32", one(i4, bits=32), [i4],
        checks=["entry-bit-count"], faults=["wBitCount wrong (above)"])
    add("bits-32bit-says-8", "bits", "32-bit image, wBitCount 8", one(c32, bits=8), [c32],
        checks=["entry-bit-count"], faults=["wBitCount wrong (below)"])
    add("bits-32bit-says-24", "bits", "32-bit image, wBitCount 24", one(c32, bits=24), [c32],
        checks=["entry-bit-count"], faults=["wBitCount wrong (below)"])
    add("bits-zero", "bits", "32-bit image, wBitCount 0", one(c32, bits=0), [c32],
        faults=["wBitCount 0"])
    add("bits-png-says-8", "bits", "PNG RGBA image, wBitCount 8", one(cpng, bits=8), [cpng],
        checks=["entry-bit-count"], faults=["wBitCount wrong"])
    add("bits-png-says-0", "bits", "PNG RGBA image, wBitCount 0", one(cpng, bits=0), [cpng],
        faults=["wBitCount 0"])
    add("bits-pick-true", "bits", "32x32 8-bit then 32x32 32-bit, wBitCount true", many([k8, k32]),
        [k8, k32], faults=["wBitCount changes the pick"])
    add("bits-pick-swapped", "bits", "32x32 8-bit (says 32) then 32x32 32-bit (says 8)",
        many([k8, k32], [{"bits": 32}, {"bits": 8}]), [k8, k32], checks=["entry-bit-count"],
        faults=["wBitCount changes the pick"])
    add("bits-pick-swapped-rev", "bits", "32x32 32-bit (says 8) then 32x32 8-bit (says 32)",
        many([k32, k8], [{"bits": 8}, {"bits": 32}]), [k32, k8], checks=["entry-bit-count"],
        faults=["wBitCount changes the pick"])
    add("bits-pick-zero", "bits", "32x32 8-bit (wBitCount 0) then 32x32 32-bit (wBitCount 0)",
        many([k8, k32], [{"bits": 0}, {"bits": 0}]), [k8, k32], faults=["wBitCount changes the pick"])

    # ---------------------------------------------------------- planes, reserved
    add("entry-planes-2", "entry", "wPlanes 2", one(c32, planes=2), [c32], checks=["entry-planes"])
    add("entry-planes-0", "entry", "wPlanes 0", one(c32, planes=0), [c32])
    add("entry-reserved-1", "entry", "bReserved 1", one(c32, res=1), [c32], checks=["entry-reserved"])
    add("entry-reserved-255", "entry", "bReserved 255", one(c32, res=255), [c32], checks=["entry-reserved"])
    add("entry-size-0-bmp256", "entry", "a 256x256 32-bit bitmap, entry says 0x0",
        one(bmp(256, 256, 32, seed=46)), [bmp(256, 256, 32, seed=46)], faults=["entries saying 0"])

    # ---------------------------------------------------------- cursors
    cu1 = bmp(32, 32, 1, solid_rgb=(0, 0, 0))
    cu32 = bmp(32, 32, 32, solid_rgb=SOLID[1])

    def cur(imgs, hot):
        return L.ico([im.entry(planes=hx, bits=hy) for im, (hx, hy) in zip(imgs, hot)], itype=2)
    cpix1 = bmp(32, 32, 1, pix=[[(255, 255, 255, 255) if (x // 4 + y // 4 + (x > y)) % 2 else (0, 0, 0, 255)
                                 for x in range(32)] for y in range(32)])
    add("cur-ok", "cursor", "a 32x32 1-bit cursor, hotspot (5, 5)", cur([cpix1], [(5, 5)]), [cpix1],
        faults=["cursors"])
    add("cur-hotspot-out", "cursor", "32x32 cursor, hotspot (40, 40)", cur([cpix1], [(40, 40)]), [cpix1],
        checks=["cursor-hotspot"], faults=["hotspots"])
    add("cur-hotspot-edge", "cursor", "32x32 cursor, hotspot (32, 0)", cur([cpix1], [(32, 0)]), [cpix1],
        checks=["cursor-hotspot"], faults=["hotspots"])
    add("cur-1-then-32", "cursor", "32x32 1-bit then 32x32 32-bit cursor images",
        cur([cu1, cu32], [(1, 1), (1, 1)]), [cu1, cu32], faults=["cursors: 1-bit vs 32-bit"])
    add("cur-32-then-1", "cursor", "32x32 32-bit then 32x32 1-bit cursor images",
        cur([cu32, cu1], [(1, 1), (1, 1)]), [cu32, cu1], faults=["cursors: 1-bit vs 32-bit"])
    cpng2 = pngimg(32, 32, seed=51)
    add("cur-png", "cursor", "a cursor with one 32x32 PNG image", cur([cpng2], [(3, 3)]), [cpng2],
        faults=["cursors"])
    add("cur-sizes", "cursor", "a cursor with 32x32 and 48x48 32-bit images",
        cur([bmp(32, 32, 32, solid_rgb=SOLID[0]), bmp(48, 48, 32, solid_rgb=SOLID[1])], [(1, 1), (1, 1)]),
        [bmp(32, 32, 32, solid_rgb=SOLID[0]), bmp(48, 48, 32, solid_rgb=SOLID[1])], faults=["cursors"])

    # ---------------------------------------------------------- PNG: chunks and signature
    q = pngimg(32, 32, seed=60)
    qd = q.data
    add("png-sig-damaged", "png", "PNG signature's last byte 00", one(Img(qd[:7] + b"\0" + qd[8:], 32, 32, 32,
                                                                       pix=q.pix, clean=q.clean, kind="png")),
        [q], checks=["png-signature"])

    def edit(img, fn, **kw):
        d = L.png(img.pix, chunks=fn, **kw)
        return Img(d, img.w, img.h, 32, pix=img.pix, clean=img.clean, kind="png")

    def set_len(lst):  # a text chunk whose length is over 2^31 - 1: built by hand below
        return lst
    big_len = qd[:33] + struct.pack(">I", 0x80000000) + b"tEXt" + b"a\0b" + b"\0\0\0\0" + qd[33:]
    add("png-chunk-length", "png", "a chunk after IHDR declares 2^31 bytes",
        one(Img(big_len, 32, 32, 32, pix=q.pix, clean=q.clean, kind="png")), [q], checks=["png-chunk"])
    add("png-chunk-type", "png", "a chunk type '1abc' (not letters) after IHDR",
        one(edit(q, lambda l: l[:1] + [["1abc", b"xyz", None]] + l[1:])), [q], checks=["png-chunk"])
    add("png-ihdr-12", "png", "IHDR of 12 bytes", one(edit(q, lambda l: [["IHDR", l[0][1][:12], None]] + l[1:])),
        [q], checks=["png-chunk"])
    add("png-ihdr-twice", "png", "a second IHDR after the first",
        one(edit(q, lambda l: l[:1] + [l[0][:]] + l[1:])), [q], checks=["png-chunk"])
    add("png-no-ihdr-first", "png", "a tEXt chunk before IHDR",
        one(edit(q, lambda l: [["tEXt", b"k\0v", None]] + l)), [q], checks=["png-no-ihdr"])
    add("png-no-ihdr", "png", "no IHDR at all", one(edit(q, lambda l: l[1:])), [q], checks=["png-no-ihdr"])
    qp = pngimg(32, 32, seed=61, ctype=3, depth=8)

    def crc_bad(name, which=0):
        def f(l):
            seen = 0
            for c in l:
                if c[0] == name:
                    if seen == which:
                        c[2] = 0x12345678
                    seen += 1
            return l
        return f
    for name, base, kw in (("IHDR", q, {}), ("IDAT", q, {}), ("IEND", q, {}), ("PLTE", qp,
                                                                                {"ctype": 3, "depth": 8})):
        add("png-crc-%s" % name.lower(), "png", "a wrong CRC on the %s chunk" % name,
            one(edit(base, crc_bad(name), **kw)), [base], checks=["png-crc"], faults=["CRC errors in critical chunks"])
    add("png-crc-text", "png", "a wrong CRC on a tEXt chunk",
        one(edit(q, lambda l: l[:1] + [["tEXt", b"Comment\0hello", 0x12345678]] + l[1:])), [q],
        checks=["png-crc"], faults=["CRC errors in ancillary chunks"])
    add("png-crc-gama", "png", "a wrong CRC on a gAMA chunk (gamma 1/2.2)",
        one(edit(q, lambda l: l[:1] + [["gAMA", struct.pack(">I", 45455), 0x12345678]] + l[1:])), [q],
        checks=["png-crc"], faults=["CRC errors in ancillary chunks"])
    add("png-crc-idat-split2", "png", "IDAT in two chunks, the second's CRC wrong",
        one(edit(q, crc_bad("IDAT", 1), split_idat=("IDAT", b""))), [q], checks=["png-crc"],
        faults=["CRC errors in critical chunks"])

    # ---------------------------------------------------------- PNG: sizes
    add("png-size-larger", "png", "entry says 16x16, PNG is 32x32", one(q, w=16, h=16), [q],
        checks=["png-size-mismatch"], faults=["PNG IHDR size differs from entry"])
    add("png-size-smaller", "png", "entry says 48x48, PNG is 32x32", one(q, w=48, h=48), [q],
        checks=["png-size-mismatch"], faults=["PNG IHDR size differs from entry"])
    add("png-size-says-0", "png", "entry says 0 (256), PNG is 32x32", one(q, w=0, h=0), [q],
        checks=["png-size-mismatch"], faults=["PNG IHDR size differs from entry", "entries saying 0"])
    add("png-size-width-only", "png", "entry says 32x16, PNG is 32x32", one(q, w=32, h=16), [q],
        checks=["png-size-mismatch"], faults=["PNG IHDR size differs from entry"])
    for n in (257, 300, 512):
        pb_ = pngimg(n, n, seed=62)
        add("png-%d" % n, "png", "a %dx%d PNG, entry says 0 (256)" % (n, n), one(pb_, w=0, h=0), [pb_],
            checks=["png-dimensions", "png-size-mismatch"], faults=["PNG images larger than 256"])
    pb_ = pngimg(300, 300, seed=62)
    add("png-300-with-16", "png", "a 16x16 bitmap and a 300x300 PNG (entry 0)",
        many([bmp(16, 16, 32, seed=63), pb_], [{}, {"w": 0, "h": 0}]), [bmp(16, 16, 32, seed=63), pb_],
        checks=["png-dimensions", "png-size-mismatch"], faults=["PNG images larger than 256"])

    # ---------------------------------------------------------- PNG: colour types
    kinds = [("pal8", 3, 8, {}), ("pal4", 3, 4, {}), ("pal2", 3, 2, {}), ("pal1", 3, 1, {}),
             ("grey8", 0, 8, {}), ("grey1", 0, 1, {}), ("grey4", 0, 4, {}), ("grey16", 0, 16, {}),
             ("greya8", 4, 8, {}), ("greya16", 4, 16, {}), ("rgb8", 2, 8, {}), ("rgb16", 2, 16, {}),
             ("rgba16", 6, 16, {})]
    for nm, ct, dp, kw in kinds:
        im_ = pngimg(32, 32, seed=70, ctype=ct, depth=dp, **kw)
        add("png-%s" % nm, "png-kind", "a 32x32 PNG of colour type %d at %d bits" % (ct, dp), one(im_), [im_],
            checks=["png-not-rgba"] if (ct, dp) != (6, 8) else [],
            faults=["palette/grey/RGB/16-bit PNG images"])
    # palette with tRNS: index 0 transparent (its colour black, so every reader agrees on 0,0,0,0 maybe)
    tp_pix = L.pattern(32, 32, 71, 16)
    pal_, idx_ = L.palette_of(tp_pix)
    pal_[0] = (0, 0, 0)
    tp_pix = [[pal_[i] + ((0,) if i == 0 else (255,)) for i in r] for r in idx_]
    trn = pngimg(32, 32, ctype=3, depth=8, pix=tp_pix, pal=pal_, index_rows=idx_, trns=b"\0")
    trn.clean = trn.data
    add("png-pal8-trns", "png-kind", "palette PNG with tRNS (index 0 transparent, black)", one(trn), [trn],
        checks=["png-not-rgba"], faults=["palette PNG images"])
    rgbt = pngimg(32, 32, seed=72, ctype=2, depth=8, trns=struct.pack(">HHH", 0, 0, 0))
    add("png-rgb8-trns", "png-kind", "RGB PNG with a tRNS colour key (black, unused)", one(rgbt), [rgbt],
        checks=["png-not-rgba"], faults=["RGB PNG images"])
    il = pngimg(32, 32, seed=73, interlace=1)
    add("png-interlaced", "png-kind", "an Adam7-interlaced 8-bit RGBA PNG", one(il), [il],
        faults=["interlaced PNG images"])
    ilp = pngimg(32, 32, seed=74, ctype=3, depth=8, interlace=1)
    add("png-interlaced-pal8", "png-kind", "an Adam7-interlaced palette PNG", one(ilp), [ilp],
        checks=["png-not-rgba"], faults=["interlaced PNG images"])
    ilb = pngimg(256, 256, seed=75, interlace=1)
    add("png-interlaced-256", "png-kind", "an Adam7-interlaced 256x256 RGBA PNG", one(ilb), [ilb],
        faults=["interlaced PNG images"])
    # a mixed icon: the common real-world shape with a palette PNG at 256
    mixed = [bmp(16, 16, 32, solid_rgb=SOLID[0]), bmp(32, 32, 32, solid_rgb=SOLID[1]),
             pngimg(256, 256, ctype=3, depth=8, solid_rgb=SOLID[2])]
    add("png-pal8-in-set", "png-kind", "16 and 32 bitmaps and a 256 palette PNG", many(mixed), mixed,
        checks=["png-not-rgba"], faults=["palette PNG images"])

    # ---------------------------------------------------------- PNG: structure
    add("png-ihdr-compression-1", "png-structure", "IHDR compression method 1",
        one(pngimg(32, 32, seed=80, ihdr_fields={"compression": 1})), [pngimg(32, 32, seed=80)],
        faults=["IHDR compression method not 0"])
    add("png-ihdr-filter-1", "png-structure", "IHDR filter method 1",
        one(pngimg(32, 32, seed=80, ihdr_fields={"filt": 1})), [pngimg(32, 32, seed=80)],
        faults=["IHDR filter method not 0"])
    add("png-interlace-2", "png-structure", "IHDR interlace method 2 (data not interlaced)",
        one(pngimg(32, 32, seed=80, ihdr_fields={"interlace": 2})), [pngimg(32, 32, seed=80)],
        faults=["interlace 2"])
    add("png-bad-depth", "png-structure", "IHDR bit depth 3 for RGBA (invalid combination)",
        one(pngimg(32, 32, seed=80, ihdr_data=L.ihdr(32, 32, 3, 6))), [pngimg(32, 32, seed=80)],
        faults=["IHDR invalid depth (extra)"])
    add("png-bad-colortype", "png-structure", "IHDR colour type 5 (undefined)",
        one(pngimg(32, 32, seed=80, ihdr_data=L.ihdr(32, 32, 8, 5))), [pngimg(32, 32, seed=80)],
        faults=["IHDR invalid colour type (extra)"])
    add("png-no-idat", "png-structure", "no IDAT chunk",
        one(edit(q, lambda l: [c for c in l if c[0] != "IDAT"])), [q], faults=["no IDAT"])
    add("png-unknown-critical", "png-structure", "an unknown critical chunk 'CrIt' before IDAT",
        one(edit(q, lambda l: l[:1] + [["CrIt", b"hello", None]] + l[1:])), [q],
        faults=["unknown critical chunk"])
    add("png-unknown-critical-after", "png-structure", "an unknown critical chunk 'CrIt' after IDAT",
        one(edit(q, lambda l: l[:-1] + [["CrIt", b"hello", None]] + l[-1:])), [q],
        faults=["unknown critical chunk"])
    add("png-unknown-ancillary", "png-structure", "an unknown ancillary chunk 'anCl' before IDAT",
        one(edit(q, lambda l: l[:1] + [["anCl", b"hello", None]] + l[1:])), [q],
        faults=["unknown ancillary chunk (extra)"])
    add("png-idat-split", "png-structure", "IDAT split by a tEXt chunk",
        one(pngimg(32, 32, seed=60, split_idat=("tEXt", b"k\0v"))), [q], faults=["IDAT split by another chunk"])
    add("png-idat-split-ok", "png-structure", "IDAT in two consecutive chunks (allowed)",
        one(pngimg(32, 32, seed=60, split_idat=("IDAT", b""))), [q], faults=["IDAT in several chunks"])
    add("png-plte-missing", "png-structure", "colour type 3 without PLTE",
        one(pngimg(32, 32, seed=61, ctype=3, depth=8, plte=False)), [qp], faults=["PLTE missing"])
    add("png-plte-in-grey", "png-structure", "grey PNG with a PLTE chunk",
        one(pngimg(32, 32, seed=70, ctype=0, depth=8, before_idat=[("PLTE", bytes(range(48)))])),
        [pngimg(32, 32, seed=70, ctype=0, depth=8)], faults=["PLTE in grey"])
    add("png-plte-in-rgba", "png-structure", "RGBA PNG with a PLTE chunk (allowed as a suggestion)",
        one(pngimg(32, 32, seed=60, before_idat=[("PLTE", bytes(range(48)))])), [q],
        faults=["PLTE in truecolour (extra)"])

    def plte_after(l):
        p = [c for c in l if c[0] == "PLTE"]
        rest = [c for c in l if c[0] != "PLTE"]
        return rest[:-1] + p + rest[-1:]
    add("png-plte-after-idat", "png-structure", "palette PNG whose PLTE follows IDAT",
        one(edit(qp, plte_after, ctype=3, depth=8)), [qp], faults=["PLTE after IDAT"])
    add("png-idat-garbage", "png-structure", "IDAT holds random bytes (not zlib)",
        one(pngimg(32, 32, seed=60, idat_data=bytes((i * 73 + 41) & 255 for i in range(400)))), [q],
        faults=["PNG data that does not inflate (garbage)"])
    raw = L.raw_scanlines(q.pix, 6, 8)
    add("png-idat-short", "png-structure", "IDAT holds a complete zlib stream of half the rows",
        one(pngimg(32, 32, seed=60, idat_data=zlib.compress(raw[:len(raw) // 2], 9))), [q],
        faults=["too little IDAT data"])
    add("png-idat-cut", "png-structure", "IDAT holds the first half of the zlib stream (no end)",
        one(pngimg(32, 32, seed=60, idat_data=zlib.compress(raw, 9)[:len(zlib.compress(raw, 9)) // 2])), [q],
        faults=["too little IDAT data"])
    add("png-idat-extra", "png-structure", "IDAT inflates to more rows than the image has",
        one(pngimg(32, 32, seed=60, idat_data=zlib.compress(raw + raw[:len(raw) // 4], 9))), [q],
        faults=["too much IDAT data (extra)"])
    add("png-idat-bad-filter", "png-structure", "a scanline with filter type 7",
        one(pngimg(32, 32, seed=60, idat_data=zlib.compress(b"\7" + raw[1:], 9))), [q],
        faults=["bad filter type (extra)"])
    add("png-idat-adler", "png-structure", "zlib stream with a wrong Adler-32",
        one(pngimg(32, 32, seed=60, idat_data=zlib.compress(raw, 9)[:-4] + b"\0\0\0\0")), [q],
        faults=["zlib checksum (extra)"])
    add("png-idat-empty", "png-structure", "one IDAT of 0 bytes",
        one(pngimg(32, 32, seed=60, idat_data=b"")), [q], faults=["too little IDAT data"])
    add("png-trailing-after-iend", "png-structure", "16 bytes after IEND inside dwBytesInRes",
        L.ico([q.entry(data=q.data + b"\0" * 16)]), [q], checks=["entry-bytes-in-res"],
        faults=["dwBytesInRes larger"])
    ap = edit(q, lambda l: l[:1] + [["acTL", struct.pack(">II", 1, 0), None],
                                    ["fcTL", struct.pack(">IIIIIHHBB", 0, 32, 32, 0, 0, 1, 10, 0, 0), None]]
              + l[1:])
    add("png-apng", "png-structure", "an APNG (acTL, fcTL) of one frame", one(ap), [q], faults=["APNG (extra)"])

    # ---------------------------------------------------------- PNG: colour management
    gama = ("gAMA", struct.pack(">I", 45455))
    chrm = ("cHRM", struct.pack(">8I", 31270, 32900, 64000, 33000, 30000, 60000, 15000, 6000))
    srgb = ("sRGB", b"\0")
    g1 = pngimg(32, 32, seed=90, before_idat=[gama, chrm])
    add("png-gama-chrm-single", "png-color", "a one-image icon whose PNG has gAMA and cHRM", one(g1), [g1],
        faults=["gAMA+cHRM in a one-image icon"])
    g2 = [bmp(16, 16, 32, seed=91), g1]
    add("png-gama-chrm-second", "png-color", "16x16 bitmap, then the gAMA+cHRM PNG (32x32)", many(g2), g2,
        faults=["gAMA+cHRM"])
    g3 = [g1, bmp(16, 16, 32, seed=91)]
    add("png-gama-chrm-first", "png-color", "the gAMA+cHRM PNG (32x32), then a 16x16 bitmap", many(g3), g3,
        faults=["gAMA+cHRM"])
    ga = pngimg(32, 32, seed=90, before_idat=[gama])
    add("png-gama-only", "png-color", "a one-image icon whose PNG has gAMA only", one(ga), [ga],
        faults=["gAMA+cHRM (which chunk)"])
    ch = pngimg(32, 32, seed=90, before_idat=[chrm])
    add("png-chrm-only", "png-color", "a one-image icon whose PNG has cHRM only", one(ch), [ch],
        faults=["gAMA+cHRM (which chunk)"])
    sr = pngimg(32, 32, seed=90, before_idat=[srgb, gama, chrm])
    add("png-srgb-gama-chrm", "png-color", "sRGB, gAMA and cHRM (as many encoders write)", one(sr), [sr],
        faults=["gAMA+cHRM (with sRGB)"])
    so = pngimg(32, 32, seed=90, before_idat=[srgb])
    add("png-srgb-only", "png-color", "a one-image icon whose PNG has sRGB only", one(so), [so],
        faults=["colour chunks (extra)"])
    g10 = pngimg(32, 32, seed=90, before_idat=[("gAMA", struct.pack(">I", 100000))])
    add("png-gama-1", "png-color", "gAMA 1.0 (linear)", one(g10), [g10], faults=["gAMA (extra)"])

    # ---------------------------------------------------------- bitmap headers
    hb = bmp(32, 32, 32, seed=100)
    add("bmp-core-8", "bmp-header", "12-byte BITMAPCOREHEADER, 8-bit (RGBTRIPLE palette)",
        one(bmp(32, 32, 8, seed=101, ncol=16, core=True)), [bmp(32, 32, 8, seed=101, ncol=16)],
        checks=["bitmap-header-size"], faults=["12-byte BITMAPCOREHEADER"])
    add("bmp-core-4", "bmp-header", "12-byte BITMAPCOREHEADER, 4-bit",
        one(bmp(32, 32, 4, seed=102, core=True)), [bmp(32, 32, 4, seed=102)],
        checks=["bitmap-header-size"], faults=["12-byte BITMAPCOREHEADER"])
    add("bmp-core-24", "bmp-header", "12-byte BITMAPCOREHEADER, 24-bit",
        one(bmp(32, 32, 24, seed=103, core=True)), [bmp(32, 32, 24, seed=103)],
        checks=["bitmap-header-size"], faults=["12-byte BITMAPCOREHEADER"])
    for hs in (108, 124):
        add("bmp-v%d-32" % (4 if hs == 108 else 5), "bmp-header", "%d-byte header, 32-bit" % hs,
            one(bmp(32, 32, 32, seed=100, header_size=hs)), [hb], checks=["bitmap-header-size"],
            faults=["108- and 124-byte headers"])
        add("bmp-v%d-4" % (4 if hs == 108 else 5), "bmp-header", "%d-byte header, 4-bit" % hs,
            one(bmp(32, 32, 4, seed=104, header_size=hs)), [bmp(32, 32, 4, seed=104)],
            checks=["bitmap-header-size"], faults=["108- and 124-byte headers"])
    add("bmp-hdr-64", "bmp-header", "64-byte (OS/2 2.x) header size, 32-bit",
        one(bmp(32, 32, 32, seed=100, header_size=64)), [hb], checks=["bitmap-header-size"],
        faults=["other header sizes (extra)"])
    add("bmp-hdr-56", "bmp-header", "56-byte header size, 32-bit",
        one(bmp(32, 32, 32, seed=100, header_size=56)), [hb], checks=["bitmap-header-size"],
        faults=["other header sizes (extra)"])
    # ---------------------------------------------------------- bitmap fields
    add("bmp-topdown", "bmp-fields", "biHeight -64 (top-down)",
        one(bmp(32, 32, 32, seed=100, height_field=-64)), [hb], checks=["bitmap-dimensions",
                                                                        "bitmap-size-mismatch"])
    add("bmp-negwidth", "bmp-fields", "biWidth -32",
        one(bmp(32, 32, 32, seed=100, width_field=-32)), [hb], checks=["bitmap-dimensions",
                                                                       "bitmap-size-mismatch"])
    add("bmp-height-not-doubled", "bmp-fields", "biHeight 32 for a 32x32 icon (mask rows present)",
        one(bmp(32, 32, 32, seed=100, height_field=32)), [hb], checks=["bitmap-height-not-doubled"])
    add("bmp-height-not-doubled-nomask", "bmp-fields", "biHeight 32 for a 32x32 icon, no AND mask",
        one(bmp(32, 32, 32, seed=100, height_field=32, mask=False)), [hb], checks=["bitmap-height-not-doubled"])
    add("bmp-size-entry-16", "bmp-fields", "entry says 16x16, bitmap is 32x32", one(hb, w=16, h=16), [hb],
        checks=["bitmap-size-mismatch"], faults=["entry size differs from bitmap"])
    add("bmp-size-entry-48", "bmp-fields", "entry says 48x48, bitmap is 32x32", one(hb, w=48, h=48), [hb],
        checks=["bitmap-size-mismatch"], faults=["entry size differs from bitmap"])
    add("bmp-planes-2", "bmp-fields", "biPlanes 2", one(bmp(32, 32, 32, seed=100, planes=2)), [hb],
        checks=["bitmap-planes"])
    add("bmp-planes-0", "bmp-fields", "biPlanes 0", one(bmp(32, 32, 32, seed=100, planes=0)), [hb],
        checks=["bitmap-planes"])
    add("bmp-clrused-17", "bmp-fields", "4-bit with biClrUsed 17 (16-entry table)",
        one(bmp(32, 32, 4, seed=105, clr_used=17)), [bmp(32, 32, 4, seed=105)], checks=["bitmap-palette"])
    add("bmp-clrused-300", "bmp-fields", "8-bit with biClrUsed 300 (256-entry table)",
        one(bmp(32, 32, 8, seed=106, ncol=16, clr_used=300)), [bmp(32, 32, 8, seed=106, ncol=16)],
        checks=["bitmap-palette"])
    add("bmp-clrused-16-8bit", "bmp-fields", "8-bit with biClrUsed 16 and a 16-entry table",
        one(bmp(32, 32, 8, seed=107, ncol=16, ncolours=16)), [bmp(32, 32, 8, seed=107, ncol=16)],
        faults=["short palettes"])
    add("bmp-sizeimage-1", "bmp-fields", "biSizeImage 1 (wrong; readers may ignore it)",
        one(bmp(32, 32, 32, seed=100, size_image=1)), [hb], faults=["biSizeImage (extra)"])
    # compression
    for cval, note in ((1, "BI_RLE8 on a 32-bit bitmap"), (2, "BI_RLE4 on a 32-bit bitmap"),
                       (4, "BI_JPEG"), (5, "BI_PNG"), (99, "99")):
        add("bmp-compression-%d" % cval, "bmp-compression", "biCompression %d (%s), data uncompressed" % (cval, note),
            one(bmp(32, 32, 32, seed=100, compression=cval)), [hb], checks=["bitmap-compression"],
            faults=["bad compression values"])
    add("bmp-bitfields-32", "bmp-compression", "32-bit BI_BITFIELDS with the standard masks after the header",
        one(bmp(32, 32, 32, seed=100, compression=3, bitfields=(0xFF0000, 0xFF00, 0xFF))), [hb],
        checks=["bitmap-compression"], faults=["bad compression values"])
    b565pix = L.pattern(32, 32, 108, 16)

    def e565(p):
        r, g, b = p[0] >> 3, p[1] >> 2, p[2] >> 3
        return ((r << 3) | (r >> 2), (g << 2) | (g >> 4), (b << 3) | (b >> 2), 255)
    rows565 = b"".join(reversed([L.pad4(b"".join(struct.pack("<H", ((p[0] >> 3) << 11) | ((p[1] >> 2) << 5) |
                                                             (p[2] >> 3)) for p in r)) for r in b565pix]))
    b565 = bmp(32, 32, 16, pix=b565pix, compression=3, bitfields=(0xF800, 0x7E0, 0x1F), colour_data=rows565)
    b565.pix = [[e565(p) for p in r] for r in b565pix]
    b565.alt = [[(round((p[0] >> 3) * 255 / 31), round((p[1] >> 2) * 255 / 63), round((p[2] >> 3) * 255 / 31), 255)
                 for p in r] for r in b565pix]
    b565.clean = b565.data
    add("bmp-bitfields-16-565", "bmp-compression", "16-bit BI_BITFIELDS 5-6-5", one(b565), [b565],
        checks=["bitmap-compression"], faults=["16-bit bitmaps", "bad compression values"])
    # real RLE8 data for an 8-bit image
    rl_pix = L.pattern(32, 32, 109, 16)
    rl_pal, rl_idx = L.palette_of(rl_pix)
    rle = bytearray()
    for r in reversed(rl_idx):
        x = 0
        while x < 32:
            n = 1
            while x + n < 32 and r[x + n] == r[x] and n < 255:
                n += 1
            rle += bytes((n, r[x]))
            x += n
        rle += b"\0\0"
    rle[-2:] = b"\0\1"
    rle8 = bmp(32, 32, 8, pix=rl_pix, compression=1, colour_data=bytes(rle))
    add("bmp-rle8-real", "bmp-compression", "8-bit with real BI_RLE8 data and an AND mask", one(rle8), [rle8],
        checks=["bitmap-compression"], faults=["bad compression values"])
    # bit counts
    for bc in (0, 2, 3, 64):
        add("bmp-bitcount-%d" % bc, "bmp-bitcount", "biBitCount %d (32-bit data)" % bc,
            one(bmp(32, 32, 32, seed=100, bit_count_field=bc)), [hb], checks=["bitmap-bit-count"],
            faults=["bad bit counts"])
    b2pix = L.pattern(32, 32, 110, 4)
    b2pal, b2idx = L.palette_of(b2pix)
    b2rows = b"".join(reversed([L.pad4(L.pack_bits(r, 2)) for r in b2idx]))
    b2 = bmp(32, 32, 4, pix=b2pix, bit_count_field=2, ncolours=4, colour_data=b2rows)
    add("bmp-bitcount-2-real", "bmp-bitcount", "a real 2-bit bitmap (4-entry palette)", one(b2, bits=2, colors=4),
        [b2], checks=["bitmap-bit-count"], faults=["bad bit counts"])
    b16 = bmp(32, 32, 16, seed=111)
    add("bmp-16bit", "bmp-bitcount", "16-bit (5-5-5) bitmap", one(b16), [b16], faults=["16-bit bitmaps"])
    b24 = bmp(32, 32, 24, seed=112)
    add("bmp-24bit", "bmp-bitcount", "24-bit bitmap", one(b24), [b24], faults=["24-bit bitmaps (extra)"])

    # ---------------------------------------------------------- masks and rows
    nm32 = bmp(32, 32, 32, seed=120, mask=False)
    add("nomask-32-single", "mask", "32-bit bitmap without its AND mask (dwBytesInRes matches)", one(nm32),
        [nm32], checks=["entry-bytes-in-res", "image-truncated"], faults=["32-bit bitmaps without their AND mask"])
    nm_set = [bmp(s, s, 32, seed=121 + s, mask=False) for s in (16, 32, 48)]
    add("nomask-32-set", "mask", "16, 32, 48 32-bit bitmaps, none with an AND mask", many(nm_set), nm_set,
        checks=["entry-bytes-in-res", "image-truncated"], faults=["32-bit bitmaps without their AND mask"])
    nm_alpha = bmp(32, 32, 32, seed=122, mask=False,
                   pix=[[(0, 0, 0, 0) if x < 8 else p for x, p in enumerate(r)] for r in L.pattern(32, 32, 122)])
    add("nomask-32-alpha", "mask", "32-bit without AND mask, 8 left columns alpha 0", one(nm_alpha), [nm_alpha],
        checks=["entry-bytes-in-res", "image-truncated"], faults=["32-bit bitmaps without their AND mask"])
    for bpp in (4, 8, 24):
        im_ = bmp(32, 32, bpp, seed=123, mask=False)
        add("nomask-%d" % bpp, "mask", "%d-bit bitmap that ends before its mask (dwBytesInRes matches)" % bpp,
            one(im_), [im_], checks=["entry-bytes-in-res", "image-truncated"],
            faults=["bitmaps that end before their mask"])
        add("nomask-%d-mid" % bpp, "mask",
            "%d-bit bitmap without mask, followed by another image (bytes after it exist)" % bpp,
            many([im_, bmp(16, 16, 32, seed=124)]), [im_, bmp(16, 16, 32, seed=124)],
            checks=["entry-bytes-in-res"], faults=["bitmaps that end before their mask"])
    az = bmp(32, 32, 32, seed=125, pix=[[(p[0], p[1], p[2], 0) for p in r] for r in L.pattern(32, 32, 125)],
             transparent=lambda x, y: x < 8)
    az.pix = [[(0, 0, 0, 0) if x < 8 else p[:3] + (255,) for x, p in enumerate(r)] for r in L.pattern(32, 32, 125)]
    add("alpha-all-zero", "mask", "32-bit bitmap whose alpha is 0 everywhere, AND mask hides 8 left columns",
        one(az), [az], faults=["32-bit all-zero alpha (extra)"])
    azb = bmp(32, 32, 32, seed=125, pix=[[(0, 0, 0, 0) if x < 8 else (p[0], p[1], p[2], 0) for x, p in enumerate(r)]
                                          for r in L.pattern(32, 32, 125)], transparent=lambda x, y: x < 8)
    azb.pix = [[(0, 0, 0, 0) if x < 8 else p[:3] + (255,) for x, p in enumerate(r)] for r in L.pattern(32, 32, 125)]
    add("alpha-all-zero-black", "mask", "32-bit bitmap whose alpha is 0 everywhere, AND mask hides 8 left "
        "columns, black under the mask", one(azb), [azb], faults=["32-bit all-zero alpha"])
    half = L.pattern(32, 32, 126)
    semi = bmp(32, 32, 32, pix=[[(p[0], p[1], p[2], 128) for p in r] for r in half])
    add("alpha-semi", "mask", "32-bit bitmap with alpha 128 everywhere", one(semi), [semi],
        faults=["semi-transparency (extra)"])
    fr = bmp(32, 32, 32, seed=127)
    few = fr.data[:40 + 32 * 4 * 16]  # half the colour rows, no mask
    add("rows-few-last", "mask", "32-bit bitmap with half its colour rows, dwBytesInRes honest, last in file",
        one(Img(few, 32, 32, 32, pix=fr.pix, clean=fr.clean)), [fr], checks=["entry-bytes-in-res", "image-truncated"],
        faults=["too few rows"])
    add("rows-few-mid", "mask", "the same, followed by a 16x16 image",
        many([Img(few, 32, 32, 32, pix=fr.pix, clean=fr.clean), bmp(16, 16, 32, seed=128)]),
        [fr, bmp(16, 16, 32, seed=128)], checks=["entry-bytes-in-res"], faults=["too few rows"])
    fr8 = bmp(32, 32, 8, seed=129, ncol=16)
    few8 = fr8.data[:40 + 1024 + 32 * 16]
    add("rows-few-8bit", "mask", "8-bit bitmap with half its colour rows, dwBytesInRes honest",
        one(Img(few8, 32, 32, 8, pix=fr8.pix, clean=fr8.clean)), [fr8],
        checks=["entry-bytes-in-res", "image-truncated"], faults=["too few rows"])


# Variants the table leaves out: large images, and repeats of a fault another
# case already shows to the same readers.
LEFT_OUT = set("""
bmp-512 entry-size-0-bmp256 pick-16-48-128 png-512 png-300 png-257 png-300-with-16 png-interlaced-256
ok-png-256 dup-largest hdr-reserved-ffff hdr-type-3 png-crc-plte png-crc-gama png-crc-idat-split2
png-grey1 png-grey4 png-pal2 png-greya16 png-rgba16 png-interlaced-pal8 png-ihdr-compression-1
png-ihdr-filter-1 png-bad-colortype png-unknown-critical-after png-plte-in-grey png-plte-in-rgba
png-plte-after-idat png-idat-extra png-idat-adler png-trailing-after-iend png-apng png-gama-chrm-first
png-chrm-only png-gama-1 png-srgb-only bmp-core-24 bmp-v4-4 bmp-v5-4 bmp-hdr-56 bmp-compression-2
bmp-compression-4 bmp-compression-99 bmp-bitcount-3 bmp-bitcount-64 colors-4bit-above colors-4bit-zero
colors-8bit-16-few colors-1bit-16 colors-1bit-0 colors-png-16 colors-8bit-clrused-16
colors-8bit-clrused-16-zero colors-pick-true colors-pick-32-lie bits-4bit-says-32 bits-32bit-says-24
bits-zero bits-png-says-0 bits-pick-true bits-pick-swapped-rev entry-planes-0 entry-reserved-255
cur-sizes tie-depth-4-8-32 tie-depth-32-8-4 layout-gap trunc-bmp4-rows trunc-png-iend nomask-24
nomask-24-mid png-idat-split-ok png-no-ihdr-first png-size-width-only png-size-says-0 bytes-large-png
place-overlap-nested dir-count-too-large hdr-count-0 png-ihdr-twice png-chunk-type
""".split())


def intended(i):
    """What a faithful reader shows for one image: digests of the intended RGBA
    and of the forms that differ only by a reader's rounding."""
    return dict(kind=i.kind, w=len(i.pix[0]), h=len(i.pix), digest=L.rgba_digest(i.pix),
                rgba=packed(i.pix), alt=packed(i.alt) if i.alt else None,
                colour_chunks=i.kind == "png" and any(t in i.data for t in (b"gAMA", b"cHRM", b"iCCP")))


def packed(pix):
    """RGBA rows as base64 of their deflated bytes."""
    return base64.b64encode(zlib.compress(b"".join(bytes(c for p in r for c in p) for r in pix), 9)).decode()


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_cases.py OUTDIR")
    out = sys.argv[1]
    os.makedirs(out, exist_ok=True)
    build()
    manifest = []
    names = set()
    for c in CASES:
        if c["name"] in LEFT_OUT:
            continue
        assert c["name"] not in names, c["name"]
        names.add(c["name"])
        fn = c["name"] + "." + c["ext"]
        with open(os.path.join(out, fn), "wb") as f:
            f.write(c["data"])
        manifest.append(dict(name=c["name"], file=fn, desc=c["desc"], lint_args=c["lint_args"],
                             intended=[None if i is None else intended(i) for i in c["images"]],
                             intended_file=packed(c["pix"]) if c["pix"] else None))
    with open(os.path.join(out, "manifest.json"), "w") as f:
        json.dump(manifest, f, indent=1)
    print("%d cases" % len(manifest))


if __name__ == "__main__":
    main()
