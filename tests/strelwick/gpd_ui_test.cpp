// tessal-unidrvui.dll, the configuration DLL of our GPD core, under Wine:
// a printer with a GPD as its data file (tdrv.dll renders, so the pages
// show what device mode arrived) lists the GPD's papers, bins, media,
// resolutions and features, and a job's choices reach the device mode.
// On the sample minidriver Tessal Band (our core renders) the UI plug-in's
// private part reaches the rendering plug-in.
#include <gtest/gtest.h>

#include "tband_decode.h"
#include "wine_tool.h"

namespace {

const char kPrinter[] = "Tessal GPD UI";

void add_gpd_printer()
{
    static bool added = false;
    if (added)
        return;
    std::string win = windows_path(WIN_DIR);
    RunResult r = run_win_program("tessal-addprinter.exe",
        {kPrinter, windows_path(fixture_path("uiprobe.gpd")), kPrinter, "|cat", win + "\\tdrv.dll",
            win + "\\tessal-unidrvui.dll"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    added = true;
}

const char kBandPrinter[] = "Tessal GPD Band";

void add_band_printer()
{
    static bool added = false;
    if (added)
        return;
    std::string win = windows_path(WIN_DIR), band = windows_path(GPD_SAMPLES "/tessal-band");
    RunResult r = run_win_program("tessal-addprinter.exe",
        {kBandPrinter, band + "\\TBAND.GPD", kBandPrinter, "|cat", win + "\\tessal-unidrv.dll",
            win + "\\tessal-unidrvui.dll", band + "\\tband.ini", win + "\\tbandrdr.dll",
            win + "\\tbandui.dll"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    added = true;
}

bool has_line(const std::string& out, const std::string& line)
{
    return ("\n" + out).find("\n" + line + "\n") != std::string::npos;
}

} // namespace

TEST(GpdConfigDll, CapsListsTheGpd)
{
    add_gpd_printer();
    RunResult r = run_tool({"caps", kPrinter}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    // Standard papers in 0.1 mm, the driver's own with its *PageDimensions
    // and a code of its own; every paper at every resolution merges into a
    // device mode that keeps it.
    for (const char* line : {"DEFAULT_PAPER=9", "DEFAULT_RESOLUTION=50x50", "PAPER=9,2100,2970,A4",
             "PAPER=1,2159,2794,Letter", "PAPER=258,1270,762,Index Card", "RESOLUTION=50x50",
             "RESOLUTION=100x100", "PAGE=1,100x100,850,1100,0,0,850,1100", "BIN=7,Automatically Select",
             "BIN=270,Big Tray", "MEDIATYPE=1,Plain Paper", "MEDIATYPE=257,Card? thick", "COLOR=1",
             "DUPLEX=1", "COPIES=9", "COLLATE=1", "FEATURE=PaperSize,A4,Paper Size",
             "OPTION=PaperSize,CARD,Index Card", "FEATURE=Toner,Off,Toner Saving",
             "OPTION=Toner,Off,Off", "OPTION=Toner,On,On"})
        EXPECT_TRUE(has_line(r.out, line)) << line << " missing in\n" << r.out << r.err;
}

TEST(GpdConfigDll, JobChoicesReachTheDeviceMode)
{
    add_gpd_printer();
    // tdrv.dll prints Letter at the device mode's resolution: 100 dpi is
    // the GPD's, 75 dpi is not and leaves the default.
    struct Case {
        const char* dpi;
        int width, height;
    } cases[] = {{"100x100", 850, 1100}, {"75x75", 425, 550}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        RunResult r = run_tool({"img"},
            {std::string("MODEL=") + kPrinter, "PAGESIZE=1", std::string("DPI=") + c.dpi},
            bmp_string(make_test_picture(40, 30, 1 << 24), BmpFormat()));
        ASSERT_EQ(r.exitCode, 1) << r.err;
        std::vector<TestImage> pages;
        std::string why;
        ASSERT_TRUE(decode_ppm_pages(r.out, &pages, &why)) << why << r.err;
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].width, c.width);
        EXPECT_EQ(pages[0].height, c.height);
    }
}

TEST(GpdConfigDll, UiPluginPartReachesTheRenderingPlugin)
{
    add_band_printer();
    RunResult r = run_tool({"caps", kBandPrinter}, {}, "");
    ASSERT_EQ(r.exitCode, 1) << r.err;
    for (const char* line : {"FEATURE=Finish,Matte,Finish", "OPTION=Finish,Gloss,Gloss"})
        EXPECT_TRUE(has_line(r.out, line)) << line << " missing in\n" << r.out << r.err;

    // A4 at 300 dpi: the printable area of TBAND.GPD.
    r = run_tool({"img"}, {std::string("MODEL=") + kBandPrinter, "PAGESIZE=9", "DPI=300x300"},
        bmp_string(make_test_picture(40, 30, 1 << 24), BmpFormat()));
    ASSERT_EQ(r.exitCode, 1) << r.err;
    tband_job job;
    std::string why;
    ASSERT_TRUE(tband_decode(r.out, 2380, 3387, &job, &why)) << why << r.err;
    EXPECT_EQ(job.darkness, 7) << "tbandui.dll's default, through our device mode";
    EXPECT_EQ(job.finish, std::vector<long>{4});
}

TEST(GpdConfigDll, JobsOwnChoicesReachThePrinter)
{
    add_band_printer();
    std::string page = bmp_string(make_test_picture(40, 30, 1 << 24), BmpFormat());
    std::vector<std::string> env = {std::string("MODEL=") + kBandPrinter, "PAGESIZE=9",
        "DPI=300x300", "GPDOPTIONS=Finish=Gloss"};
    RunResult r = run_tool({"img"}, env, page);
    ASSERT_EQ(r.exitCode, 1) << r.err;
    tband_job job;
    std::string why;
    ASSERT_TRUE(tband_decode(r.out, 2380, 3387, &job, &why)) << why << r.err;
    EXPECT_EQ(job.finish, std::vector<long>{5}); // Gloss's *CallbackID

    // A choice the driver does not have prints nothing, and so does one for
    // a printer that is not on our core.
    env.back() = "GPDOPTIONS=Finish=Satin";
    r = run_tool({"img"}, env, page);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("did not select Finish=Satin; nothing printed"), std::string::npos) << r.err;
    r = run_tool({"img"}, {"MODEL=Tessal Driver", "GPDOPTIONS=Finish=Gloss"}, page);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("is no GPD minidriver on our core"), std::string::npos) << r.err;
}

TEST(GpdConfigDll, DeviceModesKeepWhatTheDriverAndPluginAccept)
{
    // A plug-in part the plug-in refuses, or another plug-in's, leaves its
    // defaults; the options text and the public fields merge; the
    // conversion export gives the same and asks for its size.
    add_band_printer();
    RunResult r = run_win_program("gpdui-probe.exe", {kBandPrinter});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    const char* defaults = "PaperSize=A4;Resolution=Option1;ColorMode=Gray;Halftone="
                           "HT_PATSIZE_AUTO;Finish=Matte";
    EXPECT_EQ(r.out,
        std::string("defaults paper=9 options=Orientation=PORTRAIT;") + defaults
            + " darkness=7\n"
              "merged paper=1 options=Orientation=PORTRAIT;PaperSize=LETTER;Resolution=Option1;"
              "ColorMode=Gray;Halftone=HT_PATSIZE_AUTO;Finish=Gloss darkness=12\n"
              "bad-part paper=1 options=Orientation=PORTRAIT;PaperSize=LETTER;Resolution=Option1;"
              "ColorMode=Gray;Halftone=HT_PATSIZE_AUTO;Finish=Gloss darkness=7\n"
              "foreign-part paper=1 options=Orientation=PORTRAIT;PaperSize=LETTER;"
              "Resolution=Option1;ColorMode=Gray;Halftone=HT_PATSIZE_AUTO;Finish=Gloss darkness=7\n"
              "convert-default paper=9 options=Orientation=PORTRAIT;"
            + defaults
            + " darkness=7\n"
              "convert paper=1 options=Orientation=PORTRAIT;PaperSize=LETTER;Resolution=Option1;"
              "ColorMode=Gray;Halftone=HT_PATSIZE_AUTO;Finish=Gloss darkness=12\n"
              "short-buffer ok=0 error=122 needed=size\n");
}
