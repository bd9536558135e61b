// A print server (see server_rig.h): the print-server policy, a job
// without a display, an office computer printing over IPP, the messages
// CUPS shows when a job cannot print, and many clients at once.  Needs root.

#include <cups/cups.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <map>

#include "cups_util.h"
#include "server_rig.h"

namespace {

std::string mount_namespace(const std::string& proc_dir)
{
    char buf[64];
    ssize_t n = readlink((proc_dir + "/ns/mnt").c_str(), buf, sizeof buf);
    return n > 0 ? std::string(buf, (size_t)n) : "";
}

// Processes of this test's namespace that belong to a job or would be a
// display: the job's own, Wine's, an X server.
std::vector<std::string> leftovers()
{
    std::vector<std::string> found;
    const char* names[] = {"rastertotessal", "tessal-wine", "strelwick", "run.sh", "wine",
        "explorer", "Xvfb", "Xorg", "Xwayland"};
    std::string ours = mount_namespace("/proc/self");
    DIR* d = opendir("/proc");
    while (dirent* e = d ? readdir(d) : nullptr) {
        std::string dir = std::string("/proc/") + e->d_name;
        if (atoi(e->d_name) <= 0 || atoi(e->d_name) == getpid() || mount_namespace(dir) != ours)
            continue;
        std::string cmd = read_text(dir + "/cmdline");
        std::replace(cmd.begin(), cmd.end(), '\0', ' ');
        for (const char* n : names)
            if (cmd.find(n) != std::string::npos)
                found.push_back(cmd);
    }
    if (d)
        closedir(d);
    return found;
}

class PrintServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        int st;
        std::string out = server_sandbox("sandbox_policy server", &st);
        ASSERT_EQ(st, 0) << out;
        truncate(srv.records.c_str(), 0);
        server_shell("rm -f " + srv.out + "/job-*.prn", nullptr);
    }
    void TearDown() override
    {
        if (HasFailure())
            fprintf(stderr, "%s\n", server_logs().c_str());
    }
};

// With the server policy a job prints as the service account in its own
// prefix, without a display: the prefix is switched to Wine's null graphics
// driver, and nothing of the job, and no display server, stays behind.
TEST_F(PrintServer, HeadlessJobPrintsAsTheServiceAccount)
{
    int id = cups_submit("tessal", srv.pdf, {}, "alice");
    ASSERT_GT(id, 0);
    cups_job job = cups_wait_job(id, 300);
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
    EXPECT_EQ(job.impressions, 2);
    std::string prefix = srv.state + "/service/.tessalwine/generic-ps";
    std::vector<server_record> r = server_records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].uid, 1651);
    EXPECT_EQ(r[0].prefix, prefix);
    EXPECT_EQ(r[0].display, "unset");
    EXPECT_GT(r[0].bytes, 1000);
    EXPECT_NE(server_output_of(id).find("uid=1651 prefix=" + prefix), std::string::npos);
    struct stat st;
    ASSERT_EQ(stat(prefix.c_str(), &st), 0);
    EXPECT_EQ(st.st_uid, 1651u);
    EXPECT_NE(read_text(prefix + "/user.reg").find("\"Graphics\"=\"null\""), std::string::npos);
    std::vector<std::string> left;
    for (int i = 0; i < 100 && !(left = leftovers()).empty(); i++)
        usleep(100000);
    EXPECT_TRUE(left.empty()) << left[0];
}

// With the desktop policy and nobody at the desktop, CUPS says so.
TEST_F(PrintServer, NobodyAtTheDesktopIsWhatCupsSays)
{
    int st;
    std::string out = server_sandbox("sandbox_policy desktop\nsandbox_logout", &st);
    ASSERT_EQ(st, 0) << out;
    int id = cups_submit("tessal", srv.pdf, {}, "");
    ASSERT_GT(id, 0);
    cups_job job = cups_wait_job(id, 120);
    EXPECT_TRUE(job.state == IPP_JSTATE_STOPPED || job.state == IPP_JSTATE_ABORTED) << job.state;
    printf("CUPS shows: %s\n", job.message.c_str());
    EXPECT_NE(job.message.find("Nobody is logged in on the desktop"), std::string::npos)
        << job.message;
    EXPECT_NE(job.message.find("policy=fallback"), std::string::npos) << job.message;
    EXPECT_TRUE(server_records().empty());
}

