// The engine callbacks a printer graphics DLL imports from GDI32, which
// Wine's gdi32 does not have: surfaces, palettes, clipping, colour
// translation, brushes, semaphores and string helpers. Drawing is limited to
// bit block transfers; paths, text and fonts are not provided.
#include "driver_host.h"

#include <stdlib.h>
#include <string.h>

EngSurface* SurfaceOf(HSURF h)
{
    return (EngSurface*)h;
}

EngPalette* PaletteOf(HPALETTE h)
{
    return (EngPalette*)h;
}

// ---- Surfaces --------------------------------------------------------------

static EngSurface* NewSurface(SIZEL sizl, ULONG format, USHORT type)
{
    EngSurface* s = (EngSurface*)calloc(1, sizeof(EngSurface));
    if (!s)
        return NULL;
    s->so.hsurf = (HSURF)s;
    s->so.sizlBitmap = sizl;
    s->so.iBitmapFormat = format;
    s->so.iType = type;
    s->so.iUniq = 1;
    return s;
}

static HBITMAP APIENTRY HostEngCreateBitmap(
    SIZEL sizl, LONG lWidth, ULONG iFormat, FLONG fl, PVOID pvBits)
{
    int bits = FormatBits(iFormat);
    if (!bits || sizl.cx <= 0 || sizl.cy <= 0)
        return NULL;
    LONGLONG minStride = ((LONGLONG)sizl.cx * bits + 31) / 32 * 4;
    LONGLONG stride = lWidth >= minStride ? lWidth : minStride;
    if (!pvBits)
        stride = minStride;
    LONGLONG size = stride * sizl.cy;
    if (size > 0x7FFFFFFF)
        return NULL;
    EngSurface* s = NewSurface(sizl, iFormat, STYPE_BITMAP);
    if (!s)
        return NULL;
    if (!pvBits) {
        s->ownBits = (fl & BMF_NOZEROINIT) ? malloc((size_t)size) : calloc(1, (size_t)size);
        if (!s->ownBits) {
            free(s);
            return NULL;
        }
        pvBits = s->ownBits;
    }
    s->so.pvBits = pvBits;
    s->so.cjBits = (ULONG)size;
    if (fl & BMF_TOPDOWN) {
        s->so.pvScan0 = pvBits;
        s->so.lDelta = (LONG)stride;
    } else {
        s->so.pvScan0 = (BYTE*)pvBits + (size - stride);
        s->so.lDelta = -(LONG)stride;
        s->so.fjBitmap = 0;
    }
    if (fl & BMF_TOPDOWN)
        s->so.fjBitmap = BMF_TOPDOWN;
    return (HBITMAP)s;
}

static HSURF APIENTRY HostEngCreateDeviceSurface(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat)
{
    EngSurface* s = NewSurface(sizl, iFormatCompat, STYPE_DEVICE);
    if (s)
        s->so.dhsurf = dhsurf;
    return (HSURF)s;
}

static HBITMAP APIENTRY HostEngCreateDeviceBitmap(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat)
{
    EngSurface* s = NewSurface(sizl, iFormatCompat, STYPE_DEVBITMAP);
    if (s)
        s->so.dhsurf = dhsurf;
    return (HBITMAP)s;
}

static BOOL APIENTRY HostEngDeleteSurface(HSURF hsurf)
{
    EngSurface* s = SurfaceOf(hsurf);
    if (!s)
        return FALSE;
    free(s->ownBits);
    free(s);
    return TRUE;
}

static BOOL APIENTRY HostEngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks)
{
    EngSurface* s = SurfaceOf(hsurf);
    if (!s)
        return FALSE;
    s->so.hdev = hdev;
    s->so.dhpdev = hdev ? ((HostDevice*)hdev)->pdev : NULL;
    s->hooks = flHooks;
    return TRUE;
}

static BOOL APIENTRY HostEngMarkBandingSurface(HSURF hsurf)
{
    EngSurface* s = SurfaceOf(hsurf);
    if (!s)
        return FALSE;
    s->banding = 1;
    return TRUE;
}

static SURFOBJ* APIENTRY HostEngLockSurface(HSURF hsurf)
{
    EngSurface* s = SurfaceOf(hsurf);
    return s ? &s->so : NULL;
}

static VOID APIENTRY HostEngUnlockSurface(SURFOBJ*) { }

static BOOL APIENTRY HostEngEraseSurface(SURFOBJ* pso, RECTL* prcl, ULONG iColor)
{
    if (!pso || !pso->pvScan0)
        return FALSE;
    RECTL all = {0, 0, pso->sizlBitmap.cx, pso->sizlBitmap.cy};
    FillRect(pso, prcl ? prcl : &all, iColor);
    return TRUE;
}

// ---- Bit block transfers -----------------------------------------------------

