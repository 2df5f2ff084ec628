"""What the readers did with a case, and the severity that follows from it.

Pure functions over plain data, so that they are tested without any reader:

* a reader's decoding of one image is a cell: "ok", "fail", "px" (other
  pixels), "inv" (Windows inverts the screen under the mask) or "swap" (red
  and blue exchanged);
* severity: error when Windows, Chrome or Firefox fails an image or the file
  or shows another picture; warning when GNOME or Qt does, when Windows
  shows the picture with some pixels changed (inverted under the mask, or
  red and blue of a PNG image swapped), or when the readers show different
  pictures at a common size; none otherwise. GNOME reads no PNG image in an
  icon, so its cells on PNG images do not count.
"""

RANK = {"none": 0, "note": 0, "warning": 1, "error": 2}
NAME = {0: "none", 1: "warning", 2: "error"}
MAIN = ("windows", "chrome", "firefox")
MINOR = ("gnome", "qt")
SIZES = (16, 24, 32, 48, 64, 256)


def same_pixels(got, want, w, h):
    """Whether two RGBA buffers show the same picture. Colour under alpha 0
    is not seen; canvases and Qt store premultiplied colour, and 5-bit
    channels are widened two ways, so each channel may differ a little, more
    where the pixel is faint."""
    if len(got) != 4 * w * h or len(want) != 4 * w * h:
        return False
    if got == want:
        return True
    for i in range(0, 4 * w * h, 4):
        ga, wa = got[i + 3], want[i + 3]
        if abs(ga - wa) > 3:
            return False
        if ga == 0 and wa == 0:
            continue
        slack = 4 + 255 // max(1, min(ga, wa))
        for c in range(3):
            if abs(got[i + c] - want[i + c]) > slack:
                return False
    return True


def swapped(rgba):
    out = bytearray(rgba)
    out[0::4], out[2::4] = rgba[2::4], rgba[0::4]
    return bytes(out)


def cell(decoded, want):
    """decoded: None (failed) or (w, h, rgba, inverted pixels); want: the
    intended (w, h, rgba, alternative rgba or None), or None when the entry
    has no intended picture."""
    if decoded is None:
        return "fail"
    w, h, rgba, inverted = decoded
    if inverted:
        return "inv"
    if want is None:
        return "ok"
    ww, wh, wrgba, alt = want
    if (w, h) != (ww, wh):
        return "px"
    if same_pixels(rgba, wrgba, w, h) or (alt is not None and same_pixels(rgba, alt, w, h)):
        return "ok"
    if same_pixels(rgba, swapped(wrgba), w, h):
        return "swap"
    return "px"


def image_severity(cells, kind):
    """cells: reader -> cell for one image; kind: "png" or "bitmap"."""
    worst = 0
    for reader, c in cells.items():
        if c == "ok":
            continue
        # The intended picture with some pixels changed, not another one:
        # Windows makes a 24-bit bitmap of a palette or RGB PNG image and
        # swaps its red and blue, and inverts the screen where a bitmap's
        # mask hides colour.
        if reader == "windows" and (c == "inv" or (c == "swap" and kind == "png")):
            worst = max(worst, 1)
        elif reader in MAIN:
            worst = max(worst, 2)
        elif reader in MINOR and not (reader == "gnome" and kind == "png"):
            worst = max(worst, 1)
    return worst


def picks_at_sizes(picks, entries, lookups, loads):
    """Which reader shows which entry at each common size: a browser's or
    GNOME's pick counts at its own size; Windows' lookup and load at the
    requested size when the entry is that size. picks: reader -> index;
    entries: (w, h) per entry; lookups, loads: size -> index."""
    at = {}
    n = len(entries)
    for reader, k in picks.items():
        if isinstance(k, int) and 0 <= k < n:
            at.setdefault(max(entries[k]), {})[reader] = k
    for name, table in (("windows lookup", lookups), ("windows load", loads)):
        for s, k in table.items():
            if s in SIZES and isinstance(k, int) and 0 <= k < n and entries[k][0] == s:
                at.setdefault(s, {})["%s@%d" % (name, s)] = k
    return at


def file_severity(whole, kinds, picture, at):
    """whole: reader -> "ok", "fail" or "px" for the whole file; kinds: the kind of
    each entry; picture: an id per entry (equal ids: equal pictures); at: the
    result of picks_at_sizes. Returns (severity, reasons)."""
    worst, why = 0, []
    all_png = bool(kinds) and all(k == "png" for k in kinds)
    for reader, c in whole.items():
        if c not in ("fail", "px"):
            continue
        what = "%s %s" % (reader, "fails the file" if c == "fail" else "shows pixels of no entry")
        if reader in MAIN:
            worst = 2
            why.append(what)
        elif reader in MINOR and not (reader == "gnome" and all_png):
            worst = max(worst, 1)
            why.append(what)
    for s in sorted(at):
        shown = {}
        for reader, k in sorted(at[s].items()):
            shown.setdefault(picture[k], []).append("%s #%d" % (reader, k))
        if len(shown) > 1:
            worst = max(worst, 1)
            why.append("at %d: %s" % (s, " vs ".join(", ".join(v) for v in shown.values())))
    return worst, why


def lint_severities(findings, count):
    """icon-lint's worst severity per image and for findings on no image."""
    per = [0] * count
    whole = 0
    for f in findings:
        r = RANK.get(f.get("severity"), 0)
        k = f.get("image")
        if isinstance(k, int) and 0 <= k < count:
            per[k] = max(per[k], r)
        else:
            whole = max(whole, r)
    return per, whole


def disagreements(measured, measured_file, lint, lint_file):
    """measured, lint: severity per image; measured_file, lint_file: the
    severity that belongs to the file rather than to one image. An image
    disagrees when one side ranks it above everything the other says of it
    or of the whole file; the file when the worst severities differ.
    Returns (image or None, measured, lint) triples."""
    out = []
    for k, (m, li) in enumerate(zip(measured, lint)):
        if li > max(m, measured_file) or m > max(li, lint_file):
            out.append((k, m, li))
    m_all = max([measured_file] + list(measured))
    l_all = max([lint_file] + list(lint))
    if m_all != l_all:
        out.append((None, m_all, l_all))
    return out
