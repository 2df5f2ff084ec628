#!/usr/bin/env python3
"""Benchmark of icon-bundler, icon-inspector, icon-lint and icon-pack.

Generates a deterministic corpus of icon files in a temporary folder:

  large/  120 icon files of about 0.4 MB: 256, 128 and 64 pixel 32-bit
          bitmaps and a 128 pixel PNG image each;
  small/  4,000 icon files: 16, 32 and 48 pixel bitmaps whose depths rotate
          through 4, 8 and 32 bits, and a 16 pixel PNG image each;
  pngs/   256 RGBA PNG files, one of each size from 1 to 256 pixels, about
          22 MB (with --pack).

It then checks that the programs still produce exactly the bytes recorded
below (output file, standard output, standard error, exit status), and times,
alternating, with several repetitions, the median of each of:

  icon-bundler over large/  against  cat large/* > file
  icon-bundler over small/  against  cat small/* > file
  icon-inspector over small/ against icotool -l small/* > file
  icon-pack over pngs/      against  cat pngs/* > file (with --pack)

Every timed run writes its standard output, and the bundler its icon file,
to real files; the previous ones are removed before the timer starts, as a
shell removes nothing inside `time cat ... > file` either.

The floor: where strace and a C++ compiler are found, each program's file
system calls are recorded once and replayed by floor.cpp, which makes the
same calls and nothing else; its ratio is what any program that makes these
calls through this C library and kernel can reach.

The peers: where installed, ImageMagick's convert and icotool (-x, then -c)
merge the same icon files: the 120 large files, and the first 250 small ones
(1,000 images: ImageMagick 6 aborts past about 1,024). They are timed against
cat and icon-bundler on the same files.

The bundler's and icon-pack's peak resident memory (/usr/bin/time -f %M) is
compared with the largest image plus 4 MiB.

With --pack, icon-pack's time is also given against `cat` followed by
`sync` of the file it wrote: icon-pack writes its output out to the disk
before the rename (fsync), which `cat` alone never pays. And icon-pack
makes 16, 20, 24, 32, 40, 48, 64 and 256 from a 1024 px master PNG, timed
side by side with the peers doing the same job, process start included:
ImageMagick (convert -define icon:auto-resize), Pillow (Image.save with
sizes), and with --npm-peers, the npm packers sharp (through sharp-ico),
png-to-ico (its fixed 256, 48, 32, 16) and to-ico (bench/peers.mjs); its
peak memory must stay within the master's RGBA plus 8 MiB.

With --lint, icon-lint is timed over small/ against icon-inspector over the
same files in the same run (target: 1.5 times), its findings over both
corpora are counted by check, and its peak resident memory on a file with a
200 MB PNG image is compared with a plain run on one small file plus 4 MiB.

With --lint or --pack, each program runs once on three hostile files: 65,535
entries 16 bytes apart, each a PNG signature whose chunk runs over the
images after it to the end of a 3 MB file; 65,535 entries on one 1 MB PNG
image; and 65,535 entries on one small image, each wrong in every field
(about 590,000 findings). Each must finish within a second (the last is not
timed) and 10 MiB of peak resident memory.

Usage: run_bench.py --bundler PATH --inspector PATH [--lint PATH] [--pack PATH] [--reps N]
                    [--peer-reps N] [--no-floor] [--no-peers] [--npm-peers DIR] [--keep]
Exit status 1 when an output differs from the recorded one, else 0.
"""

import argparse
import ast
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
PNG_FILES = 256
# ImageMagick 6 aborts when it merges more than about 1,024 images.
PEER_SMALL_FILES = 250