static const RECTL* ClipRect(CLIPOBJ* pco)
{
    return pco && pco->iDComplexity != DC_TRIVIAL ? &pco->rclBounds : NULL;
}

static BOOL APIENTRY HostEngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco,
    XLATEOBJ* pxlo, RECTL* prclDest, POINTL* pptlSrc)
{
    if (!psoDest || !psoSrc || !prclDest || !pptlSrc)
        return FALSE;
    RECTL src = {pptlSrc->x, pptlSrc->y, pptlSrc->x + (prclDest->right - prclDest->left),
        pptlSrc->y + (prclDest->bottom - prclDest->top)};
    return BlitBits(psoDest, psoSrc, prclDest, &src, pxlo, ClipRect(pco));
}

static BOOL APIENTRY HostEngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
    XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo,
    POINTL* pptlBrush, ROP4 rop4)
{
    (void)psoMask, (void)pptlMask, (void)pptlBrush;
    if (!psoTrg || !prclTrg)
        return FALSE;
    if (rop4 == 0xCCCC)
        return HostEngCopyBits(psoTrg, psoSrc, pco, pxlo, prclTrg, pptlSrc);
    RECTL r = *prclTrg;
    const RECTL* c = ClipRect(pco);
    if (c) {
        r.left = r.left > c->left ? r.left : c->left;
        r.top = r.top > c->top ? r.top : c->top;
        r.right = r.right < c->right ? r.right : c->right;
        r.bottom = r.bottom < c->bottom ? r.bottom : c->bottom;
    }
    if (!psoTrg->pvScan0)
        return FALSE;
    if (rop4 == 0x0000 || rop4 == 0xFFFF) {
        FillRect(psoTrg, &r, rop4 ? 0xFFFFFFFF : 0);
        return TRUE;
    }
    if (rop4 == 0xF0F0 && pbo && pbo->iSolidColor != 0xFFFFFFFF) {
        FillRect(psoTrg, &r, pbo->iSolidColor);
        return TRUE;
    }
    return FALSE;
}

static BOOL APIENTRY HostEngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
    CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
    RECTL* prclSrc, POINTL* pptlMask, ULONG iMode)
{
    (void)psoMask, (void)pca, (void)pptlHTOrg, (void)pptlMask, (void)iMode;
    if (!psoDest || !psoSrc || !prclDest || !prclSrc)
        return FALSE;
    return BlitBits(psoDest, psoSrc, prclDest, prclSrc, pxlo, ClipRect(pco));
}

// ---- Palettes and colour translation -----------------------------------------

static HPALETTE APIENTRY HostEngCreatePalette(
    ULONG iMode, ULONG cColors, ULONG* pulColors, FLONG flRed, FLONG flGreen, FLONG flBlue)
{
    if (iMode == PAL_INDEXED && (!cColors || cColors > 65536 || !pulColors))
        return NULL;
    EngPalette* p = (EngPalette*)calloc(1, sizeof(EngPalette));
    if (!p)
        return NULL;
    p->mode = iMode;
    p->red = flRed;
    p->green = flGreen;
    p->blue = flBlue;
    if (iMode == PAL_INDEXED) {
        p->colors = (ULONG*)malloc(cColors * sizeof(ULONG));
        if (!p->colors) {
            free(p);
            return NULL;
        }
        memcpy(p->colors, pulColors, cColors * sizeof(ULONG));
        p->count = cColors;
    }
    return (HPALETTE)p;
}

static BOOL APIENTRY HostEngDeletePalette(HPALETTE hpal)
{
    EngPalette* p = PaletteOf(hpal);
    if (!p)
        return FALSE;
    free(p->colors);
    free(p);
    return TRUE;
}

static ULONG APIENTRY HostXLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor)
{
    return TranslateColor(pxlo, iColor);
}

static ULONG* APIENTRY HostXLATEOBJ_piVector(XLATEOBJ* pxlo)
{
    return pxlo && (pxlo->flXlate & XO_TABLE) ? pxlo->pulXlate : NULL;
}

static ULONG APIENTRY HostXLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal)
{
    if (!pxlo)
        return 0;
    const HostXlate* x = (const HostXlate*)pxlo;
    const EngPalette* p = iPal == XO_SRCPALETTE ? x->src : x->dst;
    if (!p || p->mode != PAL_INDEXED)
        return 0;
    if (!pPal)
        return p->count;
    ULONG n = cPal < p->count ? cPal : p->count;
    memcpy(pPal, p->colors, n * sizeof(ULONG));
    return n;
}

// ---- Clipping ------------------------------------------------------------------

struct HostClip {
    CLIPOBJ co;
    int done;
};

static CLIPOBJ* APIENTRY HostEngCreateClip(VOID)
{
    HostClip* c = (HostClip*)calloc(1, sizeof(HostClip));
    return c ? &c->co : NULL;
}

