// Shared set-up for the end-to-end daemon tests: every test runs the real
// zk_filter in its own namespaces with stub probe, packages and launcher.
#pragma once

#include "rig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

// Users of every test.  lp (7) comes from the host's user database.
enum : unsigned {
    LP_UID = 7,
    DESK_UID = 1600, // desktop user, also in group deskextra
    DESK_EXTRA_GID = 1700,
    SLASH_UID = 1601, // desktop user whose home is "/"
    LPADMIN_UID = 1501,
    SVC_UID = 1800, // unprivileged account to run a daemon as
};

// What the stub launcher recorded.
struct StubRecord {
    bool found = false;
    std::vector<std::string> argv, env, fds;
    std::string uid, gid, groups;
    long pid = 0, ppid = 0, pgid = 0, stdin_bytes = -1;
};

class DaemonTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    pid_t start_daemon(const rig_daemon_opts* opts = nullptr);
    // What xpub.sh prints.
    void set_probe_output(const std::string& text);
    // Connects as lp, sends admission, block and pages, ends the pages and
    // reads the relay to its end.
    std::string run_job(const std::vector<std::string>& entries, const std::string& pages = "");
    StubRecord record(const char* tag = "tool");
    // Exit status of the next worker that ends, or -1.
    int worker_status();

    pid_t daemon_ = -1;
};

// The block's wire bytes: host-order length, then the entries with NULs.
std::string block_bytes(const std::vector<std::string>& entries);
void send_bytes(int fd, const std::string& bytes);
std::string read_to_end(int fd);
bool has(const std::vector<std::string>& v, const std::string& item);
int count_of(const std::string& text, const std::string& needle);
