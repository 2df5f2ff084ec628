"""Runs the table of cases through the real readers and through icon-lint, and
fails on every case where icon-lint's severity or picks disagree with what
the readers did. One line per disagreement: the case, the image, what the
readers did, what icon-lint said.

Readers: Windows as Wine implements it (wine_show.c, cross-compiled here),
Chromium and Firefox (browsers.js through puppeteer-core), GdkPixbuf and Qt
(pyreaders.py worker processes). Each image is also given to the readers as a
file of its own: the file's header with a count of 1, its entry pointing just
past it, then the image's bytes and every byte after them (loaders read past
dwBytesInRes, so what follows an image changes what they show).

Usage: run_readers.py --work DIR --lint ICON-LINT --mingw-gcc CC --wine WINE
         --node NODE --npm NPM --chromium EXE --firefox EXE [--python PY] [-v] [CASE ...]
"""
import argparse
import base64
import json
import os
import resource
import select
import shutil
import struct
import subprocess
import sys
import threading
import time
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
# No compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, HERE)
import rule  # noqa: E402

JOB_SECONDS = 20
# Address space of a worker: a PNG whose chunks declare gigabytes fails the
# job instead of the machine.
WORKER_BYTES = 4 << 30
# Checks of what the user asked for (--require-sizes), which no reader acts on.
POLICY_CHECKS = {"required-size"}


def one_image_copy(data, k):
    """The file's header with one entry, entry k, whose image starts at 22."""
    if len(data) < 6 + 16 * (k + 1):
        return None
    entry = bytearray(data[6 + 16 * k:6 + 16 * (k + 1)])
    offset = struct.unpack_from("<I", entry, 12)[0]
    struct.pack_into("<I", entry, 12, 22)
    return data[:4] + struct.pack("<H", 1) + bytes(entry) + (data[offset:] if offset < len(data) else b"")


def log(msg):
    sys.stderr.write(msg + "\n")
    sys.stderr.flush()


