// libFuzzer target: the filter's raster reader on arbitrary input, read
// through the same buffered input as the filter.  Every page it plans must
// come out as exactly the planned number of BMP bytes, and a clean end must
// mean that all of the input was read.
#include <stdint.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#include "raster_pages.h"

// Pages above this size only repeat rows; they would slow the search down.
#define MAX_FUZZ_PAGE (1u << 20)

static bool count_bytes(void* ctx, const unsigned char*, size_t len)
{
    *(uint64_t*)ctx += len;
    return true;
}

static void read_pages(raster_input* in, size_t size)
{
    cups_raster_t* ras = cupsRasterOpenIO(raster_input_read, in, CUPS_RASTER_READ);
    if (!ras)
        return;
    cups_page_header2_t h;
    raster_next next;
    int pages = 0;
    while ((next = raster_next_header(ras, in, &h)) == RASTER_PAGE && pages < 16) {
        bmp_layout l;
        if (bmp_plan(&h, &l) || l.file_size > MAX_FUZZ_PAGE)
            break;
        uint64_t sent = 0;
        char err[160];
        bool ok = raster_send_page(ras, &h, &l, count_bytes, &sent, err, sizeof err);
        if (ok ? sent != l.file_size : err[0] == '\0')
            abort();
        if (!ok)
            break;
        pages++;
    }
    if (next == RASTER_END && in->delivered != size)
        abort();
    cupsRasterClose(ras);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static raster_input in;
    int fd = memfd_create("raster", MFD_CLOEXEC);
    if (fd < 0)
        return 0;
    if (write(fd, data, size) == (ssize_t)size && lseek(fd, 0, SEEK_SET) == 0) {
        raster_input_init(&in, fd);
        read_pages(&in, size);
    }
    close(fd);
    return 0;
}
