// The page and band loop of the driver host: each page's rows are converted
// to 32-bit BGRX a band at a time and put onto the driver's surface, into an
// engine-managed bitmap directly or through the driver's hooked blits.
#include "driver_host.h"

#include <stdlib.h>
#include <string.h>

#include "strelwick.h"

// The conversion band: about 16 MiB of 32-bit BGRX rows, so that a driver
// given the band through its hooked blit sees long runs to compress.
// STRELWICK_BAND_BYTES sets another size (at least one row), for
// measurements and tests.
static const LONG kBandBytes = 16 << 20;

static LONG BandRowsFor(LONG width)
{
    LONG bytes = kBandBytes;
    const char* env = getenv("STRELWICK_BAND_BYTES");
    if (env && atol(env) > 0)
        bytes = atol(env);
    LONG rows = bytes / (width * 4);
    return rows > 0 ? rows : 1;
}

static int MakeBand(HostJob* job, LONG width, LONG pageRows)
{
    LONG rows = BandRowsFor(width);
    if (rows > pageRows)
        rows = pageRows > 0 ? pageRows : 1;
    if (job->bandBitmap && job->bandWidth >= width && job->bandRows >= rows)
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
    bmi.bmiHeader.biHeight = -rows;
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    void* bits = NULL;
    job->bandBitmap = CreateDIBSection(job->bandDc, &bmi, DIB_RGB_COLORS, &bits, NULL, 0);
    if (!job->bandBitmap)
        return 0;
    job->oldBitmap = SelectObject(job->bandDc, job->bandBitmap);
    job->bandBits = (BYTE*)bits;
    job->bandWidth = width;
    job->bandRows = rows;
    return 1;
}

// The band's rows [0, rows) as a 32-bit top-down engine bitmap.
static SURFOBJ BandSurface(HostJob* job, LONG width, LONG rows)
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
    return src;
}

// Hands rows [y, y + rows) of the page, converted into the band, to the
// driver's device surface through whichever blit it hooks. y is in surface
// coordinates.
static int BlitToDevice(HostJob* job, LONG y, LONG width, LONG rows)
{
    SURFOBJ src = BandSurface(job, width, rows);
    SURFOBJ* dst = &job->surf->so;
    HostXlate xlate;
    MakeXlate(&xlate, NULL, BMF_32BPP, PaletteOf(job->devinfo.hpalDefault), dst->iBitmapFormat);
    HostClip clip;
    RECTL all = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    MakeRectClip(&clip, &all);
    RECTL to = {0, y, width, y + rows};
    RECTL from = {0, 0, width, rows};
    POINTL at = {0, 0};
    FLONG hooks = job->surf->hooks;
    BOOL ok;
    if (hooks & HOOK_COPYBITS) {
        DriverCallBegin("DrvCopyBits");
        ok = job->drv.copyBits(dst, &src, &clip.co, &xlate.xo, &to, &at);
    } else if (hooks & HOOK_BITBLT) {
        DriverCallBegin("DrvBitBlt");
        ok = job->drv.bitBlt(
            dst, &src, NULL, &clip.co, &xlate.xo, &to, &at, NULL, NULL, NULL, 0xCCCC);
    } else {
        DriverCallBegin("DrvStretchBlt");
        ok = job->drv.stretchBlt(
            dst, &src, NULL, &clip.co, &xlate.xo, NULL, NULL, &to, &from, NULL, COLORONCOLOR);
    }
    DriverCallEnd();
    return ok;
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
    ColorTarget target = {pal};
    // A driver that asks for halftoning gets it on every surface below 24 bpp,
    // in the halftone format of its GDIINFO.
    int halftone = !device && (job->devinfo.flGraphicsCaps & GCAPS_HALFTONE)
        && FormatBits(so->iBitmapFormat) < 24;
    HtFormat ht;
    if (halftone)
        HalftoneFormatFor(&job->gdi, so->iBitmapFormat, &ht);
    job->device.bandOrigin = origin;
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
    for (LONG y = top; y < bottom; y += job->bandRows) {
        LONG rows = bottom - y < job->bandRows ? bottom - y : job->bandRows;
        if (!ConvertRows(job, page, width, y, rows))
            return -1;
        if (device) {
            if (!BlitToDevice(job, y - origin.y, width, rows)) {
                dbg_log("driver: its blit onto the device surface failed\n");
                return -1;
            }
        } else if (halftone) {
            SURFOBJ src = BandSurface(job, width, rows);
            RECTL to = {-origin.x, y - origin.y, width - origin.x, y - origin.y + rows};
            RECTL from = {0, 0, width, rows};
            StretchOnto(so, &src, NULL, NULL, &to, &from, HALFTONE, &ht, pal, origin);
        } else {
            WriteRgbRows(so, &target, -origin.x, y - origin.y, job->bandBits, width, rows,
                job->bandWidth * 4);
        }
    }
    return bottom - top;
}

