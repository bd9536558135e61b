// Page-buffer layout checks and EMF frame conversion, without Wine.
#include <gtest/gtest.h>

#include <limits.h>
#include <string.h>

#include "dib_layout.h"
#include "test_support.h"

namespace {

// The page buffer of a whole BMP file: everything after the 14-byte file header.
std::vector<uint8_t> page_of(const std::vector<uint8_t>& file)
{
    return std::vector<uint8_t>(file.begin() + 14, file.end());
}

uint32_t off_bits(const std::vector<uint8_t>& file)
{
    return file[10] | file[11] << 8 | file[12] << 16 | (uint32_t)file[13] << 24;
}

struct Layout {
    DibCheck check;
    uint64_t offset;
    uint64_t needed;
};

Layout check(const std::vector<uint8_t>& page, uint64_t len)
{
    DibHeader hdr;
    Layout l;
    l.check = DibCheckPage(page.data(), len, &hdr, &l.offset, &l.needed);
    return l;
}

void set32(std::vector<uint8_t>& page, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; i++)
        page[at + i] = (v >> (8 * i)) & 0xff;
}

} // namespace

// Every format the test BMP writer produces puts its pixels at bfOffBits; the
// layout code must find them there without looking at bfOffBits, and the
// buffer must be exactly what the header describes.
TEST(DibLayout, PixelOffsetOfEveryFormat)
{
    struct Case {
        BmpFormat fmt;
        uint64_t offset; // from the start of the page buffer
    };
    auto f = [](int bpp, int header, bool bitfields, uint32_t clrUsed) {
        BmpFormat fmt;
        fmt.bpp = bpp;
        fmt.headerSize = header;
        fmt.bitfields = bitfields;
        fmt.clrUsed = clrUsed;
        return fmt;
    };
    const Case cases[] = {
        {f(1, 40, false, 0), 40 + 8},
        {f(4, 40, false, 0), 40 + 64},
        {f(8, 40, false, 0), 40 + 1024},
        {f(8, 40, false, 16), 40 + 64},
        {f(24, 40, false, 0), 40},
        {f(24, 40, false, 16), 40 + 64},
        {f(32, 40, false, 0), 40},
        {f(32, 40, true, 0), 52},
        {f(32, 108, true, 0), 120},
        {f(32, 124, true, 0), 136},
        {f(24, 124, false, 0), 124},
    };
    TestImage img = make_test_picture(13, 7, 2); // odd width: rows need padding
    for (const Case& c : cases) {
        std::vector<uint8_t> file = make_bmp(img, c.fmt);
        ASSERT_FALSE(file.empty()) << c.fmt.bpp;
        std::vector<uint8_t> page = page_of(file);
        Layout l = check(page, page.size());
        EXPECT_EQ(l.check, DIB_OK) << "bpp " << c.fmt.bpp << " header " << c.fmt.headerSize;
        EXPECT_EQ(l.offset, c.offset) << "bpp " << c.fmt.bpp << " header " << c.fmt.headerSize;
        EXPECT_EQ(l.offset, off_bits(file) - 14u);
        EXPECT_EQ(l.needed, page.size());
        // One byte less anywhere in the pixels is refused.
        EXPECT_EQ(check(page, page.size() - 1).check, DIB_SHORT);
    }
}

TEST(DibLayout, TopDownAndBottomUpNeedTheSameBytes)
{
    TestImage img = make_test_picture(10, 9, 1 << 24);
    BmpFormat fmt;
    std::vector<uint8_t> up = page_of(make_bmp(img, fmt));
    fmt.topDown = true;
    std::vector<uint8_t> down = page_of(make_bmp(img, fmt));
    Layout a = check(up, up.size()), b = check(down, down.size());
    EXPECT_EQ(a.check, DIB_OK);
    EXPECT_EQ(b.check, DIB_OK);
    EXPECT_EQ(a.needed, b.needed);
    EXPECT_EQ(a.needed, 40u + 32 * 9);
}

TEST(DibLayout, ShortOrMissingHeaderIsRefused)
{
    std::vector<uint8_t> page(40, 0);
    set32(page, 0, 40);
    for (uint64_t len : {0, 1, 3})
        EXPECT_EQ(check(page, len).check, DIB_NO_HEADER) << len;
    EXPECT_EQ(check(page, 39).check, DIB_NO_HEADER);
    set32(page, 0, 12);
    EXPECT_EQ(check(page, 40).check, DIB_HEADER_TOO_SMALL);
    set32(page, 0, 39);
    EXPECT_EQ(check(page, 40).check, DIB_HEADER_TOO_SMALL);
    // A header that claims more than the buffer holds.
    set32(page, 0, 124);
    Layout l = check(page, 40);
    EXPECT_EQ(l.check, DIB_NO_HEADER);
    EXPECT_EQ(l.needed, 124u);
    set32(page, 0, 0xffffffffu);
    EXPECT_EQ(check(page, 40).check, DIB_NO_HEADER);
}

