// GDI's halftoning as the engine does it for a device: RGB becomes the
// device's halftone format from its GDIINFO (ulHTOutputFormat, ulHTPatternSize,
// flHTFlags) by ordered dither, each channel on its own. The threshold
// pattern is anchored to the page, so bands and blits meet without seams.
#include "driver_host.h"

#include <string.h>

// Dither cell edge for each HT_PATSIZE_*: a Bayer matrix needs a power of two,
// so 6, 10, 12 and 14 round up; the supercell and user sizes use 16.
static int CellSize(ULONG patSize)
{
    static const int kSizes[] = {2, 2, 4, 4, 8, 8, 8, 8, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16, 16};
    return patSize < sizeof(kSizes) / sizeof(kSizes[0]) ? kSizes[patSize] : 8;
}

static void MakeThresholds(HtFormat* f, int n)
{
    int k = 0;
    while ((1 << k) < n)
        k++;
    f->cell = n;
    for (int y = 0; y < n; y++)
        for (int x = 0; x < n; x++) {
            int v = 0, bit = 0;
            for (int m = k - 1; m >= 0; m--) {
                v |= ((y >> m) & 1) << bit++;
                v |= (((x ^ y) >> m) & 1) << bit++;
            }
            // Bit-reversed interleave: the dispersed-dot order. Scaled to
            // 0..254 at the centre of each step.
            int rank = 0;
            for (int b = 0; b < 2 * k; b++)
                rank |= ((v >> b) & 1) << (2 * k - 1 - b);
            f->threshold[y][x] = (BYTE)((2 * rank + 1) * 255 / (2 * n * n));
        }
}

static ULONG Bgr(ULONG r, ULONG g, ULONG b)
{
    return r | g << 8 | b << 16;
}

void HalftoneFormatFor(const GDIINFO* gdi, ULONG dstFormat, HtFormat* f)
{
    memset(f, 0, sizeof(*f));
    ULONG ht = gdi ? gdi->ulHTOutputFormat : HT_FORMAT_24BPP;
    // The device's halftone format decides, unless the target's depth rules it out.
    switch (dstFormat) {
    case BMF_1BPP:
        ht = HT_FORMAT_1BPP;
        break;
    case BMF_4BPP:
        ht = ht == HT_FORMAT_4BPP_IRGB ? ht : HT_FORMAT_4BPP;
        break;
    case BMF_8BPP:
        ht = ht == HT_FORMAT_4BPP || ht == HT_FORMAT_4BPP_IRGB || ht == HT_FORMAT_1BPP
            ? ht
            : HT_FORMAT_8BPP;
        break;
    case BMF_16BPP:
        ht = HT_FORMAT_16BPP;
        break;
    }
    f->htFormat = ht;
    f->cmy = gdi && (gdi->flHTFlags & HT_FLAG_OUTPUT_CMY) && ht <= HT_FORMAT_4BPP_IRGB;
    MakeThresholds(f, CellSize(gdi ? gdi->ulHTPatternSize : HT_PATSIZE_8x8));
    switch (ht) {
    case HT_FORMAT_1BPP:
        f->bmf = BMF_1BPP;
        f->levels = 2;
        f->count = 2;
        f->colors[f->cmy ? 1 : 0] = 0;
        f->colors[f->cmy ? 0 : 1] = 0xFFFFFF;
        break;
    case HT_FORMAT_4BPP:
    case HT_FORMAT_4BPP_IRGB:
        f->bmf = BMF_4BPP;
        f->levels = 2;
        f->count = ht == HT_FORMAT_4BPP ? 8 : 16;
        for (ULONG i = 0; i < 8; i++) {
            ULONG bits = f->cmy ? ~i & 7 : i;
            // IRGB: the eight full colours are 8..15 (black stays 0); 0..7 are dimmer.
            f->colors[i] = Bgr(bits & 1 ? 0xFF : 0, bits & 2 ? 0xFF : 0, bits & 4 ? 0xFF : 0);
            if (ht == HT_FORMAT_4BPP_IRGB) {
                f->colors[8 + i] = f->colors[i];
                f->colors[i] = Bgr(bits & 1 ? 0x80 : 0, bits & 2 ? 0x80 : 0, bits & 4 ? 0x80 : 0);
            }
        }
        break;
    case HT_FORMAT_8BPP:
        f->bmf = BMF_8BPP;
        f->levels = 6;
        f->count = 256;
        for (ULONG i = 0; i < 216; i++)
            f->colors[i] = Bgr(i / 36 * 51, i / 6 % 6 * 51, i % 6 * 51);
        break;
    case HT_FORMAT_16BPP:
        f->bmf = BMF_16BPP;
        f->levels = 32;
        break;
    default:
        f->bmf = ht == HT_FORMAT_32BPP ? BMF_32BPP : BMF_24BPP;
        f->levels = 256;
        break;
    }
}

