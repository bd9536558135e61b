// The hand-operated modes under Wine: EMF playback, raw pass-through and the
// three test pages.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include "wine_tool.h"

namespace {

// Bounding box of everything that is not white.
struct Box {
    int left = -1, top = -1, right = -1, bottom = -1; // inclusive
};

Box ink_box(const TestImage& page)
{
    Box b;
    for (int y = 0; y < page.height; y++)
        for (int x = 0; x < page.width; x++) {
            if (pixel_at(page, x, y) == 0xffffff)
                continue;
            if (b.left < 0 || x < b.left)
                b.left = x;
            if (b.right < x)
                b.right = x;
            if (b.top < 0)
                b.top = y;
            b.bottom = y;
        }
    return b;
}

std::string after_greeting_and_setup(const std::string& err)
{
    // The device-mode lines end with the last "\tDM_..." line.
    size_t at = err.rfind("\tDM_");
    if (at == std::string::npos)
        return err;
    return err.substr(err.find('\n', at) + 1);
}

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = make_temp_dir("strelwick");
        ASSERT_FALSE(dir.empty());
    }
    void TearDown() override
    {
        remove_tree(dir);
    }
    std::string dir;
};

using StrelwickEmf = TempDir;
using StrelwickRaw = TempDir;

} // namespace

TEST(StrelwickEmfPlayback, KnownFramePrintsAtItsPhysicalSize)
{
    // Recorded by emf-record.exe against the rig's printer: a 100 mm x 50 mm
    // frame filled black, with a white cross through its middle.
    std::string emf = windows_path(fixture_path("frame-100x50mm.emf"));
    RunResult r = run_tool({"emf", emf, kStdoutPrinter}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    // A4 at 300 dpi: HORZSIZE 209, HORZRES 2480, VERTSIZE 296, VERTRES 3507.
    // (2480 * 10000 + 10450) / 20900 = 1187, (3507 * 5000 + 14800) / 29600 = 592.
    EXPECT_EQ(after_greeting_and_setup(r.err), "draw EMF region:1187x592\n");
    EXPECT_NE(r.out.find("%cupsJobTicket: copies=3"), std::string::npos)
        << "the driver reports DM_COPIES: EMF playback asks for 3 copies";
    std::vector<TestImage> pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), 1u);
    Box b = ink_box(pages[0]);
    EXPECT_EQ(b.left, 0);
    EXPECT_EQ(b.top, 0);
    EXPECT_EQ(b.right, 1186);
    EXPECT_EQ(b.bottom, 591);
    EXPECT_EQ(pixel_at(pages[0], 10, 10), 0x000000u);
    EXPECT_EQ(pixel_at(pages[0], 593, 10), 0xffffffu) << "the cross is in the middle";
    EXPECT_EQ(pixel_at(pages[0], 10, 296), 0xffffffu) << "the cross is in the middle";
}

