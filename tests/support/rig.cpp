#include "rig.h"

#include "internal.h"
#include "test_support.h"
#include "wire.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/capability.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <vector>

using support::children_of_self;
using support::kill_children;
using support::mkdir_p;
using support::now_ms;
using support::sandbox_run;
using support::sleep_ms;

static bool g_inside;
static int g_host_mnt = -1;
static int g_host_net = -1;
static int g_host_cwd = -1;
static char g_scratch[64];
static std::vector<pid_t> g_daemons;

static int fail(const char* what)
{
    fprintf(stderr, "rig: %s: %s\n", what, strerror(errno));
    return -1;
}

// The mount command has said why.
static int mount_failed(const char* what, const char* target)
{
    fprintf(stderr, "rig: %s%s failed\n", what, target);
    return -1;
}

static std::string scratch_path(const char* name)
{
    return std::string(g_scratch) + "/" + name;
}

static int append_line(const std::string& path, const std::string& line)
{
    FILE* f = fopen(path.c_str(), "ae");
    if (!f)
        return -1;
    bool ok = fprintf(f, "%s\n", line.c_str()) == (int)line.size() + 1;
    return fclose(f) == 0 && ok ? 0 : -1;
}

int rig_enter(void)
{
    if (g_inside)
        return 0;
    if (prctl(PR_SET_CHILD_SUBREAPER, 1) != 0)
        return fail("PR_SET_CHILD_SUBREAPER");
    g_host_mnt = open("/proc/self/ns/mnt", O_RDONLY | O_CLOEXEC);
    g_host_net = open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
    g_host_cwd = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (g_host_mnt < 0 || g_host_net < 0 || g_host_cwd < 0)
        return fail("open namespaces");
    strcpy(g_scratch, "/tmp/zkrig.XXXXXX");
    if (!mkdtemp(g_scratch)) {
        g_scratch[0] = '\0';
        return fail("mkdtemp");
    }
    g_inside = true;
    if (unshare(CLONE_NEWNS | CLONE_NEWNET) != 0)
        return fail("unshare");
    // The same mounts as the sandbox's (rigs/sandbox.sh): everything private,
    // the scratch tmpfs, an empty /home, a writable /etc and a user database
    // of our own.
    if (sandbox_run(g_scratch,
            "sandbox_enter\nsandbox_tmpfs /home\nsandbox_overlay /etc /etc\nsandbox_user_db\n", {})
        != 0)
        return mount_failed("the namespace's mounts", "");
    // The login range the daemon allows jobs in, whatever the host's is.
    if (rig_write_file("/etc/login.defs", "UID_MIN\t\t\t 1000\nUID_MAX\t\t\t60000\n", 0644) != 0)
        return -1;
    int log = open(scratch_path("daemon.log").c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    if (log < 0)
        return fail("create log");
    close(log);
    return 0;
}

static void kill_everything(void)
{
    for (pid_t d : g_daemons)
        kill(d, SIGKILL);
    g_daemons.clear();
    kill_children();
}

void rig_leave(void)
{
    if (!g_inside)
        return;
    kill_everything();
    if (setns(g_host_mnt, CLONE_NEWNS) != 0)
        fail("return to host mount namespace");
    if (setns(g_host_net, CLONE_NEWNET) != 0)
        fail("return to host network namespace");
    if (fchdir(g_host_cwd) != 0)
        fail("return to working directory");
    close(g_host_mnt);
    close(g_host_net);
    close(g_host_cwd);
    g_host_mnt = g_host_net = g_host_cwd = -1;
    if (g_scratch[0] && rmdir(g_scratch) != 0)
        fail("remove scratch directory");
    g_scratch[0] = '\0';
    g_inside = false;
    prctl(PR_SET_CHILD_SUBREAPER, 0);
}

const char* rig_scratch(void)
{
    return g_scratch;
}

static bool group_has_gid(gid_t gid)
{
    std::string all = rig_read_file("/etc/group");
    std::string needle = ":" + std::to_string(gid) + ":";
    size_t at = 0;
    while (at < all.size()) {
        size_t eol = all.find('\n', at);
        std::string line = all.substr(at, eol == std::string::npos ? std::string::npos : eol - at);
        size_t c1 = line.find(':');
        size_t c2 = c1 == std::string::npos ? c1 : line.find(':', c1 + 1);
        if (c2 != std::string::npos && line.compare(c2, needle.size(), needle) == 0)
            return true;
        if (eol == std::string::npos)
            break;
        at = eol + 1;
    }
    return false;
}

int rig_add_group(const char* name, gid_t gid, const char* members)
{
    std::string line = std::string(name) + ":x:" + std::to_string(gid) + ":" + members;
    if (append_line(scratch_path("group"), line) != 0)
        return fail("add group");
    return 0;
}

int rig_add_user(const char* name, uid_t uid, gid_t gid, const char* home)
{
    std::string line = std::string(name) + ":x:" + std::to_string(uid) + ":" + std::to_string(gid)
        + "::" + home + ":/bin/sh";
    if (append_line(scratch_path("passwd"), line) != 0)
        return fail("add user");
    if (!group_has_gid(gid) && rig_add_group(name, gid, "") != 0)
        return -1;
    if (strcmp(home, "/") == 0)
        return 0;
    if (mkdir_p(home, 0755) != 0 || chown(home, uid, gid) != 0)
        return fail("create home");
    return 0;
}

int rig_tmpfs(const char* target)
{
    if (sandbox_run(g_scratch, "sandbox_tmpfs \"$1\"\n", {target}) != 0)
        return mount_failed("tmpfs on ", target);
    return 0;
}

int rig_overlay(const char* target, const char* staged)
{
    std::string lower = staged ? std::string(staged) + ":" + target : std::string(target);
    if (sandbox_run(g_scratch, "sandbox_overlay \"$1\" \"$2\"\n", {target, lower}) != 0)
        return mount_failed("overlay on ", target);
    return 0;
}

int rig_write_file(const char* path, const std::string& content, mode_t mode)
{
    std::string dir(path);
    size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && mkdir_p(dir.substr(0, slash), 0755) != 0)
        return fail("create parent directory");
    if (!write_file(path, content) || chmod(path, mode) != 0)
        return fail(path);
    return 0;
}

