// The engine's bit block transfers: EngBitBlt with any ROP4 on engine
// bitmaps, EngCopyBits and EngStretchBlt(ROP) between all formats, and the
// punt onto a device surface: the engine renders the source in the device's
// format (halftoned when the device is not 24 or 32 bpp, or HALFTONE was
// asked) and hands it to the driver's hooked DrvCopyBits, DrvBitBlt or
// DrvStretchBlt with the XLATEOBJ that describes it, as GDI does.
#include "driver_host.h"

#include <stdlib.h>
#include <string.h>

#include "strelwick.h"

int HasBits(const SURFOBJ* so)
{
    return so && so->pvScan0 && FormatBits(so->iBitmapFormat);
}

RECTL Intersect(RECTL a, const RECTL& b)
{
    a.left = a.left > b.left ? a.left : b.left;
    a.top = a.top > b.top ? a.top : b.top;
    a.right = a.right < b.right ? a.right : b.right;
    a.bottom = a.bottom < b.bottom ? a.bottom : b.bottom;
    return a;
}

static RECTL Ordered(const RECTL* r)
{
    RECTL o = *r;
    if (o.left > o.right) {
        o.left = r->right;
        o.right = r->left;
    }
    if (o.top > o.bottom) {
        o.top = r->bottom;
        o.bottom = r->top;
    }
    return o;
}

HostDevice* DeviceOf(const SURFOBJ* so)
{
    return so ? (HostDevice*)so->hdev : NULL;
}

// The palette a destination's colours are in: the XLATEOBJ's target when
// the engine made one, else the device's.
const EngPalette* TargetPalette(const SURFOBJ* dst, XLATEOBJ* xlo)
{
    if (xlo && ((const HostXlate*)xlo)->dst)
        return ((const HostXlate*)xlo)->dst;
    HostDevice* d = DeviceOf(dst);
    return d && d->devinfo ? PaletteOf(d->devinfo->hpalDefault) : NULL;
}

// ---- ROP4 on engine bitmaps --------------------------------------------------------

static ULONG Rop3(ULONG rop, ULONG p, ULONG s, ULONG d)
{
    switch (rop) {
    case 0xCC:
        return s;
    case 0xF0:
        return p;
    case 0x00:
        return 0;
    case 0xFF:
        return ~0u;
    case 0x66:
        return s ^ d;
    case 0x88:
        return s & d;
    case 0xEE:
        return s | d;
    case 0x33:
        return ~s;
    case 0x5A:
        return p ^ d;
    case 0xAA:
        return d;
    case 0x55:
        return ~d;
    }
    ULONG r = 0;
    for (int i = 0; i < 8; i++)
        if (rop >> i & 1)
            r |= (i & 4 ? p : ~p) & (i & 2 ? s : ~s) & (i & 1 ? d : ~d);
    return r;
}

static int UsesSource(ULONG rop3)
{
    return ((rop3 >> 2) ^ rop3) & 0x33;
}

static int UsesPattern(ULONG rop3)
{
    return ((rop3 >> 4) ^ rop3) & 0x0F;
}

static ULONG PixelMask(const SURFOBJ* so)
{
    int bits = FormatBits(so->iBitmapFormat);
    return bits >= 32 ? 0xFFFFFFFF : (1u << bits) - 1;
}

