// tdrv.dll: a user-mode printer graphics DLL for testing the print tool's
// driver host, written from the published DDI contract.
//
// Its printer language is binary PPM: for each page "P6\n<width> <height>\n255\n"
// and then the page's pixels as RGB bytes, top row first. The page is A4,
// Letter, Legal or A5 (dmPaperSize 9, 1, 5, 11; A4 for any other) at
// dmPrintQuality dots per inch; on Legal and A5 only the area inside a
// margin of 1/12 inch is printable, and a page is that area. With dmCopies
// above 1 it writes each page that many times, or with dmCollate the whole
// document, as a printer with a copies command would print them.
//
// Its data file (lines "key=value") picks the variant:
//   surface=engine|device   engine-managed bitmap, or a device surface
//   bpp=1|4|8|16|24|32      format of an engine-managed bitmap
//   halftone=1              1 bpp: ask the engine for a halftone
//   palette=rgb             24 or 32 bpp: an RGB palette, red in the first byte
//   widen=1                 4 bpp: read each band through an 8 bpp copy that
//                           EngCopyBits makes
//   band=<rows>             engine bitmap of this many rows, banding
//   hook=copybits|bitblt|stretchblt   what a device surface hooks
//   fail=pdev|surface|startpage   DrvEnablePDEV, DrvEnableSurface or DrvStartPage fails
//   crash=startpage         DrvStartPage writes through a null pointer
//   bpp=4 with surface=device   a 4-bpp device surface (halftone format 4 bpp,
//                           8 colours) whose DrvCopyBits punts 32-bpp sources
//                           to EngStretchBlt(HALFTONE) and takes the engine's
//                           4-bpp bitmaps through XLATEOBJ_cGetPalette
//   clip=enum               a device surface reads each blit through
//                           CLIPOBJ_bEnum one rectangle at a time, and checks
//                           the clip's path (CLIPOBJ_ppoGetPath) against it
//   bands=xonly|endless|offpage   banding: the last band sets only x to -1;
//                           bands never end; or the second band is off the page
//   hang=startpage          DrvStartPage never returns
//   writes=ignore           a failed WritePrinter does not stop the driver
//   rops=1                  before DrvSendPage writes an engine surface, it
//                           draws on it through EngBitBlt: a blue square
//                           (pattern copy) at (0,0), the next 10x10 inverted,
//                           and below both a red source through a mask that
//                           covers its left half; 20x10 pixels
//   blend=1                 likewise: a grey gradient (0..20, 0..10) from
//                           black to white, left to right; red at half alpha
//                           (0..20, 10..20); a red-and-green source with green
//                           transparent (0..20, 20..30); and a blue 10x10
//                           source through EngPlgBlt at (20, 0)
//   answered=1              DrvStartPage calls text and font engine functions
//                           a bitmap job never needs, and fails unless each
//                           answers its failure value
//   record=1                DrvStartDoc first writes one line with what the
//                           device mode and the document name asked for:
//                           "TDRV paper=9 dpi=300x300 duplex=1 bin=1 color=2
//                           media=1 copies=1 collate=0 doc=<UTF-8 name>\n"
//
// Like many drivers it steps through an engine bitmap by the stride Windows
// gives one (rows padded to 4 bytes), not by the surface's lDelta.
//
// As a user-mode driver it writes with WritePrinter and allocates with
// HeapAlloc where a kernel-mode one would use EngWritePrinter and EngAllocMem.
#include <windows.h>
#include <winddi.h>
#include <winspool.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct Options {
    int device, bpp, halftone, band, hooks, failPdev, failSurface, failStartPage, crashStartPage,
        record, clipEnum, bandsXOnly, bandsEndless, bandsOffPage, hangStartPage, answered, rops,
        blend, ignoreWrites;
    int rgbPalette, widen;
};

struct Pdev {
    Options opt;
    HANDLE printer;
    HDEV hdev;
    HPALETTE pal;
    ULONG palColors[256]; // 0x00BBGGRR
    ULONG palCount;
    LONG width, height, dpi;
    char asked[128]; // what the device mode asked for, for record=1
    int copies, collate;
    HANDLE capture; // copies > 1: the output of the page or document to repeat
    HSURF hsurf;
    BYTE* page; // device surface: RGB, top row first
    LONG bandTop;
    BYTE* row; // one output row, RGB
};

static void* Alloc(size_t n)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, n);
}

static void Free(void* p)
{
    if (p)
        HeapFree(GetProcessHeap(), 0, p);
}

static int Write(Pdev* p, const void* data, DWORD n)
{
    DWORD written = 0;
    if ((!WritePrinter(p->printer, (void*)data, n, &written) || written != n)
        && !p->opt.ignoreWrites)
        return 0;
    return !p->capture || (WriteFile(p->capture, data, n, &written, NULL) && written == n);
}

// Writes the captured output copies - 1 more times and starts a new capture.
static int Repeat(Pdev* p)
{
    HANDLE c = p->capture;
    BYTE* buf = (BYTE*)Alloc(65536);
    int ok = c && buf;
    p->capture = NULL;
    for (int i = 1; ok && i < p->copies; i++) {
        SetFilePointer(c, 0, NULL, FILE_BEGIN);
        DWORD got = 0;
        while (ok && ReadFile(c, buf, 65536, &got, NULL) && got)
            ok = Write(p, buf, got);
    }
    Free(buf);
    SetFilePointer(c, 0, NULL, FILE_BEGIN);
    SetEndOfFile(c);
    p->capture = c;
    return ok;
}