TEST_F(PrintServer, DaemonNotRunningSaysHowToStartIt)
{
    kill(srv.daemon, SIGTERM);
    wait_for(srv.daemon, 10);
    int id = cups_submit("tessal", srv.pdf, {}, "");
    cups_job job = cups_wait_job(id, 120);
    srv.daemon = server_start_daemon();
    EXPECT_TRUE(job.state == IPP_JSTATE_STOPPED || job.state == IPP_JSTATE_ABORTED) << job.state;
    printf("CUPS shows: %s\n", job.message.c_str());
    EXPECT_NE(job.message.find("zk_filter is not running"), std::string::npos) << job.message;
    EXPECT_NE(job.message.find("systemctl start zk_filter.socket"), std::string::npos)
        << job.message;
}

// The office computer has the server's shared queue as an ordinary IPP
// printer; its PDF is rendered on the server as the service account and the
// printer data reaches the server's backend.
TEST_F(PrintServer, OfficeComputerPrintsOverIpp)
{
    std::string out;
    int rc = server_shell("export CUPS_SERVER=" + srv.office + "\nlp -d office " + srv.pdf, &out);
    ASSERT_EQ(rc, 0) << out;
    // The office computer's IPP backend waits for the server's job to end:
    // the office job completes only after the server has printed it.
    std::string lpstat;
    for (long end = server_now_ms() + 300000; server_now_ms() < end; usleep(200000)) {
        server_shell("CUPS_SERVER=" + srv.office + " lpstat -W completed -o office", &lpstat);
        if (lpstat.find("office-") != std::string::npos)
            break;
    }
    ASSERT_NE(lpstat.find("office-"), std::string::npos)
        << read_text(srv.dir + "/office/log/error_log");
    std::vector<server_record> r = server_records();
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].uid, 1651);
    EXPECT_EQ(r[0].prefix, srv.state + "/service/.tessalwine/generic-ps");
    std::string prn;
    server_shell("cat " + srv.out + "/job-*.prn", &prn);
    EXPECT_NE(prn.find("%!PS stub uid=1651 prefix=" + r[0].prefix), std::string::npos) << prn;
    EXPECT_NE(prn.find("bytes=" + std::to_string(r[0].bytes)), std::string::npos) << prn;
}

// Four users send five jobs each at once, alternating between the queues
// of two packages: every job prints, and the jobs of one package never run
// at the same time in its prefix.
TEST_F(PrintServer, FourClientsAtOnceLoseNothing)
{
    std::string out;
    std::vector<int> ids = server_submit_burst(&out);
    ASSERT_EQ(ids.size(), 20u) << out;
    long start = server_now_ms();
    for (int id : ids) {
        cups_job job = cups_wait_job(id, 600);
        EXPECT_EQ(job.state, IPP_JSTATE_COMPLETED) << "job " << id << ": " << job.message;
        EXPECT_NE(server_output_of(id).find("%!PS stub uid=1651"), std::string::npos)
            << "job " << id;
    }
    printf("20 jobs at once: %ld ms after the last submission\n", server_now_ms() - start);
    std::map<std::string, std::vector<server_record>> by_prefix;
    for (const server_record& r : server_records())
        by_prefix[r.prefix].push_back(r);
    ASSERT_EQ(by_prefix.size(), 2u);
    for (auto& p : by_prefix) {
        EXPECT_EQ(p.second.size(), 10u) << p.first;
        std::sort(p.second.begin(), p.second.end(),
            [](const server_record& a, const server_record& b) { return a.start < b.start; });
        for (size_t i = 1; i < p.second.size(); i++)
            EXPECT_GE(p.second[i].start, p.second[i - 1].end) << "two jobs at once in " << p.first;
    }
}

