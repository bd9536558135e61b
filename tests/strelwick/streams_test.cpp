// Page streams the tool must refuse, and the command line, under Wine.
#include <gtest/gtest.h>

#include "wine_tool.h"

namespace {

std::string small_page()
{
    return bmp_string(make_test_picture(20, 10, 1 << 24), BmpFormat());
}

std::string le32(uint32_t v)
{
    std::string s(4, '\0');
    for (int i = 0; i < 4; i++)
        s[i] = (char)((v >> (8 * i)) & 0xff);
    return s;
}

// A BMP file header announcing `bfSize`, followed by `rest`.
std::string file_with(uint32_t bfSize, const std::string& rest)
{
    return "BM" + le32(bfSize) + le32(0) + le32(54) + rest;
}

// A 40-byte info header.
std::string info_header(uint32_t biSize, int32_t width, int32_t height, uint16_t bpp)
{
    std::string h = le32(biSize) + le32((uint32_t)width) + le32((uint32_t)height);
    h += std::string("\x01\x00", 2) + std::string(1, (char)(bpp & 0xff))
        + std::string(1, (char)(bpp >> 8));
    h += std::string(24, '\0');
    return h;
}

struct Outcome {
    int exitCode;
    std::string log; // stderr after the DC was created
    int pages;
};

Outcome print(const std::string& input)
{
    RunResult r = run_tool({"img"}, {std::string("MODEL=") + kStdoutPrinter}, input);
    EXPECT_EQ(r.out.compare(0, 4, "%!PS"), 0)
        << "stdout is not PostScript: " << r.out.substr(0, 80);
    return {r.exitCode, log_after_create_dc(r.err), page_count(r.out)};
}

const char kHeaderLog24[] = "size-(20*10), plane:1, bpp:24, compress:0\n"
                            "                    pixel size:0x258, resolution-(11811*11811), "
                            "color-(0,0)\n";

} // namespace

TEST(StrelwickBadStreams, EndOfStreamEndsTheJob)
{
    Outcome empty = print("");
    EXPECT_EQ(empty.exitCode, 1);
    EXPECT_EQ(empty.log, "read pipe error.\n");
    EXPECT_EQ(empty.pages, 0);

    // A whole page, then a stream that ends 5 bytes into the next header.
    std::string page = small_page();
    Outcome cut = print(page + page.substr(0, 5));
    EXPECT_EQ(cut.exitCode, 1);
    EXPECT_EQ(cut.log,
        "BMP file size 654\n" + std::string(kHeaderLog24) + "copy 10 scanline\nread pipe error.\n");
    EXPECT_EQ(cut.pages, 1);
}

TEST(StrelwickBadStreams, RefusedPagesEndTheDocumentWithAMessage)
{
    std::string page = small_page();
    struct Case {
        const char* name;
        std::string input;
        std::string log;
    } cases[] = {
        {"not BM", "PK" + page.substr(2), "only BMP format supported\n"},
        {"cut in the pixels", page.substr(0, page.size() - 7),
            "BMP file size 654\nBMP file corrupt 633-640\n"},
        {"biSize 12", file_with(14 + 12 + 6, le32(12) + std::string(14, '\0')),
            "BMP file size 32\nunsupported BMP file header.\n"},
        {"shorter than its header", file_with(14 + 20, info_header(40, 20, 10, 24).substr(0, 20)),
            "BMP file size 34\nBMP file too short for its header: 20 of 40 bytes\n"},
        {"shorter than its pixels",
            file_with(14 + 40 + 560, info_header(40, 20, 10, 24) + std::string(560, '\x55')),
            "BMP file size 614\n"
            "size-(20*10), plane:1, bpp:24, compress:0\n"
            "                    pixel size:0x0, resolution-(0*0), color-(0,0)\n"
            "BMP file too short for its pixels: 600 of 640 bytes\n"},
        {"bfSize below 14", file_with(10, ""), "BMP file size 10\nout of memory.\n"},
        {"an 8-bit page without room for its colour table",
            file_with(14 + 40 + 200, info_header(40, 20, 10, 8) + std::string(200, '\x01')),
            "BMP file size 254\n"
            "size-(20*10), plane:1, bpp:8, compress:0\n"
            "                    pixel size:0x0, resolution-(0*0), color-(0,0)\n"
            "BMP file too short for its pixels: 240 of 1264 bytes\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // One good page first: it stays printed when the next one is refused.
        Outcome o = print(page + c.input);
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.log,
            "BMP file size 654\n" + std::string(kHeaderLog24) + "copy 10 scanline\n" + c.log);
        EXPECT_EQ(o.pages, 2); // the refused page was started and left open
    }
}