static void ReadOptions(HDEV hdev, Options* o)
{
    memset(o, 0, sizeof(*o));
    o->bpp = 24;
    o->hooks = HOOK_COPYBITS;
    char text[512] = "";
    LPWSTR path = EngGetPrinterDataFileName(hdev);
    HANDLE f = path ? CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, 0, NULL)
                    : INVALID_HANDLE_VALUE;
    if (f != INVALID_HANDLE_VALUE) {
        DWORD got = 0;
        ReadFile(f, text, sizeof(text) - 1, &got, NULL);
        text[got] = 0;
        CloseHandle(f);
    }
    for (char* line = strtok(text, "\r\n"); line; line = strtok(NULL, "\r\n")) {
        char* eq = strchr(line, '=');
        if (!eq)
            continue;
        *eq = 0;
        const char* v = eq + 1;
        if (!strcmp(line, "surface"))
            o->device = !strcmp(v, "device");
        else if (!strcmp(line, "bpp"))
            o->bpp = atoi(v);
        else if (!strcmp(line, "halftone"))
            o->halftone = atoi(v);
        else if (!strcmp(line, "band"))
            o->band = atoi(v);
        else if (!strcmp(line, "hook"))
            o->hooks = !strcmp(v, "bitblt") ? HOOK_BITBLT
                : !strcmp(v, "stretchblt")  ? HOOK_STRETCHBLT
                                            : HOOK_COPYBITS;
        else if (!strcmp(line, "fail")) {
            o->failPdev = !strcmp(v, "pdev");
            o->failSurface = !strcmp(v, "surface");
            o->failStartPage = !strcmp(v, "startpage");
        } else if (!strcmp(line, "crash"))
            o->crashStartPage = !strcmp(v, "startpage");
        else if (!strcmp(line, "record"))
            o->record = atoi(v);
        else if (!strcmp(line, "clip"))
            o->clipEnum = !strcmp(v, "enum");
        else if (!strcmp(line, "bands")) {
            o->bandsXOnly = !strcmp(v, "xonly");
            o->bandsEndless = !strcmp(v, "endless");
            o->bandsOffPage = !strcmp(v, "offpage");
        } else if (!strcmp(line, "hang"))
            o->hangStartPage = !strcmp(v, "startpage");
        else if (!strcmp(line, "writes"))
            o->ignoreWrites = !strcmp(v, "ignore");
        else if (!strcmp(line, "answered"))
            o->answered = atoi(v);
        else if (!strcmp(line, "rops"))
            o->rops = atoi(v);
        else if (!strcmp(line, "blend"))
            o->blend = atoi(v);
        else if (!strcmp(line, "palette"))
            o->rgbPalette = !strcmp(v, "rgb");
        else if (!strcmp(line, "widen"))
            o->widen = atoi(v);
    }
}

static ULONG Format(int bpp)
{
    switch (bpp) {
    case 1:
        return BMF_1BPP;
    case 4:
        return BMF_4BPP;
    case 8:
        return BMF_8BPP;
    case 16:
        return BMF_16BPP;
    case 32:
        return BMF_32BPP;
    }
    return BMF_24BPP;
}

// The device palette: black and white; 16 colours; a 6x6x6 cube and 40
// greys; 5-6-5 bit fields; or BGR.
// A device surface is 24 bpp, or 4 bpp when asked.
static int SurfaceBits(const Options& o)
{
    return o.device && o.bpp != 4 ? 24 : o.bpp;
}

static HPALETTE MakePalette(Pdev* p)
{
    int bpp = SurfaceBits(p->opt);
    ULONG n = 0;
    if (bpp == 1) {
        p->palColors[n++] = 0x000000;
        p->palColors[n++] = 0xFFFFFF;
    } else if (bpp == 4) {
        for (int i = 0; i < 8; i++)
            p->palColors[n++] = (i & 1 ? 0xFF : 0) | (i & 2 ? 0xFF00 : 0) | (i & 4 ? 0xFF0000 : 0);
        for (int i = 0; i < 8; i++)
            p->palColors[n++] = (i & 1 ? 0x80 : 0) | (i & 2 ? 0x8000 : 0) | (i & 4 ? 0x800000 : 0)
                | (i == 0 ? 0xC0C0C0 : 0);
    } else if (bpp == 8) {
        for (int r = 0; r < 6; r++)
            for (int g = 0; g < 6; g++)
                for (int b = 0; b < 6; b++)
                    p->palColors[n++]
                        = (ULONG)(r * 51) | (ULONG)(g * 51) << 8 | (ULONG)(b * 51) << 16;
        for (int i = 0; i < 40; i++) {
            ULONG v = (ULONG)(i * 255 / 39);
            p->palColors[n++] = v | v << 8 | v << 16;
        }
    }
    p->palCount = n;
    if (n)
        return EngCreatePalette(PAL_INDEXED, n, p->palColors, 0, 0, 0);
    if (bpp == 16)
        return EngCreatePalette(PAL_BITFIELDS, 0, NULL, 0xF800, 0x07E0, 0x001F);
    if (p->opt.rgbPalette && !p->opt.device)
        return EngCreatePalette(PAL_RGB, 0, NULL, 0, 0, 0);
    return EngCreatePalette(PAL_BGR, 0, NULL, 0, 0, 0);
}