static VOID APIENTRY HostEngDeleteClip(CLIPOBJ* pco)
{
    free(pco);
}

// Every clip the engine hands out is a single rectangle (or none).
static ULONG APIENTRY HostCLIPOBJ_cEnumStart(
    CLIPOBJ* pco, BOOL bAll, ULONG iType, ULONG iDirection, ULONG cLimit)
{
    (void)bAll, (void)iType, (void)iDirection, (void)cLimit;
    if (!pco)
        return 0;
    ((HostClip*)pco)->done = 0;
    return 1;
}

static BOOL APIENTRY HostCLIPOBJ_bEnum(CLIPOBJ* pco, ULONG cj, ULONG* pv)
{
    ENUMRECTS* e = (ENUMRECTS*)pv;
    if (!pco || !e || cj < sizeof(ENUMRECTS))
        return FALSE;
    HostClip* c = (HostClip*)pco;
    e->c = c->done ? 0 : 1;
    if (!c->done)
        e->arcl[0] = pco->rclBounds;
    c->done = 1;
    return FALSE;
}

// ---- Brushes -------------------------------------------------------------------

static ULONG APIENTRY HostBRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo)
{
    return pbo ? pbo->iSolidColor : 0xFFFFFFFF;
}

// Brush realizations live until the process ends: the engine never makes
// non-solid brushes, so a driver asks for few of them.
static PVOID APIENTRY HostBRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj)
{
    if (!pbo)
        return NULL;
    pbo->pvRbrush = calloc(1, cj ? cj : 1);
    return pbo->pvRbrush;
}

static PVOID APIENTRY HostBRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo)
{
    return pbo ? pbo->pvRbrush : NULL;
}

// ---- Semaphores, strings, time and the device --------------------------------------

static HSEMAPHORE APIENTRY HostEngCreateSemaphore(VOID)
{
    CRITICAL_SECTION* cs = (CRITICAL_SECTION*)malloc(sizeof(CRITICAL_SECTION));
    if (cs)
        InitializeCriticalSection(cs);
    return (HSEMAPHORE)cs;
}

static VOID APIENTRY HostEngAcquireSemaphore(HSEMAPHORE hsem)
{
    if (hsem)
        EnterCriticalSection((CRITICAL_SECTION*)hsem);
}

static VOID APIENTRY HostEngReleaseSemaphore(HSEMAPHORE hsem)
{
    if (hsem)
        LeaveCriticalSection((CRITICAL_SECTION*)hsem);
}

static VOID APIENTRY HostEngDeleteSemaphore(HSEMAPHORE hsem)
{
    if (!hsem)
        return;
    DeleteCriticalSection((CRITICAL_SECTION*)hsem);
    free(hsem);
}

static BOOL APIENTRY HostEngCheckAbort(SURFOBJ*)
{
    return FALSE;
}

static VOID APIENTRY HostEngMultiByteToUnicodeN(
    LPWSTR out, ULONG maxBytes, PULONG bytesOut, PCHAR in, ULONG inBytes)
{
    int n = MultiByteToWideChar(CP_ACP, 0, in, (int)inBytes, out, (int)(maxBytes / 2));
    if (bytesOut)
        *bytesOut = n > 0 ? (ULONG)n * 2 : 0;
}

static VOID APIENTRY HostEngUnicodeToMultiByteN(
    PCHAR out, ULONG maxBytes, PULONG bytesOut, PWSTR in, ULONG inBytes)
{
    int n = WideCharToMultiByte(CP_ACP, 0, in, (int)(inBytes / 2), out, (int)maxBytes, NULL, NULL);
    if (bytesOut)
        *bytesOut = n > 0 ? (ULONG)n : 0;
}

static INT APIENTRY HostEngMultiByteToWideChar(
    UINT codePage, LPWSTR out, INT outBytes, LPSTR in, INT inBytes)
{
    int n = MultiByteToWideChar(codePage, 0, in, inBytes, out, outBytes / 2);
    return n > 0 ? n * 2 : -1;
}

static INT APIENTRY HostEngWideCharToMultiByte(
    UINT codePage, LPWSTR in, INT inBytes, LPSTR out, INT outBytes)
{
    int n = WideCharToMultiByte(codePage, 0, in, inBytes / 2, out, outBytes, NULL, NULL);
    return n > 0 ? n : -1;
}

static VOID APIENTRY HostEngGetCurrentCodePage(PUSHORT oem, PUSHORT ansi)
{
    if (oem)
        *oem = (USHORT)GetOEMCP();
    if (ansi)
        *ansi = (USHORT)GetACP();
}

