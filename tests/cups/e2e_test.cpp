// Jobs through a private cupsd, the real zk_filter, the installed files,
// a desktop user and Wine, inside private mount and network namespaces
// (see sandbox.sh).  Needs root and a build with strelwick.exe.

#include <cups/cups.h>
#include <cups/raster.h>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <set>

#include "cups_util.h"
#include "test_support.h"
#include "tband_decode.h"
#include "tjet_decode.h"

namespace {

std::string g_dir; // scratch: stage, sandbox state, documents
std::string g_state; // sandbox state (the desktop user's home lives here)
std::string g_out; // where the backend writes each job's output
std::string g_pdf; // the 2-page test document
pid_t g_daemon = -1;

std::string sandbox(const std::string& commands, int* status = nullptr)
{
    child_io io;
    io.out = g_dir + "/sandbox.out";
    io.err = g_dir + "/sandbox.err";
    std::string script = "set -e\nSANDBOX_RIG_DIR=" + std::string(RIG_DIR) + "\n. " + RIG_DIR
        + "/sandbox.sh\nSANDBOX_STATE=" + g_state + "\nSANDBOX_TMP=" + g_state
        + "/tmp\nSANDBOX_OUT=" + g_state + "/tmp/out\n" + commands;
    int rc = run({"bash", "-c", script}, io, 300);
    if (status)
        *status = rc;
    return read_text(io.out) + read_text(io.err);
}

pid_t start_daemon()
{
    child_io io;
    io.out = g_state + "/tmp/zk_filter.log";
    io.err = io.out;
    pid_t pid = spawn({"/bin/sh", "-c", "exec /usr/sbin/zk_filter 2>>" + io.out + " >&2"}, {});
    usleep(300000);
    return pid;
}

std::string daemon_log()
{
    return read_text(g_state + "/tmp/zk_filter.log");
}
std::string cups_log()
{
    return read_text(g_state + "/tmp/cups/log/error_log");
}

// CUPS stops a job whose filter fails (or aborts it, by error policy).
bool job_stopped(const cups_job& s)
{
    return s.state == IPP_JSTATE_STOPPED || s.state == IPP_JSTATE_ABORTED;
}

bool wait_job_state(int id, int state, int timeout_s)
{
    for (int i = 0; i < timeout_s * 10; i++) {
        if (cups_get_job(id).state == state)
            return true;
        usleep(100000);
    }
    return false;
}

// Renders PostScript or PDF to pages with Ghostscript.
std::vector<TestImage> render(
    const std::string& doc, const char* tag, const std::vector<std::string>& extra)
{
    std::string base = g_dir + "/" + tag;
    std::vector<std::string> argv
        = {"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw", "-r300"};
    argv.insert(argv.end(), extra.begin(), extra.end());
    argv.push_back("-o");
    argv.push_back(base + "-%d.ppm");
    argv.push_back(doc);
    std::vector<TestImage> pages;
    if (run(argv, {}, 120) != 0)
        return pages;
    for (int n = 1;; n++) {
        TestImage img;
        std::string err;
        std::string path = base + "-" + std::to_string(n) + ".ppm";
        if (!read_ppm(path, &img, &err))
            break;
        pages.push_back(std::move(img));
        unlink(path.c_str());
    }
    return pages;
}

// Share of pixels in the common area whose colour differs by more than a
// small amount, and whether the page has any ink at all.
double differing_share(const TestImage& a, const TestImage& b, bool* inked)
{
    int w = std::min(a.width, b.width), h = std::min(a.height, b.height);
    long differ = 0, ink = 0;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            uint32_t p = a.rgb[(size_t)y * a.width + x];
            uint32_t q = b.rgb[(size_t)y * b.width + x];
            int worst = 0;
            for (int s = 0; s < 24; s += 8)
                worst = std::max(worst, abs((int)((p >> s) & 255) - (int)((q >> s) & 255)));
            differ += worst > 48;
            ink += p != 0xffffff;
        }
    }
    *inked = ink > (long)w * h / 100;
    return (double)differ / ((double)w * h);
}