BOOL RopBlt(SURFOBJ* dst, SURFOBJ* src, SURFOBJ* mask, CLIPOBJ* pco, XLATEOBJ* xlo,
    const RECTL* dstRect, const POINTL* srcAt, const POINTL* maskAt, BRUSHOBJ* pbo, ROP4 rop4)
{
    ULONG fg = rop4 & 0xFF, bg = rop4 >> 8 & 0xFF;
    int needSrc = UsesSource(fg) || UsesSource(bg), needPat = UsesPattern(fg) || UsesPattern(bg);
    if (!HasBits(dst) || (needSrc && (!HasBits(src) || !srcAt))
        || (fg != bg && (!mask || mask->iBitmapFormat != BMF_1BPP || !mask->pvScan0)))
        return FALSE;
    if (needPat && (!pbo || pbo->iSolidColor == 0xFFFFFFFF)) {
        dbg_log("driver: EngBitBlt with a pattern brush the engine did not realize; refused\n");
        return FALSE;
    }
    ULONG pat = needPat ? pbo->iSolidColor : 0, keep = PixelMask(dst);
    RECTL whole = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    RECTL target = Intersect(Ordered(dstRect), whole);
    for (ULONG i = 0, n = ClipRectCount(pco); i < n; i++) {
        RECTL r = Intersect(target, ClipRectAt(pco, i, &whole));
        for (LONG y = r.top; y < r.bottom; y++)
            for (LONG x = r.left; x < r.right; x++) {
                ULONG rop = fg;
                if (fg != bg) {
                    LONG mx = maskAt->x + x - dstRect->left, my = maskAt->y + y - dstRect->top;
                    if (mx < 0 || my < 0 || mx >= mask->sizlBitmap.cx || my >= mask->sizlBitmap.cy)
                        continue;
                    rop = GetPixelValue(mask, mx, my) ? fg : bg;
                }
                ULONG s = 0;
                if (needSrc) {
                    LONG sx = srcAt->x + x - dstRect->left, sy = srcAt->y + y - dstRect->top;
                    if (sx < 0 || sy < 0 || sx >= src->sizlBitmap.cx || sy >= src->sizlBitmap.cy)
                        continue;
                    s = TranslateColor(xlo, GetPixelValue(src, sx, sy));
                }
                ULONG d = GetPixelValue(dst, x, y);
                PutPixelValue(dst, x, y, Rop3(rop, pat, s, d) & keep);
            }
    }
    return TRUE;
}

// ---- Stretching ----------------------------------------------------------------------

// 0x00RRGGBB of a source pixel: through the XLATEOBJ's source palette when
// the engine made it, else as the format's default.
static ULONG SourceRgb(const SURFOBJ* src, XLATEOBJ* xlo, ULONG v)
{
    if (xlo)
        return PaletteRgb(((const HostXlate*)xlo)->src, ((const HostXlate*)xlo)->srcFormat, v);
    ULONG bits = FormatBits(src->iBitmapFormat);
    if (bits < 16) {
        ULONG g = v * 255 / ((1u << bits) - 1);
        return g << 16 | g << 8 | g;
    }
    return PaletteRgb(NULL, src->iBitmapFormat, v);
}

// The source box a destination pixel covers, at least one pixel.
static void SourceSpan(LONG i, LONG dn, LONG s0, LONG sn, LONG* from, LONG* to)
{
    *from = s0 + (LONG)((LONGLONG)i * sn / dn);
    *to = s0 + (LONG)((LONGLONG)(i + 1) * sn / dn);
    if (*to <= *from)
        *to = *from + 1;
}

// Averages the RGB of up to 4x4 samples of the box (HALFTONE smooths what
// it shrinks).
static ULONG AverageRgb(const SURFOBJ* src, XLATEOBJ* xlo, LONG x0, LONG x1, LONG y0, LONG y1)
{
    LONG sx = (x1 - x0 + 3) / 4, sy = (y1 - y0 + 3) / 4;
    ULONG r = 0, g = 0, b = 0, n = 0;
    for (LONG y = y0; y < y1; y += sy)
        for (LONG x = x0; x < x1; x += sx) {
            ULONG c = SourceRgb(src, xlo, GetPixelValue(src, x, y));
            r += c >> 16 & 0xFF;
            g += c >> 8 & 0xFF;
            b += c & 0xFF;
            n++;
        }
    return (r / n) << 16 | (g / n) << 8 | b / n;
}

