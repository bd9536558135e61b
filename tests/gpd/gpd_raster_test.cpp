// The raster printer against the sample printer's GPD: its output decoded
// back must hold exactly the device rows the page makes, for each
// compression the GPD offers and each device pixel format.
#include "gpd_compress.h"
#include "gpd_config.h"
#include "gpd_file.h"
#include "gpd_halftone.h"
#include "gpd_raster.h"
#include "tjet_decode.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace {

std::string slurp(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The sample's command file without the lines naming any of drop, and
// with extra added to the main file.
struct variant {
    std::vector<std::string> drop;
    std::string extra;
};

std::string g_dir;

// options: Resolution options put before the sample's second one.
bool load_variant(const variant& v, gpd_doc* doc, std::string* err, const std::string& options = "")
{
    std::string cmds = slurp(SAMPLE_DIR "/tjetcmds.gpd"), kept;
    std::istringstream in(cmds);
    for (std::string line; std::getline(in, line);) {
        bool skip = false;
        for (const std::string& d : v.drop)
            skip |= line.find(d) != std::string::npos;
        if (!skip)
            kept += line + "\n";
    }
    std::ofstream(g_dir + "/TJetCmds.GPD") << kept;
    std::string main = slurp(SAMPLE_DIR "/TJET.GPD") + v.extra;
    main.insert(main.find("    *Option: Option2\n"), options);
    return gpd_load_text(main, "TJET.GPD", g_dir.c_str(), doc, err);
}

// A page with what raster printers meet: blank rows, text-like strokes
// with gaps, a grey ramp, colour patches and rows that repeat.
std::vector<std::string> test_page(long w, long h, int bpp)
{
    std::vector<std::string> rows;
    long bytes = (w * bpp + 7) / 8;
    unsigned seed = 12345;
    for (long y = 0; y < h; y++) {
        std::string r(bytes, bpp == 1 ? 0 : (char)0xff);
        bool blank = (y / 40) % 5 == 0;
        for (long x = 0; x < w && !blank; x++) {
            unsigned v = 255;
            if (y % 100 < 30 && (x / 7) % 9 < 4 && x < w / 2)
                v = 0; // strokes with gaps
            else if (y % 100 >= 50 && y % 100 < 70 && x > w / 3 && x < w * 2 / 3)
                v = (unsigned)(x * 255 / w); // a ramp, the same row after row
            else if (y % 100 >= 80 && x > w - 200 && x < w - 40) {
                seed = seed * 1103515245 + 12345;
                v = (seed >> 16) & 0xff; // noise
            }
            if (bpp == 1 && v < 128)
                r[x >> 3] = (char)(r[x >> 3] | (0x80 >> (x & 7)));
            else if (bpp == 8)
                r[x] = (char)v;
            else if (bpp == 24) {
                r[x * 3] = (char)v;
                r[x * 3 + 1] = (char)(x % 3 ? v : 255 - v);
                r[x * 3 + 2] = (char)((y / 100) % 2 ? v : 255);
            }
        }
        rows.push_back(r);
    }
    return rows;
}

bool to_string_sink(void* ctx, const char* data, size_t len)
{
    ((std::string*)ctx)->append(data, len);
    return true;
}

struct printed {
    gpd_job job;
    std::string data;
    tjet_job decoded;
};

// Prints pages copies of the test page and decodes the result; checks
// every row of every plane.
void print_and_check(const gpd_doc& doc, const char* choices, int in_bpp, int pages, printed* p,
    const tjet_head* head = nullptr)
{
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    std::string err;
    ASSERT_TRUE(gpd_config_parse(&doc, choices, &c, &err)) << err;
    ASSERT_TRUE(gpd_config_resolve(&doc, &c));
    ASSERT_TRUE(gpd_job_start(&p->job, &doc, &c, 2, to_string_sink, &p->data, &err)) << err;
    const gpd_device& d = p->job.dev;
    std::vector<std::string> page = test_page(d.bitmap_w, d.bitmap_h, in_bpp);
    for (int n = 0; n < pages; n++) {
        ASSERT_TRUE(gpd_page_start(&p->job, in_bpp, &err)) << err;
        for (const std::string& r : page)
            ASSERT_TRUE(gpd_page_row(&p->job, (const unsigned char*)r.data(), &err)) << err;
        ASSERT_TRUE(gpd_page_end(&p->job, &err)) << err;
    }
    ASSERT_TRUE(gpd_job_end(&p->job, &err)) << err;
    long width = gpd_row_bytes(&d, d.bitmap_w);
    ASSERT_TRUE(tjet_decode(p->data, width, d.bitmap_h, d.bpp, gpd_white_byte(&d, 0), &p->decoded, &err,
                    head))
        << err;
    ASSERT_EQ((int)p->decoded.pages.size(), pages);
    for (const tjet_page& got : p->decoded.pages) {
        ASSERT_EQ(got.planes, d.planes);
        long bad = 0;
        for (long y = 0; y < d.bitmap_h; y++) {
            std::vector<std::string> want;
            gpd_device_rows(&d, (const unsigned char*)page[y].data(), in_bpp, d.bitmap_w, y, &want);
            for (int pl = 0; pl < d.planes; pl++)
                if (got.rows[pl][y] != want[pl] && bad++ < 3)
                    ADD_FAILURE() << "plane " << pl << " row " << y << " differs";
        }
        EXPECT_EQ(bad, 0);
    }
}

class GpdRaster : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        char tmpl[] = "/tmp/gpd-raster.XXXXXX";
        g_dir = mkdtemp(tmpl);
    }
    static void TearDownTestSuite()
    {
        unlink((g_dir + "/TJetCmds.GPD").c_str());
        rmdir(g_dir.c_str());
    }
};