// The choices of the print dialog reach the print tool as the driver's
// codes, and the job's title as the document name.
TEST_F(PrintServer, ChoicesReachTheDriver)
{
    struct {
        const char* option;
        const char* key;
        const char* value;
    } cases[] = {
        {"sides=two-sided-long-edge", "DUPLEX", "2"},
        {"InputSlot=ManualFeed", "INPUTBIN", "4"},
        {"ColorModel=Gray", "COLOR", "1"},
        {"MediaType=HeavyPaper", "MEDIATYPE", "256"},
        {"media=Letter", "PAGESIZE", "1"},
        {"media=Legal", "PAGESIZE", "5"},
        {"media=A5", "PAGESIZE", "11"},
    };
    std::vector<int> ids;
    for (auto& c : cases)
        ids.push_back(cups_submit("laser", srv.pdf, {c.option}, ""));
    for (size_t i = 0; i < ids.size(); i++) {
        SCOPED_TRACE(cases[i].option);
        cups_job job = cups_wait_job(ids[i], 300);
        ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
        std::map<std::string, std::string> keys = server_job_options(ids[i]);
        EXPECT_EQ(keys[cases[i].key], cases[i].value);
        EXPECT_EQ(keys["DOCNAME"], "pages.pdf");
        EXPECT_EQ(keys["DPI"], "600x600");
    }
}

// A paper the driver does not take ends the job with an error that names
// it, and nothing is printed.
TEST_F(PrintServer, PaperTheDriverLacksIsAnError)
{
    std::string refuse = srv.records.substr(0, srv.records.rfind('/')) + "/refuse";
    ASSERT_TRUE(write_text(refuse, "5\n"));
    int id = cups_submit("laser", srv.pdf, {"media=Legal"}, "");
    cups_job job = cups_wait_job(id, 300);
    unlink(refuse.c_str());
    EXPECT_TRUE(job.state == IPP_JSTATE_STOPPED || job.state == IPP_JSTATE_ABORTED) << job.state;
    printf("CUPS shows: %s\n", job.message.c_str());
    EXPECT_NE(job.message.find("paper Legal (Windows paper code 5)"), std::string::npos)
        << job.message;
    EXPECT_TRUE(server_output_of(id).empty());
}

// tessal-addqueue --driver makes the queue from the listing the package
// keeps in the named user's prefix: the queue offers what the driver does.
TEST_F(PrintServer, QueueStraightFromTheDriver)
{
    int st;
    std::string out = server_sandbox("tessal-addqueue fromdriver --driver generic-ps 'Office Laser "
                                     "5' tessalsvc tessalout:$SANDBOX_OUT\n"
                                     "lpoptions -p fromdriver -l\nlpoptions -p tessal -l",
        &st);
    ASSERT_EQ(st, 0) << out;
    printf("%s", out.c_str());
    for (const char* line : {"PageSize/Media Size: *A4 Letter Legal A5 Postcard",
             "Resolution/Resolution: *600dpi 300dpi", "ColorModel/Color Mode: *RGB Gray Black",
             "Duplex/2-Sided Printing: *None DuplexNoTumble DuplexTumble",
             "InputSlot/Media Source: *AutomaticallySelect Tray1 ManualFeed Tray2Envelopes",
             "MediaType/Media Type: *PlainPaper Transparency HeavyPaper"})
        EXPECT_NE(out.find(line), std::string::npos) << line;
    EXPECT_NE(read_text(srv.state + "/service/.tessalwine/generic-ps/caps-Office Laser 5.txt")
                  .find("PRINTER=Office Laser 5"),
        std::string::npos);
    std::string bad = server_sandbox(
        "tessal-addqueue x --driver generic-ps 'Office Laser 5' nosuchuser tessalout:/tmp", &st);
    EXPECT_NE(st, 0);
    EXPECT_NE(bad.find("no user nosuchuser"), std::string::npos) << bad;
}

// Pages the stand-in print tool kept for the job, as BMP files.
std::vector<std::string> kept_pages(int id)
{
    std::string all = read_text(server_job_options(id)["pages"]);
    std::vector<std::string> pages;
    for (size_t at = 0; at + 6 <= all.size();) {
        const unsigned char* p = (const unsigned char*)all.data() + at;
        size_t size = p[2] | p[3] << 8 | p[4] << 16 | (size_t)p[5] << 24;
        if (size < 14)
            break;
        pages.push_back(all.substr(at, size));
        at += size;
    }
    return pages;
}

