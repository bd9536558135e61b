// Turns CUPS raster pages into whole BMP files, one row at a time.
//
// A page becomes a top-down BMP (negative biHeight) with a 40-byte info
// header: 24-bit BGR for RGB raster, 8-bit with a grey palette for grey
// raster, 1-bit with a two-entry palette for black-and-white raster.  Only
// the headers and one row are ever held in memory.
#pragma once

#include <cups/raster.h>
#include <stddef.h>
#include <stdint.h>

enum bmp_kind {
    BMP_RGB24, // 8-bit chunky RGB in, BGR out
    BMP_GRAY8, // 8-bit luminance (0 = black) in, palette index out
    BMP_INK8, // 8-bit ink (0 = white) in, palette index out
    BMP_GRAY1, // 1-bit luminance (1 = white) in, copied
    BMP_INK1, // 1-bit ink (1 = black) in, copied
};

struct bmp_layout {
    bmp_kind kind;
    uint32_t width;
    uint32_t height;
    uint32_t raster_row; // bytes per raster row (cupsBytesPerLine)
    uint32_t bmp_row; // bytes per BMP row, padded to 4
    uint32_t bit_count; // 24, 8 or 1
    uint32_t palette; // palette entries (0, 2 or 256)
    uint32_t header_size; // file header + info header + palette
    uint32_t file_size; // header_size + bmp_row * height
};

// Biggest BMP file we produce; the print tool allocates each page whole.
#define BMP_MAX_FILE_SIZE 0x7fffffffu

// Plausible raster: a resolution a printer may have, and a sheet from a
// quarter inch to 200 inches (PageSize is in points).  The pixels may cover
// less than the sheet, never more than the sheet and an inch.
#define BMP_MIN_DPI 50u
#define BMP_MAX_DPI 9600u
#define BMP_MIN_PAGE_PT 18u
#define BMP_MAX_PAGE_PT 14400u

// Checks that the raster page can be sent and fills the layout.  Returns
// nullptr on success, or a message saying why the page cannot be handled.
const char* bmp_plan(const cups_page_header2_t* h, bmp_layout* out);

// Writes the BMP file header, info header and palette: out must hold
// layout->header_size bytes.  Resolution is in dots per inch.
void bmp_write_headers(const bmp_layout* layout, unsigned xdpi, unsigned ydpi, unsigned char* out);

// Converts one raster row (layout->raster_row bytes) into one BMP row
// (layout->bmp_row bytes, padding zeroed).
void bmp_convert_row(const bmp_layout* layout, const unsigned char* in, unsigned char* out);
