// Time from connect to the last relayed byte of a one-page A4 job at
// 300 dpi, with the prefix's wineserver stopped (cold) and right after
// another job (warm), through the real zk_filter, tessal-wine, strelwick.exe
// and sample package under the daemon rig. Also the time from the worker's
// launch of tessal-wine (its environment lines in the daemon's log) to the
// print tool's first line on stderr.
//
//   dist_job_bench [rounds [BEFORE]]      (default 5; needs root)
//
// BEFORE, another build's tessal-wine, takes turns with this build's in
// every round (cold and warm each), for a side-by-side comparison.
#include "rig.h"
#include "test_support.h"
#include "wire.h"

#include <poll.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

static const uid_t kUid = 1990;
static const char kUser[] = "benchdesk";
static const char kPrefix[] = "/home/benchdesk/.tessalwine/generic-ps";

static double now_s()
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

struct Timing {
    bool ok = false;
    double to_last_byte = 0, launch_to_tool = -1;
};

// One job; the daemon log is watched for the launch and the tool's greeting.
static Timing run_job(const std::string& page)
{
    Timing t;
    size_t log_from = rig_log().size();
    double start = now_s();
    int fd = rig_connect_as(7, 7, 1, RIG_ADMIT);
    if (fd < 0)
        return t;
    std::thread sender([fd, &page] {
        const char* entries[]
            = {"PACKAGENAME=generic-ps", "MODEL=Tessal Generic", "PAGESIZE=9", "DPI=300"};
        wire_send_block(fd, entries, 4);
        wire_send_all(fd, page.data(), page.size());
        wire_end_pages(fd);
    });
    double launched = -1, greeted = -1, last = -1;
    std::string out;
    for (double end = start + 300; now_s() < end;) {
        pollfd p = {fd, POLLIN, 0};
        poll(&p, 1, 2);
        if (p.revents) {
            char buf[65536];
            ssize_t n = read(fd, buf, sizeof buf);
            if (n <= 0)
                break;
            out.append(buf, (size_t)n);
            last = now_s();
        }
        if (greeted < 0) {
            std::string log = rig_log().substr(log_from);
            if (launched < 0 && log.find("WINEPREFIX=") != std::string::npos)
                launched = now_s();
            if (log.find("strelwick get called.") != std::string::npos)
                greeted = now_s();
        }
    }
    sender.join();
    close(fd);
    t.ok = out.rfind("%!PS", 0) == 0 && last > 0;
    t.to_last_byte = last - start;
    if (launched > 0 && greeted > 0)
        t.launch_to_tool = greeted - launched;
    return t;
}

struct Series {
    std::vector<double> cold, warm, cold_launch, warm_launch;
};

static void stop_wineserver()
{
    std::string id = std::to_string(kUid);
    std::string cmd = "setpriv --reuid=" + id + " --regid=" + id + " --clear-groups env WINEPREFIX="
        + kPrefix + " sh -c 'timeout 30 wineserver -k; timeout 30 wineserver -w' 2>/dev/null";
    if (system(cmd.c_str()) != 0) { }
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 5;
    if (geteuid() != 0) {
        fprintf(stderr, "dist_job_bench: needs root (the daemon rig)\n");
        return 1;
    }
    std::string before = argc > 2 ? rig_read_file(argv[2]) : "";
    if (argc > 2 && before.empty()) {
        fprintf(stderr, "dist_job_bench: cannot read %s\n", argv[2]);
        return 1;
    }
    std::string stage_cmd
        = std::string(STAGE_SCRIPT) + " " + BUILD_DIR + " " + BENCH_STAGE + " >/dev/null";
    if (system(stage_cmd.c_str()) != 0) {
        fprintf(stderr, "dist_job_bench: staging the install failed\n");
        return 1;
    }
    std::string stage = BENCH_STAGE;
    std::string probe = std::string("echo XUSER=") + kUser + "\necho DISPLAY=:99\n";
    if (rig_enter() != 0 || rig_add_user(kUser, kUid, kUid, "/home/benchdesk") != 0
        || rig_overlay("/usr", (stage + "/usr").c_str()) != 0
        || rig_overlay("/opt", (stage + "/opt").c_str()) != 0
        || rig_write_file("/opt/tessalwine/printer_drv/xpub.sh", probe, 0755) != 0
        || rig_start_daemon((stage + "/usr/sbin/zk_filter").c_str(), nullptr) <= 0) {
        rig_leave();
        return 1;
    }
    std::vector<uint8_t> bmp = make_bmp(make_test_picture(2480, 3507, 256), BmpFormat());
    std::string page((const char*)bmp.data(), bmp.size());

    const char* launcher = "/usr/bin/tessal-wine";
    std::string ours = rig_read_file(launcher);
    Timing setup = run_job(page);
    printf("first job, prefix created: %.3f s\n", setup.to_last_byte);
    std::vector<Series> series(before.empty() ? 1 : 2);
    bool ok = setup.ok;
    for (int i = 0; i < rounds && ok; i++) {
        for (size_t k = 0; k < series.size() && ok; k++) {
            ok = rig_write_file(launcher, k ? before : ours, 0755) == 0;
            stop_wineserver();
            Timing c = run_job(page);
            Timing w = run_job(page);
            ok = ok && c.ok && w.ok;
            printf("round %d%s: cold %.3f s (launch to tool %.3f s), warm %.3f s (launch to tool "
                   "%.3f s)\n",
                i + 1, k ? " (before)" : "", c.to_last_byte, c.launch_to_tool, w.to_last_byte,
                w.launch_to_tool);
            series[k].cold.push_back(c.to_last_byte);
            series[k].warm.push_back(w.to_last_byte);
            series[k].cold_launch.push_back(c.launch_to_tool);
            series[k].warm_launch.push_back(w.launch_to_tool);
        }
    }
    for (size_t k = 0; k < series.size() && ok; k++) {
        const Series& m = series[k];
        printf("%s\n", k ? "before:" : "this build:");
        printf("  median connect to last byte: cold %.3f s, warm %.3f s, cold/warm %.2f\n",
            median(m.cold), median(m.warm), median(m.cold) / median(m.warm));
        printf("  median launch to print tool: cold %.3f s (target <= 0.6 s), warm %.3f s "
               "(target <= 0.2 s)\n",
            median(m.cold_launch), median(m.warm_launch));
    }
    if (!ok) {
        fprintf(stderr, "dist_job_bench: a job failed\n%s\n", rig_log().c_str());
    }
    stop_wineserver();
    rig_leave();
    return ok ? 0 : 1;
}
