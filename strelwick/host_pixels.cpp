// Pixel work of the driver host: colour translation into a driver's surface
// format and plain bit block transfers.
#include "driver_host.h"

#include <string.h>

int FormatBits(ULONG f)
{
    switch (f) {
    case BMF_1BPP:
        return 1;
    case BMF_4BPP:
        return 4;
    case BMF_8BPP:
        return 8;
    case BMF_16BPP:
        return 16;
    case BMF_24BPP:
        return 24;
    case BMF_32BPP:
        return 32;
    }
    return 0;
}

// Where a non-zero channel mask starts and how many bits it has.
static void MaskShape(FLONG mask, int* shift, int* bits)
{
    *shift = 0;
    *bits = 0;
    while (!(mask >> *shift & 1))
        (*shift)++;
    while (*shift + *bits < 32 && (mask >> (*shift + *bits) & 1))
        (*bits)++;
}

// Places the top bits of an 8-bit channel value under a mask.
static ULONG ToMask(ULONG v8, FLONG mask)
{
    if (!mask)
        return 0;
    int shift, bits;
    MaskShape(mask, &shift, &bits);
    ULONG v = bits >= 8 ? v8 << (bits - 8) : v8 >> (8 - bits);
    return v << shift & mask;
}

static ULONG FromMask(ULONG v, FLONG mask)
{
    if (!mask)
        return 0;
    int shift, bits;
    MaskShape(mask, &shift, &bits);
    ULONG c = (v & mask) >> shift;
    if (bits >= 8)
        return c >> (bits - 8);
    return bits ? c * 255 / ((1u << bits) - 1) : 0;
}

static ULONG Nearest(const EngPalette* pal, ULONG rgb)
{
    int r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    ULONG best = 0;
    long bestD = 0x7FFFFFFF;
    for (ULONG i = 0; i < pal->count; i++) {
        ULONG c = pal->colors[i];
        long dr = (long)(c & 0xFF) - r, dg = (long)(c >> 8 & 0xFF) - g,
             db = (long)(c >> 16 & 0xFF) - b;
        long d = dr * dr + dg * dg + db * db;
        if (d < bestD) {
            bestD = d;
            best = i;
            if (!d)
                break;
        }
    }
    return best;
}

ULONG DeviceColor(const EngPalette* pal, ULONG format, ULONG rgb)
{
    ULONG r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if (!pal) {
        if (format == BMF_16BPP)
            return (r >> 3) << 10 | (g >> 3) << 5 | b >> 3;
        return rgb;
    }
    switch (pal->mode) {
    case PAL_INDEXED:
        return Nearest(pal, rgb);
    case PAL_BITFIELDS:
        return ToMask(r, pal->red) | ToMask(g, pal->green) | ToMask(b, pal->blue);
    case PAL_RGB:
        return b << 16 | g << 8 | r;
    default: // PAL_BGR
        return rgb;
    }
}

ULONG PaletteRgb(const EngPalette* pal, ULONG format, ULONG v)
{
    if (!pal) {
        if (format == BMF_16BPP)
            return FromMask(v, 0x7C00) << 16 | FromMask(v, 0x3E0) << 8 | FromMask(v, 0x1F);
        return v & 0xFFFFFF;
    }
    switch (pal->mode) {
    case PAL_INDEXED: {
        ULONG c = v < pal->count ? pal->colors[v] : 0;
        return (c & 0xFF) << 16 | (c & 0xFF00) | (c >> 16 & 0xFF);
    }
    case PAL_BITFIELDS:
        return FromMask(v, pal->red) << 16 | FromMask(v, pal->green) << 8 | FromMask(v, pal->blue);
    case PAL_RGB:
        return (v & 0xFF) << 16 | (v & 0xFF00) | (v >> 16 & 0xFF);
    default:
        return v & 0xFFFFFF;
    }
}

ULONG GetPixelValue(const SURFOBJ* so, LONG x, LONG y)
{
    const BYTE* row = (const BYTE*)so->pvScan0 + (LONG_PTR)y * so->lDelta;
    switch (so->iBitmapFormat) {
    case BMF_1BPP:
        return row[x >> 3] >> (7 - (x & 7)) & 1;
    case BMF_4BPP:
        return row[x >> 1] >> (x & 1 ? 0 : 4) & 0xF;
    case BMF_8BPP:
        return row[x];
    case BMF_16BPP:
        return row[2 * x] | row[2 * x + 1] << 8;
    case BMF_24BPP:
        return row[3 * x] | row[3 * x + 1] << 8 | row[3 * x + 2] << 16;
    case BMF_32BPP:
        return *(const ULONG*)(row + 4 * x);
    }
    return 0;
}

