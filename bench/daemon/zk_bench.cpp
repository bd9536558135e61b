// Runs jobs through the real zk_filter in private namespaces and compares
// them with the same stub probe, configure step and launcher run by a plain
// shell loop; then compares the relay's throughput with cat's.
//
// "zk_bench soak" instead runs many jobs one after another and then many at
// once, and reports jobs that did not come back whole and the listener's
// open descriptors before and after.
#include "rig.h"
#include "wire.h"

#include <algorithm>
#include <dirent.h>
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
#define SOAK_SEQUENTIAL 1000
#define SOAK_CONCURRENT 64
#define JOB_TIMEOUT_S 120

static const char k_root[] = "/opt/tessalwine/printer_drv/";
static pid_t g_daemon = -1;

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
    g_daemon = rig_start_daemon(ZK_FILTER_PATH, nullptr);
    return g_daemon > 0 ? 0 : -1;
}

// One job as the print system's filter would send it, asking the stand-in
// print tool for out_bytes of output (its default, 4096, when null).
// Returns seconds from connect to the end of the relay, or -1 unless
// exactly the expected printer data came back.
static double daemon_job(const char* out_bytes, unsigned long long expect)
{
    static std::string pages(PAGE_BYTES, 'B');
    double t0 = now_s();
    int fd = wire_connect();
    if (fd < 0)
        return -1;
    struct timeval tv = {JOB_TIMEOUT_S, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    std::string out = std::string("OPT_BENCH_OUT=") + (out_bytes ? out_bytes : "");
    const char* entries[] = {"MODEL=Bench", "PACKAGENAME=bench", out.c_str()};
    size_t count = out_bytes ? 3 : 2;
    static char buf[65536];
    long n = -1;
    unsigned long long relayed = 0;
    bool intact = true;
    if (wire_send_admission(fd, 1) == 0 && wire_send_block(fd, entries, count) == 0
        && wire_send_all(fd, pages.data(), pages.size()) == 0 && wire_end_pages(fd) == 0) {
        while ((n = wire_read(fd, buf, sizeof buf)) > 0) {
            intact = intact && buf[0] == 'P' && buf[n - 1] == 'P';
            relayed += (unsigned long long)n;
        }
    }
    close(fd);
    return n == 0 && intact && relayed == expect ? now_s() - t0 : -1;
}

static bool become_lp(void)
{
    return setgroups(0, nullptr) == 0 && setgid(7) == 0 && setuid(7) == 0;
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
    if (!become_lp())
        _exit(1);
    char what;
    while (read(c[0], &what, 1) == 1) {
        double t;
        if (what == 'b')
            t = daemon_job("1073741824", BIG_OUT);
        else if (what == 's')
            t = daemon_job("4096", 4096);
        else
            t = daemon_job(nullptr, 4096); // only entries every daemon passes on
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
          "  OPT_BENCH_OUT=4096 /usr/bin/tessal-wine /usr/bin/strelwick.exe img < /opt/pages.bin > "
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
        char out[] = "OPT_BENCH_OUT=1073741824";
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

static int open_fds(pid_t pid)
{
    DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (!d)
        return -1;
    int n = 0;
    while (struct dirent* e = readdir(d))
        n += e->d_name[0] != '.';
    closedir(d);
    return n;
}

// The listener's descriptors once the jobs' connections are gone: waits up
// to 5 s for the count to fall back to want.
static int settled_fds(int want)
{
    int n = open_fds(g_daemon);
    for (int i = 0; i < 500 && n != want; i++) {
        usleep(10000);
        n = open_fds(g_daemon);
    }
    return n;
}

// n jobs at once, each from its own process running as lp, all released
// together.  Returns how many did not come back whole.
static int concurrent_jobs(int n)
{
    int gate[2];
    if (pipe(gate) != 0)
        return n;
    std::vector<pid_t> kids;
    for (int i = 0; i < n; i++) {
        pid_t pid = fork();
        if (pid == 0) {
            close(gate[1]);
            char c;
            if (!become_lp() || read(gate[0], &c, 1) != 0)
                _exit(1);
            _exit(daemon_job(nullptr, 4096) < 0 ? 1 : 0);
        }
        if (pid > 0)
            kids.push_back(pid);
    }
    close(gate[0]);
    close(gate[1]); // the end of the gate pipe starts them all
    int lost = n - (int)kids.size();
    for (pid_t k : kids) {
        int status = 0;
        if (waitpid(k, &status, 0) != k || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
            lost++;
    }
    return lost;
}

static int soak(int cmd, int res)
{
    int before = open_fds(g_daemon);
    int lost_seq = 0;
    std::vector<double> times;
    for (int i = 0; i < SOAK_SEQUENTIAL; i++) {
        double t = ask(cmd, res, 'q');
        if (t < 0)
            lost_seq++;
        else
            times.push_back(t);
    }
    int after_seq = settled_fds(before);
    int lost_conc = concurrent_jobs(SOAK_CONCURRENT);
    int after_conc = settled_fds(before);
    printf("sequential: %d jobs, %d lost, median %.2f ms\n", SOAK_SEQUENTIAL, lost_seq,
        times.empty() ? 0.0 : median(times) * 1e3);
    printf("concurrent: %d jobs, %d lost\n", SOAK_CONCURRENT, lost_conc);
    printf("listener descriptors: %d before, %d after the sequential jobs, %d after the "
           "concurrent ones\n",
        before, after_seq, after_conc);
    bool ok = lost_seq == 0 && lost_conc == 0 && after_seq == before && after_conc == before;
    if (!ok)
        fprintf(stderr, "zk_bench: soak failed; daemon log tail:\n%s\n",
            rig_log().substr(rig_log().size() > 4000 ? rig_log().size() - 4000 : 0).c_str());
    return ok ? 0 : 1;
}

int main(int argc, char** argv)
{
    if (geteuid() != 0) {
        fprintf(stderr, "zk_bench: run as root\n");
        return 1;
    }
    bool soaking = argc > 1 && strcmp(argv[1], "soak") == 0;
    if (setup() != 0) {
        rig_leave();
        return 1;
    }
    int cmd = -1, res = -1;
    pid_t client = start_lp_client(&cmd, &res);
    if (soaking) {
        int rc = soak(cmd, res);
        close(cmd);
        close(res);
        waitpid(client, nullptr, 0);
        rig_leave();
        return rc;
    }
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
