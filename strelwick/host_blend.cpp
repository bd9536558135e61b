// The engine's other drawing calls on engine bitmaps: EngPaint,
// EngTransparentBlt, EngAlphaBlend, EngGradientFill and EngPlgBlt.
#include "driver_host.h"

#include <string.h>

// A binary raster operation (R2_*) is the ROP3 on pattern and destination
// that ignores the source.
BOOL APIENTRY HostEngPaint(SURFOBJ* pso, CLIPOBJ* pco, BRUSHOBJ* pbo, POINTL* pptlBrushOrg, MIX mix)
{
    (void)pptlBrushOrg;
    if (!HasBits(pso))
        return FALSE;
    ULONG r2 = (mix & 0xFF) - 1, rop3 = 0;
    for (int i = 0; i < 8; i++)
        rop3 |= (r2 >> ((i >> 2 & 1) << 1 | (i & 1)) & 1) << i;
    RECTL all = {0, 0, pso->sizlBitmap.cx, pso->sizlBitmap.cy};
    RECTL r = pco && pco->iDComplexity != DC_TRIVIAL ? Intersect(all, pco->rclBounds) : all;
    POINTL zero = {0, 0};
    return RopBlt(pso, NULL, NULL, pco, NULL, &r, &zero, &zero, pbo, (ROP4)(rop3 | rop3 << 8));
}

// Calls draw(x, y, sx, sy) for every destination pixel of dstRect inside the
// clip with the source pixel it maps to (nearest, stretched).
template <typename Draw>
static void ForEachMapped(SURFOBJ* dst, SURFOBJ* src, CLIPOBJ* pco, const RECTL* d, const RECTL* s,
    Draw draw)
{
    LONG dw = d->right - d->left, dh = d->bottom - d->top;
    LONG sw = s->right - s->left, sh = s->bottom - s->top;
    if (dw <= 0 || dh <= 0 || sw <= 0 || sh <= 0)
        return;
    RECTL whole = {0, 0, dst->sizlBitmap.cx, dst->sizlBitmap.cy};
    RECTL target = Intersect(*d, whole);
    for (ULONG k = 0, n = ClipRectCount(pco); k < n; k++) {
        RECTL r = Intersect(target, ClipRectAt(pco, k, &whole));
        for (LONG y = r.top; y < r.bottom; y++) {
            LONG sy = s->top + (LONG)((LONGLONG)(y - d->top) * sh / dh);
            if (sy < 0 || sy >= src->sizlBitmap.cy)
                continue;
            for (LONG x = r.left; x < r.right; x++) {
                LONG sx = s->left + (LONG)((LONGLONG)(x - d->left) * sw / dw);
                if (sx >= 0 && sx < src->sizlBitmap.cx)
                    draw(x, y, sx, sy);
            }
        }
    }
}

BOOL APIENTRY HostEngTransparentBlt(SURFOBJ* psoDst, SURFOBJ* psoSrc, CLIPOBJ* pco,
    XLATEOBJ* pxlo, RECTL* prclDst, RECTL* prclSrc, ULONG iTransColor, ULONG)
{
    if (!HasBits(psoDst) || !HasBits(psoSrc) || !prclDst || !prclSrc)
        return FALSE;
    ForEachMapped(psoDst, psoSrc, pco, prclDst, prclSrc, [&](LONG x, LONG y, LONG sx, LONG sy) {
        ULONG v = GetPixelValue(psoSrc, sx, sy);
        if (v != iTransColor)
            PutPixelValue(psoDst, x, y, TranslateColor(pxlo, v));
    });
    return TRUE;
}

static ULONG Mix(ULONG s, ULONG d, ULONG alpha, ULONG srcAlpha, int premultiplied)
{
    ULONG out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        ULONG sc = s >> shift & 0xFF, dc = d >> shift & 0xFF;
        ULONG v = premultiplied ? (sc * alpha + dc * (255 - srcAlpha * alpha / 255)) / 255
                                : (sc * alpha + dc * (255 - alpha)) / 255;
        out |= (v > 255 ? 255 : v) << shift;
    }
    return out;
}