# SHA-256 of (exit status, stdout, stderr, output file) of each checked run,
# recorded from the programs before any change made for speed.
RECORDED = {
    "bundler large": "8c8d1d7c0794339605065ad7611fa787695b968f6a23686f4081933acb718f95",
    "bundler small": "95a72685b303ec9b55e1915d852cef8f97d1e6d5406004ebc537a97f0737afa5",
    "inspector small": "7191c01ff0eaf868d4838ff0ecfdfd9ad7483143f89e0f24093b298649efdc20",
    "pack pngs": "8502f6ec99acd7b8b7564098880e0ca95277f5dd193a341ac1d91f910d34797c",
    "make master": "9cf1a5f1cac17729f9fecd34e5b59f479220e8085f4389bffbf59fad7b06f964",
}

TARGETS = {
    "bundler large": 1.25,
    "bundler small": 2.1,
    "inspector small": 0.75,
    "pack pngs": 1.5,
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


def make_pngs(root):
    """Writes pngs/: one RGBA PNG file of each size from 1 to PNG_FILES
    pixels, in a shuffled order of names so that icon-pack must sort them;
    answers their paths relative to root and the largest file's size."""
    os.makedirs(os.path.join(root, "pngs"))
    paths = []
    largest = 0
    for k in range(PNG_FILES):
        size = (k * 97) % PNG_FILES + 1
        data = png_image(size, k + 29)
        largest = max(largest, len(data))
        path = os.path.join("pngs", "%03d.png" % k)
        with open(os.path.join(root, path), "wb") as f:
            f.write(data)
        paths.append(path)
    return paths, largest


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


STDOUT_FILE = "stdout.txt"


class Run:
    """One timed unit: commands run one after another in root, their
    standard output written to STDOUT_FILE. A command is an argument list,
    or a function of root that answers one when its turn comes. `outputs`
    are the files they create, removed before each run; `folders` are made
    empty before it."""

    def __init__(self, cmds, outputs=(), folders=()):
        self.cmds = cmds
        self.outputs = list(outputs)
        self.folders = list(folders)


def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    else:
        try:
            os.remove(path)
        except FileNotFoundError:
            pass


def timed(run, root):
    """(wall, CPU) seconds of one run. Its previous outputs and standard
    output file are removed before the timer starts; the standard output
    file is opened inside the timed span, as a shell would."""
    for path in run.outputs + run.folders + [STDOUT_FILE]:
        remove(os.path.join(root, path))
    for path in run.folders:
        os.makedirs(os.path.join(root, path))
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.perf_counter()
    # Not for appending: cat copies in the kernel (copy_file_range) only to
    # a file open without O_APPEND, as a shell's "> file" opens it.
    with open(os.path.join(root, STDOUT_FILE), "wb") as out:
        for cmd in run.cmds:
            argv = cmd(root) if callable(cmd) else cmd
            subprocess.run(argv, cwd=root, stdout=out, stderr=subprocess.DEVNULL, check=False)
    wall = time.perf_counter() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def alternate(runs, root, reps):
    """Times each of the named runs reps times, the order reversed at every
    repetition; answers {name: (median wall, median CPU)}."""
    names = list(runs)
    times = {name: [] for name in names}
    for rep in range(reps):
        for name in (names if rep % 2 == 0 else reversed(names)):
            times[name].append(timed(runs[name], root))
    return {name: (statistics.median(t[0] for t in times[name]),
                   statistics.median(t[1] for t in times[name])) for name in names}


def peak_rss_kib(cmd, root):
    """Peak resident memory of one run in KiB, as /usr/bin/time reports it."""
    report = os.path.join(root, "rss.txt")
    subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report] + cmd, cwd=root,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)
    with open(report) as f:
        return int(f.read().split()[-1])


# ---------------------------------------------------------------- floor

FLOOR_OPS = {"open": 1, "read": 2, "write": 3, "seek": 4, "close": 5, "fstat": 6, "tty": 7,
             "getfd": 8}
TRACED = "openat,read,write,lseek,close,newfstatat,fstat,ioctl,fcntl"
LOADER = ("/etc/ld.so", "/lib", "/usr/lib")