// Each compression alone, then all of them: the output decodes to the same
// rows, and the method offered is the one used (with uncompressed blocks
// only where the GPD can turn compression off).
TEST_F(GpdRaster, EachCompressionDecodesToTheSameRows)
{
    struct mode_case {
        const char* only; // the mode's digit in the decoder's record
        std::vector<std::string> drop;
    };
    std::vector<mode_case> cases = {
        {"0", {"TIFF4", "DRC", "FE_RLE"}},
        {"2", {"DRC", "FE_RLE", "Disable"}},
        {"3", {"TIFF4", "FE_RLE"}},
        {"1", {"TIFF4", "DRC", "Disable"}},
        {"", {}},
    };
    size_t plain_size = 0;
    for (const mode_case& m : cases) {
        SCOPED_TRACE(std::string("mode ") + m.only);
        gpd_doc doc;
        std::string err;
        ASSERT_TRUE(load_variant({m.drop, ""}, &doc, &err)) << err;
        printed p;
        // Two pages: the printer forgets the compression mode between them.
        print_and_check(doc, "Resolution=Option1", 8, 2, &p);
        if (HasFatalFailure())
            return;
        const std::string& modes = p.decoded.pages[0].modes;
        if (m.only[0] == '0') {
            plain_size = p.data.size();
            EXPECT_EQ(modes.find_first_not_of('0'), std::string::npos);
        } else if (m.only[0]) {
            // Delta rows start from uncompressed or other rows: only the
            // first blocks of a page may go out before the mode is on.
            EXPECT_NE(modes.find(m.only[0]), std::string::npos);
            EXPECT_EQ(modes.find_first_not_of(std::string("0") + m.only), std::string::npos);
            EXPECT_LT(p.data.size(), plain_size);
        } else {
            EXPECT_NE(modes.find('2'), std::string::npos);
        }
    }
}

