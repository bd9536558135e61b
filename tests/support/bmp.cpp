// BMP files built in memory for tests.
#include "test_support.h"

#include <map>

namespace {

void put16(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    v[at] = x & 0xff;
    v[at + 1] = (x >> 8) & 0xff;
}

void put32(std::vector<uint8_t>& v, size_t at, uint32_t x)
{
    for (int i = 0; i < 4; i++)
        v[at + i] = (x >> (8 * i)) & 0xff;
}

bool palette_of(const TestImage& img, size_t maxEntries, std::vector<uint32_t>* palette,
    std::map<uint32_t, uint32_t>* index)
{
    for (uint32_t c : img.rgb) {
        if (index->count(c))
            continue;
        if (palette->size() == maxEntries)
            return false;
        (*index)[c] = (uint32_t)palette->size();
        palette->push_back(c);
    }
    return true;
}

void put_pixel(std::vector<uint8_t>& v, size_t row, int x, int bpp, uint32_t value)
{
    switch (bpp) {
    case 1:
        v[row + x / 8] |= (uint8_t)((value & 1) << (7 - x % 8));
        break;
    case 4:
        v[row + x / 2] |= (uint8_t)((value & 15) << (x % 2 ? 0 : 4));
        break;
    case 8:
        v[row + x] = (uint8_t)value;
        break;
    case 24:
        v[row + 3 * x] = value & 0xff;
        v[row + 3 * x + 1] = (value >> 8) & 0xff;
        v[row + 3 * x + 2] = (value >> 16) & 0xff;
        break;
    case 32:
        put32(v, row + 4 * (size_t)x, value & 0xffffff);
        break;
    }
}

} // namespace

std::vector<uint8_t> make_bmp(const TestImage& img, const BmpFormat& fmt)
{
    const int bpp = fmt.bpp;
    const bool paletted = bpp <= 8;
    if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24 && bpp != 32)
        return {};
    if (fmt.bitfields && bpp != 32)
        return {};
    if (fmt.headerSize != 40 && fmt.headerSize != 108 && fmt.headerSize != 124)
        return {};
    std::vector<uint32_t> palette;
    std::map<uint32_t, uint32_t> index;
    size_t entries = paletted ? (fmt.clrUsed ? fmt.clrUsed : (size_t)1 << bpp) : fmt.clrUsed;
    if (paletted && !palette_of(img, std::min(entries, (size_t)1 << bpp), &palette, &index))
        return {};

    const size_t stride = ((size_t)img.width * bpp + 31) / 32 * 4;
    const size_t pixelBytes = stride * img.height;
    const size_t masks = fmt.bitfields ? 12 : 0;
    const size_t offBits = 14 + fmt.headerSize + masks + 4 * entries;
    std::vector<uint8_t> v(offBits + pixelBytes, 0);

    v[0] = 'B';
    v[1] = 'M';
    put32(v, 2, (uint32_t)v.size());
    put32(v, 10, (uint32_t)offBits);

    const size_t h = 14;
    put32(v, h + 0, fmt.headerSize);
    put32(v, h + 4, img.width);
    put32(v, h + 8, fmt.topDown ? (uint32_t)-img.height : (uint32_t)img.height);
    put16(v, h + 12, 1);
    put16(v, h + 14, bpp);
    put32(v, h + 16, fmt.bitfields ? 3 : 0);
    put32(v, h + 20, (uint32_t)pixelBytes);
    put32(v, h + 24, 11811);
    put32(v, h + 28, 11811);
    put32(v, h + 32, fmt.clrUsed);
    if (fmt.headerSize >= 108) {
        if (fmt.bitfields) {
            put32(v, h + 40, 0x00ff0000);
            put32(v, h + 44, 0x0000ff00);
            put32(v, h + 48, 0x000000ff);
        }
        put32(v, h + 56, 0x73524742); // LCS_sRGB
    }
    if (fmt.headerSize >= 124)
        put32(v, h + 108, 4); // LCS_GM_IMAGES
    size_t at = h + fmt.headerSize;
    if (fmt.bitfields) {
        put32(v, at, 0x00ff0000);
        put32(v, at + 4, 0x0000ff00);
        put32(v, at + 8, 0x000000ff);
        at += 12;
    }
    for (size_t i = 0; i < palette.size(); i++)
        put32(v, at + 4 * i, palette[i]);

    for (int y = 0; y < img.height; y++) {
        int fileRow = fmt.topDown ? y : img.height - 1 - y;
        size_t row = offBits + stride * fileRow;
        for (int x = 0; x < img.width; x++) {
            uint32_t c = pixel_at(img, x, y);
            put_pixel(v, row, x, bpp, paletted ? index[c] : c);
        }
    }
    return v;
}
