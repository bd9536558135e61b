#include "gpd_halftone.h"

// The 8x8 ordered-dither (Bayer) matrix, levels 0..63.
static int bayer(long x, long y)
{
    int v = 0;
    int xi = (int)(x & 7), yi = (int)(y & 7);
    for (int bit = 0; bit < 3; bit++) {
        int xb = (xi >> (2 - bit)) & 1, yb = (yi >> (2 - bit)) & 1;
        v = (v << 2) | ((xb ^ yb) << 1 | yb);
    }
    return v;
}

// The dither thresholds of row y: a dot where the ink amount (0 none ..
// 255 full) exceeds th[x & 7].
static void thresholds(long y, int th[8])
{
    for (int x = 0; x < 8; x++)
        th[x] = (bayer(x, y) * 2 + 1) * 255 / 2 / 64;
}

struct rgb {
    int r, g, b;
};

static inline rgb pixel(const unsigned char* row, int bpp, long x)
{
    if (bpp == 24) {
        const unsigned char* p = row + x * 3;
        return {p[0], p[1], p[2]};
    }
    if (bpp == 1) {
        int v = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
        return {v, v, v};
    }
    if (bpp == 8)
        return {row[x], row[x], row[x]};
    const unsigned char* p = row + x * 3;
    return {p[0], p[1], p[2]};
}

static inline int gray(rgb p)
{
    return (p.r * 77 + p.g * 151 + p.b * 28) >> 8;
}

unsigned char gpd_white_byte(const gpd_device* d, int plane)
{
    if (d->bpp == 24)
        return 0xff;
    gpd_plane p = d->plane_order[plane];
    return p == GP_RED || p == GP_GREEN || p == GP_BLUE ? 0xff : 0x00;
}

// Ink amounts (0..255) of one pixel for each process colour.
static void inks(rgb p, bool with_black, int* c, int* m, int* y, int* k)
{
    *c = 255 - p.r;
    *m = 255 - p.g;
    *y = 255 - p.b;
    *k = 0;
    if (with_black) {
        int u = *c < *m ? (*c < *y ? *c : *y) : (*m < *y ? *m : *y);
        *k = u;
        *c -= u;
        *m -= u;
        *y -= u;
    }
}

// One plane: black dots from the grey level.
static void mono_row(const unsigned char* row, int in_bpp, long width, const int* th, std::string* out)
{
    unsigned char* o = (unsigned char*)&(*out)[0];
    for (long x = 0; x < width; x++) {
        int g = in_bpp == 8 ? row[x] : gray(pixel(row, in_bpp, x));
        if (255 - g > th[x & 7])
            o[x >> 3] |= (unsigned char)(0x80 >> (x & 7));
    }
}

static void planar_rows(const gpd_device* d, const unsigned char* row, int in_bpp, long width,
    const int* th, std::vector<std::string>* planes)
{
    bool has_black = false;
    for (gpd_plane p : d->plane_order)
        has_black |= p == GP_BLACK;
    size_t n = d->plane_order.size();
    unsigned char* o[4];
    for (size_t i = 0; i < n; i++)
        o[i] = (unsigned char*)&(*planes)[i][0];
    for (long x = 0; x < width; x++) {
        rgb px = pixel(row, in_bpp, x);
        int ink[7]; // by gpd_plane
        inks(px, has_black, &ink[GP_CYAN], &ink[GP_MAGENTA], &ink[GP_YELLOW], &ink[GP_BLACK]);
        ink[GP_RED] = px.r;
        ink[GP_GREEN] = px.g;
        ink[GP_BLUE] = px.b;
        int t = th[x & 7];
        unsigned char bit = (unsigned char)(0x80 >> (x & 7));
        for (size_t i = 0; i < n; i++)
            if (ink[d->plane_order[i]] > t)
                o[i][x >> 3] |= bit;
    }
}

void gpd_device_rows(const gpd_device* d, const unsigned char* row, int in_bpp, long width, long y,
    std::vector<std::string>* planes)
{
    long bytes = gpd_row_bytes(d, width);
    planes->resize(d->planes);
    for (int i = 0; i < d->planes; i++)
        (*planes)[i].assign(bytes, d->bpp == 24 ? (char)0xff : 0);
    std::string& out = (*planes)[0];
    int th[8];
    thresholds(y, th);
    if (d->bpp == 1 && d->planes == 1) {
        mono_row(row, in_bpp, width, th, &out);
        return;
    }
    if (d->bpp == 1) {
        planar_rows(d, row, in_bpp, width, th, planes);
        return;
    }
    for (long x = 0; x < width; x++) {
        rgb px = pixel(row, in_bpp, x);
        if (d->bpp == 24) {
            out[x * 3] = (char)px.r;
            out[x * 3 + 1] = (char)px.g;
            out[x * 3 + 2] = (char)px.b;
        } else if (d->bpp == 8) {
            out[x] = (char)(255 - gray(px));
        } else {
            int c, m, ye, k;
            inks(px, true, &c, &m, &ye, &k);
            int t = th[x & 7];
            int nib = (k > t) << 3 | (c > t) << 2 | (m > t) << 1 | (ye > t);
            out[x >> 1] = (char)((unsigned char)out[x >> 1] | (x & 1 ? nib : nib << 4));
        }
    }
}