// The four-plane colour mode and the one-plane 4, 8 and 24 bpp formats.
TEST_F(GpdRaster, EachDeviceFormatDecodesToTheSameRows)
{
    // Formats come from ColorMode options added to a copy of the sample.
    std::string main = slurp(SAMPLE_DIR "/TJET.GPD");
    const char* extra_modes = R"(
    *Option: Bpp4
    {
        *Name: "16 colours"
        *DevNumOfPlanes: 1
        *DevBPP: 4
        *Command: CmdSelect { *Order: DOC_SETUP.30  *Cmd: "<1B>*r1U" }
    }
    *Option: Bpp8
    {
        *Name: "256 greys"
        *DevNumOfPlanes: 1
        *DevBPP: 8
        *Command: CmdSelect { *Order: DOC_SETUP.30  *Cmd: "<1B>*r1U" }
    }
    *Option: Bpp24
    {
        *Name: "True colour"
        *Color?: TRUE
        *DevNumOfPlanes: 1
        *DevBPP: 24
        *Command: CmdSelect { *Order: DOC_SETUP.30  *Cmd: "<1B>*r1U" }
    }
)";
    size_t at = main.find("    *Option: Color\n");
    ASSERT_NE(at, std::string::npos);
    main.insert(at, extra_modes);
    std::ofstream(g_dir + "/TJetCmds.GPD") << slurp(SAMPLE_DIR "/tjetcmds.gpd");
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(gpd_load_text(main, "TJET.GPD", g_dir.c_str(), &doc, &err)) << err;
    const char* modes[] = {"Color", "Bpp4", "Bpp8", "Bpp24"};
    for (const char* m : modes) {
        SCOPED_TRACE(m);
        printed p;
        print_and_check(doc, (std::string("Resolution=Option1;ColorMode=") + m).c_str(), 24, 1, &p);
        if (HasFatalFailure())
            return;
    }
}

// Print heads as Resolution options: 8 and 24 pins, 8 pins interlaced
// three times, and one whose logical pass is no whole number of passes.
const char* const g_heads =
    "    *Option: Pins8 { *DPI: PAIR(150, 150) *PinsPerPhysPass: 8\n"
    "        *Command: CmdSelect { *Order: DOC_SETUP.10 *Cmd: \"<1B>*t150R\" } }\n"
    "    *Option: Pins24 { *DPI: PAIR(300, 300) *PinsPerPhysPass: 24\n"
    "        *Command: CmdSelect { *Order: DOC_SETUP.10 *Cmd: \"<1B>*t300R\" } }\n"
    "    *Option: Pins8x3 { *DPI: PAIR(300, 300) *PinsPerPhysPass: 8 *PinsPerLogPass: 24\n"
    "        *Command: CmdSelect { *Order: DOC_SETUP.10 *Cmd: \"<1B>*t300R\" } }\n"
    "    *Option: Pins8x2half { *DPI: PAIR(150, 150) *PinsPerPhysPass: 8 *PinsPerLogPass: 20 }\n";

