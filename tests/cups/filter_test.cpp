// rastertotessal against raster made by CUPS's own tools, with a stand-in
// daemon: the BMP stream must match the raster pixel for pixel, and bad
// input, a missing or silent daemon and a cancel must end the job cleanly.

#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <signal.h>
#include <stdint.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "cups_util.h"
#include "fake_daemon.h"

namespace {

const char* kModel = "Test Printer";
std::string g_dir; // scratch directory for the whole suite
std::string g_ppd;

// Renders pages.ps once per combination of options.
std::string raster_for(const std::string& color, const std::string& size, const std::string& dpi)
{
    static std::map<std::string, std::string> cache;
    std::string key = color + "-" + size + "-" + dpi;
    auto it = cache.find(key);
    if (it != cache.end())
        return it->second;
    std::string out = g_dir + "/" + key + ".ras";
    bool ok = render_raster(g_ppd, fixture("pages.ps"),
        {"ColorModel=" + color, "PageSize=" + size, "Resolution=" + dpi + "dpi"}, out);
    cache[key] = ok ? out : "";
    return cache[key];
}

struct filter_run {
    int status = -1;
    std::string out;
    std::string err;
};

// copies and title as CUPS passes them; env adds to the filter's
// environment (CONTENT_TYPE).
filter_run run_filter(const std::string& input, const std::string& ppd, const char* options = "",
    const char* copies = "1", const std::vector<std::string>& env = {}, const char* title = "doc")
{
    static int n = 0;
    std::string tag = g_dir + "/run" + std::to_string(++n);
    child_io io;
    io.in = input;
    io.out = tag + ".out";
    io.err = tag + ".err";
    io.env = {"PPD=" + ppd};
    io.env.insert(io.env.end(), env.begin(), env.end());
    filter_run r;
    r.status = run({filter_path(), "17", "alice", title, copies, options}, io, 120);
    r.out = read_text(io.out);
    r.err = read_text(io.err);
    return r;
}

uint32_t le32(const std::string& s, size_t at)
{
    const unsigned char* p = (const unsigned char*)s.data() + at;
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}

uint16_t le16(const std::string& s, size_t at)
{
    const unsigned char* p = (const unsigned char*)s.data() + at;
    return (uint16_t)(p[0] | p[1] << 8);
}

// One raster pixel as 0xRRGGBB, decoded independently of the filter.
uint32_t raster_rgb(const cups_page_header2_t& h, const unsigned char* row, unsigned x)
{
    if (h.cupsBitsPerPixel == 24)
        return row[3 * x] << 16 | row[3 * x + 1] << 8 | row[3 * x + 2];
    if (h.cupsBitsPerPixel == 8) {
        unsigned v = row[x];
        if (h.cupsColorSpace == CUPS_CSPACE_K)
            v = 255 - v;
        return v << 16 | v << 8 | v;
    }
    bool set = row[x / 8] & (0x80 >> (x % 8));
    bool black = h.cupsColorSpace == CUPS_CSPACE_K ? set : !set;
    return black ? 0 : 0xffffff;
}

// One BMP pixel as 0xRRGGBB; bmp is the whole file, row the row's offset.
uint32_t bmp_rgb(const std::string& bmp, size_t row, unsigned bpp, unsigned x)
{
    const unsigned char* p = (const unsigned char*)bmp.data();
    unsigned index;
    if (bpp == 24)
        return p[row + 3 * x + 2] << 16 | p[row + 3 * x + 1] << 8 | p[row + 3 * x];
    if (bpp == 8)
        index = p[row + x];
    else
        index = (p[row + x / 8] >> (7 - x % 8)) & 1;
    size_t pal = 14 + 40 + 4 * index;
    return p[pal + 2] << 16 | p[pal + 1] << 8 | p[pal];
}

// Compares the BMP page stream with the raster file, page by page and row
// by row.  Returns "" or the first difference.  With want_w and want_h the
// pages are that size: the raster's top-left part, white beyond it.
std::string compare_stream(const std::string& raster, const std::string& s, int* pages,
    unsigned want_w = 0, unsigned want_h = 0)
{
    int fd = open(raster.c_str(), O_RDONLY);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_READ);
    cups_page_header2_t h;
    size_t at = 0;
    *pages = 0;
    std::string why;
    std::vector<unsigned char> row;
    long non_white = 0;
    while (why.empty() && cupsRasterReadHeader2(ras, &h)) {
        ++*pages;
        std::string page = "page " + std::to_string(*pages) + ": ";
        if (s.size() < at + 54 || s.compare(at, 2, "BM") != 0) {
            why = page + "no BMP file in the stream";
            break;
        }
        uint32_t size = le32(s, at + 2), off = le32(s, at + 10);
        int32_t width = (int32_t)le32(s, at + 18);
        int32_t height = (int32_t)le32(s, at + 22);
        unsigned bpp = le16(s, at + 28);
        if (s.size() < at + size) {
            why = page + "BMP file cut short";
            break;
        }
        unsigned raster_h = h.cupsHeight;
        if (want_w)
            h.cupsWidth = want_w;
        if (want_h)
            h.cupsHeight = want_h;
        if (le32(s, at + 14) != 40 || width != (int32_t)h.cupsWidth
            || height != -(int32_t)h.cupsHeight || bpp != h.cupsBitsPerPixel
            || le32(s, at + 30) != 0) {
            why = page + "BMP header does not describe the raster page";
            break;
        }
        uint32_t stride = (width * bpp + 31) / 32 * 4;
        if (size != off + stride * h.cupsHeight) {
            why = page + "BMP size does not add up";
            break;
        }
        std::string bmp = s.substr(at, size);
        row.resize(h.cupsBytesPerLine);
        for (unsigned y = 0; why.empty() && y < h.cupsHeight; y++) {
            if (y < raster_h)
                cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine);
            else
                memset(row.data(), h.cupsColorSpace == CUPS_CSPACE_K ? 0 : 0xff, row.size());
            // Grey and black rows go out as they came, then zeros to the stride.
            const char* b = bmp.data() + off + (size_t)y * stride;
            if ((bpp < 24 && memcmp(b, row.data(), row.size()) != 0)
                || std::string(b + row.size(), stride - row.size()).find_first_not_of('\0')
                    != std::string::npos) {
                why = page + "row " + std::to_string(y) + " is not the raster row and zero padding";
                break;
            }
            for (unsigned x = 0; x < h.cupsWidth; x++) {
                uint32_t want = raster_rgb(h, row.data(), x);
                uint32_t got = bmp_rgb(bmp, off + (size_t)y * stride, bpp, x);
                non_white += want != 0xffffff;
                if (want != got) {
                    char b[128];
                    snprintf(b, sizeof b, "pixel %u,%u is %06x, raster has %06x", x, y, got, want);
                    why = page + b;
                    break;
                }
            }
        }
        at += size;
    }
    cupsRasterClose(ras);
    close(fd);
    if (why.empty() && at != s.size())
        why = "bytes after the last page";
    if (why.empty() && non_white < 1000)
        why = "the raster is blank";
    return why;
}