BOOL APIENTRY HostEngAlphaBlend(SURFOBJ* psoDest, SURFOBJ* psoSrc, CLIPOBJ* pco, XLATEOBJ* pxlo,
    RECTL* prclDest, RECTL* prclSrc, BLENDOBJ* pBlendObj)
{
    if (!HasBits(psoDest) || !HasBits(psoSrc) || !prclDest || !prclSrc || !pBlendObj)
        return FALSE;
    const BLENDFUNCTION& bf = pBlendObj->BlendFunction;
    const HostXlate* hx = (const HostXlate*)pxlo;
    const EngPalette* dstPal = TargetPalette(psoDest, pxlo);
    ULONG dfmt = psoDest->iBitmapFormat;
    int perPixel = (bf.AlphaFormat & AC_SRC_ALPHA) && psoSrc->iBitmapFormat == BMF_32BPP;
    ForEachMapped(psoDest, psoSrc, pco, prclDest, prclSrc, [&](LONG x, LONG y, LONG sx, LONG sy) {
        ULONG v = GetPixelValue(psoSrc, sx, sy);
        ULONG s = hx ? PaletteRgb(hx->src, hx->srcFormat, v) : PaletteRgb(NULL, BMF_32BPP, v);
        ULONG d = PaletteRgb(dstPal, dfmt, GetPixelValue(psoDest, x, y));
        ULONG a = bf.SourceConstantAlpha;
        ULONG sa = perPixel ? v >> 24 : 255;
        if (perPixel) {
            // Premultiplied source: scale it by the constant alpha too.
            ULONG scaled = 0;
            for (int shift = 0; shift < 24; shift += 8)
                scaled |= ((s >> shift & 0xFF) * a / 255) << shift;
            s = scaled;
        }
        PutPixelValue(psoDest, x, y, DeviceColor(dstPal, dfmt, Mix(s, d, a, sa, perPixel)));
    });
    return TRUE;
}

// ---- Gradients -------------------------------------------------------------------------

static ULONG VertexRgb(const TRIVERTEX& v)
{
    return (ULONG)(v.Red >> 8) << 16 | (ULONG)(v.Green >> 8) << 8 | (ULONG)(v.Blue >> 8);
}

static ULONG Lerp(ULONG a, ULONG b, LONGLONG num, LONGLONG den)
{
    ULONG out = 0;
    for (int shift = 0; shift < 24; shift += 8) {
        LONGLONG ca = a >> shift & 0xFF, cb = b >> shift & 0xFF;
        out |= (ULONG)(ca + (cb - ca) * num / (den ? den : 1)) << shift;
    }
    return out;
}

static void FillTriangle(SURFOBJ* so, const RECTL& clip, const TRIVERTEX* v, const ULONG* c,
    const EngPalette* pal)
{
    LONGLONG area = (LONGLONG)(v[1].x - v[0].x) * (v[2].y - v[0].y)
        - (LONGLONG)(v[2].x - v[0].x) * (v[1].y - v[0].y);
    if (!area)
        return;
    for (LONG y = clip.top; y < clip.bottom; y++)
        for (LONG x = clip.left; x < clip.right; x++) {
            LONGLONG w[3];
            for (int i = 0; i < 3; i++) {
                const TRIVERTEX& a = v[(i + 1) % 3];
                const TRIVERTEX& b = v[(i + 2) % 3];
                w[i] = (LONGLONG)(b.x - a.x) * (y - a.y) - (LONGLONG)(x - a.x) * (b.y - a.y);
                if (area > 0)
                    w[i] = -w[i];
            }
            if ((area > 0) != (w[0] + w[1] + w[2] > 0) || w[0] < 0 || w[1] < 0 || w[2] < 0)
                continue;
            LONGLONG sum = w[0] + w[1] + w[2];
            ULONG rgb = 0;
            for (int shift = 0; shift < 24; shift += 8) {
                LONGLONG ch = 0;
                for (int i = 0; i < 3; i++)
                    ch += (LONGLONG)(c[i] >> shift & 0xFF) * w[i];
                rgb |= (ULONG)(ch / (sum ? sum : 1)) << shift;
            }
            PutPixelValue(so, x, y, DeviceColor(pal, so->iBitmapFormat, rgb));
        }
}

BOOL APIENTRY HostEngGradientFill(SURFOBJ* psoDest, CLIPOBJ* pco, XLATEOBJ* pxlo,
    TRIVERTEX* pVertex, ULONG nVertex, PVOID pMesh, ULONG nMesh, RECTL* prclExtents,
    POINTL* pptlDitherOrg, ULONG ulMode)
{
    (void)prclExtents, (void)pptlDitherOrg;
    if (!HasBits(psoDest) || !pVertex || !pMesh)
        return FALSE;
    const EngPalette* pal = TargetPalette(psoDest, pxlo);
    RECTL whole = {0, 0, psoDest->sizlBitmap.cx, psoDest->sizlBitmap.cy};
    for (ULONG m = 0; m < nMesh; m++) {
        if (ulMode == GRADIENT_FILL_TRIANGLE) {
            const GRADIENT_TRIANGLE& t = ((const GRADIENT_TRIANGLE*)pMesh)[m];
            if (t.Vertex1 >= nVertex || t.Vertex2 >= nVertex || t.Vertex3 >= nVertex)
                return FALSE;
            TRIVERTEX v[3] = {pVertex[t.Vertex1], pVertex[t.Vertex2], pVertex[t.Vertex3]};
            ULONG c[3] = {VertexRgb(v[0]), VertexRgb(v[1]), VertexRgb(v[2])};
            for (ULONG k = 0, n = ClipRectCount(pco); k < n; k++)
                FillTriangle(psoDest, Intersect(whole, ClipRectAt(pco, k, &whole)), v, c, pal);
            continue;
        }
        const GRADIENT_RECT& gr = ((const GRADIENT_RECT*)pMesh)[m];
        if (gr.UpperLeft >= nVertex || gr.LowerRight >= nVertex)
            return FALSE;
        const TRIVERTEX& a = pVertex[gr.UpperLeft];
        const TRIVERTEX& b = pVertex[gr.LowerRight];
        RECTL r = {a.x < b.x ? a.x : b.x, a.y < b.y ? a.y : b.y, a.x < b.x ? b.x : a.x,
            a.y < b.y ? b.y : a.y};
        int vertical = ulMode == GRADIENT_FILL_RECT_V;
        ULONG ca = VertexRgb(a), cb = VertexRgb(b);
        for (ULONG k = 0, n = ClipRectCount(pco); k < n; k++) {
            RECTL c = Intersect(Intersect(r, whole), ClipRectAt(pco, k, &whole));
            for (LONG y = c.top; y < c.bottom; y++)
                for (LONG x = c.left; x < c.right; x++) {
                    ULONG rgb = vertical ? Lerp(ca, cb, y - a.y, b.y - a.y)
                                         : Lerp(ca, cb, x - a.x, b.x - a.x);
                    PutPixelValue(psoDest, x, y, DeviceColor(pal, psoDest->iBitmapFormat, rgb));
                }
        }
    }
    return TRUE;
}