# ---------------------------------------------------------------- Wine
def run_wine(args, work, files, out):
    exe = os.path.join(work, "wine_show.exe")
    src = os.path.join(HERE, "wine_show.c")
    if not os.path.exists(exe) or os.path.getmtime(exe) < os.path.getmtime(src):
        subprocess.run([args.mingw_gcc, "-O2", "-o", exe, src, "-lgdi32", "-luser32"], check=True)
    env = dict(os.environ, WINEPREFIX=os.path.join(work, "wineprefix"), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    env.pop("DISPLAY", None)
    if not os.path.exists(os.path.join(work, "wineprefix", "system.reg")):
        subprocess.run([args.wine, "wineboot", "--init"], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       timeout=300, check=False)
        subprocess.run(["wineserver", "-w"], env=env, timeout=300, check=False)
    jobs = os.path.join(work, "wine-jobs.txt")
    names = {}
    with open(jobs, "w") as f:
        for path in files:
            wp = "Z:" + os.path.abspath(path).replace("/", "\\")
            names[wp] = path
            f.write(wp + "\n")
    p = subprocess.run([args.wine, exe, "Z:" + os.path.abspath(jobs).replace("/", "\\")], env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=600, check=False)
    cur = None
    for line in p.stdout.decode("latin-1").splitlines():
        parts = line.rstrip("\r").split(" ")
        if parts[0] == "F":
            cur = {"images": {}, "sizes": {}}
            out[names.get(line.rstrip("\r").split(" ", 2)[2])] = cur
        elif parts[0] == "I" and cur is not None:
            if parts[2] == "OK" and len(parts) >= 7:
                w, h = int(parts[3]), int(parts[4])
                cur["images"][int(parts[1])] = (w, h) + drawn(w, h, parts[5], parts[6])
            else:
                cur["images"][int(parts[1])] = None
        elif parts[0] == "S" and cur is not None:
            size, lookup = int(parts[1]), int(parts[2])
            loaded = parts[3] == "OK"
            cur["sizes"][size] = {"lookup": lookup, "load": int(parts[6]) if loaded else "fail"}


def drawn(w, h, black_hex, white_hex):
    """RGBA from an icon drawn on black and on white (BGRA rows), and the
    count of pixels that are no blend of the colour over the background: the
    screen inverted there."""
    b, wt = bytes.fromhex(black_hex), bytes.fromhex(white_hex)
    out = bytearray()
    inverted = 0
    for i in range(0, w * h * 4, 4):
        bl = (b[i + 2], b[i + 1], b[i])
        wh = (wt[i + 2], wt[i + 1], wt[i])
        alphas = [255 - (wh[c] - bl[c]) for c in range(3)]
        if any(wh[c] < bl[c] for c in range(3)) or max(alphas) - min(alphas) > 2:
            inverted += 1
        a = max(0, min(255, round(sum(alphas) / 3)))
        out += bytes(min(255, round(bl[c] * 255 / a)) for c in range(3)) + bytes((a,)) if a else b"\0\0\0\0"
    return bytes(out), inverted


# ---------------------------------------------------------------- browsers
def run_browser(args, work, which, exe, jobs, out):
    job_file = os.path.join(work, "%s-jobs.json" % which)
    with open(job_file, "w") as f:
        json.dump([{"id": i, "b64": base64.b64encode(d).decode()} for i, d in jobs], f)
    env = dict(os.environ, NODE_PATH=os.path.join(work, "node", "node_modules"))
    env.pop("DISPLAY", None)
    p = subprocess.run([args.node, os.path.join(HERE, "browsers.js"), which, exe, job_file], env=env,
                       stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=900, check=False)
    if p.returncode != 0:
        sys.exit("%s did not run: %s" % (which, p.stderr.decode(errors="replace")[-2000:]))
    for line in p.stdout.decode().splitlines():
        r = json.loads(line)
        out[r["id"]] = (r["w"], r["h"], base64.b64decode(r["rgba"]), 0) if r.get("ok") else None


def install_puppeteer(args, work):
    node = os.path.join(work, "node")
    os.makedirs(node, exist_ok=True)
    lock = os.path.join(HERE, "package-lock.json")
    have = os.path.join(node, "package-lock.json")
    if os.path.exists(os.path.join(node, "node_modules", "puppeteer-core")) and os.path.exists(have) and \
            open(have).read() == open(lock).read():
        return
    shutil.copy(os.path.join(HERE, "package.json"), node)
    shutil.copy(lock, node)
    subprocess.run([args.npm, "ci", "--ignore-scripts", "--no-audit", "--no-fund"], cwd=node, check=True,
                   stdout=subprocess.DEVNULL)


# ---------------------------------------------------------------- GdkPixbuf and Qt
def run_worker(args, which, jobs, out):
    """Feeds the jobs to a worker one at a time; a job that takes longer than
    JOB_SECONDS or kills the worker fails, and a new worker takes the rest."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", XDG_RUNTIME_DIR=os.environ.get("TMPDIR", "/tmp"))
    todo = list(jobs)
    while todo:
        p = subprocess.Popen([args.python, os.path.join(HERE, "pyreaders.py"), which], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                             preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_AS, (WORKER_BYTES, WORKER_BYTES)))
        while todo:
            i, d = todo[0]
            try:
                p.stdin.write((json.dumps({"id": i, "b64": base64.b64encode(d).decode()}) + "\n").encode())
                p.stdin.flush()
            except BrokenPipeError:
                pass
            ready, _, _ = select.select([p.stdout], [], [], JOB_SECONDS)
            line = p.stdout.readline() if ready else b""
            todo.pop(0)
            if not line:
                out[i] = None
                p.kill()
                p.wait()
                break
            r = json.loads(line)
            out[i] = (r["w"], r["h"], base64.b64decode(r["rgba"]), 0) if r.get("ok") else None
        else:
            p.stdin.close()
            p.wait()


# ---------------------------------------------------------------- judging
def unpack(b64):
    return zlib.decompress(base64.b64decode(b64)) if b64 else None


def find_pick(whole, copies):
    """The entry whose own decoding shows what the whole file shows."""
    if whole is None:
        return "fail"
    for k, c in enumerate(copies):
        if c is not None and c[:2] == whole[:2] and rule.same_pixels(whole[2], c[2], whole[0], whole[1]):
            return k
    return "?"


def judge(case, data, wine, got, lint, lint_readers, tally, verbose=False):
    """Lines of disagreement for one case."""
    name = case["name"]
    intended = case["intended"]
    n = len(intended)
    wants = [None if i is None else (i["w"], i["h"], unpack(i["rgba"]), unpack(i.get("alt"))) for i in intended]
    kinds = [("png" if i and i["kind"] == "png" else "bitmap") for i in intended]
    picture = [i["digest"] if i else "entry %d" % k for k, i in enumerate(intended)]
    entries = []
    for k in range(n):
        w = data[6 + 16 * k] if len(data) >= 6 + 16 * (k + 1) else 0
        h = data[7 + 16 * k] if len(data) >= 6 + 16 * (k + 1) else 0
        entries.append((w or 256, h or 256))
    cursor = len(data) >= 4 and data[2:4] == b"\2\0"
    cells = []
    for k in range(n):
        c = {"windows": rule.cell((wine or {}).get("images", {}).get(k), wants[k])}
        for reader in ("chrome", "firefox", "gnome", "qt"):
            c[reader] = rule.cell(got[reader].get((name, k)), wants[k])
        cells.append(c)
    measured = [rule.image_severity(c, kinds[k]) for k, c in enumerate(cells)]
    sizes = (wine or {}).get("sizes", {})
    # Windows' loader fails the file at a size, or shows pixels of none of
    # its entries (it read another image's bytes as a mask).
    loaded = [v["load"] for v in sizes.values()]
    whole = {"windows": "fail" if not loaded or "fail" in loaded else "px" if -1 in loaded else "ok"}
    picks = {}
    for reader in ("chrome", "firefox", "gnome", "qt"):
        w = got[reader].get((name, None))
        whole[reader] = "fail" if w is None else "ok"
        if n == 0 and w is not None and case.get("intended_file"):
            # a file that is no icon: the reader shows the picture or other pixels
            want = unpack(case["intended_file"])
            if not (w[:2] == (32, 32) and rule.same_pixels(w[2], want, 32, 32)):
                whole[reader] = "fail"
        if reader != "qt":  # Qt reads the first image, whatever the sizes
            copies = [got[reader].get((name, k)) for k in range(n)]
            picks[reader] = find_pick(w, copies)
            # A browser that shows pixels of none of the entries (a blank
            # canvas) shows another picture.
            if reader != "gnome" and n and picks[reader] == "?":
                whole[reader] = "px"
    lookups = {s: v["lookup"] for s, v in sizes.items() if s and not cursor}
    loads = {s: v["load"] for s, v in sizes.items() if s}
    at = rule.picks_at_sizes(picks, entries, lookups, loads)
    measured_file, why = rule.file_severity(whole, kinds, picture, at)
    lint = [f for f in lint if f.get("check") not in POLICY_CHECKS]
    per, lint_file = rule.lint_severities(lint, n)
    tally[rule.NAME[max([measured_file] + measured)]] += 1
    if verbose:
        log("%s: readers %s%s%s; icon-lint %s; picks %s; windows %s" % (
            name, rule.NAME[max([measured_file] + measured)],
            "".join(" #%d:%s" % (k, ",".join("%s %s" % (r, v) for r, v in c.items() if v != "ok") or "ok")
                    for k, c in enumerate(cells)),
            "".join(" (%s)" % w for w in why), rule.NAME[max([lint_file] + per)], picks,
            {s: (v["lookup"], v["load"]) for s, v in sorted(sizes.items())}))
    lines = []
    for k, m, li in rule.disagreements(measured, measured_file, per, lint_file):
        said = sorted("%s %s" % (f.get("severity"), f.get("check")) for f in lint
                      if (f.get("image") == k if k is not None else True) and f.get("severity") != "note")
        if k is None:
            did = "; ".join(why) or "images: " + " | ".join(
                "#%d %s" % (j, ",".join("%s %s" % (r, v) for r, v in c.items() if v != "ok") or "ok")
                for j, c in enumerate(cells))
            where = "file"
        else:
            did = ", ".join("%s %s" % (r, v) for r, v in cells[k].items())
            where = "image %d" % k
        lines.append("%s: %s: readers: %s (%s); icon-lint: %s (%s)" % (
            name, where, rule.NAME[m], did, rule.NAME[li], ", ".join(said) or "nothing"))
    # icon-lint's picks against Wine's lookup and the browsers' own choice
    if lint_readers and n:
        rd = lint_readers.get("readers", {})
        lsizes = lint_readers.get("sizes", list(rule.SIZES))
        # Windows as a program's resource (the lookup; none in a cursor,
        # whose entries hold hotspots) and from the file (LoadImageW).
        for key, table, what in (("shows", {} if cursor else lookups, "lookup"),
                                 ("shows_from_file", loads, "LoadImageW")):
            shows = rd.get("windows", {}).get(key, [])
            for s, k in zip(lsizes, shows):
                got_k = table.get(s)
                if isinstance(got_k, int) and got_k >= 0 and k != got_k and \
                        not (isinstance(k, int) and 0 <= k < n and picture[k] == picture[got_k]):
                    lines.append("%s: pick at %d: Windows' %s shows image %d; icon-lint --readers says %s" % (
                        name, s, what, got_k, k))
        for reader in ("chrome", "firefox"):
            p = picks.get(reader)
            shows = rd.get(reader, {}).get("shows", [])
            if isinstance(p, int) and shows and any(
                    k != p and not (isinstance(k, int) and 0 <= k < n and picture[k] == picture[p]) for k in shows):
                lines.append("%s: pick: %s shows image %d; icon-lint --readers says %s" % (name, reader, p, shows))
    return lines


def lint_json(lint, args_, path):
    p = subprocess.run([lint, "--format=json"] + args_ + [path], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                       check=False)
    return [json.loads(x) for x in p.stdout.decode().splitlines() if x.strip()]


def versions(args, work):
    out = []
    for cmd in ([args.wine, "--version"], [args.chromium, "--version"], [args.firefox, "--version"]):
        try:
            out.append(subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, timeout=60,
                                      check=False).stdout.decode().strip())
        except (OSError, subprocess.TimeoutExpired):
            out.append(cmd[0] + " ?")
    code = ("import gi\ngi.require_version('GdkPixbuf', '2.0')\nfrom gi.repository import GdkPixbuf\n"
            "from PyQt5.QtCore import QT_VERSION_STR\n"
            "print('GdkPixbuf %s; Qt %s' % (GdkPixbuf.PIXBUF_VERSION, QT_VERSION_STR))")
    p = subprocess.run([args.python, "-c", code], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, check=False)
    out.append(p.stdout.decode().strip())
    with open(os.path.join(work, "node", "node_modules", "puppeteer-core", "package.json")) as f:
        out.append("puppeteer-core %s" % json.load(f)["version"])
    return "; ".join(out)


def main():
    ap = argparse.ArgumentParser()
    for opt in ("work", "lint", "mingw-gcc", "wine", "node", "npm", "chromium", "firefox"):
        ap.add_argument("--" + opt, required=True)
    ap.add_argument("--python", default=sys.executable)
    ap.add_argument("-v", "--verbose", action="store_true", help="what the readers did with every case")
    ap.add_argument("cases", nargs="*")
    args = ap.parse_args()
    work = os.path.abspath(args.work)
    case_dir = os.path.join(work, "cases")
    if os.path.isdir(case_dir):
        shutil.rmtree(case_dir)
    subprocess.run([sys.executable, os.path.join(HERE, "make_cases.py"), case_dir], check=True,
                   stdout=subprocess.DEVNULL)
    with open(os.path.join(case_dir, "manifest.json")) as f:
        manifest = json.load(f)
    if args.cases:
        manifest = [c for c in manifest if c["name"] in args.cases]
    start = time.time()
    datas = {}
    jobs = []
    for c in manifest:
        with open(os.path.join(case_dir, c["file"]), "rb") as f:
            data = f.read()
        datas[c["name"]] = data
        jobs.append(((c["name"], None), data))
        for k in range(len(c["intended"])):
            copy = one_image_copy(data, k)
            if copy is not None:
                jobs.append(((c["name"], k), copy))
    install_puppeteer(args, work)
    wine = {}
    wine_thread = threading.Thread(target=run_wine, args=(
        args, work, [os.path.join(case_dir, c["file"]) for c in manifest], wine))
    wine_thread.start()
    got = {r: {} for r in ("chrome", "firefox", "gnome", "qt")}
    keyed = [(json.dumps(i), d) for i, d in jobs]

    def unkey(res):
        return {tuple(json.loads(k)): v for k, v in res.items()}
    for reader, which, exe in (("chrome", "chromium", args.chromium), ("firefox", "firefox", args.firefox)):
        res = {}
        run_browser(args, work, which, exe, keyed, res)
        got[reader] = unkey(res)
        log("%s: %d inputs, %.0f s" % (which, len(keyed), time.time() - start))
    for reader, which in (("gnome", "gdk"), ("qt", "qt")):
        res = {}
        run_worker(args, which, keyed, res)
        got[reader] = unkey(res)
        log("%s: %d inputs, %.0f s" % (which, len(keyed), time.time() - start))
    wine_thread.join()
    log("wine: %d files, %.0f s" % (len(wine), time.time() - start))
    # A reader that shows not even a clean icon is broken or missing, which
    # would read as disagreements on every case.
    clean = os.path.join(case_dir, "ok-bmp32-16.ico")
    broken = [r for r in got if ("ok-bmp32-16", 0) in got[r] and got[r][("ok-bmp32-16", 0)] is None]
    if clean in wine and wine[clean]["images"].get(0) is None:
        broken.append("windows")
    if len(wine) != len(manifest):
        broken.append("windows (%d of %d files)" % (len(wine), len(manifest)))
    if broken:
        sys.exit("the readers test cannot run: %s show no clean icon" % ", ".join(broken))
    lines = []
    tally = {"error": 0, "warning": 0, "none": 0}
    for c in manifest:
        path = os.path.join(case_dir, c["file"])
        lint = lint_json(args.lint, c["lint_args"], path)
        p = subprocess.run([args.lint, "--readers", "--format=json", path], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL, check=False)
        lr = [json.loads(x) for x in p.stdout.decode().splitlines() if x.strip()]
        lines += judge(c, datas[c["name"]], wine.get(path), {r: {k: v for k, v in got[r].items() if k[0] == c["name"]}
                                                             for r in got}, lint, lr[0] if lr else None, tally, args.verbose)
    for line in lines:
        print(line)
    print("%d cases (the readers: %d errors, %d warnings, %d clean), %d disagreements, %.0f s; readers: %s" % (
        len(manifest), tally["error"], tally["warning"], tally["none"], len(lines), time.time() - start,
        versions(args, work)))
    return 1 if lines else 0


if __name__ == "__main__":
    sys.exit(main())