// 0x00RRGGBB of pixel x of a surface row of `bpp` bits a pixel, under the
// device palette.
static ULONG SurfaceRgb(Pdev* p, int bpp, const BYTE* row, LONG x)
{
    ULONG v;
    switch (bpp) {
    case 1:
        v = row[x >> 3] >> (7 - (x & 7)) & 1;
        break;
    case 4:
        v = row[x >> 1] >> (x & 1 ? 0 : 4) & 0xF;
        break;
    case 8:
        v = row[x];
        break;
    case 16: {
        v = row[2 * x] | row[2 * x + 1] << 8;
        ULONG r = v >> 11, g = v >> 5 & 0x3F, b = v & 0x1F;
        return (r * 255 / 31) << 16 | (g * 255 / 63) << 8 | b * 255 / 31;
    }
    case 32:
        v = *(const ULONG*)(row + 4 * x) & 0xFFFFFF;
        return p->opt.rgbPalette ? (v & 0xFF) << 16 | (v & 0xFF00) | v >> 16 : v;
    default:
        v = row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
        return p->opt.rgbPalette ? (v & 0xFF) << 16 | (v & 0xFF00) | v >> 16 : v;
    }
    ULONG c = v < p->palCount ? p->palColors[v] : 0;
    return (c & 0xFF) << 16 | (c & 0xFF00) | c >> 16;
}

static int WriteHeader(Pdev* p)
{
    char head[64];
    int n = snprintf(head, sizeof(head), "P6\n%ld %ld\n255\n", p->width, p->height);
    return Write(p, head, (DWORD)n);
}

// Row y of an engine bitmap of `bpp` bits a pixel, as Windows lays one out.
static const BYTE* BitmapRow(SURFOBJ* so, int bpp, LONG y)
{
    LONG stride = (so->sizlBitmap.cx * bpp + 31) / 32 * 4;
    return (const BYTE*)so->pvScan0 + (LONG_PTR)y * (so->lDelta < 0 ? -stride : stride);
}

static int WriteRows(Pdev* p, SURFOBJ* so, int bpp, LONG rows)
{
    for (LONG y = 0; y < rows; y++) {
        const BYTE* src = BitmapRow(so, bpp, y);
        for (LONG x = 0; x < p->width; x++) {
            ULONG c = SurfaceRgb(p, bpp, src, x);
            p->row[3 * x] = (BYTE)(c >> 16);
            p->row[3 * x + 1] = (BYTE)(c >> 8);
            p->row[3 * x + 2] = (BYTE)c;
        }
        if (!Write(p, p->row, (DWORD)p->width * 3))
            return 0;
    }
    return 1;
}

// Engine functions only text and path calls reach: each must answer its
// failure value, and calling them must not crash.
static int AnsweredAsFailures()
{
    ULONG count = 5;
    PGLYPHPOS pos = (PGLYPHPOS)1;
    HGLYPH glyph = 0;
    return FONTOBJ_cGetGlyphs(NULL, FO_GLYPHBITS, 1, &glyph, NULL) == 0 && !FONTOBJ_pifi(NULL)
        && !STROBJ_bEnum(NULL, &count, &pos) && count == 0 && !pos
        && !EngTextOut(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0)
        && !EngStrokePath(NULL, NULL, NULL, NULL, NULL, NULL, NULL, 0);
}

// Draws the rops=1 figures on a 24-bpp engine surface through EngBitBlt.
static int DrawRops(SURFOBJ* so)
{
    BRUSHOBJ blue;
    memset(&blue, 0, sizeof(blue));
    blue.iSolidColor = 0x0000FF; // BGR device colour
    RECTL square = {0, 0, 10, 10}, inverted = {10, 0, 20, 10}, masked = {0, 10, 20, 20};
    SIZEL size = {20, 10};
    HSURF red = (HSURF)EngCreateBitmap(size, 0, BMF_24BPP, BMF_TOPDOWN, NULL);
    HSURF mask = (HSURF)EngCreateBitmap(size, 0, BMF_1BPP, BMF_TOPDOWN, NULL);
    SURFOBJ* rs = red ? EngLockSurface(red) : NULL;
    SURFOBJ* ms = mask ? EngLockSurface(mask) : NULL;
    int ok = rs && ms;
    for (LONG y = 0; ok && y < 10; y++) {
        BYTE* r = (BYTE*)rs->pvScan0 + y * rs->lDelta;
        for (LONG x = 0; x < 20; x++)
            r[3 * x + 2] = 0xFF;
        ((BYTE*)ms->pvScan0 + y * ms->lDelta)[0] = 0xFF; // pixels 0..9: 1
        ((BYTE*)ms->pvScan0 + y * ms->lDelta)[1] = 0xC0;
    }
    POINTL zero = {0, 0};
    ok = ok && EngBitBlt(so, NULL, NULL, NULL, NULL, &square, NULL, NULL, &blue, &zero, 0xF0F0)
        && EngBitBlt(so, NULL, NULL, NULL, NULL, &inverted, NULL, NULL, NULL, NULL, 0x5555)
        && EngBitBlt(so, rs, ms, NULL, NULL, &masked, &zero, &zero, NULL, NULL, 0xAACC);
    if (rs)
        EngUnlockSurface(rs);
    if (ms)
        EngUnlockSurface(ms);
    if (red)
        EngDeleteSurface(red);
    if (mask)
        EngDeleteSurface(mask);
    return ok;
}