// ---- Parallelograms ----------------------------------------------------------------------

// The source rectangle maps onto the parallelogram A, B (A + width), C
// (A + height), in 28.4 fixed point; each destination pixel centre is taken
// back to the source and sampled.
BOOL APIENTRY HostEngPlgBlt(SURFOBJ* psoTrg, SURFOBJ* psoSrc, SURFOBJ* psoMsk, CLIPOBJ* pco,
    XLATEOBJ* pxlo, COLORADJUSTMENT*, POINTL*, POINTFIX* pptfx, RECTL* prcl, POINTL* pptl, ULONG)
{
    if (!HasBits(psoTrg) || !HasBits(psoSrc) || !pptfx || !prcl)
        return FALSE;
    double ax = pptfx[0].x / 16.0, ay = pptfx[0].y / 16.0;
    double ux = pptfx[1].x / 16.0 - ax, uy = pptfx[1].y / 16.0 - ay;
    double vx = pptfx[2].x / 16.0 - ax, vy = pptfx[2].y / 16.0 - ay;
    double det = ux * vy - uy * vx;
    LONG sw = prcl->right - prcl->left, sh = prcl->bottom - prcl->top;
    if (det == 0 || sw <= 0 || sh <= 0)
        return FALSE;
    double xs[4] = {ax, ax + ux, ax + vx, ax + ux + vx}, ys[4] = {ay, ay + uy, ay + vy, ay + uy + vy};
    RECTL box = {(LONG)xs[0], (LONG)ys[0], (LONG)xs[0] + 1, (LONG)ys[0] + 1};
    for (int i = 1; i < 4; i++) {
        box.left = (LONG)xs[i] < box.left ? (LONG)xs[i] : box.left;
        box.top = (LONG)ys[i] < box.top ? (LONG)ys[i] : box.top;
        box.right = (LONG)xs[i] + 1 > box.right ? (LONG)xs[i] + 1 : box.right;
        box.bottom = (LONG)ys[i] + 1 > box.bottom ? (LONG)ys[i] + 1 : box.bottom;
    }
    RECTL whole = {0, 0, psoTrg->sizlBitmap.cx, psoTrg->sizlBitmap.cy};
    for (ULONG k = 0, n = ClipRectCount(pco); k < n; k++) {
        RECTL c = Intersect(Intersect(box, whole), ClipRectAt(pco, k, &whole));
        for (LONG y = c.top; y < c.bottom; y++)
            for (LONG x = c.left; x < c.right; x++) {
                double px = x + 0.5 - ax, py = y + 0.5 - ay;
                double u = (px * vy - py * vx) / det, v = (ux * py - uy * px) / det;
                if (u < 0 || u >= 1 || v < 0 || v >= 1)
                    continue;
                LONG sx = prcl->left + (LONG)(u * sw), sy = prcl->top + (LONG)(v * sh);
                if (sx < 0 || sy < 0 || sx >= psoSrc->sizlBitmap.cx || sy >= psoSrc->sizlBitmap.cy)
                    continue;
                if (psoMsk && pptl) {
                    LONG mx = pptl->x + sx - prcl->left, my = pptl->y + sy - prcl->top;
                    if (mx < 0 || my < 0 || mx >= psoMsk->sizlBitmap.cx
                        || my >= psoMsk->sizlBitmap.cy || !GetPixelValue(psoMsk, mx, my))
                        continue;
                }
                PutPixelValue(psoTrg, x, y, TranslateColor(pxlo, GetPixelValue(psoSrc, sx, sy)));
            }
    }
    return TRUE;
}