struct raster_case {
    const char* color;
    const char* size;
    const char* dpi;
    const char* paper_code;
};

class FilterRaster : public ::testing::TestWithParam<raster_case> { };

TEST_P(FilterRaster, SendsEachPageAsTheSamePixels)
{
    raster_case c = GetParam();
    std::string ras = raster_for(c.color, c.size, c.dpi);
    ASSERT_FALSE(ras.empty()) << "cupsfilter failed";
    fake_daemon d;
    d.reply = "%!PS-Adobe-3.0\n% printer data\n";
    ASSERT_TRUE(fake_start(&d));
    filter_run r = run_filter(ras, g_ppd);
    fake_stop(&d);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, d.reply);
    EXPECT_NE(r.err.find("PAGE: 1 1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("PAGE: 2 1\n"), std::string::npos) << r.err;
    std::string dpi = std::string(c.dpi) + "x" + c.dpi;
    std::vector<std::string> want = {"PACKAGENAME=generic-ps", std::string("MODEL=") + kModel,
        std::string("PAGESIZE=") + c.paper_code, "DPI=" + dpi, "DOCNAME=doc"};
    EXPECT_EQ(d.entries, want);
    EXPECT_TRUE(d.saw_eof);
    int pages;
    EXPECT_EQ(compare_stream(ras, d.pages, &pages), "");
    EXPECT_EQ(pages, 2);
}

INSTANTIATE_TEST_SUITE_P(ColourSizeResolution, FilterRaster,
    ::testing::Values(raster_case {"RGB", "A4", "300", "9"},
        raster_case {"Gray", "Letter", "600", "1"}, raster_case {"Black", "A4", "600", "9"},
        raster_case {"RGB", "Letter", "600", "1"}, raster_case {"Gray", "A4", "300", "9"},
        raster_case {"Black", "Letter", "300", "1"}),
    [](const ::testing::TestParamInfo<raster_case>& i) {
        return std::string(i.param.color) + i.param.size + i.param.dpi;
    });

// A queue made from a laser's listing: the job's choices reach the block
// as the driver's codes, the title as the document name, and each page is
// exactly the driver's printable area.
TEST(FilterDriverOptions, ChoicesTitleAndPrintableArea)
{
    std::string ppd = g_dir + "/laser.ppd";
    ASSERT_EQ(
        run({mkppd_path(), "--package", "laser", "--listing", fixture("laser.caps"), "-o", ppd}, {},
            30),
        0);
    const char* options
        = "Duplex=DuplexTumble InputSlot=Tray2Envelopes ColorModel=Gray MediaType=HeavyPaper";
    std::string ras = g_dir + "/laser.ras";
    ASSERT_TRUE(render_raster(ppd, fixture("pages.ps"),
        {"Duplex=DuplexTumble", "InputSlot=Tray2Envelopes", "ColorModel=Gray"}, ras));
    fake_daemon d;
    d.reply = "printer data";
    ASSERT_TRUE(fake_start(&d));
    filter_run r = run_filter(ras, ppd, options, "1", {}, "Q3\x01report \xff\xe2\x82\xac");
    fake_stop(&d);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> want
        = {"PACKAGENAME=laser", "MODEL=Office Laser 5", "PAGESIZE=9", "DPI=600x600", "DUPLEX=3",
            "INPUTBIN=260", "COLOR=1", "MEDIATYPE=256", "DOCNAME=Q3?report ?\xe2\x82\xac"};
    EXPECT_EQ(d.entries, want);
    int pages;
    EXPECT_EQ(compare_stream(ras, d.pages, &pages, 4760, 6815), "");
    EXPECT_EQ(pages, 2);
}

// Splits a page stream into its BMP files.
std::vector<std::string> bmp_files(const std::string& s)
{
    std::vector<std::string> files;
    for (size_t at = 0; at + 14 <= s.size() && le32(s, at + 2) >= 14; at += le32(s, at + 2))
        files.push_back(s.substr(at, le32(s, at + 2)));
    return files;
}

// lp -n 3 of a raster file: the filter sends the pages again, collated or
// not, unless the queue says the driver makes copies, which then gets them.
TEST(FilterCopies, RasterJobsGetTheirCopies)
{
    std::string ras = raster_for("Gray", "A4", "300");
    std::string laser = g_dir + "/laser-copies.ppd";
    ASSERT_EQ(
        run({mkppd_path(), "--package", "laser", "--listing", fixture("laser.caps"), "-o", laser},
            {}, 30),
        0);
    struct {
        const char* name;
        std::string ppd;
        const char* options;
        std::vector<int> order; // pages sent
        const char* keys; // COPIES and COLLATE sent
    } cases[] = {
        {"collated", g_ppd, "Collate=True", {0, 1, 0, 1, 0, 1}, ""},
        {"uncollated", g_ppd, "", {0, 0, 0, 1, 1, 1}, ""},
        {"by the driver", laser, "multiple-document-handling=separate-documents-collated-copies",
            {0, 1}, "COPIES=3 COLLATE=1 "},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake_daemon d;
        d.reply = "printer data";
        ASSERT_TRUE(fake_start(&d));
        filter_run r
            = run_filter(ras, c.ppd, c.options, "3", {"CONTENT_TYPE=application/vnd.cups-raster"});
        fake_stop(&d);
        ASSERT_EQ(r.status, 0) << r.err;
        std::string keys;
        for (const std::string& e : d.entries)
            if (e.rfind("COPIES=", 0) == 0 || e.rfind("COLLATE=", 0) == 0)
                keys += e + " ";
        EXPECT_EQ(keys, c.keys);
        std::vector<std::string> got = bmp_files(d.pages);
        ASSERT_EQ(got.size(), c.order.size());
        size_t second = std::find(c.order.begin(), c.order.end(), 1) - c.order.begin();
        const std::string* first_copy[] = {&got[0], &got[second]};
        ASSERT_TRUE(got[0] != got[second]);
        for (size_t i = 0; i < got.size(); i++)
            EXPECT_TRUE(got[i] == *first_copy[c.order[i]]) << "page " << i + 1;
        // Copies the filter makes count as pages sent, like the first ones.
        for (size_t i = 1; i <= got.size(); i++) {
            std::string n = std::to_string(i);
            EXPECT_NE(
                r.err.find("PAGE: " + n + " 1\nINFO: Sent page " + n + "\n"), std::string::npos)
                << r.err;
        }
    }
}

cups_page_header2_t gray_header(unsigned width, unsigned height);
std::string hand_raster(const std::vector<cups_page_header2_t>& pages, bool with_pixels);

// The most copies a job may ask for: the driver's maximum where it makes
// them (the laser's, cut to 3 here), else 9999.  One more is refused before
// anything is sent, whether the count comes from CUPS or from the raster
// header.
TEST(FilterCopies, AtMostThePrintersMaximum)
{
    std::string ras = raster_for("Gray", "A4", "300");
    std::string laser = g_dir + "/laser-max.ppd";
    ASSERT_EQ(
        run({mkppd_path(), "--package", "laser", "--listing", fixture("laser.caps"), "-o", laser},
            {}, 30),
        0);
    std::string text = read_text(laser);
    size_t at = text.find("*TessalMaxCopies: \"999\"");
    ASSERT_NE(at, std::string::npos);
    ASSERT_TRUE(write_text(laser, text.replace(at, 23, "*TessalMaxCopies: \"3\"")));
    cups_page_header2_t many = gray_header(10, 10);
    many.NumCopies = 4000000000u;
    std::string header_copies = g_dir + "/many.ras";
    ASSERT_TRUE(write_text(header_copies, hand_raster({many}, true)));
    std::vector<std::string> raster = {"CONTENT_TYPE=application/vnd.cups-raster"};
    struct {
        const char* name;
        std::string ppd, input;
        const char* copies;
        std::vector<std::string> env;
        const char* error; // nullptr: the driver gets them all
    } cases[] = {
        {"the driver's maximum", laser, ras, "3", raster, nullptr},
        {"one over the driver's maximum", laser, ras, "4", raster, "at most 3"},
        {"over the COPIES limit", g_ppd, ras, "10000", raster, "at most 9999"},
        {"4e9 in the raster header", g_ppd, header_copies, "1", {}, "4000000000 copies"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake_daemon d;
        d.reply = "printer data";
        ASSERT_TRUE(fake_start(&d));
        filter_run r = run_filter(c.input, c.ppd, "", c.copies, c.env);
        fake_stop(&d);
        if (!c.error) {
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_NE(std::find(d.entries.begin(), d.entries.end(), "COPIES=3"), d.entries.end());
            EXPECT_EQ(bmp_files(d.pages).size(), 2u);
            continue;
        }
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("ERROR: The job asks for"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_FALSE(d.connected);
    }
}

std::string pixels(const cups_page_header2_t& h)
{
    std::string s((size_t)h.cupsBytesPerLine * h.cupsHeight, '\0');
    for (size_t i = 0; i < s.size(); i++)
        s[i] = (char)((i * 2654435761u) >> 13);
    return s;
}

// A raster stream written by hand: the uncompressed version 3 sync word in
// host byte order, then pages with patterned pixels.
std::string hand_raster(const std::vector<cups_page_header2_t>& pages, bool with_pixels)
{
    uint32_t sync = 0x52615333; // "RaS3"
    std::string s((const char*)&sync, 4);
    for (const cups_page_header2_t& h : pages) {
        s.append((const char*)&h, sizeof h);
        if (with_pixels)
            s += pixels(h);
    }
    return s;
}

// The same pages compressed by libcups, as some CUPS filters send them.
std::string compressed_raster(const std::vector<cups_page_header2_t>& pages)
{
    std::string path = g_dir + "/compressed.ras";
    int fd = open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    cups_raster_t* ras = cupsRasterOpen(fd, CUPS_RASTER_WRITE_COMPRESSED);
    for (cups_page_header2_t h : pages) {
        std::string p = pixels(h);
        cupsRasterWriteHeader2(ras, &h);
        cupsRasterWritePixels(ras, (unsigned char*)&p[0], (unsigned)p.size());
    }
    cupsRasterClose(ras);
    close(fd);
    return read_text(path);
}

cups_page_header2_t gray_header(unsigned width, unsigned height)
{
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    h.HWResolution[0] = h.HWResolution[1] = 300;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.cupsWidth = width;
    h.cupsHeight = height;
    h.cupsBitsPerColor = 8;
    h.cupsBitsPerPixel = 8;
    h.cupsBytesPerLine = width;
    h.cupsColorSpace = CUPS_CSPACE_SW;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    return h;
}

// Raster the filter cannot take is refused before anything is sent.
TEST(FilterBadInput, RefusedBeforeConnecting)
{
    cups_page_header2_t zero = gray_header(0, 10);
    cups_page_header2_t deep = gray_header(10, 10);
    deep.cupsColorSpace = CUPS_CSPACE_RGB;
    deep.cupsBitsPerColor = 16;
    deep.cupsBitsPerPixel = 48;
    deep.cupsBytesPerLine = 60;
    cups_page_header2_t planar = gray_header(10, 10);
    planar.cupsColorSpace = CUPS_CSPACE_RGB;
    planar.cupsBitsPerPixel = 24;
    planar.cupsBytesPerLine = 30;
    planar.cupsColorOrder = CUPS_ORDER_PLANAR;
    cups_page_header2_t fast = gray_header(10, 10);
    fast.HWResolution[0] = fast.HWResolution[1] = 4000000000u;
    cups_page_header2_t no_paper = gray_header(10, 10);
    no_paper.PageSize[0] = no_paper.PageSize[1] = 0;
    cups_page_header2_t wide = gray_header(4000, 10); // 13 inches at 300 dpi, on A4
    cups_page_header2_t tall = gray_header(10, 3809); // a row more than A4 and an inch
    cups_page_header2_t low = gray_header(10, 10); // the queue offers 300 and 600 dpi
    low.HWResolution[0] = low.HWResolution[1] = 150;
    cups_page_header2_t uneven = gray_header(10, 10);
    uneven.HWResolution[0] = 600;
    std::string good = hand_raster({gray_header(10, 10)}, true);
    struct {
        const char* name;
        std::string data;
        const char* error;
    } cases[] = {
        {"4e9 dpi", hand_raster({fast}, true), "implausible resolution"},
        {"no paper", hand_raster({no_paper}, true), "implausible page size"},
        {"wider than its paper", hand_raster({wide}, true), "larger than its page"},
        {"taller than its paper", hand_raster({tall}, true), "larger than its page"},
        {"150 dpi", hand_raster({low}, true), "150x150 dpi is not one this queue offers"},
        {"600x300 dpi", hand_raster({uneven}, true), "600x300 dpi is not one this queue offers"},
        {"empty input", "", "no readable CUPS raster page"},
        {"zero width", hand_raster({zero}, true), "no readable CUPS raster page"},
        {"16 bits per colour", hand_raster({deep}, true), "unsupported raster"},
        {"planar RGB", hand_raster({planar}, true), "colour order"},
        {"header cut short", good.substr(0, 4 + 300), "no readable CUPS raster page"},
        {"not raster", "%PDF-1.4\n", "no readable CUPS raster page"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string in = g_dir + "/bad.ras";
        ASSERT_TRUE(write_text(in, c.data));
        fake_daemon d;
        ASSERT_TRUE(fake_start(&d));
        filter_run r = run_filter(in, g_ppd);
        fake_stop(&d);
        EXPECT_NE(r.status, 0);
        EXPECT_EQ(r.err.find("ERROR: "), 0u) << r.err;
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_FALSE(d.connected);
        EXPECT_EQ(r.out, "");
    }
}

// A PPD that does not tie the queue to a package, or a page size without
// a Windows paper code, is refused before anything is sent.
TEST(FilterBadInput, PpdWithoutPackageOrPaperCode)
{
    std::string ppd = read_text(g_ppd);
    std::string in = g_dir + "/ok.ras";
    ASSERT_TRUE(write_text(in, hand_raster({gray_header(10, 10)}, true)));
    struct {
        const char* name;
        const char* drop; // line removed from the PPD
        const char* error;
    } cases[] = {
        {"no package", "*TessalPackage:", "no *TessalPackage"},
        {"no model", "*TessalModel:", "no *TessalModel"},
        {"no paper code", "*TessalPaperCode A4:", "A4 has no Windows paper code"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        size_t at = ppd.find(c.drop);
        ASSERT_NE(at, std::string::npos);
        std::string cut = ppd;
        cut.erase(at, cut.find('\n', at) + 1 - at);
        std::string path = g_dir + "/cut.ppd";
        ASSERT_TRUE(write_text(path, cut));
        fake_daemon d;
        ASSERT_TRUE(fake_start(&d));
        filter_run r = run_filter(in, path);
        fake_stop(&d);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find(c.error), std::string::npos) << r.err;
        EXPECT_FALSE(d.connected);
    }
}

// Bad raster after the first page: the job stops with an error and the
// connection ends; nothing is reported as printed.
TEST(FilterBadInput, LaterPageBad)
{
    cups_page_header2_t deep = gray_header(10, 10);
    deep.cupsBitsPerColor = 16;
    deep.cupsBitsPerPixel = 16;
    deep.cupsBytesPerLine = 20;
    cups_page_header2_t fast = gray_header(10, 10);
    fast.HWResolution[1] = 4000000000u;
    cups_page_header2_t finer = gray_header(20, 20);
    finer.HWResolution[0] = finer.HWResolution[1] = 600;
    std::string one = hand_raster({gray_header(10, 10)}, true);
    std::string two = hand_raster({gray_header(10, 10), deep}, true);
    std::string cut = one.substr(0, one.size() - 25); // ends inside the pixel rows
    std::string header = hand_raster({gray_header(10, 10)}, false).substr(4);
    struct {
        const char* name;
        std::string data;
    } cases[] = {
        {"unsupported second page", two},
        {"implausible second page", hand_raster({gray_header(10, 10), fast}, true)},
        {"pixels cut short", cut},
        {"0x0 second page", hand_raster({gray_header(10, 10), gray_header(0, 0)}, true)},
        {"second page at another resolution", hand_raster({gray_header(10, 10), finer}, true)},
        {"second header cut short", one + header.substr(0, 100)},
        {"stray bytes after the last page", one + "\n"},
        // libcups reads compressed raster ahead: the cut header is in its buffer.
        {"compressed, then a cut header",
            compressed_raster({gray_header(10, 10), gray_header(10, 10)}) + header.substr(0, 200)},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string in = g_dir + "/late.ras";
        ASSERT_TRUE(write_text(in, c.data));
        fake_daemon d;
        d.reply = "data";
        ASSERT_TRUE(fake_start(&d));
        filter_run r = run_filter(in, g_ppd);
        fake_stop(&d);
        EXPECT_NE(r.status, 0);
        EXPECT_NE(r.err.find("ERROR: "), std::string::npos) << r.err;
        EXPECT_TRUE(d.saw_eof) << r.err;
        EXPECT_EQ(r.out, "");
    }
}

// A driver whose dots are twice as fine down the page: the sheet CUPS
// renders at 600x1200 is cut to that resolution's printable area, its
// corner dot (60, 300) becoming the page's first.
TEST(FilterDriverOptions, NonSquareDotsSendTheirPrintableArea)
{
    std::string caps = g_dir + "/tall.caps";
    ASSERT_TRUE(write_text(caps,
        "PRINTER=Tall Dots\nPAPER=9,2100,2970,A4\nRESOLUTION=600x1200\nRESOLUTION=1200x600\n"
        "PAGE=9,600x1200,4960,14030,60,300,4800,13500\n"
        "PAGE=9,1200x600,9920,7015,100,90,9700,6900\n"));
    std::string ppd = g_dir + "/tall.ppd";
    ASSERT_EQ(run({mkppd_path(), "--package", "tall", "--listing", caps, "-o", ppd}, {}, 30), 0);
    cups_page_header2_t h;
    memset(&h, 0, sizeof h);
    h.HWResolution[0] = 600;
    h.HWResolution[1] = 1200;
    h.PageSize[0] = 595;
    h.PageSize[1] = 842;
    h.cupsWidth = 4960;
    h.cupsHeight = 14030;
    h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
    h.cupsBytesPerLine = 620;
    h.cupsColorSpace = CUPS_CSPACE_K;
    h.cupsColorOrder = CUPS_ORDER_CHUNKED;
    std::string raster = hand_raster({h}, false);
    std::string rows((size_t)620 * 14030, '\0');
    rows[(size_t)300 * 620 + 60 / 8] = (char)(0x80 >> (60 % 8));
    std::string in = g_dir + "/tall.ras";
    ASSERT_TRUE(write_text(in, raster + rows));
    fake_daemon d;
    d.reply = "printer data";
    ASSERT_TRUE(fake_start(&d));
    filter_run r = run_filter(in, ppd);
    fake_stop(&d);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(std::find(d.entries.begin(), d.entries.end(), "DPI=600x1200"), d.entries.end());
    std::vector<std::string> got = bmp_files(d.pages);
    ASSERT_EQ(got.size(), 1u);
    const std::string& bmp = got[0];
    EXPECT_EQ(le32(bmp, 18), 4800u);
    EXPECT_EQ((int32_t)le32(bmp, 22), -13500);
    size_t off = le32(bmp, 10), inked = 0;
    for (size_t i = off; i < bmp.size(); i++)
        inked += __builtin_popcount((unsigned char)bmp[i]);
    EXPECT_EQ(inked, 1u);
    EXPECT_EQ((unsigned char)bmp[off], 0x80) << "the area's corner is not the page's first dot";
}

// Pages the PPD's colour modes never produce: 1-bit rows 32 to 40 pixels
// wide, most not a multiple of 8 (black ink and white light), odd-width
// 8-bit grey and 8-bit black ink.  compare_stream checks them byte for byte; compressed,
// the stream must still end cleanly.
TEST(FilterRasterByHand, OddWidthsAndEightBitBlack)
{
    std::vector<cups_page_header2_t> pages;
    for (unsigned w = 32; w <= 40; w++) {
        cups_page_header2_t h = gray_header(w, 40);
        h.cupsBitsPerColor = h.cupsBitsPerPixel = 1;
        h.cupsBytesPerLine = (w + 7) / 8;
        h.cupsColorSpace = w % 2 ? CUPS_CSPACE_K : CUPS_CSPACE_SW;
        pages.push_back(h);
    }
    pages.push_back(gray_header(37, 40));
    pages.push_back(gray_header(38, 40));
    pages.back().cupsColorSpace = CUPS_CSPACE_K;
    for (bool compressed : {false, true}) {
        SCOPED_TRACE(compressed ? "compressed" : "uncompressed");
        std::string in = g_dir + "/odd.ras";
        ASSERT_TRUE(
            write_text(in, compressed ? compressed_raster(pages) : hand_raster(pages, true)));
        fake_daemon d;
        d.reply = "data";
        ASSERT_TRUE(fake_start(&d));
        filter_run r = run_filter(in, g_ppd);
        fake_stop(&d);
        ASSERT_EQ(r.status, 0) << r.err;
        int n;
        EXPECT_EQ(compare_stream(in, d.pages, &n), "");
        EXPECT_EQ(n, (int)pages.size());
    }
}

// CUPS's filters send a stream without pages when the job's page
// selection leaves none (page-ranges=10-12 of a 3-page document): the job
// ends quietly, and the daemon is not asked for anything.
TEST(FilterQuiet, NoPagesSelected)
{
    std::string in = g_dir + "/nopages.ras";
    ASSERT_TRUE(write_text(in, hand_raster({}, true)));
    fake_daemon d;
    ASSERT_TRUE(fake_start(&d));
    filter_run r = run_filter(in, g_ppd, "page-ranges=10-12");
    fake_stop(&d);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("INFO: Nothing to print: the job selects no pages"), std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find("ERROR"), std::string::npos) << r.err;
    EXPECT_FALSE(d.connected);
}

// A paper the queue does not offer: CUPS prints on the default paper, and
// the filter says so, naming both.  A paper it offers, by its PWG name,
// and a tray in media= are no cause for a word.
TEST(FilterQuiet, PaperTheQueueLacksIsNamed)
{
    std::string ras = raster_for("Gray", "A4", "300");
    struct {
        const char* options;
        const char* warning; // nullptr: none
    } cases[] = {
        {"media=A3", "WARNING: This printer does not offer paper A3: printing on A4\n"},
        {"PageSize=Tabloid",
            "WARNING: This printer does not offer paper Tabloid: printing on A4\n"},
        {"media=iso_a4_210x297mm,Tray1", nullptr},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.options);
        fake_daemon d;
        d.reply = "printer data";
        ASSERT_TRUE(fake_start(&d));
        filter_run r = run_filter(ras, g_ppd, c.options);
        fake_stop(&d);
        EXPECT_EQ(r.status, 0) << r.err;
        if (c.warning)
            EXPECT_NE(r.err.find(c.warning), std::string::npos) << r.err;
        else
            EXPECT_EQ(r.err.find("WARNING"), std::string::npos) << r.err;
    }
}

TEST(FilterDaemon, DaemonDownIsAnError)
{
    std::string ras = raster_for("Gray", "A4", "300");
    filter_run r = run_filter(ras, g_ppd);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("ERROR: Cannot reach the print daemon"), std::string::npos) << r.err;
}

TEST(FilterDaemon, NoPrinterDataIsAnError)
{
    fake_daemon d;
    d.mode = FAKE_SILENT;
    ASSERT_TRUE(fake_start(&d));
    filter_run r = run_filter(raster_for("Gray", "A4", "300"), g_ppd);
    fake_stop(&d);
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("ERROR: The desktop user's printer returned no data"), std::string::npos)
        << r.err;
}

