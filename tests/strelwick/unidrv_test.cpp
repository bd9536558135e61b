// Our core for GPD minidrivers, tessal-unidrv.dll, hosted by strelwick.exe
// under Wine: a GPD-only minidriver gives the bytes the native raster
// printer gives, and a minidriver with a rendering plug-in prints through
// the plug-in.
#include <gtest/gtest.h>

#include "gpd_raster.h"
#include "tband_decode.h"
#include "tjet_decode.h"
#include "wine_tool.h"

namespace {

// Adds a printer on "|cat" whose driver is our core with this GPD and
// dependent files (once per rig).
void add_core_printer(const std::string& name, const std::string& gpd,
    const std::vector<std::string>& dependents)
{
    std::string bin = windows_path(WIN_DIR);
    std::vector<std::string> args = {name, windows_path(gpd), name, "|cat",
        bin + "\\tessal-unidrv.dll", bin + "\\tessal-unidrvui.dll"};
    for (const std::string& d : dependents)
        args.push_back(windows_path(d));
    RunResult r = run_win_program("tessal-addprinter.exe", args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// The job the sample printer's native raster printer makes of the picture
// under these options: the picture at the printable area's origin, as 1 bit
// a pixel (1 = black) or 24-bit RGB rows.
struct NativeJob {
    const char* gpd = GPD_SAMPLES "/tessal-jet/TJET.GPD";
    const char* options = "";
    int in_bpp = 1;
    long copies = 1;
    int pages = 1; // each the same picture
};

std::string native_job(const TestImage& picture, const NativeJob& n, long* width, long* height,
    std::string* err)
{
    gpd_doc doc;
    gpd_config config;
    const char* options = n.options;
    int in_bpp = n.in_bpp;
    if (!gpd_load(n.gpd, &doc, err))
        return "";
    gpd_config_defaults(&doc, &config);
    if (!gpd_config_parse(&doc, options, &config, err) || !gpd_config_resolve(&doc, &config))
        return "";
    std::string out;
    gpd_job j;
    gpd_sink sink = [](void* ctx, const char* data, size_t len) {
        ((std::string*)ctx)->append(data, len);
        return true;
    };
    if (!gpd_job_start(&j, &doc, &config, n.copies, sink, &out, err))
        return "";
    *width = j.dev.bitmap_w;
    *height = j.dev.bitmap_h;
    std::vector<unsigned char> row;
    for (int page = 0; page < n.pages; page++) {
    if (!gpd_page_start(&j, in_bpp, err))
        return "";
    for (long y = 0; y < j.dev.bitmap_h; y++) {
        if (in_bpp == 1)
            row.assign((size_t)(j.dev.bitmap_w + 7) / 8, 0);
        else
            row.assign((size_t)j.dev.bitmap_w * 3, 0xff);
        for (long x = 0; y < picture.height && x < picture.width; x++) {
            uint32_t px = pixel_at(picture, (int)x, (int)y);
            if (in_bpp == 1 && px == 0)
                row[x / 8] |= (unsigned char)(0x80 >> (x % 8));
            if (in_bpp == 24) {
                row[3 * x] = (unsigned char)(px >> 16);
                row[3 * x + 1] = (unsigned char)(px >> 8);
                row[3 * x + 2] = (unsigned char)px;
            }
        }
        if (!gpd_page_row(&j, row.data(), err))
            return "";
    }
    if (!gpd_page_end(&j, err))
        return "";
    }
    if (!gpd_job_end(&j, err))
        return "";
    return out;
}

// A small GPD of one paper and resolution, with what else is given.
std::string small_gpd(const std::string& more)
{
    return "*GPDSpecVersion: \"1.0\"\n*MasterUnits: PAIR(600, 600)\n*MaxCopies: 9\n"
           "*Feature: PaperSize\n{\n*DefaultOption: A4\n*Option: A4\n{\n"
           "*PrintableArea: PAIR(4760, 6815)\n*PrintableOrigin: PAIR(100, 100)\n}\n}\n"
           "*Feature: Resolution\n{\n*DefaultOption: R150\n*Option: R150\n{\n"
           "*DPI: PAIR(150, 150)\n}\n}\n"
           "*Command: CmdStartJob\n{\n*Order: JOB_SETUP.1\n*Cmd: \"<1B>E\"\n}\n"
           "*Command: CmdYMoveAbsolute: \"<1B>*p\" %d{DestY} \"Y\"\n"
           "*Command: CmdSendBlockData: \"<1B>*b\" %d{NumOfDataBytes} \"W\"\n"
           "*EjectPageWithFF?: TRUE\n*Command: CmdFF: \"<0C>\"\n"
        + more;
}

} // namespace

TEST(UnidrvCore, AGpdOnlyMinidriverPrintsWhatTheNativeRouteSends)
{
    add_core_printer("Tessal Jet Core", GPD_SAMPLES "/tessal-jet/TJET.GPD",
        {GPD_SAMPLES "/tessal-jet/tjetcmds.gpd"});
    // The job's options reach the GPD's through the device mode; colour
    // comes as 24-bit rows the raster printer dithers into four planes.
    // The printer makes the copies (its job command names NumOfCopies).
    struct Case {
        std::vector<std::string> env;
        const char* options;
        int in_bpp, colours;
        long copies;
    } cases[] = {{{}, "", 1, 2, 1}, {{"DPI=300x300"}, "Resolution=Option2", 1, 2, 1},
        {{"COLOR=2"}, "ColorMode=Color", 24, 1 << 24, 1}, {{"COPIES=3"}, "", 1, 2, 3}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.options + std::string(" copies ") + std::to_string(c.copies));
        TestImage picture = make_test_picture(301, 207, c.colours);
        long width = 0, height = 0;
        std::string err;
        NativeJob n;
        n.options = c.options;
        n.in_bpp = c.in_bpp;
        n.copies = c.copies;
        std::string want = native_job(picture, n, &width, &height, &err);
        ASSERT_FALSE(want.empty()) << err;
        BmpFormat fmt;
        fmt.bpp = 24;
        std::vector<std::string> env = c.env;
        env.push_back("MODEL=Tessal Jet Core");
        RunResult r = run_tool({"img"}, env, bmp_string(picture, fmt));
        ASSERT_EQ(r.exitCode, 1) << r.err;
        if (r.out == want)
            continue;
        // Say where the pages differ.
        tjet_job got, native;
        std::string why;
        int planes = c.in_bpp == 1 ? 1 : 4;
        ASSERT_TRUE(tjet_decode(r.out, (width + 7) / 8, height, 1, 0x00, &got, &why))
            << why << "\n" << r.err;
        ASSERT_TRUE(tjet_decode(want, (width + 7) / 8, height, 1, 0x00, &native, &why)) << why;
        ASSERT_EQ(got.pages.size(), 1u);
        for (int p = 0; p < planes; p++)
            for (long y = 0; y < height; y++)
                ASSERT_EQ(got.pages[0].rows[p][y], native.pages[0].rows[p][y])
                    << "plane " << p << " row " << y;
        ADD_FAILURE() << "the same page in other bytes";
    }
}

TEST(UnidrvCore, AMinidriverWithARenderingPluginPrintsThroughIt)
{
    add_core_printer("Tessal Band Core", GPD_SAMPLES "/tessal-band/TBAND.GPD",
        {GPD_SAMPLES "/tessal-band/tband.ini", std::string(WIN_DIR) + "/tbandrdr.dll",
            std::string(WIN_DIR) + "/tbandui.dll"});
    // Two pages of grey levels the 8-bit band keeps exactly.
    TestImage first = make_test_picture(301, 207, 2), second = make_image(40, 30, 0x808080);
    BmpFormat fmt;
    fmt.bpp = 24;
    RunResult r = run_tool(
        {"img"}, {"MODEL=Tessal Band Core"}, bmp_string(first, fmt) + bmp_string(second, fmt));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    // A4 at 300 dpi: the printable area of 4760x6774 master units of 1/600 inch.
    tband_job job;
    std::string why;
    ASSERT_TRUE(tband_decode(r.out, 2380, 3387, &job, &why)) << why << "\n" << r.err;
    EXPECT_TRUE(job.header);
    EXPECT_EQ(job.copies, 1);
    EXPECT_EQ(job.dpi_x, 300);
    EXPECT_EQ(job.paper_w, 4960);
    EXPECT_EQ(job.finish, std::vector<long>({4}));
    // The UI plug-in's default for the private part (the rendering
    // plug-in's own would be 1) came through the device mode.
    EXPECT_EQ(job.darkness, 7);
    EXPECT_TRUE(job.ended);
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_EQ(job.pages[0].bpp, 8);
    EXPECT_EQ(compare_within(job.pages[0].image, first, 0, &why), 0) << why;
    EXPECT_EQ(compare_within(job.pages[1].image, second, 0, &why), 0) << why;
    EXPECT_NE(r.err.find("driver: loaded the plug-in"), std::string::npos) << r.err;
}

TEST(UnidrvCore, APluginThatIsNotThereEndsTheJobWithOneLine)
{
    // The .ini names a plug-in the driver does not carry.
    std::string dir = rig_prefix() + "/unidrv-broken";
    ASSERT_EQ(run_command({"mkdir", "-p", dir}, {}, "", 10).exitCode, 0);
    ASSERT_TRUE(write_file(dir + "/broken.ini", "[OEMFiles]\r\nOEMDriverFile1=gone.dll\r\n"));
    add_core_printer("Tessal Broken Core", GPD_SAMPLES "/tessal-band/TBAND.GPD",
        {dir + "/broken.ini"});
    BmpFormat fmt;
    fmt.bpp = 24;
    RunResult r = run_tool(
        {"img"}, {"MODEL=Tessal Broken Core"}, bmp_string(make_image(20, 20, 0), fmt));
    EXPECT_NE(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("tessal-unidrv: DrvEnablePDEV: the .ini names the plug-in gone.dll, which "
                         "is not among the driver's files"),
        std::string::npos)
        << r.err;
}

TEST(UnidrvCore, APluginGetsItsPartAndTheCoresAnswersAndFiltersBlocks)
{
    // The sample printer with tprobe.dll (tests/strelwick/driver), which
    // answers only the first plug-in interface, hooks DrvStartDoc and hands
    // each raster block back.
    std::string dir = rig_prefix() + "/unidrv-probe";
    ASSERT_EQ(run_command({"mkdir", "-p", dir}, {}, "", 10).exitCode, 0);
    ASSERT_TRUE(write_file(dir + "/tprobe.gpd",
        "*Include: \"TJET.GPD\"\r\n*OEMCustomData: \"probe<21>\"\r\n"));
    ASSERT_TRUE(write_file(dir + "/TProbe.ini", "[OEMFiles]\r\nOEMDriverFile1=TPROBE.DLL\r\n"));
    add_core_printer("Tessal Probe Core", dir + "/tprobe.gpd",
        {GPD_SAMPLES "/tessal-jet/TJET.GPD", GPD_SAMPLES "/tessal-jet/tjetcmds.gpd",
            dir + "/TProbe.ini", std::string(WIN_DIR) + "/tprobe.dll"});
    TestImage picture = make_test_picture(120, 90, 2);
    long width = 0, height = 0;
    std::string err;
    std::string want = native_job(picture, NativeJob(), &width, &height, &err);
    ASSERT_FALSE(want.empty()) << err;
    BmpFormat fmt;
    fmt.bpp = 24;
    RunResult r = run_tool({"img"}, {"MODEL=Tessal Probe Core"}, bmp_string(picture, fmt));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    const std::string end = "probe: end\n";
    size_t at = r.out.find(end);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_EQ(r.out.substr(0, at + end.size()),
        "probe: enabled\n"
        "probe: pdev ours, dpi 150\n"
        "probe: dm 1234\n"
        "probe: Resolution = Option1\n"
        "probe: Resolution in 1 byte refused, needs 8\n"
        "probe: PaperSize = A4\n"
        "probe: NoSuchFeature unknown\n"
        "probe: variable 28 = 150\n"
        "probe: variable 3 = 1\n"
        "probe: variable 16 = 4960\n"
        "probe: variable 38 = 100\n"
        "probe: custom data = probe! (6 bytes)\n"
        "probe: end\n");
    EXPECT_TRUE(r.out.substr(at + end.size()) == want) << "the blocks came back otherwise";
    EXPECT_NE(r.err.find("tprobe.dll: IPrintOemUni, signature 45425250"), std::string::npos)
        << r.err;
}

TEST(UnidrvCore, APrinterWithoutACopiesCommandGetsEachPageAsOften)
{
    // The GPD allows copies, but no command of it tells the printer how many.
    std::string dir = rig_prefix() + "/unidrv-copies";
    ASSERT_EQ(run_command({"mkdir", "-p", dir}, {}, "", 10).exitCode, 0);
    ASSERT_TRUE(write_file(dir + "/NOCOPIES.GPD", small_gpd("")));
    add_core_printer("Tessal No Copies Core", dir + "/NOCOPIES.GPD", {});
    TestImage picture = make_test_picture(100, 80, 2);
    NativeJob n;
    std::string path = dir + "/NOCOPIES.GPD";
    n.gpd = path.c_str();
    n.pages = 2;
    long width = 0, height = 0;
    std::string err;
    std::string want = native_job(picture, n, &width, &height, &err);
    ASSERT_FALSE(want.empty()) << err;
    BmpFormat fmt;
    fmt.bpp = 24;
    RunResult r = run_tool(
        {"img"}, {"MODEL=Tessal No Copies Core", "COPIES=2"}, bmp_string(picture, fmt));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    EXPECT_TRUE(r.out == want) << r.out.size() << " bytes, not the " << want.size()
                               << " of the page twice\n" << r.err;
}

TEST(UnidrvCore, BandsAPluginHandsBackGoOnThroughTheRasterPrinter)
{
    // A colour mode with *IPCallbackID: tprobe.dll gets each 1-bit band and
    // returns it as it came.
    std::string dir = rig_prefix() + "/unidrv-bands";
    ASSERT_EQ(run_command({"mkdir", "-p", dir}, {}, "", 10).exitCode, 0);
    std::string gpd = dir + "/IPROBE.GPD";
    ASSERT_TRUE(write_file(gpd,
        small_gpd("*Feature: ColorMode\n{\n*DefaultOption: Mono\n*Option: Mono\n{\n"
                  "*DevNumOfPlanes: 1\n*DevBPP: 1\n*DrvBPP: 1\n*IPCallbackID: 7\n}\n}\n")));
    ASSERT_TRUE(write_file(dir + "/tprobe.ini", "[OEMFiles]\r\nOEMDriverFile1=tprobe.dll\r\n"));
    add_core_printer("Tessal Bands Core", gpd,
        {dir + "/tprobe.ini", std::string(WIN_DIR) + "/tprobe.dll"});
    TestImage picture = make_test_picture(160, 120, 2);
    NativeJob n;
    n.gpd = gpd.c_str();
    long width = 0, height = 0;
    std::string err;
    std::string want = native_job(picture, n, &width, &height, &err);
    ASSERT_FALSE(want.empty()) << err;
    BmpFormat fmt;
    fmt.bpp = 24;
    // The plug-in asks for bands of 300 rows: the page is six of them.
    RunResult r = run_tool({"img"}, {"MODEL=Tessal Bands Core"}, bmp_string(picture, fmt));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    const std::string end = "probe: end\n";
    size_t at = r.out.find(end);
    ASSERT_NE(at, std::string::npos) << r.err;
    EXPECT_TRUE(r.out.substr(at + end.size()) == want) << "the bands came back otherwise";
}
