// img mode through a printer's own rendering DLL: the print tool plays GDI's
// part of the DDI. It enables the driver, its PDEV and surface, starts a RAW
// spooler job whose printer handle the driver writes to (EngWritePrinter is
// WritePrinter for a user-mode driver), and puts each page's pixels onto the
// driver's surface: into an engine-managed bitmap directly, or through the
// driver's hooked DrvCopyBits, DrvBitBlt or DrvStretchBlt.
#include "driver_host.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "page_reader.h"
#include "print_output.h"
#include "strelwick.h"

// Rows of the page converted to 32-bit BGRX at a time.
static const LONG kBandRows = 64;

static const char* BaseName(const char* path)
{
    const char* b = path;
    for (const char* p = path; *p; p++)
        if (*p == '\\' || *p == '/')
            b = p + 1;
    return b;
}

int FindOwnDriver(const char* printer, DRIVER_INFO_3A** info)
{
    *info = NULL;
    HANDLE h = NULL;
    if (!printer || !OpenPrinterA((LPSTR)printer, &h, NULL))
        return 0;
    DWORD needed = 0;
    GetPrinterDriverA(h, NULL, 3, NULL, 0, &needed);
    BYTE* buf = needed ? (BYTE*)calloc(1, needed) : NULL;
    int ok = buf && GetPrinterDriverA(h, NULL, 3, buf, needed, &needed);
    ClosePrinter(h);
    DRIVER_INFO_3A* di = (DRIVER_INFO_3A*)buf;
    if (!ok || !di->pDriverPath || _stricmp(BaseName(di->pDriverPath), "wineps.drv") == 0) {
        free(buf);
        return 0;
    }
    *info = di;
    return 1;
}

// ---- The driver's entry points -----------------------------------------------

struct DriverCalls {
    PFN_DrvEnablePDEV enablePdev;
    PFN_DrvCompletePDEV completePdev;
    PFN_DrvEnableSurface enableSurface;
    PFN_DrvDisableSurface disableSurface;
    PFN_DrvDisablePDEV disablePdev;
    PFN_DrvDisableDriver disableDriver;
    PFN_DrvStartDoc startDoc;
    PFN_DrvEndDoc endDoc;
    PFN_DrvStartPage startPage;
    PFN_DrvSendPage sendPage;
    PFN_DrvStartBanding startBanding;
    PFN_DrvNextBand nextBand;
    PFN_DrvCopyBits copyBits;
    PFN_DrvBitBlt bitBlt;
    PFN_DrvStretchBlt stretchBlt;
};

static void TakeCalls(const DRVENABLEDATA* ded, DriverCalls* c)
{
    memset(c, 0, sizeof(*c));
    for (ULONG i = 0; i < ded->c; i++) {
        PFN fn = ded->pdrvfn[i].pfn;
        switch (ded->pdrvfn[i].iFunc) {
        case INDEX_DrvEnablePDEV:
            c->enablePdev = (PFN_DrvEnablePDEV)(void*)fn;
            break;
        case INDEX_DrvCompletePDEV:
            c->completePdev = (PFN_DrvCompletePDEV)(void*)fn;
            break;
        case INDEX_DrvEnableSurface:
            c->enableSurface = (PFN_DrvEnableSurface)(void*)fn;
            break;
        case INDEX_DrvDisableSurface:
            c->disableSurface = (PFN_DrvDisableSurface)(void*)fn;
            break;
        case INDEX_DrvDisablePDEV:
            c->disablePdev = (PFN_DrvDisablePDEV)(void*)fn;
            break;
        case INDEX_DrvDisableDriver:
            c->disableDriver = (PFN_DrvDisableDriver)(void*)fn;
            break;
        case INDEX_DrvStartDoc:
            c->startDoc = (PFN_DrvStartDoc)(void*)fn;
            break;
        case INDEX_DrvEndDoc:
            c->endDoc = (PFN_DrvEndDoc)(void*)fn;
            break;
        case INDEX_DrvStartPage:
            c->startPage = (PFN_DrvStartPage)(void*)fn;
            break;
        case INDEX_DrvSendPage:
            c->sendPage = (PFN_DrvSendPage)(void*)fn;
            break;
        case INDEX_DrvStartBanding:
            c->startBanding = (PFN_DrvStartBanding)(void*)fn;
            break;
        case INDEX_DrvNextBand:
            c->nextBand = (PFN_DrvNextBand)(void*)fn;
            break;
        case INDEX_DrvCopyBits:
            c->copyBits = (PFN_DrvCopyBits)(void*)fn;
            break;
        case INDEX_DrvBitBlt:
            c->bitBlt = (PFN_DrvBitBlt)(void*)fn;
            break;
        case INDEX_DrvStretchBlt:
            c->stretchBlt = (PFN_DrvStretchBlt)(void*)fn;
            break;
        }
    }
}

