#include "deadline.h"

#include <errno.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

struct timespec deadline_after(int seconds)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    t.tv_sec += seconds;
    return t;
}

long deadline_ms_left(const struct timespec* deadline)
{
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    long ms = (deadline->tv_sec - now.tv_sec) * 1000 + (deadline->tv_nsec - now.tv_nsec) / 1000000;
    return ms > 0 ? ms : 0;
}

ssize_t read_by(int fd, void* buf, size_t n, const struct timespec* deadline)
{
    struct pollfd p = {fd, POLLIN, 0};
    int r;
    do
        r = poll(&p, 1, (int)deadline_ms_left(deadline));
    while (r < 0 && errno == EINTR);
    if (r == 0)
        return DEADLINE_PASSED;
    return r < 0 ? -1 : read(fd, buf, n);
}

// The worker has no signal handlers, so a child's end is seen by polling;
// 20 ms steps cost nothing next to a Wine start.
bool wait_by(pid_t pid, int* status, const struct timespec* deadline)
{
    for (;;) {
        pid_t r = waitpid(pid, status, WNOHANG);
        if (r == pid || (r < 0 && errno != EINTR))
            return true;
        if (deadline_ms_left(deadline) == 0)
            return false;
        struct timespec step = {0, 20 * 1000 * 1000};
        nanosleep(&step, nullptr);
    }
}

void kill_group(pid_t pgid, pid_t pid)
{
    kill(-pgid, SIGKILL);
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
}
