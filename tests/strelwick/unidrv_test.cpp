// Our core for GPD minidrivers, tessal-unidrv.dll, hosted by strelwick.exe
// under Wine: a GPD-only minidriver gives the bytes the native raster
// printer gives, and a minidriver with a rendering plug-in prints through
// the plug-in.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "gpd_raster.h"
#include "tband_decode.h"
#include "tjet_decode.h"
#include "wine_tool.h"

namespace {

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Adds a printer on "|cat" whose driver is our core with this GPD and
// dependent files (once per rig).
void add_core_printer(const std::string& name, const std::string& gpd,
    const std::vector<std::string>& dependents)
{
    std::string bin = windows_path(WIN_DIR);
    // The configuration DLL only has to give a device mode; ours when built.
    std::string ui = exists(std::string(WIN_DIR) + "/tessal-unidrvui.dll") ? "tessal-unidrvui.dll"
                                                                            : "tdrvui.dll";
    std::vector<std::string> args
        = {name, windows_path(gpd), name, "|cat", bin + "\\tessal-unidrv.dll", bin + "\\" + ui};
    for (const std::string& d : dependents)
        args.push_back(windows_path(d));
    RunResult r = run_win_program("tessal-addprinter.exe", args);
    ASSERT_EQ(r.exitCode, 0) << r.err;
}

// The page as the sample printer's raster printer takes it: 1 bit a pixel,
// 1 = black, the picture at the printable area's origin.
std::string native_job(const TestImage& picture, long* width, long* height, std::string* err)
{
    gpd_doc doc;
    gpd_config config;
    if (!gpd_load(GPD_SAMPLES "/tessal-jet/TJET.GPD", &doc, err))
        return "";
    gpd_config_defaults(&doc, &config);
    gpd_config_resolve(&doc, &config);
    std::string out;
    gpd_job j;
    gpd_sink sink = [](void* ctx, const char* data, size_t len) {
        ((std::string*)ctx)->append(data, len);
        return true;
    };
    if (!gpd_job_start(&j, &doc, &config, 1, sink, &out, err) || !gpd_page_start(&j, 1, err))
        return "";
    *width = j.dev.bitmap_w;
    *height = j.dev.bitmap_h;
    std::vector<unsigned char> row((size_t)(j.dev.bitmap_w + 7) / 8);
    for (long y = 0; y < j.dev.bitmap_h; y++) {
        std::fill(row.begin(), row.end(), 0);
        for (long x = 0; y < picture.height && x < picture.width; x++)
            if (pixel_at(picture, (int)x, (int)y) == 0)
                row[x / 8] |= (unsigned char)(0x80 >> (x % 8));
        if (!gpd_page_row(&j, row.data(), err))
            return "";
    }
    if (!gpd_page_end(&j, err) || !gpd_job_end(&j, err))
        return "";
    return out;
}

} // namespace

TEST(UnidrvCore, AGpdOnlyMinidriverPrintsWhatTheNativeRouteSends)
{
    add_core_printer("Tessal Jet Core", GPD_SAMPLES "/tessal-jet/TJET.GPD",
        {GPD_SAMPLES "/tessal-jet/tjetcmds.gpd"});
    TestImage picture = make_test_picture(301, 207, 2);
    long width = 0, height = 0;
    std::string err;
    std::string want = native_job(picture, &width, &height, &err);
    ASSERT_FALSE(want.empty()) << err;

    BmpFormat fmt;
    fmt.bpp = 24;
    RunResult r = run_tool({"img"}, {"MODEL=Tessal Jet Core"}, bmp_string(picture, fmt));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    if (r.out != want) {
        // Say where the pages differ.
        tjet_job got, native;
        std::string why;
        long bytes = (width + 7) / 8;
        ASSERT_TRUE(tjet_decode(r.out, bytes, height, 1, 0x00, &got, &why)) << why << "\n" << r.err;
        ASSERT_TRUE(tjet_decode(want, bytes, height, 1, 0x00, &native, &why)) << why;
        ASSERT_EQ(got.pages.size(), 1u);
        for (long y = 0; y < height; y++)
            ASSERT_EQ(got.pages[0].rows[0][y], native.pages[0].rows[0][y]) << "row " << y;
        ADD_FAILURE() << "the same page in other bytes";
    }
    EXPECT_NE(r.err.find("driver: page 1190x1703 pixels at 150x150 dpi"), std::string::npos) << r.err;
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
