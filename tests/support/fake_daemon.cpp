#include "fake_daemon.h"

#include <errno.h>
#include <poll.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "wire.h"

// The whole of len bytes: MSG_WAITALL returns less only at the end of the
// stream, on an error or at the receive timeout.
static bool read_exact(int fd, void* buf, size_t len)
{
    return recv(fd, buf, len, MSG_WAITALL) == (ssize_t)len;
}

static void send_reply(fake_daemon* d, int fd)
{
    wire_send_all(fd, d->reply.data(), d->reply.size());
}

static void read_pages(fake_daemon* d, int fd, size_t limit)
{
    char buf[65536];
    while (d->page_bytes < limit) {
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            d->saw_eof = n == 0 || errno == ECONNRESET;
            return;
        }
        d->page_bytes += (uint64_t)n;
        if (d->keep_pages)
            d->pages.append(buf, (size_t)n);
    }
}

static bool admit(fake_daemon* d, int fd)
{
    int32_t count;
    struct ucred cred;
    if (wire_recv_admission(fd, &count, &cred) != WIRE_ADMISSION_OK)
        return false;
    d->peer_pid = cred.pid;
    d->block_count = count;
    int32_t len;
    if (!read_exact(fd, &len, 4) || len < 0 || len > 65536)
        return false;
    std::string block(len, '\0');
    if (!read_exact(fd, &block[0], block.size()))
        return false;
    for (size_t at = 0; at < block.size();) {
        size_t end = block.find('\0', at);
        if (end == std::string::npos)
            return false;
        d->entries.push_back(block.substr(at, end - at));
        at = end + 1;
    }
    return true;
}

static void serve(fake_daemon* d)
{
    // Once told to stop, a connection can only be one already queued.
    for (int i = 0;; i++) {
        struct pollfd p = {d->listen_fd, POLLIN, 0};
        if (poll(&p, 1, 100) == 1)
            break;
        if (d->stop || i > 1200)
            return;
    }
    int fd = accept(d->listen_fd, nullptr, nullptr);
    if (fd < 0)
        return;
    struct timeval tv = {120, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    d->connected = true;
    if (admit(d, fd)) {
        switch (d->mode) {
        case FAKE_READ_THEN_REPLY:
            read_pages(d, fd, SIZE_MAX);
            send_reply(d, fd);
            break;
        case FAKE_REPLY_FIRST:
            send_reply(d, fd);
            read_pages(d, fd, SIZE_MAX);
            break;
        case FAKE_SILENT:
            read_pages(d, fd, SIZE_MAX);
            break;
        case FAKE_STALL:
            read_pages(d, fd, 1 << 20);
            d->stalled = true;
            for (int i = 0; i < 12000 && !d->drain; i++)
                usleep(10000);
            read_pages(d, fd, SIZE_MAX);
            break;
        }
    }
    close(fd);
}

bool fake_start(fake_daemon* d)
{
    d->listen_fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un a;
    socklen_t len = wire_address(&a);
    int one = 1;
    if (d->listen_fd < 0 || bind(d->listen_fd, (struct sockaddr*)&a, len) < 0
        || setsockopt(d->listen_fd, SOL_SOCKET, SO_PASSCRED, &one, sizeof one) < 0
        || listen(d->listen_fd, 4) < 0) {
        if (d->listen_fd >= 0)
            close(d->listen_fd);
        d->listen_fd = -1;
        return false;
    }
    d->thread = std::thread(serve, d);
    return true;
}

void fake_stop(fake_daemon* d)
{
    d->stop = true;
    if (d->thread.joinable())
        d->thread.join();
    if (d->listen_fd >= 0)
        close(d->listen_fd);
    d->listen_fd = -1;
}
