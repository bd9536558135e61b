#include "gpd_compress.h"

size_t gpd_compress_bound(size_t n)
{
    // Delta row may spend a command byte and offset bytes per 8 bytes.
    return 2 * n + 16;
}

static size_t run_length(const unsigned char* in, size_t i, size_t n, size_t max)
{
    size_t r = 1;
    while (i + r < n && r < max && in[i + r] == in[i])
        r++;
    return r;
}

size_t gpd_tiff4(const unsigned char* in, size_t n, unsigned char* out)
{
    size_t o = 0, i = 0;
    while (i < n) {
        size_t r = run_length(in, i, n, 128);
        if (r >= 2) {
            out[o++] = (unsigned char)(257 - r); // -(r-1)
            out[o++] = in[i];
            i += r;
            continue;
        }
        // Literals up to the next run of three or more.
        size_t start = i;
        while (i < n && i - start < 128 && (i + 2 >= n || run_length(in, i, n, 3) < 3))
            i++;
        if (i == start)
            i++;
        out[o++] = (unsigned char)(i - start - 1);
        for (size_t k = start; k < i; k++)
            out[o++] = in[k];
    }
    return o;
}

size_t gpd_rle(const unsigned char* in, size_t n, unsigned char* out)
{
    size_t o = 0;
    for (size_t i = 0; i < n;) {
        size_t r = run_length(in, i, n, 256);
        out[o++] = (unsigned char)(r - 1);
        out[o++] = in[i];
        i += r;
    }
    return o;
}

size_t gpd_drc(const unsigned char* in, const unsigned char* seed, size_t n, unsigned char* out)
{
    size_t o = 0, last = 0; // last: just past the previous replacement
    size_t i = 0;
    while (i < n) {
        if (in[i] == seed[i]) {
            i++;
            continue;
        }
        size_t count = 1;
        while (i + count < n && count < 8 && in[i + count] != seed[i + count])
            count++;
        size_t offset = i - last;
        size_t first = offset < 31 ? offset : 31;
        out[o++] = (unsigned char)(((count - 1) << 5) | first);
        if (first == 31) {
            size_t rest = offset - 31;
            for (; rest >= 255; rest -= 255)
                out[o++] = 255;
            out[o++] = (unsigned char)rest;
        }
        for (size_t k = 0; k < count; k++)
            out[o++] = in[i + k];
        i += count;
        last = i;
    }
    return o;
}