// Everything one job through the driver holds, released by EndJob.
struct HostJob {
    const char* printer;
    HostDevice device;
    LoadedDriver dll;
    DriverCalls drv;
    HANDLE hPrinter;
    DEVMODEW* devmode;
    GDIINFO gdi;
    DEVINFO devinfo;
    HSURF patterns[HS_DDI_MAX];
    DHPDEV pdev;
    HSURF hsurf;
    EngSurface* surf;
    DWORD jobId;
    int docStarted; // DrvStartDoc succeeded
    // The page conversion band: a 32-bit top-down DIB section.
    HDC bandDc;
    HBITMAP bandBitmap;
    HGDIOBJ oldBitmap;
    BYTE* bandBits;
    LONG bandWidth;
    BYTE* bandInfo; // the current page's header, masks and colours, for slicing
};

// ---- Device mode ---------------------------------------------------------------

static int PrepareDevMode(HostJob* job, const DRIVER_INFO_3A* info)
{
    WCHAR name[256];
    MultiByteToWideChar(CP_ACP, 0, job->printer, -1, name, 256);
    const char* config = info->pConfigFile && info->pConfigFile[0] ? info->pConfigFile : NULL;
    LONG size = 0;
    if (config) {
        // DocumentProperties calls this export unchecked: Wine would crash.
        if (!DllExports(config, "DrvDocumentPropertySheets")) {
            dbg_log("driver: refusing printer %s: its configuration DLL %s does not export "
                    "DrvDocumentPropertySheets\n",
                job->printer, config);
            return 0;
        }
        size = DocumentPropertiesW(NULL, job->hPrinter, name, NULL, NULL, 0);
    }
    LONG alloc = size >= (LONG)sizeof(DEVMODEW) ? size : (LONG)sizeof(DEVMODEW);
    job->devmode = (DEVMODEW*)calloc(1, (size_t)alloc);
    if (!job->devmode) {
        dbg_log("out of memory for the device mode of %s (%d bytes)\n", job->printer, (int)alloc);
        return 0;
    }
    int fromDriver = size >= (LONG)sizeof(DEVMODEW)
        && DocumentPropertiesW(NULL, job->hPrinter, name, job->devmode, NULL, DM_OUT_BUFFER) > 0;
    if (fromDriver) {
        dbg_log("%s,DEVMODE-size=%d, DriverExtralSize=%d\n", job->printer,
            (int)job->devmode->dmSize, (int)job->devmode->dmDriverExtra);
        DumpPrinterCaps(job->devmode->dmFields);
    } else {
        dbg_log("driver: no device mode from the configuration DLL of %s; using a public one\n",
            job->printer);
        memset(job->devmode, 0, (size_t)alloc);
        lstrcpynW(job->devmode->dmDeviceName, name, CCHDEVICENAME);
        job->devmode->dmSpecVersion = DM_SPECVERSION;
        job->devmode->dmSize = sizeof(DEVMODEW);
    }
    return ApplyJobOptionsW(job->hPrinter, job->printer, name, job->devmode, alloc, fromDriver);
}

// ---- Enabling and disabling ------------------------------------------------------

static int EnableDriver(HostJob* job, const DRIVER_INFO_3A* info)
{
    const char* path = info->pDriverPath;
    MultiByteToWideChar(CP_ACP, 0, path, -1, job->device.driverPath, MAX_PATH);
    MultiByteToWideChar(
        CP_ACP, 0, info->pDataFile ? info->pDataFile : "", -1, job->device.dataFile, MAX_PATH);
    DRVENABLEDATA ded;
    if (!EnableRenderingDll(path, &job->dll, &ded))
        return 0;
    TakeCalls(&ded, &job->drv);
    const DriverCalls& d = job->drv;
    if (!d.enablePdev || !d.completePdev || !d.enableSurface || !d.disableSurface || !d.disablePdev
        || !d.startDoc || !d.endDoc || !d.startPage || !d.sendPage) {
        dbg_log("driver: %s lacks one of the DDI calls every printer driver has\n", path);
        return 0;
    }
    return 1;
}

