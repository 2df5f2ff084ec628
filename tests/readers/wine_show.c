/* What Windows (as Wine implements it) draws for icon files: each image
   decoded with CreateIconFromResourceEx and drawn with DrawIconEx on black and
   on white; the whole file loaded with LoadImageW(LR_LOADFROMFILE) at its
   natural size (0) and at 16, 24,
   32, 48, 64 and 256 pixels (IMAGE_CURSOR for a cursor file) and drawn, and
   LookupIconIdFromDirectoryEx's pick at those sizes (icons only).

   Usage: wine_show.exe JOBFILE      (one Windows path a line)
   Output lines:
     F n path
     I idx OK w h BLACKHEX WHITEHEX | I idx ERR why
     S size lookup_idx load(OK w h|ERR) match_idx BLACKHEX WHITEHEX
   (hex: w*h*4 bytes, BGRA rows top-down; match_idx: first entry whose own
   decoding at that size draws the same on both backgrounds, -1 if none)
     E                                  */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <fcntl.h>
#include <io.h>

static HDC dc;

static unsigned char *draw(HICON hi, int w, int h, COLORREF bg)
{
    BITMAPINFO bi;
    void *bits = NULL;
    HBITMAP dib, old;
    unsigned char *out;
    int i;
    memset(&bi, 0, sizeof bi);
    bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!dib)
        return NULL;
    old = SelectObject(dc, dib);
    for (i = 0; i < w * h; i++)
        ((DWORD *)bits)[i] = bg == 0 ? 0 : 0x00FFFFFF;
    DrawIconEx(dc, 0, 0, hi, w, h, 0, NULL, DI_NORMAL);
    GdiFlush();
    out = malloc((size_t)w * h * 4);
    memcpy(out, bits, (size_t)w * h * 4);
    SelectObject(dc, old);
    DeleteObject(dib);
    return out;
}

static void hex(const unsigned char *p, size_t n)
{
    static const char d[] = "0123456789abcdef";
    size_t i;
    for (i = 0; i < n; i++) {
        putchar(d[p[i] >> 4]);
        putchar(d[p[i] & 15]);
    }
}

static int icon_size(HICON hi, int *w, int *h)
{
    ICONINFO ii;
    BITMAP bm;
    if (!GetIconInfo(hi, &ii))
        return 0;
    if (ii.hbmColor) {
        GetObjectW(ii.hbmColor, sizeof bm, &bm);
        *w = bm.bmWidth;
        *h = bm.bmHeight;
    } else {
        GetObjectW(ii.hbmMask, sizeof bm, &bm);
        *w = bm.bmWidth;
        *h = bm.bmHeight / 2;
    }
    if (ii.hbmColor)
        DeleteObject(ii.hbmColor);
    if (ii.hbmMask)
        DeleteObject(ii.hbmMask);
    return 1;
}

static unsigned char *read_file(const char *path, long *len)
{
    FILE *f = fopen(path, "rb");
    unsigned char *p;
    if (!f)
        return NULL;
    fseek(f, 0, SEEK_END);
    *len = ftell(f);
    fseek(f, 0, SEEK_SET);
    p = malloc(*len + 1);
    if (p && fread(p, 1, *len, f) != (size_t)*len) {
        free(p);
        p = NULL;
    }
    fclose(f);
    return p;
}

static unsigned rd16(const unsigned char *p) { return p[0] | p[1] << 8; }
static unsigned rd32(const unsigned char *p) { return p[0] | p[1] << 8 | p[2] << 16 | (unsigned)p[3] << 24; }

static HICON entry_icon(const unsigned char *d, long len, unsigned i, int cx, int cy)
{
    long size = (long)(int)rd32(d + 6 + 16 * i + 8);
    long off = (long)(int)rd32(d + 6 + 16 * i + 12);
    if (off < 0 || off >= len || size <= 0)
        return NULL;
    if (off + size > len)
        size = len - off;
    return CreateIconFromResourceEx((PBYTE)d + off, (DWORD)size, TRUE, 0x00030000, cx, cy, LR_DEFAULTCOLOR);
}