// A 24-bpp 20x10 engine bitmap: left half `left`, right half `right` (BGR).
static HSURF TwoColours(ULONG left, ULONG right, LONG w)
{
    SIZEL size = {w, 10};
    HSURF h = (HSURF)EngCreateBitmap(size, 0, BMF_24BPP, BMF_TOPDOWN, NULL);
    SURFOBJ* so = h ? EngLockSurface(h) : NULL;
    for (LONG y = 0; so && y < 10; y++)
        for (LONG x = 0; x < w; x++) {
            BYTE* d = (BYTE*)so->pvScan0 + y * so->lDelta + 3 * x;
            ULONG c = x < w / 2 ? left : right;
            d[0] = (BYTE)c;
            d[1] = (BYTE)(c >> 8);
            d[2] = (BYTE)(c >> 16);
        }
    if (so)
        EngUnlockSurface(so);
    return h;
}

// Draws the blend=1 figures on a 24-bpp engine surface.
static int DrawBlends(SURFOBJ* so)
{
    TRIVERTEX v[2] = {{0, 0, 0, 0, 0, 0}, {20, 10, 0xFF00, 0xFF00, 0xFF00, 0}};
    GRADIENT_RECT gr = {0, 1};
    RECTL extent = {0, 0, 20, 10}, half = {0, 10, 20, 20}, keyed = {0, 20, 20, 30};
    RECTL src = {0, 0, 20, 10}, srcPlg = {0, 0, 10, 10};
    POINTFIX plg[3] = {{20 << 4, 0}, {30 << 4, 0}, {20 << 4, 10 << 4}};
    BLENDOBJ blend;
    memset(&blend, 0, sizeof(blend));
    blend.BlendFunction.SourceConstantAlpha = 128;
    HSURF red = TwoColours(0xFF0000, 0xFF0000, 20), key = TwoColours(0xFF0000, 0x00FF00, 20);
    HSURF blue = TwoColours(0x0000FF, 0x0000FF, 10);
    SURFOBJ* rs = red ? EngLockSurface(red) : NULL;
    SURFOBJ* ks = key ? EngLockSurface(key) : NULL;
    SURFOBJ* bs = blue ? EngLockSurface(blue) : NULL;
    int ok = rs && ks && bs
        && EngGradientFill(so, NULL, NULL, v, 2, &gr, 1, &extent, NULL, GRADIENT_FILL_RECT_H)
        && EngAlphaBlend(so, rs, NULL, NULL, &half, &src, &blend)
        && EngTransparentBlt(so, ks, NULL, NULL, &keyed, &src, 0x00FF00, 0)
        && EngPlgBlt(so, bs, NULL, NULL, NULL, NULL, NULL, plg, &srcPlg, NULL, COLORONCOLOR);
    SURFOBJ* locked[] = {rs, ks, bs};
    HSURF made[] = {red, key, blue};
    for (int i = 0; i < 3; i++) {
        if (locked[i])
            EngUnlockSurface(locked[i]);
        if (made[i])
            EngDeleteSurface(made[i]);
    }
    return ok;
}

// widen=1: the rows through an 8 bpp copy of the same palette indices.
static int WriteWidenedRows(Pdev* p, SURFOBJ* so, LONG rows)
{
    SIZEL size = {p->width, rows};
    HSURF h = (HSURF)EngCreateBitmap(size, 0, BMF_8BPP, BMF_TOPDOWN, NULL);
    SURFOBJ* wide = h ? EngLockSurface(h) : NULL;
    RECTL to = {0, 0, p->width, rows};
    POINTL from = {0, 0};
    int ok = wide && EngCopyBits(wide, so, NULL, NULL, &to, &from) && WriteRows(p, wide, 8, rows);
    if (wide)
        EngUnlockSurface(wide);
    if (h)
        EngDeleteSurface(h);
    return ok;
}

// Writes surface rows [0, rows) as page rows.
static int WriteSurfaceRows(Pdev* p, SURFOBJ* so, LONG rows)
{
    if (p->opt.widen && p->opt.bpp == 4)
        return WriteWidenedRows(p, so, rows);
    return WriteRows(p, so, p->opt.bpp, rows);
}

// ---- DDI entry points ----------------------------------------------------------------

extern "C" __declspec(dllexport) BOOL APIENTRY
    DrvQueryDriverInfo(DWORD mode, PVOID buf, DWORD cb, PDWORD needed)
{
    if (needed)
        *needed = sizeof(DWORD);
    if (mode != DRVQUERY_USERMODE || !buf || cb < sizeof(DWORD))
        return FALSE;
    *(DWORD*)buf = TRUE;
    return TRUE;
}

