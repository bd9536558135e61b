// The native GPD route end to end: a private cupsd with the real
// rastertogpd filter and a queue made by tessal-gpdppd for the sample
// driver prints a PostScript document; the printer data is decoded back to
// pixels and compared with Ghostscript's rendering of the same pages.
// Needs root (private mount and network namespaces; nothing reaches the
// host).
#include "cups_util.h"
#include "test_support.h"
#include "tjet_decode.h"

#include <algorithm>
#include <cups/cups.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string g_dir, g_out;

// The sample's printable area at 150 dpi on A4: origin and size in pixels.
const long kOrigin = 25, kWidth = 1190, kHeight = 1703;

std::string job_file(int id)
{
    return g_out + "/job-" + std::to_string(id) + ".prn";
}

std::string cups_log()
{
    return read_text(g_dir + "/cups/log/error_log");
}

// Ghostscript's rendering of the document at 150 dpi on A4.
std::vector<TestImage> reference_pages()
{
    std::vector<TestImage> pages;
    std::string base = g_dir + "/ref";
    if (run({"gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=ppmraw", "-r150",
            "-sPAPERSIZE=a4", "-dFIXEDMEDIA", "-o", base + "-%d.ppm", fixture("pages.ps")},
            {}, 120)
        != 0)
        return pages;
    for (int n = 1;; n++) {
        TestImage img;
        std::string err;
        if (!read_ppm(base + "-" + std::to_string(n) + ".ppm", &img, &err))
            break;
        pages.push_back(img);
    }
    return pages;
}

// Ink share (0..1) of a 16x16 block of the decoded planes (any plane's dot
// counts) and of the reference.
double decoded_ink(const tjet_page& p, long bx, long by)
{
    int dots = 0;
    for (long y = by; y < by + 16; y++)
        for (long x = bx; x < bx + 16; x++) {
            bool ink = false;
            for (const auto& plane : p.rows)
                ink |= ((unsigned char)plane[y][x >> 3] >> (7 - (x & 7))) & 1;
            dots += ink;
        }
    return dots / 256.0;
}

double reference_ink(const TestImage& ref, long bx, long by)
{
    double sum = 0;
    for (long y = by; y < by + 16; y++)
        for (long x = bx; x < bx + 16; x++) {
            uint32_t c = pixel_at(ref, (int)(x + kOrigin), (int)(y + kOrigin));
            int g = (((c >> 16) & 255) * 77 + ((c >> 8) & 255) * 151 + (c & 255) * 28) >> 8;
            sum += (255 - g) / 255.0;
        }
    return sum / 256.0;
}

// Prints on the queue and decodes what the printer got.
void print_job(const std::vector<std::string>& options, int planes, tjet_job* job)
{
    int id = cups_submit("jet", fixture("pages.ps"), options, "");
    ASSERT_GT(id, 0);
    cups_job s = cups_wait_job(id, 240);
    ASSERT_EQ(s.state, IPP_JSTATE_COMPLETED) << s.message << cups_log();
    std::string data = read_text(job_file(id));
    std::string err;
    ASSERT_TRUE(tjet_decode(data, (kWidth + 7) / 8, kHeight, 1, 0, job, &err)) << err;
    ASSERT_EQ(job->pages.size(), 2u);
    EXPECT_EQ(job->pages[0].planes, planes);
    EXPECT_TRUE(job->ended);
}

TEST(GpdNative, MonoJobDecodesToTheDocument)
{
    tjet_job job;
    print_job({"Resolution=150dpi", "PageSize=A4", "ColorModel=Mono"}, 1, &job);
    if (HasFatalFailure())
        return;
    std::vector<TestImage> ref = reference_pages();
    ASSERT_EQ(ref.size(), 2u);
    for (size_t n = 0; n < 2; n++) {
        double worst = 0, total = 0, ink = 0;
        int blocks = 0;
        for (long by = 0; by + 16 <= kHeight; by += 16)
            for (long bx = 0; bx + 16 <= kWidth; bx += 16) {
                double got = decoded_ink(job.pages[n], bx, by), want = reference_ink(ref[n], bx, by);
                double d = got > want ? got - want : want - got;
                worst = d > worst ? d : worst;
                total += d;
                ink += got;
                blocks++;
            }
        SCOPED_TRACE("page " + std::to_string(n + 1));
        EXPECT_GT(ink / blocks, 0.01); // the page is not blank
        EXPECT_LT(total / blocks, 0.04); // grey levels differ a little between renderers
        EXPECT_LT(worst, 0.3);
    }
}

