#include "raster_pages.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

// CUPS hands the raster on through a pipe, 64 KiB by default: the filter
// before us and we would then take turns every 64 KiB. A bigger pipe lets
// each run longer. It may be refused (the user's pipe budget); the default
// still works.
static void widen_pipe(int fd)
{
    struct stat st;
    if (fstat(fd, &st) == 0 && S_ISFIFO(st.st_mode))
        fcntl(fd, F_SETPIPE_SZ, 1 << 20);
}

void raster_input_init(raster_input* in, int fd)
{
    widen_pipe(fd);
    in->fd = fd;
    in->pos = in->len = 0;
    in->delivered = 0;
    in->sync = 0;
    in->asks = 0;
    in->first_ask = 0;
    in->first_got = 0;
}

ssize_t raster_input_read(void* ctx, unsigned char* data, size_t bytes)
{
    raster_input* in = (raster_input*)ctx;
    ssize_t got = 0;
    if (in->pos == in->len) {
        ssize_t n;
        do
            n = read(in->fd, in->buf, sizeof in->buf);
        while (n < 0 && errno == EINTR);
        if (n > 0) {
            in->pos = 0;
            in->len = (size_t)n;
        } else {
            got = n;
        }
    }
    if (in->pos < in->len) {
        size_t n = in->len - in->pos < bytes ? in->len - in->pos : bytes;
        memcpy(data, in->buf + in->pos, n);
        for (size_t i = 0; i < n && in->delivered + i < 4; i++)
            ((unsigned char*)&in->sync)[in->delivered + i] = data[i];
        in->pos += n;
        in->delivered += n;
        got = (ssize_t)n;
    }
    if (in->asks++ == 0) {
        in->first_ask = bytes;
        in->first_got = got;
    }
    return got;
}

// How many bytes libcups reads for one page header of this stream.
static size_t header_bytes(uint32_t sync)
{
    if (sync == CUPS_RASTER_SYNCv1 || sync == CUPS_RASTER_REVSYNCv1)
        return sizeof(cups_page_header_t);
    if (sync == CUPS_RASTER_SYNCapple || sync == CUPS_RASTER_REVSYNCapple)
        return 32;
    return sizeof(cups_page_header2_t);
}

// libcups says only "no header", both at the end of the stream and for a
// header that is cut short or invalid.  Holding none of the next header, it
// asks for the whole header in one read (compressed streams too); so the
// stream ended cleanly exactly when that first read found nothing.  When
// part of the header sits in its read-ahead buffer, the first read asks for
// less; when a whole header was there, the read succeeded.
raster_next raster_next_header(cups_raster_t* ras, raster_input* in, cups_page_header2_t* h)
{
    in->asks = 0;
    if (cupsRasterReadHeader2(ras, h))
        return RASTER_PAGE;
    bool clean = in->asks > 0 && in->first_ask == header_bytes(in->sync) && in->first_got == 0;
    return clean ? RASTER_END : RASTER_BAD;
}

// The raster value of a white pixel, repeated over a byte.
static unsigned char white_byte(const bmp_layout* l)
{
    return l->kind == BMP_INK8 || l->kind == BMP_INK1 ? 0x00 : 0xff;
}

// Cuts the window's row (l->width pixels from column x) out of a raster row
// of src_w pixels.
static void window_row(
    const bmp_layout* l, const unsigned char* src, uint32_t src_w, uint32_t x, unsigned char* out)
{
    unsigned char white = white_byte(l);
    memset(out, white, l->raster_row);
    uint32_t n = x < src_w ? src_w - x : 0;
    if (n > l->width)
        n = l->width;
    if (l->bit_count != 1) {
        uint32_t bytes = l->bit_count / 8;
        memcpy(out, src + (size_t)x * bytes, (size_t)n * bytes);
        return;
    }
    for (uint32_t i = 0; i < n; i++) {
        uint32_t sx = x + i;
        unsigned bit = (src[sx >> 3] >> (7 - (sx & 7))) & 1;
        unsigned char mask = (unsigned char)(0x80 >> (i & 7));
        out[i >> 3] = bit ? out[i >> 3] | mask : out[i >> 3] & ~mask;
    }
}

// Reads raster rows up to and including row y into src (*done rows read so
// far) and cuts the window's row from it; white below the raster.
static bool read_window_row(cups_raster_t* ras, const cups_page_header2_t* h, const bmp_layout* l,
    const page_window* w, uint32_t y, unsigned char* src, unsigned char* out, uint32_t* done)
{
    uint32_t sy = w->y + y;
    while (*done <= sy && *done < h->cupsHeight) {
        if (cupsRasterReadPixels(ras, src, h->cupsBytesPerLine) != h->cupsBytesPerLine)
            return false;
        (*done)++;
    }
    if (sy < h->cupsHeight)
        window_row(l, src, h->cupsWidth, w->x, out);
    else
        memset(out, white_byte(l), l->raster_row);
    return true;
}

bool raster_send_page(cups_raster_t* ras, const cups_page_header2_t* h, const bmp_layout* l,
    const page_window* w, page_sink sink, void* ctx, char* err, size_t errlen)
{
    err[0] = '\0';
    size_t rows_per_batch = l->bmp_row >= 262144 ? 1 : 262144 / l->bmp_row;
    size_t cap = rows_per_batch * l->bmp_row;
    if (cap < l->header_size)
        cap = l->header_size;
    unsigned char* in = (unsigned char*)malloc(l->raster_row);
    unsigned char* src = w ? (unsigned char*)malloc(h->cupsBytesPerLine) : nullptr;
    unsigned char* out = (unsigned char*)malloc(cap);
    bool ok = in && out && (src || !w);
    if (!ok)
        snprintf(err, errlen, "out of memory");
    if (ok) {
        bmp_write_headers(l, h->HWResolution[0], h->HWResolution[1], out);
        ok = sink(ctx, out, l->header_size);
    }
    // Grey and black rows need no conversion, only padding: without a
    // window they are read straight into the send buffer.
    bool copy = l->kind != BMP_RGB24;
    size_t used = 0;
    uint32_t done = 0; // raster rows read, with a window
    for (uint32_t y = 0; ok && y < l->height; y++) {
        if (used + l->bmp_row > cap) {
            ok = sink(ctx, out, used);
            used = 0;
            if (!ok)
                break;
        }
        unsigned char* row = copy ? out + used : in;
        bool read = w ? read_window_row(ras, h, l, w, y, src, row, &done)
                      : cupsRasterReadPixels(ras, row, l->raster_row) == l->raster_row;
        if (!read) {
            snprintf(err, errlen, "the raster ends after %u of %u rows", w ? done : y,
                w ? h->cupsHeight : l->height);
            ok = false;
            break;
        }
        if (copy)
            memset(out + used + l->raster_row, 0, l->bmp_row - l->raster_row);
        else
            bmp_convert_row(l, in, out + used);
        used += l->bmp_row;
    }
    if (ok && used)
        ok = sink(ctx, out, used);
    // The rows below the window belong to this page too.
    for (; ok && w && done < h->cupsHeight; done++) {
        if (cupsRasterReadPixels(ras, src, h->cupsBytesPerLine) != h->cupsBytesPerLine) {
            snprintf(err, errlen, "the raster ends after %u of %u rows", done, h->cupsHeight);
            ok = false;
        }
    }
    free(in);
    free(src);
    free(out);
    return ok;
}
