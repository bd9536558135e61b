#include "wire.h"

#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

socklen_t wire_address(struct sockaddr_un* addr)
{
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    size_t name_len = strlen(WIRE_SOCKET_NAME);
    memcpy(addr->sun_path + 1, WIRE_SOCKET_NAME, name_len);
    return (socklen_t)(offsetof(struct sockaddr_un, sun_path) + 1 + name_len);
}

int wire_connect(void)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    struct sockaddr_un addr;
    socklen_t len = wire_address(&addr);
    if (connect(fd, (struct sockaddr*)&addr, len) < 0) {
        int saved = errno;
        close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

// The admission message's layout, for sending and receiving alike: the
// 4-byte block count and room for one SCM_CREDENTIALS control message.
union credentials_control {
    char buf[CMSG_SPACE(sizeof(struct ucred))];
    struct cmsghdr align;
};

static void admission_msghdr(
    struct msghdr* msg, struct iovec* iov, int32_t* block_count, credentials_control* control)
{
    memset(control, 0, sizeof *control);
    *iov = {block_count, sizeof *block_count};
    memset(msg, 0, sizeof *msg);
    msg->msg_iov = iov;
    msg->msg_iovlen = 1;
    msg->msg_control = control->buf;
    msg->msg_controllen = sizeof control->buf;
}

int wire_send_admission(int fd, int32_t block_count)
{
    struct ucred cred;
    cred.pid = getpid();
    cred.uid = getuid();
    cred.gid = getgid();
    credentials_control control;
    struct iovec iov;
    struct msghdr msg;
    admission_msghdr(&msg, &iov, &block_count, &control);
    struct cmsghdr* cm = CMSG_FIRSTHDR(&msg);
    cm->cmsg_level = SOL_SOCKET;
    cm->cmsg_type = SCM_CREDENTIALS;
    cm->cmsg_len = CMSG_LEN(sizeof cred);
    memcpy(CMSG_DATA(cm), &cred, sizeof cred);
    ssize_t n;
    do
        n = sendmsg(fd, &msg, MSG_NOSIGNAL);
    while (n < 0 && errno == EINTR);
    if (n < 0)
        return -1;
    if (n != (ssize_t)sizeof block_count) {
        errno = EIO;
        return -1;
    }
    return 0;
}

int wire_send_block(int fd, const char* const* entries, size_t count)
{
    size_t total = 0;
    for (size_t i = 0; i < count; i++) {
        const char* e = entries[i];
        if (!e || !*e || !strchr(e, '=')) {
            errno = EINVAL;
            return -1;
        }
        total += strlen(e) + 1;
        if (total > INT32_MAX) {
            errno = EINVAL;
            return -1;
        }
    }
    char* buf = (char*)malloc(sizeof(int32_t) + total);
    if (!buf)
        return -1;
    int32_t len = (int32_t)total;
    memcpy(buf, &len, sizeof len);
    size_t at = sizeof len;
    for (size_t i = 0; i < count; i++) {
        size_t n = strlen(entries[i]) + 1;
        memcpy(buf + at, entries[i], n);
        at += n;
    }
    int rc = wire_send_all(fd, buf, at);
    int saved = errno;
    free(buf);
    errno = saved;
    return rc;
}

wire_admission wire_recv_admission(int fd, int32_t* block_count, struct ucred* cred)
{
    credentials_control control;
    struct iovec iov;
    struct msghdr msg;
    admission_msghdr(&msg, &iov, block_count, &control);
    ssize_t got = recvmsg(fd, &msg, 0);
    if (got < 0)
        return WIRE_ADMISSION_FAILED;
    // At end of stream the kernel still attaches credentials (all zero), so
    // an empty receive must not be mistaken for a peer running as root.
    if (got == 0 || msg.msg_controllen < sizeof(struct cmsghdr))
        return WIRE_ADMISSION_NO_CONTROL;
    struct cmsghdr* cm = CMSG_FIRSTHDR(&msg);
    if (!cm || cm->cmsg_len != CMSG_LEN(sizeof(struct ucred)))
        return WIRE_ADMISSION_BAD_HEADER;
    if (cm->cmsg_level != SOL_SOCKET || cm->cmsg_type != SCM_CREDENTIALS)
        return WIRE_ADMISSION_NOT_CREDENTIALS;
    memcpy(cred, CMSG_DATA(cm), sizeof *cred);
    return WIRE_ADMISSION_OK;
}

int wire_send_all(int fd, const void* data, size_t len)
{
    const char* p = (const char*)data;
    while (len > 0) {
        ssize_t n = send(fd, p, len, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        p += n;
        len -= (size_t)n;
    }
    return 0;
}

int wire_end_pages(int fd)
{
    return shutdown(fd, SHUT_WR);
}

long wire_read(int fd, void* buf, size_t len)
{
    ssize_t n;
    do
        n = read(fd, buf, len);
    while (n < 0 && errno == EINTR);
    return (long)n;
}