void PutPixelValue(SURFOBJ* so, LONG x, LONG y, ULONG v)
{
    BYTE* row = (BYTE*)so->pvScan0 + (LONG_PTR)y * so->lDelta;
    switch (so->iBitmapFormat) {
    case BMF_1BPP: {
        BYTE bit = (BYTE)(0x80 >> (x & 7));
        row[x >> 3] = (BYTE)(v & 1 ? row[x >> 3] | bit : row[x >> 3] & ~bit);
        break;
    }
    case BMF_4BPP:
        if (x & 1)
            row[x >> 1] = (BYTE)((row[x >> 1] & 0xF0) | (v & 0xF));
        else
            row[x >> 1] = (BYTE)((row[x >> 1] & 0x0F) | (v & 0xF) << 4);
        break;
    case BMF_8BPP:
        row[x] = (BYTE)v;
        break;
    case BMF_16BPP:
        row[2 * x] = (BYTE)v;
        row[2 * x + 1] = (BYTE)(v >> 8);
        break;
    case BMF_24BPP:
        row[3 * x] = (BYTE)v;
        row[3 * x + 1] = (BYTE)(v >> 8);
        row[3 * x + 2] = (BYTE)(v >> 16);
        break;
    case BMF_32BPP:
        *(ULONG*)(row + 4 * x) = v;
        break;
    }
}

void WriteRgbRows(SURFOBJ* so, const ColorTarget* t, LONG x0, LONG y0, const BYTE* rows, LONG width,
    LONG height, LONG stride)
{
    LONG from = x0 < 0 ? -x0 : 0;
    LONG to = width;
    if (x0 + to > so->sizlBitmap.cx)
        to = so->sizlBitmap.cx - x0;
    ULONG fmt = so->iBitmapFormat;
    int bgr = !t->pal || t->pal->mode == PAL_BGR;
    ULONG lastRgb = 0xFFFFFFFF, lastValue = 0;
    for (LONG j = 0; j < height && from < to; j++) {
        LONG y = y0 + j;
        if (y < 0 || y >= so->sizlBitmap.cy)
            continue;
        const BYTE* src = rows + (LONG_PTR)j * stride;
        BYTE* dst = (BYTE*)so->pvScan0 + (LONG_PTR)y * so->lDelta;
        if (fmt == BMF_32BPP && bgr) {
            memcpy(dst + 4 * (x0 + from), src + 4 * from, 4 * (size_t)(to - from));
            continue;
        }
        if (fmt == BMF_24BPP && bgr) {
            BYTE* d = dst + 3 * (x0 + from);
            for (LONG x = from; x < to; x++, d += 3) {
                d[0] = src[4 * x];
                d[1] = src[4 * x + 1];
                d[2] = src[4 * x + 2];
            }
            continue;
        }
        for (LONG x = from; x < to; x++) {
            ULONG rgb = *(const ULONG*)(src + 4 * x) & 0xFFFFFF;
            if (rgb != lastRgb) {
                lastRgb = rgb;
                lastValue = DeviceColor(t->pal, fmt, rgb);
            }
            PutPixelValue(so, x0 + x, y, lastValue);
        }
    }
}

void FillRect(SURFOBJ* so, const RECTL* r, ULONG color)
{
    RECTL c = {r->left < 0 ? 0 : r->left, r->top < 0 ? 0 : r->top,
        r->right > so->sizlBitmap.cx ? so->sizlBitmap.cx : r->right,
        r->bottom > so->sizlBitmap.cy ? so->sizlBitmap.cy : r->bottom};
    if (c.left >= c.right || c.top >= c.bottom)
        return;
    for (LONG x = c.left; x < c.right; x++)
        PutPixelValue(so, x, c.top, color);
    // Byte-aligned pixels: the other rows are copies of the first.
    int bits = FormatBits(so->iBitmapFormat);
    const BYTE* first = (const BYTE*)so->pvScan0 + (LONG_PTR)c.top * so->lDelta;
    for (LONG y = c.top + 1; y < c.bottom; y++) {
        if (bits < 8) {
            for (LONG x = c.left; x < c.right; x++)
                PutPixelValue(so, x, y, color);
            continue;
        }
        BYTE* row = (BYTE*)so->pvScan0 + (LONG_PTR)y * so->lDelta;
        size_t at = (size_t)c.left * bits / 8;
        memcpy(row + at, first + at, (size_t)(c.right - c.left) * bits / 8);
    }
}

