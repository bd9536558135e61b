#include "readiness.h"

#include "wire.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#define XPUB_SCRIPT "/opt/tessalwine/printer_drv/xpub.sh"
#define XPUB_CONFIG "/etc/tessalwine/xpub.conf"
#define PROBE_SECONDS 10

static long now_ms(void)
{
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000L + ts.tv_nsec / 1000000L;
}

[[noreturn]] static void exec_probe(int out)
{
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    int null = open("/dev/null", O_RDONLY);
    if (null < 0 || dup2(null, 0) < 0 || dup2(out, 1) < 0 || dup2(out, 2) < 0)
        _exit(127);
    char path[] = "PATH=/usr/bin:/bin";
    char* env[] = {path, nullptr};
    execle("/bin/sh", "sh", XPUB_SCRIPT, (char*)nullptr, env);
    _exit(127);
}

// The script's output and its complaints ("xpub: ..." lines), read within the time limit.  Returns
// false when it did not run to a clean end.
static bool run_probe(char* out, size_t cap)
{
    int fds[2];
    if (access(XPUB_SCRIPT, R_OK) != 0 || pipe2(fds, O_CLOEXEC) != 0)
        return false;
    pid_t pid = fork();
    if (pid == 0)
        exec_probe(fds[1]);
    close(fds[1]);
    size_t used = 0;
    bool ended = false;
    for (long end = now_ms() + PROBE_SECONDS * 1000L; pid > 0 && !ended && now_ms() < end;) {
        pollfd p = {fds[0], POLLIN, 0};
        if (poll(&p, 1, (int)(end - now_ms())) <= 0)
            continue;
        ssize_t n = read(fds[0], out + used, cap - 1 - used);
        if (n > 0)
            used += (size_t)n;
        ended = n == 0 || (n < 0 && errno != EINTR) || used == cap - 1;
    }
    close(fds[0]);
    out[used] = '\0';
    if (pid < 0)
        return false;
    if (!ended)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) { }
    return ended && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool print_user_present(void)
{
    char out[4096];
    if (!run_probe(out, sizeof out))
        return true;
    const char* complaint = nullptr;
    for (const char* line = out; line && *line; line = strchr(line, '\n')) {
        line += *line == '\n';
        if (strncmp(line, "XUSER=", 6) == 0 && line[6] && line[6] != '\n')
            return true;
        if (!complaint && strncmp(line, "xpub: ", 6) == 0)
            complaint = line + 6;
    }
    if (complaint) {
        int len = (int)strcspn(complaint, "\n");
        fprintf(stderr, "ERROR: Nobody to print as: %.*s; see " XPUB_CONFIG "\n", len, complaint);
        return false;
    }
    fprintf(stderr,
        "ERROR: Nobody is logged in on the desktop, and jobs print as the desktop user. "
        "Log in at the desktop and restart the job, or set policy=fallback (or "
        "policy=server) in " XPUB_CONFIG " to print as the service account\n");
    return false;
}

void report_connect_failure(int err)
{
    if (err == ECONNREFUSED || err == ENOENT)
        fprintf(stderr,
            "ERROR: Cannot reach the print daemon: zk_filter is not running. Start it as "
            "root with \"systemctl start zk_filter.socket\" (without systemd: "
            "\"setsid /usr/sbin/zk_filter &\"), then restart the job\n");
    else
        fprintf(stderr, "ERROR: Cannot reach the print daemon (zk_filter, socket @%s): %s\n",
            WIRE_SOCKET_NAME, strerror(err));
}
