#include "bmp_page.h"

#include <string.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

static void put16(unsigned char* p, uint32_t v)
{
    p[0] = (unsigned char)(v & 0xff);
    p[1] = (unsigned char)((v >> 8) & 0xff);
}

static void put32(unsigned char* p, uint32_t v)
{
    put16(p, v & 0xffff);
    put16(p + 2, v >> 16);
}

static bool is_rgb_space(unsigned cs)
{
    return cs == CUPS_CSPACE_RGB || cs == CUPS_CSPACE_SRGB || cs == CUPS_CSPACE_ADOBERGB;
}

static bool is_gray_space(unsigned cs)
{
    return cs == CUPS_CSPACE_W || cs == CUPS_CSPACE_SW;
}

// The header's enum fields hold whatever the input held, which need not be
// a value of the enum: read them as plain numbers.
static_assert(sizeof(cups_cspace_t) == sizeof(unsigned) && sizeof(cups_order_t) == sizeof(unsigned),
    "raster header enums are 32-bit fields");

static unsigned raw_enum(const void* field)
{
    unsigned v;
    memcpy(&v, field, sizeof v);
    return v;
}

// Picks the BMP kind for a colour space and depth; false when unsupported.
static bool pick_kind(const cups_page_header2_t* h, bmp_kind* kind)
{
    unsigned cs = raw_enum(&h->cupsColorSpace);
    unsigned bpc = h->cupsBitsPerColor;
    unsigned bpp = h->cupsBitsPerPixel;
    if (is_rgb_space(cs) && bpc == 8 && bpp == 24) {
        *kind = BMP_RGB24;
    } else if (is_gray_space(cs) && bpc == 8 && bpp == 8) {
        *kind = BMP_GRAY8;
    } else if (cs == CUPS_CSPACE_K && bpc == 8 && bpp == 8) {
        *kind = BMP_INK8;
    } else if (is_gray_space(cs) && bpc == 1 && bpp == 1) {
        *kind = BMP_GRAY1;
    } else if (cs == CUPS_CSPACE_K && bpc == 1 && bpp == 1) {
        *kind = BMP_INK1;
    } else {
        return false;
    }
    return true;
}

static bool plausible(unsigned v, unsigned lo, unsigned hi)
{
    return v >= lo && v <= hi;
}

// Whether pixels at dpi span at most the sheet's points and an inch.
static bool fits_sheet(unsigned pixels, unsigned dpi, unsigned points)
{
    return (uint64_t)pixels * 72 <= ((uint64_t)points + 72) * dpi;
}

const char* bmp_plan(const cups_page_header2_t* h, bmp_layout* out)
{
    memset(out, 0, sizeof *out);
    if (h->cupsWidth == 0 || h->cupsHeight == 0)
        return "page has no pixels (zero width or height)";
    if (h->HWResolution[0] == 0 || h->HWResolution[1] == 0)
        return "page has no resolution";
    if (!plausible(h->HWResolution[0], BMP_MIN_DPI, BMP_MAX_DPI)
        || !plausible(h->HWResolution[1], BMP_MIN_DPI, BMP_MAX_DPI))
        return "implausible resolution (not 50 to 9600 dpi)";
    if (!plausible(h->PageSize[0], BMP_MIN_PAGE_PT, BMP_MAX_PAGE_PT)
        || !plausible(h->PageSize[1], BMP_MIN_PAGE_PT, BMP_MAX_PAGE_PT))
        return "implausible page size (not 18 to 14400 points a side)";
    if (!fits_sheet(h->cupsWidth, h->HWResolution[0], h->PageSize[0])
        || !fits_sheet(h->cupsHeight, h->HWResolution[1], h->PageSize[1]))
        return "the raster is larger than its page at its resolution";
    if (!pick_kind(h, &out->kind))
        return "unsupported raster format (only 24-bit RGB, 8-bit gray and "
               "1-bit black are supported)";
    if (raw_enum(&h->cupsColorOrder) != CUPS_ORDER_CHUNKED)
        return "unsupported raster colour order (only chunky pixels are "
               "supported)";
    uint64_t bits = (uint64_t)h->cupsWidth * h->cupsBitsPerPixel;
    if (h->cupsBytesPerLine != (bits + 7) / 8)
        return "raster row length does not match the page width";
    uint64_t bmp_row = ((bits + 31) / 32) * 4;
    uint32_t palette = out->kind == BMP_RGB24               ? 0
        : (out->kind == BMP_GRAY8 || out->kind == BMP_INK8) ? 256
                                                            : 2;
    uint64_t header = 14 + 40 + 4 * (uint64_t)palette;
    uint64_t size = header + bmp_row * h->cupsHeight;
    if (size > BMP_MAX_FILE_SIZE || h->cupsHeight > 0x7fffffffu)
        return "page is too large";
    out->width = h->cupsWidth;
    out->height = h->cupsHeight;
    out->raster_row = h->cupsBytesPerLine;
    out->bmp_row = (uint32_t)bmp_row;
    out->bit_count = h->cupsBitsPerPixel;
    out->palette = palette;
    out->header_size = (uint32_t)header;
    out->file_size = (uint32_t)size;
    return nullptr;
}

