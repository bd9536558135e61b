// BMP pages through strelwick.exe img onto the test driver tdrv.dll, hosted
// by the print tool itself; the driver's PPM output compared with the input.
#include <gtest/gtest.h>

#include <cstdlib>

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
    // Odd page widths (413 at A4): rows padded to 4 bytes as the driver
    // expects. An RGB palette has red in the first byte; widen=1 reads 4 bpp
    // rows back through EngCopyBits.
    struct Case {
        int bpp, colours, tolerance;
        const char* more;
    } cases[] = {{1, 2, 0, ""}, {4, 16, 1, ""}, {8, 256, 26, ""}, {16, 1 << 24, 8, ""},
        {24, 1 << 24, 0, ""}, {32, 1 << 24, 0, ""}, {24, 1 << 24, 0, "palette=rgb\n"},
        {32, 1 << 24, 0, "palette=rgb\n"}, {4, 16, 1, "widen=1\n"}};
    for (const Case& c : cases) {
        std::vector<TestImage> pictures
            = {make_test_picture(301, 207, c.colours), make_test_picture(157, 99, c.colours)};
        print_and_compare("surface=engine\nbpp=" + std::to_string(c.bpp) + "\n" + c.more, pictures,
            {bmp(24, false), bmp(c.colours <= 256 ? 8 : 32, true)}, c.tolerance);
    }
    // The device mode carries PAGESIZE to the driver.
    print_and_compare("surface=engine\nbpp=24\n", {make_test_picture(97, 61, 1 << 24)},
        {bmp(24, false)}, 0, "1", kLetterAt50);
}

TEST(StrelwickDriverHost, HalftoneForAMonochromeDriver)
{
    // Black and white stay solid.
    print_and_compare(
        "surface=engine\nbpp=1\nhalftone=1\n", {make_test_picture(120, 80, 2)}, {bmp(1, false)}, 0);
    // A colour becomes a pattern about as dark as its luminance: mid grey
    // about half black, pure red darker than green and blue darker still.
    struct Case {
        unsigned rgb;
        int minBlackPercent, maxBlackPercent;
    } cases[] = {{0x808080, 40, 60}, {0xff0000, 62, 78}, {0x00ff00, 33, 50}, {0x0000ff, 83, 95}};
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=1\nhalftone=1\n"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.rgb);
        RunResult r
            = print_on("Tessal Driver", bmp_string(make_image(64, 64, c.rgb), bmp(24, false)));
        ASSERT_EQ(r.exitCode, 1) << r.err;
        std::vector<TestImage> pages;
        std::string why;
        ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
        ASSERT_EQ(pages.size(), 1u);
        int black = 0;
        for (int y = 0; y < 64; y++)
            for (int x = 0; x < 64; x++)
                black += pixel_at(pages[0], x, y) == 0;
        EXPECT_GE(black * 100, 64 * 64 * c.minBlackPercent);
        EXPECT_LE(black * 100, 64 * 64 * c.maxBlackPercent);
    }
}