static DHPDEV APIENTRY TdrvEnablePDEV(DEVMODEW* dm, LPWSTR, ULONG, HSURF*, ULONG cjCaps,
    GDIINFO* gdi, ULONG cjDevInfo, DEVINFO* di, HDEV hdev, LPWSTR, HANDLE printer)
{
    if (cjCaps < sizeof(GDIINFO) || cjDevInfo < sizeof(DEVINFO))
        return NULL;
    Pdev* p = (Pdev*)Alloc(sizeof(Pdev));
    if (!p)
        return NULL;
    ReadOptions(hdev, &p->opt);
    if (p->opt.failPdev) {
        Free(p);
        return NULL;
    }
    p->printer = printer;
    p->dpi = dm && (dm->dmFields & DM_PRINTQUALITY) && dm->dmPrintQuality > 0 ? dm->dmPrintQuality
                                                                              : 300;
    short paper = dm && (dm->dmFields & DM_PAPERSIZE) ? dm->dmPaperSize : DMPAPER_A4;
    LONG wmm10 = 2100, hmm10 = 2970, margin = 0;
    if (paper == DMPAPER_LETTER || paper == DMPAPER_LEGAL) {
        wmm10 = 2159;
        hmm10 = paper == DMPAPER_LEGAL ? 3556 : 2794;
    } else if (paper == DMPAPER_A5) {
        wmm10 = 1480;
        hmm10 = 2100;
    }
    if (paper == DMPAPER_LEGAL || paper == DMPAPER_A5)
        margin = p->dpi / 12;
    LONG physW = wmm10 * p->dpi / 254, physH = hmm10 * p->dpi / 254;
    p->width = physW - 2 * margin;
    p->height = physH - 2 * margin;
    p->copies = dm && (dm->dmFields & DM_COPIES) && dm->dmCopies > 1 ? dm->dmCopies : 1;
    p->collate = dm && (dm->dmFields & DM_COLLATE) && dm->dmCollate == DMCOLLATE_TRUE;
    if (dm)
        snprintf(p->asked, sizeof(p->asked),
            "paper=%d dpi=%dx%d duplex=%d bin=%d color=%d media=%lu copies=%d collate=%d",
            dm->dmPaperSize, dm->dmPrintQuality, dm->dmYResolution, dm->dmDuplex,
            dm->dmDefaultSource, dm->dmColor, (unsigned long)dm->dmMediaType, dm->dmCopies,
            dm->dmCollate);
    p->pal = MakePalette(p);
    p->row = (BYTE*)Alloc((size_t)p->width * 3);
    if (!p->pal || !p->row) {
        Free(p->row);
        Free(p);
        return NULL;
    }
    int bpp = SurfaceBits(p->opt);
    memset(gdi, 0, sizeof(*gdi));
    gdi->ulVersion = GDI_DRIVER_VERSION;
    gdi->ulTechnology = DT_RASPRINTER;
    gdi->ulHorzSize = (ULONG)wmm10 / 10;
    gdi->ulVertSize = (ULONG)hmm10 / 10;
    gdi->ulHorzRes = (ULONG)p->width;
    gdi->ulVertRes = (ULONG)p->height;
    gdi->cBitsPixel = (ULONG)bpp;
    gdi->cPlanes = 1;
    gdi->ulNumColors = bpp <= 8 ? 1u << bpp : (ULONG)-1;
    gdi->ulLogPixelsX = gdi->ulLogPixelsY = (ULONG)p->dpi;
    gdi->ulAspectX = gdi->ulAspectY = 100;
    gdi->ulAspectXY = 141;
    gdi->szlPhysSize.cx = physW;
    gdi->szlPhysSize.cy = physH;
    gdi->ptlPhysOffset.x = gdi->ptlPhysOffset.y = margin;
    gdi->ulHTOutputFormat = bpp == 1 ? HT_FORMAT_1BPP
        : bpp == 4                   ? HT_FORMAT_4BPP
                                     : HT_FORMAT_24BPP;
    gdi->ulHTPatternSize = HT_PATSIZE_8x8_M;
    gdi->flHTFlags = HT_FLAG_HAS_BLACK_DYE;
    memset(di, 0, sizeof(*di));
    di->flGraphicsCaps = p->opt.halftone ? GCAPS_HALFTONE : 0;
    di->iDitherFormat = Format(bpp);
    di->hpalDefault = p->pal;
    return (DHPDEV)p;
}

static VOID APIENTRY TdrvCompletePDEV(DHPDEV dhpdev, HDEV hdev)
{
    ((Pdev*)dhpdev)->hdev = hdev;
}

static HSURF APIENTRY TdrvEnableSurface(DHPDEV dhpdev)
{
    Pdev* p = (Pdev*)dhpdev;
    if (p->opt.failSurface)
        return NULL;
    SIZEL size = {p->width, p->opt.band > 0 && !p->opt.device ? p->opt.band : p->height};
    if (p->opt.device) {
        p->page = (BYTE*)Alloc((size_t)p->width * p->height * 3);
        if (!p->page)
            return NULL;
        p->hsurf = EngCreateDeviceSurface((DHSURF)p, size, Format(SurfaceBits(p->opt)));
        if (!p->hsurf || !EngAssociateSurface(p->hsurf, p->hdev, (FLONG)p->opt.hooks))
            return NULL;
        return p->hsurf;
    }
    // 24 bpp is top-down, the other formats bottom-up: the host must honour both.
    FLONG fl = p->opt.bpp == 24 ? BMF_TOPDOWN : 0;
    p->hsurf = (HSURF)EngCreateBitmap(size, 0, Format(p->opt.bpp), fl, NULL);
    if (!p->hsurf || !EngAssociateSurface(p->hsurf, p->hdev, 0))
        return NULL;
    if (p->opt.band > 0 && !EngMarkBandingSurface(p->hsurf))
        return NULL;
    return p->hsurf;
}

static VOID APIENTRY TdrvDisableSurface(DHPDEV dhpdev)
{
    Pdev* p = (Pdev*)dhpdev;
    if (p->hsurf)
        EngDeleteSurface(p->hsurf);
    p->hsurf = NULL;
    Free(p->page);
    p->page = NULL;
}

static VOID APIENTRY TdrvDisablePDEV(DHPDEV dhpdev)
{
    Pdev* p = (Pdev*)dhpdev;
    if (p->capture)
        CloseHandle(p->capture);
    EngDeletePalette(p->pal);
    Free(p->row);
    Free(p);
}

static VOID APIENTRY TdrvDisableDriver(VOID) { }

static Pdev* PdevOf(SURFOBJ* so)
{
    return (Pdev*)(so->iType == STYPE_BITMAP ? so->dhpdev : (DHPDEV)so->dhsurf);
}

