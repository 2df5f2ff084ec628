#!/usr/bin/env python3
"""How close shrunk images come to the same SVG drawn at the smaller size.

The set: application icons of two Debian icon themes (papirus-icon-theme,
drawn on a 64 px grid, and breeze-icon-theme, on a 48 px grid), taken from
the packages with `apt-get download` into the cache folder, never installed.
Each icon is rendered by librsvg's rsvg-convert at 1024 px (the master) and
directly at each size; each candidate shrinks the master to each size, and is
compared with the direct render:

  SSIM   on the image composited over black and over white, the lower of
         the two; per colour channel, Gaussian window (sigma 1.5, 11 taps,
         edges mirrored), averaged over the pixels and the channels;
  error  the mean absolute difference in levels (0-255) of the same two
         composites, the larger of the two.

Candidates: the resampling kernels below, run here in floating point on
premultiplied alpha, in sRGB values or in linear light; with --tool, the
library's own shrinking (`image_samples shrink`), exactly as built; Pillow's
LANCZOS resize (what its ICO writer uses) as a peer.

With --pack (icon-pack) the candidates are whole tools instead, each making
every size from the same 1024 px master as its users run it, and each icon
it writes is decoded by Pillow (every image, PNG or bitmap) and compared as
above: icon-pack; ImageMagick (convert -define icon:auto-resize); Pillow
(Image.save with sizes); and with --npm-peers DIR (bench/README.md says how
to fill it) sharp (through sharp-ico), png-to-ico (which makes 256, 48, 32
and 16 only), to-ico and icon-gen (which takes the SVG drawing itself, not
a master, and draws it through sharp at each size). For each tool it also
reports the bytes of its icon (all sizes), its time a master (process start
included), and two probes made here:

  fringe     an opaque red disc on fully transparent pixels, once black and
             once green, made into every size: the worst distance of any
             visible edge pixel's colour from pure red (0 is no fringe);
  thin line  a black line one pixel wide across a white 1024 px master:
             how much darker than white its darkest column is at 16 px, in
             levels (a box over 64 pixels gives 4; 0 is a line lost).

Usage: quality.py [--cache DIR] [--tool PATH] [--sizes 16,20,...] [--only NAMES] [--icons N]
       quality.py --pack PATH [--npm-peers DIR] [--cache DIR] [--sizes ...] [--icons N]
Needs python3-numpy, python3-pil, librsvg2-bin (rsvg-convert) and apt-get;
with --pack also ImageMagick and, for the npm peers, node.
"""

import argparse
import glob
import math
import os
import subprocess
import sys
import tempfile
import time

import numpy as np
from PIL import Image

SIZES = [16, 20, 24, 32, 40, 48, 64, 256]
MASTER = 1024

# Application icons that both themes draw in full colour, and some only one
# of them has; each a separate drawing per theme.
PAPIRUS = """firefox chromium gimp inkscape libreoffice-writer libreoffice-calc libreoffice-impress vlc
thunderbird blender krita kdenlive audacity steam telegram discord gnome-terminal konsole okular
gwenview spectacle preferences-system org.gnome.Nautilus kcalc visual-studio-code atom gitg git-cola
obs darktable digikam shotwell rhythmbox clementine elisa transmission qbittorrent virtualbox
wireshark""".split()
BREEZE = """gimp inkscape libreoffice-writer libreoffice-calc libreoffice-impress vlc blender kdenlive
audacity steam telegram utilities-terminal kate okular gwenview spectacle preferences-system kcalc
atom git-cola""".split()
THEMES = [
    ("papirus-icon-theme", "usr/share/icons/Papirus/64x64/apps", PAPIRUS),
    ("breeze-icon-theme", "usr/share/icons/breeze/apps/48", BREEZE),
]


def icon_set(cache):
    """The SVG files of the set, fetched into the cache once."""
    root = os.path.join(cache, "root")
    files = []
    for package, folder, names in THEMES:
        if not os.path.isdir(os.path.join(root, folder)):
            subprocess.run(["apt-get", "download", package], cwd=cache, check=True, capture_output=True)
            deb = sorted(glob.glob(os.path.join(cache, package + "_*.deb")))[-1]
            subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        for name in names:
            path = os.path.join(root, folder, name + ".svg")
            if os.path.exists(path):
                files.append((package.split("-")[0] + "/" + name, os.path.realpath(path)))
    return files