static VOID APIENTRY HostEngQueryLocalTime(PENG_TIME_FIELDS ptf)
{
    SYSTEMTIME t;
    GetLocalTime(&t);
    ptf->usYear = t.wYear;
    ptf->usMonth = t.wMonth;
    ptf->usDay = t.wDay;
    ptf->usHour = t.wHour;
    ptf->usMinute = t.wMinute;
    ptf->usSecond = t.wSecond;
    ptf->usMilliseconds = t.wMilliseconds;
    ptf->usWeekday = t.wDayOfWeek;
}

static LPWSTR APIENTRY HostEngGetPrinterDataFileName(HDEV hdev)
{
    return hdev ? ((HostDevice*)hdev)->dataFile : NULL;
}

static LPWSTR APIENTRY HostEngGetDriverName(HDEV hdev)
{
    return hdev ? ((HostDevice*)hdev)->driverPath : NULL;
}

// ---- The table a driver's imports are bound from -----------------------------------

static const struct {
    const char* name;
    void* fn;
} kCallbacks[] = {
    {"BRUSHOBJ_pvAllocRbrush", (void*)HostBRUSHOBJ_pvAllocRbrush},
    {"BRUSHOBJ_pvGetRbrush", (void*)HostBRUSHOBJ_pvGetRbrush},
    {"BRUSHOBJ_ulGetBrushColor", (void*)HostBRUSHOBJ_ulGetBrushColor},
    {"CLIPOBJ_bEnum", (void*)HostCLIPOBJ_bEnum},
    {"CLIPOBJ_cEnumStart", (void*)HostCLIPOBJ_cEnumStart},
    {"EngAcquireSemaphore", (void*)HostEngAcquireSemaphore},
    {"EngAssociateSurface", (void*)HostEngAssociateSurface},
    {"EngBitBlt", (void*)HostEngBitBlt},
    {"EngCheckAbort", (void*)HostEngCheckAbort},
    {"EngCopyBits", (void*)HostEngCopyBits},
    {"EngCreateBitmap", (void*)HostEngCreateBitmap},
    {"EngCreateClip", (void*)HostEngCreateClip},
    {"EngCreateDeviceBitmap", (void*)HostEngCreateDeviceBitmap},
    {"EngCreateDeviceSurface", (void*)HostEngCreateDeviceSurface},
    {"EngCreatePalette", (void*)HostEngCreatePalette},
    {"EngCreateSemaphore", (void*)HostEngCreateSemaphore},
    {"EngDeleteClip", (void*)HostEngDeleteClip},
    {"EngDeletePalette", (void*)HostEngDeletePalette},
    {"EngDeleteSemaphore", (void*)HostEngDeleteSemaphore},
    {"EngDeleteSurface", (void*)HostEngDeleteSurface},
    {"EngEraseSurface", (void*)HostEngEraseSurface},
    {"EngGetCurrentCodePage", (void*)HostEngGetCurrentCodePage},
    {"EngGetDriverName", (void*)HostEngGetDriverName},
    {"EngGetPrinterDataFileName", (void*)HostEngGetPrinterDataFileName},
    {"EngLockSurface", (void*)HostEngLockSurface},
    {"EngMarkBandingSurface", (void*)HostEngMarkBandingSurface},
    {"EngMultiByteToUnicodeN", (void*)HostEngMultiByteToUnicodeN},
    {"EngMultiByteToWideChar", (void*)HostEngMultiByteToWideChar},
    {"EngQueryLocalTime", (void*)HostEngQueryLocalTime},
    {"EngReleaseSemaphore", (void*)HostEngReleaseSemaphore},
    {"EngStretchBlt", (void*)HostEngStretchBlt},
    {"EngUnicodeToMultiByteN", (void*)HostEngUnicodeToMultiByteN},
    {"EngUnlockSurface", (void*)HostEngUnlockSurface},
    {"EngWideCharToMultiByte", (void*)HostEngWideCharToMultiByte},
    {"XLATEOBJ_cGetPalette", (void*)HostXLATEOBJ_cGetPalette},
    {"XLATEOBJ_iXlate", (void*)HostXLATEOBJ_iXlate},
    {"XLATEOBJ_piVector", (void*)HostXLATEOBJ_piVector},
};

void* FindEngineCallback(const char* name)
{
    for (const auto& c : kCallbacks)
        if (strcmp(c.name, name) == 0)
            return c.fn;
    return NULL;
}

int IsEngineName(const char* name)
{
    static const char* const kPrefixes[] = {"Eng", "BRUSHOBJ_", "CLIPOBJ_", "XLATEOBJ_", "FONTOBJ_",
        "PATHOBJ_", "STROBJ_", "XFORMOBJ_", "HT_"};
    for (const char* p : kPrefixes)
        if (strncmp(name, p, strlen(p)) == 0)
            return 1;
    return 0;
}
