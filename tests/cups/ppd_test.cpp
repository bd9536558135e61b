// The PPD generator and how the filter reads the PPDs it makes.

#include <cups/ppd.h>
#include <cups/raster.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>
#include <unistd.h>

#include "cups_util.h"
#include "job_options.h"
#include "ppd_gen.h"

namespace {

struct ppd_fixture {
    std::string dir;
    std::string root; // filesystem root for cupstestppd, with our filter
};

ppd_fixture make_fixture()
{
    ppd_fixture f;
    f.dir = temp_dir("tessal-ppd-test");
    f.root = f.dir + "/root";
    std::string filters = f.root + "/usr/lib/cups/filter";
    run({"mkdir", "-p", filters}, {}, 10);
    symlink(filter_path().c_str(), (filters + "/rastertotessal").c_str());
    return f;
}

std::string generate(const ppd_fixture& f, const char* name, const std::vector<std::string>& args)
{
    std::string out = f.dir + "/" + name + ".ppd";
    std::vector<std::string> argv = {mkppd_path()};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("-o");
    argv.push_back(out);
    return run(argv, {}, 30) == 0 ? out : "";
}

cups_page_header2_t page(unsigned w, unsigned h, unsigned dpi)
{
    cups_page_header2_t hd;
    memset(&hd, 0, sizeof hd);
    hd.PageSize[0] = w;
    hd.PageSize[1] = h;
    hd.HWResolution[0] = hd.HWResolution[1] = dpi;
    return hd;
}

// Generated PPDs pass cupstestppd, and the filter finds the package, the
// printer and the paper code of the page it was given.
TEST(PpdGenerator, PassesCupstestppdAndMapsPageSizes)
{
    ppd_fixture f = make_fixture();
    struct {
        const char* name;
        std::vector<std::string> args;
        unsigned w, h; // page in points
        const char* options; // job options
        const char* code; // expected PAGESIZE
        unsigned dpi = 300; // the queue's resolution
    } cases[] = {
        {"defaults", {"--package", "generic-ps", "--model", "Generic PS"}, 612, 792, "", "1"},
        {"gray-only",
            {"--package", "p1", "--model", "Laser 5", "--color", "gray", "--size", "A5",
                "--resolution", "600dpi"},
            420, 595, "", "11", 600},
        {"own-code",
            {"--package", "p2", "--model", "X", "--size", "A4=70", "--size", "Card=256:200.5x300",
                "--color", "mono"},
            201, 300, "", "256"},
        // A page that matches no size takes the size the job asked for.
        {"marked", {"--package", "p3", "--model", "Y", "--size", "A4", "--size", "Letter"}, 500,
            500, "PageSize=Letter", "1"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string ppd = generate(f, c.name, c.args);
        ASSERT_FALSE(ppd.empty());
        child_io io;
        io.out = f.dir + "/cupstestppd.out";
        EXPECT_EQ(run({"cupstestppd", "-R", f.root, ppd}, io, 30), 0) << read_text(io.out);
        ppd_file_t* p = ppdOpenFile(ppd.c_str());
        ASSERT_NE(p, nullptr);
        cups_option_t* opts = nullptr;
        int n = cupsParseOptions(c.options, 0, &opts);
        ppdMarkDefaults(p);
        cupsMarkOptions(p, n, opts);
        cupsFreeOptions(n, opts);
        cups_page_header2_t h = page(c.w, c.h, c.dpi);
        job_info info;
        char err[256] = "";
        ASSERT_TRUE(job_info_from_ppd(p, &h, &info, err, sizeof err)) << err;
        EXPECT_EQ(std::string(info.package), c.args[1]);
        EXPECT_EQ(std::string(info.model), c.args[3]);
        EXPECT_STREQ(info.pagesize, c.code);
        EXPECT_EQ(std::string(info.dpi), std::to_string(c.dpi) + "x" + std::to_string(c.dpi));
        ppdClose(p);
    }
    remove_dir(f.dir);
}

const char* size_name(unsigned code)
{
    return code == 9 ? "A4" : code == 1 ? "Letter" : code == 5 ? "Legal" : "A5";
}

// Queue PPDs from the sample drivers' listings pass cupstestppd, and CUPS
// renders each paper at each resolution, portrait or landscape, exactly as
// large as the driver's page.
TEST(PpdGenerator, ListingGivesTheDriversExactPage)
{
    ppd_fixture f = make_fixture();
    std::string doc = f.dir + "/doc.ps";
    ASSERT_TRUE(write_text(doc, "%!PS\n0 0 moveto 100 100 lineto stroke showpage\n"));
    for (const char* package : {"generic-ps", "tessal-raster"}) {
        SCOPED_TRACE(package);
        std::string caps = std::string(DIST_DIR) + "/" + package + "/caps.txt";
        std::string ppd = generate(f, package, {"--package", package, "--listing", caps});
        ASSERT_FALSE(ppd.empty());
        child_io io;
        io.out = f.dir + "/cupstestppd.out";
        EXPECT_EQ(run({"cupstestppd", "-R", f.root, ppd}, io, 30), 0) << read_text(io.out);
        static caps_listing l;
        char err[160];
        FILE* in = fopen(caps.c_str(), "r");
        ASSERT_EQ(caps_read(in, &l, err, sizeof err), nullptr) << err;
        fclose(in);
        for (int i = 0; i < l.num_pages; i++) {
            const caps_page& p = l.pages[i];
            for (const char* orientation : {"3", "4"}) {
                std::string ras = f.dir + "/page.ras";
                ASSERT_TRUE(render_raster(ppd, doc,
                    {std::string("PageSize=") + size_name(p.code),
                        "Resolution=" + std::to_string(p.xdpi) + "dpi",
                        std::string("orientation-requested=") + orientation},
                    ras));
                int fd = open(ras.c_str(), O_RDONLY);
                cups_raster_t* r = cupsRasterOpen(fd, CUPS_RASTER_READ);
                cups_page_header2_t h;
                ASSERT_TRUE(cupsRasterReadHeader2(r, &h));
                EXPECT_EQ(h.cupsWidth, p.print_w) << p.code << " at " << p.xdpi;
                EXPECT_EQ(h.cupsHeight, p.print_h) << p.code << " at " << p.xdpi;
                cupsRasterClose(r);
                close(fd);
            }
        }
    }
    remove_dir(f.dir);
}

// A driver whose dots are not square, with a different printable area at
// each resolution and unequal margins: the PPD's imageable area keeps each
// side's widest margin on its own side, and the filter finds the area of
// the raster's resolution on both axes and refuses one the queue lacks.
TEST(PpdGenerator, NonSquareDotsAndUnequalMargins)
{
    ppd_fixture f = make_fixture();
    std::string caps = f.dir + "/tall.caps";
    ASSERT_TRUE(write_text(caps,
        "PRINTER=Tall Dots\nDRIVER=tall.dll\nFIELDS=0x0\nDEFAULT_PAPER=9\n"
        "DEFAULT_RESOLUTION=600x1200\nPAPER=9,2100,2970,A4\n"
        "RESOLUTION=600x1200\nRESOLUTION=1200x600\n"
        // margins (pixels): left 60, right 100, top 300, bottom 230
        "PAGE=9,600x1200,4960,14030,60,300,4800,13500\n"
        // left 100, right 120, top 90, bottom 25
        "PAGE=9,1200x600,9920,7015,100,90,9700,6900\n"));
    std::string ppd = generate(f, "tall", {"--package", "tall", "--listing", caps});
    ASSERT_FALSE(ppd.empty());
    ppd_file_t* p = ppdOpenFile(ppd.c_str());
    ASSERT_NE(p, nullptr);
    ppdMarkDefaults(p);
    ppd_size_t* a4 = ppdPageSize(p, "A4");
    ASSERT_NE(a4, nullptr);
    EXPECT_NEAR(a4->left, 7.2, 0.01); // 60 / 600 inch
    EXPECT_NEAR(a4->bottom, 13.8, 0.01); // 230 / 1200 inch
    EXPECT_NEAR(a4->width - a4->right, 12.0, 0.01); // 100 / 600 inch
    EXPECT_NEAR(a4->length - a4->top, 18.0, 0.01); // 300 / 1200 inch
    struct {
        unsigned xdpi, ydpi;
        page_area want;
    } cases[] = {
        {600, 1200, {600, 1200, 4960, 14030, 60, 300, 4800, 13500}},
        {1200, 600, {1200, 600, 9920, 7015, 100, 90, 9700, 6900}},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.xdpi) + "x" + std::to_string(c.ydpi));
        cups_page_header2_t h = page(595, 842, c.xdpi);
        h.HWResolution[1] = c.ydpi;
        job_info info;
        char err[256] = "";
        ASSERT_TRUE(job_info_from_ppd(p, &h, &info, err, sizeof err)) << err;
        ASSERT_TRUE(info.has_area);
        EXPECT_EQ(memcmp(&info.area, &c.want, sizeof c.want), 0)
            << info.area.phys_w << "x" << info.area.phys_h << " +" << info.area.off_x << "+"
            << info.area.off_y;
    }
    cups_page_header2_t square = page(595, 842, 600);
    job_info info;
    char err[256] = "";
    EXPECT_FALSE(job_info_from_ppd(p, &square, &info, err, sizeof err));
    EXPECT_NE(std::string(err).find("600x600 dpi is not one this queue offers"), std::string::npos)
        << err;
    ppdClose(p);
    remove_dir(f.dir);
}

