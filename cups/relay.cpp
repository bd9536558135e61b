#include "relay.h"

#include "wire.h"

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static bool fail(relay* r, const char* what, int err)
{
    snprintf(r->error, sizeof r->error, "%s: %s", what, strerror(err));
    return false;
}

bool write_all(int fd, const void* data, size_t len)
{
    const unsigned char* p = (const unsigned char*)data;
    while (len > 0) {
        ssize_t n = write(fd, p, len);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = ENOSPC;
            return false;
        }
        p += n;
        len -= (size_t)n;
    }
    return true;
}

bool relay_init(relay* r, int conn, int out)
{
    memset(r, 0, sizeof *r);
    r->conn = conn;
    r->out = out;
    // A bigger send buffer means fewer waits for the daemon to catch up;
    // the kernel caps it (net.core.wmem_max), and the default still works.
    int sndbuf = 1 << 20;
    setsockopt(conn, SOL_SOCKET, SO_SNDBUF, &sndbuf, sizeof sndbuf);
    int flags = fcntl(conn, F_GETFL);
    if (flags < 0 || fcntl(conn, F_SETFL, flags | O_NONBLOCK) < 0)
        return fail(r, "cannot set up the connection", errno);
    return true;
}

// Reads what is waiting on the connection and copies it to out.
static bool drain(relay* r)
{
    unsigned char buf[65536];
    for (;;) {
        ssize_t n = recv(r->conn, buf, sizeof buf, 0);
        if (n > 0) {
            if (r->received == 0)
                fprintf(stderr, "INFO: Receiving printer data\n");
            if (!write_all(r->out, buf, (size_t)n))
                return fail(r, "cannot write printer data to the filter's output (stdout)", errno);
            r->received += (uint64_t)n;
            continue;
        }
        if (n == 0) {
            r->peer_closed = true;
            return true;
        }
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK)
            return true;
        if (errno == ECONNRESET) {
            r->peer_closed = true;
            return true;
        }
        return fail(r, "cannot read from the print daemon", errno);
    }
}

// Waits until the connection is writable (want_out) or readable, copying
// printer data as it comes.
static bool wait_conn(relay* r, bool want_out)
{
    struct pollfd p = {r->conn, 0, 0};
    if (want_out)
        p.events |= POLLOUT;
    if (!r->peer_closed)
        p.events |= POLLIN;
    if (p.events == 0)
        return true;
    int n = poll(&p, 1, -1);
    if (n < 0) {
        if (errno == EINTR)
            return true;
        return fail(r, "poll", errno);
    }
    if (p.revents & (POLLIN | POLLHUP | POLLERR)) {
        if (!r->peer_closed)
            return drain(r);
    }
    return true;
}

bool relay_send(relay* r, const void* data, size_t len)
{
    const unsigned char* p = (const unsigned char*)data;
    while (len > 0) {
        ssize_t n = send(r->conn, p, len, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            p += n;
            len -= (size_t)n;
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!wait_conn(r, true))
                return false;
            continue;
        }
        if (n < 0 && (errno == EPIPE || errno == ECONNRESET)) {
            r->peer_closed = true;
            snprintf(r->error, sizeof r->error,
                "the print daemon ended the job before all pages were sent; "
                "see the print daemon's log");
            return false;
        }
        return fail(r, "cannot send to the print daemon", errno);
    }
    return true;
}

bool relay_finish(relay* r)
{
    if (wire_end_pages(r->conn) < 0 && errno != ENOTCONN)
        return fail(r, "cannot end the page stream", errno);
    while (!r->peer_closed)
        if (!wait_conn(r, false))
            return false;
    return true;
}
