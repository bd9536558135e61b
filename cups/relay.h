// Sending pages to the daemon while relaying the printer data it returns.
//
// The driver may answer before the last page is sent, and the daemon
// blocks writing that answer until someone reads it.  So every send waits
// on both directions: whatever arrives is copied to `out` at once.
#pragma once

#include <stddef.h>
#include <stdint.h>

struct relay {
    int conn; // connection to the daemon, non-blocking
    int out; // where printer data goes (the filter's stdout)
    uint64_t received; // printer data bytes copied so far
    bool peer_closed; // the daemon has closed its side
    char error[160]; // why the last call failed
};

// Writes all len bytes to fd (a pipe or a file). Returns false with errno
// set when it cannot.
bool write_all(int fd, const void* data, size_t len);

// Prepares a relay on a connected socket; makes it non-blocking.
// Returns false (with r->error) if the socket can't be set up.
bool relay_init(relay* r, int conn, int out);

// Sends all len bytes, copying printer data to out meanwhile.
bool relay_send(relay* r, const void* data, size_t len);

// Ends the page stream and copies printer data until the daemon closes
// the connection.
bool relay_finish(relay* r);