TEST(StrelwickDriverHost, HalftoneKeepsToneAtEveryDepthAndAcrossBands)
{
    // Bands of 20 rows: the 8x8 pattern must still repeat every 8 rows.
    for (int bpp : {1, 4, 8}) {
        SCOPED_TRACE(bpp);
        ASSERT_TRUE(set_driver_variant(
            "surface=engine\nbpp=" + std::to_string(bpp) + "\nhalftone=1\nband=20\n"));
        RunResult r = print_on("Tessal Driver", bmp_string(make_image(64, 100, 0x808080), bmp(24, false)));
        ASSERT_EQ(r.exitCode, 1) << r.err;
        std::vector<TestImage> pages;
        std::string why;
        ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
        ASSERT_EQ(pages.size(), 1u);
        double sum = 0;
        for (int y = 0; y < 96; y++)
            for (int x = 0; x < 64; x++) {
                sum += pixel_at(pages[0], x, y) & 0xff;
                ASSERT_EQ(pixel_at(pages[0], x, y), pixel_at(pages[0], x, y < 88 ? y + 8 : y - 88))
                    << x << "," << y;
            }
        EXPECT_NEAR(sum / (64 * 96), 128, 8);
    }
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

// Fraction of black pixels in the page area [0, w) x [y0, y1).
double ink(const TestImage& page, int w, int y0, int y1)
{
    long black = 0;
    for (int y = y0; y < y1; y++)
        for (int x = 0; x < w; x++)
            black += pixel_at(page, x, y) == 0;
    return double(black) / (double(w) * (y1 - y0));
}

TEST(StrelwickDriverHost, HalftoneOntoAFourBitDeviceSurface)
{
    // The driver's DrvCopyBits punts the 32-bpp band to EngStretchBlt(HALFTONE);
    // the engine halftones into 4 bpp, 8 colours, and hands that back.
    const std::string variant = "surface=device\nbpp=4\n";
    TestImage colours = make_image(96, 40, 0);
    for (int y = 0; y < 40; y++)
        for (int x = 0; x < 96; x++)
            set_pixel(colours, x, y,
                (x / 12 & 1 ? 0xff0000 : 0) | (x / 12 & 2 ? 0x00ff00 : 0) | (x / 12 & 4 ? 0xff : 0));
    print_and_compare(variant, {colours, make_test_picture(120, 80, 2)},
        {bmp(24, false), bmp(1, false)}, 0);

    // A grey wedge keeps its tone, and bands of 40 rows meet without a seam:
    // the 8x8 pattern repeats across them.
    ASSERT_TRUE(set_driver_variant(variant));
    TestImage wedge = make_image(64, 200, 0);
    for (int y = 0; y < 200; y++)
        for (int x = 0; x < 64; x++)
            set_pixel(wedge, x, y, y < 100 ? 0x808080 : (y < 150 ? 0x404040 : 0xc0c0c0));
    RunResult r = run_tool({"img"},
        {"MODEL=Tessal Driver", "DPI=50x50", "STRELWICK_BAND_BYTES=" + std::to_string(413 * 4 * 40)},
        bmp_string(wedge, bmp(24, false)));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_NEAR(ink(pages[0], 64, 0, 96), 0.5, 0.05);
    EXPECT_NEAR(ink(pages[0], 64, 104, 144), 0.75, 0.05);
    EXPECT_NEAR(ink(pages[0], 64, 152, 200), 0.25, 0.05);
    for (int y = 0; y + 8 < 96; y++)
        for (int x = 0; x < 64; x++)
            ASSERT_EQ(pixel_at(pages[0], x, y), pixel_at(pages[0], x, y + 8)) << x << "," << y;
}

TEST(StrelwickDriverHost, TheWholeEngineIsBoundAndTextCallsAreAnswered)
{
    // tdrv.dll imports every engine export; this variant calls font, string
    // and stroke functions on each page, which answer their failure values
    // and are logged once per job. Another reads its blits through the
    // clip's enumeration and path.
    print_and_compare("surface=engine\nbpp=24\nanswered=1\n",
        {make_test_picture(97, 61, 1 << 24), make_test_picture(50, 40, 256)},
        {bmp(24, false), bmp(8, false)}, 0);
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\nanswered=1\n"));
    std::string page = bmp_string(make_test_picture(40, 30, 1 << 24), bmp(24, false));
    RunResult r = print_on("Tessal Driver", page + page);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    const std::string line = "driver: it called FONTOBJ_cGetGlyphs, which a job of bitmap pages "
                             "never needs; answered with its failure value\n";
    size_t at = r.err.find(line);
    EXPECT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(line, at + 1), std::string::npos) << r.err;

    // EngBitBlt: a pattern copy, an inverted destination, a source through a mask.
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\nrops=1\n"));
    TestImage picture = make_test_picture(40, 30, 1 << 24);
    r = print_on("Tessal Driver", bmp_string(picture, bmp(24, false)));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    ASSERT_EQ(pages.size(), 1u);
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 40; x++) {
            uint32_t want = pixel_at(picture, x, y);
            if (y < 10 && x < 10)
                want = 0x0000ff;
            else if (y < 10 && x < 20)
                want ^= 0xffffff;
            else if (y < 20 && x < 10)
                want = 0xff0000; // the mask's bits are set only on the left half
            ASSERT_EQ(pixel_at(pages[0], x, y), want) << x << "," << y;
        }

    // Gradient, alpha, transparency and a parallelogram, each in its own area.
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\nblend=1\n"));
    r = print_on("Tessal Driver", bmp_string(picture, bmp(24, false)));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    ASSERT_EQ(pages.size(), 1u);
    auto near = [](uint32_t a, uint32_t b) {
        for (int shift = 0; shift < 24; shift += 8)
            if (std::abs(int(a >> shift & 0xff) - int(b >> shift & 0xff)) > 3)
                return false;
        return true;
    };
    for (int y = 0; y < 30; y++)
        for (int x = 0; x < 40; x++) {
            uint32_t p = pixel_at(picture, x, y), g = uint32_t(x * 255 / 20) * 0x010101;
            uint32_t want = y < 10 && x < 20 ? g
                : y < 10 && x < 30            ? 0x0000ff
                : y < 20 && x < 20
                ? ((((p >> 16) + 255) / 2) << 16 | ((p >> 8 & 0xff) / 2) << 8 | (p & 0xff) / 2)
                : y < 30 && x < 10 ? 0xff0000
                                   : p;
            ASSERT_TRUE(near(pixel_at(pages[0], x, y), want))
                << x << "," << y << ": " << std::hex << pixel_at(pages[0], x, y) << " not " << want;
        }

    print_and_compare("surface=device\nclip=enum\n",
        {make_test_picture(301, 207, 1 << 24)}, {bmp(24, true)}, 0);
}

