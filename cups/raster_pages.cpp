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

bool raster_send_page(cups_raster_t* ras, const cups_page_header2_t* h, const bmp_layout* l,
    page_sink sink, void* ctx, char* err, size_t errlen)
{
    err[0] = '\0';
    size_t rows_per_batch = l->bmp_row >= 262144 ? 1 : 262144 / l->bmp_row;
    size_t cap = rows_per_batch * l->bmp_row;
    if (cap < l->header_size)
        cap = l->header_size;
    unsigned char* in = (unsigned char*)malloc(l->raster_row);
    unsigned char* out = (unsigned char*)malloc(cap);
    bool ok = in && out;
    if (!ok)
        snprintf(err, errlen, "out of memory");
    if (ok) {
        bmp_write_headers(l, h->HWResolution[0], h->HWResolution[1], out);
        ok = sink(ctx, out, l->header_size);
    }
    // Grey and black rows need no conversion, only padding: they are read
    // straight into the send buffer.
    bool copy = l->kind != BMP_RGB24;
    size_t used = 0;
    for (uint32_t y = 0; ok && y < l->height; y++) {
        if (used + l->bmp_row > cap) {
            ok = sink(ctx, out, used);
            used = 0;
            if (!ok)
                break;
        }
        unsigned char* row = copy ? out + used : in;
        if (cupsRasterReadPixels(ras, row, l->raster_row) != l->raster_row) {
            snprintf(err, errlen, "the raster ends after %u of %u rows", y, l->height);
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
    free(in);
    free(out);
    return ok;
}