// Processes of a job, among this test's descendants (the test is their
// subreaper): anything but the listener and Wine's warm service processes.
std::vector<std::string> job_processes()
{
    std::vector<std::string> found;
    DIR* d = opendir("/proc");
    if (!d)
        return found;
    std::set<pid_t> ours = {getpid()};
    std::vector<std::pair<pid_t, pid_t>> all;
    while (struct dirent* e = readdir(d)) {
        pid_t pid = atoi(e->d_name);
        if (pid <= 0)
            continue;
        std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
        size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        pid_t ppid = 0;
        sscanf(stat.c_str() + close + 2, "%*c %d", &ppid);
        all.push_back({pid, ppid});
    }
    closedir(d);
    for (bool grew = true; grew;) {
        grew = false;
        for (auto& pp : all)
            if (ours.count(pp.second) && !ours.count(pp.first)) {
                ours.insert(pp.first);
                grew = true;
            }
    }
    const char* names[]
        = {"rastertotessal", "gstoraster", "tessal-wine", "strelwick", "zk_filter", "run.sh"};
    for (pid_t pid : ours) {
        if (pid == getpid() || pid == g_daemon)
            continue;
        std::string cmd = read_text("/proc/" + std::to_string(pid) + "/cmdline");
        for (char& c : cmd)
            if (c == 0)
                c = ' ';
        for (const char* n : names)
            if (cmd.find(n) != std::string::npos)
                found.push_back(cmd);
    }
    return found;
}

TEST(CupsEndToEnd, TwoPagePdfPrintsBothPages)
{
    int id = cups_submit("tessal", g_pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 300);
    ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log() << daemon_log();
    EXPECT_EQ(s.impressions, 2);
    std::string out = g_out + "/job-" + std::to_string(id) + ".prn";
    std::vector<TestImage> got = render(out, "out", {"-g2480x3507", "-dFIXEDMEDIA"});
    std::vector<TestImage> want = render(g_pdf, "in", {});
    ASSERT_EQ(got.size(), 2u);
    ASSERT_EQ(want.size(), 2u);
    for (size_t i = 0; i < 2; i++) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        bool inked;
        double share = differing_share(want[i], got[i], &inked);
        EXPECT_TRUE(inked);
        EXPECT_LT(share, 0.01);
    }
}

// The printer gets page 1's data while later pages are still on their way:
// the print tool reads one page ahead, so it reads the last of three only
// after page 1 is printed, and the filter receives printer data before it
// has sent the last page.
TEST(CupsEndToEnd, PageOneReachesThePrinterBeforeTheLastPageIsSent)
{
    size_t log_before = cups_log().size();
    int id = cups_submit("tessal", std::string(DIST_DIR) + "/../cups/demo/sample.pdf", {}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 300);
    ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log() << daemon_log();
    EXPECT_EQ(s.impressions, 3);
    std::string log = cups_log().substr(log_before);
    size_t receiving = log.find("Receiving printer data");
    size_t last = log.find("Sent page 3");
    ASSERT_NE(receiving, std::string::npos) << log;
    ASSERT_NE(last, std::string::npos) << log;
    EXPECT_LT(receiving, last) << log;
}

// The sample packages' queue PPDs are made from the listings kept beside
// them: each driver, set up as a job would set it up, still lists exactly
// that.
TEST(CupsEndToEnd, SampleDriversListWhatTheirQueuesOffer)
{
    std::string home = g_state + "/home/tessaldemo";
    for (const char* pm : {"generic-ps:Tessal Generic PS", "tessal-raster:Tessal Raster"}) {
        std::string package(pm, strchr(pm, ':')), model = strchr(pm, ':') + 1;
        SCOPED_TRACE(package);
        int st;
        std::string out
            = sandbox("setpriv --reuid=1650 --regid=1650 --clear-groups env -i HOME=" + home
                    + " /opt/tessalwine/printer_drv/" + package + "/run.sh '" + model + "' --list",
                &st);
        ASSERT_EQ(st, 0) << out;
        EXPECT_EQ(read_text(home + "/.tessalwine/" + package + "/caps-" + model + ".txt"),
            read_text(std::string(DIST_DIR) + "/" + package + "/caps.txt"));
    }
}

// A queue that offers a paper Wine's PostScript driver does not have (a
// PPD made by hand): the job ends with an error naming the paper, and the
// printer gets nothing.
TEST(CupsEndToEnd, PaperTheDriverLacksEndsTheJob)
{
    int st;
    std::string out = sandbox("tessal-mkppd --package generic-ps --model 'Tessal Generic PS' "
                              "--size A4 --size Legal -o "
            + g_dir + "/legal.ppd\nsandbox_queue legal " + g_dir + "/legal.ppd\n",
        &st);
    ASSERT_EQ(st, 0) << out;
    int id = cups_submit("legal", g_pdf, {"media=Legal"}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 300);
    EXPECT_TRUE(job_stopped(s)) << s.state;
    EXPECT_NE(s.message.find("paper Legal (Windows paper code 5)"), std::string::npos)
        << s.message << daemon_log();
    EXPECT_EQ(read_text(g_out + "/job-" + std::to_string(id) + ".prn"), "");
}