// A dot-matrix head (V_BYTE): an 8-pin head with its bytes mirrored, a
// 24-pin head and an 8-pin head interlaced three times, with and without
// the paper fed after each pass, and a four-colour 24-pin head print
// exactly the page's dots, leaving out blank passes and blank columns at
// either end.
TEST_F(GpdRaster, PrintHeadPassesDecodeToTheSameRows)
{
    // The printer feeds the paper after a block ending in V, not after U.
    std::string pass = "\"<1B>*c\" %d{RasterDataHeightInPixels} \"P<1B>*c\" %d{NumOfDataBytes} "
                       "\"N<1B>*c\" %d{RasterDataWidthInBytes} \"";
    std::string format = "*OutputDataFormat: V_BYTE\n";
    std::string block = format + "*Command: CmdSendBlockData: " + pass + "V\"\n";
    std::string no_feed = format + "*Command: CmdSendBlockData: " + pass + "U\"\n";
    std::string colour = format;
    for (const char* c : {"Cyan", "Magenta", "Yellow"})
        colour += std::string("*Command: CmdSend") + c + "Data: " + pass + "U\"\n";
    colour += "*Command: CmdSendBlackData: " + pass + "V\"\n";
    struct head_case {
        const char* resolution;
        tjet_head head;
        std::string extra;
        std::vector<std::string> drop = {"OutputDataFormat", "SendBlockData"};
    } cases[] = {
        {"Pins8", {1, true}, block + "*MirrorRasterByte?: TRUE\n"},
        {"Pins24", {1, false}, block},
        {"Pins8x3", {3, false}, block},
        {"Pins24", {1, false}, no_feed + "*CursorYAfterSendBlockData: NO_MOVE\n"},
        {"Pins24;ColorMode=Color", {1, false}, colour, {"OutputDataFormat", "Send"}},
    };
    for (const head_case& c : cases) {
        SCOPED_TRACE(c.resolution);
        gpd_doc doc;
        std::string err;
        ASSERT_TRUE(load_variant({c.drop, c.extra}, &doc, &err,
            g_heads)) << err;
        printed p;
        print_and_check(doc, (std::string("Resolution=") + c.resolution).c_str(), 8, 2, &p, &c.head);
        if (HasFatalFailure())
            return;
        const gpd_device& d = p.job.dev;
        long passes = (d.bitmap_h + d.pins_phys - 1) / d.pins_phys * 2 * d.planes; // blocks
        EXPECT_LT((long)p.job.blocks, passes * 9 / 10); // blank passes left out
        EXPECT_LT((long)p.data.size(), passes * d.bitmap_w * d.pins_phys / 8 / 2); // and columns
    }
}

// What a dot-matrix head cannot print with is refused before any byte.
TEST_F(GpdRaster, PrintHeadsThatCannotPrintAreRefused)
{
    struct bad_case {
        std::vector<std::string> drop;
        const char* choices;
        const char* message;
    } cases[] = {
        {{"OutputDataFormat"}, "Resolution=Option1", "V_BYTE needs *PinsPerPhysPass"},
        {{"OutputDataFormat"}, "Resolution=Pins8x2half", "multiple of PinsPerPhysPass"},
        {{"OutputDataFormat", "MoveAbsolute", "CursorYAfter"}, "Resolution=Pins8",
            "needs a command that moves the paper"},
    };
    for (const bad_case& b : cases) {
        SCOPED_TRACE(b.message);
        gpd_doc doc;
        std::string err;
        ASSERT_TRUE(load_variant({b.drop, "*OutputDataFormat: V_BYTE\n"}, &doc, &err, g_heads))
            << err;
        gpd_config c;
        gpd_config_defaults(&doc, &c);
        ASSERT_TRUE(gpd_config_parse(&doc, b.choices, &c, &err)) << err;
        gpd_job j;
        std::string out;
        EXPECT_FALSE(gpd_job_start(&j, &doc, &c, 1, to_string_sink, &out, &err));
        EXPECT_NE(err.find(b.message), std::string::npos) << err;
        EXPECT_TRUE(out.empty());
    }
}

// The job's frame: copies, the option commands in their sections and
// order, a page count and the closing reset; and a mono page from 1-bit
// input.
TEST_F(GpdRaster, JobCommandsComeInTheirSections)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load_variant({{}, ""}, &doc, &err)) << err;
    printed p;
    print_and_check(doc, "Resolution=Option1;PaperSize=LETTER;InputBin=MANUAL", 1, 2, &p);
    if (HasFatalFailure())
        return;
    EXPECT_EQ(p.decoded.copies, 2);
    EXPECT_TRUE(p.decoded.ended);
    std::vector<std::string> want = {"*t150R", "&l2A", "&l2H", "&l0M", "&l0S", "*r1U"};
    EXPECT_EQ(p.decoded.pages[0].selects, want);
    EXPECT_EQ(p.data.compare(0, 12, "\x1b%-12345X@TJ"), 0);
    EXPECT_NE(p.data.find("\x1b&s0T"), std::string::npos); // the JOB_SETUP select
    EXPECT_NE(p.data.find("\x1b&p2P"), std::string::npos); // PageNumber on page two
}

