#include "admission.h"
#include "wire.h"

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
    struct ucred cred;
    switch (wire_recv_admission(conn, &blocks, &cred)) {
    case WIRE_ADMISSION_OK:
        break;
    case WIRE_ADMISSION_FAILED:
        perror("recvmsg");
        return false;
    case WIRE_ADMISSION_NO_CONTROL:
        fputs("invalid msg\n", stderr);
        return false;
    case WIRE_ADMISSION_BAD_HEADER:
        fputs("invalid cmsgh\n", stderr);
        return false;
    case WIRE_ADMISSION_NOT_CREDENTIALS:
        fputs("invalid type\n", stderr);
        return false;
    }
    fprintf(
        stderr, "[INFO] pid: %d uid: %d gid: %d\n", (int)cred.pid, (int)cred.uid, (int)cred.gid);
    if (!is_lp(cred.uid))
        return false;
    fprintf(stderr, "[INFO] %d blocks\n", (int)blocks);
    return true;
}
