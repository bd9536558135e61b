#include "relay.h"
#include "deadline.h"

#include <errno.h>
#include <poll.h>
#include <stdio.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#define RELAY_CHUNK 8192

// Bytes read from one side and not yet written to the other.
struct chunk {
    char buf[RELAY_CHUNK];
    size_t len, done;
};

struct relay {
    int conn, tool_in, tool_out;
    chunk pages, output;
    bool pages_open, tool_takes_pages, output_open;
    struct timespec idle_deadline;
};

static bool again(ssize_t n)
{
    return n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK);
}

static void moved(relay* r)
{
    r->idle_deadline = deadline_after(JOB_IDLE_SECONDS);
}

// Sends what is left of c to fd; false when the send failed.
static bool flush(relay* r, chunk* c, int fd)
{
    ssize_t n = send(fd, c->buf + c->done, c->len - c->done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (again(n))
        return true;
    if (n < 0)
        return false;
    moved(r);
    c->done += (size_t)n;
    if (c->done == c->len)
        c->len = c->done = 0;
    return true;
}

// End of pages reaches the tool once the last of them has.
static void end_pages_when_sent(relay* r)
{
    if (!r->pages_open && r->pages.len == 0 && r->tool_takes_pages) {
        shutdown(r->tool_in, SHUT_WR);
        r->tool_takes_pages = false;
    }
}

static bool take_pages(relay* r)
{
    ssize_t n = recv(r->conn, r->pages.buf, sizeof r->pages.buf, MSG_DONTWAIT);
    if (again(n))
        return true;
    if (n < 0)
        return false;
    if (n == 0) {
        r->pages_open = false;
    } else {
        moved(r);
        if (r->tool_takes_pages)
            r->pages.len = (size_t)n;
    }
    end_pages_when_sent(r);
    return true;
}

static void give_pages(relay* r)
{
    if (!flush(r, &r->pages, r->tool_in)) {
        // The tool has closed its input or ended: drop the rest.
        r->tool_takes_pages = false;
        r->pages.len = r->pages.done = 0;
    }
    end_pages_when_sent(r);
}

static void take_output(relay* r)
{
    ssize_t n = read(r->tool_out, r->output.buf, sizeof r->output.buf);
    if (again(n))
        return;
    if (n <= 0) {
        r->output_open = false;
        return;
    }
    moved(r);
    r->output.len = (size_t)n;
}

// One poll over whatever can move now; returns its events in p.
static int wait_for_io(relay* r, struct pollfd p[3])
{
    bool to_client = r->output.len > 0;
    short conn_events
        = (short)((r->pages_open && r->pages.len == 0 ? POLLIN : 0) | (to_client ? POLLOUT : 0));
    // A descriptor not waited for is left out, so that its hang-up cannot
    // wake the loop again and again; the client's hang-up always counts.
    bool give = r->pages.len > 0, take = r->output_open && !to_client;
    p[0] = {r->conn, conn_events, 0};
    p[1] = {give ? r->tool_in : -1, POLLOUT, 0};
    p[2] = {take ? r->tool_out : -1, POLLIN, 0};
    if (to_client)
        moved(r);
    int timeout = to_client ? -1 : (int)deadline_ms_left(&r->idle_deadline);
    int n = poll(p, 3, timeout);
    if (n < 0 && errno == EINTR)
        return 1;
    return n;
}

static relay_end client_gone(void)
{
    fputs("client gone: stopping the print tool.\n", stderr);
    return RELAY_CLIENT_GONE;
}

relay_end relay_job(int conn, int tool_in, int tool_out)
{
    relay r = {};
    r.conn = conn;
    r.tool_in = tool_in;
    r.tool_out = tool_out;
    r.pages_open = r.tool_takes_pages = r.output_open = true;
    moved(&r);
    while (r.output_open || r.output.len > 0) {
        struct pollfd p[3];
        int n = wait_for_io(&r, p);
        if (n < 0) {
            perror("poll");
            return client_gone();
        }
        if (n == 0) {
            fprintf(stderr, "no data from the client or the print tool for %d s: stopping it.\n",
                JOB_IDLE_SECONDS);
            return RELAY_IDLE;
        }
        // A client that closed its end, rather than only ending its pages.
        if (p[0].revents & (POLLHUP | POLLERR))
            return client_gone();
        if ((p[0].revents & POLLIN) && !take_pages(&r))
            return client_gone();
        if (p[1].revents)
            give_pages(&r);
        if (p[2].revents)
            take_output(&r);
        if ((p[0].revents & POLLOUT) && !flush(&r, &r.output, conn)) {
            int err = errno;
            fputs("write incomplete.\n", stderr);
            fprintf(stderr, "printer data: cannot relay to the filter: %s\n", strerror(err));
            return client_gone();
        }
    }
    return RELAY_DONE;
}