std::string rig_read_file(const char* path)
{
    return read_file(path);
}

// The daemon's abstract address; the sockets after the first get ".N" added.
static int listening_socket(int index, bool passcred)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return fail("socket");
    struct sockaddr_un addr;
    socklen_t len = wire_address(&addr);
    if (index > 0) {
        std::string suffix = "." + std::to_string(index);
        memcpy((char*)&addr + len, suffix.data(), suffix.size());
        len += (socklen_t)suffix.size();
    }
    int on = 1;
    if (bind(fd, (struct sockaddr*)&addr, len) != 0
        || (passcred && setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) != 0)
        || listen(fd, 10) != 0) {
        close(fd);
        return fail("activation socket");
    }
    return fd;
}

static bool daemon_listens(void)
{
    std::string table = rig_read_file("/proc/net/unix");
    std::string name = std::string(" @") + WIRE_SOCKET_NAME + "\n";
    size_t at = table.find(name);
    if (at == std::string::npos)
        return false;
    size_t bol = table.rfind('\n', at);
    std::string line = table.substr(bol + 1, at - bol);
    char flags[16] = "";
    return sscanf(line.c_str(), "%*s %*s %*s %15s", flags) == 1 && strcmp(flags, "00010000") == 0;
}

static void keep_setid_caps(void)
{
    struct __user_cap_header_struct hdr = {_LINUX_CAPABILITY_VERSION_3, 0};
    struct __user_cap_data_struct data[2];
    memset(data, 0, sizeof data);
    uint32_t want = (1u << CAP_SETUID) | (1u << CAP_SETGID);
    data[0].effective = data[0].permitted = data[0].inheritable = want;
    if (syscall(SYS_capset, &hdr, data) != 0
        || prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SETUID, 0, 0) != 0
        || prctl(PR_CAP_AMBIENT, PR_CAP_AMBIENT_RAISE, CAP_SETGID, 0, 0) != 0)
        _exit(fail("keep capabilities"));
}

