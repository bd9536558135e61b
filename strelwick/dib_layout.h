// Platform-free checks for the print tool: where a packed DIB's pixels start,
// whether a page buffer holds everything its header describes, and the
// conversion of an EMF frame (0.01 mm) into device pixels.
// All sizes are computed in 64 bits from values that come off the wire.
#ifndef STRELWICK_DIB_LAYOUT_H
#define STRELWICK_DIB_LAYOUT_H

#include <stdint.h>
#include <stddef.h>

enum { DIB_INFO_HEADER_SIZE = 40, DIB_MASKS_SIZE = 12, DIB_BI_BITFIELDS = 3 };

// The fields of the 40-byte info header, read little-endian.
struct DibHeader {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
};

enum DibCheck {
    DIB_OK = 0,
    DIB_NO_HEADER, // buffer shorter than the 40-byte header layout (or than biSize)
    DIB_HEADER_TOO_SMALL, // biSize below 40
    DIB_BAD_HEIGHT, // biHeight is INT_MIN: no positive height exists
    DIB_SHORT, // masks, colour table or pixels run past the buffer
};

// Reads the info header from the first 40 bytes; len must be at least 40.
void DibReadHeader(const uint8_t* buf, DibHeader* hdr);

// Colour-table entries: biClrUsed above 8 bits per pixel, else biClrUsed
// or, when that is 0, 2 to the power biBitCount.
uint64_t DibColorEntries(const DibHeader* hdr);

// Offset of the pixel array from the start of the page buffer: the header,
// 12 mask bytes when biCompression is BI_BITFIELDS (whatever biSize is),
// then 4 bytes per colour-table entry.
uint64_t DibPixelOffset(const DibHeader* hdr);

// Bytes the pixel array needs: rows of ((|width| * bpp + 31) / 32) * 4 bytes
// times |height| for uncompressed formats, biSizeImage for compressed ones.
// Returns 0 and sets *overflow when the size does not fit in 64 bits.
uint64_t DibPixelBytes(const DibHeader* hdr, int* overflow);

// Checks a whole page buffer: header present, biSize at least 40, and header,
// masks, colour table and pixels all inside len bytes. On DIB_OK, *hdr is
// filled, *pixelOffset is where the pixels start and *needed the bytes used.
// On DIB_SHORT, *needed is what the header implies (UINT64_MAX on overflow).
DibCheck DibCheckPage(
    const uint8_t* buf, uint64_t len, DibHeader* hdr, uint64_t* pixelOffset, uint64_t* needed);

// Result of EmfFrameToDevice.
enum EmfDim {
    EMF_DIM_OK = 0,
    EMF_DIM_NO_SIZE, // the device reported 0 mm: no scale exists, *out is 0
    EMF_DIM_CLAMPED, // the result does not fit in 32 bits: clamped
};

// Converts a frame extent in 0.01 mm into device pixels the way GDI printing
// code rounds it: t = sizeMm * 100; (res * frame + (t >> 1)) / t, truncated
// toward zero. The frame extent is the plain difference of the two edges and
// may be negative. Computed in 64 bits; a result beyond the 32-bit range is
// clamped to +-INT32_MAX (never INT32_MIN, whose magnitude has no LONG).
EmfDim EmfFrameToDevice(int64_t frameExtent, int32_t sizeMm, int32_t res, int32_t* out);

#endif