// Calls one of the driver's page calls under the watchdog.
static BOOL PageCall(const char* name, BOOL(APIENTRY* fn)(SURFOBJ*), SURFOBJ* so)
{
    DriverCallBegin(name);
    BOOL ok = fn(so);
    DriverCallEnd();
    if (!ok)
        dbg_log("driver: %s failed\n", name);
    return ok;
}

static BOOL BandCall(const char* name, BOOL(APIENTRY* fn)(SURFOBJ*, POINTL*), SURFOBJ* so,
    POINTL* band)
{
    DriverCallBegin(name);
    BOOL ok = fn(so, band);
    DriverCallEnd();
    if (!ok)
        dbg_log("driver: %s failed\n", name);
    return ok;
}

// Whether a band the driver asked for can be drawn: it must overlap the
// page, and a page needs only so many bands (a driver may ask for a band
// more than once, so the bound is generous). Logs why not.
static int BandFits(HostJob* job, POINTL band, LONG count)
{
    const SIZEL& size = job->surf->so.sizlBitmap;
    LONG pageW = (LONG)job->gdi.ulHorzRes, pageH = (LONG)job->gdi.ulVertRes;
    if (band.x >= pageW || band.y >= pageH || band.x + size.cx <= 0 || band.y + size.cy <= 0) {
        dbg_log("driver: it asked for a band at (%ld,%ld), off its %ldx%ld page; ending the job\n",
            band.x, band.y, pageW, pageH);
        return 0;
    }
    LONG across = (pageW + size.cx - 1) / size.cx, down = (pageH + size.cy - 1) / size.cy;
    LONG limit = 4 * (across + 1) * (down + 1) + 16;
    if (count > limit) {
        dbg_log("driver: it asked for %ld bands on a page that needs %ld; ending the job\n", count,
            across * down);
        return 0;
    }
    return 1;
}

int PrintPage(HostJob* job, const BmpPage* page)
{
    SURFOBJ* so = &job->surf->so;
    free(job->bandInfo);
    job->bandInfo = (BYTE*)malloc((size_t)page->pixelOffset);
    if (!job->bandInfo || !MakeBand(job, page->hdr.biWidth, page->height)) {
        dbg_log("out of memory.\n");
        return 0;
    }
    memcpy(job->bandInfo, page->dib, (size_t)page->pixelOffset);
    if (!PageCall("DrvStartPage", job->drv.startPage, so))
        return 0;
    LONG lines = 0;
    if (!job->surf->banding) {
        lines = DrawPageOnSurface(job, page, POINTL {0, 0});
        if (lines < 0 || !PageCall("DrvSendPage", job->drv.sendPage, so))
            return 0;
    } else {
        POINTL band = {0, 0};
        if (!BandCall("DrvStartBanding", job->drv.startBanding, so, &band))
            return 0;
        // The last band sets x to -1; the published contract also sets y,
        // but drivers that only set x exist.
        for (LONG count = 1; band.x != -1; count++) {
            if (!BandFits(job, band, count))
                return 0;
            LONG n = DrawPageOnSurface(job, page, band);
            if (n < 0 || !BandCall("DrvNextBand", job->drv.nextBand, so, &band))
                return 0;
            lines += n;
        }
    }
    dbg_log("copy %ld scanline\n", lines);
    return 1;
}