[[noreturn]] static void exec_daemon(
    const char* path, const struct rig_daemon_opts* o, const int* socks)
{
    int log = open(scratch_path("daemon.log").c_str(), O_WRONLY | O_APPEND);
    int null = open("/dev/null", O_RDONLY);
    if (log < 0 || null < 0 || dup2(null, 0) < 0 || dup2(log, 1) < 0 || dup2(log, 2) < 0)
        _exit(127);
    int n = o ? o->activation_fds : 0;
    int high[8];
    for (int i = 0; i < n; i++)
        high[i] = fcntl(socks[i], F_DUPFD, 100);
    for (int i = 0; i < n; i++)
        dup2(high[i], 3 + i);
    syscall(SYS_close_range, 3 + n, ~0U, 0);
    if (o && o->uid) {
        if (o->keep_setid_caps && prctl(PR_SET_KEEPCAPS, 1) != 0)
            _exit(127);
        if (setgroups(0, nullptr) != 0 || setgid(o->gid) != 0 || setuid(o->uid) != 0)
            _exit(127);
        if (o->keep_setid_caps)
            keep_setid_caps();
    }
    char count[32], pid[32];
    snprintf(count, sizeof count, "LISTEN_FDS=%d", n);
    snprintf(pid, sizeof pid, "LISTEN_PID=%d", (int)getpid());
    char path_env[] = "PATH=/usr/sbin:/usr/bin:/sbin:/bin";
    char* env[] = {path_env, count, pid, nullptr};
    if (n == 0)
        env[1] = nullptr;
    // Should the test process die, its daemon must not outlive it.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    execle(path, path, (char*)nullptr, env);
    _exit(127);
}

pid_t rig_start_daemon(const char* path, const struct rig_daemon_opts* opts)
{
    int n = opts ? opts->activation_fds : 0;
    if (n < 0 || n > 8) {
        errno = EINVAL;
        return fail("activation_fds");
    }
    int socks[8];
    for (int i = 0; i < n; i++) {
        socks[i] = listening_socket(i, opts->passcred);
        if (socks[i] < 0)
            return -1;
    }
    pid_t pid = fork();
    if (pid < 0)
        return fail("fork");
    if (pid == 0)
        exec_daemon(path, opts, socks);
    for (int i = 0; i < n; i++)
        close(socks[i]);
    g_daemons.push_back(pid);
    if (n > 0)
        return pid;
    for (long end = now_ms() + 10000; now_ms() < end; sleep_ms(5)) {
        if (daemon_listens())
            return pid;
        siginfo_t info;
        memset(&info, 0, sizeof info);
        if (waitid(P_PID, (id_t)pid, &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid)
            return pid;
    }
    fprintf(stderr, "rig: daemon did not listen in time\n");
    return -1;
}

int rig_wait_exit(pid_t pid, int timeout_ms)
{
    for (long end = now_ms() + timeout_ms;; sleep_ms(5)) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            for (size_t i = 0; i < g_daemons.size(); i++)
                if (g_daemons[i] == pid)
                    g_daemons.erase(g_daemons.begin() + (long)i);
            return status;
        }
        if (r < 0 || now_ms() >= end)
            return -1;
    }
}

std::string rig_log(void)
{
    return rig_read_file(scratch_path("daemon.log").c_str());
}

bool rig_wait_log(const char* needle, int timeout_ms)
{
    for (long end = now_ms() + timeout_ms;; sleep_ms(5)) {
        if (rig_log().find(needle) != std::string::npos)
            return true;
        if (now_ms() >= end)
            return false;
    }
}

