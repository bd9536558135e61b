// BMP pages through strelwick.exe img onto the test driver tdrv.dll, hosted
// by the print tool itself; the driver's PPM output compared with the input.
#include <gtest/gtest.h>

#include "wine_tool.h"

namespace {

// A4 and Letter at 50 dpi as the driver computes them: small pages keep the
// runs short.
const PageGeometry kA4At50 = {50, 413, 584};
const PageGeometry kLetterAt50 = {50, 425, 550};

BmpFormat bmp(int bpp, bool topDown)
{
    BmpFormat f;
    f.bpp = bpp;
    f.topDown = topDown;
    return f;
}

RunResult print_on(const char* printer, const std::string& input, const char* pageSize = "9")
{
    return run_tool({"img"},
        {std::string("MODEL=") + printer, std::string("PAGESIZE=") + pageSize, "DPI=50x50"}, input);
}

// Prints the pictures as one job in the given driver variant and checks each
// page the driver wrote: the driver's page size, the picture at the origin
// (within `tolerance` per channel), white elsewhere.
void print_and_compare(const std::string& variant, const std::vector<TestImage>& pictures,
    const std::vector<BmpFormat>& formats, int tolerance, const char* pageSize = "9",
    const PageGeometry& g = kA4At50)
{
    SCOPED_TRACE(variant);
    ASSERT_TRUE(set_driver_variant(variant));
    std::string input;
    for (size_t i = 0; i < pictures.size(); i++)
        input += bmp_string(pictures[i], formats[i]);
    RunResult r = print_on("Tessal Driver", input, pageSize);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why << "\n" << r.err;
    ASSERT_EQ(pages.size(), pictures.size()) << r.err;
    for (size_t i = 0; i < pages.size(); i++) {
        EXPECT_EQ(pages[i].width, g.width);
        EXPECT_EQ(pages[i].height, g.height);
        EXPECT_EQ(compare_within(pages[i], pictures[i], tolerance, &why), 0)
            << "page " << i + 1 << ":\n"
            << why;
    }
}

} // namespace

TEST(StrelwickDriverHost, EngineBitmapsAtEveryDepth)
{
    struct Case {
        int bpp, colours, tolerance;
    } cases[] = {
        {1, 2, 0}, {4, 16, 1}, {8, 256, 26}, {16, 1 << 24, 8}, {24, 1 << 24, 0}, {32, 1 << 24, 0}};
    for (const Case& c : cases) {
        std::vector<TestImage> pictures
            = {make_test_picture(301, 207, c.colours), make_test_picture(157, 99, c.colours)};
        print_and_compare("surface=engine\nbpp=" + std::to_string(c.bpp) + "\n", pictures,
            {bmp(24, false), bmp(c.colours <= 256 ? 8 : 32, true)}, c.tolerance);
    }
    // The device mode carries PAGESIZE to the driver.
    print_and_compare("surface=engine\nbpp=24\n", {make_test_picture(97, 61, 1 << 24)},
        {bmp(24, false)}, 0, "1", kLetterAt50);
}

TEST(StrelwickDriverHost, HalftoneForAMonochromeDriver)
{
    // Black and white stay solid; a mid grey becomes a pattern of about half black.
    print_and_compare(
        "surface=engine\nbpp=1\nhalftone=1\n", {make_test_picture(120, 80, 2)}, {bmp(1, false)}, 0);
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=1\nhalftone=1\n"));
    RunResult r
        = print_on("Tessal Driver", bmp_string(make_image(64, 64, 0x808080), bmp(24, false)));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    ASSERT_EQ(pages.size(), 1u);
    int black = 0;
    for (int y = 0; y < 64; y++)
        for (int x = 0; x < 64; x++)
            black += pixel_at(pages[0], x, y) == 0;
    EXPECT_GT(black, 64 * 64 * 4 / 10);
    EXPECT_LT(black, 64 * 64 * 6 / 10);
}

TEST(StrelwickDriverHost, BandingDriver)
{
    print_and_compare("surface=engine\nbpp=24\nband=100\n",
        {make_test_picture(400, 450, 1 << 24), make_test_picture(90, 70, 256)},
        {bmp(24, false), bmp(8, false)}, 0);
}

TEST(StrelwickDriverHost, DeviceSurfacesThroughEachHookedBlit)
{
    for (const char* hook : {"copybits", "bitblt", "stretchblt"})
        print_and_compare(std::string("surface=device\nhook=") + hook + "\n",
            {make_test_picture(301, 207, 1 << 24), make_test_picture(150, 300, 16)},
            {bmp(24, true), bmp(4, false)}, 0);
}

TEST(StrelwickDriverHost, ABadPageEndsTheJobAsOnTheGdiPath)
{
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\n"));
    TestImage picture = make_test_picture(50, 40, 1 << 24);
    std::string good = bmp_string(picture, bmp(24, false));
    RunResult r = print_on("Tessal Driver", good + good.substr(0, good.size() - 7));
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_NE(r.err.find("BMP file corrupt"), std::string::npos) << r.err;
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(compare_within(pages[0], picture, 0, &why), 0) << why;
}

TEST(StrelwickDriverHost, PagesAfterARefusedOrFailedPageAreLeftAlone)
{
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\n"));
    TestImage picture = make_test_picture(50, 40, 1 << 24);
    std::string good = bmp_string(picture, bmp(24, false));
    RunResult r = print_on("Tessal Driver", good + good + "PK" + good.substr(2) + good);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    size_t last = r.err.rfind("copy 40 scanline\n");
    ASSERT_NE(last, std::string::npos) << r.err;
    EXPECT_EQ(r.err.substr(last), "copy 40 scanline\nonly BMP format supported\n");
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    EXPECT_EQ(pages.size(), 2u);

    // The driver fails the first page while the next is still being read
    // from an input that has not ended: the job still ends, at once.
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\nfail=startpage\n"));
    r = run_tool({"img"}, {"MODEL=Tessal Driver", "DPI=50x50"}, good + good.substr(0, 20), true);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("driver: DrvStartPage failed\n"), std::string::npos) << r.err;
}

TEST(StrelwickDriverHost, RefusedAndFailingDriversLeaveStdoutEmpty)
{
    std::string page = bmp_string(make_test_picture(40, 30, 1 << 24), bmp(24, false));
    struct Case {
        const char* printer;
        const char* variant;
        int exitCode;
        const char* message;
    } cases[] = {
        {"Tessal Driver Text", "surface=engine\n", 0,
            "imports 2 functions this host does not provide: GDI32.dll!EngTextOut, "
            "GDI32.dll!PATHOBJ_vEnumStart\n"},
        {"Tessal Driver No UI", "surface=engine\n", 0,
            "does not export DrvDocumentPropertySheets\n"},
        {"Tessal Driver", "fail=pdev\n", 0, "driver: DrvEnablePDEV failed for Tessal Driver\n"},
        {"Tessal Driver", "fail=surface\n", 0,
            "driver: DrvEnableSurface failed for Tessal Driver\n"},
        {"Tessal Driver", "crash=startpage\n", 3, "strelwick: unhandled exception 0xc0000005\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.printer) + ": " + c.variant);
        ASSERT_TRUE(set_driver_variant(c.variant));
        RunResult r = print_on(c.printer, page);
        EXPECT_EQ(r.exitCode, c.exitCode) << r.err;
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}
