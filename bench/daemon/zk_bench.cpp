// Runs jobs through the real zk_filter in private namespaces and compares
// them with the same stub probe, configure step and launcher run by a plain
// shell loop; then compares the relay's throughput with cat's.
#include "rig.h"
#include "wire.h"

#include <algorithm>
#include <fcntl.h>
#include <grp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <string>
#include <vector>

#define JOBS 200
#define ROUND 20
#define PAGE_BYTES 65536
#define BIG_OUT (1024ULL * 1024 * 1024)
#define USER_UID 1650

static const char k_root[] = "/opt/tessalwine/printer_drv/";

// Like the real launcher, a bash script; it drains the pages and starts the
// writer, which stands for the print tool's output.
static const char k_launcher[] = "#!/bin/bash -p\n"
                                 "/bin/cat > /dev/null\n"
                                 "exec /opt/bench/writer\n";

static double now_s(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (double)ts.tv_sec + (double)ts.tv_nsec / 1e9;
}

static double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

static int setup(void)
{
    if (rig_enter() != 0 || rig_add_user("benchuser", USER_UID, USER_UID, "/home/benchuser") != 0
        || rig_tmpfs("/opt") != 0 || rig_overlay("/usr/bin", nullptr) != 0)
        return -1;
    std::string root = k_root;
    if (rig_write_file((root + "xpub.sh").c_str(), "echo XUSER=benchuser\necho DISPLAY=:0\n", 0644)
            != 0
        || rig_write_file((root + "bench/run.sh").c_str(), "exit 0\n", 0644) != 0
        || rig_write_file("/usr/bin/tessal-wine", k_launcher, 0755) != 0
        || rig_write_file("/opt/bench/writer", rig_read_file(BENCH_WRITER), 0755) != 0
        || rig_write_file("/opt/pages.bin", std::string(PAGE_BYTES, 'B'), 0644) != 0)
        return -1;
    return rig_start_daemon(ZK_FILTER_PATH, nullptr) > 0 ? 0 : -1;
}

// One job as the print system's filter would send it; returns seconds from
// connect to the end of the relay, or -1.
static double daemon_job(const char* out_bytes, unsigned long long* relayed)
{
    static std::string pages(PAGE_BYTES, 'B');
    double t0 = now_s();
    int fd = wire_connect();
    if (fd < 0 || wire_send_admission(fd, 1) != 0)
        return -1;
    std::string out = std::string("BENCH_OUT=") + out_bytes;
    const char* entries[] = {"MODEL=Bench", "PACKAGENAME=bench", out.c_str()};
    if (wire_send_block(fd, entries, 3) != 0 || wire_send_all(fd, pages.data(), pages.size()) != 0
        || wire_end_pages(fd) != 0)
        return -1;
    static char buf[65536];
    long n;
    *relayed = 0;
    while ((n = wire_read(fd, buf, sizeof buf)) > 0)
        *relayed += (unsigned long long)n;
    close(fd);
    return n == 0 ? now_s() - t0 : -1;
}

// A client running as lp: runs one job per byte received on cmd and answers
// with the job's duration.
static pid_t start_lp_client(int* cmd, int* res)
{
    int c[2], r[2];
    if (pipe(c) != 0 || pipe(r) != 0)
        return -1;
    pid_t pid = fork();
    if (pid != 0) {
        close(c[0]);
        close(r[1]);
        *cmd = c[1];
        *res = r[0];
        return pid;
    }
    close(c[1]);
    close(r[0]);
    if (setgroups(0, nullptr) != 0 || setgid(7) != 0 || setuid(7) != 0)
        _exit(1);
    char what;
    while (read(c[0], &what, 1) == 1) {
        unsigned long long relayed = 0;
        double t = daemon_job(what == 'b' ? "1073741824" : "4096", &relayed);
        write(r[1], &t, sizeof t);
    }
    _exit(0);
}

static double ask(int cmd, int res, char what)
{
    double t = -1;
    if (write(cmd, &what, 1) != 1 || read(res, &t, sizeof t) != sizeof t)
        return -1;
    return t;
}

