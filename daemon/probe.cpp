#include "probe.h"
#include "deadline.h"

#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#define XPUB_SCRIPT "/opt/tessalwine/printer_drv/xpub.sh"

bool probe_take_line(const char* const* keys, char** results, int nkeys, const char* line)
{
    const char* eq = strchr(line, '=');
    if (!eq || eq == line)
        return true;
    size_t k = (size_t)(eq - line);
    for (int i = 0; i < nkeys; i++) {
        if (strncmp(line, keys[i], k) != 0)
            continue;
        char* value = strdup(eq + 1);
        if (!value)
            return false;
        size_t vlen = strlen(value);
        if (vlen > 0 && value[vlen - 1] == '\n')
            value[vlen - 1] = '\0';
        free(results[i]);
        results[i] = value;
        return true;
    }
    return true;
}

int probe_read(FILE* in, const char* const* keys, char** results, int nkeys)
{
    char line[256];
    while (fgets(line, sizeof line, in))
        if (!probe_take_line(keys, results, nkeys, line))
            return -1;
    int found = 0;
    for (int i = 0; i < nkeys; i++)
        if (results[i])
            found++;
    return found;
}

// Starts the script in a process group of its own, so that a script that
// hangs can be ended with everything it started.  Returns its pid and the
// read end of its output, or -1.
static pid_t start_probe(int* out_fd)
{
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        if (dup2(fds[1], 1) < 0)
            _exit(127);
        execl("/bin/sh", "sh", XPUB_SCRIPT, (char*)nullptr);
        _exit(127);
    }
    close(fds[1]);
    if (pid < 0) {
        close(fds[0]);
        return -1;
    }
    setpgid(pid, pid);
    *out_fd = fds[0];
    return pid;
}

// Everything the script prints, up to PROBE_OUTPUT_MAX bytes (the rest is
// read and dropped), until it closes its output or the time runs out.
// Returns the byte count, or DEADLINE_PASSED.
static ssize_t read_output(int fd, char* buf, const struct timespec* deadline)
{
    size_t got = 0;
    char sink[4096];
    for (;;) {
        bool full = got == PROBE_OUTPUT_MAX;
        ssize_t n = read_by(
            fd, full ? sink : buf + got, full ? sizeof sink : PROBE_OUTPUT_MAX - got, deadline);
        if (n == DEADLINE_PASSED)
            return n;
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return (ssize_t)got;
        if (!full)
            got += (size_t)n;
    }
}

int probe_active_user(const char* const* keys, char** results, int nkeys)
{
    int fd = -1;
    pid_t pid = start_probe(&fd);
    if (pid < 0) {
        fputs("run xpub failed.\n", stderr);
        return 0;
    }
    struct timespec deadline = deadline_after(PROBE_SECONDS);
    static char output[PROBE_OUTPUT_MAX];
    ssize_t n = read_output(fd, output, &deadline);
    close(fd);
    int status = 0;
    if (n == DEADLINE_PASSED || !wait_by(pid, &status, &deadline)) {
        kill_group(pid, pid);
        fprintf(stderr, "active-user probe did not end within %d s; stopped it.\n", PROBE_SECONDS);
        return 0;
    }
    if (n == 0)
        return 0;
    FILE* out = fmemopen(output, (size_t)n, "r");
    int found = out ? probe_read(out, keys, results, nkeys) : -1;
    if (out)
        fclose(out);
    if (found < 0) {
        fputs("out of memory.\n", stderr);
        return 0;
    }
    return found;
}