// Cancel while the print tool works on the pages: every process of the
// job ends, and the queue prints the next job.
TEST(CupsEndToEnd, CancelLeavesNothingBehind)
{
    size_t log_before = daemon_log().size();
    // Six pages at 600 dpi keep the job busy well past the first page.
    int id = cups_submit("tessal", g_pdf, {"Resolution=600dpi", "copies=3"}, "");
    ASSERT_GT(id, 0);
    bool started = false;
    for (int i = 0; i < 1200 && !started; i++) {
        started = daemon_log().find("CreateDC got hdc", log_before) != std::string::npos;
        if (!started)
            usleep(100000);
    }
    ASSERT_TRUE(started) << daemon_log();
    ASSERT_EQ(cups_get_job(id).state, IPP_JSTATE_PROCESSING);
    child_io io;
    ASSERT_EQ(run({"cancel", std::to_string(id)}, io, 30), 0);
    EXPECT_TRUE(wait_job_state(id, IPP_JSTATE_CANCELED, 60));
    std::vector<std::string> left;
    for (int i = 0; i < 600; i++) {
        left = job_processes();
        if (left.empty())
            break;
        usleep(100000);
    }
    EXPECT_TRUE(left.empty()) << left[0];
    int next = cups_submit("tessal", g_pdf, {}, "");
    ASSERT_GT(next, 0);
    cups_job s = cups_wait_job(next, 300);
    EXPECT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log();
    EXPECT_EQ(s.impressions, 2);
}

// With the daemon down the job stops with the filter's error.
TEST(CupsEndToEnd, DaemonDownAbortsJob)
{
    kill(g_daemon, SIGTERM);
    wait_for(g_daemon, 10);
    int id = cups_submit("tessal", g_pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 120);
    g_daemon = start_daemon();
    EXPECT_TRUE(job_stopped(s)) << s.state;
    EXPECT_NE(cups_log().find("Cannot reach the print daemon"), std::string::npos);
}

// A package whose configure step fails: the job stops, and the daemon's
// log says why.
TEST(CupsEndToEnd, ConfigureFailureAbortsJob)
{
    int st;
    std::string out = sandbox("mkdir -p /opt/tessalwine/printer_drv/broken-pkg\n"
                              "printf '%s\\n' 'echo \"broken-pkg: no driver installed\" >&2' "
                              "'exit 3' >/opt/tessalwine/printer_drv/broken-pkg/run.sh\n"
                              "tessal-mkppd --package broken-pkg --model Broken -o "
            + g_dir + "/broken.ppd\nsandbox_queue broken " + g_dir + "/broken.ppd\n",
        &st);
    ASSERT_EQ(st, 0) << out;
    size_t log_before = daemon_log().size();
    int id = cups_submit("broken", g_pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 120);
    EXPECT_TRUE(job_stopped(s)) << s.state;
    std::string log = daemon_log().substr(log_before);
    EXPECT_NE(log.find("broken-pkg: no driver installed"), std::string::npos) << log;
    EXPECT_NE(log.find("configure error: 3"), std::string::npos) << log;
    std::string clog = cups_log();
    EXPECT_NE(clog.find("see the print daemon"), std::string::npos)
        << clog.substr(clog.size() > 12000 ? clog.size() - 12000 : 0);
}

// A job that selects no page ends quietly; a paper the queue lacks is
// printed on its default paper, with a warning naming both.
TEST(CupsEndToEnd, NoPagesAndMissingPaperAreSaid)
{
    int none = cups_submit("tessal", g_pdf, {"page-ranges=10-12"}, "");
    ASSERT_GT(none, 0);
    cups_job s = cups_wait_job(none, 120);
    EXPECT_EQ(s.state, IPP_JSTATE_COMPLETED) << s.message;
    EXPECT_NE(cups_log().find("Nothing to print: the job selects no pages"), std::string::npos);
    int a3 = cups_submit("tessal", g_pdf, {"media=A3"}, "");
    ASSERT_GT(a3, 0);
    s = cups_wait_job(a3, 300);
    EXPECT_EQ(s.state, IPP_JSTATE_COMPLETED) << s.message << daemon_log();
    EXPECT_EQ(s.impressions, 2);
    EXPECT_NE(
        cups_log().find("This printer does not offer paper A3: printing on A4"), std::string::npos);
}

struct ink_box {
    unsigned sheet_w = 0, sheet_h = 0;
    int x0 = -1, y0 = -1, x1 = -1, y1 = -1; // -1: no ink
};