static int EnableDevice(HostJob* job)
{
    WCHAR name[256];
    MultiByteToWideChar(CP_ACP, 0, job->printer, -1, name, 256);
    job->pdev = job->drv.enablePdev(job->devmode, NULL, HS_DDI_MAX, job->patterns, sizeof(job->gdi),
        &job->gdi, sizeof(job->devinfo), &job->devinfo, (HDEV)&job->device, name, job->hPrinter);
    if (!job->pdev) {
        dbg_log("driver: DrvEnablePDEV failed for %s\n", job->printer);
        return 0;
    }
    job->device.pdev = job->pdev;
    job->drv.completePdev(job->pdev, (HDEV)&job->device);
    job->hsurf = job->drv.enableSurface(job->pdev);
    job->surf = job->hsurf ? SurfaceOf(job->hsurf) : NULL;
    if (!job->surf) {
        dbg_log("driver: DrvEnableSurface failed for %s\n", job->printer);
        return 0;
    }
    EngSurface* s = job->surf;
    if (!s->so.hdev) {
        s->so.hdev = (HDEV)&job->device;
        s->so.dhpdev = job->pdev;
    }
    int device = s->so.iType != STYPE_BITMAP;
    if (device && !(s->hooks & (HOOK_COPYBITS | HOOK_BITBLT | HOOK_STRETCHBLT))) {
        dbg_log("driver: the device surface of %s hooks none of DrvCopyBits, DrvBitBlt, "
                "DrvStretchBlt\n",
            job->printer);
        return 0;
    }
    if (!device && (!s->so.pvScan0 || !FormatBits(s->so.iBitmapFormat))) {
        dbg_log("driver: the surface of %s has a format this host cannot draw on (%lu)\n",
            job->printer, (unsigned long)s->so.iBitmapFormat);
        return 0;
    }
    if (s->banding && (!job->drv.startBanding || !job->drv.nextBand)) {
        dbg_log("driver: %s marks a banding surface but lacks DrvStartBanding/DrvNextBand\n",
            job->printer);
        return 0;
    }
    dbg_log("driver: page %lux%lu pixels at %lux%lu dpi; %s surface %ldx%ld, %d bpp%s\n",
        job->gdi.ulHorzRes, job->gdi.ulVertRes, job->gdi.ulLogPixelsX, job->gdi.ulLogPixelsY,
        device ? "device" : "engine", s->so.sizlBitmap.cx, s->so.sizlBitmap.cy,
        FormatBits(s->so.iBitmapFormat), s->banding ? ", banding" : "");
    return 1;
}

static void EndJob(HostJob* job, int ok)
{
    if (job->docStarted)
        job->drv.endDoc(&job->surf->so, ok ? 0 : ED_ABORTDOC);
    if (job->jobId) {
        if (ok && !EndDocPrinter(job->hPrinter)) {
            dbg_log("driver: the spooler could not finish the job: error %d\n", LastError());
            ok = 0;
        }
        if (!ok)
            AbortPrinter(job->hPrinter);
    }
    if (job->hsurf)
        job->drv.disableSurface(job->pdev);
    if (job->pdev)
        job->drv.disablePdev(job->pdev);
    if (job->dll.mod && job->drv.disableDriver)
        job->drv.disableDriver();
    UnloadRenderingDll(&job->dll);
    if (job->hPrinter)
        ClosePrinter(job->hPrinter);
    if (job->bandDc) {
        SelectObject(job->bandDc, job->oldBitmap);
        DeleteDC(job->bandDc);
    }
    if (job->bandBitmap)
        DeleteObject(job->bandBitmap);
    free(job->devmode);
    free(job->bandInfo);
}

// ---- Pages ---------------------------------------------------------------------------

static int MakeBand(HostJob* job, LONG width)
{
    if (job->bandBitmap && job->bandWidth >= width)
        return 1;
    if (job->bandDc) {
        SelectObject(job->bandDc, job->oldBitmap);
        DeleteObject(job->bandBitmap);
        job->bandBitmap = NULL;
    } else {
        job->bandDc = CreateCompatibleDC(NULL);
        if (!job->bandDc)
            return 0;
    }
    BITMAPINFO bmi;
    memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(bmi.bmiHeader);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -kBandRows;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    job->bandBitmap = CreateDIBSection(job->bandDc, &bmi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!job->bandBitmap)
        return 0;
    job->oldBitmap = SelectObject(job->bandDc, job->bandBitmap);
    job->bandBits = (BYTE*)bits;
    job->bandWidth = width;
    return 1;
}

