#include "worker.h"
#include "block.h"
#include "admission.h"
#include "deadline.h"
#include "env_filter.h"
#include "probe.h"
#include "wire.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#define PACKAGE_ROOT "/opt/tessalwine/printer_drv"
#define LAUNCHER "/usr/bin/tessal-wine"
#define PRINT_TOOL "/usr/bin/strelwick.exe"
#define ENV_SLOTS 256
#define MAX_OPTIONS 246
#define RELAY_CHUNK 8192
// How long the package's configure step may take, a first setup included.
#ifndef CONFIGURE_SECONDS
#define CONFIGURE_SECONDS 300
#endif

[[noreturn]] static void fail(const char* msg)
{
    fputs(msg, stderr);
    exit(255);
}

static char* alloc_or_die(size_t size)
{
    char* p = (char*)malloc(size);
    if (!p)
        fail("out of memory.\n");
    return p;
}

// Takes the user's groups, then group, then user id, and makes sure root
// cannot be regained; any failure ends the job rather than run with mixed
// credentials.
static void become_user(const struct passwd* pw)
{
    bool gid_differs = pw->pw_gid != getgid();
    bool uid_differs = pw->pw_uid != getuid();
    if ((gid_differs || uid_differs) && initgroups(pw->pw_name, pw->pw_gid) != 0)
        fail("failed to set groups.\n");
    if (gid_differs && setgid(pw->pw_gid) != 0)
        fail("failed to set gid.\n");
    if (uid_differs && setuid(pw->pw_uid) != 0)
        fail("failed to set uid.\n");
    if (pw->pw_uid != 0 && (setuid(0) == 0 || seteuid(0) == 0))
        fail("failed to drop root.\n");
}

// The configure step runs in a process group of its own, so that a step that
// hangs can be ended with everything it started.
static void run_configure(const char* package, const char* model, char* home_env)
{
    pid_t pid = fork();
    if (pid < 0)
        fail("failed to fork configure.\n");
    if (pid == 0) {
        setpgid(0, 0);
        size_t size = strlen(package) + 36;
        char* script = alloc_or_die(size);
        snprintf(script, size, "%s/%s/%s", PACKAGE_ROOT, package, "run.sh");
        char* env[] = {home_env, nullptr};
        execle("/bin/bash", "bash", script, model, (char*)nullptr, env);
        fprintf(stderr, "failed to start %s\n", script);
        exit(255);
    }
    setpgid(pid, pid);
    struct timespec deadline = deadline_after(CONFIGURE_SECONDS);
    int status = 0;
    if (!wait_by(pid, &status, &deadline)) {
        kill_group(pid, pid);
        fprintf(stderr, "configure step did not end within %d s; stopped it.\n", CONFIGURE_SECONDS);
        exit(255);
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "configure error: %d\n", (status >> 8) & 0xff);
        exit(255);
    }
}

// Fills the slots after the kept block entries and logs the whole vector.
static void finish_environment(
    char** env, int n, const char* home, const char* package, const char* display, char* home_env)
{
    size_t size = strlen(home) + strlen(package) + 25;
    char* prefix = alloc_or_die(size);
    snprintf(prefix, size, "%s%s/%s/%s", "WINEPREFIX=", home, ".tessalwine", package);
    size = 7 + strlen(display) + 2;
    char* disp = alloc_or_die(size);
    snprintf(disp, size, "%s=%s", "DISPLAY", display);
    env[n] = prefix;
    env[n + 1] = disp;
    env[n + 2] = home_env;
    env[n + 3] = nullptr;
    for (int i = 0; env[i]; i++)
        fprintf(stderr, "%s\n", env[i]);
}

static pid_t start_print_tool(int conn, int pipe_fds[2], char** env)
{
    pid_t pid = fork();
    if (pid < 0)
        fail("failed to fork strelwick.\n");
    if (pid == 0) {
        if (dup2(conn, 0) < 0)
            fail("failed to redirect stdin.\n");
        if (dup2(pipe_fds[1], 1) < 0)
            fail("failed to redirect stdout.\n");
        close(conn);
        close(pipe_fds[0]);
        close(pipe_fds[1]);
        execle(LAUNCHER, LAUNCHER, PRINT_TOOL, "img", (char*)nullptr, env);
        fail("failed to start strelwick.\n");
    }
    return pid;
}

bool relay_output(int pipe_fd, int conn)
{
    char buf[RELAY_CHUNK];
    bool writing = true;
    for (;;) {
        ssize_t n = read(pipe_fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return writing;
        if (writing && wire_send_all(conn, buf, (size_t)n) != 0) {
            int err = errno;
            fputs("write incomplete.\n", stderr);
            fprintf(stderr, "printer data: cannot relay to the filter: %s\n", strerror(err));
            writing = false;
        }
    }
}

void run_worker(int conn)
{
    if (!admit(conn))
        exit(0);
    int32_t len = 0;
    char* block = read_block(conn, &len);
    if (!block)
        exit(255);
    // The limit counts what the client sent; the rest of the job sees only
    // the entries that may reach the print tool.
    int entries = split_options(block, len, nullptr, 0);
    len = filter_block(block, len);
    const char* package = find_option(block, len, "PACKAGENAME");
    if (!package)
        fail("no package.\n");
    const char* model = find_option(block, len, "MODEL");
    if (!model)
        fail("no printer name.\n");

    static const char* const keys[] = {"XUSER", "DISPLAY"};
    char* found[2] = {nullptr, nullptr};
    if (probe_active_user(keys, found, 2) != 2)
        fail("can't detect active user.");

    struct passwd* pw = getpwnam(found[0]);
    if (!pw) {
        fprintf(stderr, "failed to get user [%s] info", found[0]);
        exit(255);
    }
    become_user(pw);

    size_t size = strlen(pw->pw_dir) + 6;
    char* home_env = alloc_or_die(size);
    snprintf(home_env, size, "HOME=%s", pw->pw_dir);
    run_configure(package, model, home_env);

    static char* env[ENV_SLOTS];
    if (entries > MAX_OPTIONS)
        fail("too many options.\n");
    int n = split_options(block, len, env, ENV_SLOTS);
    finish_environment(env, n, pw->pw_dir, package, found[1], home_env);

    int pipe_fds[2];
    if (pipe(pipe_fds) != 0)
        fail("failed to create pipe.\n");
    pid_t tool = start_print_tool(conn, pipe_fds, env);
    close(pipe_fds[1]);
    relay_output(pipe_fds[0], conn);

    fprintf(stderr, "wait for zk pid:%d\n", (int)tool);
    while (waitpid(tool, nullptr, 0) < 0 && errno == EINTR) { }
    close(conn);
    exit(0);
}
