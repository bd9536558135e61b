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
        record;
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
    if (!WritePrinter(p->printer, (void*)data, n, &written) || written != n)
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
static HPALETTE MakePalette(Pdev* p)
{
    int bpp = p->opt.device ? 24 : p->opt.bpp;
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
    int bpp = p->opt.device ? 24 : p->opt.bpp;
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
    gdi->ulHTOutputFormat = bpp == 1 ? HT_FORMAT_1BPP : HT_FORMAT_24BPP;
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
        p->hsurf = EngCreateDeviceSurface((DHSURF)p, size, BMF_24BPP);
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
    return p->bandTop < p->height || !p->capture || p->collate || Repeat(p);
}

// Copies 32-bit BGRX source pixels onto the device page; the engine must
// hand them over untranslated for this device's BGR palette.
static BOOL CopyToDevice(
    SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* clip, XLATEOBJ* xlo, const RECTL* to, const POINTL* from)
{
    Pdev* p = PdevOf(dst);
    if (!p || !p->page || !src || src->iBitmapFormat != BMF_32BPP
        || (xlo && !(xlo->flXlate & XO_TRIVIAL)))
        return FALSE;
    RECTL r = *to;
    if (clip && clip->iDComplexity != DC_TRIVIAL) {
        r.left = r.left > clip->rclBounds.left ? r.left : clip->rclBounds.left;
        r.top = r.top > clip->rclBounds.top ? r.top : clip->rclBounds.top;
        r.right = r.right < clip->rclBounds.right ? r.right : clip->rclBounds.right;
        r.bottom = r.bottom < clip->rclBounds.bottom ? r.bottom : clip->rclBounds.bottom;
    }
    if (r.left < 0 || r.top < 0 || r.right > p->width || r.bottom > p->height)
        return FALSE;
    for (LONG y = r.top; y < r.bottom; y++) {
        const BYTE* s = (const BYTE*)src->pvScan0 + (LONG_PTR)(from->y + y - to->top) * src->lDelta
            + 4 * (from->x + r.left - to->left);
        BYTE* d = p->page + ((size_t)y * p->width + r.left) * 3;
        for (LONG x = r.left; x < r.right; x++, s += 4, d += 3) {
            d[0] = s[2];
            d[1] = s[1];
            d[2] = s[0];
        }
    }
    return TRUE;
}

static BOOL APIENTRY TdrvCopyBits(
    SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* clip, XLATEOBJ* xlo, RECTL* to, POINTL* from)
{
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
// The variant that needs text and path callbacks the host does not provide.
extern "C" __declspec(dllexport) BOOL APIENTRY
    DrvTextOut(SURFOBJ* so, STROBJ* str, FONTOBJ* font, CLIPOBJ* clip, RECTL* extra, RECTL* opaque,
        BRUSHOBJ* fore, BRUSHOBJ* back, POINTL* org, MIX mix)
{
    return EngTextOut(so, str, font, clip, extra, opaque, fore, back, org, mix);
}

extern "C" __declspec(dllexport) VOID APIENTRY DrvEnumPath(PATHOBJ* path)
{
    PATHOBJ_vEnumStart(path);
}
#endif