// A listing's page must lie on its sheet, on both axes: a printable area
// that runs a pixel past the sheet's edge is refused, one that ends on it
// is taken.
TEST(PpdGenerator, ListingAreaMustLieOnItsSheet)
{
    struct {
        const char* page;
        bool taken;
    } cases[] = {
        {"PAGE=9,300x300,2480,3507,50,50,2430,3457", true}, // to the right and bottom edge
        {"PAGE=9,300x300,2480,3507,50,50,2431,3457", false}, // a column past the right
        {"PAGE=9,300x300,2480,3507,50,50,2430,3458", false}, // a row past the bottom
        {"PAGE=9,300x300,2480,3507,0,3508,2480,0", false}, // no rows
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.page);
        std::string text
            = std::string("PRINTER=P\nPAPER=9,2100,2970,A4\nRESOLUTION=300x300\n") + c.page + "\n";
        FILE* in = fmemopen((void*)text.data(), text.size(), "r");
        ASSERT_NE(in, nullptr);
        static caps_listing l;
        char err[160];
        const char* why = caps_read(in, &l, err, sizeof err);
        fclose(in);
        EXPECT_EQ(why == nullptr, c.taken) << (why ? why : "");
    }
}

// Inputs that would make a broken PPD, or a package name that could leave
// the package directory, are refused.
TEST(PpdGenerator, RefusesBadInput)
{
    ppd_request r;
    memset(&r, 0, sizeof r);
    EXPECT_NE(ppd_set_package(&r, "../etc"), nullptr);
    EXPECT_NE(ppd_set_package(&r, ".."), nullptr);
    EXPECT_NE(ppd_set_package(&r, "a/b"), nullptr);
    EXPECT_NE(ppd_set_package(&r, ""), nullptr);
    EXPECT_NE(ppd_set_model(&r, "say \"hi\""), nullptr);
    EXPECT_NE(ppd_set_model(&r, "a\nb"), nullptr);
    EXPECT_NE(ppd_set_model(&r, "\\\\server\\printer"), nullptr);
    EXPECT_NE(ppd_add_size(&r, "Mystery"), nullptr); // unknown, no code
    EXPECT_NE(ppd_add_size(&r, "A4=0"), nullptr);
    EXPECT_NE(ppd_add_size(&r, "A4=40000"), nullptr);
    EXPECT_NE(ppd_add_size(&r, "A4=9x"), nullptr);
    EXPECT_NE(ppd_add_size(&r, "Odd=300:10"), nullptr);
    EXPECT_NE(ppd_add_size(&r, "Bad Name=9:100x100"), nullptr);
    EXPECT_EQ(ppd_add_size(&r, "A4"), nullptr);
    EXPECT_NE(ppd_add_size(&r, "A4=9"), nullptr); // twice
    EXPECT_NE(ppd_add_resolution(&r, "0"), nullptr);
    EXPECT_NE(ppd_add_resolution(&r, "300x300"), nullptr);
    EXPECT_NE(ppd_add_color_mode(&r, "cmyk"), nullptr);
    EXPECT_NE(ppd_finish(&r), nullptr); // no package, no model
    EXPECT_FALSE(job_package_name_ok("x/../../y"));
    EXPECT_TRUE(job_package_name_ok("generic-ps_2.0"));
}

