#!/usr/bin/env python3
"""Gathers the sample of real icon files that SOURCES lists into a folder.

  gather.py OUT_DIR [NAME ...]

Each file is taken from the first place SOURCES names for it: a Debian 12
package (fetched with `apt-get download` at the listed version and unpacked
with `dpkg-deb`) or a public GitHub repository at the listed commit (its raw
file over HTTPS); a PNG listed as "wrapped" becomes a one-image icon whose
entry takes its size from IHDR (0 for 256 or more) and says 32 bits. Every
file is checked against its SHA-256; a file that cannot be had or differs is
reported, and the exit status is 1. Needs network access, apt-get and
dpkg-deb; nothing here runs in the test suite.
"""

import hashlib
import os
import re
import struct
import subprocess
import sys
import tempfile
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
DEBIAN = re.compile(r"^Debian 12 package (\S+) (\S+): (/\S.*)$")
GITHUB = re.compile(r"^github\.com/([^/\s]+/[^/\s]+) ([0-9a-f]{40}): (.+?)(, wrapped into a one-image icon.*)?$")


def blocks(path):
    """(name, sha256, size, [origin, ...]) for each file SOURCES lists."""
    name = None
    for line in open(path, encoding="utf-8"):
        line = line.rstrip("\n")
        if not line or line.startswith("#"):
            continue
        if not line.startswith(" "):
            if name:
                yield name, digest, size, origins
            name, digest, size, origins = line, None, None, []
        elif line.startswith("  sha256 "):
            digest, size = re.match(r"  sha256 ([0-9a-f]{64}), (\d+) bytes", line).groups()
            size = int(size)
        elif line.startswith("  from: "):
            origins.append(line[len("  from: "):])
    if name:
        yield name, digest, size, origins


def png_wrapped(png):
    width = height = 0
    if png[12:16] == b"IHDR" and len(png) >= 24:
        width, height = struct.unpack(">II", png[16:24])
    entry_width = width if 0 < width < 256 else 0
    entry_height = height if 0 < height < 256 else 0
    return (struct.pack("<HHH", 0, 1, 1) +
            struct.pack("<BBBBHHII", entry_width, entry_height, 0, 0, 1, 32, len(png), 22) + png)


class Debian:
    """Packages fetched once each into a scratch folder."""

    def __init__(self, scratch):
        self.scratch = scratch
        self.unpacked = {}

    def file(self, package, version, path):
        key = (package, version)
        if key not in self.unpacked:
            folder = os.path.join(self.scratch, f"{package}_{version}".replace(":", "%3a"))
            os.makedirs(folder)
            subprocess.run(["apt-get", "download", "-q", f"{package}={version}"], cwd=folder, check=True,
                           stdout=subprocess.DEVNULL)
            deb = next(n for n in os.listdir(folder) if n.endswith(".deb"))
            subprocess.run(["dpkg-deb", "-x", deb, "root"], cwd=folder, check=True)
            os.remove(os.path.join(folder, deb))
            self.unpacked[key] = os.path.join(folder, "root")
        with open(os.path.join(self.unpacked[key], path.lstrip("/")), "rb") as f:
            return f.read()


def fetched(origin, debian):
    match = DEBIAN.match(origin)
    if match:
        return debian.file(*match.groups())
    match = GITHUB.match(origin)
    if match:
        repo, commit, path, wrapped = match.groups()
        url = f"https://raw.githubusercontent.com/{repo}/{commit}/{path}"
        with urllib.request.urlopen(url, timeout=60) as reply:
            data = reply.read()
        return png_wrapped(data) if wrapped else data
    raise ValueError(f"an origin of no known form: {origin}")


def main(args):
    if not args:
        sys.exit(__doc__)
    out, wanted = args[0], set(args[1:])
    os.makedirs(out, exist_ok=True)
    failed = 0
    with tempfile.TemporaryDirectory() as scratch:
        debian = Debian(scratch)
        for name, digest, size, origins in blocks(os.path.join(HERE, "SOURCES")):
            if wanted and name not in wanted:
                continue
            problems = []
            for origin in origins:
                try:
                    data = fetched(origin, debian)
                except Exception as error:  # one origin lost is reported, the next tried
                    problems.append(f"{origin}: {error}")
                    continue
                if hashlib.sha256(data).hexdigest() != digest or len(data) != size:
                    problems.append(f"{origin}: {len(data)} bytes of another SHA-256")
                    continue
                with open(os.path.join(out, name), "wb") as f:
                    f.write(data)
                problems = []
                break
            for problem in problems:
                print(f"{name}: {problem}", file=sys.stderr)
            failed += bool(problems)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