TEST_F(StrelwickEmf, BadSpoolFiles)
{
    std::string text = dir + "/notes.txt";
    ASSERT_TRUE(write_file(text, "this is not a metafile\n"));
    RunResult r = run_tool({"emf", windows_path(text), kStdoutPrinter}, {}, "");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(after_greeting_and_setup(r.err), "failed to parse EMF file\n");
    EXPECT_EQ(page_count(r.out), 1);
    std::vector<TestImage> pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(ink_box(pages[0]).left, -1) << "the page is empty";

    std::string empty = dir + "/empty.emf";
    ASSERT_TRUE(write_file(empty, ""));
    r = run_tool({"emf", windows_path(empty), kStdoutPrinter}, {}, "");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(after_greeting_and_setup(r.err), "failed to parse EMF file\n");

    std::string missing = windows_path(dir + "/missing.emf");
    r = run_tool({"emf", missing, kStdoutPrinter}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err,
        "strelwick get called.\nSpoolerData::LoadSpoolerFile - cannot open '" + missing + "'");
    EXPECT_EQ(r.out, "");

    r = run_tool({"emf"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "strelwick get called.\nSpoolerData::LoadSpoolerFile - cannot open ''");

    // 4 GiB + 10 bytes (sparse): its low 32 bits would say 10 bytes.
    std::string huge = dir + "/huge.emf";
    int fd = open(huge.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(ftruncate(fd, (off_t)4 * 1024 * 1024 * 1024 + 10), 0);
    close(fd);
    r = run_tool({"emf", windows_path(huge), kStdoutPrinter, "RAW"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err,
        "strelwick get called.\nSpoolerData::LoadSpoolerFile - '" + windows_path(huge)
            + "' is 4 GiB or larger");
    EXPECT_EQ(r.out, "");

    // 3.75 GiB fits the 32-bit size but not a 32-bit process's heap (a
    // 64-bit tool would allocate it and print it).
    if (strcmp(WIN_ARCH, "x86_64") == 0)
        return;
    ASSERT_EQ(truncate(huge.c_str(), (off_t)0xF0000000u), 0);
    r = run_tool({"emf", windows_path(huge), kStdoutPrinter, "RAW"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err,
        "strelwick get called.\nSpoolerData::LoadSpoolerFile - cannot allocate "
        "4026531840 bytes for '"
            + windows_path(huge) + "'");
    EXPECT_EQ(r.out, "");
}

TEST(StrelwickEmfPlayback, ImgKeepsTheDriversCopies)
{
    RunResult r = run_tool({"img"}, {std::string("MODEL=") + kStdoutPrinter},
        bmp_string(make_test_picture(8, 8, 1 << 24), BmpFormat()));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.out.find("copies="), std::string::npos) << "one copy, as the driver set it";
}

TEST_F(StrelwickRaw, BytesReachThePortUnchanged)
{
    std::string data;
    for (int i = 0; i < 70000; i++)
        data += (char)(i * 7 + i / 256);
    data += std::string("\x1a\r\n\0end", 8);
    std::string file = dir + "/job.prn";
    ASSERT_TRUE(write_file(file, data));
    unlink(file_port_path().c_str());

    RunResult r = run_tool({"emf", windows_path(file), kFilePrinter, "RAW", "ignored"}, {}, "");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "strelwick get called.\n");
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(read_file(file_port_path()) == data) << "port file differs from the input";

    // An empty file: one write of 0 bytes, and success.
    std::string empty = dir + "/empty.prn";
    ASSERT_TRUE(write_file(empty, ""));
    unlink(file_port_path().c_str());
    r = run_tool({"emf", windows_path(empty), kFilePrinter, "RAW"}, {}, "");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.err, "strelwick get called.\n");
    EXPECT_EQ(read_file(file_port_path()), "");
}

TEST_F(StrelwickRaw, RefusalsAreSilent)
{
    std::string file = dir + "/job.prn";
    ASSERT_TRUE(write_file(file, "data"));
    unlink(file_port_path().c_str());

    RunResult r = run_tool({"emf", windows_path(file), kFilePrinter, "NO-SUCH-TYPE"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "strelwick get called.\n");
    EXPECT_EQ(access(file_port_path().c_str(), F_OK), -1) << "nothing was printed";

    r = run_tool({"emf", windows_path(file), "No Such Printer", "RAW"}, {}, "");
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.err, "strelwick get called.\n");
    EXPECT_EQ(r.out, "");
}

TEST(StrelwickTestPages, TextSquareAndStar)
{
    RunResult r = run_tool({"text", kStdoutPrinter}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(after_greeting_and_setup(r.err), "");
    EXPECT_NE(r.out.find("%cupsJobTicket: copies=3"), std::string::npos);
    std::vector<TestImage> pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), 1u);
    Box text = ink_box(pages[0]);
    // Text cell's top-left corner at (100, 100): glyphs start just inside it.
    EXPECT_GE(text.left, 100);
    EXPECT_LE(text.left, 110);
    EXPECT_GE(text.top, 100);
    EXPECT_LE(text.top, 125);
    EXPECT_GT(text.right - text.left, 60) << "11 characters are wider than a few";
    EXPECT_LT(text.bottom - text.top, 80) << "one line";

    r = run_tool({"rect", kStdoutPrinter, "ignored"}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), 1u);
    Box square = ink_box(pages[0]);
    EXPECT_NEAR(square.left, 100, 1);
    EXPECT_NEAR(square.top, 100, 1);
    EXPECT_NEAR(square.right, 500, 1);
    EXPECT_NEAR(square.bottom, 500, 1);
    EXPECT_EQ(pixel_at(pages[0], 300, 300), 0xffffffu) << "an outline, filled white";

    r = run_tool({"poly", kStdoutPrinter}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), 1u);
    Box star = ink_box(pages[0]);
    EXPECT_NEAR(star.top, 40, 1) << "the top tip";
    EXPECT_NE(pixel_at(pages[0], 520, star.top), 0xffffffu) << "the tip is at x 520";
    EXPECT_NEAR(star.left, 495, 1);
    EXPECT_NEAR(star.right, 550, 1);
    EXPECT_NEAR(star.bottom, 85, 1);
}

TEST(StrelwickTestPages, EmptyTextAndMissingPrinter)
{
    RunResult r = run_tool({"text", kStdoutPrinter, ""}, {}, "");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    std::vector<TestImage> pages = render(r.out, kA4At300);
    ASSERT_EQ(pages.size(), 1u);
    EXPECT_EQ(ink_box(pages[0]).left, -1) << "the page is empty";

    for (const char* mode : {"text", "rect", "poly"}) {
        r = run_tool({mode}, {}, "");
        EXPECT_EQ(r.exitCode, 0) << mode;
        EXPECT_EQ(r.err,
            "strelwick get called.\n"
            "failed to open printer:Vodidez VUZA Converter,error=1801\n")
            << mode;
    }
}
