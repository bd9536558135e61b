// EngCopyBits, EngBitBlt and EngStretchBlt(ROP) as the driver calls them:
// engine bitmaps are drawn on here; a device surface gets the source in its
// own format (halftoned when it is not 24 or 32 bpp, or HALFTONE was asked)
// through its hooked blit, which may itself have punted here.
#include "driver_host.h"

#include <string.h>

#include "strelwick.h"

// Set while the engine is inside a driver's hooked blit with a bitmap it
// made: the driver must take that one itself, or the two would call each
// other for ever.
static int g_inDriverHook;

// Where the surface's origin lies on the page, for a seamless halftone.
static POINTL PageOrigin(const SURFOBJ* so)
{
    HostDevice* d = DeviceOf(so);
    POINTL zero = {0, 0};
    return d ? d->bandOrigin : zero;
}

static BOOL CallDeviceHook(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, RECTL* area)
{
    const DriverCalls* drv = DeviceOf(dst)->drv;
    FLONG hooks = SurfaceOf(dst->hsurf)->hooks;
    POINTL zero = {0, 0};
    RECTL all = {0, 0, src->sizlBitmap.cx, src->sizlBitmap.cy};
    g_inDriverHook++;
    BOOL ok = FALSE;
    if ((hooks & HOOK_COPYBITS) && drv->copyBits)
        ok = drv->copyBits(dst, src, pco, xlo, area, &zero);
    else if ((hooks & HOOK_BITBLT) && drv->bitBlt)
        ok = drv->bitBlt(dst, src, NULL, pco, xlo, area, &zero, NULL, NULL, NULL, 0xCCCC);
    else if ((hooks & HOOK_STRETCHBLT) && drv->stretchBlt)
        ok = drv->stretchBlt(dst, src, NULL, pco, xlo, NULL, NULL, area, &all, NULL, COLORONCOLOR);
    g_inDriverHook--;
    return ok;
}

// Renders srcRect of src onto the device surface's dstRect: into a bitmap
// of the device's format (or its halftone format) covering the part that
// shows, handed to the driver's hooked blit.
static BOOL PuntToDevice(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo,
    const RECTL* dstRect, const RECTL* srcRect, ULONG mode)
{
    HostDevice* dev = DeviceOf(dst);
    if (!dev || !dev->drv || !dst->hsurf || !HasBits(src))
        return FALSE;
    if (g_inDriverHook) {
        dbg_log("driver: its hooked blit gave the engine's own bitmap back to the engine\n");
        return FALSE;
    }
    RECTL whole = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    RECTL d = *dstRect;
    if (d.left > d.right)
        d.left = dstRect->right, d.right = dstRect->left;
    if (d.top > d.bottom)
        d.top = dstRect->bottom, d.bottom = dstRect->top;
    RECTL area = Intersect(d, whole);
    if (pco && pco->iDComplexity != DC_TRIVIAL)
        area = Intersect(area, pco->rclBounds);
    if (area.left >= area.right || area.top >= area.bottom)
        return TRUE;
    const EngPalette* devPal = dev->devinfo ? PaletteOf(dev->devinfo->hpalDefault) : NULL;
    int halftone = mode == HALFTONE || FormatBits(dst->iBitmapFormat) < 24;
    HtFormat ht;
    HalftoneFormatFor(dev->gdi, dst->iBitmapFormat, &ht);
    ULONG fmt = halftone ? ht.bmf : dst->iBitmapFormat;
    SIZEL size = {area.right - area.left, area.bottom - area.top};
    HSURF temp = (HSURF)HostEngCreateBitmap(size, 0, fmt, BMF_TOPDOWN, NULL);
    if (!temp) {
        dbg_log("driver: out of memory for a %ldx%ld blit onto its device surface\n", size.cx,
            size.cy);
        return FALSE;
    }
    SURFOBJ* so = &SurfaceOf(temp)->so;
    RECTL shifted = {dstRect->left - area.left, dstRect->top - area.top,
        dstRect->right - area.left, dstRect->bottom - area.top};
    POINTL page = PageOrigin(dst);
    POINTL origin = {area.left + page.x, area.top + page.y};
    EngPalette htPal;
    HalftonePalette(&ht, &htPal);
    HostXlate hx;
    BOOL ok;
    if (halftone) {
        ok = StretchOnto(so, src, NULL, xlo, &shifted, srcRect, mode, &ht, NULL, origin);
        MakeXlate(&hx, &htPal, fmt, devPal, dst->iBitmapFormat);
    } else {
        HostXlate into;
        if (!xlo) {
            MakeXlate(&into, NULL, src->iBitmapFormat, devPal, fmt);
            xlo = &into.xo;
        }
        ok = StretchOnto(so, src, NULL, xlo, &shifted, srcRect, mode, NULL, NULL, origin);
        MakeXlate(&hx, devPal, fmt, devPal, fmt);
    }
    HostClip rectClip;
    if (!pco || pco->iDComplexity == DC_TRIVIAL) {
        MakeRectClip(&rectClip, &area);
        pco = &rectClip.co;
    }
    ok = ok && CallDeviceHook(dst, so, pco, &hx.xo, &area);
    HostEngDeleteSurface(temp);
    return ok;
}

