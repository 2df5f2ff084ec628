"""The rule that turns what the readers did into a severity, and the
comparison with icon-lint's findings, on hand-made outcomes."""
import os
import struct
import sys
import unittest

# No compiled files in the source tree.
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import rule  # noqa: E402
import run_readers  # noqa: E402

RED = bytes((200, 10, 20, 255))
CLEAR = bytes((0, 0, 0, 0))


def px(*pixels):
    return b"".join(pixels)


class SamePixels(unittest.TestCase):
    def test_table(self):
        rows = [
            ("equal", px(RED, CLEAR), px(RED, CLEAR), True),
            ("colour under alpha 0 unseen", px(RED, bytes((9, 9, 9, 0))), px(RED, CLEAR), True),
            ("widening 5 bits differs by 4", px(bytes((204, 10, 20, 255)), CLEAR), px(RED, CLEAR), True),
            ("another colour", px(bytes((20, 10, 200, 255)), CLEAR), px(RED, CLEAR), False),
            ("opaque where transparent", px(RED, RED), px(RED, CLEAR), False),
            ("premultiplied rounding at alpha 128", px(bytes((101, 50, 0, 128))), px(bytes((99, 50, 0, 128))), True),
            ("faint: alpha 4 hides colour", px(bytes((255, 0, 0, 4))), px(bytes((200, 0, 0, 4))), True),
            ("another size", px(RED), px(RED, RED), False),
        ]
        for name, got, want, same in rows:
            with self.subTest(name):
                self.assertEqual(rule.same_pixels(got, want, len(want) // 4, 1), same)


class Cells(unittest.TestCase):
    def test_table(self):
        want = (2, 1, px(RED, CLEAR), None)
        rows = [
            ("failed", None, want, "fail"),
            ("intended", (2, 1, px(RED, CLEAR), 0), want, "ok"),
            ("inverted pixels", (2, 1, px(RED, CLEAR), 1), want, "inv"),
            ("other size", (1, 2, px(RED, CLEAR), 0), want, "px"),
            ("red and blue swapped", (2, 1, px(bytes((20, 10, 200, 255)), CLEAR), 0), want, "swap"),
            ("blank", (2, 1, px(CLEAR, CLEAR), 0), want, "px"),
            ("the alternative rounding", (2, 1, px(bytes((100, 10, 20, 255)), CLEAR), 0),
             (2, 1, px(RED, CLEAR), px(bytes((100, 10, 20, 255)), CLEAR)), "ok"),
            ("nothing intended", (2, 1, px(RED, CLEAR), 0), None, "ok"),
        ]
        for name, decoded, w, expected in rows:
            with self.subTest(name):
                self.assertEqual(rule.cell(decoded, w), expected)


class Severity(unittest.TestCase):
    def test_image(self):
        ok = {"windows": "ok", "chrome": "ok", "firefox": "ok", "gnome": "ok", "qt": "ok"}
        rows = [
            ("every reader shows it", {}, "bitmap", 0),
            ("Windows fails", {"windows": "fail"}, "bitmap", 2),
            ("Chrome other pixels", {"chrome": "px"}, "bitmap", 2),
            ("Windows inverts the screen under the mask", {"windows": "inv"}, "bitmap", 1),
            ("Windows inverts, Chrome fails", {"windows": "inv", "chrome": "fail"}, "bitmap", 2),
            ("Firefox fails, Qt too", {"firefox": "fail", "qt": "fail"}, "bitmap", 2),
            ("Qt fails", {"qt": "fail"}, "bitmap", 1),
            ("GNOME other pixels", {"gnome": "px"}, "bitmap", 1),
            ("GNOME fails a PNG image: it reads none", {"gnome": "fail"}, "png", 0),
            ("Qt fails a PNG image", {"qt": "fail"}, "png", 1),
            ("Windows swaps red and blue of a PNG image", {"windows": "swap"}, "png", 1),
            ("Windows swaps red and blue of a bitmap", {"windows": "swap"}, "bitmap", 2),
        ]
        for name, cells, kind, expected in rows:
            with self.subTest(name):
                self.assertEqual(rule.image_severity(dict(ok, **cells), kind), expected)

    def test_file(self):
        fine = {"windows": "ok", "chrome": "ok", "firefox": "ok", "gnome": "ok", "qt": "ok"}
        two = [(16, 16), (16, 16)]
        rows = [
            ("every reader reads it", {}, ["bitmap"], ["a"], {}, 0),
            ("Chrome fails the file", {"chrome": "fail"}, ["bitmap"], ["a"], {}, 2),
            ("Windows fails the file", {"windows": "fail"}, ["bitmap"], ["a"], {}, 2),
            ("Windows shows pixels of no entry", {"windows": "px"}, ["bitmap"], ["a"], {}, 2),
            ("Qt shows pixels of no entry", {"qt": "px"}, ["bitmap"], ["a"], {}, 1),
            ("GNOME fails the file", {"gnome": "fail"}, ["bitmap"], ["a"], {}, 1),
            ("GNOME fails a file of PNG images", {"gnome": "fail"}, ["png", "png"], ["a", "b"], {}, 0),
            ("two pictures at 16", {}, ["bitmap"] * 2, ["a", "b"], {16: {"chrome": 0, "firefox": 1}}, 1),
            ("two entries, one picture", {}, ["bitmap"] * 2, ["a", "a"], {16: {"chrome": 0, "firefox": 1}}, 0),
        ]
        for name, whole, kinds, pictures, at, expected in rows:
            with self.subTest(name):
                self.assertEqual(rule.file_severity(dict(fine, **whole), kinds, pictures, at)[0], expected)
        at = rule.picks_at_sizes({"chrome": 0, "firefox": 1}, two, {16: 0, 32: 1}, {16: "fail"})
        self.assertEqual(at, {16: {"chrome": 0, "firefox": 1, "windows lookup@16": 0}})


class Agreement(unittest.TestCase):
    def test_lint_severities(self):
        findings = [{"image": 0, "severity": "note"}, {"image": 1, "severity": "warning"},
                    {"image": 1, "severity": "error"}, {"image": None, "severity": "warning"},
                    {"image": 7, "severity": "error"}]
        self.assertEqual(rule.lint_severities(findings, 2), ([0, 2], 2))

    def test_disagreements(self):
        rows = [
            ("same", [2, 0], 0, [2, 0], 0, []),
            ("an error icon-lint misses", [2, 0], 0, [1, 0], 0, [(0, 2, 1), (None, 2, 1)]),
            ("an error the readers do not make", [0], 0, [2], 0, [(0, 0, 2), (None, 0, 2)]),
            ("a file's error covers its images", [2], 2, [0], 2, []),
            ("a file-level warning against an image's", [0, 0], 1, [0, 1], 0, []),
            ("worst differs only by the file", [0], 1, [0], 0, [(None, 1, 0)]),
        ]
        for name, m, mf, li, lf, expected in rows:
            with self.subTest(name):
                self.assertEqual(rule.disagreements(m, mf, li, lf), expected)


class OneImageCopy(unittest.TestCase):
    def test_table(self):
        head = struct.pack("<HHH", 1, 1, 2)
        e0 = struct.pack("<BBBBHHII", 16, 16, 0, 0, 1, 32, 4, 38)
        e1 = struct.pack("<BBBBHHII", 32, 32, 0, 0, 1, 32, 4, 42)
        data = head + e0 + e1 + b"AAAABBBB"
        rows = [
            ("first keeps what follows", 0, struct.pack("<HHH", 1, 1, 1) + e0[:12] + struct.pack("<I", 22)
             + b"AAAABBBB"),
            ("second", 1, struct.pack("<HHH", 1, 1, 1) + e1[:12] + struct.pack("<I", 22) + b"BBBB"),
            ("entry past the directory's end", 2, None),
        ]
        for name, k, expected in rows:
            with self.subTest(name):
                self.assertEqual(run_readers.one_image_copy(data, k), expected)


if __name__ == "__main__":
    unittest.main()