static void one_file(const char *path)
{
    static const int sizes[] = {0, 16, 24, 32, 48, 64, 256};
    long len = 0;
    unsigned char *d = read_file(path, &len), *dir;
    unsigned count, i, k;
    int cursor;
    WCHAR wpath[MAX_PATH * 2];
    if (!d || len < 6) {
        printf("F 0 %s\nE\n", path);
        fflush(stdout);
        free(d);
        return;
    }
    count = rd16(d + 4);
    cursor = rd16(d + 2) == 2;
    if (6 + 16 * (long)count > len)
        count = (unsigned)((len - 6) / 16);
    printf("F %u %s\n", count, path);
    for (i = 0; i < count; i++) {
        HICON hi = entry_icon(d, len, i, 0, 0);
        int w = 0, h = 0;
        unsigned char *b, *wt;
        if (!hi || !icon_size(hi, &w, &h) || w <= 0 || h <= 0 || w > 1024 || h > 1024) {
            printf("I %u ERR %lu\n", i, GetLastError());
            if (hi)
                DestroyIcon(hi);
            fflush(stdout);
            continue;
        }
        b = draw(hi, w, h, 0);
        wt = draw(hi, w, h, 1);
        printf("I %u OK %d %d ", i, w, h);
        if (b && wt) {
            hex(b, (size_t)w * h * 4);
            putchar(' ');
            hex(wt, (size_t)w * h * 4);
        }
        putchar('\n');
        free(b);
        free(wt);
        DestroyIcon(hi);
        fflush(stdout);
    }
    dir = calloc(1, 6 + 14 * (size_t)count + 16);
    dir[2] = 1;
    dir[4] = count & 255;
    dir[5] = count >> 8;
    for (i = 0; i < count; i++) {
        memcpy(dir + 6 + 14 * i, d + 6 + 16 * i, 12);
        dir[6 + 14 * i + 12] = (i + 1) & 255;
        dir[6 + 14 * i + 13] = (i + 1) >> 8;
    }
    MultiByteToWideChar(CP_UTF8, 0, path, -1, wpath, MAX_PATH * 2);
    for (k = 0; k < sizeof sizes / sizeof sizes[0]; k++) {
        int s = sizes[k], id = 0, match = -1, dw = s, dh = s;
        HICON h;
        unsigned char *b = NULL, *wt = NULL;
        /* a cursor file's directory holds hotspots where a resource directory
           holds planes and bit counts, so only LoadImageW says what Windows picks */
        if (count && s && !cursor)
            id = LookupIconIdFromDirectoryEx(dir, TRUE, s, s, LR_DEFAULTCOLOR);
        h = (HICON)LoadImageW(NULL, wpath, cursor ? IMAGE_CURSOR : IMAGE_ICON, s, s, LR_LOADFROMFILE);
        if (h && !s && (!icon_size(h, &dw, &dh) || dw <= 0 || dh <= 0 || dw > 1024 || dh > 1024)) {
            DestroyIcon(h);
            h = NULL;
        }
        if (h) {
            b = draw(h, dw, dh, 0);
            wt = draw(h, dw, dh, 1);
            for (i = 0; i < count && match < 0 && b && wt; i++) {
                HICON e = entry_icon(d, len, i, s, s);
                unsigned char *eb, *ew;
                int ew_ = 0, eh_ = 0;
                if (!e)
                    continue;
                if (!icon_size(e, &ew_, &eh_) || ew_ != dw || eh_ != dh) {
                    DestroyIcon(e);
                    continue;
                }
                eb = draw(e, dw, dh, 0);
                ew = draw(e, dw, dh, 1);
                if (eb && ew && !memcmp(eb, b, (size_t)dw * dh * 4) && !memcmp(ew, wt, (size_t)dw * dh * 4))
                    match = (int)i;
                free(eb);
                free(ew);
                DestroyIcon(e);
            }
            printf("S %d %d OK %d %d %d ", s, id - 1, dw, dh, match);
            if (b && wt) {
                hex(b, (size_t)dw * dh * 4);
                putchar(' ');
                hex(wt, (size_t)dw * dh * 4);
            }
            putchar('\n');
            DestroyIcon(h);
        } else
            printf("S %d %d ERR %lu\n", s, id - 1, GetLastError());
        free(b);
        free(wt);
        fflush(stdout);
    }
    printf("E\n");
    fflush(stdout);
    free(dir);
    free(d);
}

int main(int argc, char **argv)
{
    FILE *jobs;
    static char line[4096];
    if (argc < 2 || !(jobs = fopen(argv[1], "r"))) {
        fprintf(stderr, "usage: wine_show.exe JOBFILE\n");
        return 2;
    }
    _setmode(_fileno(stdout), _O_BINARY);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
    dc = CreateCompatibleDC(NULL);
    while (fgets(line, sizeof line, jobs)) {
        size_t n = strlen(line);
        while (n && (line[n - 1] == '\n' || line[n - 1] == '\r'))
            line[--n] = 0;
        if (n)
            one_file(line);
    }
    fclose(jobs);
    return 0;
}
