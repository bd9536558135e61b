// A stand-in for zk_filter on the daemon's abstract socket, for testing the
// filter alone.  Run tests that use it in a private network namespace, so
// that its socket name is theirs alone.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

enum fake_mode {
    FAKE_READ_THEN_REPLY, // read the whole page stream, then answer
    FAKE_REPLY_FIRST, // answer before reading any page
    FAKE_SILENT, // read the page stream, answer nothing
    FAKE_STALL, // read 1 MiB of pages, then stop reading until
                // told to drain
};

struct fake_daemon {
    fake_mode mode = FAKE_READ_THEN_REPLY;
    std::string reply; // what the "printer" sends back
    bool keep_pages = true; // false: count page bytes, keep none
    int listen_fd = -1;
    std::thread thread;
    // Results, valid after fake_stop().
    bool connected = false;
    pid_t peer_pid = 0;
    int32_t block_count = 0;
    std::vector<std::string> entries;
    std::string pages; // everything after the block
    uint64_t page_bytes = 0; // its length, also when not kept
    bool saw_eof = false; // the filter closed its side
    std::atomic<bool> stalled {false};
    std::atomic<bool> drain {false};
    std::atomic<bool> stop {false};
};

// Binds the socket and starts serving one connection.  False if the name
// is taken.
bool fake_start(fake_daemon* d);

// Call once the filter has ended: serves a connection still queued, waits
// for the one being served and closes the listening socket.
void fake_stop(fake_daemon* d);
