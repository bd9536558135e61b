#include "dib_layout.h"

static uint32_t Le32(const uint8_t* p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint16_t Le16(const uint8_t* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

void DibReadHeader(const uint8_t* buf, DibHeader* hdr)
{
    hdr->biSize = Le32(buf);
    hdr->biWidth = (int32_t)Le32(buf + 4);
    hdr->biHeight = (int32_t)Le32(buf + 8);
    hdr->biPlanes = Le16(buf + 12);
    hdr->biBitCount = Le16(buf + 14);
    hdr->biCompression = Le32(buf + 16);
    hdr->biSizeImage = Le32(buf + 20);
    hdr->biXPelsPerMeter = (int32_t)Le32(buf + 24);
    hdr->biYPelsPerMeter = (int32_t)Le32(buf + 28);
    hdr->biClrUsed = Le32(buf + 32);
    hdr->biClrImportant = Le32(buf + 36);
}

uint64_t DibColorEntries(const DibHeader* hdr)
{
    if (hdr->biBitCount > 8 || hdr->biClrUsed != 0)
        return hdr->biClrUsed;
    return (uint64_t)1 << hdr->biBitCount;
}

uint64_t DibPixelOffset(const DibHeader* hdr)
{
    uint64_t masks = hdr->biCompression == DIB_BI_BITFIELDS ? DIB_MASKS_SIZE : 0;
    return (uint64_t)hdr->biSize + masks + 4 * DibColorEntries(hdr);
}

static uint64_t Magnitude(int32_t v)
{
    return v < 0 ? (uint64_t)(-(int64_t)v) : (uint64_t)v;
}

// RLE8, RLE4, JPEG and PNG: the GDI reads biSizeImage bytes of them.
static int IsCompressed(uint32_t compression)
{
    return compression == 1 || compression == 2 || compression == 4 || compression == 5;
}

uint64_t DibPixelBytes(const DibHeader* hdr, int* overflow)
{
    *overflow = 0;
    if (IsCompressed(hdr->biCompression))
        return hdr->biSizeImage;
    // |width| < 2^31 and bpp < 2^16, so the bit count fits easily.
    uint64_t rowBits = Magnitude(hdr->biWidth) * hdr->biBitCount;
    uint64_t stride = (rowBits + 31) / 32 * 4;
    uint64_t rows = Magnitude(hdr->biHeight);
    if (stride != 0 && rows > UINT64_MAX / stride) {
        *overflow = 1;
        return 0;
    }
    return stride * rows;
}

DibCheck DibCheckPage(
    const uint8_t* buf, uint64_t len, DibHeader* hdr, uint64_t* pixelOffset, uint64_t* needed)
{
    *pixelOffset = 0;
    *needed = DIB_INFO_HEADER_SIZE;
    if (len < 4)
        return DIB_NO_HEADER;
    uint32_t biSize = Le32(buf);
    if (biSize < DIB_INFO_HEADER_SIZE)
        return DIB_HEADER_TOO_SMALL;
    *needed = biSize;
    if (len < biSize)
        return DIB_NO_HEADER;
    DibReadHeader(buf, hdr);
    if (hdr->biHeight == INT32_MIN)
        return DIB_BAD_HEIGHT;
    uint64_t offset = DibPixelOffset(hdr); // < 2^32 + 12 + 2^34: no overflow
    int overflow = 0;
    uint64_t pixels = DibPixelBytes(hdr, &overflow);
    if (overflow || pixels > UINT64_MAX - offset) {
        *needed = UINT64_MAX;
        return DIB_SHORT;
    }
    *needed = offset + pixels;
    if (*needed > len)
        return DIB_SHORT;
    *pixelOffset = offset;
    return DIB_OK;
}

EmfDim EmfFrameToDevice(int64_t frameExtent, int32_t sizeMm, int32_t res, int32_t* out)
{
    *out = 0;
    int64_t t = (int64_t)sizeMm * 100;
    if (t == 0)
        return EMF_DIM_NO_SIZE;
    // |res| <= 2^31 and |frameExtent| < 2^33 here, so the product fits in 64
    // bits; callers pass the difference of two 32-bit edges.
    int64_t product = 0, num = 0;
    if (__builtin_mul_overflow((int64_t)res, frameExtent, &product)
        || __builtin_add_overflow(product, t >> 1, &num)) {
        *out = ((frameExtent < 0) != (res < 0)) ? -INT32_MAX : INT32_MAX;
        return EMF_DIM_CLAMPED;
    }
    int64_t q = num / t;
    if (q > INT32_MAX) {
        *out = INT32_MAX;
        return EMF_DIM_CLAMPED;
    }
    if (q < -INT32_MAX) {
        *out = -INT32_MAX;
        return EMF_DIM_CLAMPED;
    }
    *out = (int32_t)q;
    return EMF_DIM_OK;
}