static BOOL APIENTRY TdrvStartDoc(SURFOBJ* so, LPWSTR docName, DWORD)
{
    Pdev* p = PdevOf(so);
    if (!p)
        return FALSE;
    if (p->opt.record) {
        char name[1024] = "";
        if (docName)
            WideCharToMultiByte(CP_UTF8, 0, docName, -1, name, sizeof(name), NULL, NULL);
        char line[1200];
        int n = snprintf(line, sizeof(line), "TDRV %s doc=%s\n", p->asked, name);
        if (!Write(p, line, (DWORD)n))
            return FALSE;
    }
    if (p->copies > 1) {
        WCHAR dir[MAX_PATH], path[MAX_PATH];
        if (!GetTempPathW(MAX_PATH, dir) || !GetTempFileNameW(dir, L"tdr", 0, path))
            return FALSE;
        p->capture = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
            FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, NULL);
        if (p->capture == INVALID_HANDLE_VALUE) {
            p->capture = NULL;
            return FALSE;
        }
    }
    return TRUE;
}

static BOOL APIENTRY TdrvEndDoc(SURFOBJ* so, FLONG fl)
{
    Pdev* p = PdevOf(so);
    int ok = !p || !p->capture || !p->collate || (fl & ED_ABORTDOC) || Repeat(p);
    if (p && p->capture) {
        CloseHandle(p->capture);
        p->capture = NULL;
    }
    return ok;
}

static BOOL APIENTRY TdrvStartPage(SURFOBJ* so)
{
    Pdev* p = (Pdev*)so->dhpdev;
    if (!p)
        p = (Pdev*)so->dhsurf;
    if (p->opt.crashStartPage)
        *(volatile int*)NULL = 1;
    if (p->opt.failStartPage)
        return FALSE;
    while (p->opt.hangStartPage)
        Sleep(1000);
    if (p->opt.answered && !AnsweredAsFailures())
        return FALSE;
    if (p->page)
        memset(p->page, 0xFF, (size_t)p->width * p->height * 3);
    return TRUE;
}

static BOOL APIENTRY TdrvSendPage(SURFOBJ* so)
{
    Pdev* p = PdevOf(so);
    if (!p)
        return FALSE;
    if (!WriteHeader(p))
        return FALSE;
    if (!p->page && ((p->opt.rops && !DrawRops(so)) || (p->opt.blend && !DrawBlends(so))))
        return FALSE;
    int ok = p->page ? Write(p, p->page, (DWORD)(p->width * p->height * 3))
                     : WriteSurfaceRows(p, so, p->height);
    return ok && (!p->capture || p->collate || Repeat(p));
}

static BOOL APIENTRY TdrvStartBanding(SURFOBJ* so, POINTL* ptl)
{
    Pdev* p = PdevOf(so);
    if (!p || !WriteHeader(p))
        return FALSE;
    p->bandTop = 0;
    ptl->x = 0;
    ptl->y = 0;
    return TRUE;
}

static BOOL APIENTRY TdrvNextBand(SURFOBJ* so, POINTL* ptl)
{
    Pdev* p = PdevOf(so);
    LONG rows = p->height - p->bandTop < p->opt.band ? p->height - p->bandTop : p->opt.band;
    if (!WriteSurfaceRows(p, so, rows))
        return FALSE;
    p->bandTop += rows;
    ptl->x = p->bandTop < p->height ? 0 : -1;
    ptl->y = p->bandTop < p->height ? p->bandTop : -1;
    if (p->opt.bandsXOnly && ptl->x == -1)
        ptl->y = p->bandTop; // a driver that leaves y as it was
    if (p->opt.bandsEndless)
        ptl->x = ptl->y = 0;
    if (p->opt.bandsOffPage && ptl->x != -1)
        ptl->y = p->height + 10;
    return p->bandTop < p->height || !p->capture || p->collate || Repeat(p);
}

// The rectangles of a clip, read one at a time with CLIPOBJ_bEnum; with
// check, the clip's path must outline the same area. Returns the count, or
// -1 when the two disagree.
static int ReadClip(CLIPOBJ* clip, RECTL* out, int room, int check)
{
    struct {
        ULONG c;
        RECTL arcl[1];
    } one;
    CLIPOBJ_cEnumStart(clip, FALSE, CT_RECTANGLES, CD_RIGHTDOWN, 0);
    int n = 0;
    BOOL more;
    do {
        more = CLIPOBJ_bEnum(clip, sizeof(one), (ULONG*)&one);
        if (one.c && n < room)
            out[n++] = one.arcl[0];
    } while (more);
    if (!check)
        return n;
    PATHOBJ* path = CLIPOBJ_ppoGetPath(clip);
    if (!path)
        return -1;
    LONGLONG area = 0, pathArea = 0;
    for (int i = 0; i < n; i++)
        area += (LONGLONG)(out[i].right - out[i].left) * (out[i].bottom - out[i].top);
    PATHOBJ_vEnumStart(path);
    PATHDATA pd;
    do {
        more = PATHOBJ_bEnum(path, &pd);
        // Shoelace area of each closed figure, in whole pixels.
        LONGLONG twice = 0;
        for (ULONG i = 0; i < pd.count; i++) {
            const POINTFIX& a = pd.pptfx[i];
            const POINTFIX& b = pd.pptfx[(i + 1) % pd.count];
            twice += (LONGLONG)(a.x >> 4) * (b.y >> 4) - (LONGLONG)(b.x >> 4) * (a.y >> 4);
        }
        pathArea += (twice < 0 ? -twice : twice) / 2;
    } while (more);
    EngDeletePath(path);
    return pathArea == area ? n : -1;
}