BOOL APIENTRY HostEngCopyBits(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco,
    XLATEOBJ* pxlo, RECTL* prclDest, POINTL* pptlSrc)
{
    if (!psoDest || !psoSrc || !prclDest || !pptlSrc)
        return FALSE;
    RECTL src = {pptlSrc->x, pptlSrc->y, pptlSrc->x + (prclDest->right - prclDest->left),
        pptlSrc->y + (prclDest->bottom - prclDest->top)};
    if (!HasBits(psoDest))
        return PuntToDevice(psoDest, psoSrc, pco, pxlo, prclDest, &src, COLORONCOLOR);
    if (!HasBits(psoSrc))
        return FALSE;
    RECTL whole = {0, 0, psoDest->sizlBitmap.cx, psoDest->sizlBitmap.cy};
    for (ULONG i = 0, n = ClipRectCount(pco); i < n; i++) {
        RECTL c = ClipRectAt(pco, i, &whole);
        if (!BlitBits(psoDest, psoSrc, prclDest, &src, pxlo, &c))
            return FALSE;
    }
    return TRUE;
}

BOOL APIENTRY HostEngBitBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMask, CLIPOBJ* pco,
    XLATEOBJ* pxlo, RECTL* prclTrg, POINTL* pptlSrc, POINTL* pptlMask, BRUSHOBJ* pbo,
    POINTL* pptlBrush, ROP4 rop4)
{
    (void)pptlBrush;
    if (!psoTrg || !prclTrg)
        return FALSE;
    if ((rop4 & 0xFFFF) == 0xCCCC)
        return HostEngCopyBits(psoTrg, psoSrc, pco, pxlo, prclTrg, pptlSrc);
    return RopBlt(psoTrg, psoSrc, psoMask, pco, pxlo, prclTrg, pptlSrc, pptlMask, pbo, rop4);
}

BOOL APIENTRY HostEngStretchBlt(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
    CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
    RECTL* prclSrc, POINTL* pptlMask, ULONG iMode)
{
    (void)psoMask, (void)pca, (void)pptlHTOrg, (void)pptlMask;
    if (!psoDest || !psoSrc || !prclDest || !prclSrc)
        return FALSE;
    if (!HasBits(psoDest))
        return PuntToDevice(psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, iMode);
    POINTL origin = PageOrigin(psoDest);
    if (iMode == HALFTONE && FormatBits(psoDest->iBitmapFormat) <= 16) {
        HostDevice* dev = DeviceOf(psoDest);
        HtFormat ht;
        HalftoneFormatFor(dev ? dev->gdi : NULL, psoDest->iBitmapFormat, &ht);
        return StretchOnto(psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, iMode, &ht,
            TargetPalette(psoDest, pxlo), origin);
    }
    return StretchOnto(psoDest, psoSrc, pco, pxlo, prclDest, prclSrc, iMode, NULL, NULL, origin);
}

// A ROP other than a plain copy: the source stretched into a bitmap of the
// destination's format first, then combined.
BOOL APIENTRY HostEngStretchBltROP(SURFOBJ* psoDest, SURFOBJ* psoSrc, SURFOBJ* psoMask,
    CLIPOBJ* pco, XLATEOBJ* pxlo, COLORADJUSTMENT* pca, POINTL* pptlHTOrg, RECTL* prclDest,
    RECTL* prclSrc, POINTL* pptlMask, ULONG iMode, BRUSHOBJ* pbo, DWORD rop4)
{
    if ((rop4 & 0xFFFF) == 0xCCCC)
        return HostEngStretchBlt(psoDest, psoSrc, NULL, pco, pxlo, pca, pptlHTOrg, prclDest,
            prclSrc, pptlMask, iMode);
    if (!HasBits(psoDest) || !prclDest)
        return FALSE;
    ULONG fg = rop4 & 0xFF;
    int needSrc = (((fg >> 2) ^ fg) & 0x33) || ((((rop4 >> 8) & 0xFF) >> 2 ^ (rop4 >> 8)) & 0x33);
    if (!needSrc) {
        POINTL zero = {0, 0};
        return RopBlt(psoDest, NULL, psoMask, pco, NULL, prclDest, &zero, pptlMask, pbo,
            (ROP4)rop4);
    }
    if (!psoSrc || !prclSrc)
        return FALSE;
    SIZEL size = {prclDest->right - prclDest->left, prclDest->bottom - prclDest->top};
    if (size.cx <= 0 || size.cy <= 0)
        return TRUE;
    HSURF temp = (HSURF)HostEngCreateBitmap(size, 0, psoDest->iBitmapFormat, BMF_TOPDOWN, NULL);
    if (!temp)
        return FALSE;
    SURFOBJ* so = &SurfaceOf(temp)->so;
    so->hdev = psoDest->hdev;
    RECTL all = {0, 0, size.cx, size.cy};
    POINTL zero = {0, 0};
    BOOL ok = HostEngStretchBlt(so, psoSrc, NULL, NULL, pxlo, pca, pptlHTOrg, &all, prclSrc,
                  NULL, iMode)
        && RopBlt(psoDest, so, psoMask, pco, NULL, prclDest, &zero, pptlMask, pbo, (ROP4)rop4);
    HostEngDeleteSurface(temp);
    return ok;
}