// The same stubs in the same order as the worker runs them, from bash.
static std::vector<double> shell_jobs(int n)
{
    std::string script = "for i in $(seq " + std::to_string(n)
        + "); do\n"
          "  t0=$EPOCHREALTIME\n"
          "  /bin/sh /opt/tessalwine/printer_drv/xpub.sh > /dev/null\n"
          "  HOME=/home/benchuser /bin/bash /opt/tessalwine/printer_drv/bench/run.sh Bench\n"
          "  BENCH_OUT=4096 /usr/bin/tessal-wine /usr/bin/strelwick.exe img < /opt/pages.bin > "
          "/dev/null\n"
          "  echo \"$t0 $EPOCHREALTIME\"\n"
          "done\n";
    std::vector<double> times;
    // The same small environment as the daemon's processes get.
    FILE* p
        = popen(("/usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin /bin/bash -c '" + script + "'")
                    .c_str(),
            "r");
    if (!p)
        return times;
    double a, b;
    while (fscanf(p, "%lf %lf", &a, &b) == 2)
        times.push_back(b - a);
    pclose(p);
    return times;
}

// 1 GiB from the launcher through a pipe, cat and a socket to this process.
static double cat_relay(void)
{
    int sock[2], pipe_fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sock) != 0 || pipe(pipe_fds) != 0)
        return -1;
    double t0 = now_s();
    pid_t writer = fork();
    if (writer == 0) {
        dup2(pipe_fds[1], 1);
        int null = open("/dev/null", O_RDONLY);
        dup2(null, 0);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        close(sock[0]);
        close(sock[1]);
        char out[] = "BENCH_OUT=1073741824";
        char* env[] = {out, nullptr};
        execle("/usr/bin/tessal-wine", "tessal-wine", (char*)nullptr, env);
        _exit(127);
    }
    pid_t cat = fork();
    if (cat == 0) {
        dup2(pipe_fds[0], 0);
        dup2(sock[1], 1);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        close(sock[0]);
        close(sock[1]);
        execl("/bin/cat", "cat", (char*)nullptr);
        _exit(127);
    }
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    close(sock[1]);
    static char buf[65536];
    unsigned long long got = 0;
    ssize_t n;
    while ((n = read(sock[0], buf, sizeof buf)) > 0)
        got += (unsigned long long)n;
    double t = now_s() - t0;
    close(sock[0]);
    waitpid(writer, nullptr, 0);
    waitpid(cat, nullptr, 0);
    return got == BIG_OUT ? t : -1;
}

int main()
{
    if (geteuid() != 0) {
        fprintf(stderr, "zk_bench: run as root\n");
        return 1;
    }
    if (setup() != 0) {
        rig_leave();
        return 1;
    }
    int cmd = -1, res = -1;
    pid_t client = start_lp_client(&cmd, &res);
    std::vector<double> daemon_t, shell_t, ratios;
    for (int done = 0; done < JOBS; done += ROUND) {
        std::vector<double> sh = shell_jobs(ROUND);
        for (int i = 0; i < ROUND; i++) {
            double d = ask(cmd, res, 's');
            if (d < 0 || i >= (int)sh.size()) {
                fprintf(stderr, "zk_bench: job failed\n%s", rig_log().c_str());
                rig_leave();
                return 1;
            }
            daemon_t.push_back(d);
            shell_t.push_back(sh[(size_t)i]);
            ratios.push_back(d / sh[(size_t)i]);
        }
    }
    printf("jobs: %d, each %d page bytes in, 4096 bytes out\n", JOBS, PAGE_BYTES);
    printf("median job time: daemon %.2f ms, shell loop %.2f ms\n", median(daemon_t) * 1e3,
        median(shell_t) * 1e3);
    printf("median ratio daemon/shell: %.3f (target < 1.2)\n", median(ratios));

    double relay = ask(cmd, res, 'b');
    double cat = cat_relay();
    const double mib = (double)BIG_OUT / (1024 * 1024);
    if (relay > 0 && cat > 0) {
        printf("1 GiB relay: daemon %.0f MiB/s, cat %.0f MiB/s\n", mib / relay, mib / cat);
        printf("throughput ratio daemon/cat: %.3f (target >= 0.5)\n", cat / relay);
    } else {
        printf("1 GiB relay failed\n");
    }
    close(cmd);
    close(res);
    waitpid(client, nullptr, 0);
    rig_leave();
    return 0;
}