// Printer data the filter cannot pass on fails the job, naming the cause and
// the place, instead of ending as printed.
TEST(FilterDaemon, FullOutputNamesTheCause)
{
    fake_daemon d;
    d.mode = FAKE_REPLY_FIRST;
    d.reply = "printer data";
    ASSERT_TRUE(fake_start(&d));
    child_io io;
    io.in = raster_for("Gray", "A4", "300");
    io.out = "/dev/full";
    io.err = g_dir + "/full.err";
    io.env = {"PPD=" + g_ppd};
    int status = wait_for(spawn({filter_path(), "1", "u", "t", "1", ""}, io), 120);
    fake_stop(&d);
    std::string err = read_text(io.err);
    EXPECT_NE(status, 0) << err;
    EXPECT_NE(err.find(": cannot write printer data to the filter's output (stdout): No space "
                       "left on device\n"),
        std::string::npos)
        << err;
    EXPECT_EQ(err.find("INFO: Printed"), std::string::npos) << err;
}

// A driver that answers before reading the pages: far more data than the
// socket buffers hold, so a filter that only reads after sending hangs.
TEST(FilterDaemon, EarlyAnswerDoesNotDeadlock)
{
    fake_daemon d;
    d.mode = FAKE_REPLY_FIRST;
    d.reply.resize(16 << 20);
    for (size_t i = 0; i < d.reply.size(); i++)
        d.reply[i] = (char)((i * 2654435761u) >> 13);
    ASSERT_TRUE(fake_start(&d));
    std::string ras = raster_for("RGB", "A4", "300");
    filter_run r = run_filter(ras, g_ppd);
    fake_stop(&d);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.out == d.reply) << "relayed data differs";
    int pages;
    EXPECT_EQ(compare_stream(ras, d.pages, &pages), "");
}

