// Conversion throughput of rastertotessal against cat of the same raster
// bytes over the same kind of connection to a stand-in daemon that
// discards the pages.  Usage: cups_filter_bench RASTER PPD [runs [BEFORE]]
// (as root: it uses a private network namespace).  BEFORE, another build of
// the filter, is timed in the same rounds for a side-by-side comparison.

#include <algorithm>
#include <errno.h>
#include <fcntl.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <vector>

#include "cups_util.h"
#include "fake_daemon.h"
#include "wire.h"

static double now()
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec + t.tv_nsec / 1e9;
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// With piped set, the raster arrives through a pipe, as CUPS hands it on.
static double time_filter(
    const std::string& filter, const char* raster, const char* ppd, bool piped)
{
    fake_daemon d;
    d.keep_pages = false;
    d.reply = "ok";
    if (!fake_start(&d))
        exit(1);
    child_io io;
    io.env = {std::string("PPD=") + ppd};
    std::vector<std::string> argv = {filter, "1", "bench", "bench", "1", ""};
    if (piped)
        argv = {"sh", "-c", "cat \"$0\" | exec \"$1\" 1 bench bench 1 ''", raster, filter};
    else
        io.in = raster;
    // A blocking wait: the test helper's polling wait would add up to 10 ms
    // to the filter's time and none to cat's.
    double t0 = now();
    pid_t pid = spawn(argv, io);
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid)
        exit(1);
    double t = now() - t0;
    int rc = WIFEXITED(status) ? WEXITSTATUS(status) : 128;
    fake_stop(&d);
    if (rc != 0) {
        fprintf(stderr, "filter failed (%d)\n", rc);
        exit(1);
    }
    return t;
}

// cat writes the raster straight into the connection, after the same
// admission and job info block.
static double time_cat(const char* raster, bool piped)
{
    fake_daemon d;
    d.keep_pages = false;
    d.reply = "ok";
    if (!fake_start(&d))
        exit(1);
    double t0 = now();
    int fd = wire_connect();
    const char* entries[] = {"PACKAGENAME=p", "MODEL=m"};
    if (fd < 0 || wire_send_admission(fd, 2) || wire_send_block(fd, entries, 2))
        exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 1);
        if (piped)
            execlp("sh", "sh", "-c", "cat \"$0\" | cat", raster, (char*)nullptr);
        else
            execlp("cat", "cat", raster, (char*)nullptr);
        _exit(127);
    }
    int status;
    waitpid(pid, &status, 0);
    wire_end_pages(fd);
    char buf[64];
    while (read(fd, buf, sizeof buf) > 0) { }
    double t = now() - t0;
    close(fd);
    fake_stop(&d);
    return t;
}

int main(int argc, char** argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: %s RASTER PPD [runs [BEFORE]]\n", argv[0]);
        return 2;
    }
    int runs = argc > 3 ? atoi(argv[3]) : 5;
    const char* before = argc > 4 ? argv[4] : nullptr;
    if (unshare(CLONE_NEWNET) != 0) {
        perror("unshare (run as root)");
        return 1;
    }
    struct stat st;
    if (stat(argv[1], &st) != 0)
        return 1;
    double mb = st.st_size / 1e6;
    printf("raster: %.1f MB; median of %d runs\n", mb, runs);
    for (int piped = 0; piped < 2; piped++) {
        std::vector<double> filter, cat, old;
        for (int i = 0; i < runs; i++) {
            filter.push_back(time_filter(filter_path(), argv[1], argv[2], piped));
            cat.push_back(time_cat(argv[1], piped));
            if (before)
                old.push_back(time_filter(before, argv[1], argv[2], piped));
        }
        double f = median(filter), c = median(cat);
        printf("%s\n", piped ? "through a pipe, as in CUPS:" : "from a file:");
        printf("  rastertotessal: %.3f s  (%.0f MB/s)\n", f, mb / f);
        printf("  cat:            %.3f s  (%.0f MB/s)\n", c, mb / c);
        printf("  throughput ratio filter/cat: %.2f (target >= 0.8)\n", c / f);
        if (before) {
            double o = median(old);
            printf("  before:         %.3f s  (%.0f MB/s), ratio to cat %.2f\n", o, mb / o, c / o);
        }
    }
    return 0;
}