static uint32_t pels_per_meter(unsigned dpi)
{
    return (uint32_t)(((uint64_t)dpi * 10000 + 127) / 254);
}

// Palette entry i as B, G, R, 0.
static void put_palette(const bmp_layout* l, unsigned char* p)
{
    for (uint32_t i = 0; i < l->palette; i++) {
        unsigned v;
        switch (l->kind) {
        case BMP_GRAY8:
            v = i;
            break;
        case BMP_INK8:
            v = 255 - i;
            break;
        case BMP_GRAY1:
            v = i ? 255 : 0;
            break;
        default:
            v = i ? 0 : 255;
            break; // BMP_INK1: bit set means black
        }
        p[4 * i] = p[4 * i + 1] = p[4 * i + 2] = (unsigned char)v;
        p[4 * i + 3] = 0;
    }
}

void bmp_write_headers(const bmp_layout* l, unsigned xdpi, unsigned ydpi, unsigned char* out)
{
    memset(out, 0, l->header_size);
    out[0] = 'B';
    out[1] = 'M';
    put32(out + 2, l->file_size);
    put32(out + 10, l->header_size);
    unsigned char* info = out + 14;
    put32(info + 0, 40);
    put32(info + 4, l->width);
    put32(info + 8, (uint32_t)(-(int64_t)l->height)); // negative: top row first
    put16(info + 12, 1);
    put16(info + 14, l->bit_count);
    put32(info + 16, 0); // BI_RGB
    put32(info + 20, l->file_size - l->header_size);
    put32(info + 24, pels_per_meter(xdpi));
    put32(info + 28, pels_per_meter(ydpi));
    put32(info + 32, l->palette);
    put32(info + 36, 0);
    put_palette(l, info + 40);
}

static uint32_t load32(const unsigned char* p)
{
    uint32_t v;
    memcpy(&v, p, 4);
    return v;
}

static void store32(unsigned char* p, uint32_t v)
{
    memcpy(p, &v, 4);
}

// RGB to BGR, four pixels (three little-endian words) at a time: the
// conversion is most of the filter's own work on colour pages.
static void swap_rgb(
    const unsigned char* __restrict in, unsigned char* __restrict out, uint32_t width)
{
    uint32_t x = 0;
    for (; x + 4 <= width; x += 4, in += 12, out += 12) {
        uint32_t w0 = load32(in), w1 = load32(in + 4), w2 = load32(in + 8);
        // in:  r0 g0 b0 r1 | g1 b1 r2 g2 | b2 r3 g3 b3
        // out: b0 g0 r0 b1 | g1 r1 b2 g2 | r2 b3 g3 r3
        store32(out,
            ((w0 >> 16) & 0xff) | (w0 & 0xff00) | ((w0 & 0xff) << 16) | (((w1 >> 8) & 0xff) << 24));
        store32(
            out + 4, (w1 & 0xff) | ((w0 >> 24) << 8) | ((w2 & 0xff) << 16) | (w1 & 0xff000000u));
        store32(out + 8,
            ((w1 >> 16) & 0xff) | ((w2 >> 24) << 8) | (w2 & 0xff0000) | (((w2 >> 8) & 0xff) << 24));
    }
    for (; x < width; x++, in += 3, out += 3) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
    }
}

#if defined(__x86_64__)
// The same with SSSE3 byte shuffles: 16 bytes in and out for every four
// pixels, so it stops six pixels before the end of the row.
__attribute__((target("ssse3"))) static void swap_rgb_ssse3(
    const unsigned char* in, unsigned char* out, uint32_t width)
{
    const __m128i order = _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 12, 13, 14, 15);
    uint32_t x = 0;
    for (; x + 6 <= width; x += 4, in += 12, out += 12) {
        __m128i v = _mm_loadu_si128((const __m128i*)in);
        _mm_storeu_si128((__m128i*)out, _mm_shuffle_epi8(v, order));
    }
    swap_rgb(in, out, width - x);
}

static bool have_ssse3()
{
    static int known = -1;
    if (known < 0)
        known = __builtin_cpu_supports("ssse3") ? 1 : 0;
    return known == 1;
}
#endif

void bmp_convert_row(const bmp_layout* l, const unsigned char* in, unsigned char* out)
{
    if (l->kind == BMP_RGB24) {
#if defined(__x86_64__)
        if (have_ssse3()) {
            swap_rgb_ssse3(in, out, l->width);
            memset(out + l->raster_row, 0, l->bmp_row - l->raster_row);
            return;
        }
#endif
        swap_rgb(in, out, l->width);
    } else {
        memcpy(out, in, l->raster_row);
    }
    memset(out + l->raster_row, 0, l->bmp_row - l->raster_row);
}
