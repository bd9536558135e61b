// The print server under load: four users send five jobs each at once to
// the queues of two packages, against the same 20 jobs one at a time.
// Uses the print-server rig (tests/support/server_rig.h) with its stand-in
// Wine, which takes 1 s per job; so the figures show what the server adds
// around the driver (CUPS, rendering to raster, the daemon, the scripts) and
// how much two packages in parallel save.  Needs root.
//
//   cups_server_load [rounds]      (default 3; medians are reported)
#include "cups_util.h"
#include "server_rig.h"

#include <cups/cups.h>
#include <stdio.h>
#include <stdlib.h>

#include <algorithm>
#include <vector>

static bool all_completed(const std::vector<int>& ids)
{
    bool ok = ids.size() == 20;
    for (int id : ids)
        ok = cups_wait_job(id, 900).state == IPP_JSTATE_COMPLETED && ok;
    return ok;
}

// Milliseconds from the first submission to the last job's end; -1 when a
// job did not print.
static long at_once(void)
{
    long start = server_now_ms();
    std::string out;
    return all_completed(server_submit_burst(&out)) ? server_now_ms() - start : -1;
}

// The same jobs, each submitted when the one before has ended.
static long one_at_a_time(void)
{
    long start = server_now_ms();
    std::vector<int> ids;
    for (int c = 1; c <= 4; c++) {
        for (int j = 1; j <= 5; j++) {
            std::string queue = "tessal" + std::to_string((c + j) % 2 + 1);
            int id = cups_submit(queue, srv.pdf, {}, "client" + std::to_string(c));
            if (id < 0 || cups_wait_job(id, 900).state != IPP_JSTATE_COMPLETED)
                return -1;
            ids.push_back(id);
        }
    }
    return server_now_ms() - start;
}

static long median(std::vector<long> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? atoi(argv[1]) : 3;
    if (rounds < 1 || !server_rig_start()) {
        server_rig_stop();
        return 1;
    }
    // One job per package first, so that neither side pays for setting up
    // a prefix.
    int rc = 0;
    for (const char* q : {"tessal1", "tessal2"})
        if (cups_wait_job(cups_submit(q, srv.pdf, {}, ""), 300).state != IPP_JSTATE_COMPLETED)
            rc = 1;
    std::vector<long> burst, serial;
    for (int r = 0; rc == 0 && r < rounds; r++) {
        burst.push_back(at_once());
        serial.push_back(one_at_a_time());
        printf("round %d: 20 jobs at once %ld ms, one at a time %ld ms\n", r + 1, burst.back(),
            serial.back());
        if (burst.back() < 0 || serial.back() < 0)
            rc = 1;
    }
    if (rc == 0)
        printf("median: at once %ld ms, one at a time %ld ms, ratio %.2f\n", median(burst),
            median(serial), (double)median(serial) / (double)median(burst));
    else
        fprintf(stderr, "a job did not print\n%s\n", server_logs().c_str());
    server_rig_stop();
    return rc;
}
