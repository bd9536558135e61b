// Daemon rig: runs the real zk_filter as root in private mount and network
// namespaces, so that tests leave the host unchanged and each test's daemon
// owns its own abstract socket name.
//
// One rig at a time per process, used from a single thread:
//
//   rig_enter();                           // private namespaces + scratch area
//   rig_add_group("extra", 1700, "desk");  // bind-mounted /etc/group copy
//   rig_add_user("desk", 1600, 1600, "/home/desk");   // /etc/passwd copy + home
//   rig_tmpfs("/opt");                     // empty, writable /opt
//   rig_overlay("/usr/bin", staged_dir);   // staged files over /usr/bin, writable
//   pid_t d = rig_start_daemon("/path/to/zk_filter", nullptr);
//   int fd = rig_connect_as(7, 7, 1, RIG_ADMIT);      // a client running as lp
//   ... send the block and pages with the wire library, read the relay ...
//   rig_leave();                           // kill and reap everything, back home
//
// While inside, the process is a child subreaper: detached workers and their
// children become its children, so rig_wait_exit() can wait for a worker and
// rig_leave() can kill and reap every process the test started.  The mounts
// are made by rigs/sandbox.sh's functions, as for the demo and the CUPS
// tests; they live only in the private mount namespace and vanish with it.
// The scratch directory is a tmpfs on an empty directory under /tmp that
// rig_leave() removes.  Functions that return int give 0 on success and -1 after writing
// the cause to stderr.
#pragma once

#include <stdint.h>
#include <sys/types.h>

#include <string>

// Enters new mount and network namespaces, makes every mount private and
// mounts the scratch tmpfs, a tmpfs on /home, a copy-on-write overlay on
// /etc with a login.defs of UID_MIN 1000, and copies of /etc/passwd and
// /etc/group bind-mounted over the originals.
int rig_enter(void);

// Kills every process started since rig_enter() (daemons, workers, their
// children), reaps them, returns to the original namespaces and removes the
// scratch directory.  Safe to call when rig_enter() failed half-way.
void rig_leave(void);

// The scratch directory (a private tmpfs, mode 0755).
const char* rig_scratch(void);

// Appends a group to the private /etc/group; members is a comma list or "".
int rig_add_group(const char* name, gid_t gid, const char* members);

// Appends a user (shell /bin/sh) to the private /etc/passwd and, unless home
// is "/", creates the home directory owned by the user, mode 0755.  A group
// of the same name with gid is added when no group has that gid yet.
int rig_add_user(const char* name, uid_t uid, gid_t gid, const char* home);

// Mounts an empty tmpfs (mode 0755) on target.
int rig_tmpfs(const char* target);

// Lays staged over target with overlayfs: the staged files win, the rest of
// target shows through, and writes land in the scratch area.  staged may be
// null for a writable copy-on-write view of target alone.
int rig_overlay(const char* target, const char* staged);

// Writes a file (creating parent directories, mode 0755) with the given mode.
int rig_write_file(const char* path, const std::string& content, mode_t mode);

// Whole content of a file, or "" when it cannot be read.
std::string rig_read_file(const char* path);

// How rig_start_daemon() runs the daemon.
struct rig_daemon_opts {
    // 0: the daemon creates its own socket.  n > 0: the rig creates n
    // listening sockets (the first on the daemon's abstract name), hands them
    // over as descriptors 3.. with LISTEN_FDS=n and LISTEN_PID.
    int activation_fds;
    // Sets SO_PASSCRED on the handed-over sockets.
    bool passcred;
    // Runs the daemon as this user and group instead of root (0: root).
    uid_t uid;
    gid_t gid;
    // With uid set: keep CAP_SETUID and CAP_SETGID as ambient capabilities.
    bool keep_setid_caps;
};

// Starts the daemon with stdin on /dev/null, stdout and stderr appended to
// the rig's log and a minimal environment (PATH only, plus the activation
// variables).  Without activation it waits until the daemon listens on its
// abstract name, or until it exits.  Returns its pid, or -1.
pid_t rig_start_daemon(const char* path, const struct rig_daemon_opts* opts);

// Waits up to timeout_ms for a child (or adopted) process to end.  Returns
// its wait status, or -1 on timeout or error.
int rig_wait_exit(pid_t pid, int timeout_ms);

// Everything the daemons and their processes wrote to stdout and stderr.
std::string rig_log(void);

// Waits up to timeout_ms until the log contains needle.
bool rig_wait_log(const char* needle, int timeout_ms);

// Waits up to timeout_ms until path exists.
bool rig_wait_file(const char* path, int timeout_ms);

enum { RIG_CONNECT_ONLY = 0, RIG_ADMIT = 1 };

// Connects to the daemon from a child that runs as uid/gid with no
// supplementary groups, optionally sends the admission message with the
// block count from there, and hands the connected descriptor back.  The
// daemon sees the credentials of that child.  Returns the descriptor, or -1.
int rig_connect_as(uid_t uid, gid_t gid, int32_t block_count, int how);

// Reads from fd until end of stream, appending to out; gives up after
// timeout_ms.  Returns true when end of stream was reached.  A reset counts
// as the end: the daemon's side resets the connection instead of ending it
// when it closes with page data still unread.
bool rig_read_all(int fd, std::string* out, int timeout_ms);

// Byte i of the rig's test pattern, used for large relays.
inline unsigned char rig_pattern_byte(uint64_t i)
{
    return (unsigned char)((i * 2654435761u) >> 11 ^ (i >> 13));
}

// Waits up to timeout_ms for an adopted process (a detached worker: any child
// that is not a daemon started by the rig) to end, and reaps it.  Returns its
// wait status, or -1 on timeout.
int rig_reap_adopted(int timeout_ms);