// Where a raster page (CUPS's own, 8-bit grey or 24-bit) has ink.
std::vector<ink_box> ink_boxes(const std::string& path)
{
    std::vector<ink_box> boxes;
    int fd = open(path.c_str(), O_RDONLY);
    cups_raster_t* ras = fd >= 0 ? cupsRasterOpen(fd, CUPS_RASTER_READ) : nullptr;
    cups_page_header2_t h;
    while (ras && cupsRasterReadHeader2(ras, &h)) {
        ink_box b;
        b.sheet_w = h.cupsWidth;
        b.sheet_h = h.cupsHeight;
        std::vector<unsigned char> row(h.cupsBytesPerLine);
        unsigned step = h.cupsBitsPerPixel / 8;
        for (int y = 0; y < (int)h.cupsHeight; y++) {
            cupsRasterReadPixels(ras, row.data(), h.cupsBytesPerLine);
            for (int x = 0; step && x < (int)h.cupsWidth; x++) {
                if (row[(size_t)x * step] >= 128)
                    continue;
                b.x0 = b.x0 < 0 ? x : std::min(b.x0, x);
                b.y0 = b.y0 < 0 ? y : b.y0;
                b.x1 = std::max(b.x1, x);
                b.y1 = y;
            }
        }
        boxes.push_back(b);
    }
    if (ras)
        cupsRasterClose(ras);
    if (fd >= 0)
        close(fd);
    return boxes;
}

// A PDF of frames 10 points wide, 15 points in from each page's edges.
std::string frames_pdf(const char* name, const std::vector<std::pair<int, int>>& sizes)
{
    std::string ps = "%!PS\n";
    for (auto& s : sizes)
        ps += "<< /PageSize [" + std::to_string(s.first) + " " + std::to_string(s.second)
            + "] >> setpagedevice 10 setlinewidth 20 20 " + std::to_string(s.first - 40) + " "
            + std::to_string(s.second - 40) + " rectstroke showpage\n";
    std::string base = g_dir + "/" + name;
    if (!write_text(base + ".ps", ps) || run({"ps2pdf", base + ".ps", base + ".pdf"}, {}, 60))
        return "";
    return base + ".pdf";
}

// How CUPS scales documents on queues tessal-addqueue makes, seen in the
// raster it renders (copies of the sample queue that hand the raster
// straight to the output).  A document larger than the paper shrinks to
// fit whole, on an A4 and on a Letter queue; a smaller one keeps its size;
// fit-to-page and print-scaling still work.  CUPS decides once per
// document: a small page beside a large one is enlarged.
TEST(CupsEndToEnd, ScalingKeepsDocumentsWhole)
{
    std::string ppd = read_text(g_dir + "/stage/usr/share/ppd/tessalwine/generic-ps.ppd");
    size_t at = ppd.find("*cupsFilter:");
    ASSERT_NE(at, std::string::npos);
    ppd.replace(at, ppd.find('\n', at) - at, "*cupsFilter: \"application/vnd.cups-raster 0 -\"");
    ASSERT_TRUE(write_text(g_dir + "/raster.ppd", ppd));
    int st;
    std::string out = sandbox("sandbox_queue rasterA4 " + g_dir + "/raster.ppd\nsandbox_queue "
            + "rasterLetter " + g_dir + "/raster.ppd\nlpadmin -p rasterLetter -o PageSize=Letter\n",
        &st);
    ASSERT_EQ(st, 0) << out;
    std::string letter = frames_pdf("letter", {{612, 792}});
    std::string a4 = frames_pdf("a4", {{595, 842}});
    std::string a5 = frames_pdf("a5", {{420, 595}});
    std::string mixed = frames_pdf("mixed", {{420, 595}, {842, 1191}});
    ASSERT_FALSE(letter.empty() || a4.empty() || a5.empty() || mixed.empty());
    const int whole = -1, as_is = -2; // frame inside the sheet; 1625 dots wide
    struct {
        const char* queue;
        std::string doc;
        const char* option;
        int width; // the frame's width in dots, or whole / as_is
    } cases[] = {
        {"rasterA4", letter, "", whole},
        {"rasterLetter", a4, "", whole},
        {"rasterA4", a5, "", as_is},
        {"rasterA4", a5, "fit-to-page", 2300},
        {"rasterA4", a5, "print-scaling=fill", 2300},
        {"rasterA4", letter, "print-scaling=none", 2425},
        {"rasterA4", mixed, "", 2300},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.queue) + " " + c.doc + " " + c.option);
        std::vector<std::string> options;
        if (*c.option)
            options.push_back(c.option);
        int id = cups_submit(c.queue, c.doc, options, "");
        ASSERT_GT(id, 0);
        cups_job s = cups_wait_job(id, 120);
        ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << s.message;
        std::vector<ink_box> pages = ink_boxes(g_out + "/job-" + std::to_string(id) + ".prn");
        ASSERT_FALSE(pages.empty());
        const ink_box& b = pages[0];
        ASSERT_GE(b.x0, 0) << "no ink";
        int w = b.x1 - b.x0 + 1;
        if (c.width == whole) {
            EXPECT_GT(b.x0, 20);
            EXPECT_GT(b.y0, 20);
            EXPECT_LT(b.x1, (int)b.sheet_w - 20);
            EXPECT_LT(b.y1, (int)b.sheet_h - 20);
        } else if (c.width == as_is) {
            EXPECT_NEAR(w, 1625, 6);
        } else if (c.width == 2300) {
            EXPECT_GT(w, 2250) << "not enlarged";
        } else {
            EXPECT_NEAR(w, c.width, 6);
        }
    }
}