ULONG TranslateColor(XLATEOBJ* xlo, ULONG c)
{
    if (!xlo || (xlo->flXlate & XO_TRIVIAL))
        return c;
    if (xlo->flXlate & XO_TABLE)
        return c < xlo->cEntries ? xlo->pulXlate[c] : 0;
    const HostXlate* x = (const HostXlate*)xlo;
    return DeviceColor(x->dst, x->dstFormat, PaletteRgb(x->src, x->srcFormat, c));
}

static int SamePalette(const EngPalette* a, const EngPalette* b)
{
    ULONG ma = a ? a->mode : PAL_BGR, mb = b ? b->mode : PAL_BGR;
    if (a == b || (ma == PAL_BGR && mb == PAL_BGR) || (ma == PAL_RGB && mb == PAL_RGB))
        return 1;
    return ma == PAL_BITFIELDS && mb == PAL_BITFIELDS && a->red == b->red && a->green == b->green
        && a->blue == b->blue;
}

void MakeXlate(
    HostXlate* x, const EngPalette* src, ULONG srcFormat, const EngPalette* dst, ULONG dstFormat)
{
    memset(x, 0, sizeof(*x));
    x->src = src;
    x->srcFormat = srcFormat;
    x->dst = dst;
    x->dstFormat = dstFormat;
    x->xo.iSrcType = (USHORT)(src ? src->mode : PAL_BGR);
    x->xo.iDstType = (USHORT)(dst ? dst->mode : PAL_BGR);
    if (SamePalette(src, dst) && srcFormat != BMF_16BPP && dstFormat != BMF_16BPP) {
        x->xo.flXlate = XO_TRIVIAL;
    } else if (src && src->mode == PAL_INDEXED && src->count <= 256) {
        // An indexed source gets a vector, which XLATEOBJ_piVector hands out.
        for (ULONG i = 0; i < src->count; i++)
            x->table[i] = DeviceColor(dst, dstFormat, PaletteRgb(src, srcFormat, i));
        x->xo.flXlate = XO_TABLE;
        x->xo.cEntries = src->count;
        x->xo.pulXlate = x->table;
    }
}

BOOL BlitBits(SURFOBJ* dst, SURFOBJ* src, const RECTL* dstRect, const RECTL* srcRect, XLATEOBJ* xlo,
    const RECTL* clip)
{
    if (!dst->pvScan0 || !src->pvScan0 || !FormatBits(dst->iBitmapFormat)
        || !FormatBits(src->iBitmapFormat))
        return FALSE;
    LONG dw = dstRect->right - dstRect->left, dh = dstRect->bottom - dstRect->top;
    LONG sw = srcRect->right - srcRect->left, sh = srcRect->bottom - srcRect->top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
        return TRUE;
    RECTL c = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    if (clip) {
        c.left = c.left > clip->left ? c.left : clip->left;
        c.top = c.top > clip->top ? c.top : clip->top;
        c.right = c.right < clip->right ? c.right : clip->right;
        c.bottom = c.bottom < clip->bottom ? c.bottom : clip->bottom;
    }
    int same = dw == sw && dh == sh && dst->iBitmapFormat == src->iBitmapFormat
        && FormatBits(dst->iBitmapFormat) >= 8 && (!xlo || (xlo->flXlate & XO_TRIVIAL));
    for (LONG j = 0; j < dh; j++) {
        LONG y = dstRect->top + j;
        if (y < c.top || y >= c.bottom)
            continue;
        LONG sy = srcRect->top + (LONG)((LONGLONG)j * sh / dh);
        if (sy < 0 || sy >= src->sizlBitmap.cy)
            continue;
        LONG from = dstRect->left < c.left ? c.left - dstRect->left : 0;
        LONG to = dstRect->right > c.right ? c.right - dstRect->left : dw;
        if (same) {
            int bpp = FormatBits(dst->iBitmapFormat) / 8;
            LONG sx = srcRect->left + from;
            if (sx < 0 || srcRect->left + to > src->sizlBitmap.cx)
                return FALSE;
            memcpy((BYTE*)dst->pvScan0 + (LONG_PTR)y * dst->lDelta
                    + (size_t)(dstRect->left + from) * bpp,
                (const BYTE*)src->pvScan0 + (LONG_PTR)sy * src->lDelta + (size_t)sx * bpp,
                (size_t)(to - from) * bpp);
            continue;
        }
        for (LONG i = from; i < to; i++) {
            LONG sx = srcRect->left + (LONG)((LONGLONG)i * sw / dw);
            if (sx < 0 || sx >= src->sizlBitmap.cx)
                continue;
            PutPixelValue(
                dst, dstRect->left + i, y, TranslateColor(xlo, GetPixelValue(src, sx, sy)));
        }
    }
    return TRUE;
}