// Hands rows [y, y + rows) of the page, converted into the band, to the
// driver's device surface through whichever blit it hooks. y is in surface
// coordinates.
static int BlitToDevice(HostJob* job, LONG y, LONG width, LONG rows)
{
    SURFOBJ src;
    memset(&src, 0, sizeof(src));
    src.sizlBitmap.cx = width;
    src.sizlBitmap.cy = rows;
    src.iBitmapFormat = BMF_32BPP;
    src.iType = STYPE_BITMAP;
    src.pvBits = src.pvScan0 = job->bandBits;
    src.lDelta = job->bandWidth * 4;
    src.fjBitmap = BMF_TOPDOWN;
    SURFOBJ* dst = &job->surf->so;
    HostXlate xlate;
    MakeXlate(&xlate, NULL, BMF_32BPP, PaletteOf(job->devinfo.hpalDefault), dst->iBitmapFormat);
    CLIPOBJ clip;
    memset(&clip, 0, sizeof(clip));
    clip.iDComplexity = DC_RECT;
    clip.rclBounds = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    RECTL to = {0, y, width, y + rows};
    RECTL from = {0, 0, width, rows};
    POINTL at = {0, 0};
    FLONG hooks = job->surf->hooks;
    if (hooks & HOOK_COPYBITS)
        return job->drv.copyBits(dst, &src, &clip, &xlate.xo, &to, &at);
    if (hooks & HOOK_BITBLT)
        return job->drv.bitBlt(
            dst, &src, NULL, &clip, &xlate.xo, &to, &at, NULL, NULL, NULL, 0xCCCC);
    return job->drv.stretchBlt(
        dst, &src, NULL, &clip, &xlate.xo, NULL, NULL, &to, &from, NULL, COLORONCOLOR);
}

// Converts page rows [y, y + rows) into the band as 32-bit BGRX. An
// uncompressed page is handed to StretchDIBits as a DIB of just those rows
// (a copy of its header with their height, and a pointer to them), which
// leaves no doubt about where the source rectangle lies; a compressed one
// is drawn whole, clipped to them.
static int ConvertRows(HostJob* job, const BmpPage* page, LONG width, LONG y, LONG rows)
{
    const BYTE* pixels = page->dib + page->pixelOffset;
    const DibHeader& h = page->hdr;
    int ok;
    if (h.biCompression == BI_RGB || h.biCompression == BI_BITFIELDS) {
        BITMAPINFOHEADER* info = (BITMAPINFOHEADER*)job->bandInfo;
        size_t stride = ((size_t)h.biWidth * h.biBitCount + 31) / 32 * 4;
        int topDown = h.biHeight < 0;
        info->biHeight = topDown ? -rows : rows;
        info->biSizeImage = 0;
        const BYTE* first = pixels + stride * (size_t)(topDown ? y : page->height - y - rows);
        ok = StretchDIBits(job->bandDc, 0, 0, width, rows, 0, 0, width, rows, first,
            (const BITMAPINFO*)info, DIB_RGB_COLORS, SRCCOPY);
    } else {
        ok = StretchDIBits(job->bandDc, 0, -y, h.biWidth, page->height, 0, 0, h.biWidth,
            page->height, pixels, (const BITMAPINFO*)page->dib, DIB_RGB_COLORS, SRCCOPY);
    }
    if (!ok)
        dbg_log("StretchDIBits failed: %d\n", LastError());
    return ok != 0;
}

// Puts the part of the page that falls on the surface, whose top-left corner
// is at `origin` on the page, onto it. Returns the page rows drawn, or -1.
static LONG DrawPageOnSurface(HostJob* job, const BmpPage* page, POINTL origin)
{
    SURFOBJ* so = &job->surf->so;
    int device = so->iType != STYPE_BITMAP;
    EngPalette* pal = PaletteOf(job->devinfo.hpalDefault);
    ColorTarget target
        = {pal, so->iBitmapFormat == BMF_1BPP && (job->devinfo.flGraphicsCaps & GCAPS_HALFTONE)};
    if (!device) {
        RECTL all = {0, 0, so->sizlBitmap.cx, so->sizlBitmap.cy};
        FillRect(so, &all, DeviceColor(pal, so->iBitmapFormat, 0xFFFFFF));
    }
    LONG width = page->hdr.biWidth;
    LONG pageW = (LONG)job->gdi.ulHorzRes, pageH = (LONG)job->gdi.ulVertRes;
    if (pageW > 0 && width > pageW)
        width = pageW;
    LONG top = origin.y > 0 ? origin.y : 0;
    LONG bottom = origin.y + so->sizlBitmap.cy;
    if (bottom > page->height)
        bottom = page->height;
    if (pageH > 0 && bottom > pageH)
        bottom = pageH;
    if (width <= 0 || top >= bottom)
        return 0;
    for (LONG y = top; y < bottom; y += kBandRows) {
        LONG rows = bottom - y < kBandRows ? bottom - y : kBandRows;
        if (!ConvertRows(job, page, width, y, rows))
            return -1;
        if (device) {
            if (!BlitToDevice(job, y - origin.y, width, rows)) {
                dbg_log("driver: its blit onto the device surface failed\n");
                return -1;
            }
        } else {
            WriteRgbRows(so, &target, -origin.x, y - origin.y, job->bandBits, width, rows,
                job->bandWidth * 4);
        }
    }
    return bottom - top;
}