def render(svg, size, out):
    if not os.path.exists(out):
        subprocess.run(["rsvg-convert", "-w", str(size), "-h", str(size), "-o", out, svg], check=True)
    return out


def load(path):
    """RGBA as floats 0..255."""
    return np.asarray(Image.open(path).convert("RGBA"), dtype=np.float64)


# --- kernels, as functions of the distance in target pixels -------------------------------

def triangle(x):
    return np.maximum(0.0, 1.0 - np.abs(x))


def cubic(b, c):
    def k(x):
        x = np.abs(x)
        near = ((12 - 9 * b - 6 * c) * x**3 + (-18 + 12 * b + 6 * c) * x**2 + (6 - 2 * b)) / 6
        far = ((-b - 6 * c) * x**3 + (6 * b + 30 * c) * x**2 + (-12 * b - 48 * c) * x + (8 * b + 24 * c)) / 6
        return np.where(x < 1, near, np.where(x < 2, far, 0.0))
    return k


def lanczos(a):
    def k(x):
        return np.where(np.abs(x) < a, np.sinc(x) * np.sinc(x / a), 0.0)
    return k


def area_weights(src, dst):
    """Each source pixel weighted by the part of the target pixel it covers."""
    w = np.zeros((dst, src))
    for i in range(dst):
        lo, hi = i * src / dst, (i + 1) * src / dst
        for j in range(int(math.floor(lo)), min(src, int(math.ceil(hi)))):
            w[i, j] = min(hi, j + 1) - max(lo, j)
    return w / w.sum(axis=1, keepdims=True)


def kernel_weights(kernel, support):
    def weights(src, dst):
        scale = src / dst
        w = np.zeros((dst, src))
        centres = (np.arange(src) + 0.5)
        for i in range(dst):
            centre = (i + 0.5) * scale
            w[i] = kernel((centres - centre) / scale)
            w[i, np.abs(centres - centre) > support * scale] = 0
        return w / w.sum(axis=1, keepdims=True)
    return weights


def srgb_to_linear(v):
    v = v / 255
    return np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)


def linear_to_srgb(v):
    v = np.clip(v, 0, 1)
    return 255 * np.where(v <= 0.0031308, v * 12.92, 1.055 * v ** (1 / 2.4) - 0.055)


def shrink(image, size, weights, linear=False):
    """Separable resampling on premultiplied alpha; 8-bit result."""
    alpha = image[..., 3:] / 255
    colour = srgb_to_linear(image[..., :3]) if linear else image[..., :3]
    pre = np.concatenate([colour * alpha, alpha], axis=2)
    wy = weights(image.shape[0], size)
    wx = weights(image.shape[1], size)
    h, w, _ = pre.shape
    out = (wy @ pre.reshape(h, w * 4)).reshape(size, w, 4)
    out = np.matmul(wx, out)  # each row: (size x w) @ (w x 4)
    a = np.clip(out[..., 3:], 0, 1)
    safe = np.where(a > 0, a, 1)
    colour = out[..., :3] / safe
    colour = linear_to_srgb(colour) if linear else np.clip(colour, 0, 255)
    # Rounded half up, as the library rounds.
    result = np.floor(np.concatenate([colour, a * 255], axis=2) + 0.5)
    result[result[..., 3] == 0] = 0
    return result


CANDIDATES = {
    "box-srgb": lambda m, s: shrink(m, s, area_weights),
    "box-linear": lambda m, s: shrink(m, s, area_weights, linear=True),
    "triangle-srgb": lambda m, s: shrink(m, s, kernel_weights(triangle, 1)),
    "mitchell-srgb": lambda m, s: shrink(m, s, kernel_weights(cubic(1 / 3, 1 / 3), 2)),
    "catrom-srgb": lambda m, s: shrink(m, s, kernel_weights(cubic(0, 0.5), 2)),
    "lanczos3-srgb": lambda m, s: shrink(m, s, kernel_weights(lanczos(3), 3)),
    "lanczos3-linear": lambda m, s: shrink(m, s, kernel_weights(lanczos(3), 3), linear=True),
    "pillow-lanczos": lambda m, s: np.asarray(
        Image.fromarray(m.astype(np.uint8), "RGBA").resize((s, s), Image.LANCZOS), dtype=np.float64),
}


