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

// Whether ink amount a (0 none .. 255 full) makes a dot at (x, y).
static bool dot(int a, long x, long y)
{
    return a * 64 > (bayer(x, y) * 2 + 1) * 255 / 2;
}

struct rgb {
    int r, g, b;
};

static rgb pixel(const unsigned char* row, int bpp, long x)
{
    if (bpp == 1) {
        int v = (row[x >> 3] >> (7 - (x & 7))) & 1 ? 0 : 255;
        return {v, v, v};
    }
    if (bpp == 8)
        return {row[x], row[x], row[x]};
    const unsigned char* p = row + x * 3;
    return {p[0], p[1], p[2]};
}

static int gray(rgb p)
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

static void set_bit(std::string* s, long x)
{
    (*s)[x >> 3] = (char)((unsigned char)(*s)[x >> 3] | (0x80 >> (x & 7)));
}

static void planar_rows(const gpd_device* d, const unsigned char* row, int in_bpp, long width,
    long y, std::vector<std::string>* planes)
{
    bool has_black = false;
    for (gpd_plane p : d->plane_order)
        has_black |= p == GP_BLACK;
    for (long x = 0; x < width; x++) {
        rgb px = pixel(row, in_bpp, x);
        int c, m, ye, k;
        inks(px, has_black, &c, &m, &ye, &k);
        for (size_t i = 0; i < d->plane_order.size(); i++) {
            int a = 0;
            switch (d->plane_order[i]) {
            case GP_BLACK: a = d->planes == 1 ? 255 - gray(px) : k; break;
            case GP_CYAN: a = c; break;
            case GP_MAGENTA: a = m; break;
            case GP_YELLOW: a = ye; break;
            case GP_RED: a = px.r; break;
            case GP_GREEN: a = px.g; break;
            case GP_BLUE: a = px.b; break;
            }
            if (dot(a, x, y))
                set_bit(&(*planes)[i], x);
        }
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
    if (d->bpp == 1) {
        planar_rows(d, row, in_bpp, width, y, planes);
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
            int nib = (dot(k, x, y) << 3) | (dot(c, x, y) << 2) | (dot(m, x, y) << 1) | dot(ye, x, y);
            out[x >> 1] = (char)((unsigned char)out[x >> 1] | (x & 1 ? nib : nib << 4));
        }
    }
}