def open_flags(text):
    flags = 0
    for name in text.split("|"):
        value = getattr(os, name, None)
        if value is None:
            raise ValueError("unknown open flag " + name)
        flags |= value
    return flags


def parse_trace(lines):
    """The file system calls of an strace record as (op, fd, a, b, path)
    tuples, without those of the dynamic loader."""
    calls = []
    loader_fds = set()
    for line in lines:
        line = line.rstrip("\n")
        if " = " not in line or "(" not in line:
            continue
        left, right = line.rsplit(" = ", 1)
        name, args = left.rstrip().split("(", 1)
        args = args[:-1]
        result = int(right.split()[0]) if right.split()[0].lstrip("-").isdigit() else -1
        if name == "openat":
            where, rest = args.split(", ", 1)
            quoted, rest = rest[1:].split('", ', 1) if '", ' in rest else (rest[1:-1], "O_RDONLY")
            path = ast.literal_eval('"' + quoted + '"')
            if where != "AT_FDCWD":
                raise ValueError("openat relative to a descriptor")
            if path.startswith(LOADER):
                loader_fds.add(result)
                continue
            calls.append(("open", result, 0, open_flags(rest.split(", ")[0]), path))
            continue
        fd_text = args.split(",", 1)[0]
        if not fd_text.isdigit():
            continue  # a path relative to the working folder: not a file the programs use
        fd = int(fd_text)
        if fd in loader_fds:
            if name == "close":
                loader_fds.discard(fd)
            continue
        if name in ("read", "write"):
            calls.append((name, fd, int(args.rsplit(", ", 1)[1]), 0, None))
        elif name == "lseek":
            _, offset, whence = args.split(", ")
            calls.append(("seek", fd, int(offset), getattr(os, whence), None))
        elif name == "close":
            calls.append(("close", fd, 0, 0, None))
        elif name in ("newfstatat", "fstat"):
            calls.append(("fstat", fd, 0, 0, None))
        elif name == "ioctl" and "TCGETS" in args:
            calls.append(("tty", fd, 0, 0, None))
        elif name == "fcntl" and "F_GETFD" in args:
            calls.append(("getfd", fd, 0, 0, None))
        else:
            raise ValueError("untraced call " + name)
    return calls


def write_record(calls, path):
    strings = bytearray()
    records = bytearray()
    offsets = {}
    for op, fd, a, b, name in calls:
        if name is not None:
            if name not in offsets:
                offsets[name] = len(strings)
                strings += os.fsencode(name) + b"\0"
            a = offsets[name]
        records += struct.pack("<iiii", FLOOR_OPS[op], fd, a, b)
    with open(path, "wb") as f:
        f.write(b"FLR1" + struct.pack("<ii", len(calls), len(strings)) + records + strings)