// One page: DrvStartPage, the pixels (band by band for a banding driver),
// then DrvSendPage (or the last DrvNextBand).
static int PrintPage(HostJob* job, const BmpPage* page)
{
    SURFOBJ* so = &job->surf->so;
    free(job->bandInfo);
    job->bandInfo = (BYTE*)malloc((size_t)page->pixelOffset);
    if (!job->bandInfo || !MakeBand(job, page->hdr.biWidth)) {
        dbg_log("out of memory.\n");
        return 0;
    }
    memcpy(job->bandInfo, page->dib, (size_t)page->pixelOffset);
    if (!job->drv.startPage(so)) {
        dbg_log("driver: DrvStartPage failed\n");
        return 0;
    }
    LONG lines = 0;
    if (!job->surf->banding) {
        lines = DrawPageOnSurface(job, page, POINTL {0, 0});
        if (lines < 0)
            return 0;
        if (!job->drv.sendPage(so)) {
            dbg_log("driver: DrvSendPage failed\n");
            return 0;
        }
    } else {
        POINTL band = {0, 0};
        if (!job->drv.startBanding(so, &band)) {
            dbg_log("driver: DrvStartBanding failed\n");
            return 0;
        }
        while (band.x != -1 || band.y != -1) {
            LONG n = DrawPageOnSurface(job, page, band);
            if (n < 0)
                return 0;
            lines += n;
            if (!job->drv.nextBand(so, &band)) {
                dbg_log("driver: DrvNextBand failed\n");
                return 0;
            }
        }
    }
    dbg_log("copy %ld scanline\n", lines);
    return 1;
}

// Pages until the input ends or a page is bad, as on the GDI path: both end
// the document normally. Returns 0 when the driver failed.
static int PrintPages(HostJob* job)
{
    PageReader* reader = StartPageReader();
    int ok = 1;
    for (;;) {
        unsigned char fileHeader[kFileHeaderSize];
        BmpPage page;
        if (!ReadFileHeader(reader, fileHeader) || !ReadBmpPage(reader, fileHeader, &page))
            break;
        ok = PrintPage(job, &page) && !OutputFailed();
        free(page.dib);
        if (!ok)
            break;
    }
    StopPageReader(reader);
    return ok;
}

int HostPrintImages(const char* printer, const DRIVER_INFO_3A* info)
{
    HostJob job;
    memset(&job, 0, sizeof(job));
    job.printer = printer;
    dbg_log("driver: printing on %s through %s\n", printer, info->pDriverPath);
    if (!OpenPrinterA((LPSTR)printer, &job.hPrinter, NULL)) {
        dbg_log("failed to open printer:%s,error=%d\n", printer, LastError());
        return 0;
    }
    int ok = CheckRenderingDll(info->pDriverPath) && PrepareDevMode(&job, info)
        && EnableDriver(&job, info) && EnableDevice(&job);
    WCHAR docName[256];
    JobDocumentName(docName, 256);
    if (ok) {
        DOC_INFO_1W doc = {docName, NULL, (LPWSTR)L"RAW"};
        job.jobId = StartDocPrinterW(job.hPrinter, 1, (LPBYTE)&doc);
        if (!job.jobId) {
            dbg_log("failed to call StartDoc:%d\n", LastError());
            ok = 0;
        }
    }
    if (ok) {
        job.docStarted = job.drv.startDoc(&job.surf->so, docName, job.jobId);
        if (!job.docStarted) {
            dbg_log("driver: DrvStartDoc failed\n");
            ok = 0;
        }
    }
    if (ok)
        ok = PrintPages(&job);
    EndJob(&job, ok);
    return ok;
}
