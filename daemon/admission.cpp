#include "admission.h"

#include <errno.h>
#include <poll.h>
#include <pwd.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>

static bool is_lp(uid_t uid)
{
    struct passwd* pw = getpwuid(uid);
    return pw && strcmp(pw->pw_name, "lp") == 0;
}

bool peer_is_lp(int conn)
{
    struct ucred cred;
    socklen_t len = sizeof cred;
    if (getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        perror("getsockopt");
        return false;
    }
    if (is_lp(cred.uid))
        return true;
    fprintf(
        stderr, "[INFO] pid: %d uid: %d gid: %d\n", (int)cred.pid, (int)cred.uid, (int)cred.gid);
    return false;
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
bool admit(int conn)
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
    if (!is_lp(cred.uid))
        return false;
    fprintf(stderr, "[INFO] %d blocks\n", (int)blocks);
    return true;
}