def build_floor(root):
    """Compiles floor.cpp; answers its path, or the reason there is none."""
    strace = shutil.which("strace")
    cxx = os.environ.get("CXX") or shutil.which("c++") or shutil.which("g++")
    if sys.platform != "linux" or not strace or not cxx:
        return None, "needs Linux, strace and a C++ compiler"
    source = os.path.join(os.path.dirname(os.path.abspath(__file__)), "floor.cpp")
    binary = os.path.join(root, "floor")
    # Linked as the programs are: the C++ runtime inside, the C library shared.
    done = subprocess.run([cxx, "-std=c++20", "-O2", "-static-libstdc++", "-static-libgcc", "-o", binary, source],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode != 0:
        return None, "floor.cpp did not compile: " + done.stderr.decode(errors="replace")[:200]
    return binary, None


def floor_run(floor, run, root, tag):
    """A Run that replays the file system calls of `run`, recorded once with
    strace (standard output to a real file, as when timed)."""
    trace = os.path.join(root, tag + ".trace")
    for path in run.outputs + [STDOUT_FILE]:
        remove(os.path.join(root, path))
    with open(os.path.join(root, STDOUT_FILE), "wb") as out:
        subprocess.run(["strace", "-qq", "-o", trace, "-e", "trace=" + TRACED] + run.cmds[0],
                       cwd=root, stdout=out, stderr=subprocess.DEVNULL, check=False)
    with open(trace, errors="surrogateescape") as f:
        calls = parse_trace(f)
    record = os.path.join(root, tag + ".floor")
    write_record(calls, record)
    return Run([[floor, record]], run.outputs), len(calls)


# ---------------------------------------------------------------- peers


def find_imagemagick():
    """ImageMagick's merging command: Debian's IM6 binary, IM7's magick, or
    convert."""
    for name in ("convert-im6.q16", "convert-im6", "magick", "convert"):
        tool = shutil.which(name)
        if tool:
            return tool
    return None


def peer_runs(bundler, icotool, files):
    runs = {
        "cat": Run([["cat"] + files]),
        "icon-bundler": Run([[bundler, "-o", "out.ico"] + files], ["out.ico"]),
    }
    convert = find_imagemagick()
    if convert:
        runs["ImageMagick"] = Run([[convert] + files + ["im.ico"]], ["im.ico"])
    # The images that -x extracts are found inside the timed span.
    runs["icotool -x, -c"] = Run([[icotool, "-x", "-o", "x"] + files,
                                  lambda root: [icotool, "-c", "-o", "ico.ico"] +
                                  [os.path.join("x", n) for n in sorted(os.listdir(os.path.join(root, "x")))]],
                                 ["ico.ico"], ["x"])
    return runs


# ---------------------------------------------------------------- report


LINT_TARGET = 1.5
HUGE_IMAGE = 200 * 1000 * 1000


def write_huge_icon(path):
    """An icon file of one 16 x 16 PNG entry whose IDAT holds HUGE_IMAGE
    bytes, written and checksummed in pieces."""
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 6, 0, 0, 0))
    iend = png_chunk(b"IEND", b"")
    size = 8 + len(ihdr) + 12 + HUGE_IMAGE + len(iend)
    piece = pool_bytes(1 << 19, 7)
    with open(path, "wb") as f:
        f.write(struct.pack("<HHHBBBBHHii", 0, 1, 1, 16, 16, 0, 0, 1, 32, size, 22))
        f.write(b"\x89PNG\r\n\x1a\n" + ihdr + struct.pack(">I", HUGE_IMAGE) + b"IDAT")
        crc = zlib.crc32(b"IDAT")
        left = HUGE_IMAGE
        while left:
            chunk = piece[:min(left, len(piece))]
            f.write(chunk)
            crc = zlib.crc32(chunk, crc)
            left -= len(chunk)
        f.write(struct.pack(">I", crc & 0xFFFFFFFF) + iend)