// lp -n 3 of a raster file: the filter sends the pages again, collated or
// not, on a queue whose driver makes no copies; the laser's driver gets
// the count instead.  A Letter PDF on an A4 queue with default options is
// shrunk onto the page, not enlarged and cropped.
TEST_F(PrintServer, CopiesAndScaling)
{
    std::string keep = srv.records.substr(0, srv.records.rfind('/')) + "/keep-pages";
    ASSERT_TRUE(write_text(keep, ""));
    std::string ppd2 = srv.state + "/tmp/generic-ps2.ppd", ras = srv.dir + "/two.ras";
    ASSERT_TRUE(render_raster(ppd2, srv.pdf, {"ColorModel=Gray"}, ras));
    struct {
        const char* queue;
        const char* collate;
        std::vector<int> order;
        const char* copies;
    } cases[] = {
        {"tessal2", "collate=true", {0, 1, 0, 1, 0, 1}, ""},
        {"tessal2", "collate=false", {0, 0, 0, 1, 1, 1}, ""},
        {"laser", "collate=true", {0, 1}, "3"},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(std::string(c.queue) + " " + c.collate);
        long start = server_now_ms();
        int id = cups_submit(c.queue, ras, {"copies=3", c.collate}, "");
        cups_job job = cups_wait_job(id, 300);
        ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
        printf("%s %s: %ld ms, %zu pages sent\n", c.queue, c.collate, server_now_ms() - start,
            c.order.size());
        EXPECT_EQ(server_job_options(id)["COPIES"], c.copies);
        std::vector<std::string> got = kept_pages(id);
        ASSERT_EQ(got.size(), c.order.size());
        size_t second = std::find(c.order.begin(), c.order.end(), 1) - c.order.begin();
        ASSERT_TRUE(got[0] != got[second]);
        for (size_t i = 0; i < got.size(); i++)
            EXPECT_TRUE(got[i] == got[c.order[i] ? second : 0]) << "page " << i + 1;
    }
    std::string letter = srv.dir + "/letter.pdf";
    ASSERT_TRUE(write_text(srv.dir + "/letter.ps",
        "%!PS\n<</PageSize[612 792]>>setpagedevice 4 setlinewidth "
        "20 20 572 752 rectstroke showpage\n"));
    ASSERT_EQ(run({"ps2pdf", srv.dir + "/letter.ps", letter}, {}, 60), 0);
    int id = cups_submit("tessal", letter, {"ColorModel=Gray"}, "");
    cups_job job = cups_wait_job(id, 300);
    unlink(keep.c_str());
    ASSERT_EQ(job.state, IPP_JSTATE_COMPLETED) << job.message;
    std::vector<std::string> got = kept_pages(id);
    ASSERT_EQ(got.size(), 1u);
    // The frame, 18 pt inside the Letter page: its ink box stays inside the
    // page on every side, and no taller than the frame at 300 dpi (scale at
    // most 1).  Enlarged to fill the A4 page it would be cropped left and
    // right.
    const std::string& bmp = got[0];
    const unsigned char* p = (const unsigned char*)bmp.data();
    int w = p[18] | p[19] << 8, h = -(int)(p[22] | p[23] << 8 | p[24] << 16 | p[25] << 24);
    size_t off = p[10] | p[11] << 8 | p[12] << 16, stride = (w + 3) / 4 * 4;
    int left = w, right = -1, top = h, bottom = -1;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            if (p[off + y * stride + x] < 128) {
                left = std::min(left, x);
                right = std::max(right, x);
                top = std::min(top, y);
                bottom = std::max(bottom, y);
            }
    printf("Letter on A4: %dx%d page, ink %d..%d x %d..%d\n", w, h, left, right, top, bottom);
    EXPECT_GT(left, 0);
    EXPECT_LT(right, w - 1);
    EXPECT_GT(top, 0);
    EXPECT_LT(bottom, h - 1);
    EXPECT_LE(bottom - top + 1, 756 * 300 / 72);
}

} // namespace

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    int rc = server_rig_start() ? RUN_ALL_TESTS() : 1;
    server_rig_stop();
    return rc;
}