// The test driver's DLLs per Windows architecture this machine runs: 64-bit
// always, 32-bit where the kernel runs 32-bit programs.
std::vector<std::pair<std::string, std::string>> driver_builds()
{
    std::string dirs = WIN_DIRS; // "<primary arch>:<its dir>:<the other's dir>"
    size_t a = dirs.find(':'), b = dirs.find(':', a + 1);
    std::string primary = dirs.substr(b == std::string::npos ? 0 : a + 1, b - a - 1);
    std::string other = dirs.substr(b + 1);
    bool primary_32 = dirs.compare(0, a, "i686") == 0;
    std::vector<std::pair<std::string, std::string>> out;
    out.push_back({"amd64", primary_32 ? other : primary});
    if (run({"/lib/ld-linux.so.2", "--version"}, {}, 10) == 0)
        out.push_back({"x86", primary_32 ? primary : other});
    return out;
}

// A printer maker's download: a .zip with the test driver's INF, DLLs and
// data file (in other letter case than the INF names them), for each
// architecture this machine runs. tessal-driver lists its model, makes a
// package and a queue from it (with the print tool of the driver's
// architecture), the queue prints, and remove takes both away. A queue
// that cannot be made leaves no package.
TEST(CupsEndToEnd, DriverDownloadBecomesAQueue)
{
    for (auto& [arch, win] : driver_builds()) {
        SCOPED_TRACE(arch);
        std::string dl = g_dir + "/download-" + arch;
        std::string zip = g_dir + "/tessal-driver-" + arch + ".zip";
        ASSERT_EQ(run({"mkdir", "-p", dl}, {}, 10), 0);
        std::vector<std::string> files = {std::string(TEST_DRIVER_DIR) + "/tdrv.inf",
            win + "/tdrv.dll", win + "/tdrvui.dll", std::string(DIST_DIR) + "/tessal-raster/tdrv.txt"};
        for (const std::string& f : files)
            ASSERT_EQ(run({"cp", f, dl + "/"}, {}, 10), 0) << f;
        child_io quiet;
        quiet.out = g_dir + "/7z.log";
        ASSERT_EQ(run({"7z", "a", "-tzip", zip, dl + "/."}, quiet, 60), 0) << read_text(quiet.out);

        int st;
        std::string out = sandbox("tessal-driver list " + zip, &st);
        ASSERT_EQ(st, 0) << out;
        EXPECT_NE(out.find("Tessal Raster (Tessal): x86, amd64"), std::string::npos) << out;

        std::string pkg = "byod-" + arch;
        out = sandbox("if tessal-driver add " + zip + " --package " + pkg
                + "-fail --queue byodfail --user nosuchuser tessalout:$SANDBOX_OUT; "
                  "then echo made; fi\nls -a /opt/tessalwine/printer_drv\n",
            &st);
        ASSERT_EQ(st, 0) << out;
        EXPECT_NE(out.find("the package is removed again"), std::string::npos) << out;
        EXPECT_EQ(out.find(pkg + "-fail"), std::string::npos) << out;

        out = sandbox("tessal-driver add " + zip + " --package " + pkg + " --queue " + pkg
                + " --user tessaldemo tessalout:$SANDBOX_OUT\n"
                  "cat /opt/tessalwine/printer_drv/"
                + pkg + "/driver-arch",
            &st);
        ASSERT_EQ(st, 0) << out;
        EXPECT_NE(out.find("holds the " + arch + " driver"), std::string::npos) << out;
        int id = cups_submit(pkg, g_pdf, {}, "");
        ASSERT_GT(id, 0);
        cups_job s = cups_wait_job(id, 300);
        ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log() << daemon_log();
        EXPECT_EQ(s.impressions, 2);
        std::string printed = read_text(g_out + "/job-" + std::to_string(id) + ".prn");
        EXPECT_EQ(printed.compare(0, 3, "P6\n"), 0) << printed.substr(0, 40);

        out = sandbox("tessal-driver remove " + pkg + "\n! lpstat -p " + pkg
                + " 2>/dev/null\n[ ! -e /opt/tessalwine/printer_drv/" + pkg + " ]\n",
            &st);
        EXPECT_EQ(st, 0) << out;
    }
}

