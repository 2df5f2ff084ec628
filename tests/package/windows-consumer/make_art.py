#!/usr/bin/env python3
"""Writes art/logo-512.png, the master image an application's icon sizes are
made from: an 8-bit RGBA PNG file of 512 x 512 pixels, a disc shaded from
corner to corner. Standard library only, and the same bytes every time."""

import os
import struct
import zlib

ART = os.path.join(os.path.dirname(os.path.abspath(__file__)), "art")


def chunk(kind, data):
    return (struct.pack(">I", len(data)) + kind + data
            + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF))


def disc(size):
    c = (size - 1) / 2
    raw = bytearray()
    for y in range(size):
        row = bytearray()
        for x in range(size):
            if (x - c) ** 2 + (y - c) ** 2 <= c * c:
                row += bytes((40, x * 255 // (size - 1), y * 255 // (size - 1), 255))
            else:
                row += bytes(4)
        # Filter type Sub: each byte less the one a pixel before it, which
        # keeps the large image small.
        raw.append(1)
        raw += bytes((row[i] - (row[i - 4] if i >= 4 else 0)) & 0xFF for i in range(len(row)))
    return (b"\x89PNG\r\n\x1a\n"
            + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(bytes(raw), 9))
            + chunk(b"IEND", b""))


def main():
    os.makedirs(ART, exist_ok=True)
    with open(os.path.join(ART, "logo-512.png"), "wb") as f:
        f.write(disc(512))


if __name__ == "__main__":
    main()