# --- measures ---------------------------------------------------------------------------

def gaussian(sigma=1.5, radius=5):
    x = np.arange(-radius, radius + 1)
    g = np.exp(-(x**2) / (2 * sigma**2))
    return g / g.sum()


def blur(channel, g):
    r = len(g) // 2
    padded = np.pad(channel, r, mode="symmetric")
    rows = np.zeros((padded.shape[0], channel.shape[1]))
    for k, weight in enumerate(g):
        rows += weight * padded[:, k:k + channel.shape[1]]
    out = np.zeros(channel.shape)
    for k, weight in enumerate(g):
        out += weight * rows[k:k + channel.shape[0], :]
    return out


def ssim(a, b):
    g = gaussian()
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    values = []
    for ch in range(3):
        x, y = a[..., ch], b[..., ch]
        mx, my = blur(x, g), blur(y, g)
        vx = blur(x * x, g) - mx * mx
        vy = blur(y * y, g) - my * my
        cov = blur(x * y, g) - mx * my
        s = ((2 * mx * my + c1) * (2 * cov + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2))
        values.append(s.mean())
    return float(np.mean(values))


def composite(image, background):
    a = image[..., 3:] / 255
    return image[..., :3] * a + background * (1 - a)


def compare(made, direct):
    worst_ssim, worst_error = 1.0, 0.0
    for background in (0.0, 255.0):
        x, y = composite(made, background), composite(direct, background)
        worst_ssim = min(worst_ssim, ssim(x, y))
        worst_error = max(worst_error, float(np.abs(x - y).mean()))
    return worst_ssim, worst_error


# --- whole tools ---------------------------------------------------------------------------

PEERS_SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "peers.mjs")


def tools(pack, npm_peers, sizes):
    """name -> function(master png, svg, out ico) that makes the icon."""
    listed = ",".join(map(str, sizes))
    found = {"icon-pack": lambda master, svg, out: [pack, "-o", out, "--sizes=" + listed, master]}
    convert = next((t for t in ("convert-im6.q16", "convert") if shutil_which(t)), None)
    if convert:
        found["ImageMagick"] = lambda master, svg, out: [
            convert, master, "-define", "icon:auto-resize=" + ",".join(map(str, sorted(sizes, reverse=True))), out]
    script = ("import sys\nfrom PIL import Image\nImage.open(sys.argv[1]).save(sys.argv[2], "
              "sizes=[(s, s) for s in (%s,)])" % listed)
    found["Pillow"] = lambda master, svg, out: [sys.executable, "-c", script, master, out]
    if npm_peers and shutil_which("node"):
        for tool in ("sharp", "png-to-ico", "to-ico", "icon-gen"):
            found[tool] = (lambda t: lambda master, svg, out: [
                "node", PEERS_SCRIPT, npm_peers, t, svg if t == "icon-gen" else master, out, listed])(tool)
    return found


def shutil_which(name):
    import shutil
    return shutil.which(name)


def frames(ico):
    """side -> RGBA floats of each square image of an icon file, as Pillow
    decodes it."""
    out = {}
    with Image.open(ico) as im:
        for index, entry in enumerate(im.ico.entry):
            if entry["width"] == entry["height"] and entry["width"] not in out:
                out[entry["width"]] = np.asarray(im.ico.frame(index).convert("RGBA"), dtype=np.float64)
    return out