// A failed run leaves no PPD behind, not even a partial one.
TEST(PpdGenerator, FailedRunLeavesNoFile)
{
    ppd_fixture f = make_fixture();
    std::string out = f.dir + "/x.ppd";
    EXPECT_NE(
        run({mkppd_path(), "--package", "p", "--model", "M", "--size", "Nope", "-o", out}, {}, 30),
        0);
    EXPECT_NE(access(out.c_str(), F_OK), 0);
    EXPECT_NE(run({mkppd_path(), "--package", "p", "--model", "M", "-o", f.dir + "/missing/x.ppd"},
                  {}, 30),
        0);
    remove_dir(f.dir);
}

// A GPD driver's own features become options of the queue (a name CUPS
// has a meaning for gets a prefix; the standard features and one without a
// choice do not), and the filter hands the marked choices on as the GPD
// names them; when they do not all fit the job key, those the job changed.
TEST(PpdGenerator, GpdFeaturesBecomeOptionsTheFilterHandsOn)
{
    ppd_fixture f = make_fixture();
    std::string ppd = generate(f, "unidrv", {"--package", "u", "--listing", fixture("unidrv.caps")});
    ASSERT_FALSE(ppd.empty());
    child_io io;
    io.out = f.dir + "/cupstestppd.out";
    EXPECT_EQ(run({"cupstestppd", "-R", f.root, ppd}, io, 30), 0) << read_text(io.out);
    ppd_file_t* p = ppdOpenFile(ppd.c_str());
    ASSERT_TRUE(p);
    ppd_option_t* toner = ppdFindOption(p, "Toner");
    ASSERT_TRUE(toner);
    EXPECT_STREQ(toner->text, "Toner Saving");
    EXPECT_STREQ(toner->defchoice, "Off");
    ppd_option_t* collate = ppdFindOption(p, "GpdCollate");
    ASSERT_TRUE(collate);
    EXPECT_STREQ(collate->text, "Collate  by the printer");
    for (const char* absent : {"PaperSize", "Halftone", "Stapler", "Collate"})
        EXPECT_FALSE(ppdFindOption(p, absent)) << absent;
    EXPECT_STREQ(ppdFindAttr(p, PPD_GPD_KEYWORD, "GpdCollate.ON")->value, "Collate=ON");
    ppdMarkDefaults(p);
    ppdMarkOption(p, "Toner", "On");
    cups_page_header2_t h = page(595, 842, 600);
    job_info info;
    char err[200];
    ASSERT_TRUE(job_info_from_ppd(p, &h, &info, err, sizeof err)) << err;
    EXPECT_STREQ(info.gpdoptions, "Toner=On;Collate=OFF");
    char storage[JOB_ENTRIES_MAX][JOB_ENTRY_MAX];
    const char* entries[JOB_ENTRIES_MAX];
    size_t n = job_info_entries(&info, storage, entries);
    EXPECT_STREQ(entries[n - 1], "GPDOPTIONS=Toner=On;Collate=OFF");
    ppdClose(p);

    // Twelve features of long names: only the changed one goes.
    std::string caps = read_text(fixture("laser.caps"));
    for (int i = 0; i < 12; i++) {
        std::string name = "AVeryLongFeatureName" + std::to_string(i);
        caps += "FEATURE=" + name + ",Standard,F\nOPTION=" + name + ",Standard,S\nOPTION=" + name
            + ",Other,O\n";
    }
    // A feature of more options than a listing keeps is not offered.
    caps += "FEATURE=Big,O35,Big\n";
    for (int i = 0; i < 40; i++)
        caps += "OPTION=Big,O" + std::to_string(i) + ",O\n";
    ASSERT_TRUE(write_text(f.dir + "/many.caps", caps));
    ppd = generate(f, "many", {"--package", "m", "--listing", f.dir + "/many.caps"});
    ASSERT_FALSE(ppd.empty());
    p = ppdOpenFile(ppd.c_str());
    ASSERT_TRUE(p);
    ppdMarkDefaults(p);
    EXPECT_FALSE(ppdFindOption(p, "Big"));
    ppdMarkOption(p, "AVeryLongFeatureName7", "Other");
    ASSERT_TRUE(job_info_from_ppd(p, &h, &info, err, sizeof err)) << err;
    EXPECT_STREQ(info.gpdoptions, "AVeryLongFeatureName7=Other");
    ppdClose(p);
    remove_dir(f.dir);
}