// A Unidrv minidriver with a rendering plug-in, the Tessal Band sample as a
// printer maker ships it (a .zip of its INF, GPD, .ini and both
// architectures' plug-ins): tessal-driver says its route, makes a package
// on our own Unidrv core and a queue; a job prints through the daemon and
// Wine, and what the printer gets is the plug-in's framing, whose bands
// decode back to the pages, with the UI plug-in's default and the job's
// values in its header.
TEST(CupsEndToEnd, UnidrvDriverWithAPluginPrintsUnderWine)
{
    std::string zip = g_dir + "/tessal-band.zip";
    child_io quiet;
    quiet.out = g_dir + "/7z.log";
    ASSERT_EQ(run({"7z", "a", "-tzip", zip, std::string(TESSAL_BAND_DOWNLOAD) + "/."}, quiet, 60), 0);
    int st;
    std::string out = sandbox("tessal-driver list " + zip + "\ntessal-driver add " + zip
            + " --package band --queue bandq --user tessaldemo tessalout:$SANDBOX_OUT\n",
        &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("Tessal Band (Tessal): x86, amd64; Unidrv with the rendering plug-in "
                       "TBandRdr.DLL: prints under Wine on our own Unidrv core"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("it prints under Wine on our own Unidrv core"), std::string::npos) << out;

    int id = cups_submit("bandq", g_pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 300);
    ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log() << daemon_log();
    EXPECT_EQ(s.impressions, 2);

    // A4 at 300 dpi; the printable area starts 50, 60 dots into the sheet.
    tband_job job;
    std::string err;
    ASSERT_TRUE(tband_decode(
        read_text(g_out + "/job-" + std::to_string(id) + ".prn"), 2380, 3387, &job, &err))
        << err;
    EXPECT_TRUE(job.header);
    EXPECT_EQ(job.darkness, 7); // the UI plug-in's default
    EXPECT_EQ(job.copies, 1);
    EXPECT_EQ(job.dpi_x, 300);
    EXPECT_EQ(job.dpi_y, 300);
    EXPECT_NEAR(job.paper_w, 4960, 1); // 600ths of an inch
    EXPECT_NEAR(job.paper_h, 7016, 1);
    EXPECT_EQ(job.finish, std::vector<long>{4}); // Finish: Matte, the default
    EXPECT_TRUE(job.ended);
    EXPECT_EQ(job.end_pages, 2);
    std::vector<TestImage> want = render(g_pdf, "band-in", {});
    ASSERT_EQ(job.pages.size(), 2u);
    ASSERT_EQ(want.size(), 2u);
    for (size_t i = 0; i < 2; i++) {
        SCOPED_TRACE("page " + std::to_string(i + 1));
        EXPECT_EQ(job.pages[i].number, (long)i + 1);
        EXPECT_EQ(job.pages[i].bpp, 24); // the queue prints in colour by default
        TestImage area = make_image(2380, 3387, 0xffffff);
        for (int y = 0; y < area.height; y++)
            for (int x = 0; x < area.width; x++)
                set_pixel(area, x, y, pixel_at(want[i], x + 50, y + 60));
        bool inked;
        double share = differing_share(area, job.pages[i].image, &inked);
        EXPECT_TRUE(inked);
        EXPECT_LT(share, 0.01);
    }
    // In gray the plug-in gets 8-bit bands.
    id = cups_submit("bandq", g_pdf, {"ColorModel=Gray"}, "");
    ASSERT_GT(id, 0);
    s = cups_wait_job(id, 300);
    ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log() << daemon_log();
    ASSERT_TRUE(tband_decode(
        read_text(g_out + "/job-" + std::to_string(id) + ".prn"), 2380, 3387, &job, &err))
        << err;
    ASSERT_EQ(job.pages.size(), 2u);
    EXPECT_EQ(job.pages[0].bpp, 8);
    EXPECT_GT(job.pages[0].bands, 0);
    out = sandbox("tessal-driver remove band\n! lpstat -p bandq 2>/dev/null\n"
                  "[ ! -e /opt/tessalwine/printer_drv/band ]\n",
        &st);
    EXPECT_EQ(st, 0) << out;
}

// Drivers on Microsoft's cores: a PostScript one becomes a plain CUPS queue
// on its PPD, which prints without Wine; a Unidrv one whose .ini names a
// rendering plug-in the driver lacks is refused, naming the plug-in, and so
// is a GPD tessal-gpdppd
// refuses, with its reason, each leaving nothing; a GPD-only
// one (a .zip of the sample's INF and GPD files) prints natively, without
// the daemon, and remove takes it away.
TEST(CupsEndToEnd, CoreDriversTakeTheirOwnRoute)
{
    std::string dl = g_dir + "/core-download";
    ASSERT_EQ(run({"mkdir", "-p", dl}, {}, 10), 0);
    write_text(dl + "/CORE.INF",
        "[Version]\nSignature=\"$Windows NT$\"\nClass=Printer\n"
        "[Manufacturer]\nTessal=Models,NTamd64,NTx86\n"
        "[Models.NTamd64]\n\"Tessal PS\"=GENERIC-PS.PPD\n\"Tessal GPD\"=TESSAL.GPD\n"
        "\"Tessal Bare GPD\"=BARE\n"
        "[Models.NTx86]\n\"Tessal PS\"=GENERIC-PS.PPD\n\"Tessal GPD\"=TESSAL.GPD\n"
        "\"Tessal Bare GPD\"=BARE\n"
        "[BARE]\nNeeds=UNIDRV.OEM\nCopyFiles=@TESSAL.GPD\nDataFile=TESSAL.GPD\n"
        "[GENERIC-PS.PPD]\nInclude=NTPRINT.INF\nNeeds=PSCRIPT.OEM\nCopyFiles=@GENERIC-PS.PPD\n"
        "[TESSAL.GPD]\nInclude=NTPRINT.INF\nNeeds=UNIDRV.OEM\nCopyFiles=@TESSAL.GPD,@TESSAL.INI\n");
    write_text(dl + "/tessal.gpd", "*GPDSpecVersion: \"1.0\"\n");
    write_text(dl + "/Tessal.ini", "[OEMFiles]\nOEMDriverFile1=TSLREND.DLL\n");
    ASSERT_EQ(run({"cp", std::string(DIST_DIR) + "/generic-ps/generic-ps.ppd", dl + "/Generic-PS.ppd"},
                  {}, 10),
        0);

    int st;
    std::string out = sandbox("if tessal-driver add " + dl
            + " --model 'Tessal GPD' --queue gpdq tessalout:$SANDBOX_OUT; then echo made; fi\n"
              "if tessal-driver add "
            + dl
            + " --model 'Tessal Bare GPD' --package bare --queue bareq tessalout:$SANDBOX_OUT; "
              "then echo made; fi\n"
              "lpstat -p gpdq bareq 2>&1 || true\nls -a /opt/tessalwine/printer_drv\n",
        &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("Unidrv (Needs=UNIDRV.OEM), with the rendering plug-in TSLREND.DLL"),
        std::string::npos)
        << out;
    EXPECT_NE(out.find("which is not among the driver's files"), std::string::npos) << out;
    EXPECT_EQ(out.find("made"), std::string::npos) << out;
    EXPECT_EQ(out.find("printer gpdq"), std::string::npos) << out;
    EXPECT_EQ(out.find("tessal-gpd"), std::string::npos) << out;
    // A GPD that tessal-gpdppd refuses: its reason, and no package or queue.
    EXPECT_NE(out.find("'Tessal Bare GPD' (a Unidrv GPD driver) is refused: "), std::string::npos)
        << out;
    EXPECT_NE(out.find("no paper size"), std::string::npos) << out;
    EXPECT_EQ(out.find("printer bareq"), std::string::npos) << out;
    EXPECT_EQ(out.find("\nbare\n"), std::string::npos) << out;
    EXPECT_EQ(out.find(".new-"), std::string::npos) << out;

    std::string jet = g_dir + "/tessal-jet.zip";
    child_io quiet;
    quiet.out = g_dir + "/7z.log";
    ASSERT_EQ(run({"7z", "a", "-tzip", jet, std::string(GPD_SAMPLE_DIR) + "/."}, quiet, 60), 0);
    out = sandbox("tessal-driver list " + jet + "\ntessal-driver add " + jet
            + " --package jet --queue jetq tessalout:$SANDBOX_OUT\n",
        &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("Tessal Jet 300 (Tessal): x86, amd64; Unidrv GPD: printed natively"),
        std::string::npos)
        << out;
    size_t log_before = daemon_log().size();
    int jid
        = cups_submit("jetq", g_pdf, {"Resolution=150dpi", "PageSize=A4", "ColorModel=Mono"}, "");
    ASSERT_GT(jid, 0);
    cups_job js = cups_wait_job(jid, 300);
    ASSERT_EQ(js.state, IPP_JSTATE_COMPLETED) << cups_log();
    EXPECT_EQ(daemon_log().size(), log_before) << "the job went through the daemon";
    tjet_job job;
    std::string err;
    // The sample's printable area on A4 at 150 dpi: 1190 x 1703 dots.
    EXPECT_TRUE(tjet_decode(read_text(g_out + "/job-" + std::to_string(jid) + ".prn"),
        (1190 + 7) / 8, 1703, 1, 0, &job, &err))
        << err;
    EXPECT_EQ(job.pages.size(), 2u);
    EXPECT_TRUE(job.ended);
    out = sandbox("tessal-driver remove jet\n! lpstat -p jetq 2>/dev/null\n"
                  "[ ! -e /opt/tessalwine/printer_drv/jet ]\n",
        &st);
    EXPECT_EQ(st, 0) << out;

    out = sandbox(
        "tessal-driver add " + dl + " --model 'Tessal PS' --queue psq tessalout:$SANDBOX_OUT\n", &st);
    ASSERT_EQ(st, 0) << out;
    EXPECT_NE(out.find("without Wine"), std::string::npos) << out;
    int id = cups_submit("psq", g_pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 300);
    EXPECT_EQ(s.state, IPP_JSTATE_COMPLETED) << cups_log();
    std::string printed = read_text(g_out + "/job-" + std::to_string(id) + ".prn");
    EXPECT_EQ(printed.compare(0, 4, "%!PS"), 0) << printed.substr(0, 40);
    sandbox("lpadmin -x psq");
}

void kill_everything()
{
    for (int round = 0; round < 3; round++) {
        DIR* d = opendir("/proc");
        if (!d)
            return;
        while (struct dirent* e = readdir(d)) {
            pid_t pid = atoi(e->d_name);
            if (pid <= 0 || pid == getpid())
                continue;
            std::string stat = read_text("/proc/" + std::to_string(pid) + "/stat");
            size_t close = stat.rfind(')');
            pid_t ppid = 0;
            if (close != std::string::npos)
                sscanf(stat.c_str() + close + 2, "%*c %d", &ppid);
            if (ppid == getpid())
                kill(pid, SIGKILL);
        }
        closedir(d);
        while (waitpid(-1, nullptr, WNOHANG) > 0) { }
        usleep(200000);
    }
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // Orphans (the daemon's workers, Wine's servers) become our children, so
    // that the test can find and end them.
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0 || unshare(CLONE_NEWNS | CLONE_NEWNET) != 0) {
        perror("namespaces (the CUPS end-to-end tests need root)");
        return 1;
    }
    // Nothing mounted or unmounted here may reach the host.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        perror("make mounts private");
        return 1;
    }
    g_dir = temp_dir("tessal-cups-e2e");
    g_state = g_dir + "/state";
    g_out = g_state + "/tmp/out";
    std::string stage = g_dir + "/stage";
    child_io io;
    io.out = g_dir + "/install.log";
    io.err = io.out;
    io.env = {"DESTDIR=" + stage};
    if (run({"cmake", "--install", BUILD_DIR, "--prefix", "/usr"}, io, 300)) {
        fprintf(stderr, "staging the install failed:\n%s", read_text(io.out).c_str());
        remove_dir(g_dir);
        return 1;
    }
    g_pdf = g_dir + "/pages.pdf";
    if (run({"ps2pdf", "-sPAPERSIZE=a4", fixture("pages.ps"), g_pdf}, {}, 60)) {
        fprintf(stderr, "ps2pdf failed\n");
        remove_dir(g_dir);
        return 1;
    }
    int st;
    std::string out = sandbox("SANDBOX_SESSION_PID=" + std::to_string(getpid())
            + "\nSANDBOX_NO_DAEMON=1\nsandbox_setup " + g_state + " " + stage
            + "\n"
              "sandbox_queue tessal /usr/share/ppd/tessalwine/generic-ps.ppd\n"
              "echo CUPS_SERVER=$CUPS_SERVER\n",
        &st);
    size_t at = out.find("CUPS_SERVER=");
    int rc = 1;
    if (st != 0 || at == std::string::npos) {
        fprintf(stderr, "sandbox set-up failed:\n%s", out.c_str());
    } else {
        std::string server = out.substr(at + 12, out.find('\n', at) - at - 12);
        setenv("CUPS_SERVER", server.c_str(), 1);
        g_daemon = start_daemon();
        rc = RUN_ALL_TESTS();
    }
    sandbox("sandbox_stop");
    kill_everything();
    // The overlays keep their upper layers in the sandbox's tmpfs.
    const char* mounts[] = {"/usr", "/opt", "/run"};
    for (const char* m : mounts)
        umount2(m, MNT_DETACH);
    umount2((g_state + "/tmp").c_str(), MNT_DETACH);
    remove_dir(g_dir);
    return rc;
}
