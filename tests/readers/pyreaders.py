"""GdkPixbuf's and Qt's icon loaders as a worker process: reads one job a line
on standard input (an id and the file's bytes in base64) and prints one JSON
line per job, {"id", "ok", "w", "h", "rgba" (base64, straight alpha)} or
{"id", "ok": false, "why"}. The caller restarts a worker that hangs or dies.

Usage: /usr/bin/python3 pyreaders.py gdk|qt
"""
import base64
import json
import sys


def gdk_reader():
    import gi
    gi.require_version("GdkPixbuf", "2.0")
    from gi.repository import GdkPixbuf

    def read(data):
        loader = GdkPixbuf.PixbufLoader.new_with_type("ico")
        try:
            loader.write(data)
            loader.close()
        except Exception as e:  # GLib.Error: the loader refused the file
            return None, str(e).splitlines()[0][:80]
        pb = loader.get_pixbuf()
        if pb is None:
            return None, "no pixbuf"
        w, h, stride, n = pb.get_width(), pb.get_height(), pb.get_rowstride(), pb.get_n_channels()
        raw = pb.read_pixel_bytes().get_data()
        out = bytearray()
        for y in range(h):
            row = raw[y * stride:y * stride + w * n]
            if n == 4:
                out += row
            else:
                for x in range(w):
                    out += row[x * 3:x * 3 + 3] + b"\xff"
        return (w, h, bytes(out)), None
    return read


def qt_reader():
    from PyQt5.QtCore import QBuffer, QByteArray, QIODevice
    from PyQt5.QtGui import QImage, QImageReader
    from PyQt5.QtWidgets import QApplication
    app = QApplication.instance() or QApplication(["pyreaders"])

    def read(data):
        buf = QBuffer()
        buf.setData(QByteArray(data))
        buf.open(QIODevice.ReadOnly)
        r = QImageReader(buf, b"ico")
        img = r.read()
        if img.isNull():
            return None, r.errorString()[:80]
        img = img.convertToFormat(QImage.Format_RGBA8888)
        w, h = img.width(), img.height()
        bits = img.constBits()
        bits.setsize(img.sizeInBytes())
        raw = bytes(bits)
        stride = img.bytesPerLine()
        return (w, h, b"".join(raw[y * stride:y * stride + 4 * w] for y in range(h))), None
    read.app = app
    return read


def main():
    read = {"gdk": gdk_reader, "qt": qt_reader}[sys.argv[1]]()
    for line in sys.stdin:
        job = json.loads(line)
        got, why = read(base64.b64decode(job["b64"]))
        if got is None:
            rec = {"id": job["id"], "ok": False, "why": why}
        else:
            w, h, rgba = got
            rec = {"id": job["id"], "ok": True, "w": w, "h": h, "rgba": base64.b64encode(rgba).decode()}
        sys.stdout.write(json.dumps(rec) + "\n")
        sys.stdout.flush()


if __name__ == "__main__":
    main()