TEST(StrelwickBadStreams, NothingAfterARefusedPageIsPrinted)
{
    // The next page is read while one is printed: a good page after a
    // refused one must still be left alone, whether the file header or the
    // info header was refused.
    std::string page = small_page();
    std::string good = "BMP file size 654\n" + std::string(kHeaderLog24) + "copy 10 scanline\n";
    struct Case {
        std::string bad, log;
    } cases[] = {
        {"PK" + page.substr(2), "only BMP format supported\n"},
        {file_with(14 + 12 + 6, le32(12) + std::string(14, '\0')),
            "BMP file size 32\nunsupported BMP file header.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.log);
        Outcome o = print(page + page + c.bad + page);
        EXPECT_EQ(o.exitCode, 1);
        EXPECT_EQ(o.log, good + good + c.log);
        EXPECT_EQ(o.pages, 3);
    }
}

TEST(StrelwickBadStreams, PrinterProblems)
{
    RunResult r = run_tool({"img"}, {"MODEL=No Such Printer"}, small_page());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "strelwick get called.\nfailed to open printer:No Such Printer,error=1801\n");
    EXPECT_EQ(r.out, "");

    r = run_tool({"img"}, {}, small_page());
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(
        r.err, "strelwick get called.\nno printer name: MODEL is not set and none was given\n");
    EXPECT_EQ(r.out, "");
}

// wineps's writes reach stdout as it makes them: page 2 is held back until
// page 1 has arrived whole. A write that fails ends the job with its cause.
TEST(StrelwickBadStreams, PrinterDataStreamsAndAFailedWriteEndsTheJob)
{
    std::string page = small_page();
    InputHold hold;
    hold.at = page.size();
    hold.until = [](const std::string& out) { return out.find("showpage") != std::string::npos; };
    RunResult r = run_tool({"img"}, {std::string("MODEL=") + kStdoutPrinter}, page + page, false,
        &hold);
    ASSERT_FALSE(r.timedOut) << "page 1's data did not come before page 2 was sent\n" << r.err;
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(page_count(r.out), 2);

    r = run_tool_into("/dev/full", {"img"}, {std::string("MODEL=") + kStdoutPrinter}, page + page);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("printer data: cannot write to the print tool's output (stdout) after 0 "
                         "bytes: no space left on device; the job ends\n"),
        std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("copy 10 scanline"), std::string::npos) << r.err;
}

TEST(StrelwickCommandLine, ModeWords)
{
    RunResult r = run_tool({}, {}, "");
    EXPECT_EQ(r.exitCode, 255);
    EXPECT_EQ(r.err, "usage: emf/rect/poly/text [emf-file-name] [printer-name] [data-type]\n");
    EXPECT_EQ(r.out, "");

    for (const char* word : {"IMG", "imgx", "Rect", "print"}) {
        r = run_tool({word, kStdoutPrinter}, {std::string("MODEL=") + kStdoutPrinter}, "");
        EXPECT_EQ(r.exitCode, 0) << word;
        EXPECT_EQ(r.err, "strelwick get called.\n") << word;
        EXPECT_EQ(r.out, "") << word;
    }
}

TEST(StrelwickCommandLine, ImgPrinterArgumentWinsOverModel)
{
    RunResult r
        = run_tool({"img", "ignored.bmp", kStdoutPrinter}, {"MODEL=No Such Printer"}, small_page());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(page_count(r.out), 1);
    // One extra argument is ignored: the printer still comes from MODEL.
    r = run_tool({"img", "ignored.bmp"}, {std::string("MODEL=") + kStdoutPrinter}, small_page());
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(page_count(r.out), 1);
}

TEST(StrelwickCommandLine, CrashLeavesStdoutEmpty)
{
    // strelwick-crashprobe.exe is strelwick.exe plus a mode that writes
    // through a null pointer.
    RunResult r = run_win_program("strelwick-crashprobe.exe", {"crash"});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "strelwick get called.\nstrelwick: unhandled exception 0xc0000005\n");
}