// FEATURE and OPTION lines a listing must not hold.
TEST(PpdGenerator, ListingFeaturesMustHoldTogether)
{
    const char* bad[] = {"OPTION=Toner,On,On\n", // no feature yet
        "FEATURE=Toner,Off,T\nOPTION=Toner,On,On\n", // the default is no option
        "FEATURE=Toner,Off,T\nOPTION=Other,Off,Off\n", // another feature's option
        "FEATURE=Ton er,Off,T\nOPTION=Ton er,Off,Off\n", // not a symbol
        "FEATURE=Toner,Off,T\nOPTION=Toner,Off,O\nFEATURE=Toner,Off,T\n", // twice
        "FEATURE=Toner,Off,\nOPTION=Toner,Off,Off\n"}; // no display name
    for (const char* lines : bad) {
        SCOPED_TRACE(lines);
        std::string text = std::string("PRINTER=P\nPAPER=9,2100,2970,A4\nRESOLUTION=300x300\n") + lines;
        FILE* in = fmemopen((void*)text.data(), text.size(), "r");
        ASSERT_NE(in, nullptr);
        static caps_listing l;
        char err[160];
        EXPECT_NE(caps_read(in, &l, err, sizeof err), nullptr);
        fclose(in);
    }
}

} // namespace

namespace {

// The queue command refuses what would make a broken queue, before it asks
// cupsd for anything.
TEST(QueueSetup, RefusesBadInput)
{
    ppd_fixture f = make_fixture();
    std::string ppd = generate(f, "q", {"--package", "generic-ps", "--model", "M"});
    ASSERT_FALSE(ppd.empty());
    std::string foreign = f.dir + "/foreign.ppd";
    std::string text = read_text(ppd);
    size_t at = text.find("*TessalPackage:");
    text.erase(at, text.find('\n', at) + 1 - at);
    ASSERT_TRUE(write_text(foreign, text));
    struct {
        const char* name;
        std::vector<std::string> args;
        const char* message;
    } cases[] = {
        {"queue name with a slash", {"a/b", ppd, "file:/dev/null"}, "invalid queue name"},
        {"queue name with a space", {"a b", ppd, "file:/dev/null"}, "invalid queue name"},
        {"PPD of another driver", {"q", foreign, "file:/dev/null"}, "names no driver package"},
        {"missing PPD", {"q", f.dir + "/none.ppd", "file:/dev/null"}, "cannot read"},
        {"URI without a scheme", {"q", ppd, "/dev/null"}, "device URI"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> argv = {ADDQUEUE_PATH};
        argv.insert(argv.end(), c.args.begin(), c.args.end());
        child_io io;
        io.err = f.dir + "/addqueue.err";
        // A cupsd that does not exist: nothing may reach it.
        io.env = {"CUPS_SERVER=" + f.dir + "/no-cupsd.sock"};
        EXPECT_NE(run(argv, io, 30), 0);
        EXPECT_NE(read_text(io.err).find(c.message), std::string::npos) << read_text(io.err);
    }
    remove_dir(f.dir);
}

} // namespace