// CUPS cancels with SIGTERM; the filter must end at once and close the
// connection even while the daemon is not reading.
TEST(FilterDaemon, CancelEndsFilterAndConnection)
{
    fake_daemon d;
    d.mode = FAKE_STALL;
    ASSERT_TRUE(fake_start(&d));
    child_io io;
    io.in = raster_for("RGB", "A4", "300");
    io.err = g_dir + "/cancel.err";
    io.env = {"PPD=" + g_ppd};
    pid_t pid = spawn({filter_path(), "1", "u", "t", "1", ""}, io);
    for (int i = 0; i < 6000 && !d.stalled; i++)
        usleep(10000);
    ASSERT_TRUE(d.stalled);
    usleep(200000);
    kill(pid, SIGTERM);
    int status = wait_for(pid, 20);
    d.drain = true;
    fake_stop(&d);
    EXPECT_NE(status, -1) << "filter did not end after SIGTERM";
    EXPECT_NE(status, 0);
    EXPECT_TRUE(d.saw_eof);
    EXPECT_NE(read_text(io.err).find("INFO: Job canceled"), std::string::npos);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // A private network namespace gives the stand-in daemon its own copy of
    // the abstract socket name.  The filter asks the active-user script
    // before it connects: a private /opt holds one that names a user,
    // whatever this machine has installed.
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0
        || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
        || mount("tessalopt", "/opt", "tmpfs", 0, "mode=0755") != 0
        || mkdir("/opt/tessalwine", 0755) != 0 || mkdir("/opt/tessalwine/printer_drv", 0755) != 0
        || !write_text(
            "/opt/tessalwine/printer_drv/xpub.sh", "echo XUSER=tester\necho DISPLAY=\n")) {
        perror("private namespaces (the filter tests need root)");
        return 1;
    }
    g_dir = temp_dir("tessal-filter-test");
    g_ppd = make_test_ppd(g_dir, "generic-ps", kModel);
    if (g_ppd.empty()) {
        fprintf(stderr, "tessal-mkppd failed\n");
        return 1;
    }
    int rc = RUN_ALL_TESTS();
    remove_dir(g_dir);
    return rc;
}
