// Client side of the zk_filter job protocol.
//
// A job is: connect to the abstract socket, send the admission message
// (4-byte block count plus SCM_CREDENTIALS), send the job info block
// (4-byte host-order length, then NUL-terminated KEY=VALUE entries),
// stream whole BMP files, end the sending side, and read back whatever the
// print tool wrote to its stdout until the daemon closes the connection.
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/socket.h>

// The daemon's abstract socket name, without the leading NUL byte.
#define WIRE_SOCKET_NAME "tessal_zk_filter.sock"

struct sockaddr_un;

// Fills addr with the daemon's abstract address and returns its length (24):
// the family, the leading NUL and the name without a trailing NUL, since
// abstract names are compared with their length.
socklen_t wire_address(struct sockaddr_un* addr);

// Connects to the daemon.  Returns the connected descriptor (close-on-exec),
// or -1 with errno set.
int wire_connect(void);

// Sends the admission message: block_count as 4 data bytes, with this
// process's pid, uid and gid as SCM_CREDENTIALS.  Returns 0, or -1 with errno.
int wire_send_admission(int fd, int32_t block_count);

// What a received admission message turned out to be.
enum wire_admission {
    WIRE_ADMISSION_OK,
    WIRE_ADMISSION_FAILED, // recvmsg failed; errno says why
    WIRE_ADMISSION_NO_CONTROL, // no data, or no room for a control message
    WIRE_ADMISSION_BAD_HEADER, // no first control message, or not one ucred long
    WIRE_ADMISSION_NOT_CREDENTIALS // the first control message is something else
};

// Receives the admission message with one recvmsg: the block count and the
// credentials that came with it (only the first control message counts).
wire_admission wire_recv_admission(int fd, int32_t* block_count, struct ucred* cred);

// Sends the job info block made of the given KEY=VALUE strings, in order.
// Refuses (-1, errno EINVAL) an entry that is empty or has no '=', and a
// block whose length does not fit in 31 bits.  Returns 0, or -1 with errno.
int wire_send_block(int fd, const char* const* entries, size_t count);

// Writes all len bytes, continuing after short writes and EINTR, without
// raising SIGPIPE.  Returns 0, or -1 with errno.
int wire_send_all(int fd, const void* data, size_t len);

// Ends the page stream: shuts down the sending direction so that the print
// tool sees end of input, while relayed data can still be read.  0 or -1.
int wire_end_pages(int fd);

// Reads up to len relayed bytes, retrying after EINTR.  Returns the count,
// 0 when the daemon has closed the connection, or -1 with errno.
long wire_read(int fd, void* buf, size_t len);