static ULONG DitherChannel(ULONG c, int levels, int threshold)
{
    ULONG v = c * (ULONG)(levels - 1);
    ULONG base = v / 255, frac = v % 255;
    return base + (frac > (ULONG)threshold ? 1 : 0);
}

ULONG HalftonePixel(const HtFormat* f, ULONG rgb, LONG x, LONG y)
{
    ULONG r = rgb >> 16 & 0xFF, g = rgb >> 8 & 0xFF, b = rgb & 0xFF;
    if (f->levels == 256)
        return rgb;
    int t = f->threshold[(ULONG)y % (ULONG)f->cell][(ULONG)x % (ULONG)f->cell];
    switch (f->htFormat) {
    case HT_FORMAT_1BPP: {
        ULONG white = DitherChannel((r * 77 + g * 151 + b * 28) >> 8, 2, t);
        return f->cmy ? !white : white;
    }
    case HT_FORMAT_4BPP:
    case HT_FORMAT_4BPP_IRGB: {
        ULONG bits = DitherChannel(r, 2, t) | DitherChannel(g, 2, t) << 1 | DitherChannel(b, 2, t) << 2;
        ULONG i = f->cmy ? ~bits & 7 : bits;
        return f->htFormat == HT_FORMAT_4BPP_IRGB && i ? i | 8 : i;
    }
    case HT_FORMAT_8BPP:
        return DitherChannel(r, 6, t) * 36 + DitherChannel(g, 6, t) * 6 + DitherChannel(b, 6, t);
    default: // 16 bpp, 5-5-5
        return DitherChannel(r, 32, t) << 10 | DitherChannel(g, 32, t) << 5 | DitherChannel(b, 32, t);
    }
}

void HalftonePalette(const HtFormat* f, EngPalette* pal)
{
    memset(pal, 0, sizeof(*pal));
    if (f->count) {
        pal->mode = PAL_INDEXED;
        pal->count = f->count;
        pal->colors = (ULONG*)f->colors;
    } else if (f->bmf == BMF_16BPP) {
        pal->mode = PAL_BITFIELDS;
        pal->red = 0x7C00;
        pal->green = 0x03E0;
        pal->blue = 0x001F;
    } else {
        pal->mode = PAL_BGR;
    }
}

// ---- The halftone palettes a driver may ask for ------------------------------------

LONG APIENTRY HostHT_Get8BPPFormatPalette(LPPALETTEENTRY entries, USHORT, USHORT, USHORT)
{
    HtFormat f;
    GDIINFO gdi;
    memset(&gdi, 0, sizeof(gdi));
    gdi.ulHTOutputFormat = HT_FORMAT_8BPP;
    HalftoneFormatFor(&gdi, BMF_8BPP, &f);
    if (entries)
        for (ULONG i = 0; i < f.count; i++) {
            ULONG c = f.colors[i];
            entries[i].peRed = (BYTE)c;
            entries[i].peGreen = (BYTE)(c >> 8);
            entries[i].peBlue = (BYTE)(c >> 16);
            entries[i].peFlags = 0;
        }
    return (LONG)f.count;
}

// The CMY mask palette: index = cyan, magenta and yellow levels, from white
// at 0 to black at 255 (the other way round when entry 0 says 'RGB0').
// CMYMask 0 and 1 give 256 grey levels; otherwise CMYMask is the number of
// levels of each ink (2 to 6), and unused entries are black.
LONG APIENTRY HostHT_Get8BPPMaskPalette(
    LPPALETTEENTRY entries, WINBOOL use8BppMask, BYTE cmyMask, USHORT, USHORT, USHORT)
{
    (void)use8BppMask;
    if (!entries)
        return 256;
    int inverted = entries[0].peRed == 'R' && entries[0].peGreen == 'G'
        && entries[0].peBlue == 'B' && entries[0].peFlags == '0';
    int levels = cmyMask >= 2 && cmyMask <= 6 ? cmyMask : 0;
    for (int i = 0; i < 256; i++) {
        int c, m, y;
        if (!levels) {
            c = m = y = i * 255 / 255;
        } else if (i < levels * levels * levels) {
            c = i / (levels * levels) * 255 / (levels - 1);
            m = i / levels % levels * 255 / (levels - 1);
            y = i % levels * 255 / (levels - 1);
        } else {
            c = m = y = 255;
        }
        int at = inverted ? 255 - i : i;
        entries[at].peRed = (BYTE)(255 - c);
        entries[at].peGreen = (BYTE)(255 - m);
        entries[at].peBlue = (BYTE)(255 - y);
        entries[at].peFlags = 0;
    }
    return 256;
}