bool rig_wait_file(const char* path, int timeout_ms)
{
    for (long end = now_ms() + timeout_ms;; sleep_ms(5)) {
        if (access(path, F_OK) == 0)
            return true;
        if (now_ms() >= end)
            return false;
    }
}

// Hands a descriptor over chan in one message: a status byte, 0 when the
// descriptor comes with it.  Sends *fd (the byte alone when *fd < 0), or
// receives into *fd.  0 when a descriptor went across, else -1.
static int pass_fd(int chan, int* fd, bool sending)
{
    char ok = sending && *fd < 0;
    struct iovec iov = {&ok, 1};
    union {
        char buf[CMSG_SPACE(sizeof(int))];
        struct cmsghdr align;
    } control = {};
    struct msghdr msg = {};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = ok ? nullptr : control.buf;
    msg.msg_controllen = ok ? 0 : sizeof control.buf;
    struct cmsghdr* cm = CMSG_FIRSTHDR(&msg);
    if (sending && !ok) {
        cm->cmsg_level = SOL_SOCKET;
        cm->cmsg_type = SCM_RIGHTS;
        cm->cmsg_len = CMSG_LEN(sizeof(int));
        memcpy(CMSG_DATA(cm), fd, sizeof *fd);
    }
    if (sending)
        return sendmsg(chan, &msg, 0) == 1 && !ok ? 0 : -1;
    if (recvmsg(chan, &msg, MSG_CMSG_CLOEXEC) != 1 || ok != 0)
        return -1;
    cm = CMSG_FIRSTHDR(&msg);
    if (!cm || cm->cmsg_type != SCM_RIGHTS)
        return -1;
    memcpy(fd, CMSG_DATA(cm), sizeof *fd);
    return 0;
}

int rig_connect_as(uid_t uid, gid_t gid, int32_t block_count, int how)
{
    int chan[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, chan) != 0)
        return fail("socketpair");
    pid_t pid = fork();
    if (pid < 0) {
        close(chan[0]);
        close(chan[1]);
        return fail("fork");
    }
    if (pid == 0) {
        int fd = -1;
        if (setgroups(0, nullptr) == 0 && setgid(gid) == 0 && setuid(uid) == 0) {
            fd = wire_connect();
            // A daemon that refuses the peer may close before the message is
            // sent; the closed connection is what the caller then sees.
            if (fd >= 0 && how == RIG_ADMIT)
                wire_send_admission(fd, block_count);
        }
        _exit(pass_fd(chan[1], &fd, true) == 0 ? 0 : 1);
    }
    close(chan[1]);
    int fd = -1;
    pass_fd(chan[0], &fd, false);
    close(chan[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (fd < 0)
        fprintf(stderr, "rig: connect as uid %d failed\n", (int)uid);
    return fd;
}

bool rig_read_all(int fd, std::string* out, int timeout_ms)
{
    char buf[65536];
    long end = now_ms() + timeout_ms;
    for (;;) {
        long left = end - now_ms();
        if (left <= 0)
            return false;
        struct pollfd p = {fd, POLLIN, 0};
        int r = poll(&p, 1, (int)left);
        if (r < 0 && errno == EINTR)
            continue;
        if (r <= 0)
            return false;
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        // A peer that closes with unread input in its queue resets the
        // connection instead of ending it; for the client both are the end.
        if (n < 0)
            return errno == ECONNRESET;
        if (n == 0)
            return true;
        out->append(buf, (size_t)n);
    }
}

int rig_reap_adopted(int timeout_ms)
{
    for (long end = now_ms() + timeout_ms;; sleep_ms(5)) {
        for (pid_t k : children_of_self()) {
            bool is_daemon = false;
            for (pid_t d : g_daemons)
                is_daemon = is_daemon || d == k;
            int status = 0;
            if (!is_daemon && waitpid(k, &status, WNOHANG) == k)
                return status;
        }
        if (now_ms() >= end)
            return -1;
    }
}
