// The engine's objects that a printer graphics DLL works with: surfaces,
// palettes, colour translation objects and brushes.
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

HBITMAP APIENTRY HostEngCreateBitmap(
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

HSURF APIENTRY HostEngCreateDeviceSurface(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat)
{
    EngSurface* s = NewSurface(sizl, iFormatCompat, STYPE_DEVICE);
    if (s)
        s->so.dhsurf = dhsurf;
    return (HSURF)s;
}

HBITMAP APIENTRY HostEngCreateDeviceBitmap(DHSURF dhsurf, SIZEL sizl, ULONG iFormatCompat)
{
    EngSurface* s = NewSurface(sizl, iFormatCompat, STYPE_DEVBITMAP);
    if (s)
        s->so.dhsurf = dhsurf;
    return (HBITMAP)s;
}

BOOL APIENTRY HostEngDeleteSurface(HSURF hsurf)
{
    EngSurface* s = SurfaceOf(hsurf);
    if (!s)
        return FALSE;
    free(s->ownBits);
    free(s);
    return TRUE;
}

BOOL APIENTRY HostEngAssociateSurface(HSURF hsurf, HDEV hdev, FLONG flHooks)
{
    EngSurface* s = SurfaceOf(hsurf);
    if (!s)
        return FALSE;
    s->so.hdev = hdev;
    s->so.dhpdev = hdev ? ((HostDevice*)hdev)->pdev : NULL;
    s->hooks = flHooks;
    return TRUE;
}

BOOL APIENTRY HostEngMarkBandingSurface(HSURF hsurf)
{
    EngSurface* s = SurfaceOf(hsurf);
    if (!s)
        return FALSE;
    s->banding = 1;
    return TRUE;
}

SURFOBJ* APIENTRY HostEngLockSurface(HSURF hsurf)
{
    EngSurface* s = SurfaceOf(hsurf);
    return s ? &s->so : NULL;
}

VOID APIENTRY HostEngUnlockSurface(SURFOBJ*) { }

BOOL APIENTRY HostEngEraseSurface(SURFOBJ* pso, RECTL* prcl, ULONG iColor)
{
    if (!pso || !pso->pvScan0)
        return FALSE;
    RECTL all = {0, 0, pso->sizlBitmap.cx, pso->sizlBitmap.cy};
    FillRect(pso, prcl ? prcl : &all, iColor);
    return TRUE;
}

// ---- Palettes and colour translation -----------------------------------------

HPALETTE APIENTRY HostEngCreatePalette(
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

BOOL APIENTRY HostEngDeletePalette(HPALETTE hpal)
{
    EngPalette* p = PaletteOf(hpal);
    if (!p)
        return FALSE;
    free(p->colors);
    free(p);
    return TRUE;
}

ULONG APIENTRY HostXLATEOBJ_iXlate(XLATEOBJ* pxlo, ULONG iColor)
{
    return TranslateColor(pxlo, iColor);
}

ULONG* APIENTRY HostXLATEOBJ_piVector(XLATEOBJ* pxlo)
{
    return pxlo && (pxlo->flXlate & XO_TABLE) ? pxlo->pulXlate : NULL;
}

ULONG APIENTRY HostXLATEOBJ_cGetPalette(XLATEOBJ* pxlo, ULONG iPal, ULONG cPal, ULONG* pPal)
{
    if (!pxlo)
        return 0;
    const HostXlate* x = (const HostXlate*)pxlo;
    int src = iPal == XO_SRCPALETTE || iPal == XO_SRCBITFIELDS;
    const EngPalette* p = src ? x->src : x->dst;
    ULONG format = src ? x->srcFormat : x->dstFormat;
    if (iPal == XO_SRCBITFIELDS || iPal == XO_DESTBITFIELDS) {
        // Red, green and blue masks; BGR formats have fixed ones.
        ULONG masks[3] = {0xFF0000, 0xFF00, 0xFF};
        if (p && p->mode == PAL_BITFIELDS) {
            masks[0] = p->red;
            masks[1] = p->green;
            masks[2] = p->blue;
        } else if (p && p->mode != PAL_BGR) {
            return 0;
        } else if (format == BMF_16BPP) {
            masks[0] = 0x7C00;
            masks[1] = 0x3E0;
            masks[2] = 0x1F;
        }
        if (!pPal)
            return 3;
        if (cPal < 3)
            return 0;
        memcpy(pPal, masks, sizeof(masks));
        return 3;
    }
    if (!p || p->mode != PAL_INDEXED)
        return 0;
    if (!pPal)
        return p->count;
    ULONG n = cPal < p->count ? cPal : p->count;
    memcpy(pPal, p->colors, n * sizeof(ULONG));
    return n;
}

// ---- Brushes -------------------------------------------------------------------

ULONG APIENTRY HostBRUSHOBJ_ulGetBrushColor(BRUSHOBJ* pbo)
{
    return pbo ? pbo->iSolidColor : 0xFFFFFFFF;
}

// Brush realizations live until the process ends: the engine never makes
// non-solid brushes, so a driver asks for few of them.
PVOID APIENTRY HostBRUSHOBJ_pvAllocRbrush(BRUSHOBJ* pbo, ULONG cj)
{
    if (!pbo)
        return NULL;
    pbo->pvRbrush = calloc(1, cj ? cj : 1);
    return pbo->pvRbrush;
}

PVOID APIENTRY HostBRUSHOBJ_pvGetRbrush(BRUSHOBJ* pbo)
{
    return pbo ? pbo->pvRbrush : NULL;
}