// Without ways to move the cursor, nothing may be left out: every row is
// sent whole, blank or not.
TEST_F(GpdRaster, NoCursorMovesSendsEveryRowWhole)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load_variant({{"MoveAbsolute", "CmdCR"}, ""}, &doc, &err)) << err;
    printed p;
    print_and_check(doc, "Resolution=Option1", 8, 1, &p);
    if (HasFatalFailure())
        return;
    EXPECT_EQ((long)p.job.blocks, p.job.dev.bitmap_h);
}

// With relative X moves offered, a move shorter than XMoveThreshold is
// relative and a longer one absolute (stroke rows need both).
TEST_F(GpdRaster, ShortXMovesAreRelativeAndLongOnesAbsolute)
{
    gpd_doc doc;
    std::string err;
    const char* rel = "*XMoveThreshold: 400\n"
                      "*Command: CmdXMoveRelRight: \"<1B>*p+\" %d{DestXRel} \"X\"\n"
                      "*Command: CmdXMoveRelLeft: \"<1B>*p-\" %d{DestXRel} \"X\"\n";
    ASSERT_TRUE(load_variant({{"XMoveThreshold"}, rel}, &doc, &err)) << err;
    printed p;
    print_and_check(doc, "Resolution=Option1", 1, 1, &p);
    if (HasFatalFailure())
        return;
    int relative = 0, absolute = 0;
    for (size_t at = p.data.find("\x1b*p"); at != std::string::npos; at = p.data.find("\x1b*p", at + 3)) {
        const char* s = p.data.c_str() + at + 3;
        char* end;
        long v = strtol(s, &end, 10);
        if (*end != 'X')
            continue;
        if (*s == '+' || *s == '-') {
            relative++;
            EXPECT_LT(labs(v), 400);
        } else {
            absolute++;
        }
    }
    EXPECT_GT(relative, 0);
    EXPECT_GT(absolute, 0);
}

} // namespace

namespace {

// Move units coarser than the pixels: a Y unit of two rows (rows after a
// blank stretch are reached with white rows from the unit above), an X
// unit that is not a whole number of bytes (blocks start a little
// earlier).  Every row lands where it belongs.
TEST_F(GpdRaster, CoarseYMoveUnitStillPlacesEveryRow)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load_variant({{"MoveUnit"}, "*YMoveUnit: 75\n*XMoveUnit: 50\n"}, &doc, &err)) << err;
    for (const char* mode : {"Mono", "Color"}) {
        SCOPED_TRACE(mode);
        printed p;
        print_and_check(doc, (std::string("Resolution=Option1;ColorMode=") + mode).c_str(), 8, 1, &p);
        if (HasFatalFailure())
            return;
        EXPECT_EQ(p.data.find("\x1b*p1Y"), std::string::npos); // no move finer than the unit
    }
}

} // namespace

// What a plug-in does in a job: the GPD's callback commands reach it with
// their parameters, every block's data passes through its filter, and its
// compression competes with the others; the output still decodes to the
// same rows.  A plug-in call that fails ends the job with its message.
struct plugin_log {
    std::vector<std::vector<long>> commands;
    long filtered = 0;
    bool fail = false;
};

bool log_command(void* ctx, gpd_job*, long id, const long* params, int count, std::string* err)
{
    plugin_log* log = (plugin_log*)ctx;
    std::vector<long> call = {id};
    call.insert(call.end(), params, params + count);
    log->commands.push_back(call);
    if (log->fail)
        *err = "the plug-in refused";
    return !log->fail;
}

