// libFuzzer target: the filter's raster reader on arbitrary input, read
// through the same buffered input as the filter.  Every page it plans must
// come out as exactly the planned number of BMP bytes; and an input that
// ends cleanly must no longer do so with one more byte after it.
#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#include "raster_pages.h"

// Pages above this size only repeat rows; they would slow the search down.
#define MAX_FUZZ_PAGE (1u << 20)
#define MAX_FUZZ_PAGES 16

static bool count_bytes(void* ctx, const unsigned char*, size_t len)
{
    *(uint64_t*)ctx += len;
    return true;
}

// Reads pages until the stream ends or a page cannot be sent; returns how
// the stream ended (RASTER_PAGE: stopped at a page) and the pages sent.
static raster_next read_pages(raster_input* in, int* pages)
{
    *pages = 0;
    cups_raster_t* ras = cupsRasterOpenIO(raster_input_read, in, CUPS_RASTER_READ);
    if (!ras)
        return RASTER_BAD;
    cups_page_header2_t h;
    raster_next next;
    while ((next = raster_next_header(ras, in, &h)) == RASTER_PAGE && *pages < MAX_FUZZ_PAGES) {
        bmp_layout l;
        if (bmp_plan(&h, &l) || l.file_size > MAX_FUZZ_PAGE)
            break;
        uint64_t sent = 0;
        char err[160];
        bool ok = raster_send_page(ras, &h, &l, nullptr, count_bytes, &sent, err, sizeof err);
        if (ok ? sent != l.file_size : err[0] == '\0')
            abort();
        if (!ok)
            break;
        ++*pages;
    }
    cupsRasterClose(ras);
    return next;
}

static raster_next run(const uint8_t* data, size_t size, int* pages)
{
    static raster_input in;
    int fd = memfd_create("raster", MFD_CLOEXEC);
    if (fd < 0)
        abort();
    if (write(fd, data, size) != (ssize_t)size || lseek(fd, 0, SEEK_SET) != 0)
        abort();
    raster_input_init(&in, fd);
    raster_next next = read_pages(&in, pages);
    if (next == RASTER_END && in.delivered != size)
        abort();
    close(fd);
    return next;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    int pages;
    if (run(data, size, &pages) != RASTER_END || pages == 0)
        return 0;
    uint8_t* more = (uint8_t*)malloc(size + 1);
    memcpy(more, data, size);
    more[size] = data[size - 1];
    int again;
    raster_next next = run(more, size + 1, &again);
    free(more);
    if (next != RASTER_BAD || again != pages)
        abort();
    return 0;
}
