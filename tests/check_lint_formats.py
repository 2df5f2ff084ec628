#!/usr/bin/env python3
"""icon-lint's machine formats read as their consumers read them.

  check_lint_formats.py ICON_LINT SARIF_SCHEMA EXAMPLES_DIR

Lints the examples and a set of built files (a clean icon, one with errors
of every kind of place, a PNG named .ico, names holding spaces, ':', ',',
'%', a line end and bytes that are not UTF-8) and checks that:
- --format=sarif is one document the published SARIF 2.1.0 schema accepts,
  with a result for every JSON finding, at the same byte offset;
- --format=github is one valid workflow command a line, whose unescaped
  file, title and message give back the JSON finding's path, check and
  message, with errors as ::error, warnings as ::warning, notes as ::notice.
Needs Python 3 and its jsonschema module (Debian: python3-jsonschema).
"""

import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import zlib

try:
    import jsonschema
except ImportError:
    print("skipped: Python's jsonschema module is not installed (Debian: python3-jsonschema)")
    sys.exit(77)


def png(width, height):
    """An RGBA PNG stream of one opaque colour."""
    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))
    rows = b"".join(b"\0" + b"\x20\x40\x60\xff" * width for _ in range(height))
    return (b"\x89PNG\r\n\x1a\n" +
            chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def icon(images, reserved=0, kind=1, entries=None):
    """An icon file of PNG `images`; `entries` may override (width, height, bits)."""
    head = struct.pack("<HHH", reserved, kind, len(images))
    offset = 6 + 16 * len(images)
    directory = b""
    for i, data in enumerate(images):
        w, h, bits = entries[i] if entries else (0, 0, 32)
        directory += struct.pack("<BBBBHHII", w & 0xFF, h & 0xFF, 0, 0, 1, bits, len(data), offset)
        offset += len(data)
    return head + directory + b"".join(images)


def inputs(folder):
    """Names (bytes) of the files written into `folder`, one per problem."""
    files = {
        b"clean.ico": icon([png(16, 16), png(32, 32)], entries=[(16, 16, 32), (32, 32, 32)]),
        # The directory's size differs from the PNG's, idReserved is 1, and
        # the two images are a duplicate size.
        b"faults.ico": icon([png(32, 16), png(16, 16)], reserved=1, entries=[(16, 16, 32), (16, 16, 32)]),
        # An image whose bytes run past the end.
        b"cut.ico": icon([png(16, 16)], entries=[(16, 16, 32)])[:-20],
        b"a picture.ico": png(32, 32),
        b"colon:comma,percent%.ico": icon([png(16, 16)], reserved=2, entries=[(16, 16, 32)]),
        b"not-utf8-\xff.ico": icon([png(16, 16)], reserved=3, entries=[(16, 16, 32)]),
    }
    if os.name != "nt":
        files[b"line\nend.ico"] = icon([png(16, 16)], reserved=4, entries=[(16, 16, 32)])
    for name, data in files.items():
        with open(os.path.join(os.fsencode(folder), name), "wb") as f:
            f.write(data)
    return list(files)


def run(program, args, cwd):
    done = subprocess.run([program] + args, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    if done.returncode not in (0, 1) or done.stderr:
        sys.exit(f"{program} {args!r}: status {done.returncode}, stderr {done.stderr!r}")
    return done.stdout.decode("utf-8")


def github_unescape(text):
    return text.replace("%0D", "\r").replace("%0A", "\n").replace("%3A", ":").replace("%2C", ",").replace(
        "%25", "%")


COMMAND = re.compile(r"^::(error|warning|notice) file=([^,:]*),title=([^,:]*)::(.*)$")
# What GitHub turns into a character: anything else after '%' is a stray.
ESCAPE = re.compile(r"%(?!25|0D|0A|3A|2C)")
LEVELS = {"error": "error", "warning": "warning", "note": "notice"}


def check(lint, schema_path, examples):
    failures = []
    with open(schema_path, encoding="utf-8") as f:
        validator = jsonschema.Draft4Validator(json.load(f))
    work = tempfile.mkdtemp()
    try:
        for name in os.listdir(examples):
            if name.endswith((".ico", ".cur")):
                shutil.copy(os.path.join(examples, name), work)
        names = sorted(os.fsdecode(n) for n in inputs(work))
        names += sorted(n for n in os.listdir(work) if n not in names)
        json_lines = [json.loads(line) for line in run(lint, ["--format=json"] + names, work).splitlines()]
        if not json_lines:
            failures.append("the inputs gave no findings to compare")

        sarif_text = run(lint, ["--format=sarif"] + names, work)
        sarif = json.loads(sarif_text)
        for error in validator.iter_errors(sarif):
            failures.append(f"SARIF: {'/'.join(map(str, error.absolute_path))}: {error.message}")
        results = sarif["runs"][0]["results"]
        rules = sarif["runs"][0]["tool"]["driver"]["rules"]
        if len(results) != len(json_lines):
            failures.append(f"SARIF has {len(results)} results for {len(json_lines)} JSON findings")
        for result, finding in zip(results, json_lines):
            if rules[result["ruleIndex"]]["id"] != result["ruleId"] or result["ruleId"] != finding["check"]:
                failures.append(f"SARIF rule {result['ruleId']} for {finding['check']}")
            region = result["locations"][0]["physicalLocation"].get("region", {})
            if region.get("byteOffset") != finding["offset"]:
                failures.append(f"SARIF region {region} for offset {finding['offset']} ({finding['check']})")

        lines = run(lint, ["--format=github"] + names, work).split("\n")
        if lines[-1] != "":
            failures.append("the GitHub output does not end in a line end")
        lines = lines[:-1]
        if len(lines) != len(json_lines):
            failures.append(f"{len(lines)} GitHub lines for {len(json_lines)} JSON findings")
        for line, finding in zip(lines, json_lines):
            match = COMMAND.match(line)
            if not match or "\r" in line or any(ESCAPE.search(part) for part in match.groups()[1:]):
                failures.append(f"not a workflow command: {line!r}")
                continue
            level, path, title, message = match.groups()
            where = "" if finding["image"] is None else f"image {finding['image']}: "
            want = (LEVELS[finding["severity"]], finding["path"], finding["check"], where + finding["message"])
            got = (level, github_unescape(path), github_unescape(title), github_unescape(message))
            if got != want:
                failures.append(f"GitHub line {line!r} reads as {got!r}, the JSON finding says {want!r}")
    finally:
        shutil.rmtree(work)
    for failure in failures:
        print("FAILED:", failure)
    if not failures:
        print(f"{len(json_lines)} findings: the SARIF log valid, every GitHub line a valid command")
    return 1 if failures else 0


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    sys.exit(check(*sys.argv[1:]))
