#!/usr/bin/env python3
"""Benchmark of icon-bundler and icon-inspector.

Generates a deterministic corpus of icon files in a temporary folder:

  large/  120 icon files of about 0.4 MB: 256, 128 and 64 pixel 32-bit
          bitmaps and a 128 pixel PNG image each;
  small/  4,000 icon files: 16, 32 and 48 pixel bitmaps whose depths rotate
          through 4, 8 and 32 bits, and a 16 pixel PNG image each.

It then checks that the programs still produce exactly the bytes recorded
below (output file, standard output, standard error, exit status), and times,
alternating, with several repetitions, the median of each of:

  icon-bundler over large/  against  cat large/* > file
  icon-bundler over small/  against  cat small/* > file
  icon-inspector over small/ against icotool -l small/*

Program output goes to /dev/null while timed. The bundler's peak resident
memory (/usr/bin/time -f %M) is compared with the largest image plus 4 MiB.

Usage: run_bench.py --bundler PATH --inspector PATH [--reps N] [--keep]
Exit status 1 when an output differs from the recorded one, else 0.
"""

import argparse
import hashlib
import os
import platform
import resource
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import zlib

LARGE_FILES = 120
SMALL_FILES = 4000

# SHA-256 of (exit status, stdout, stderr, output file) of each checked run,
# recorded from the programs before any change made for speed.
RECORDED = {
    "bundler large": "8c8d1d7c0794339605065ad7611fa787695b968f6a23686f4081933acb718f95",
    "bundler small": "95a72685b303ec9b55e1915d852cef8f97d1e6d5406004ebc537a97f0737afa5",
    "inspector small": "7191c01ff0eaf868d4838ff0ecfdfd9ad7483143f89e0f24093b298649efdc20",
}

TARGETS = {
    "bundler large": 1.3,
    "bundler small": 2.0,
    "inspector small": 0.5,
}

# ---------------------------------------------------------------- corpus