def lint_rows(lint, inspector, root, large, small, reps):
    """icon-lint against icon-inspector, its findings on the corpora and its
    peak memory on a huge image; answers whether the targets are met."""
    met = True
    for label, files in (("large", large), ("small", small)):
        done = subprocess.run([lint] + files, cwd=root, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        checks = {}
        for line in done.stdout.decode().splitlines():
            check = line.rsplit("[", 1)[-1].rstrip("]")
            checks[check] = checks.get(check, 0) + 1
        print("lint   %-16s exit %d, findings: %s" % (label, done.returncode, ", ".join(
            "%s %d" % item for item in sorted(checks.items())) or "none"))
    t = alternate({"lint": Run([[lint] + small]), "inspector": Run([[inspector] + small])}, root, reps)
    ratio = t["lint"][0] / t["inspector"][0]
    ok = ratio <= LINT_TARGET
    met = met and ok
    print("  %-16s %7.1f ms  %-10s %7.1f ms  ratio %.2f (target <= %.2f) %s"
          % ("lint small", t["lint"][0] * 1e3, "inspector", t["inspector"][0] * 1e3, ratio, LINT_TARGET,
             "met" if ok else "NOT MET"))
    huge = os.path.join(root, "huge.ico")
    write_huge_icon(huge)
    try:
        plain = min(peak_rss_kib([lint, small[0]], root) for _ in range(3))
        rss = max(peak_rss_kib([lint, huge], root) for _ in range(3))
    finally:
        remove(huge)
    ok = rss <= plain + 4096
    met = met and ok
    print("  lint peak RSS %d KiB on a %d MB image (plain run %d KiB + 4 MiB) %s"
          % (rss, HUGE_IMAGE // 1000000, plain, "met" if ok else "NOT MET"))
    return met


HOSTILE_ENTRIES = 65535
HOSTILE_SIZE = 3 << 20
HOSTILE_SECONDS = 1.0
HOSTILE_KIB = 10 * 1024


def hostile_entry(width, colours, planes, bits, size, offset, reserved=0):
    return struct.pack("<BBBBHHII", width, width, colours, reserved, planes, bits, size, offset)


def write_overlapping_icon(path):
    """3 MB: 65,535 entries whose images lie 16 bytes apart behind the
    directory, each a PNG signature and the header of a chunk whose data runs
    to the CRC in the file's last 4 bytes, over all the images after it."""
    first = 6 + 16 * HOSTILE_ENTRIES
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, HOSTILE_ENTRIES))
        for i in range(HOSTILE_ENTRIES):
            at = first + 16 * i
            f.write(hostile_entry(16, 0, 1, 32, HOSTILE_SIZE - at, at))
        for i in range(HOSTILE_ENTRIES):
            at = first + 16 * i
            f.write(b"\x89PNG\r\n\x1a\n" + struct.pack(">I", HOSTILE_SIZE - (at + 16) - 4) + b"IDAT")
        f.write(bytes(HOSTILE_SIZE - (first + 16 * HOSTILE_ENTRIES)))


def write_shared_icon(path):
    """65,535 entries that all name one 16 x 16 PNG image of 1 MB, whose
    IDAT holds pool bytes under a correct CRC."""
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 6, 0, 0, 0))
    png = b"\x89PNG\r\n\x1a\n" + ihdr + png_chunk(b"IDAT", pool_bytes(1000 * 1000, 13)) + png_chunk(b"IEND", b"")
    at = 6 + 16 * HOSTILE_ENTRIES
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, HOSTILE_ENTRIES))
        f.write(hostile_entry(16, 0, 1, 32, len(png), at) * HOSTILE_ENTRIES)
        f.write(png)


def write_findings_icon(path):
    """About 1 MB: 65,535 entries on one small PNG image, each entry wrong in
    every field it has, so that each gives about ten findings."""
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 16, 16, 8, 6, 0, 0, 0))
    png = b"\x89PNG\r\n\x1a\n" + ihdr + png_chunk(b"IDAT", pool_bytes(64, 17)) + png_chunk(b"IEND", b"")
    at = 6 + 16 * HOSTILE_ENTRIES
    with open(path, "wb") as f:
        f.write(struct.pack("<HHH", 0, 1, HOSTILE_ENTRIES))
        f.write(hostile_entry(32, 3, 5, 7, 1 << 20, at, reserved=1) * HOSTILE_ENTRIES)
        f.write(png)


def time_and_rss(cmd, root):
    """Wall seconds and peak resident KiB of one run, as /usr/bin/time
    reports them, and the lines it wrote to standard output and error."""
    report = os.path.join(root, "rss.txt")
    done = subprocess.run(["/usr/bin/time", "-f", "%e %M", "-o", report] + cmd, cwd=root,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)
    with open(report) as f:
        seconds, kib = f.read().split()[-2:]
    return float(seconds), int(kib), done.stdout.count(b"\n") + done.stderr.count(b"\n")


