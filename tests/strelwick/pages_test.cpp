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

namespace {

// A printer on the PPD fixture plus duplex and two input trays, which Wine's
// PostScript driver numbers 256 and 257 after its own "Automatically Select".
const char kOptionsPrinter[] = "Tessal Test Options";

void add_options_printer()
{
    RunResult r = run_win_program("tessal-addprinter.exe",
        {"Tessal Test Options PS", windows_path(fixture_path("tessal-options.ppd")),
            kOptionsPrinter, "|cat"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

} // namespace

TEST(StrelwickCaps, WinepsListingFollowsItsPpd)
{
    // The fixture PPD: A4 (595.276 x 841.89 pt) and Letter (612 x 792 pt), the
    // whole page imageable, 300 and 600 dpi; no duplex, no trays of its own.
    RunResult r = run_tool({"caps", kStdoutPrinter}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out,
        "PRINTER=Tessal Test\nDRIVER=wineps.drv\nFIELDS=0x0001ef1f\nDEFAULT_PAPER=9\n"
        "DEFAULT_RESOLUTION=300x300\nPAPER=9,2100,2970,A4\nPAPER=1,2159,2794,Letter\n"
        "RESOLUTION=300x300\nRESOLUTION=600x600\n"
        "PAGE=9,300x300,2480,3507,0,0,2480,3507\nPAGE=9,600x600,4960,7015,0,0,4960,7015\n"
        "PAGE=1,300x300,2550,3300,0,0,2550,3300\nPAGE=1,600x600,5100,6600,0,0,5100,6600\n"
        "BIN=15,Automatically Select\nCOLOR=1\nDUPLEX=0\nCOPIES=1\nCOLLATE=0\n");

    add_options_printer();
    r = run_tool({"caps"}, {std::string("MODEL=") + kOptionsPrinter}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    for (const char* line :
        {"FIELDS=0x0001ff1f\n", "BIN=256,Upper Tray\nBIN=257,Lower Tray\n", "DUPLEX=1\n"})
        EXPECT_NE(r.out.find(line), std::string::npos) << line << r.out;

    r = run_tool({"caps", "No Such Printer"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
}

TEST(StrelwickPageOptions, JobOptionsReachWinepsAndTheTitleNamesTheJob)
{
    add_options_printer();
    TestImage picture = make_test_picture(97, 61, 1 << 24);
    RunResult r = run_tool({"img"},
        {std::string("MODEL=") + kOptionsPrinter, "PAGESIZE=1", "DUPLEX=2", "INPUTBIN=257",
            "COPIES=3", "COLLATE=1",
            "DOCNAME=Gr\xc3\xbc\xc3\x9f"
            "e (Q3)"},
        bmp_string(picture, format(24, false)));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    for (const char* s :
        {"%%Title: (Gr\\374\\337e (Q3))", "*PageSize Letter", "*Duplex DuplexNoTumble",
            "*InputSlot Lower", "%cupsJobTicket: copies=3", "%cupsJobTicket: collate=true"})
        EXPECT_NE(r.out.find(s), std::string::npos) << s;
    std::vector<TestImage> pages = render(r.out, kLetterAt300);
    ASSERT_EQ(pages.size(), 1u);
    std::string why;
    EXPECT_EQ(compare_on_page(pages[0], picture, 0, 0, &why), 0) << why;
}

TEST(StrelwickPageOptions, ValuesTheDriverDoesNotTakePrintNothing)
{
    add_options_printer();
    struct Case {
        const char* printer;
        const char* option;
        const char* message;
    } cases[] = {
        {kStdoutPrinter, "PAGESIZE=5",
            "PAGESIZE=5 (Legal): the driver of Tessal Test did not select this paper; nothing "
            "printed\n"},
        {kStdoutPrinter, "DUPLEX=2",
            "DUPLEX=2: the driver of Tessal Test has no duplex mode setting; nothing printed\n"},
        {kOptionsPrinter, "INPUTBIN=999",
            "INPUTBIN=999: the driver of Tessal Test Options does not offer this input bin; "
            "nothing printed\n"},
        {kStdoutPrinter, "COLOR=3", "COLOR=3: not a valid colour mode; nothing printed\n"},
    };
    std::string page = bmp_string(make_test_picture(20, 10, 1 << 24), format(24, false));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.option);
        RunResult r = run_tool({"img"}, {std::string("MODEL=") + c.printer, c.option}, page);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, "");
        EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    }
}
