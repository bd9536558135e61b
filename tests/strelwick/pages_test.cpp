// BMP pages through strelwick.exe img under Wine, rendered back with Ghostscript.
#include <gtest/gtest.h>

#include "wine_tool.h"

namespace {

struct PageCase {
    const char* name;
    int width, height, colours;
    BmpFormat fmt;
};

BmpFormat format(int bpp, bool topDown, bool bitfields = false, int headerSize = 40)
{
    BmpFormat f;
    f.bpp = bpp;
    f.topDown = topDown;
    f.bitfields = bitfields;
    f.headerSize = headerSize;
    return f;
}

// Prints the pages as one job on A4 at 300 dpi and checks every rendered page
// against its picture: same pixels, right way up, at the device origin.
void print_and_compare(const std::vector<PageCase>& cases)
{
    std::string input;
    std::vector<TestImage> pictures;
    for (const PageCase& c : cases) {
        pictures.push_back(make_test_picture(c.width, c.height, c.colours));
        input += bmp_string(pictures.back(), c.fmt);
    }
    RunResult r = run_tool({"img"}, {std::string("MODEL=") + kStdoutPrinter}, input);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    ASSERT_EQ(r.out.compare(0, 4, "%!PS"), 0) << "stdout is not PostScript";
    ASSERT_EQ(page_count(r.out), (int)cases.size()) << r.err;
    EXPECT_NE(r.err.find("read pipe error.\n"), std::string::npos) << r.err;

    std::vector<TestImage> pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), cases.size());
    for (size_t i = 0; i < cases.size(); i++) {
        std::string why;
        long bad = compare_on_page(pages[i], pictures[i], 0, 0, &why);
        EXPECT_EQ(bad, 0) << cases[i].name << ":\n" << why;
    }
}

} // namespace

TEST(StrelwickPages, FormatsBackToBackPrintPixelForPixel)
{
    print_and_compare({
        {"24-bit bottom-up", 301, 207, 1 << 24, format(24, false)},
        {"8-bit palette", 157, 99, 256, format(8, false)},
        {"32-bit BI_BITFIELDS, 124-byte header", 120, 81, 1 << 24, format(32, false, true, 124)},
        {"4-bit palette", 75, 40, 16, format(4, false)},
        {"1-bit", 67, 33, 2, format(1, false)},
    });
}

TEST(StrelwickPages, TopDownImagesPrintTheRightWayUp)
{
    print_and_compare({
        {"24-bit top-down", 211, 105, 1 << 24, format(24, true)},
        {"32-bit BI_BITFIELDS top-down, 40-byte header", 90, 70, 1 << 24,
            format(32, true, true, 40)},
        {"32-bit BI_BITFIELDS, 108-byte header", 64, 48, 1 << 24, format(32, false, true, 108)},
    });
}

TEST(StrelwickPageOptions, PageSizeAndDpiReachTheDriver)
{
    TestImage picture = make_test_picture(97, 61, 1 << 24);
    std::string input = bmp_string(picture, format(24, false));
    struct Case {
        const char* pageSize;
        const char* dpi;
        const char* feature;
        const char* scale;
        PageGeometry geometry;
    } cases[] = {
        {"9", "300x300", "*PageSize A4", "72 300 div", kA4At300},
        {"1", "300x300", "*PageSize Letter", "72 300 div", kLetterAt300},
        {"9", "600x600", "*PageSize A4", "72 600 div", kA4At600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string("PAGESIZE=") + c.pageSize + " DPI=" + c.dpi);
        RunResult r = run_tool({"img"},
            {std::string("MODEL=") + kStdoutPrinter, std::string("PAGESIZE=") + c.pageSize,
                std::string("DPI=") + c.dpi},
            input);
        ASSERT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.out.find(c.feature), std::string::npos);
        EXPECT_NE(r.out.find(c.scale), std::string::npos);
        std::vector<TestImage> pages = render(r.out, c.geometry);
        ASSERT_EQ(pages.size(), 1u);
        std::string why;
        EXPECT_EQ(compare_on_page(pages[0], picture, 0, 0, &why), 0) << why;
    }
}