def make_pool(size):
    """Pseudo-random bytes from SHA-256 in counter mode: the same on every
    machine and Python version."""
    blocks = []
    for i in range((size + 31) // 32):
        blocks.append(hashlib.sha256(b"icon-bench" + i.to_bytes(4, "little")).digest())
    return b"".join(blocks)[:size]


POOL = make_pool(1 << 20)


def pool_bytes(n, seed):
    """n bytes of the pool, starting at a place chosen by seed."""
    start = (seed * 7919) % (len(POOL) - n)
    return POOL[start:start + n]


def row_bytes(bits):
    return ((bits + 31) // 32) * 4


def bitmap_image(size, bit_count, seed):
    """A bitmap image: header, colour table for 8 bits or fewer, colour rows
    and 1-bit mask rows; exactly the size its header implies."""
    colours = 4 << bit_count if bit_count <= 8 else 0
    pixels = row_bytes(size * bit_count) * size
    mask = row_bytes(size) * size
    header = struct.pack("<iiiHHiiiiii", 40, size, 2 * size, 1, bit_count, 0,
                         pixels + mask, 0, 0, 0, 0)
    body = pool_bytes(colours + pixels, seed) + bytes(mask)
    return header + body


def png_chunk(kind, data):
    crc = zlib.crc32(kind + data) & 0xFFFFFFFF
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", crc)


def stored_zlib(data):
    """A zlib stream of stored (uncompressed) deflate blocks, so that the
    bytes depend on no zlib version."""
    out = bytearray(b"\x78\x01")
    pos = 0
    while True:
        block = data[pos:pos + 65535]
        pos += len(block)
        final = 1 if pos >= len(data) else 0
        out += struct.pack("<BHH", final, len(block), len(block) ^ 0xFFFF)
        out += block
        if final:
            break
    out += struct.pack(">I", zlib.adler32(data) & 0xFFFFFFFF)
    return bytes(out)


def png_image(size, seed):
    """A complete RGBA PNG stream of size x size pixels."""
    row = 1 + 4 * size
    raw = bytearray(pool_bytes(row * size, seed))
    for y in range(size):
        raw[y * row] = 0  # filter type: none
    ihdr = struct.pack(">IIBBBBB", size, size, 8, 6, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", ihdr) +
            png_chunk(b"IDAT", stored_zlib(bytes(raw))) + png_chunk(b"IEND", b""))


def icon_file(images):
    """images: list of (width, bit_count, bytes). The directory, then the
    images back to back."""
    out = bytearray(struct.pack("<HHH", 0, 1, len(images)))
    offset = 6 + 16 * len(images)
    for width, bit_count, data in images:
        dim = width if width < 256 else 0
        colours = 1 << bit_count if bit_count < 8 else 0
        out += struct.pack("<BBBBHHii", dim, dim, colours, 0, 1, bit_count, len(data), offset)
        offset += len(data)
    for _, _, data in images:
        out += data
    return bytes(out)


def make_corpus(root):
    """Writes the corpus; answers (large paths, small paths, largest image),
    the paths relative to root."""
    largest = 0
    large, small = [], []
    os.makedirs(os.path.join(root, "large"))
    os.makedirs(os.path.join(root, "small"))
    for k in range(LARGE_FILES):
        images = [(s, 32, bitmap_image(s, 32, 3 * k + j)) for j, s in enumerate((256, 128, 64))]
        images.append((128, 32, png_image(128, k + 17)))
        largest = max([largest] + [len(d) for _, _, d in images])
        path = os.path.join("large", "%03d.ico" % k)
        with open(os.path.join(root, path), "wb") as f:
            f.write(icon_file(images))
        large.append(path)
    depths = (4, 8, 32)
    for k in range(SMALL_FILES):
        images = []
        for j, s in enumerate((16, 32, 48)):
            bit_count = depths[(k + j) % 3]
            images.append((s, bit_count, bitmap_image(s, bit_count, 5 * k + j)))
        images.append((16, 32, png_image(16, k)))
        largest = max([largest] + [len(d) for _, _, d in images])
        path = os.path.join("small", "%04d.ico" % k)
        with open(os.path.join(root, path), "wb") as f:
            f.write(icon_file(images))
        small.append(path)
    return large, small, largest


# ---------------------------------------------------------------- runs


def checksum(cmd, root, output=None):
    """Runs cmd in root with its output captured; answers the SHA-256 of its
    exit status, stdout, stderr and the output file (if any)."""
    done = subprocess.run(cmd, cwd=root, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    h = hashlib.sha256()
    for part in (str(done.returncode).encode(), done.stdout, done.stderr):
        h.update(len(part).to_bytes(8, "little"))
        h.update(part)
    if output is not None:
        with open(os.path.join(root, output), "rb") as f:
            data = f.read()
        h.update(len(data).to_bytes(8, "little"))
        h.update(data)
    return h.hexdigest()


def timed(cmd, root, output, stdout_path=None):
    """(wall, CPU) seconds of one run with its console output to /dev/null,
    or its standard output to stdout_path. The output file is removed first,
    so that no run pays for emptying the previous one; a redirected standard
    output is opened inside the timed span, as a shell would."""
    try:
        os.remove(os.path.join(root, output))
    except FileNotFoundError:
        pass
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    out = open(os.path.join(root, stdout_path), "wb") if stdout_path else subprocess.DEVNULL
    try:
        subprocess.run(cmd, cwd=root, stdout=out, stderr=subprocess.DEVNULL, check=False)
    finally:
        if stdout_path:
            out.close()
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def peak_rss_kib(cmd, root):
    """Peak resident memory of one run in KiB, as /usr/bin/time reports it."""
    report = os.path.join(root, "rss.txt")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd, cwd=root,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    with open(report) as f:
        return int(f.read().split()[-1])


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            model = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    load = " ".join("%.2f" % x for x in os.getloadavg())
    return "%s, %d cores, Linux %s, load %s" % (model, os.cpu_count() or 0, platform.release(), load)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bundler", required=True)
    parser.add_argument("--inspector", required=True)
    parser.add_argument("--reps", type=int, default=9, help="timed repetitions (default 9)")
    parser.add_argument("--keep", action="store_true", help="keep the corpus folder")
    args = parser.parse_args()
    bundler = os.path.abspath(args.bundler)
    inspector = os.path.abspath(args.inspector)
    icotool = shutil.which("icotool")
    if not icotool:
        sys.exit("icotool is missing (Debian package: icoutils)")
    if not os.access("/usr/bin/time", os.X_OK):
        sys.exit("/usr/bin/time is missing (Debian package: time)")
    print("machine:", machine())

    root = tempfile.mkdtemp(prefix="icon-bench-")
    try:
        large, small, largest = make_corpus(root)
        mib = 1 << 20
        size_large = sum(os.path.getsize(os.path.join(root, p)) for p in large)
        size_small = sum(os.path.getsize(os.path.join(root, p)) for p in small)
        print("corpus: %d large files, %.1f MB; %d small files, %.1f MB; largest image %d bytes"
              % (len(large), size_large / mib, len(small), size_small / mib, largest))

        cases = {
            "bundler large": ([bundler, "-o", "out.ico"] + large, ["cat"] + large, "cat"),
            "bundler small": ([bundler, "-o", "out.ico"] + small, ["cat"] + small, "cat"),
            "inspector small": ([inspector] + small, [icotool, "-l"] + small, "icotool -l"),
        }

        # Every byte the programs write must be what it was.
        same = True
        for name, (cmd, _, _) in cases.items():
            got = checksum(cmd, root, "out.ico" if name.startswith("bundler") else None)
            want = RECORDED[name]
            ok = got == want
            same = same and ok
            print("output %-16s %s  %s" % (name, got[:16], "same" if ok else "DIFFERENT (recorded %s)"
                                           % (want[:16] or "nothing")))

        # times[name][0] for the program, [1] for its baseline; the order of
        # the two flips at every repetition.
        times = {name: ([], []) for name in cases}
        for rep in range(args.reps):
            for name, (cmd, base, _) in cases.items():
                runs = [(0, cmd, "out.ico", None),
                        (1, base, "cat.out", "cat.out" if base[0] == "cat" else None)]
                if rep % 2:
                    runs.reverse()
                for side, argv, output, stdout_path in runs:
                    times[name][side].append(timed(argv, root, output, stdout_path))

        print("\nmedian of %d alternating runs; wall time decides, CPU time (user + system)"
              " for reference:" % args.reps)
        met = True
        for name, (_, _, base_name) in cases.items():
            wall = [statistics.median(t[0] for t in times[name][side]) for side in (0, 1)]
            cpu = [statistics.median(t[1] for t in times[name][side]) for side in (0, 1)]
            ratio = wall[0] / wall[1]
            ok = ratio <= TARGETS[name]
            met = met and ok
            print("  %-16s %7.1f ms  %-10s %7.1f ms  ratio %.2f (target <= %.1f) %-7s"
                  "  CPU %.1f / %.1f ms = %.2f"
                  % (name, wall[0] * 1e3, base_name, wall[1] * 1e3, ratio, TARGETS[name],
                     "met" if ok else "NOT MET", cpu[0] * 1e3, cpu[1] * 1e3, cpu[0] / cpu[1]))

        rss = max(peak_rss_kib(cases[name][0], root) for name in ("bundler large", "bundler small")
                  for _ in range(3))
        limit = (largest + 4 * mib) / 1024
        ok = rss <= limit
        met = met and ok
        print("  bundler peak RSS %d KiB (largest image %d B + 4 MiB = %.0f KiB) %s"
              % (rss, largest, limit, "met" if ok else "NOT MET"))
        print("\noutputs %s; targets %s" % ("unchanged" if same else "CHANGED",
                                             "all met" if met else "NOT all met"))
        return 0 if same else 1
    finally:
        if args.keep:
            print("corpus kept in", root)
        else:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