// The queue's own options reach the printer, and the GPD's constraint
// (no colour on transparencies) holds.
TEST(GpdNative, QueueOptionsAndConstraintsReachThePrinter)
{
    tjet_job job;
    print_job({"Resolution=150dpi", "ColorModel=Color", "InputSlot=MANUAL", "Toner=On"}, 4, &job);
    if (HasFatalFailure())
        return;
    const std::vector<std::string>& sel = job.pages[0].selects;
    EXPECT_NE(std::find(sel.begin(), sel.end(), "&l2H"), sel.end());
    EXPECT_NE(std::find(sel.begin(), sel.end(), "*r-4U"), sel.end());
    tjet_job film;
    print_job({"Resolution=150dpi", "ColorModel=Color", "MediaType=TRANSPARENCY"}, 1, &film);
    if (HasFatalFailure())
        return;
    const std::vector<std::string>& fsel = film.pages[0].selects;
    EXPECT_NE(std::find(fsel.begin(), fsel.end(), "&l3M"), fsel.end());
    EXPECT_NE(std::find(fsel.begin(), fsel.end(), "*r1U"), fsel.end());
}

bool copy_file(const std::string& from, const std::string& to, mode_t mode)
{
    std::string data = read_text(from);
    return !data.empty() && write_text(to, data) && chmod(to.c_str(), mode) == 0;
}

// The filter beside the system's, the driver, the PPD, cupsd and a queue.
bool set_up()
{
    std::string filters = g_dir + "/filter", driver = g_dir + "/driver";
    g_out = g_dir + "/out";
    if (mkdir(filters.c_str(), 0755) || mkdir(driver.c_str(), 0755) || mkdir(g_out.c_str(), 0755)
        || chmod(g_out.c_str(), 01777))
        return false;
    if (!copy_file(FILTER_PATH, filters + "/rastertogpd", 0755)
        || !copy_file(SAMPLE_DIR "/TJET.GPD", driver + "/TJET.GPD", 0644)
        || !copy_file(SAMPLE_DIR "/tjetcmds.gpd", driver + "/tjetcmds.gpd", 0644))
        return false;
    std::string lower = "lowerdir=" + filters + ":/usr/lib/cups/filter";
    if (mount("tessalgpd", "/usr/lib/cups/filter", "overlay", MS_RDONLY, lower.c_str()) != 0) {
        perror("overlay on /usr/lib/cups/filter");
        return false;
    }
    std::string ppd = g_dir + "/jet.ppd";
    if (run({GPDPPD_PATH, "--gpd", driver + "/TJET.GPD", "-o", ppd}, {}, 30) != 0)
        return false;
    child_io io;
    io.out = g_dir + "/rig.out";
    io.err = g_dir + "/rig.err";
    if (run({"bash", RIG_DIR "/cupsd-rig.sh", "start", g_dir + "/cups"}, io, 60) != 0) {
        fprintf(stderr, "%s", read_text(io.err).c_str());
        return false;
    }
    std::string sock = read_text(io.out);
    sock = sock.substr(0, sock.find('\n'));
    setenv("CUPS_SERVER", sock.c_str(), 1);
    return run({"lpadmin", "-p", "jet", "-E", "-v", "tessalout:" + g_out, "-P", ppd}, {}, 30) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0
        || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
        perror("namespaces (the native GPD end-to-end test needs root)");
        return 1;
    }
    g_dir = temp_dir("tessal-gpd-e2e");
    int rc = 1;
    if (set_up())
        rc = RUN_ALL_TESTS();
    else
        fprintf(stderr, "set-up failed\n");
    run({"bash", RIG_DIR "/cupsd-rig.sh", "stop", g_dir + "/cups"}, {}, 30);
    umount2("/usr/lib/cups/filter", MNT_DETACH);
    remove_dir(g_dir);
    return rc;
}