def make_icon(command, work):
    start = time.perf_counter()
    done = subprocess.run(command, cwd=work, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    wall = time.perf_counter() - start
    if done.returncode != 0:
        raise RuntimeError("%s failed: %s" % (command[0], done.stderr.decode(errors="replace")[:300]))
    return wall


def save_png(array, path):
    Image.fromarray(array.astype(np.uint8), "RGBA").save(path)


def fringe_masters(work):
    """An opaque red disc on transparent black, and on transparent green."""
    y, x = np.mgrid[0:MASTER, 0:MASTER] + 0.5
    c = MASTER / 2
    inside = ((x - c) ** 2 + (y - c) ** 2) <= (MASTER * 0.37) ** 2
    paths = []
    for name, background in (("black", (0, 0, 0)), ("green", (0, 255, 0))):
        image = np.zeros((MASTER, MASTER, 4))
        image[..., :3] = background
        image[inside] = (255, 0, 0, 255)
        path = os.path.join(work, "fringe-%s.png" % name)
        save_png(image, path)
        paths.append(path)
    return paths


def fringe_of(images):
    """The worst colour distance from pure red of any visible pixel."""
    worst = 0.0
    for image in images:
        visible = image[..., 3] > 0
        if visible.any():
            rgb = image[visible][:, :3]
            worst = max(worst, float(np.max(np.abs(rgb - np.array([255.0, 0.0, 0.0])))))
    return worst


def line_master(work):
    image = np.full((MASTER, MASTER, 4), 255.0)
    image[:, MASTER // 2 + 7, :3] = 0  # off the 64-pixel grid of 16 px
    path = os.path.join(work, "line.png")
    save_png(image, path)
    return path


def compare_tools(args, sizes):
    """The peer comparison (see the module's text)."""
    icons = icon_set(args.cache)
    if args.icons and args.icons < len(icons):
        icons = [icons[i * len(icons) // args.icons] for i in range(args.icons)]
    made_by = tools(os.path.abspath(args.pack), args.npm_peers and os.path.abspath(args.npm_peers), sizes)
    print(f"{len(icons)} icons, master {MASTER} px, sizes {sizes}, tools {', '.join(made_by)}", flush=True)
    scores = {name: {s: [] for s in sizes} for name in made_by}
    total_bytes = {name: [] for name in made_by}
    seconds = {name: [] for name in made_by}
    count = {name: 0 for name in made_by}
    with tempfile.TemporaryDirectory() as work:
        for label, svg in icons:
            stem = os.path.join(args.cache, "renders", label.replace("/", "-"))
            master = render(svg, MASTER, f"{stem}-{MASTER}.png")
            direct = {s: load(render(svg, s, f"{stem}-{s}.png")) for s in sizes}
            for name, command in made_by.items():
                out = os.path.join(work, "out.ico")
                if os.path.exists(out):
                    os.remove(out)
                seconds[name].append(make_icon(command(master, svg, out), work))
                total_bytes[name].append(os.path.getsize(out))
                made = frames(out)
                count[name] = len([s for s in sizes if s in made])
                for s in sizes:
                    if s in made:
                        scores[name][s].append(compare(made[s], direct[s]))
        fringes = fringe_masters(work)
        line = line_master(work)
        fringe = {}
        thin = {}
        for name, command in made_by.items():
            if name == "icon-gen":
                continue  # takes an SVG drawing, not a master
            images = []
            for master in fringes:
                out = os.path.join(work, "fringe.ico")
                make_icon(command(master, None, out), work)
                images += list(frames(out).values())
            fringe[name] = fringe_of(images)
            out = os.path.join(work, "line.ico")
            make_icon(command(line, None, out), work)
            small = frames(out).get(16)
            if small is not None:
                grey = composite(small, 255.0).mean(axis=2)
                thin[name] = 255.0 - float(grey.mean(axis=0).min())
    print("\nmean SSIM (lower of over black, over white) / mean error in levels, per size")
    print(f"{'tool':12}" + "".join(f"{s:>13}" for s in sizes) + f"{'all':>13}")
    for name in made_by:
        cells, everything = [], []
        for s in sizes:
            values = np.array(scores[name][s])
            everything.extend(scores[name][s])
            cells.append(f"{values[:, 0].mean():.4f}/{values[:, 1].mean():.2f}" if len(values) else "-")
        values = np.array(everything)
        cells.append(f"{values[:, 0].mean():.4f}/{values[:, 1].mean():.2f}")
        print(f"{name:12}" + "".join(f"{c:>13}" for c in cells))
    print("\nper tool: sizes written, mean bytes of an icon, mean time a master, fringe (worst level off pure "
          "red), thin line at 16 px (levels darker than white)")
    for name in made_by:
        print(f"{name:12} {count[name]:2d} sizes {np.mean(total_bytes[name]) / 1024:8.1f} KB "
              f"{np.mean(seconds[name]) * 1e3:8.1f} ms  fringe {fringe.get(name, float('nan')):5.0f}  "
              f"line {thin.get(name, float('nan')):5.1f}")
    return 0


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cache", default=os.path.join(tempfile.gettempdir(), "icon-tools-quality"))
    parser.add_argument("--tool", help="image_samples program: adds the library's own shrinking")
    parser.add_argument("--sizes", default=",".join(map(str, SIZES)))
    parser.add_argument("--only", help="comma-separated candidate names")
    parser.add_argument("--icons", type=int, help="only this many icons, spread evenly over the set")
    parser.add_argument("--pack", help="icon-pack: compare whole tools instead of kernels")
    parser.add_argument("--npm-peers", help="node_modules folder of the npm packers (bench/README.md)")
    args = parser.parse_args()
    sizes = [int(s) for s in args.sizes.split(",")]
    os.makedirs(os.path.join(args.cache, "renders"), exist_ok=True)
    if args.pack:
        return compare_tools(args, sizes)
    candidates = dict(CANDIDATES)
    if args.only:
        candidates = {k: v for k, v in candidates.items() if k in args.only.split(",")}
    # Bytes of the library's PNG of each made image, and of Pillow's PNG of
    # the same pixels (its ICO writer's settings, and with optimize=True).
    encoded = {s: [0, 0, 0] for s in sizes}
    pillow_ico = 0
    if args.tool:
        def library(master_path, size, out_dir):
            out = os.path.join(out_dir, "made.png")
            subprocess.run([args.tool, "shrink", master_path, str(size), out], check=True)
            made = Image.open(out)
            made.load()
            for k, options in enumerate([None, {}, {"optimize": True}]):
                if options is None:
                    encoded[size][k] += os.path.getsize(out)
                    continue
                again = os.path.join(out_dir, "pillow.png")
                made.convert("RGBA").save(again, **options)
                encoded[size][k] += os.path.getsize(again)
            return load(out)
        candidates["library"] = None
    icons = icon_set(args.cache)
    if args.icons and args.icons < len(icons):
        icons = [icons[i * len(icons) // args.icons] for i in range(args.icons)]
    print(f"{len(icons)} icons, master {MASTER} px, sizes {sizes}", flush=True)
    scores = {name: {s: [] for s in sizes} for name in candidates}
    with tempfile.TemporaryDirectory() as work:
        for label, svg in icons:
            stem = os.path.join(args.cache, "renders", label.replace("/", "-"))
            master_path = render(svg, MASTER, f"{stem}-{MASTER}.png")
            master = load(master_path)
            if args.tool:
                ico = os.path.join(work, "pillow.ico")
                Image.open(master_path).save(ico, sizes=[(s, s) for s in sizes])
                pillow_ico += os.path.getsize(ico)
            for size in sizes:
                direct = load(render(svg, size, f"{stem}-{size}.png"))
                for name, make in candidates.items():
                    made = library(master_path, size, work) if make is None else make(master, size)
                    scores[name][size].append(compare(made, direct))
    print("\nmean SSIM (lower of over black, over white) / mean error in levels")
    print(f"{'candidate':16}" + "".join(f"{s:>13}" for s in sizes) + f"{'all':>13}")
    for name, by_size in scores.items():
        cells = []
        everything = []
        for s in sizes:
            values = np.array(by_size[s])
            everything.extend(by_size[s])
            cells.append(f"{values[:, 0].mean():.4f}/{values[:, 1].mean():.2f}")
        values = np.array(everything)
        cells.append(f"{values[:, 0].mean():.4f}/{values[:, 1].mean():.2f}")
        print(f"{name:16}" + "".join(f"{c:>13}" for c in cells))
    if args.tool:
        print("\nPNG bytes of the library's images, and of Pillow's PNG of the same pixels, all icons")
        print(f"{'size':>6}{'library':>12}{'Pillow':>12}{'optimize':>12}")
        totals = [0, 0, 0]
        for s in sizes:
            totals = [t + e for t, e in zip(totals, encoded[s])]
            print(f"{s:>6}" + "".join(f"{e:>12}" for e in encoded[s]))
        print(f"{'all':>6}" + "".join(f"{t:>12}" for t in totals))
        n = len(icons)
        print(f"per icon: library {totals[0] / n / 1024:.1f} KB, Pillow {totals[1] / n / 1024:.1f} KB, "
              f"Pillow optimize {totals[2] / n / 1024:.1f} KB; Pillow's own ICO of these sizes "
              f"{pillow_ico / n / 1024:.1f} KB")
    return 0


if __name__ == "__main__":
    sys.exit(main())
