// Reading CUPS raster page by page and handing each page on as a whole BMP
// file: the part of the filter that parses its input.
//
//   raster_input in;                  // static: it holds a 256 KiB buffer
//   raster_input_init(&in, fd);
//   cups_raster_t* ras = cupsRasterOpenIO(raster_input_read, &in, CUPS_RASTER_READ);
//   while (raster_next_header(ras, &in, &h) == RASTER_PAGE) {
//       bmp_plan(&h, &layout) ... raster_send_page(ras, &h, &layout, sink, ctx, ...);
//   }
#pragma once

#include "bmp_page.h"

#include <cups/raster.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

// Buffered input for cupsRasterOpenIO.  libcups reads uncompressed raster
// one row per read(); the buffer saves most of those calls.  It also notes
// how libcups asks for bytes while it reads a page header, which is how the
// end of the stream is told from bytes that do not make a page.
struct raster_input {
    int fd;
    size_t pos, len; // unread part of buf
    uint64_t delivered; // bytes handed to libcups so far
    uint32_t sync; // the stream's first four bytes
    unsigned asks; // reads since the current header read began
    size_t first_ask; // size of the first of them
    ssize_t first_got; // and what it gave
    unsigned char buf[1 << 18];
};

void raster_input_init(raster_input* in, int fd);

// The read callback for cupsRasterOpenIO; ctx is a raster_input.
ssize_t raster_input_read(void* ctx, unsigned char* data, size_t bytes);

enum raster_next {
    RASTER_PAGE, // h holds the next page's header
    RASTER_END, // the stream ended right after the last page
    RASTER_BAD, // bytes follow that are not a readable page header
};

// Reads the next page header.
raster_next raster_next_header(cups_raster_t* ras, raster_input* in, cups_page_header2_t* h);

// Where a page's BMP bytes go.  Returns false to stop the job; the sink
// keeps its own reason.
typedef bool (*page_sink)(void* ctx, const unsigned char* data, size_t len);

// The part of a rendered page that is sent: l's width and height from
// column x and row y of the raster.  What lies beyond the raster is white.
struct page_window {
    uint32_t x, y;
};

// Sends the page whose header h has been read and planned into l: the BMP
// headers, then the rows in batches of up to 256 KiB.  With a window, l is
// planned for the window and the rest of the page is read and dropped.
// Returns false with a message in err when the raster is cut short or
// memory runs out, and with err empty when the sink refused.
bool raster_send_page(cups_raster_t* ras, const cups_page_header2_t* h, const bmp_layout* l,
    const page_window* window, page_sink sink, void* ctx, char* err, size_t errlen);