def hostile_rows(lint, pack, root):
    """icon-lint and icon-pack on the hostile files: each must finish within
    HOSTILE_SECONDS (the findings file, whose time is that of writing its
    600,000 lines, is not held to it) and HOSTILE_KIB; answers whether they
    did."""
    met = True
    print("\nhostile files, one run each (targets: under %.0f s and %d KiB; the findings file: memory only):"
          % (HOSTILE_SECONDS, HOSTILE_KIB))
    for name, write in (("overlapping", write_overlapping_icon), ("shared", write_shared_icon),
                        ("findings", write_findings_icon)):
        path = os.path.join(root, name + ".ico")
        write(path)
        try:
            for program, cmd in (("icon-lint", [lint, path] if lint else None),
                                 ("icon-pack", [pack, "-o", "hostile-out.ico", path] if pack else None)):
                if cmd is None:
                    continue
                remove(os.path.join(root, "hostile-out.ico"))
                seconds, kib, lines = time_and_rss(cmd, root)
                ok = (seconds < HOSTILE_SECONDS or name == "findings") and kib <= HOSTILE_KIB
                met = met and ok
                print("  %-12s %-10s %6.2f s  %7d KiB  %7d lines  %s"
                      % (name, program, seconds, kib, lines, "met" if ok else "NOT MET"))
        finally:
            remove(path)
    return met


MAKE_SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
MASTER_SIDE = 1024


def write_master(path):
    """The 1024 px master: the examples' drawing (examples/make_examples.py),
    a diamond with smooth edges and a line one pixel wide."""
    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "examples"))
    import make_examples  # noqa: E402  (the examples' own generator)
    with open(path, "wb") as f:
        f.write(make_examples.master_image(MASTER_SIDE))


def make_rows(pack, root, reps, npm_peers):
    """icon-pack making every size from a master against the peers doing the
    same job, and its peak memory; answers whether the targets are met."""
    master = "master.png"
    write_master(os.path.join(root, master))
    sizes = ",".join(str(s) for s in MAKE_SIZES)
    runs = {"icon-pack": Run([[pack, "-o", "made.ico", "--sizes=" + sizes, master]], ["made.ico"])}
    outputs = {"icon-pack": "made.ico"}
    convert = find_imagemagick()
    if convert:
        runs["ImageMagick"] = Run([[convert, master, "-define", "icon:auto-resize=" + ",".join(
            str(s) for s in reversed(MAKE_SIZES)), "im.ico"]], ["im.ico"])
        outputs["ImageMagick"] = "im.ico"
    python = "/usr/bin/python3"
    if subprocess.run([python, "-c", "import PIL"], stderr=subprocess.DEVNULL).returncode == 0:
        script = ("import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).save(sys.argv[2], "
                  "sizes=[(s, s) for s in (%s,)])" % sizes)
        runs["Pillow"] = Run([[python, "-c", script, master, "pil.ico"]], ["pil.ico"])
        outputs["Pillow"] = "pil.ico"
    node = shutil.which("node")
    if npm_peers and node:
        script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers.mjs")
        for tool in ("sharp", "png-to-ico", "to-ico"):
            out = tool + ".ico"
            runs[tool] = Run([[node, script, npm_peers, tool, master, out, sizes]], [out])
            outputs[tool] = out
    t = alternate(runs, root, reps)
    print("\nmaking %s from a %d px master PNG, median of %d alternating runs (process start included):"
          % (sizes, MASTER_SIDE, reps))
    fastest_peer = min((wall for name, (wall, _) in t.items() if name != "icon-pack"), default=None)
    for name, (wall, cpu) in t.items():
        size = os.path.getsize(os.path.join(root, outputs[name])) if os.path.exists(
            os.path.join(root, outputs[name])) else 0
        print("  %-12s %8.1f ms  CPU %8.1f ms  %7d bytes  %5.2f x icon-pack"
              % (name, wall * 1e3, cpu * 1e3, size, wall / t["icon-pack"][0]))
    ok = fastest_peer is None or t["icon-pack"][0] < fastest_peer
    rss = max(peak_rss_kib(runs["icon-pack"].cmds[0], root) for _ in range(3))
    limit = (MASTER_SIDE * MASTER_SIDE * 4 + 8 * (1 << 20)) / 1024
    print("  faster than every peer: %s" % ("met" if ok else "NOT MET"))
    print("  icon-pack peak RSS %d KiB (the master's RGBA + 8 MiB = %.0f KiB) %s"
          % (rss, limit, "met" if rss <= limit else "NOT MET"))
    return ok and rss <= limit


def machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            model = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    libc = " ".join(platform.libc_ver()).strip() or "unknown C library"
    load = " ".join("%.2f" % x for x in os.getloadavg())
    return "%s, %d cores, Linux %s, %s, load %s" % (model, os.cpu_count() or 0, platform.release(),
                                                   libc, load)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--bundler", required=True)
    parser.add_argument("--inspector", required=True)
    parser.add_argument("--lint", help="icon-lint, timed against icon-inspector")
    parser.add_argument("--pack", help="icon-pack, timed and checked as well")
    parser.add_argument("--reps", type=int, default=9, help="timed repetitions (default 9)")
    parser.add_argument("--peer-reps", type=int, default=3, help="repetitions of the peers (default 3)")
    parser.add_argument("--no-floor", action="store_true", help="do not replay the system calls")
    parser.add_argument("--no-peers", action="store_true", help="do not time the peers")
    parser.add_argument("--npm-peers", help="node_modules folder holding sharp, sharp-ico, png-to-ico and "
                        "to-ico (see bench/README.md), for the making peers")
    parser.add_argument("--keep", action="store_true", help="keep the corpus folder")
    args = parser.parse_args()
    bundler = os.path.abspath(args.bundler)
    inspector = os.path.abspath(args.inspector)
    icotool = shutil.which("icotool")
    if not icotool:
        sys.exit("icotool is missing: install icoutils (Debian package icoutils)")
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

        pngs = []
        if args.pack:
            pngs, largest_png = make_pngs(root)
            largest = max(largest, largest_png)
            print("corpus: %d PNG files, %.1f MB" % (len(pngs), sum(
                os.path.getsize(os.path.join(root, p)) for p in pngs) / mib))

        cases = {
            "bundler large": (Run([[bundler, "-o", "out.ico"] + large], ["out.ico"]),
                              Run([["cat"] + large]), "cat"),
            "bundler small": (Run([[bundler, "-o", "out.ico"] + small], ["out.ico"]),
                              Run([["cat"] + small]), "cat"),
            "inspector small": (Run([[inspector] + small]), Run([[icotool, "-l"] + small]),
                                "icotool -l"),
        }
        if args.pack:
            cases["pack pngs"] = (Run([[os.path.abspath(args.pack), "-o", "out.ico"] + pngs], ["out.ico"]),
                                  Run([["cat"] + pngs]), "cat")
            write_master(os.path.join(root, "master.png"))

        # Every byte the programs write must be what it was.
        same = True
        checked = {name: (run.cmds[0], "out.ico" if name.startswith(("bundler", "pack")) else None)
                   for name, (run, _, _) in cases.items()}
        if args.pack:
            checked["make master"] = ([os.path.abspath(args.pack), "-o", "out.ico",
                                       "--sizes=" + ",".join(map(str, MAKE_SIZES)), "master.png"], "out.ico")
        for name, (cmd, output) in checked.items():
            got = checksum(cmd, root, output)
            want = RECORDED[name]
            ok = got == want
            same = same and ok
            print("output %-16s %s  %s" % (name, got[:16], "same" if ok else "DIFFERENT (recorded %s)"
                                           % (want[:16] or "nothing")))

        floors = {}
        if not args.no_floor:
            floor, why = build_floor(root)
            if floor:
                for name, (run, _, _) in cases.items():
                    try:
                        floors[name], calls = floor_run(floor, run, root, name.replace(" ", "-"))
                        print("floor  %-16s %d system calls replayed" % (name, calls))
                    except (ValueError, SyntaxError) as e:
                        print("floor  %-16s skipped: the record has a call it cannot replay (%s)"
                              % (name, e))
            else:
                print("floor: skipped,", why)

        print("\nmedian of %d alternating runs; wall time decides, CPU time (user + system)"
              " for reference:" % args.reps)
        met = True
        for name, (run, base, base_name) in cases.items():
            runs = {"program": run, "base": base}
            if name in floors:
                runs["floor"] = floors[name]
            if name == "pack pngs":
                runs["synced"] = Run(base.cmds + [["sync", STDOUT_FILE]])
            t = alternate(runs, root, args.reps)
            ratio = t["program"][0] / t["base"][0]
            ok = ratio <= TARGETS[name]
            met = met and ok
            floor_text = ("  floor %.2f" % (t["floor"][0] / t["base"][0])) if "floor" in t else ""
            print("  %-16s %7.1f ms  %-10s %7.1f ms  ratio %.2f (target <= %.2f) %-7s%s"
                  "  CPU %.1f / %.1f ms = %.2f"
                  % (name, t["program"][0] * 1e3, base_name, t["base"][0] * 1e3, ratio, TARGETS[name],
                     "met" if ok else "NOT MET", floor_text, t["program"][1] * 1e3, t["base"][1] * 1e3,
                     t["program"][1] / t["base"][1]))
            if "synced" in t:
                print("  %-16s %7.1f ms  %-10s %7.1f ms  ratio %.2f (cat, then sync of its file: the output "
                      "written out to the disk, as icon-pack does)"
                      % ("", t["program"][0] * 1e3, "cat + sync", t["synced"][0] * 1e3,
                         t["program"][0] / t["synced"][0]))

        limit = (largest + 4 * mib) / 1024
        for program, names in (("bundler", ("bundler large", "bundler small")), ("icon-pack", ("pack pngs",))):
            if names[0] not in cases:
                continue
            rss = max(peak_rss_kib(cases[name][0].cmds[0], root) for name in names for _ in range(3))
            ok = rss <= limit
            met = met and ok
            print("  %s peak RSS %d KiB (largest image %d B + 4 MiB = %.0f KiB) %s"
                  % (program, rss, largest, limit, "met" if ok else "NOT MET"))

        if args.lint:
            met = lint_rows(os.path.abspath(args.lint), inspector, root, large, small, args.reps) and met

        if args.pack:
            met = make_rows(os.path.abspath(args.pack), root, args.peer_reps, args.npm_peers and
                            os.path.abspath(args.npm_peers)) and met

        if args.lint or args.pack:
            met = hostile_rows(args.lint and os.path.abspath(args.lint), args.pack and os.path.abspath(args.pack),
                               root) and met

        if not args.no_peers:
            print("\npeers merging the same files, median of %d alternating runs, ratio to cat"
                  " and to icon-bundler:" % args.peer_reps)
            if not find_imagemagick():
                print("  ImageMagick not found: skipped")
            for label, files in (("large, %d files, %d images" % (len(large), 4 * len(large)), large),
                                 ("small, %d files, %d images" % (PEER_SMALL_FILES, 4 * PEER_SMALL_FILES),
                                  small[:PEER_SMALL_FILES])):
                t = alternate(peer_runs(bundler, icotool, files), root, args.peer_reps)
                print("  %s:" % label)
                for name, (wall, _) in t.items():
                    print("    %-16s %9.1f ms  %6.2f x cat  %6.2f x icon-bundler"
                          % (name, wall * 1e3, wall / t["cat"][0], wall / t["icon-bundler"][0]))

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
