// Stand-in for /usr/bin/tessal-wine in the daemon rig.  Records how it was
// started and what arrived on stdin, then writes known bytes to stdout.
//
// Steered by driver options in its environment (from the job info block):
//   OPT_STUB_TAG    name of the record files under /opt/rig-out (default "tool")
//   OPT_STUB_OUT    write this many pattern bytes instead of the fixed greeting
//   OPT_STUB_STDIN  "count": only count the stdin bytes instead of saving them
//   OPT_STUB_TRICKLE  first write this many dots, one every 700 ms
//   OPT_STUB_SLEEP_MS then sleep this long before the output
// Files: <tag>.rec (written complete before any output), <tag>.stdin,
// <tag>.done (after all output was written).
#include "rig.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include <string>

#define OUT_DIR "/opt/rig-out/"
#define GREETING "STUB-OUTPUT\n"

static bool write_all(int fd, const char* p, size_t n)
{
    while (n > 0) {
        ssize_t w = write(fd, p, n);
        if (w <= 0)
            return false;
        p += w;
        n -= (size_t)w;
    }
    return true;
}

static void record_fds(std::string* rec)
{
    DIR* d = opendir("/proc/self/fd");
    if (!d)
        return;
    while (struct dirent* e = readdir(d)) {
        if (e->d_name[0] == '.' || atoi(e->d_name) == dirfd(d))
            continue;
        char link[PATH_MAX] = "";
        std::string path = std::string("/proc/self/fd/") + e->d_name;
        ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
        if (n > 0)
            link[n] = '\0';
        *rec += "fd=" + std::string(e->d_name) + " " + link + "\n";
    }
    closedir(d);
}

static long read_stdin(const std::string& save_path)
{
    int out = save_path.empty() ? -1 : open(save_path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    char buf[65536];
    long total = 0;
    ssize_t n;
    while ((n = read(0, buf, sizeof buf)) > 0) {
        total += n;
        if (out >= 0)
            write_all(out, buf, (size_t)n);
    }
    if (out >= 0)
        close(out);
    return total;
}

static void write_output(const char* count)
{
    if (!count) {
        write_all(1, GREETING, strlen(GREETING));
        return;
    }
    unsigned long long total = strtoull(count, nullptr, 10);
    static char buf[65536];
    for (unsigned long long at = 0; at < total;) {
        size_t n = total - at < sizeof buf ? (size_t)(total - at) : sizeof buf;
        for (size_t i = 0; i < n; i++)
            buf[i] = (char)rig_pattern_byte(at + i);
        if (!write_all(1, buf, n))
            return;
        at += n;
    }
}

int main(int argc, char** argv)
{
    const char* tag = getenv("OPT_STUB_TAG") ? getenv("OPT_STUB_TAG") : "tool";
    std::string base = std::string(OUT_DIR) + tag;
    std::string rec;
    for (int i = 0; i < argc; i++)
        rec += "argv=" + std::string(argv[i]) + "\n";
    extern char** environ;
    for (char** e = environ; *e; e++)
        rec += "env=" + std::string(*e) + "\n";
    rec += "uid=" + std::to_string(getuid()) + " euid=" + std::to_string(geteuid()) + "\n";
    rec += "gid=" + std::to_string(getgid()) + " egid=" + std::to_string(getegid()) + "\n";
    gid_t groups[64];
    int ng = getgroups(64, groups);
    rec += "groups=";
    for (int i = 0; i < ng; i++)
        rec += (i ? "," : "") + std::to_string(groups[i]);
    rec += "\npid=" + std::to_string(getpid()) + "\nppid=" + std::to_string(getppid())
        + "\npgid=" + std::to_string(getpgrp()) + "\n";
    record_fds(&rec);

    const char* mode = getenv("OPT_STUB_STDIN");
    bool save = !(mode && strcmp(mode, "count") == 0);
    long got = read_stdin(save ? base + ".stdin" : "");
    rec += "stdin=" + std::to_string(got) + "\n";

    std::string tmp = base + ".rec.tmp";
    int fd = open(tmp.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    if (fd < 0 || !write_all(fd, rec.data(), rec.size()) || close(fd) != 0
        || rename(tmp.c_str(), (base + ".rec").c_str()) != 0) {
        perror("stub: record");
        return 2;
    }
    for (int i = 0; getenv("OPT_STUB_TRICKLE") && i < atoi(getenv("OPT_STUB_TRICKLE")); i++) {
        usleep(700 * 1000);
        write_all(1, ".", 1);
    }
    if (getenv("OPT_STUB_SLEEP_MS")) {
        long ms = atol(getenv("OPT_STUB_SLEEP_MS"));
        struct timespec t = {ms / 1000, ms % 1000 * 1000000};
        while (nanosleep(&t, &t) != 0) { }
    }
    write_output(getenv("OPT_STUB_OUT"));
    close(1);
    fd = open((base + ".done").c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd >= 0)
        close(fd);
    return 0;
}
