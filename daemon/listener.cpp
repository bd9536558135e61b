#include "listener.h"
#include "admission.h"
#include "worker.h"
#include "wire.h"

#include <errno.h>
#include <poll.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#define LISTEN_BACKLOG 10

static int create_own_socket(void)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        perror("socket");
        return -1;
    }
    struct sockaddr_un addr;
    if (bind(fd, (struct sockaddr*)&addr, wire_address(&addr)) < 0) {
        perror("bind");
        return -1;
    }
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) < 0) {
        perror("setsockopt");
        return -1;
    }
    if (listen(fd, LISTEN_BACKLOG) < 0) {
        perror("listen");
        return -1;
    }
    return fd;
}

int acquire_listen_socket(void)
{
    int n = sd_listen_fds(1);
    if (n > 1) {
        fputs("too many fd received.\n", stderr);
        return -1;
    }
    if (n == 1)
        return SD_LISTEN_FDS_START;
    return create_own_socket();
}

// Jobs running at once.  Further connections wait in the socket's backlog
// until one ends, so a burst is served late rather than refused.
#define MAX_JOBS 16

// One slot per running job: the read end of a pipe whose write end only that
// job's worker holds.  The pipe's end tells the listener that the job is
// over, however its worker ended.
static int g_jobs[MAX_JOBS];
static int g_job_count;

// Waits until a connection is waiting or a job ends, and frees the slots of
// ended jobs.  At the cap the socket is not watched: new connections wait in
// its backlog.  Returns true when a connection can be accepted.
static bool wait_for_work(int listen_fd)
{
    struct pollfd p[MAX_JOBS + 1];
    p[0] = {listen_fd, (short)(g_job_count < MAX_JOBS ? POLLIN : 0), 0};
    for (int i = 0; i < g_job_count; i++)
        p[i + 1] = {g_jobs[i], POLLIN, 0};
    if (poll(p, (nfds_t)g_job_count + 1, -1) < 0)
        return false;
    int kept = 0;
    for (int i = 0; i < g_job_count; i++) {
        if (p[i + 1].revents)
            close(g_jobs[i]);
        else
            g_jobs[kept++] = g_jobs[i];
    }
    g_job_count = kept;
    return p[0].revents != 0;
}

// What a worker must not keep of the listener: the listening socket and the
// other jobs' slots.
static void close_listener_fds(int listen_fd)
{
    close(listen_fd);
    for (int i = 0; i < g_job_count; i++)
        close(g_jobs[i]);
}

// Double fork: the worker has no waiting parent, and the listener only waits
// for the short-lived child in between.
static void hand_off(int listen_fd, int conn)
{
    int job[2];
    if (pipe2(job, O_CLOEXEC) != 0) {
        perror("pipe");
        return;
    }
    pid_t child = fork();
    if (child < 0) {
        fputs("failed to fork 1.\n", stderr);
        close(job[0]);
        close(job[1]);
        return;
    }
    if (child == 0) {
        if (fork() == 0) {
            close_listener_fds(listen_fd);
            close(job[0]);
            run_worker(conn);
        }
        _exit(0);
    }
    close(job[1]);
    g_jobs[g_job_count++] = job[0];
    waitpid(child, nullptr, 0);
}

int listen_loop(int listen_fd)
{
    for (;;) {
        if (!wait_for_work(listen_fd))
            continue;
        int conn = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (conn < 0) {
            perror("accept");
            return -1;
        }
        if (peer_is_lp(conn))
            hand_off(listen_fd, conn);
        close(conn);
    }
}