TEST(DibLayout, WireValuesThatOverflow32BitsAreRefused)
{
    std::vector<uint8_t> page(40, 0);
    set32(page, 0, 40);
    set32(page, 4, 0x7fffffff); // width
    set32(page, 8, 0x7fffffff); // height
    page[14] = 32; // bpp
    Layout l = check(page, page.size());
    EXPECT_EQ(l.check, DIB_SHORT);
    EXPECT_GT(l.needed, (uint64_t)UINT32_MAX); // 32-bit arithmetic would have wrapped

    // Rows * stride beyond 64 bits.
    page[14] = 0xff;
    page[15] = 0xff; // bpp 65535
    EXPECT_EQ(check(page, page.size()).check, DIB_SHORT);

    // INT_MIN height has no positive counterpart.
    set32(page, 4, 1);
    set32(page, 8, 0x80000000u);
    page[14] = 1;
    page[15] = 0;
    EXPECT_EQ(check(page, page.size()).check, DIB_BAD_HEIGHT);
    set32(page, 4, 0);
    EXPECT_EQ(check(page, page.size()).check, DIB_BAD_HEIGHT);

    // A colour table of 2^32 - 1 entries.
    set32(page, 4, 1);
    set32(page, 8, 1);
    set32(page, 32, 0xffffffffu);
    l = check(page, page.size());
    EXPECT_EQ(l.check, DIB_SHORT);
    EXPECT_EQ(l.needed, 40 + 4ull * 0xffffffffu + 4);
}

TEST(DibLayout, NegativeWidthIsSizedByItsMagnitude)
{
    std::vector<uint8_t> page(40 + 4 * 2, 0);
    set32(page, 0, 40);
    set32(page, 4, (uint32_t)-1);
    set32(page, 8, (uint32_t)-2);
    page[14] = 24;
    EXPECT_EQ(check(page, page.size()).check, DIB_OK);
    EXPECT_EQ(check(page, page.size() - 1).check, DIB_SHORT);
}

TEST(DibLayout, CompressedPixelsAreBoundedBySizeImage)
{
    std::vector<uint8_t> page(40 + 1024 + 100, 0);
    set32(page, 0, 40);
    set32(page, 4, 5000);
    set32(page, 8, 5000);
    page[14] = 8;
    set32(page, 16, 1); // BI_RLE8
    set32(page, 20, 100); // biSizeImage
    EXPECT_EQ(check(page, page.size()).check, DIB_OK);
    set32(page, 20, 101);
    EXPECT_EQ(check(page, page.size()).check, DIB_SHORT);
}

TEST(EmfFrameToDevice, RoundsAsGdiPrintingDoes)
{
    int32_t out = 0;
    // A4 at 600 dpi, 100 mm x 50 mm.
    EXPECT_EQ(EmfFrameToDevice(10000, 210, 4960, &out), EMF_DIM_OK);
    EXPECT_EQ(out, 2362);
    EXPECT_EQ(EmfFrameToDevice(5000, 297, 7016, &out), EMF_DIM_OK);
    EXPECT_EQ(out, 1181);
    // A negative extent still gets the positive half added, then truncates.
    EXPECT_EQ(EmfFrameToDevice(10000, 200, 4724, &out), EMF_DIM_OK);
    EXPECT_EQ(out, 2362);
    EXPECT_EQ(EmfFrameToDevice(-10000, 200, 4724, &out), EMF_DIM_OK);
    EXPECT_EQ(out, -2361);
    EXPECT_EQ(EmfFrameToDevice(0, 200, 4724, &out), EMF_DIM_OK);
    EXPECT_EQ(out, 0);
}

TEST(EmfFrameToDevice, ZeroSizeAndOverflow)
{
    int32_t out = 7;
    EXPECT_EQ(EmfFrameToDevice(10000, 0, 4724, &out), EMF_DIM_NO_SIZE);
    EXPECT_EQ(out, 0);
    // 4960 * 1e6 exceeds 32 bits but the result fits: computed exactly.
    EXPECT_EQ(EmfFrameToDevice(1000000, 210, 4960, &out), EMF_DIM_OK);
    EXPECT_EQ(out, 236190);
    // The widest frame two LONG edges allow, on a tiny device: clamped.
    EXPECT_EQ(
        EmfFrameToDevice((int64_t)INT32_MAX - INT32_MIN, 1, INT32_MAX, &out), EMF_DIM_CLAMPED);
    EXPECT_EQ(out, INT32_MAX);
    EXPECT_EQ(
        EmfFrameToDevice(-((int64_t)INT32_MAX - INT32_MIN), 1, INT32_MAX, &out), EMF_DIM_CLAMPED);
    EXPECT_EQ(out, -INT32_MAX);
}