bool pass_block(void* ctx, gpd_job* j, const unsigned char* data, size_t len, std::string* err)
{
    ((plugin_log*)ctx)->filtered++;
    return gpd_put(j, (const char*)data, len, err);
}

long packbits(void*, const unsigned char* in, size_t len, unsigned char* out, size_t cap)
{
    return gpd_compress_bound(len) <= cap ? (long)gpd_tiff4(in, len, out) : -1;
}

TEST_F(GpdRaster, PluginMakesCommandsFiltersBlocksAndCompresses)
{
    const char* extra = "*Command: CmdEnableOEMComp: \"<1B>*b2M\"\n"
                        "*Command: CmdPluginPage\n{\n    *Order: PAGE_SETUP.90\n"
                        "    *CallbackID: 7\n    *Params: LIST(PageNumber, GraphicsXRes)\n}\n";
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load_variant({{"TIFF4", "DRC", "FE_RLE"}, extra}, &doc, &err)) << err;
    plugin_log log;
    gpd_plugin plugin;
    plugin.ctx = &log;
    plugin.command = log_command;
    plugin.filter = pass_block;
    plugin.compress = packbits;
    printed p;
    p.job.plugin = &plugin;
    print_and_check(doc, "Resolution=Option1", 8, 2, &p);
    if (HasFatalFailure())
        return;
    std::vector<std::vector<long>> want = {{7, 1, 150}, {7, 2, 150}};
    EXPECT_EQ(log.commands, want);
    EXPECT_EQ(log.filtered, (long)p.job.blocks);
    EXPECT_GT(p.job.by_mode[GC_OEM], 0u);
    EXPECT_NE(p.decoded.pages[0].modes.find('2'), std::string::npos);

    // Without the plug-in the job cannot make the command; with a failing
    // one the job ends with its message.
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    gpd_job bare;
    std::string data;
    ASSERT_TRUE(gpd_job_start(&bare, &doc, &c, 1, to_string_sink, &data, &err)) << err;
    EXPECT_FALSE(gpd_page_start(&bare, 8, &err));
    EXPECT_NE(err.find("CmdPluginPage"), std::string::npos) << err;
    log.fail = true;
    gpd_job failing;
    failing.plugin = &plugin;
    ASSERT_TRUE(gpd_job_start(&failing, &doc, &c, 1, to_string_sink, &data, &err)) << err;
    EXPECT_FALSE(gpd_page_start(&failing, 8, &err));
    EXPECT_EQ(err, "the plug-in refused");
}

// A printer that leaves the cursor at the end of the data and has no X
// moves but a carriage return: each row after the first goes back to the
// left edge with CmdCR, or it would print where the last one ended.
TEST_F(GpdRaster, OnlyACarriageReturnBringsEachRowBackToTheEdge)
{
    gpd_doc doc;
    std::string err;
    ASSERT_TRUE(load_variant({{"MoveAbsolute", "CursorXAfter", "TIFF4", "DRC", "FE_RLE"},
                                 "*CursorXAfterSendBlockData: AT_GRXDATA_END\n"},
        &doc, &err))
        << err;
    gpd_config c;
    gpd_config_defaults(&doc, &c);
    gpd_job j;
    std::string data;
    ASSERT_TRUE(gpd_job_start(&j, &doc, &c, 1, to_string_sink, &data, &err)) << err;
    ASSERT_TRUE(gpd_page_start(&j, 1, &err)) << err;
    // Raster bytes that are never a carriage return.
    std::string row((size_t)(j.dev.bitmap_w + 7) / 8, (char)0xf0);
    for (long y = 0; y < j.dev.bitmap_h; y++)
        ASSERT_TRUE(gpd_page_row(&j, (const unsigned char*)row.data(), &err)) << err;
    ASSERT_TRUE(gpd_page_end(&j, &err)) << err;
    EXPECT_GE(std::count(data.begin(), data.end(), '\r'), j.dev.bitmap_h - 1);
}