// Copies source pixels onto the device page: 32-bit BGRX untranslated (this
// device's palette is BGR), or the engine's 4-bpp halftone through the
// source palette the XLATEOBJ gives.
static BOOL CopyToDevice(
    SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* clip, XLATEOBJ* xlo, const RECTL* to, const POINTL* from)
{
    Pdev* p = PdevOf(dst);
    ULONG srcPal[16];
    ULONG palCount = 0;
    if (!p || !p->page || !src)
        return FALSE;
    if (src->iBitmapFormat == BMF_4BPP) {
        palCount = xlo ? XLATEOBJ_cGetPalette(xlo, XO_SRCPALETTE, 16, srcPal) : 0;
        if (!palCount)
            return FALSE;
    } else if (src->iBitmapFormat != BMF_32BPP || (xlo && !(xlo->flXlate & XO_TRIVIAL))) {
        return FALSE;
    }
    RECTL rects[64];
    int n = 1;
    rects[0] = *to;
    if (clip && clip->iDComplexity != DC_TRIVIAL) {
        n = p->opt.clipEnum ? ReadClip(clip, rects, 64, 1) : 1;
        if (!p->opt.clipEnum)
            rects[0] = clip->rclBounds;
        if (n < 0)
            return FALSE;
    }
    for (int k = 0; k < n; k++) {
        RECTL r = *to;
        r.left = r.left > rects[k].left ? r.left : rects[k].left;
        r.top = r.top > rects[k].top ? r.top : rects[k].top;
        r.right = r.right < rects[k].right ? r.right : rects[k].right;
        r.bottom = r.bottom < rects[k].bottom ? r.bottom : rects[k].bottom;
        if (r.left < 0 || r.top < 0 || r.right > p->width || r.bottom > p->height)
            return FALSE;
        for (LONG y = r.top; y < r.bottom; y++) {
            const BYTE* row = (const BYTE*)src->pvScan0 + (LONG_PTR)(from->y + y - to->top) * src->lDelta;
            BYTE* d = p->page + ((size_t)y * p->width + r.left) * 3;
            for (LONG x = r.left; x < r.right; x++, d += 3) {
                LONG sx = from->x + x - to->left;
                if (palCount) {
                    ULONG i = row[sx >> 1] >> (sx & 1 ? 0 : 4) & 0xF;
                    ULONG c = i < palCount ? srcPal[i] : 0;
                    d[0] = (BYTE)c;
                    d[1] = (BYTE)(c >> 8);
                    d[2] = (BYTE)(c >> 16);
                } else {
                    d[0] = row[4 * sx + 2];
                    d[1] = row[4 * sx + 1];
                    d[2] = row[4 * sx];
                }
            }
        }
    }
    return TRUE;
}

static BOOL APIENTRY TdrvCopyBits(
    SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* clip, XLATEOBJ* xlo, RECTL* to, POINTL* from)
{
    // A 4-bpp device takes only its own format: anything else goes back to
    // the engine to be halftoned, as a real driver for such a device does.
    if (dst->iBitmapFormat == BMF_4BPP && src && src->iBitmapFormat != BMF_4BPP) {
        RECTL fromRect = {from->x, from->y, from->x + (to->right - to->left),
            from->y + (to->bottom - to->top)};
        POINTL origin = {0, 0};
        return EngStretchBlt(
            dst, src, NULL, clip, xlo, NULL, &origin, to, &fromRect, NULL, HALFTONE);
    }
    return CopyToDevice(dst, src, clip, xlo, to, from);
}

static BOOL APIENTRY TdrvBitBlt(SURFOBJ* dst, SURFOBJ* src, SURFOBJ*, CLIPOBJ* clip, XLATEOBJ* xlo,
    RECTL* to, POINTL* from, POINTL*, BRUSHOBJ*, POINTL*, ROP4 rop4)
{
    return rop4 == 0xCCCC && CopyToDevice(dst, src, clip, xlo, to, from);
}

static BOOL APIENTRY TdrvStretchBlt(SURFOBJ* dst, SURFOBJ* src, SURFOBJ*, CLIPOBJ* clip,
    XLATEOBJ* xlo, COLORADJUSTMENT*, POINTL*, RECTL* to, RECTL* from, POINTL*, ULONG)
{
    if (to->right - to->left != from->right - from->left
        || to->bottom - to->top != from->bottom - from->top)
        return FALSE;
    POINTL at = {from->left, from->top};
    return CopyToDevice(dst, src, clip, xlo, to, &at);
}

static DRVFN g_functions[] = {
    {INDEX_DrvEnablePDEV, (PFN)(void*)TdrvEnablePDEV},
    {INDEX_DrvCompletePDEV, (PFN)(void*)TdrvCompletePDEV},
    {INDEX_DrvEnableSurface, (PFN)(void*)TdrvEnableSurface},
    {INDEX_DrvDisableSurface, (PFN)(void*)TdrvDisableSurface},
    {INDEX_DrvDisablePDEV, (PFN)(void*)TdrvDisablePDEV},
    {INDEX_DrvDisableDriver, (PFN)(void*)TdrvDisableDriver},
    {INDEX_DrvStartDoc, (PFN)(void*)TdrvStartDoc},
    {INDEX_DrvEndDoc, (PFN)(void*)TdrvEndDoc},
    {INDEX_DrvStartPage, (PFN)(void*)TdrvStartPage},
    {INDEX_DrvSendPage, (PFN)(void*)TdrvSendPage},
    {INDEX_DrvStartBanding, (PFN)(void*)TdrvStartBanding},
    {INDEX_DrvNextBand, (PFN)(void*)TdrvNextBand},
    {INDEX_DrvCopyBits, (PFN)(void*)TdrvCopyBits},
    {INDEX_DrvBitBlt, (PFN)(void*)TdrvBitBlt},
    {INDEX_DrvStretchBlt, (PFN)(void*)TdrvStretchBlt},
};