TEST(StrelwickDriverHost, BandsEndAtXAloneAndRunawayDriversEndTheJob)
{
    print_and_compare("surface=engine\nbpp=24\nband=100\nbands=xonly\n",
        {make_test_picture(400, 450, 1 << 24), make_test_picture(90, 70, 256)},
        {bmp(24, false), bmp(8, false)}, 0);

    std::string page = bmp_string(make_test_picture(40, 30, 1 << 24), bmp(24, false));
    struct Case {
        const char* variant;
        const char* message;
    } cases[] = {
        {"band=100\nbands=endless\n", "driver: it asked for 73 bands on a page that needs 6; ending the job"},
        {"band=100\nbands=offpage\n", "driver: it asked for a band at (0,594), off its 413x584"},
        {"hang=startpage\n", "driver: DrvStartPage has not returned after 3 seconds"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.variant);
        ASSERT_TRUE(set_driver_variant(std::string("surface=engine\nbpp=24\n") + c.variant));
        RunResult r = run_tool({"img"},
            {"MODEL=Tessal Driver", "DPI=50x50", "STRELWICK_DRIVER_TIMEOUT=3"}, page);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.out, ""); // the spooler job was dropped, not sent half-done
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
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
        // It imports the whole engine too: only the one foreign call is named.
        {"Tessal Driver Text", "surface=engine\n", 0,
            "imports 1 function this host does not provide: GDI32.dll!EngCreateWnd\n"},
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

TEST(StrelwickDriverHost, CapsListsTheDriversOwnAnswers)
{
    // tdrvui.dll's DrvDeviceCapabilities and tdrv.dll's GDIINFO: Legal and A5
    // have a margin of 1/12 inch; a bin name loses what a listing cannot carry.
    RunResult r = run_tool({"caps", "Tessal Driver"}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out,
        "PRINTER=Tessal Driver\nDRIVER=tdrv.dll\nFIELDS=0x0200bf03\nDEFAULT_PAPER=9\n"
        "DEFAULT_RESOLUTION=300x300\nPAPER=9,2100,2970,A4\nPAPER=1,2159,2794,Letter\n"
        "PAPER=5,2159,3556,Legal\nPAPER=11,1480,2100,A5\nRESOLUTION=300x300\n"
        "RESOLUTION=600x600\nPAGE=9,300x300,2480,3507,0,0,2480,3507\n"
        "PAGE=9,600x600,4960,7015,0,0,4960,7015\nPAGE=1,300x300,2550,3300,0,0,2550,3300\n"
        "PAGE=1,600x600,5100,6600,0,0,5100,6600\nPAGE=5,300x300,2550,4200,25,25,2500,4150\n"
        "PAGE=5,600x600,5100,8400,50,50,5000,8300\nPAGE=11,300x300,1748,2480,25,25,1698,2430\n"
        "PAGE=11,600x600,3496,4960,50,50,3396,4860\nBIN=1,Upper Tray\nBIN=2,Lower Tray\n"
        "BIN=260,Tray? 3 ?Big?\nMEDIATYPE=1,Plain Paper\nMEDIATYPE=2,Transparency\n"
        "MEDIATYPE=258,Glossy\nCOLOR=1\nDUPLEX=1\nCOPIES=99\nCOLLATE=1\n");

    // A driver the host refuses gets no listing either.
    r = run_tool({"caps", "Tessal Driver Text"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

TEST(StrelwickDriverHost, JobOptionsReachTheDeviceModeOrNothingPrints)
{
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\nrecord=1\n"));
    TestImage picture = make_test_picture(97, 61, 1 << 24);
    std::string page = bmp_string(picture, bmp(24, false));
    RunResult r = print_on("Tessal Driver", page);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(take_driver_record(&r.out),
        "TDRV paper=9 dpi=50x50 duplex=1 bin=1 color=2 media=1 copies=1 collate=0 "
        "doc=My Document");

    r = run_tool({"img"},
        {"MODEL=Tessal Driver", "PAGESIZE=5", "DPI=50x50", "DUPLEX=3", "INPUTBIN=260", "COLOR=1",
            "MEDIATYPE=258", "COPIES=4", "COLLATE=1",
            "DOCNAME=Gr\xc3\xbc\xc3\x9f"
            "e \xe2\x82\xac"},
        page);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(take_driver_record(&r.out),
        "TDRV paper=5 dpi=50x50 duplex=3 bin=260 color=1 media=258 copies=4 collate=1 "
        "doc=Gr\xc3\xbc\xc3\x9f"
        "e \xe2\x82\xac");
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    ASSERT_EQ(pages.size(), 4u); // the driver's copies
    EXPECT_EQ(pages[3].width, 425 - 2 * 4); // Legal at 50 dpi inside its margins
    EXPECT_EQ(pages[3].height, 700 - 2 * 4);
    EXPECT_EQ(compare_within(pages[3], picture, 0, &why), 0) << why;

    // The driver makes the copies: each page again, or the document with collation.
    std::string two = bmp_string(make_image(8, 4, 0xff0000), bmp(24, false))
        + bmp_string(make_image(6, 3, 0x0000ff), bmp(24, false));
    for (const char* collate : {"COLLATE=1", "COLLATE=0"}) {
        r = run_tool({"img"}, {"MODEL=Tessal Driver", "DPI=50x50", "COPIES=2", collate}, two);
        ASSERT_EQ(r.exitCode, 1) << r.err;
        take_driver_record(&r.out);
        ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
        std::string order;
        for (const TestImage& p : pages)
            order += pixel_at(p, 0, 0) == 0xff0000 ? 'A' : 'B';
        EXPECT_EQ(order, collate[8] == '1' ? "ABAB" : "AABB") << collate;
    }

    struct Case {
        const char* option;
        const char* message;
    } cases[] = {
        {"PAGESIZE=20",
            "PAGESIZE=20 (Env10): the driver of Tessal Driver did not select this "
            "paper; nothing printed\n"},
        {"INPUTBIN=7", "INPUTBIN=7: the driver of Tessal Driver does not offer this input bin"},
        {"MEDIATYPE=3",
            "MEDIATYPE=3: the driver of Tessal Driver does not offer this media type; nothing "
            "printed\n"},
        {"COPIES=100",
            "COPIES=100: the driver of Tessal Driver did not select this number of "
            "copies (it keeps 1); nothing printed\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        r = run_tool({"img"}, {"MODEL=Tessal Driver", c.option}, page);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}

// The driver's writes reach stdout as it makes them, not at the end of the
// document: page 2 is held back until page 1's data has arrived. A write
// that fails ends the job with its cause, and nothing follows the cut page.
TEST(StrelwickDriverHost, PrinterDataStreamsAndAFailedWriteEndsTheJob)
{
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\n"));
    TestImage picture = make_test_picture(50, 40, 1 << 24);
    std::string page = bmp_string(picture, bmp(24, false));
    InputHold hold;
    hold.at = page.size();
    hold.until = [](const std::string& out) {
        std::vector<TestImage> pages;
        std::string why;
        return decode_ppm_pages(out, &pages, &why) && pages.size() == 1;
    };
    RunResult r = run_tool({"img"}, {"MODEL=Tessal Driver", "DPI=50x50"}, page + page, false, &hold);
    ASSERT_FALSE(r.timedOut) << "page 1's data did not come before page 2 was sent\n" << r.err;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::vector<TestImage> pages;
    std::string why;
    ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why;
    EXPECT_EQ(pages.size(), 2u);

    r = run_tool_into("/dev/full", {"img"}, {"MODEL=Tessal Driver", "DPI=50x50"}, page + page);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("printer data: cannot write to the print tool's output (stdout) after 0 "
                         "bytes: no space left on device; the job ends\n"),
        std::string::npos)
        << r.err;
    // Page 1 is held until it is done, so its write fails after it was drawn;
    // page 2 is never drawn.
    size_t first = r.err.find("copy 40 scanline");
    EXPECT_EQ(r.err.find("copy 40 scanline", first + 1), std::string::npos) << r.err;

    // A driver that goes on after a failed write: the failure is
    // remembered, page 2 is not printed and the job still fails.
    ASSERT_TRUE(set_driver_variant("surface=engine\nbpp=24\nwrites=ignore\n"));
    r = run_tool_into("/dev/full", {"img"}, {"MODEL=Tessal Driver", "DPI=50x50"}, page + page);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    size_t failed = r.err.find("printer data: cannot write");
    EXPECT_NE(failed, std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("printer data: cannot write", failed + 1), std::string::npos) << r.err;
}