// The device colour of a halftone value under the target's palette.
static ULONG HalftoneToTarget(const HtFormat* ht, const EngPalette* pal, ULONG fmt, ULONG v)
{
    ULONG rgb;
    if (ht->count) {
        ULONG c = ht->colors[v < ht->count ? v : 0];
        rgb = (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    } else {
        rgb = PaletteRgb(NULL, BMF_16BPP, v);
    }
    return DeviceColor(pal, fmt, rgb);
}

// Halftones one pixel and puts it in the target's colours: through the
// precomputed map, converted, or raw when the target is in the halftone
// format itself.
struct HtPut {
    const HtFormat* ht;
    const EngPalette* target;
    const ULONG* map; // NULL: convert each value
    POINTL origin;
};

static void PutHalftoned(SURFOBJ* dst, const HtPut* h, ULONG rgb, LONG x, LONG y)
{
    ULONG v = HalftonePixel(h->ht, rgb, x + h->origin.x, y + h->origin.y);
    if (h->map)
        v = h->map[v & 0xFF];
    else if (h->target)
        v = HalftoneToTarget(h->ht, h->target, dst->iBitmapFormat, v);
    PutPixelValue(dst, x, y, v);
}

BOOL StretchOnto(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, XLATEOBJ* xlo, const RECTL* dstRect,
    const RECTL* srcRect, ULONG mode, const HtFormat* ht, const EngPalette* htTarget,
    POINTL htOrigin)
{
    if (!HasBits(dst) || !HasBits(src))
        return FALSE;
    // Halftone values into the target's colours; raw when the target is in
    // the halftone format itself (htTarget NULL).
    ULONG map[256];
    int mapped = ht && htTarget && ht->count;
    for (ULONG i = 0; mapped && i < ht->count; i++)
        map[i] = HalftoneToTarget(ht, htTarget, dst->iBitmapFormat, i);
    HtPut put = {ht, htTarget, mapped ? map : NULL, htOrigin};
    // Either rectangle may be turned round: an odd number of them mirrors.
    RECTL d = Ordered(dstRect), sr = Ordered(srcRect);
    LONG dw = d.right - d.left, dh = d.bottom - d.top;
    LONG sw = sr.right - sr.left, sh = sr.bottom - sr.top;
    if (!dw || !dh || !sw || !sh)
        return TRUE;
    int flipX = (dstRect->right < dstRect->left) != (srcRect->right < srcRect->left);
    int flipY = (dstRect->bottom < dstRect->top) != (srcRect->bottom < srcRect->top);
    // A straight 32-bit copy being halftoned: one source pixel per target
    // pixel, read directly (the page bands take this path).
    int direct = ht && dw == sw && dh == sh && !flipX && !flipY
        && src->iBitmapFormat == BMF_32BPP && (!xlo || !((const HostXlate*)xlo)->src);
    const EngPalette* pal = TargetPalette(dst, xlo);
    RECTL whole = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    RECTL target = Intersect(d, whole);
    for (ULONG k = 0, n = ClipRectCount(pco); k < n; k++) {
        RECTL r = Intersect(target, ClipRectAt(pco, k, &whole));
        for (LONG y = r.top; y < r.bottom; y++) {
            LONG j = flipY ? d.bottom - 1 - y : y - d.top;
            LONG sy0, sy1;
            SourceSpan(j, dh, sr.top, sh, &sy0, &sy1);
            if (sy0 < 0 || sy1 > src->sizlBitmap.cy)
                continue;
            if (direct && r.left - d.left + sr.left >= 0
                && r.right - d.left + sr.left <= src->sizlBitmap.cx) {
                const ULONG* row = (const ULONG*)((const BYTE*)src->pvScan0
                                       + (LONG_PTR)sy0 * src->lDelta)
                    + (sr.left - d.left);
                for (LONG x = r.left; x < r.right; x++)
                    PutHalftoned(dst, &put, row[x] & 0xFFFFFF, x, y);
                continue;
            }
            for (LONG x = r.left; x < r.right; x++) {
                LONG i = flipX ? d.right - 1 - x : x - d.left;
                LONG sx0, sx1;
                SourceSpan(i, dw, sr.left, sw, &sx0, &sx1);
                if (sx0 < 0 || sx1 > src->sizlBitmap.cx)
                    continue;
                if (ht) {
                    PutHalftoned(dst, &put, AverageRgb(src, xlo, sx0, sx1, sy0, sy1), x, y);
                    continue;
                }
                if (mode == HALFTONE && (sx1 - sx0 > 1 || sy1 - sy0 > 1)) {
                    // Shrinking in HALFTONE mode averages what it drops.
                    ULONG rgb = AverageRgb(src, xlo, sx0, sx1, sy0, sy1);
                    PutPixelValue(dst, x, y, DeviceColor(pal, dst->iBitmapFormat, rgb));
                    continue;
                }
                ULONG v = GetPixelValue(src, sx0, sy0);
                if (mode == BLACKONWHITE || mode == WHITEONBLACK)
                    for (LONG yy = sy0; yy < sy1; yy++)
                        for (LONG xx = sx0; xx < sx1; xx++) {
                            ULONG w = GetPixelValue(src, xx, yy);
                            v = mode == BLACKONWHITE ? v & w : v | w;
                        }
                PutPixelValue(dst, x, y, TranslateColor(xlo, v));
            }
        }
    }
    return TRUE;
}