extern "C" __declspec(dllexport) BOOL APIENTRY
    DrvEnableDriver(ULONG engineVersion, ULONG cj, DRVENABLEDATA* ded)
{
    if (engineVersion < DDI_DRIVER_VERSION_NT5 || cj < sizeof(DRVENABLEDATA))
        return FALSE;
    ded->iDriverVersion = DDI_DRIVER_VERSION_NT5;
    ded->c = sizeof(g_functions) / sizeof(g_functions[0]);
    ded->pdrvfn = g_functions;
    return TRUE;
}

#ifdef TDRV_DRAWS_TEXT
// The variant that imports a function GDI32 does not export to printer
// drivers (a display driver's engine call): the host must refuse it.
extern "C" __declspec(dllexport) WNDOBJ* APIENTRY DrvTdrvWindow(SURFOBJ* so, HWND hwnd)
{
    return EngCreateWnd(so, hwnd, NULL, 0, 0);
}
#endif

// Every engine function Windows' gdi32 exports to printer graphics DLLs, so
// that this DLL imports the whole engine, as real drivers do.
extern "C" BOOL APIENTRY EngQueryEMFInfo(HDEV hdev, void* info);
extern "C" __declspec(dllexport) void* const tdrvEngine[] = {
    (void*)BRUSHOBJ_hGetColorTransform,
    (void*)BRUSHOBJ_pvAllocRbrush,
    (void*)BRUSHOBJ_pvGetRbrush,
    (void*)BRUSHOBJ_ulGetBrushColor,
    (void*)CLIPOBJ_bEnum,
    (void*)CLIPOBJ_cEnumStart,
    (void*)CLIPOBJ_ppoGetPath,
    (void*)EngAcquireSemaphore,
    (void*)EngAlphaBlend,
    (void*)EngAssociateSurface,
    (void*)EngBitBlt,
    (void*)EngCheckAbort,
    (void*)EngComputeGlyphSet,
    (void*)EngCopyBits,
    (void*)EngCreateBitmap,
    (void*)EngCreateClip,
    (void*)EngCreateDeviceBitmap,
    (void*)EngCreateDeviceSurface,
    (void*)EngCreatePalette,
    (void*)EngCreateSemaphore,
    (void*)EngDeleteClip,
    (void*)EngDeletePalette,
    (void*)EngDeletePath,
    (void*)EngDeleteSemaphore,
    (void*)EngDeleteSurface,
    (void*)EngEraseSurface,
    (void*)EngFillPath,
    (void*)EngFindResource,
    (void*)EngFreeModule,
    (void*)EngGetCurrentCodePage,
    (void*)EngGetDriverName,
    (void*)EngGetPrinterDataFileName,
    (void*)EngGradientFill,
    (void*)EngLineTo,
    (void*)EngLoadModule,
    (void*)EngLockSurface,
    (void*)EngMarkBandingSurface,
    (void*)EngMultiByteToUnicodeN,
    (void*)EngMultiByteToWideChar,
    (void*)EngPaint,
    (void*)EngPlgBlt,
    (void*)EngQueryEMFInfo,
    (void*)EngQueryLocalTime,
    (void*)EngReleaseSemaphore,
    (void*)EngStretchBlt,
    (void*)EngStretchBltROP,
    (void*)EngStrokeAndFillPath,
    (void*)EngStrokePath,
    (void*)EngTextOut,
    (void*)EngTransparentBlt,
    (void*)EngUnicodeToMultiByteN,
    (void*)EngUnlockSurface,
    (void*)EngWideCharToMultiByte,
    (void*)FONTOBJ_cGetAllGlyphHandles,
    (void*)FONTOBJ_cGetGlyphs,
    (void*)FONTOBJ_pQueryGlyphAttrs,
    (void*)FONTOBJ_pfdg,
    (void*)FONTOBJ_pifi,
    (void*)FONTOBJ_pvTrueTypeFontFile,
    (void*)FONTOBJ_pxoGetXform,
    (void*)FONTOBJ_vGetInfo,
    (void*)HT_Get8BPPFormatPalette,
    (void*)HT_Get8BPPMaskPalette,
    (void*)PALOBJ_cGetColors,
    (void*)PATHOBJ_bEnum,
    (void*)PATHOBJ_bEnumClipLines,
    (void*)PATHOBJ_vEnumStart,
    (void*)PATHOBJ_vEnumStartClipLines,
    (void*)PATHOBJ_vGetBounds,
    (void*)STROBJ_bEnum,
    (void*)STROBJ_bEnumPositionsOnly,
    (void*)STROBJ_bGetAdvanceWidths,
    (void*)STROBJ_dwGetCodePage,
    (void*)STROBJ_vEnumStart,
    (void*)XFORMOBJ_bApplyXform,
    (void*)XFORMOBJ_iGetXform,
    (void*)XLATEOBJ_cGetPalette,
    (void*)XLATEOBJ_hGetColorTransform,
    (void*)XLATEOBJ_iXlate,
    (void*)XLATEOBJ_piVector,
};
