#include "listener.h"
#include "worker.h"

#include <errno.h>
#include <poll.h>
#include <pwd.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <systemd/sd-daemon.h>
#include <unistd.h>

#define SOCKET_NAME "tessal_zk_filter.sock"
#define SOCKET_ADDR_LEN 24
#define LISTEN_BACKLOG 10

static int create_own_socket(void)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0) {
        perror("socket");
        return -1;
    }
    struct sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    memcpy(addr.sun_path + 1, SOCKET_NAME, strlen(SOCKET_NAME));
    if (bind(fd, (struct sockaddr*)&addr, SOCKET_ADDR_LEN) < 0) {
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

// Waits a bounded time for the admission message so that a client that sends
// nothing cannot hold up the connections queued behind it.
static bool admission_arrives(int conn)
{
    struct pollfd p = {conn, POLLIN, 0};
    int r;
    do
        r = poll(&p, 1, ADMISSION_WAIT_SECONDS * 1000);
    while (r < 0 && errno == EINTR);
    if (r > 0)
        return true;
    if (r == 0)
        fputs("no admission message in time.\n", stderr);
    else
        perror("poll");
    return false;
}

// Reads the admission message and checks that the peer runs as "lp".
static bool admit(int conn)
{
    if (!admission_arrives(conn))
        return false;
    int32_t blocks = 0;
    struct iovec iov = {&blocks, sizeof blocks};
    union {
        char buf[CMSG_SPACE(sizeof(struct ucred))];
        struct cmsghdr align;
    } control;
    struct msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = control.buf;
    msg.msg_controllen = sizeof control.buf;
    ssize_t got = recvmsg(conn, &msg, 0);
    if (got < 0) {
        perror("recvmsg");
        return false;
    }
    // At end of stream the kernel still attaches credentials (all zero), so
    // an empty receive must not be mistaken for a peer running as root.
    if (got == 0 || msg.msg_controllen < sizeof(struct cmsghdr)) {
        fputs("invalid msg\n", stderr);
        return false;
    }
    struct cmsghdr* cm = CMSG_FIRSTHDR(&msg);
    if (!cm || cm->cmsg_len != CMSG_LEN(sizeof(struct ucred))) {
        fputs("invalid cmsgh\n", stderr);
        return false;
    }
    if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_CREDENTIALS) {
        fputs("invalid type\n", stderr);
        return false;
    }
    struct ucred cred;
    memcpy(&cred, CMSG_DATA(cm), sizeof cred);
    fprintf(
        stderr, "[INFO] pid: %d uid: %d gid: %d\n", (int)cred.pid, (int)cred.uid, (int)cred.gid);
    struct passwd* pw = getpwuid(cred.uid);
    if (!pw || strcmp(pw->pw_name, "lp") != 0)
        return false;
    fprintf(stderr, "[INFO] %d blocks\n", (int)blocks);
    return true;
}

// Double fork: the worker has no waiting parent, and the listener only waits
// for the short-lived child in between.
static void hand_off(int listen_fd, int conn)
{
    pid_t child = fork();
    if (child < 0) {
        fputs("failed to fork 1.\n", stderr);
        return;
    }
    if (child == 0) {
        if (fork() == 0)
            run_worker(listen_fd, conn);
        _exit(0);
    }
    waitpid(child, nullptr, 0);
}

int listen_loop(int listen_fd)
{
    for (;;) {
        int conn = accept(listen_fd, nullptr, nullptr);
        if (conn < 0) {
            perror("accept");
            return -1;
        }
        if (admit(conn))
            hand_off(listen_fd, conn);
        close(conn);
    }
}
